#pragma once
// Telephony, contacts, SIM phone book and call log for tests. The telephony is the same call
// model the device host runs (lumo/store/telephony_model.h), so calls go through the same states
// and messages; the test plays the other end of each call (offer a call, deliver its caller id
// later, hang up, answer or refuse a dialled call, hold) and the phone user's side (answer,
// hang up, dial) through the calls below. Callback messages reach the program that initialised
// telephony through its message loop: run the fake's loop (run_until_idle, run_for) to have them
// delivered.
//
// The published phone state (HKLM System\State\Phone, HKCU Missed Call Count) lives in the fake's
// registry as on the device, and every ended call is logged in the fake's call log.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/contacts.h"
#include "lumo/platform/telephony.h"

namespace lumo::platform::fake {

class FakePlatform;

// An incoming call as the network presents it.
struct IncomingCall {
    std::u16string number;
    std::u16string name;           // the network's name for the caller, may be empty
    bool caller_id_now = true;     // false: offered first, caller id follows (deliver_caller_id)
    bool withheld = false;         // no caller id at all (blocked)
    bool out_of_area = false;      // caller id "out of area"
    std::u16string property_name;  // "Incoming Caller PropName", e.g. the number's kind
};

// A call as the phone sees it (what `lumo-devctl gsm list` prints).
struct CallView {
    std::uint32_t id = 0;
    std::uint32_t state = 0;  // kCallState*
    bool inbound = true;
    std::u16string number, name;
    std::uint32_t caller_id_flags = 0;
};

class FakeTelephony final : public Telephony {
  public:
    explicit FakeTelephony(FakePlatform& platform);
    ~FakeTelephony() override;

    // --- Telephony ---------------------------------------------------------------------------
    LineResult initialize(LineCallback callback, std::u16string_view app_name,
                          std::uint32_t api_version, LineAppHandle& app,
                          std::uint32_t& num_devices) override;
    LineResult negotiate_api_version(LineAppHandle app, std::uint32_t device, std::uint32_t low,
                                     std::uint32_t high, std::uint32_t& version) override;
    LineResult get_dev_caps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                            LineDevCaps& caps) override;
    LineResult open(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                    std::uint32_t privileges, std::uint32_t media_modes, std::uint32_t instance,
                    LineHandle& line) override;
    LineResult get_calls(LineHandle line, std::vector<CallHandle>& calls) override;
    LineResult get_call_status(CallHandle call, LineCallStatus& status) override;
    LineResult get_call_info(CallHandle call, LineCallInfo& info) override;
    LineResult set_call_privilege(CallHandle call, std::uint32_t privilege) override;
    LineResult drop(CallHandle call) override;
    LineResult deallocate_call(CallHandle call) override;
    LineResult close(LineHandle line) override;
    LineResult shutdown(LineAppHandle app) override;
    LineResult translate_address(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                                 std::u16string_view address, LineTranslateOutput& out) override;
    LineResult make_call(LineHandle line, std::u16string_view destination,
                         std::uint32_t country, const LineCallParams* params,
                         CallHandle& call) override;
    LineResult phone_initialize(std::u16string_view app_name, PhoneAppHandle& app,
                                std::uint32_t& num_devices) override;
    LineResult phone_negotiate_api_version(PhoneAppHandle app, std::uint32_t device,
                                           std::uint32_t low, std::uint32_t high,
                                           std::uint32_t& version) override;
    LineResult phone_open(PhoneAppHandle app, std::uint32_t device, std::uint32_t version,
                          PhoneHandle& phone) override;
    LineResult phone_get_status(PhoneHandle phone, PhoneStatus& status) override;
    LineResult phone_get_volume(PhoneHandle phone, std::uint32_t hook_switch_dev,
                                std::uint32_t& volume) override;
    LineResult phone_set_volume(PhoneHandle phone, std::uint32_t hook_switch_dev,
                                std::uint32_t volume) override;
    LineResult phone_close(PhoneHandle phone) override;
    LineResult phone_shutdown(PhoneAppHandle app) override;
    std::vector<std::u16string> emergency_numbers() override;

