// The call monitor over the fake telephony: a ringing call handed to lumo with the caller's name
// and number, the unknown caller after its delay, a caller who hangs up first, call waiting, the
// phone keys carried to the phone application's windows, and the call flags the power rules read.
#include "lumo/catalogue/catalogue.h"
#include "service_harness.h"

#include "../../service/src/parts.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;

constexpr std::uint32_t kPhonePid = 900;

class Calls : public ::testing::Test {
protected:
    void SetUp() override {
        h.p.set_boot_age(120000);
        h.set_byte(u"CallerID", 1);
        h.set_byte(u"DebugOn", 1);
    }
    void started() {
        ASSERT_TRUE(h.start());
        h.p.run_until_idle();
        ASSERT_TRUE(h.lock_window);
        h.lock_received.clear();
    }
    std::u16string mailbox(std::u16string_view name) {
        auto v = h.p.registry().get_string(Root::CurrentUser, pr::kRootKey, name);
        return v.value_or(u"<none>");
    }
    std::vector<Received> lock_got(std::uint32_t msg) {
        std::vector<Received> out;
        for (auto& r : h.lock_received)
            if (r.msg == msg) out.push_back(r);
        return out;
    }
    // The phone application's incoming window with its command window, as the phone shows them
    // while it rings; what the command window receives is recorded.
    void phone_incoming_window(bool soft_key_bar = false) {
        auto scope = h.p.as_process(kPhonePid);
        auto& win = h.p.windows();
        win.register_class(u"Dialog", [this](Hwnd hw, std::uint32_t m, WParam w, LParam l) -> LResult {
            return h.p.windows().default_proc(hw, m, w, l);
        });
        win.register_class(u"menu_worker", [this](Hwnd, std::uint32_t m, WParam w, LParam l) -> LResult {
            worker_got.push_back({m, w, l});
            if (m == WM_COMMAND && w == 1 && offered) h.p.telephony().answer(*offered);
            if (m == WM_COMMAND && w == 2 && offered) h.p.telephony().hang_up(*offered);
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"Dialog";
        cp.title = u"Phone - Incoming...";
        cp.ex_style = WS_EX_TOPMOST;
        incoming = win.create_window(cp);
        win.show_window(incoming, SW_SHOW);
        cp.class_name = u"menu_worker";
        cp.title = u"";
        cp.ex_style = 0x20000000;
        cp.rect = {0, 700, 480, 800};
        worker = win.create_window(cp);
        win.show_window(worker, SW_SHOW);
        if (soft_key_bar) {
            win.register_class(u"MS_SOFTKEY_CE_1.0", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
            cp.class_name = u"MS_SOFTKEY_CE_1.0";
            cp.ex_style = 0;
            soft_keys = win.create_window(cp);
        }
    }
    std::optional<std::uint32_t> ring(std::u16string number, bool caller_id_now = true) {
        fake::IncomingCall call;
        call.number = std::move(number);
        call.caller_id_now = caller_id_now;
        offered = h.p.telephony().offer_call(call);
        h.p.run_until_idle();
        return offered;
    }
    std::uint32_t call_state(std::uint32_t id) {
        for (auto& c : h.p.telephony().calls())
            if (c.id == id) return c.state;
        return 0;
    }

    ServiceHarness h;
    std::optional<std::uint32_t> offered;
    Hwnd incoming = 0, worker = 0, soft_keys = 0;
    std::vector<Received> worker_got;
};

TEST_F(Calls, ARingingContactIsHandedToLumoWithNameAndNumberFirst) {
    h.p.contacts().add(u"Ada Lovelace", {{u"Mobile", u"5550101"}});
    started();
    phone_incoming_window();
    ASSERT_TRUE(ring(u"5550101"));
    EXPECT_TRUE(h.s.Incoming);
    EXPECT_TRUE(in_call(h.s));
    auto run = lock_got(pr::WM_RunCaller);
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0].l, 2);  // unlocked
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingName), u"Ada Lovelace");
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingNumber), u"5550101");
    // The phone's own incoming window went out of the way, its command window out of sight.
    EXPECT_FALSE(h.p.windows().window_info(incoming)->visible);
    auto r = h.p.windows().window_info(worker)->rect;
    EXPECT_TRUE(r.right <= 0 || r.bottom <= 0);
    EXPECT_EQ(h.s.MenuWorker.load(), worker);
}

