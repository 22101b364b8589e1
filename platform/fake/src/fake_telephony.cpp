#include "lumo/platform/fake/fake_telephony.h"

#include "lumo/platform/fake/fake_platform.h"

namespace lumo::platform::fake {

struct FakeTelephony::Impl {
    FakePlatform& p;
};

FakeTelephony::FakeTelephony(FakePlatform& platform) : impl_(std::make_unique<Impl>(Impl{platform})) {}
FakeTelephony::~FakeTelephony() = default;

LineResult FakeTelephony::initialize(LineCallback, std::u16string_view, std::uint32_t, LineAppHandle& app,
                                     std::uint32_t& num_devices) {
    app = 0;
    num_devices = 0;
    return kLineErrNoDevice;
}
LineResult FakeTelephony::negotiate_api_version(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t,
                                                std::uint32_t&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::get_dev_caps(LineAppHandle, std::uint32_t, std::uint32_t, LineDevCaps&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::open(LineAppHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, LineHandle&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::get_calls(LineHandle, std::vector<CallHandle>&) { return kLineErrInvalLineHandle; }
LineResult FakeTelephony::get_call_status(CallHandle, LineCallStatus&) { return kLineErrInvalCallHandle; }
LineResult FakeTelephony::get_call_info(CallHandle, LineCallInfo&) { return kLineErrInvalCallHandle; }
LineResult FakeTelephony::set_call_privilege(CallHandle, std::uint32_t) { return kLineErrInvalCallHandle; }
LineResult FakeTelephony::drop(CallHandle) { return kLineErrInvalCallHandle; }
LineResult FakeTelephony::deallocate_call(CallHandle) { return kLineErrInvalCallHandle; }
LineResult FakeTelephony::close(LineHandle) { return kLineErrInvalLineHandle; }
LineResult FakeTelephony::shutdown(LineAppHandle) { return kLineErrInvalAppHandle; }
LineResult FakeTelephony::translate_address(LineAppHandle, std::uint32_t, std::uint32_t, std::u16string_view,
                                            LineTranslateOutput&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::make_call(LineHandle, std::u16string_view, std::uint32_t, const LineCallParams*,
                                    CallHandle&) {
    return kLineErrInvalLineHandle;
}
LineResult FakeTelephony::phone_initialize(std::u16string_view, PhoneAppHandle&, std::uint32_t&) {
    return kLineErrNoDevice;
}
LineResult FakeTelephony::phone_negotiate_api_version(PhoneAppHandle, std::uint32_t, std::uint32_t,
                                                      std::uint32_t, std::uint32_t&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::phone_open(PhoneAppHandle, std::uint32_t, std::uint32_t, PhoneHandle&) {
    return kLineErrInvalAppHandle;
}
LineResult FakeTelephony::phone_get_status(PhoneHandle, PhoneStatus&) { return kLineErrInvalParam; }
LineResult FakeTelephony::phone_get_volume(PhoneHandle, std::uint32_t, std::uint32_t&) { return kLineErrInvalParam; }
LineResult FakeTelephony::phone_set_volume(PhoneHandle, std::uint32_t, std::uint32_t) { return kLineErrInvalParam; }
LineResult FakeTelephony::phone_close(PhoneHandle) { return kLineErrInvalParam; }
LineResult FakeTelephony::phone_shutdown(PhoneAppHandle) { return kLineErrInvalAppHandle; }
std::vector<std::u16string> FakeTelephony::emergency_numbers() { return {u"112", u"911", u"999", u"08"}; }

std::optional<std::uint32_t> FakeTelephony::offer_call(const IncomingCall&) { return std::nullopt; }
bool FakeTelephony::deliver_caller_id(std::uint32_t, std::u16string, std::u16string, std::uint32_t) { return false; }
bool FakeTelephony::remote_hang_up(std::uint32_t) { return false; }
bool FakeTelephony::remote_answer(std::uint32_t) { return false; }
bool FakeTelephony::remote_busy(std::uint32_t) { return false; }
bool FakeTelephony::answer(std::uint32_t) { return false; }
bool FakeTelephony::hang_up(std::uint32_t) { return false; }
bool FakeTelephony::hold(std::uint32_t) { return false; }
std::optional<std::uint32_t> FakeTelephony::dial(std::u16string_view) { return std::nullopt; }
std::vector<CallView> FakeTelephony::calls() const { return {}; }
std::uint32_t FakeTelephony::volume(std::uint32_t) const { return 0; }
void FakeTelephony::set_hook_switch_in_use(std::uint32_t) {}
void FakeTelephony::set_emergency_numbers(std::vector<std::u16string>) {}
void FakeTelephony::set_data_line(bool) {}

struct FakeContacts::Impl {};
FakeContacts::FakeContacts() : impl_(std::make_unique<Impl>()) {}
FakeContacts::~FakeContacts() = default;
std::optional<Contact> FakeContacts::find(ContactMatch, std::u16string_view) { return std::nullopt; }
std::optional<std::vector<std::uint8_t>> FakeContacts::picture(std::uint32_t) { return std::nullopt; }
std::vector<Contact> FakeContacts::all() { return {}; }
std::uint32_t FakeContacts::add(std::u16string, std::vector<ContactNumber>, std::u16string, std::vector<std::uint8_t>) {
    return 0;
}
bool FakeContacts::remove(std::uint32_t) { return false; }

struct FakeSimPhoneBook::Impl {};
FakeSimPhoneBook::FakeSimPhoneBook(FakePlatform&) : impl_(std::make_unique<Impl>()) {}
FakeSimPhoneBook::~FakeSimPhoneBook() = default;
bool FakeSimPhoneBook::initialize(SimCallback) { return false; }
std::optional<std::vector<SimEntry>> FakeSimPhoneBook::read(std::uint32_t) { return std::nullopt; }
void FakeSimPhoneBook::deinitialize() {}
std::optional<std::uint32_t> FakeSimPhoneBook::add(std::u16string, std::u16string) { return std::nullopt; }
bool FakeSimPhoneBook::remove(std::uint32_t) { return false; }

struct FakeCallLog::Impl {};
FakeCallLog::FakeCallLog() : impl_(std::make_unique<Impl>()) {}
FakeCallLog::~FakeCallLog() = default;
std::optional<std::vector<CallLogEntry>> FakeCallLog::newest(std::size_t) { return std::nullopt; }
void FakeCallLog::add(CallLogEntry) {}
std::vector<CallLogEntry> FakeCallLog::entries() const { return {}; }

}  // namespace lumo::platform::fake
