#pragma once
// The phone's telephony as one model shared by the device host and the fake: line devices, the
// programs' telephony instances and open lines, calls with their states, each program's handles
// to them, the callback messages every change produces, the published phone state in the
// registry and the call log row of every ended call. The host and the fake only carry requests
// in and messages out, so both behave alike by construction.
//
// Not thread-safe: the host runs it on its one loop thread, the fake under its lock.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/contacts.h"
#include "lumo/platform/telephony.h"

namespace lumo::store {

class RegistryStore;

// The published phone state.
inline constexpr std::u16string_view kPhoneStateKey = u"System\\State\\Phone";
// Bits of `Status` the telephony keeps; every other bit (the radio-off bit among them) belongs to
// somebody else and is preserved.
inline constexpr std::uint32_t kPhoneStatusRadioOff = 0x00000010;
inline constexpr std::uint32_t kPhoneStatusIncoming = 0x00010000;  // it rings
inline constexpr std::uint32_t kPhoneStatusCalling = 0x00020000;   // a call is being dialled
inline constexpr std::uint32_t kPhoneStatusOnHold = 0x00040000;    // a call is on hold
inline constexpr std::uint32_t kPhoneStatusTelephonyBits =
    kPhoneStatusIncoming | kPhoneStatusCalling | kPhoneStatusOnHold;
// Where the device keeps its emergency numbers (HKLM, a string of numbers separated by commas);
// the defaults stand when it is missing or empty.
inline constexpr std::u16string_view kTelephonyConfigKey = u"Software\\Lumo\\Device\\Telephony";
inline constexpr std::u16string_view kEmergencyNumbersValue = u"EmergencyNumbers";

// Phone numbers: a number as dialled or stored, reduced to its digits and a leading "+"; nullopt
// when it holds anything but digits, "+", "*", "#", blanks, dashes, dots and brackets, or no
// digit at all.
std::optional<std::u16string> dialable_number(std::u16string_view number);
// True when two numbers name the same phone: equal dialable forms, or, with at least 7 digits
// each, the shorter's digits ending the longer's.
bool numbers_match(std::u16string_view a, std::u16string_view b);
// Cuts a text to at most `max` characters.
std::u16string cut(std::u16string_view text, std::size_t max);

class TelephonyModel {
  public:
    // Where a program's messages go: `app` is the instance the message is for.
    using Deliver = std::function<void(std::uint32_t app, const platform::LineMessage&)>;
    // The contact the phone shows for a number (name and the number's label).
    using Lookup = std::function<std::optional<std::pair<std::u16string, std::u16string>>(
        std::u16string_view number)>;
    // The device's local time as a file time, for the call log.
    using FileTime = std::function<std::uint64_t()>;

    TelephonyModel(RegistryStore& registry, Deliver deliver, Lookup lookup, FileTime now,
                   std::function<void(const platform::CallLogEntry&)> log_call);

    // Called after every change of the calls (the phone application follows them).
    std::function<void()> on_calls_changed;

    // --- the programs' side (owner: who asked, e.g. the host's client id) --------------------
    platform::LineResult initialize(std::uint32_t owner, std::u16string_view app_name,
                                    std::uint32_t api_version, std::uint32_t& app,
                                    std::uint32_t& num_devices);
    platform::LineResult negotiate(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                   std::uint32_t low, std::uint32_t high, std::uint32_t& version);
    platform::LineResult dev_caps(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                  std::uint32_t version, platform::LineDevCaps& caps);
    platform::LineResult open(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                              std::uint32_t version, std::uint32_t privileges,
                              std::uint32_t media_modes, std::uint32_t instance,
                              std::uint32_t& line);
    platform::LineResult get_calls(std::uint32_t owner, std::uint32_t line,
                                   std::vector<std::uint32_t>& calls);
    platform::LineResult call_status(std::uint32_t owner, std::uint32_t call,
                                     platform::LineCallStatus& status);
    platform::LineResult call_info(std::uint32_t owner, std::uint32_t call,
                                   platform::LineCallInfo& info);
    platform::LineResult set_privilege(std::uint32_t owner, std::uint32_t call,
                                       std::uint32_t privilege);
    platform::LineResult drop(std::uint32_t owner, std::uint32_t call);
    platform::LineResult deallocate(std::uint32_t owner, std::uint32_t call);
    platform::LineResult close(std::uint32_t owner, std::uint32_t line);
    platform::LineResult shutdown(std::uint32_t owner, std::uint32_t app);
    platform::LineResult translate(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                   std::u16string_view address,
                                   platform::LineTranslateOutput& out);
    platform::LineResult make_call(std::uint32_t owner, std::uint32_t line,
                                   std::u16string_view destination,
                                   const platform::LineCallParams* params, std::uint32_t& call);
    // Everything an owner holds goes, as when its program ends.
    void owner_gone(std::uint32_t owner);

    // The phone device.
    platform::LineResult phone_open(std::uint32_t owner, std::uint32_t& phone);
    platform::LineResult phone_status(std::uint32_t owner, std::uint32_t phone,
                                      platform::PhoneStatus& status);
    platform::LineResult phone_volume(std::uint32_t owner, std::uint32_t phone,
                                      std::uint32_t device, std::uint32_t& volume);
    platform::LineResult phone_set_volume(std::uint32_t owner, std::uint32_t phone,
                                          std::uint32_t device, std::uint32_t volume);
    platform::LineResult phone_close(std::uint32_t owner, std::uint32_t phone);
    std::uint32_t volume(std::uint32_t hook_switch_dev) const;
    void set_hook_switch_in_use(std::uint32_t hook_switch_dev);
    std::uint32_t hook_switch_in_use() const { return in_use_; }
    // The phone's user turns a hook-switch device's volume (capped at the maximum); false for
    // no such device.
    bool set_volume(std::uint32_t hook_switch_dev, std::uint32_t volume);