TEST_F(Calls, TheSimBookNamesACallerByTheEndOfTheNumber) {
    started();
    // The card tells the service of the new entry, which reads the book again.
    h.p.sim().add(u"Bob from the card", u"5550199");
    h.p.run_until_idle();
    ring(u"+15550199");
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingName), u"Bob from the card");
}

TEST_F(Calls, ANameLongerThanTheMailboxIsCutNotDropped) {
    h.p.contacts().add(std::u16string(400, u'N'), {{u"Mobile", u"5550101"}});
    started();
    ring(u"5550101");
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingName), std::u16string(260, u'N'));
}

TEST_F(Calls, WithoutCallerIdTheScreenComesAfterTheDelayAsUnknown) {
    h.set_number(u"DelayUnknownCallerMS", 4000);
    started();
    phone_incoming_window();
    ring(u"5550101", false);
    EXPECT_TRUE(lock_got(pr::WM_RunCaller).empty());
    h.p.run_for(3900);
    EXPECT_TRUE(lock_got(pr::WM_RunCaller).empty());
    h.p.run_for(200);
    ASSERT_EQ(lock_got(pr::WM_RunCaller).size(), 1u);
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingNumber), u"unknown");
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingName), u"");
    EXPECT_TRUE(h.s.ForcedUnknown);
    // A caller id that comes late does not show a second screen.
    h.p.telephony().deliver_caller_id(*offered, u"5550101", u"");
    h.p.run_until_idle();
    EXPECT_EQ(lock_got(pr::WM_RunCaller).size(), 1u);
}

TEST_F(Calls, AnOutOfAreaCallerIdWritesOutOfArea) {
    started();
    phone_incoming_window();
    ring(u"5550101", false);
    h.p.telephony().deliver_caller_id(*offered, u"", u"", kPartyIdOutOfArea);
    h.p.run_until_idle();
    EXPECT_EQ(mailbox(pr::mailbox::kIncomingNumber), u"outofarea");
    EXPECT_EQ(lock_got(pr::WM_RunCaller).size(), 1u);
}

TEST_F(Calls, ACallerWhoHangsUpBeforeTheCallerIdLeavesNoScreenAndTheLockAsItWas) {
    started();
    h.s.Locked = true;
    phone_incoming_window();
    ring(u"5550101", false);
    h.p.telephony().remote_hang_up(*offered);
    h.p.run_for(5000);
    EXPECT_FALSE(h.s.Incoming);
    EXPECT_FALSE(in_call(h.s));
    EXPECT_TRUE(lock_got(pr::WM_RunCaller).empty());
    EXPECT_TRUE(h.s.Locked);
    for (auto& r : lock_got(pr::WM_EndCaller)) EXPECT_EQ(r.w, 1);
}

TEST_F(Calls, AnswerGoesToTheCommandWindowWrappedForTheSoftKeyBar) {
    started();
    phone_incoming_window(true);
    ring(u"5550101");
    worker_got.clear();
    h.p.windows().post(h.service_window(), pr::WM_PhoneKey, pr::kPhoneKeyAnswer, 0);
    h.p.run_until_idle();
    std::vector<std::pair<std::uint32_t, WParam>> seen;
    for (auto& r : worker_got) seen.emplace_back(r.msg, r.w);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, WParam>>{{0xC001, 1}, {WM_COMMAND, 1}, {0xC001, 0}}));
    EXPECT_EQ(worker_got.front().l, LParam(soft_keys));
    // Connected: the call flags follow and lumo hears of it.
    EXPECT_TRUE(h.s.Talking);
    EXPECT_FALSE(h.s.Incoming);
    EXPECT_TRUE(talking_or_held(h.s));
    EXPECT_FALSE(lock_got(pr::WM_EndCaller).empty());
    // The caller hangs up: the flags clear and the end time is kept for the power rules.
    h.p.telephony().remote_hang_up(*offered);
    h.p.run_until_idle();
    EXPECT_FALSE(h.s.Talking);
    EXPECT_FALSE(in_call(h.s));
    EXPECT_NE(h.s.LastCallEndTick.load(), 0u);
    EXPECT_FALSE(lock_got(pr::WM_CallEnded).empty());
}

