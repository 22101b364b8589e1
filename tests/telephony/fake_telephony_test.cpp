// Telephony, contacts, SIM and call log over the fake: the call model as a program meets it.
#include <gtest/gtest.h>

#include <cstring>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/registry.h"
#include "lumo/platform/winuser.h"

namespace {

using namespace lumo::platform;
using lumo::platform::fake::FakePlatform;
using lumo::platform::fake::IncomingCall;

constexpr std::u16string_view kPhone = u"System\\State\\Phone";

// A program with telephony open on the voice line, recording every callback message.
struct Program {
    FakePlatform& p;
    LineAppHandle app = 0;
    LineHandle line = 0;
    std::vector<LineMessage> got;
    explicit Program(FakePlatform& fake, std::uint32_t privileges = kCallPrivilegeMonitor | kCallPrivilegeOwner)
        : p(fake) {
        std::uint32_t devices = 0, version = 0;
        EXPECT_EQ(p.telephony().initialize([this](const LineMessage& m) { got.push_back(m); }, u"test", 0x20000,
                                           app, devices),
                  0);
        EXPECT_EQ(p.telephony().negotiate_api_version(app, 0, 0x10003, 0x20000, version), 0);
        EXPECT_EQ(p.telephony().open(app, 0, version, privileges,
                                     kMediaModeInteractiveVoice | kMediaModeDataModem, 77, line),
                  0);
    }
    // Messages delivered since the last look.
    std::vector<LineMessage> take() {
        p.run_until_idle();
        auto out = std::move(got);
        got.clear();
        return out;
    }
};

std::uint32_t dword(FakePlatform& p, Root root, std::u16string_view name) {
    return p.registry().get_dword(root, kPhone, name).value_or(0xDEADBEEF);
}
std::u16string text(FakePlatform& p, std::u16string_view name) {
    return p.registry().get_string(Root::LocalMachine, kPhone, name).value_or(u"<missing>");
}

TEST(FakeTelephonyLines, DevicesVersionsAndCapabilities) {
    FakePlatform p;
    LineAppHandle app = 0;
    std::uint32_t devices = 0, version = 0;
    ASSERT_EQ(p.telephony().initialize({}, u"caps", 0x20000, app, devices), 0);
    EXPECT_EQ(devices, 2u);
    EXPECT_EQ(p.telephony().negotiate_api_version(app, 0, 0x10003, 0x30000, version), 0);
    EXPECT_EQ(version, 0x20000u);
    EXPECT_EQ(p.telephony().negotiate_api_version(app, 0, 0x30000, 0x40000, version),
              kLineErrIncompatibleApiVersion);
    EXPECT_EQ(p.telephony().negotiate_api_version(app, 5, 0x10003, 0x20000, version), kLineErrBadDeviceId);
    EXPECT_EQ(p.telephony().negotiate_api_version(app + 99, 0, 0x10003, 0x20000, version), kLineErrInvalAppHandle);
    LineDevCaps voice, data;
    ASSERT_EQ(p.telephony().get_dev_caps(app, 0, 0x20000, voice), 0);
    ASSERT_EQ(p.telephony().get_dev_caps(app, 1, 0x20000, data), 0);
    EXPECT_TRUE(voice.media_modes & kMediaModeInteractiveVoice);
    EXPECT_FALSE(data.media_modes & kMediaModeInteractiveVoice);  // the "no voice" device
    EXPECT_TRUE(data.line_name.empty());
    // Owning the data line's calls cannot ask for voice.
    LineHandle line = 0;
    EXPECT_EQ(p.telephony().open(app, 1, 0x20000, 6, kMediaModeInteractiveVoice, 0, line), kLineErrInvalMediaMode);
    EXPECT_EQ(p.telephony().open(app, 0, 0x20000, 0x40, kMediaModeInteractiveVoice, 0, line), kLineErrInvalPrivilege);
    p.telephony().set_data_line(false);
    LineAppHandle app2 = 0;
    ASSERT_EQ(p.telephony().initialize({}, u"caps", 0x20000, app2, devices), 0);
    EXPECT_EQ(devices, 1u);
    // Re-initialising platforms answer "try again" until they are ready.
    p.telephony().reinit_answers = 2;
    EXPECT_EQ(p.telephony().initialize({}, u"x", 0x20000, app2, devices), kLineErrReinit);
    EXPECT_EQ(p.telephony().initialize({}, u"x", 0x20000, app2, devices), kLineErrReinit);
    EXPECT_EQ(p.telephony().initialize({}, u"x", 0x20000, app2, devices), 0);
}

TEST(FakeTelephonyCalls, OfferedCallWithCallerIdLaterReachesTheLoopInOrder) {
    FakePlatform p;
    p.contacts().add(u"Anna Berg", {{u"Mobile", u"+46 70-123 45 67"}});
    // Someone else's status bit stays as it is.
    p.registry().create_key(Root::LocalMachine, kPhone);
    p.registry().set_dword(Root::LocalMachine, kPhone, u"Status", 0x100);
    Program prog(p);
    auto id = p.telephony().offer_call({u"+46701234567", u"", false});
    ASSERT_TRUE(id);
    EXPECT_TRUE(prog.got.empty());  // nothing runs outside the program's message loop
    auto first = prog.take();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].message, kLineAppNewCall);
    EXPECT_EQ(first[0].device, prog.line);
    EXPECT_EQ(first[0].param3, kCallPrivilegeOwner);
    const CallHandle call = first[0].param2;
    EXPECT_EQ(first[1], (LineMessage{call, kLineCallState, 77, kCallStateOffering, 0, kCallPrivilegeOwner}));
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0x10100u);
    EXPECT_EQ(text(p, u"Incoming Caller Number"), u"");  // not known before its caller id
    LineCallInfo info;
    ASSERT_EQ(p.telephony().get_call_info(call, info), 0);
    EXPECT_EQ(info.caller_id_flags, kPartyIdUnknown);  // not yet
    EXPECT_TRUE(info.caller_id.empty());
    EXPECT_EQ(info.media_mode, kMediaModeInteractiveVoice);

    ASSERT_TRUE(p.telephony().deliver_caller_id(*id, u"+46701234567", u"A BERG"));
    auto second = prog.take();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0], (LineMessage{call, kLineCallInfo, 77, kCallInfoCallerId, 0, 0}));
    ASSERT_EQ(p.telephony().get_call_info(call, info), 0);
    EXPECT_EQ(info.caller_id_flags, kPartyIdAddress | kPartyIdName);
    EXPECT_EQ(info.caller_id, u"+46701234567");
    EXPECT_EQ(info.caller_id_name, u"A BERG");
    // The phone shows the contact's name, found despite the stored number's blanks and dashes.
    EXPECT_EQ(text(p, u"Incoming Caller Name"), u"Anna Berg");
    EXPECT_EQ(text(p, u"Incoming Caller Number"), u"+46701234567");
    EXPECT_EQ(text(p, u"Incoming Caller PropName"), u"Mobile");

    ASSERT_TRUE(p.telephony().answer(*id));
    auto third = prog.take();
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].param1, kCallStateConnected);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0x100u);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Active Call Count"), 1u);
    EXPECT_EQ(text(p, u"Caller Name"), u"Anna Berg");
    EXPECT_EQ(text(p, u"Incoming Caller Name"), u"");

    ASSERT_TRUE(p.telephony().remote_hang_up(*id));
    auto last = prog.take();
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].param1, kCallStateDisconnected);
    EXPECT_EQ(last[0].param2, kDisconnectModeNormal);
    EXPECT_EQ(last[1].param1, kCallStateIdle);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Active Call Count"), 0u);
    auto log = p.call_log().entries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].flags & kCallLogDirectionMask, kCallLogIncoming);
    EXPECT_EQ(log[0].name, u"Anna Berg");
    EXPECT_EQ(log[0].number_label, u"Mobile");
    // The handle stays readable until it is given back.
    LineCallStatus st;
    EXPECT_EQ(p.telephony().get_call_status(call, st), 0);
    EXPECT_EQ(st.call_state, kCallStateIdle);
    EXPECT_EQ(p.telephony().deallocate_call(call), 0);
    EXPECT_EQ(p.telephony().get_call_status(call, st), kLineErrInvalCallHandle);
    EXPECT_TRUE(p.telephony().calls().empty());
}