    std::vector<std::u16string> emergency_numbers() const;

    // --- the network's side ---------------------------------------------------------------------
    struct Offer {
        std::u16string number, name, property_name;
        bool caller_id_now = true;
        bool withheld = false;
        bool out_of_area = false;
    };
    enum class Refusal { None, RadioOff, BadNumber, NoVoiceLine };
    // A call arrives; its id, or nullopt with the reason.
    std::optional<std::uint32_t> offer(const Offer& offer, Refusal* why = nullptr);
    bool caller_id(std::uint32_t call_id, std::u16string_view number, std::u16string_view name,
                   std::uint32_t flags);
    bool remote_hang_up(std::uint32_t call_id);
    bool remote_answer(std::uint32_t call_id);
    bool remote_busy(std::uint32_t call_id);

    // --- the phone user's side (the phone application) ------------------------------------------
    bool answer(std::uint32_t call_id);
    bool hang_up(std::uint32_t call_id);
    bool hold(std::uint32_t call_id);
    std::optional<std::uint32_t> dial(std::u16string_view number, Refusal* why = nullptr);

    // --- what the phone shows --------------------------------------------------------------------
    struct CallView {
        std::uint32_t id = 0;
        std::uint32_t state = 0;
        bool inbound = true;
        std::u16string number, name;  // the name: the contact's, else the network's
        std::u16string label;         // the contact's label of the number
        std::uint32_t caller_id_flags = 0;
        std::uint64_t connected_ms = 0;  // when it connected (0: not yet), on `tick`'s clock
    };
    // Calls not yet gone (idle), oldest first.
    std::vector<CallView> calls() const;
    std::optional<CallView> call(std::uint32_t id) const;
    // The call offered now (the newest ringing one).
    std::optional<std::uint32_t> ringing() const;
    // The connected call, else the newest one being dialled.
    std::optional<std::uint32_t> active() const;
    // A millisecond clock for call times (set by the host or the fake).
    std::function<std::uint64_t()> tick;
    // Whether the data-only line is there (changing it affects instances made later).
    void set_data_line(bool present) { data_line_ = present; }
    // Missed calls go to HKCU `Missed Call Count`; the phone's call history resets it.
    void reset_missed_count();
    // Writes the published phone state from the calls there are (at boot: none).
    void publish();
    // How many instances are open (for tests and the status report).
    std::size_t instances() const { return apps_.size(); }

  private:
    struct Call {
        std::uint32_t id = 0;
        std::uint32_t device = 0;
        std::uint32_t state = 0, mode = 0;
        std::uint32_t origin = platform::kCallOriginInbound;
        std::uint32_t media = platform::kMediaModeInteractiveVoice;
        std::u16string number, network_name, contact_name, label, property_name;
        std::uint32_t caller_id_flags = platform::kPartyIdUnknown;
        bool answered = false;  // was connected at some time
        bool logged = false;
        std::uint64_t start_time = 0;  // file time
        std::uint64_t connected_ms = 0;
    };
    struct App {
        std::uint32_t owner = 0;
        std::u16string name;
    };
    struct Open {
        std::uint32_t owner = 0, app = 0, device = 0, privileges = 0, media = 0, instance = 0;
    };
    struct Handle {
        std::uint32_t owner = 0, app = 0, line = 0, call = 0, privilege = 0;
    };
    struct Phone {
        std::uint32_t owner = 0;
    };

    bool device_exists(std::uint32_t device) const;
    bool radio_off() const;
    App* app_of(std::uint32_t owner, std::uint32_t app);
    Handle* handle_of(std::uint32_t owner, std::uint32_t call);
    Call* find_call(std::uint32_t id);
    const Call* find_call(std::uint32_t id) const;
    std::uint32_t new_handle(std::uint32_t app, std::uint32_t line, std::uint32_t call,
                             std::uint32_t privilege);
    // Gives every open line that hears about calls of the call's device a handle to it.
    void announce(Call& call, std::uint32_t owner_line);
    void set_state(Call& call, std::uint32_t state, std::uint32_t mode);
    void end(Call& call, std::uint32_t mode);
    void send(std::uint32_t app, const platform::LineMessage& m);
    void log(Call& call);
    void forget_idle();
    std::uint32_t reply_id();

    RegistryStore& registry_;
    Deliver deliver_;
    Lookup lookup_;
    FileTime now_;
    std::function<void(const platform::CallLogEntry&)> log_call_;
    bool data_line_ = true;
    std::map<std::uint32_t, App> apps_;
    std::map<std::uint32_t, Open> opens_;
    std::map<std::uint32_t, Handle> handles_;
    std::map<std::uint32_t, Call> calls_;
    std::map<std::uint32_t, Phone> phones_;
    std::uint32_t next_id_ = 0x10;
    std::uint32_t next_request_ = 1;
    std::uint32_t volumes_[3] = {0x8000, 0x8000, 0x8000};  // handset, speaker, headset
    std::uint32_t in_use_ = platform::kHookSwitchHandset;
};

}  // namespace lumo::store
