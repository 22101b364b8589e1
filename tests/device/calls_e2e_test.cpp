// The phone's telephony through a real host: calls driven by lumo-devctl's gsm verbs as the
// network and the phone's user, the phone application's windows coming and going with them,
// the published phone state, the call log and the contacts; a program's telephony callbacks
// arriving through its message loop; bad input refused before it reaches the phone.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/platform/winuser.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

const std::string kPhoneKey = "System\\State\\Phone";

class Calls : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start({"--shell"})) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"calls-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    CommandResult ctl(const std::vector<std::string>& args) { return device_.ctl(args); }
    // Runs a verb that must work; its output.
    std::string ok(const std::vector<std::string>& args) {
        auto r = ctl(args);
        EXPECT_EQ(r.status, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << ": " << r.err;
        return r.out;
    }
    std::string reg(const char* root, const std::string& key, const char* name) {
        return ctl({"reg", "get", root, key, name}).out;
    }
    Hwnd find(const char16_t* cls, std::optional<std::u16string_view> title = std::nullopt) {
        return p_->windows().find_window(cls, title);
    }
    // Polls until `done` holds; false after `limit`.
    template <class F>
    bool eventually(F done, Ms limit = Ms(3000)) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done()) return true;
            std::this_thread::sleep_for(Ms(20));
        }
        return done();
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
};

TEST_F(Calls, ARingingContactShowsThePhonesIncomingWindowsUntilAnswered) {
    // A new device comes with sample contacts, one of them without a picture.
    auto contacts = ok({"contact", "list"});
    EXPECT_NE(contacts.find("\tAnna Berg\t+46701234567 (Mobile)\tanna.berg@example.com\tpicture\n"), std::string::npos)
        << contacts;
    EXPECT_NE(contacts.find("\tTom Baker\t"), std::string::npos);
    EXPECT_NE(contacts.find("\t-\n"), std::string::npos);

    auto id = ok({"gsm", "call", "+46 70 123 45 67"});
    id.pop_back();
    EXPECT_EQ(ok({"gsm", "list"}), id + "\tincoming\tinbound\t+46701234567\tAnna Berg\t0x8\t0\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 65536\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Incoming Caller Name"), "string Anna Berg\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Incoming Caller Number"), "string +46701234567\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Last Incoming Caller"), "string Anna Berg\n");

    Hwnd incoming = find(u"Dialog", u"Phone - Incoming...");
    ASSERT_NE(incoming, 0u);
    auto info = p_->windows().window_info(incoming);
    EXPECT_TRUE(info->visible);
    EXPECT_TRUE(info->ex_style & WS_EX_TOPMOST);
    Hwnd menu = find(u"menu_worker");
    ASSERT_NE(menu, 0u);
    auto menu_info = p_->windows().window_info(menu);
    EXPECT_TRUE(menu_info->ex_style & 0x20000000);
    EXPECT_EQ(menu_info->process_id, info->process_id);  // the same program's
    EXPECT_NE(find(u"MS_SOFTKEY_CE_1.0"), 0u);
    EXPECT_NE(find(u"MS_SIPBUTTON"), 0u);
    EXPECT_NE(find(u"MSCprog"), 0u);

    // Answer through the soft-key command, as the lock service does (wrapped like a soft key).
    Hwnd softkey = find(u"MS_SOFTKEY_CE_1.0");
    ASSERT_TRUE(p_->windows().post(menu, 0xC001, 1, LParam(softkey)));
    ASSERT_TRUE(p_->windows().post(menu, WM_COMMAND, 1, 0));
    p_->windows().post(menu, 0xC001, 0, LParam(softkey));  // the window may be gone already
    ASSERT_TRUE(eventually([&] { return ok({"gsm", "list"}).find("\tconnected\t") != std::string::npos; }));
    EXPECT_EQ(find(u"Dialog", u"Phone - Incoming..."), 0u);
    EXPECT_EQ(find(u"menu_worker"), 0u);
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 0\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Active Call Count"), "dword 1\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Caller Name"), "string Anna Berg\n");

    // The phone dialog, titled with the phone's name, shows the call time and the party.
    Hwnd dialog = find(u"Dialog", u"Phone");
    ASSERT_NE(dialog, 0u);
    EXPECT_TRUE(p_->windows().window_info(dialog)->visible);
    Hwnd elapsed = 0, caller = 0;
    for (Hwnd c = p_->windows().get_window(dialog, Relation::FirstChild); c;
         c = p_->windows().get_window(c, Relation::Next)) {
        auto ci = p_->windows().window_info(c);
        if (ci->class_name == u"MS_PHONE_ELAPSEDTIME") elapsed = c;
        if (ci->class_name == u"MS_PHONE_CALLERIDINFO") caller = c;
    }
    ASSERT_NE(elapsed, 0u);
    ASSERT_NE(caller, 0u);
    EXPECT_EQ(p_->windows().window_info(caller)->title, u"Anna Berg\r\n+46701234567");
    EXPECT_TRUE(eventually([&] { return p_->windows().window_info(elapsed)->title == u"0:01"; }, Ms(2500)));

    // The caller hangs up: the dialog hides but keeps the last call for the lock screen.
    ok({"gsm", "cancel"});
    EXPECT_EQ(ok({"gsm", "list"}), "");
    EXPECT_FALSE(p_->windows().window_info(dialog)->visible);
    EXPECT_EQ(p_->windows().window_info(caller)->title, u"Anna Berg\r\n+46701234567");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Active Call Count"), "dword 0\n");
    auto log = ok({"calllog"});
    EXPECT_NE(log.find("\t0x9\tincoming\t+46701234567\tAnna Berg\tMobile\n"), std::string::npos) << log;
}