TEST_F(Calls, TheIgnoreKeyDropsTheRingingCall) {
    started();
    phone_incoming_window();
    ring(u"5550101");
    h.p.windows().post(h.service_window(), pr::WM_PhoneKey, pr::kPhoneKeyReject, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.p.telephony().calls().empty() || call_state(*offered) == kCallStateDisconnected ||
                call_state(*offered) == kCallStateIdle);
    EXPECT_FALSE(h.s.Incoming);
    auto end = lock_got(pr::WM_EndCaller);
    ASSERT_FALSE(end.empty());
    EXPECT_EQ(end.back().w, 0);  // it rang while unlocked
}

TEST_F(Calls, ASecondCallDuringACallIsCallWaiting) {
    started();
    phone_incoming_window();
    auto first = ring(u"5550101");
    h.p.telephony().answer(*first);
    h.p.run_until_idle();
    ASSERT_TRUE(h.s.Talking);
    h.lock_received.clear();
    ring(u"5550202");
    EXPECT_TRUE(h.s.CallWaiting);
    auto run = lock_got(pr::WM_RunCaller);
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0].l, 3);
}

TEST_F(Calls, ADialledCallSetsDialingAndThenTalking) {
    started();
    auto id = h.p.telephony().dial(u"5550303");
    ASSERT_TRUE(id);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.Dialing);
    EXPECT_TRUE(in_call(h.s));
    auto dialing = lock_got(pr::WM_Dialing);
    ASSERT_FALSE(dialing.empty());
    EXPECT_EQ(dialing.front().w, 1);
    h.p.telephony().remote_answer(*id);
    h.p.run_until_idle();
    EXPECT_FALSE(h.s.Dialing);
    EXPECT_TRUE(h.s.Talking);
}

TEST_F(Calls, TheTelephonyRetriesWhileThePlatformReinitialises) {
    h.p.telephony().reinit_answers = 3;
    started();
    EXPECT_NE(h.s.LineApp, 0u);
    EXPECT_FALSE(h.s.Lines.empty());
}

}  // namespace
}  // namespace lumo::service::test

namespace lumo::service::test {
namespace {

TEST(CallTones, AKeyPlaysItsTwoToneWaveAndOtherCharactersPlayNothing) {
    ServiceHarness h;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    h.p.run_until_idle();
    h.p.sound().clear_requests();
    h.p.windows().post(h.service_window(), protocol::WM_PlayDTMF, u'5', 0);
    h.p.windows().post(h.service_window(), protocol::WM_PlayDTMF, u'q', 0);
    h.p.run_until_idle();
    auto played = h.p.sound().requests();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_TRUE(played[0].played);
    auto host = h.p.processes().host_path(played[0].path);
    ASSERT_TRUE(host);
    // 150 ms of 16-bit mono at 8 kHz behind a 44-byte header.
    EXPECT_EQ(std::filesystem::file_size(*host), 44u + 8000 * 150 / 1000 * 2);
}

}  // namespace
}  // namespace lumo::service::test