TEST(FakeTelephonyCalls, CallerHangingUpBeforeTheCallerIdIsAMissedCall) {
    FakePlatform p;
    Program prog(p);
    auto id = p.telephony().offer_call({u"5551234", u"", false});
    ASSERT_TRUE(id);
    prog.take();
    ASSERT_TRUE(p.telephony().remote_hang_up(*id));
    auto msgs = prog.take();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].param1, kCallStateDisconnected);
    EXPECT_FALSE(p.telephony().deliver_caller_id(*id, u"5551234", u""));  // too late
    EXPECT_EQ(dword(p, Root::CurrentUser, u"Missed Call Count"), 1u);
    auto log = p.call_log().entries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(call_log_missed(log[0].flags));
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status") & 0x10000, 0u);
    // A second missed call adds to the count.
    auto again = p.telephony().offer_call({u"5551234"});
    ASSERT_TRUE(again);
    ASSERT_TRUE(p.telephony().remote_hang_up(*again));
    EXPECT_EQ(dword(p, Root::CurrentUser, u"Missed Call Count"), 2u);
}

TEST(FakeTelephonyCalls, DropNeedsOwnershipAndRepliesLater) {
    FakePlatform p;
    Program monitor(p, kCallPrivilegeMonitor);
    auto id = p.telephony().offer_call({u"123456"});
    ASSERT_TRUE(id);
    auto msgs = monitor.take();
    ASSERT_FALSE(msgs.empty());
    CallHandle call = msgs[0].param2;
    EXPECT_EQ(msgs[0].param3, kCallPrivilegeMonitor);
    EXPECT_EQ(p.telephony().drop(call), kLineErrNotOwner);
    EXPECT_EQ(p.telephony().drop(0xBAD), kLineErrInvalCallHandle);
    ASSERT_EQ(p.telephony().set_call_privilege(call, kCallPrivilegeOwner), 0);
    LineResult req = p.telephony().drop(call);
    ASSERT_GT(req, 0);
    msgs = monitor.take();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0], (LineMessage{0, kLineReply, 77, std::uint32_t(req), 0, 0}));
    EXPECT_EQ(msgs[1].param1, kCallStateDisconnected);
    EXPECT_EQ(msgs[1].param2, kDisconnectModeReject);
    // A rejected call is unanswered: it counts as missed.
    EXPECT_TRUE(call_log_missed(p.call_log().entries().at(0).flags));
    EXPECT_EQ(p.telephony().drop(call), kLineErrInvalCallState);
}