TEST_F(Calls, UnansweredAndRejectedCallsAreMissedUntilTheHistoryIsOpened) {
    EXPECT_EQ(reg("HKCU", kPhoneKey, "Missed Call Count"), "dword 0\n");
    ok({"gsm", "call", "5551234", "--name", "Pizza Place", "--prop", "Work"});
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Incoming Caller PropName"), "string Work\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Incoming Caller Name"), "string Pizza Place\n");
    ok({"gsm", "cancel"});
    EXPECT_EQ(reg("HKCU", kPhoneKey, "Missed Call Count"), "dword 1\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Incoming Caller Name"), "string \n");
    EXPECT_EQ(find(u"Dialog", u"Phone - Incoming..."), 0u);

    // Rejected with the end command (the ignore of the caller screen).
    ok({"gsm", "call", "5559876"});
    Hwnd menu = find(u"menu_worker");
    ASSERT_NE(menu, 0u);
    ASSERT_TRUE(p_->windows().post(menu, WM_COMMAND, 2, 0));
    ASSERT_TRUE(eventually([&] { return ok({"gsm", "list"}).empty(); }));
    EXPECT_EQ(reg("HKCU", kPhoneKey, "Missed Call Count"), "dword 2\n");
    auto log = ok({"calllog"});
    // Newest first; both missed: flags & 3 == 0.
    EXPECT_EQ(log.find("\t0x8\tmissed\t5559876\t\t\n"), log.find('\t'));
    EXPECT_NE(log.find("\t0x8\tmissed\t5551234\tPizza Place\t\n"), std::string::npos) << log;

    // The phone's call history (message 32794) has been seen: nothing is missed any more.
    ASSERT_TRUE(p_->windows().post(find(u"MSCprog"), 32794, 0, 0));
    ASSERT_TRUE(eventually([&] { return reg("HKCU", kPhoneKey, "Missed Call Count") == "dword 0\n"; }));
    EXPECT_NE(find(u"Dialog", u"Call History"), 0u);
}

