// Telephony, contacts, the SIM phone book and the call log through the device host.
#include "internal.h"
#include "lumo/platform/contacts.h"
#include "lumo/platform/telephony.h"

namespace lumo::platform::device {
namespace {

class DeviceTelephony final : public Telephony {
  public:
    DeviceTelephony(wire::Client& c, Windows& w) : c_(c), w_(w) {}
    LineResult initialize(LineCallback, std::u16string_view, std::uint32_t, LineAppHandle& app,
                          std::uint32_t& num_devices) override {
        app = 0;
        num_devices = 0;
        return kLineErrNoDevice;
    }
    LineResult negotiate_api_version(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t,
                                     std::uint32_t&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult get_dev_caps(LineAppHandle, std::uint32_t, std::uint32_t, LineDevCaps&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult open(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    LineHandle&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult get_calls(LineHandle, std::vector<CallHandle>&) override { return kLineErrInvalLineHandle; }
    LineResult get_call_status(CallHandle, LineCallStatus&) override { return kLineErrInvalCallHandle; }
    LineResult get_call_info(CallHandle, LineCallInfo&) override { return kLineErrInvalCallHandle; }
    LineResult set_call_privilege(CallHandle, std::uint32_t) override { return kLineErrInvalCallHandle; }
    LineResult drop(CallHandle) override { return kLineErrInvalCallHandle; }
    LineResult deallocate_call(CallHandle) override { return kLineErrInvalCallHandle; }
    LineResult close(LineHandle) override { return kLineErrInvalLineHandle; }
    LineResult shutdown(LineAppHandle) override { return kLineErrInvalAppHandle; }
    LineResult translate_address(LineAppHandle, std::uint32_t, std::uint32_t, std::u16string_view,
                                 LineTranslateOutput&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult make_call(LineHandle, std::u16string_view, std::uint32_t, const LineCallParams*,
                         CallHandle&) override {
        return kLineErrInvalLineHandle;
    }
    LineResult phone_initialize(std::u16string_view, PhoneAppHandle&, std::uint32_t&) override {
        return kLineErrNoDevice;
    }
    LineResult phone_negotiate_api_version(PhoneAppHandle, std::uint32_t, std::uint32_t, std::uint32_t,
                                           std::uint32_t&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult phone_open(PhoneAppHandle, std::uint32_t, std::uint32_t, PhoneHandle&) override {
        return kLineErrInvalAppHandle;
    }
    LineResult phone_get_status(PhoneHandle, PhoneStatus&) override { return kLineErrInvalParam; }
    LineResult phone_get_volume(PhoneHandle, std::uint32_t, std::uint32_t&) override { return kLineErrInvalParam; }
    LineResult phone_set_volume(PhoneHandle, std::uint32_t, std::uint32_t) override { return kLineErrInvalParam; }
    LineResult phone_close(PhoneHandle) override { return kLineErrInvalParam; }
    LineResult phone_shutdown(PhoneAppHandle) override { return kLineErrInvalAppHandle; }
    std::vector<std::u16string> emergency_numbers() override { return {}; }

  private:
    [[maybe_unused]] wire::Client& c_;
    [[maybe_unused]] Windows& w_;
};

class DeviceContacts final : public Contacts {
  public:
    explicit DeviceContacts(wire::Client& c) : c_(c) {}
    std::optional<Contact> find(ContactMatch, std::u16string_view) override { return std::nullopt; }
    std::optional<std::vector<std::uint8_t>> picture(std::uint32_t) override { return std::nullopt; }
    std::vector<Contact> all() override { return {}; }

  private:
    [[maybe_unused]] wire::Client& c_;
};

class DeviceSim final : public SimPhoneBook {
  public:
    DeviceSim(wire::Client& c, Windows& w) : c_(c), w_(w) {}
    bool initialize(SimCallback) override { return false; }
    std::optional<std::vector<SimEntry>> read(std::uint32_t) override { return std::nullopt; }
    void deinitialize() override {}

  private:
    [[maybe_unused]] wire::Client& c_;
    [[maybe_unused]] Windows& w_;
};

class DeviceCallLog final : public CallLog {
  public:
    explicit DeviceCallLog(wire::Client& c) : c_(c) {}
    std::optional<std::vector<CallLogEntry>> newest(std::size_t) override { return std::nullopt; }

  private:
    [[maybe_unused]] wire::Client& c_;
};

}  // namespace

std::unique_ptr<Telephony> make_telephony(wire::Client& c, Windows& w) {
    return std::make_unique<DeviceTelephony>(c, w);
}
std::unique_ptr<Contacts> make_contacts(wire::Client& c) { return std::make_unique<DeviceContacts>(c); }
std::unique_ptr<SimPhoneBook> make_sim(wire::Client& c, Windows& w) { return std::make_unique<DeviceSim>(c, w); }
std::unique_ptr<CallLog> make_call_log(wire::Client& c) { return std::make_unique<DeviceCallLog>(c); }

}  // namespace lumo::platform::device