TEST(FakeTelephonyCalls, CallWaitingHoldsTheConnectedCall) {
    FakePlatform p;
    Program prog(p);
    auto first = p.telephony().offer_call({u"111111"});
    ASSERT_TRUE(first && p.telephony().answer(*first));
    auto second = p.telephony().offer_call({u"222222", u"Second"});
    ASSERT_TRUE(second);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status") & 0x10000, 0x10000u);
    ASSERT_TRUE(p.telephony().answer(*second));
    auto calls = p.telephony().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].state, kCallStateOnHold);
    EXPECT_EQ(calls[1].state, kCallStateConnected);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Active Call Count"), 2u);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0x40000u);
    EXPECT_EQ(text(p, u"Caller Name"), u"Second");
    // Taking the held call back swaps the two.
    ASSERT_TRUE(p.telephony().hold(*first));
    calls = p.telephony().calls();
    EXPECT_EQ(calls[0].state, kCallStateConnected);
    EXPECT_EQ(calls[1].state, kCallStateOnHold);
    ASSERT_TRUE(p.telephony().hang_up(*first));
    ASSERT_TRUE(p.telephony().hang_up(*second));
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Active Call Count"), 0u);
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0u);
    EXPECT_FALSE(p.telephony().hold(*first));
}

TEST(FakeTelephonyCalls, MakeCallDialsAndHearsBusy) {
    FakePlatform p;
    Program prog(p);
    LineTranslateOutput t;
    ASSERT_EQ(p.telephony().translate_address(prog.app, 0, 0x20000, u"(030) 123-456", t), 0);
    EXPECT_EQ(t.dialable, u"030123456");
    EXPECT_EQ(p.telephony().translate_address(prog.app, 0, 0x20000, u"call me", t), kLineErrInvalAddress);
    LineCallParams params;
    params.dialable_address = t.dialable;
    CallHandle call = 0;
    LineResult req = p.telephony().make_call(prog.line, u"", 0, &params, call);
    ASSERT_GT(req, 0);
    ASSERT_NE(call, 0u);
    auto msgs = prog.take();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].message, kLineReply);
    EXPECT_EQ(msgs[0].param2, 0u);
    EXPECT_EQ(msgs[1], (LineMessage{call, kLineCallState, 77, kCallStateDialing, 0, kCallPrivilegeOwner}));
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0x20000u);
    EXPECT_EQ(text(p, u"Caller Number"), u"030123456");
    auto calls = p.telephony().calls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_TRUE(p.telephony().remote_busy(calls[0].id));
    msgs = prog.take();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].param1, kCallStateBusy);
    EXPECT_EQ(msgs[1].param1, kCallStateDisconnected);
    EXPECT_EQ(msgs[1].param2, kDisconnectModeBusy);
    auto log = p.call_log().entries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].flags & kCallLogDirectionMask, kCallLogOutgoing);
    EXPECT_EQ(p.telephony().make_call(prog.line, u"12ab", 0, nullptr, call), kLineErrInvalAddress);
    EXPECT_EQ(p.telephony().close(prog.line), 0);
    EXPECT_EQ(p.telephony().make_call(prog.line, u"112", 0, nullptr, call), kLineErrInvalLineHandle);
}