TEST_F(Calls, CallWaitingHoldsTheFirstCallAndTheEndKeyEndsTheTalkingOne) {
    auto first = ok({"gsm", "call", "111111"});
    ok({"gsm", "accept"});
    auto second = ok({"gsm", "call", "222222", "--name", "Second"});
    first.pop_back();
    second.pop_back();
    ASSERT_NE(find(u"Dialog", u"Phone - Incoming..."), 0u);
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 65536\n");
    ASSERT_TRUE(p_->windows().post(find(u"menu_worker"), WM_COMMAND, 1, 0));  // hold and answer
    ASSERT_TRUE(eventually([&] { return ok({"gsm", "list"}).find("\tonhold\t") != std::string::npos; }));
    auto list = ok({"gsm", "list"});
    EXPECT_EQ(list.find(first + "\tonhold\tinbound\t111111\t\t0x8\t"), 0u) << list;
    EXPECT_NE(list.find("\n" + second + "\tconnected\tinbound\t222222\tSecond\t0xC\t0\n"), std::string::npos)
        << list;
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Active Call Count"), "dword 2\n");
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 262144\n");
    // The end key on the phone dialog ends the talking call; the held one stays.
    Hwnd dialog = find(u"Dialog", u"Phone");
    ASSERT_TRUE(p_->windows().set_foreground_window(dialog));
    ok({"key", "0x73"});
    ASSERT_TRUE(eventually([&] { return ok({"gsm", "list"}).find(second + "\t") == std::string::npos; }));
    EXPECT_NE(ok({"gsm", "list"}).find(first + "\tonhold"), std::string::npos);
    ok({"gsm", "hold", first});
    EXPECT_NE(ok({"gsm", "list"}).find(first + "\tconnected"), std::string::npos);
}