    // --- the other end of the calls ------------------------------------------------------------
    // A call arrives on the voice line (offering); its id, or nullopt when the phone cannot take
    // it (radio off: the caller hears the network's answer and nothing reaches the phone).
    std::optional<std::uint32_t> offer_call(const IncomingCall& call);
    // The caller id of an offered call arrives (kLineCallInfo with kCallInfoCallerId).
    bool deliver_caller_id(std::uint32_t call_id, std::u16string number, std::u16string name,
                           std::uint32_t flags = kPartyIdAddress | kPartyIdName);
    // The other end hangs up: an offered call ends unanswered (missed), a connected or held one
    // ends normally, a dialled one is given up.
    bool remote_hang_up(std::uint32_t call_id);
    // The dialled party answers (connected) or is busy.
    bool remote_answer(std::uint32_t call_id);
    bool remote_busy(std::uint32_t call_id);

    // --- the phone user (the phone application) ------------------------------------------------
    // Answers an offered call; a connected call goes on hold first (hold and answer).
    bool answer(std::uint32_t call_id);
    // Hangs up a call or rejects an offered one.
    bool hang_up(std::uint32_t call_id);
    // Puts a connected call on hold, or takes a held call back.
    bool hold(std::uint32_t call_id);
    // Dials a number from the phone application; the call's id, or nullopt (radio off, bad
    // number).
    std::optional<std::uint32_t> dial(std::u16string_view number);

    // --- the phone application ---------------------------------------------------------------
    // Starts the phone application (\Windows\cprog.exe) as a process of its own, as the device
    // runs it: its MSCprog window, and on the next loop pass after each change of the calls the
    // topmost incoming-call set while a call rings ("Dialog" titled "Phone - Incoming...",
    // "menu_worker" with extended style 0x20000000, "MS_SOFTKEY_CE_1.0", "MS_SIPBUTTON") and the
    // phone dialog titled "Phone" with its "MS_PHONE_ELAPSEDTIME" and "MS_PHONE_CALLERIDINFO"
    // children while calls last (hidden, keeping the last call, after). WM_COMMAND 1 answers
    // (holding a connected call), 2 rejects or ends; key 0x72 answers, 0x73 ends the talking
    // call or rejects the ringing one; message 32794 resets the missed-call count. Its id.
    std::uint32_t start_phone_application();

    // --- what the test looks at ----------------------------------------------------------------
    // Every call not yet gone, oldest first.
    std::vector<CallView> calls() const;
    // The phone device's volume of a hook-switch device, and which one is in use.
    std::uint32_t volume(std::uint32_t hook_switch_dev) const;
    void set_hook_switch_in_use(std::uint32_t hook_switch_dev);
    // Replaces the emergency numbers.
    void set_emergency_numbers(std::vector<std::u16string> numbers);
    // While set, initialize answers kLineErrReinit (the platform re-initialising).
    int reinit_answers = 0;
    // Without a data-only line the phone reports one line device only.
    void set_data_line(bool present);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Contacts, SIM phone book and call log kept in memory.
class FakeContacts final : public Contacts {
  public:
    FakeContacts();
    ~FakeContacts() override;
    std::optional<Contact> find(ContactMatch match, std::u16string_view key) override;
    std::optional<std::vector<std::uint8_t>> picture(std::uint32_t contact_id) override;
    std::vector<Contact> all() override;

    // Adds a contact; its id.
    std::uint32_t add(std::u16string file_as, std::vector<ContactNumber> numbers,
                      std::u16string email = {}, std::vector<std::uint8_t> picture = {});
    bool remove(std::uint32_t contact_id);
    // While set, every lookup fails as an unreadable store does.
    bool broken = false;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class FakeSimPhoneBook final : public SimPhoneBook {
  public:
    explicit FakeSimPhoneBook(FakePlatform& platform);
    ~FakeSimPhoneBook() override;
    bool initialize(SimCallback on_change) override;
    std::optional<std::vector<SimEntry>> read(std::uint32_t storage) override;
    void deinitialize() override;

    // Stores an entry (name and number cut to kSimTextMaxChars) and notifies kSimNotify-
    // PhoneBookStored; its index, or nullopt when the card is full.
    std::optional<std::uint32_t> add(std::u16string name, std::u16string number);
    bool remove(std::uint32_t index);
    // While clear, initialize fails as on a phone without SIM access.
    bool available = true;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class FakeCallLog final : public CallLog {
  public:
    FakeCallLog();
    ~FakeCallLog() override;
    std::optional<std::vector<CallLogEntry>> newest(std::size_t max) override;
    void add(CallLogEntry entry);
    // Every entry, oldest first.
    std::vector<CallLogEntry> entries() const;
    // While set, newest() fails as an unopenable log does.
    bool broken = false;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumo::platform::fake