TEST(FakeTelephonyCalls, ARadioSwitchedOffRefusesCallsBothWays) {
    FakePlatform p;
    Program prog(p);
    p.registry().create_key(Root::LocalMachine, kPhone);
    p.registry().set_dword(Root::LocalMachine, kPhone, u"Status", 0x10);
    EXPECT_FALSE(p.telephony().offer_call({u"123456"}));
    EXPECT_FALSE(p.telephony().dial(u"123456"));
    CallHandle call = 0;
    EXPECT_EQ(p.telephony().make_call(prog.line, u"112", 0, nullptr, call), kLineErrResourceUnavail);
    EXPECT_TRUE(prog.take().empty());
    EXPECT_EQ(dword(p, Root::LocalMachine, u"Status"), 0x10u);
}

TEST(FakeTelephonyCalls, WithheldAndOutOfAreaCallersCarryOnlyTheirFlags) {
    FakePlatform p;
    Program prog(p);
    IncomingCall withheld;
    withheld.withheld = true;
    auto id = p.telephony().offer_call(withheld);
    ASSERT_TRUE(id);
    auto msgs = prog.take();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[2].message, kLineCallInfo);
    LineCallInfo info;
    ASSERT_EQ(p.telephony().get_call_info(msgs[0].param2, info), 0);
    EXPECT_EQ(info.caller_id_flags, kPartyIdBlocked);
    EXPECT_TRUE(info.caller_id.empty());
    p.telephony().remote_hang_up(*id);
    prog.take();
    IncomingCall far;
    far.out_of_area = true;
    id = p.telephony().offer_call(far);
    msgs = prog.take();
    ASSERT_EQ(p.telephony().get_call_info(msgs[0].param2, info), 0);
    EXPECT_EQ(info.caller_id_flags, kPartyIdOutOfArea);
    // A caller name longer than the telephony carries is cut.
    p.telephony().remote_hang_up(*id);
    prog.take();
    id = p.telephony().offer_call({u"123456", std::u16string(500, u'x')});
    msgs = prog.take();
    ASSERT_EQ(p.telephony().get_call_info(msgs[0].param2, info), 0);
    EXPECT_EQ(info.caller_id_name.size(), kPartyIdMaxChars);
    EXPECT_FALSE(p.telephony().offer_call({u"not a number"}));
}