namespace lumo::service::test {
namespace {

class CallEnd : public Calls {};

TEST_F(CallEnd, ACallAnsweredWhileLockedEndsWithTheLastCallAndThePhoneDialogPutBehind) {
    // The phone application's name, which titles its call dialog.
    h.p.registry().create_key(Root::CurrentUser, u"ControlPanel\\Notifications\\Phone");
    h.p.registry().set_string(Root::CurrentUser, u"ControlPanel\\Notifications\\Phone", u"Default", u"Phone: Ring");
    started();
    EXPECT_EQ(h.s.PhoneName, u"Phone");
    h.s.Locked = true;
    phone_incoming_window();
    // The phone's call dialog, with its call time, as it shows once the call is connected.
    Hwnd dialog;
    {
        auto scope = h.p.as_process(kPhonePid);
        CreateWindowParams cp;
        cp.class_name = u"Dialog";
        cp.title = u"Phone";
        dialog = h.p.windows().create_window(cp);
        h.p.windows().register_class(u"MS_PHONE_ELAPSEDTIME", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        cp.class_name = u"MS_PHONE_ELAPSEDTIME";
        cp.title = u"0:01";
        cp.parent = dialog;
        cp.style = WS_CHILD;
        h.p.windows().create_window(cp);
        h.p.windows().show_window(dialog, SW_SHOW);
    }
    ring(u"5550101");
    ASSERT_EQ(lock_got(pr::WM_RunCaller).size(), 1u);
    EXPECT_EQ(lock_got(pr::WM_RunCaller)[0].l, 1);
    h.p.windows().post(h.service_window(), pr::WM_PhoneKey, pr::kPhoneKeyAnswer, 0);
    h.p.run_until_idle();
    ASSERT_TRUE(h.s.Talking);
    // Answered: the caller screen goes, the lock stays recorded.
    auto end = lock_got(pr::WM_EndCaller);
    ASSERT_FALSE(end.empty());
    EXPECT_EQ(end.back().w, 0);
    EXPECT_TRUE(h.s.Locked);
    h.lock_received.clear();
    h.p.windows().set_foreground_window(dialog);
    h.p.telephony().remote_hang_up(*offered);
    h.p.run_until_idle();
    auto last = lock_got(pr::WM_UpdateLastCall);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].w, dialog);
    EXPECT_FALSE(lock_got(pr::WM_HideIncoming).empty());
    // 1.6 s later the lock screen comes back over the dialog, which is put away.
    h.p.windows().set_foreground_window(dialog);
    h.p.run_for(1700);
    EXPECT_EQ(h.p.windows().foreground_window(), h.lock_window);
    // The dialog coming forward again over it is minimized.
    h.p.windows().set_foreground_window(dialog);
    h.p.run_for(500);
    EXPECT_TRUE(h.p.windows().window_info(dialog)->minimized);
}

}  // namespace
}  // namespace lumo::service::test

namespace lumo::service::test {
namespace {

TEST_F(Calls, MakeCallDialsTheNumberLumoLeftAndHangUpClosesTheDialLine) {
    started();
    h.p.registry().set_string(Root::CurrentUser, pr::kRootKey, pr::mailbox::kDialNumber, u"112");
    h.p.windows().post(h.service_window(), pr::WM_MakeCall, pr::kMakeCallDial, 0);
    h.p.run_until_idle();
    auto calls = h.p.telephony().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, u"112");
    EXPECT_FALSE(calls[0].inbound);
    EXPECT_NE(h.s.DialLine, 0u);
    h.p.windows().post(h.service_window(), pr::WM_MakeCall, pr::kMakeCallHangUp, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.s.DialLine, 0u);
    h.p.run_until_idle();
    for (auto& c : h.p.telephony().calls()) EXPECT_NE(c.state, kCallStateDialing);
}

TEST_F(Calls, OnTheSkinnedPhoneTheLongSendShortcutRunsLumoWhileTheSliderIsUp) {
    h.p.registry().create_key(Root::LocalMachine, u"Security\\Phone\\Skin");
    h.p.registry().set_dword(Root::LocalMachine, u"Security\\Phone\\Skin", u"Enabled", 1);
    h.set_byte(u"Slide2Answer", 1);
    auto write = [&](std::u16string_view path, const char* text) {
        auto host = *h.p.processes().host_path(path);
        std::filesystem::create_directories(host.parent_path());
        std::ofstream(host) << text;
    };
    auto read = [&](std::u16string_view path) {
        std::ifstream in(*h.p.processes().host_path(path));
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    auto windows = h.p.processes().special_folder(SpecialFolder::Windows);
    write(u"\\windows\\long_send.lnk", "voice dial");
    write(windows + u"\\Start Menu\\Programs\\Lumo\\lumo.lnk", "lumo");
    started();
    h.s.Locked = true;
    phone_incoming_window();
    ring(u"5550101");
    ASSERT_EQ(lock_got(pr::WM_RunCaller).size(), 1u);
    EXPECT_EQ(read(u"\\windows\\long_send.lnk"), "lumo");
    EXPECT_EQ(read(u"\\windows\\long_send.bak"), "voice dial");
    h.p.telephony().remote_hang_up(*offered);
    h.p.run_until_idle();
    EXPECT_EQ(read(u"\\windows\\long_send.lnk"), "voice dial");
}

}  // namespace
}  // namespace lumo::service::test