TEST_F(Calls, TheRadioOffBitRefusesCallsAndOtherStatusBitsStay) {
    ok({"reg", "set", "HKLM", kPhoneKey, "Status", "dword", "0x110"});
    auto r = ctl({"gsm", "call", "123456"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("radio is off"), std::string::npos) << r.err;
    EXPECT_EQ(ctl({"gsm", "dial", "112"}).status, 1);
    EXPECT_EQ(ok({"gsm", "list"}), "");
    ok({"reg", "set", "HKLM", kPhoneKey, "Status", "dword", "0x100"});
    ok({"gsm", "call", "123456"});
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 65792\n");  // 0x10100
    ok({"gsm", "cancel"});
    EXPECT_EQ(reg("HKLM", kPhoneKey, "Status"), "dword 256\n");
}

TEST_F(Calls, BadInputIsRefusedClearly) {
    auto r = ctl({"gsm", "call", "12ab"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("NUMBER must be a phone number"), std::string::npos) << r.err;
    EXPECT_EQ(ctl({"gsm", "call", "+"}).status, 2);
    EXPECT_EQ(ctl({"gsm", "call", "1+2"}).status, 2);
    EXPECT_EQ(ctl({"gsm", "call", "1", "--no-caller-id", "--out-of-area"}).status, 2);
    EXPECT_EQ(ctl({"gsm", "call", "1", "--id-after", "soon"}).status, 2);
    EXPECT_EQ(ctl({"gsm", "accept", "x"}).status, 2);
    r = ctl({"gsm", "accept", "999"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such call"), std::string::npos) << r.err;
    EXPECT_EQ(ctl({"gsm", "busy"}).status, 1);  // nothing dialled
    EXPECT_EQ(ctl({"gsm", "call", "--help"}).status, 0);
    EXPECT_EQ(ctl({"contact", "delete", "4242"}).status, 1);
    auto not_picture = device_.dir() / "not-a-picture.png";
    std::ofstream(not_picture) << "hello";
    r = ctl({"contact", "add", "X", "123", "--picture", not_picture.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a PNG"), std::string::npos) << r.err;
    auto huge = device_.dir() / "huge.png";
    {
        std::ofstream out(huge, std::ios::binary);
        out << "\x89PNG" << std::string(70000, 'x');
    }
    EXPECT_EQ(ctl({"contact", "add", "X", "123", "--picture", huge.string()}).status, 2);
    EXPECT_EQ(ctl({"contact", "add", "X", "12ab"}).status, 2);

    // A network name longer than the phone carries is cut, not overrun.
    ok({"gsm", "call", "123456", "--name", std::string(300, 'N')});
    auto list = ok({"gsm", "list"});
    EXPECT_NE(list.find("\t" + std::string(kPartyIdMaxChars, 'N') + "\t"), std::string::npos) << list;
    EXPECT_EQ(list.find(std::string(kPartyIdMaxChars + 1, 'N')), std::string::npos);
    // So is a SIM name.
    ok({"sim", "add", std::string(50, 'S'), "0701234567"});
    EXPECT_EQ(ok({"sim", "list"}), "1\t" + std::string(kSimTextMaxChars, 'S') + "\t0701234567\n");
}

// A program's own telephony: callbacks arrive in its message loop, in order.
TEST_F(Calls, AProgramHearsTheCallStatesThroughItsMessageLoop) {
    auto& tel = p_->telephony();
    std::vector<LineMessage> got;
    LineAppHandle app = 0;
    std::uint32_t devices = 0, version = 0;
    // A window of its own first: the client serves its hidden window on this thread.
    ASSERT_EQ(tel.initialize([&](const LineMessage& m) { got.push_back(m); }, u"test", 0x20000, app, devices), 0);
    EXPECT_EQ(devices, 2u);
    ASSERT_EQ(tel.negotiate_api_version(app, 0, 0x10003, 0x20000, version), 0);
    LineDevCaps caps;
    ASSERT_EQ(tel.get_dev_caps(app, 1, version, caps), 0);
    EXPECT_FALSE(caps.media_modes & kMediaModeInteractiveVoice);
    LineHandle line = 0;
    ASSERT_EQ(tel.open(app, 0, version, 6, 0x14, 5, line), 0);
    auto pump = [&](std::size_t want) {
        return eventually([&] {
            Message m;
            while (p_->windows().peek_message(m, true)) p_->windows().dispatch(m);
            return got.size() >= want;
        });
    };
    ok({"gsm", "call", "0701234567", "--name", "Caller", "--id-after", "300"});
    ASSERT_TRUE(pump(2));
    EXPECT_EQ(got[0].message, kLineAppNewCall);
    CallHandle call = got[0].param2;
    EXPECT_EQ(got[1], (LineMessage{call, kLineCallState, 5, kCallStateOffering, 0, kCallPrivilegeOwner}));
    LineCallInfo info;
    ASSERT_EQ(tel.get_call_info(call, info), 0);
    EXPECT_EQ(info.caller_id_flags, kPartyIdUnknown);
    ASSERT_TRUE(pump(3));
    EXPECT_EQ(got[2], (LineMessage{call, kLineCallInfo, 5, kCallInfoCallerId, 0, 0}));
    ASSERT_EQ(tel.get_call_info(call, info), 0);
    EXPECT_EQ(info.caller_id, u"0701234567");
    EXPECT_EQ(info.caller_id_name, u"Caller");
    // Reject it as the lock service does: owner privilege, then drop.
    ASSERT_EQ(tel.set_call_privilege(call, kCallPrivilegeOwner), 0);
    LineResult req = tel.drop(call);
    ASSERT_GT(req, 0);
    ASSERT_TRUE(pump(6));
    EXPECT_EQ(got[3].message, kLineReply);
    EXPECT_EQ(got[3].param1, std::uint32_t(req));
    EXPECT_EQ(got[4].param1, kCallStateDisconnected);
    EXPECT_EQ(got[4].param2, kDisconnectModeReject);
    EXPECT_EQ(got[5].param1, kCallStateIdle);
    EXPECT_EQ(tel.deallocate_call(call), 0);
    EXPECT_EQ(tel.get_call_status(call, *std::make_unique<LineCallStatus>()), kLineErrInvalCallHandle);

    // Dialling out: the dialled party is busy.
    CallHandle out = 0;
    req = tel.make_call(line, u"030 123 456", 0, nullptr, out);
    ASSERT_GT(req, 0);
    ASSERT_TRUE(pump(8));
    EXPECT_EQ(got[7], (LineMessage{out, kLineCallState, 5, kCallStateDialing, 0, kCallPrivilegeOwner}));
    EXPECT_NE(ok({"gsm", "list"}).find("\tdialing\toutbound\t030123456\t"), std::string::npos);
    ok({"gsm", "busy"});
    ASSERT_TRUE(pump(11));
    EXPECT_EQ(got[8].param1, kCallStateBusy);
    EXPECT_EQ(tel.make_call(line, u"no number", 0, nullptr, out), kLineErrInvalAddress);

    // The phone device and the emergency numbers.
    PhoneAppHandle papp = 0;
    PhoneHandle phone = 0;
    ASSERT_EQ(tel.phone_initialize(u"vol", papp, devices), 0);
    ASSERT_EQ(tel.phone_open(papp, 0, 0x20000, phone), 0);
    ASSERT_EQ(tel.phone_set_volume(phone, kHookSwitchHeadset, 0x4000), 0);
    std::uint32_t vol = 0;
    ASSERT_EQ(tel.phone_get_volume(phone, kHookSwitchHeadset, vol), 0);
    EXPECT_EQ(vol, 0x4000u);
    EXPECT_EQ(tel.emergency_numbers(), (std::vector<std::u16string>{u"112", u"911", u"999", u"08"}));

    // Contacts, pictures and the SIM through the client.
    EXPECT_FALSE(p_->contacts().find(ContactMatch::PhoneNumber, u"+46701234568"));
    // The same ending of seven digits and more is the same phone, whatever the prefix.
    auto anna = p_->contacts().find(ContactMatch::PhoneNumber, u"0046 70-123 45 67");
    ASSERT_TRUE(anna);
    EXPECT_EQ(anna->file_as, u"Anna Berg");
    auto pic = p_->contacts().picture(anna->id);
    ASSERT_TRUE(pic);
    EXPECT_EQ((*pic)[1], 'P');
    auto tom = p_->contacts().find(ContactMatch::FileAs, u"tom baker");
    ASSERT_TRUE(tom);
    EXPECT_FALSE(p_->contacts().picture(tom->id));
    EXPECT_EQ(p_->contacts().all().size(), 4u);
    std::vector<std::uint32_t> codes;
    ASSERT_TRUE(p_->sim().initialize([&](std::uint32_t code, std::uint32_t) { codes.push_back(code); }));
    ok({"sim", "add", "Home", "+4930123456"});
    ASSERT_TRUE(eventually([&] {
        Message m;
        while (p_->windows().peek_message(m, true)) p_->windows().dispatch(m);
        return !codes.empty();
    }));
    EXPECT_EQ(codes[0], kSimNotifyPhoneBookStored);
    auto sim = p_->sim().read(kSimStorageSim);
    ASSERT_TRUE(sim);
    ASSERT_EQ(sim->size(), 1u);
    EXPECT_EQ((*sim)[0].name, u"Home");
    auto calls = p_->call_log().newest(10);
    ASSERT_TRUE(calls);
    ASSERT_EQ(calls->size(), 2u);
    EXPECT_EQ((*calls)[0].flags & kCallLogDirectionMask, kCallLogOutgoing);
    EXPECT_TRUE(call_log_missed((*calls)[1].flags));
    EXPECT_EQ(tel.shutdown(app), 0);
}

TEST_F(Calls, TheMessagingProgramRecordsWhatItWasStartedWith) {
    ok({"start", "\\Windows\\tmail.exe", "-service", "\"SMS\"", "-to", "\"5551234\"", "-body", "\"Busy\""});
    auto log = ok({"log"});
    EXPECT_NE(log.find("tmail.exe -service \"SMS\" -to \"5551234\" -body \"Busy\""), std::string::npos) << log;
}

}  // namespace
}  // namespace lumo::test