TEST(FakeTelephonyCalls, ShutdownEndsTheProgramsHandlesButNotTheCalls) {
    FakePlatform p;
    Program prog(p);
    auto id = p.telephony().offer_call({u"123456"});
    prog.take();
    EXPECT_EQ(p.telephony().shutdown(prog.app), 0);
    EXPECT_EQ(p.telephony().shutdown(prog.app), kLineErrInvalAppHandle);
    EXPECT_EQ(p.telephony().calls().size(), 1u);
    p.telephony().remote_hang_up(*id);
    EXPECT_TRUE(prog.take().empty());
    // A program that opens later learns of calls there are through get_calls.
    auto second = p.telephony().offer_call({u"654321"});
    ASSERT_TRUE(second);
    Program late(p);
    std::vector<CallHandle> calls;
    ASSERT_EQ(p.telephony().get_calls(late.line, calls), 0);
    ASSERT_EQ(calls.size(), 1u);
    LineCallStatus st;
    ASSERT_EQ(p.telephony().get_call_status(calls[0], st), 0);
    EXPECT_EQ(st.call_state, kCallStateOffering);
    EXPECT_EQ(st.call_privilege, kCallPrivilegeMonitor);
}

TEST(FakeTelephonyPhone, HookSwitchVolumeAndEmergencyNumbers) {
    FakePlatform p;
    PhoneAppHandle app = 0;
    std::uint32_t devices = 0, version = 0;
    PhoneHandle phone = 0;
    ASSERT_EQ(p.telephony().phone_initialize(u"vol", app, devices), 0);
    ASSERT_EQ(p.telephony().phone_negotiate_api_version(app, 0, 0x10003, 0x20000, version), 0);
    ASSERT_EQ(p.telephony().phone_open(app, 0, version, phone), 0);
    PhoneStatus st;
    ASSERT_EQ(p.telephony().phone_get_status(phone, st), 0);
    EXPECT_EQ(st.handset_mode, kHookSwitchModeOnHook);
    auto call = p.telephony().dial(u"5550000");
    p.telephony().set_hook_switch_in_use(kHookSwitchSpeaker);
    ASSERT_EQ(p.telephony().phone_get_status(phone, st), 0);
    EXPECT_EQ(st.speaker_mode, kHookSwitchModeMicSpeaker);
    EXPECT_EQ(p.telephony().phone_set_volume(phone, kHookSwitchSpeaker, 0x12345), 0);
    std::uint32_t v = 0;
    ASSERT_EQ(p.telephony().phone_get_volume(phone, kHookSwitchSpeaker, v), 0);
    EXPECT_EQ(v, kPhoneVolumeMax);  // clamped
    EXPECT_EQ(p.telephony().phone_get_volume(phone, 0x40, v), kLineErrInvalParam);
    EXPECT_EQ(p.telephony().phone_close(phone), 0);
    EXPECT_EQ(p.telephony().phone_get_volume(phone, kHookSwitchSpeaker, v), kLineErrInvalParam);
    p.telephony().hang_up(*call);

    EXPECT_EQ(p.telephony().emergency_numbers(), (std::vector<std::u16string>{u"112", u"911", u"999", u"08"}));
    p.registry().create_key(Root::LocalMachine, u"Software\\Lumo\\Device\\Telephony");
    p.registry().set_string(Root::LocalMachine, u"Software\\Lumo\\Device\\Telephony", u"EmergencyNumbers",
                            u"112, 000;bogus");
    EXPECT_EQ(p.telephony().emergency_numbers(), (std::vector<std::u16string>{u"112", u"000"}));
}

TEST(FakePhoneApplication, WindowsFollowTheCallsAndCommandsActOnThem) {
    FakePlatform p;
    auto pid = p.telephony().start_phone_application();
    ASSERT_TRUE(p.is_running(pid));
    auto& w = p.windows();
    EXPECT_NE(w.find_window(u"MSCprog", std::nullopt), 0u);
    auto first = p.telephony().offer_call({u"111111", u"First"});
    EXPECT_EQ(w.find_window(u"Dialog", u"Phone - Incoming..."), 0u);  // on the next loop pass
    p.run_until_idle();
    Hwnd incoming = w.find_window(u"Dialog", u"Phone - Incoming...");
    ASSERT_NE(incoming, 0u);
    EXPECT_EQ(w.window_info(incoming)->process_id, pid);
    EXPECT_TRUE(w.window_info(incoming)->ex_style & WS_EX_TOPMOST);
    Hwnd menu = w.find_window(u"menu_worker", std::nullopt);
    ASSERT_NE(menu, 0u);
    EXPECT_TRUE(w.window_info(menu)->ex_style & 0x20000000);
    EXPECT_NE(w.find_window(u"MS_SOFTKEY_CE_1.0", std::nullopt), 0u);
    ASSERT_TRUE(w.send(menu, WM_COMMAND, 1, 0));
    p.run_until_idle();
    EXPECT_EQ(w.find_window(u"Dialog", u"Phone - Incoming..."), 0u);
    Hwnd dialog = w.find_window(u"Dialog", u"Phone");
    ASSERT_NE(dialog, 0u);
    Hwnd elapsed = w.get_window(dialog, Relation::FirstChild);
    Hwnd caller = w.get_window(elapsed, Relation::Next);
    EXPECT_EQ(w.window_info(elapsed)->class_name, u"MS_PHONE_ELAPSEDTIME");
    EXPECT_EQ(w.window_info(caller)->title, u"First\r\n111111");
    // A second call waits; the end command rejects it and the first talks on.
    auto second = p.telephony().offer_call({u"222222"});
    p.run_until_idle();
    ASSERT_TRUE(w.send(w.find_window(u"menu_worker", std::nullopt), WM_COMMAND, 2, 0));
    p.run_until_idle();
    auto calls = p.telephony().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].id, *first);
    EXPECT_EQ(calls[0].state, kCallStateConnected);
    EXPECT_EQ(dword(p, Root::CurrentUser, u"Missed Call Count"), 1u);
    // The end key ends the talking call; the dialog stays hidden with the last call.
    ASSERT_TRUE(w.send(dialog, WM_KEYDOWN, 0x73, 0));
    p.run_until_idle();
    EXPECT_TRUE(p.telephony().calls().empty());
    EXPECT_FALSE(w.window_info(dialog)->visible);
    EXPECT_EQ(w.window_info(caller)->title, u"First\r\n111111");
    ASSERT_TRUE(w.send(w.find_window(u"MSCprog", std::nullopt), 32794, 0, 0));
    EXPECT_EQ(dword(p, Root::CurrentUser, u"Missed Call Count"), 0u);
    (void)second;
}

TEST(FakeContactsAndSim, LookupsPicturesAndTheSimBook) {
    FakePlatform p;
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G'};
    auto anna = p.contacts().add(u"Anna Berg", {{u"Work", u"+46 8 123 456 78"}}, u"Anna@Example.com", png);
    p.contacts().add(u"Tom", {{u"Mobile", u"0701234567"}});
    EXPECT_EQ(p.contacts().find(ContactMatch::PhoneNumber, u"+46812345678")->id, anna);
    EXPECT_EQ(p.contacts().find(ContactMatch::PhoneNumber, u"812345678")->id, anna);  // same ending
    EXPECT_FALSE(p.contacts().find(ContactMatch::PhoneNumber, u"678"));             // too short to match by end
    EXPECT_EQ(p.contacts().find(ContactMatch::Email, u"anna@example.COM")->id, anna);
    EXPECT_EQ(p.contacts().find(ContactMatch::FileAs, u"tom")->file_as, u"Tom");
    EXPECT_EQ(*p.contacts().picture(anna), png);
    EXPECT_FALSE(p.contacts().picture(anna + 1));
    p.contacts().broken = true;
    EXPECT_FALSE(p.contacts().find(ContactMatch::FileAs, u"tom"));

    std::vector<std::pair<std::uint32_t, std::uint32_t>> notes;
    EXPECT_FALSE(p.sim().read(kSimStorageSim));  // not initialised
    ASSERT_TRUE(p.sim().initialize([&](std::uint32_t code, std::uint32_t index) { notes.emplace_back(code, index); }));
    auto index = p.sim().add(std::u16string(40, u'n'), u"+4912345");
    ASSERT_TRUE(index);
    EXPECT_TRUE(notes.empty());
    p.run_until_idle();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], std::pair(kSimNotifyPhoneBookStored, *index));
    auto entries = p.sim().read(kSimStorageSim);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].name.size(), kSimTextMaxChars);
    EXPECT_FALSE(p.sim().read(0x20));
    EXPECT_TRUE(p.sim().remove(*index));
    p.run_until_idle();
    EXPECT_EQ(notes.back().first, kSimNotifyPhoneBookDeleted);
}

}  // namespace
