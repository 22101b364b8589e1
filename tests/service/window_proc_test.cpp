// The main window procedure fed messages over the fake platform: the dispatch table, the timer
// table, closing, reload, lock records, listeners and the shutdown sequence.
#include <algorithm>

#include "../src/worker.h"
#include "service_harness.h"

namespace lumo::service::test {
namespace {

using catalogue::Id;

std::vector<std::string> from(const std::vector<std::string>& lines, std::string_view first) {
    auto it = std::find(lines.begin(), lines.end(), first);
    return {it, lines.end()};
}

TEST(ServiceDispatch, EveryMessageThatReachesTheServiceHasAHandler) {
    constexpr std::uint16_t inbound = protocol::kLockToService | protocol::kAnyToService |
                                      protocol::kSettingsToService | protocol::kBroker |
                                      protocol::kServiceToSelf | protocol::kPoomToService;
    for (const auto& m : protocol::messages())
        EXPECT_EQ(handles_message(m.number), (m.routes & inbound) != 0) << m.name;
}

TEST(ServiceDispatch, OnlyTheSelfManagedTimersRepeat) {
    for (std::uint32_t id = 1025; id <= 1053; ++id) {
        bool repeats = id == kTimerWallpaper || id == kTimerAppointments || id == kTimerZorpFront ||
                       id == kTimerPasswordLock || id == kTimerLockScreenWatch ||
                       id == kTimerIncomingSearch;
        EXPECT_EQ(timer_repeats(id), repeats) << id;
    }
}

// Counts the WM_TIMER deliveries that reach the service's window through a subclass.
struct TimerCount {
    explicit TimerCount(ServiceHarness& h) : h_(h) {
        prev_ = *h.p.windows().subclass(
            h.service_window(), [this](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
                if (m == WM_TIMER) ++fired[wp];
                return h_.p.windows().call_previous(prev_, w, m, wp, lp);
            });
    }
    ServiceHarness& h_;
    PrevProc prev_ = 0;
    std::map<std::uint32_t, int> fired;
};

TEST(ServiceTimers, OneShotTimersFireOnce) {
    const std::uint32_t one_shots[] = {kTimerLaunchSettled,  kTimerTelephonyRestart,
                                       kTimerUnknownCaller,  kTimerCallEndedTopmost,
                                       kTimerWakeUpDelay,
                                       kTimerDelayUnlock,    kTimerHookOn,
                                       kTimerDelayedStart,   kTimerLockScreenFront,
                                       kTimerReminder,       kTimerEmail,
                                       kTimerBGAutoStart,    kTimerSleep,
                                       kTimerStopUnattended, kTimerPowerOffLater,
                                       kTimerStartMenu,      kTimerBlankOnTalk,
                                       kTimerAppointments};
    ServiceHarness h;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    h.p.run_until_idle();
    TimerCount count(h);
    for (auto id : one_shots) h.p.windows().set_timer(h.service_window(), id, 100);
    // BGAutoStart re-arms the unattended release 2 s ahead.
    h.p.run_for(2500);
    for (auto id : one_shots) EXPECT_EQ(count.fired[id], 1) << id;
}

TEST(ServiceTimers, PasswordTimerRepeatsUntilLumoTakesTheMessage) {
    ServiceHarness h;
    h.p.set_boot_age(120000);
    h.p.install_program(std::u16string(kLockPath));  // lumo starts but shows no window
    ASSERT_TRUE(h.start());
    h.p.run_until_idle();
    TimerCount count(h);
    h.p.windows().set_timer(h.service_window(), kTimerPasswordLock, kPasswordRetryMs);
    h.p.run_for(3500);
    EXPECT_EQ(count.fired[kTimerPasswordLock], 3);
    {
        auto scope = h.p.as_process(kLockPid);
        h.open_lock_screen(false);
    }
    h.p.run_for(3000);
    EXPECT_EQ(count.fired[kTimerPasswordLock], 4);
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{protocol::WM_LOCK_PASSWORD});
}

TEST(ServiceClose, CloseWithOneShowsTheBoxForTwoSecondsThenEndsTheService) {
    ServiceHarness h;
    h.set_byte(u"DebugOn", 1);
    ASSERT_TRUE(h.start());
    h.p.run_until_idle();
    // Leave the box open: only the service's timer may close it.
    h.p.set_dialog_responder([](const fake::DialogInfo&) { return std::nullopt; });
    auto t0 = h.p.now();
    h.p.windows().post(h.service_window(), WM_CLOSE, 1, 0);
    message_loop(h.s);
    auto boxes = h.p.dialogs();
    // The settings key existed (DebugOn), so the closing box is the only one.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Vardex2 Message");
    EXPECT_EQ(boxes[0].text, u"Vardex2 & Lumo are closing...");
    EXPECT_EQ(boxes[0].answer, message_box_cancel_button(MB_OK));  // closed by its WM_CLOSE
    EXPECT_GE(h.p.now() - t0, 2000u);
    EXPECT_EQ(h.service_window(), 0u);
    after_loop(h.s);
    auto lines = from(h.log_lines(), "Close Message 1");
    std::erase_if(lines, [](const std::string& l) {
        return l.rfind("Close Message", 0) != 0 && l.rfind("WM_DESTROY", 0) != 0;
    });
    const std::vector<std::string> expected = {
        "Close Message 1", "Close Message 0", "WM_DESTROY",   "WM_DESTROY 2", "WM_DESTROY 3",
        "WM_DESTROY 3",    "WM_DESTROY 4",    "WM_DESTROY 5", "WM_DESTROY 6", "WM_DESTROY end"};
    EXPECT_EQ(lines, expected);
}

TEST(ServiceClose, CloseWithZeroEndsAtOnceWithoutABox) {
    ServiceHarness h;
    ASSERT_TRUE(h.start());
    auto boxes_before = h.p.dialogs().size();
    h.p.windows().post(h.service_window(), WM_CLOSE, 0, 0);
    message_loop(h.s);
    after_loop(h.s);
    EXPECT_EQ(h.p.dialogs().size(), boxes_before);
    EXPECT_EQ(h.service_window(), 0u);
    EXPECT_FALSE(h.s.power_thread);
    EXPECT_FALSE(h.s.appointment_thread);
    EXPECT_FALSE(h.s.timer_thread);
}

TEST(ServiceReload, RefreshClosesLumoRereadsSettingsAndStartsLumoAgainHidden) {
    ServiceHarness h;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    h.p.run_for(kLaunchSettleMs);  // the start-up's launch of lumo has settled
    ASSERT_TRUE(h.lock_window);
    h.set_number(u"DelayBootUpMS", 9000);
    h.p.windows().post(h.service_window(), protocol::WM_RefreshSetting, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.p.windows().is_window(h.lock_window));
    EXPECT_FALSE(h.s.Locked);
    EXPECT_EQ(h.s.settings.num(Id::DelayBootUpMS), 9000u);
    EXPECT_EQ(h.p.launches().size(), 1u);
    h.p.run_for(790);
    EXPECT_EQ(h.p.launches().size(), 1u);
    h.p.run_for(20);
    ASSERT_EQ(h.p.launches().size(), 2u);
    EXPECT_EQ(h.p.launches()[1].arguments, u"-hide");
}

TEST(ServiceReload, ARefreshWhileLockedBringsLumoBackShownAndLocked) {
    ServiceHarness h;
    h.lock_screen_locks = true;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    h.p.run_for(kLaunchSettleMs);
    ASSERT_TRUE(h.lock_window);
    Hwnd old_lumo = h.lock_window;
    h.p.windows().post(h.service_window(), protocol::WM_Locked, 0, 0);
    h.p.run_until_idle();
    ASSERT_TRUE(h.s.Locked);
    h.set_number(u"DelayBootUpMS", 9000);
    h.p.windows().post(h.service_window(), protocol::WM_RefreshSetting, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.p.windows().is_window(old_lumo));
    EXPECT_EQ(h.s.settings.num(Id::DelayBootUpMS), 9000u);
    h.p.run_for(kRestartLockScreenMs);
    ASSERT_EQ(h.p.launches().size(), 2u);
    // Started shown, lumo locks at once; the service records the lock again.
    EXPECT_EQ(h.p.launches()[1].arguments, u"");
    EXPECT_TRUE(h.p.launches()[1].shown);
    EXPECT_NE(h.lock_window, old_lumo);
    EXPECT_TRUE(h.s.Locked);
    EXPECT_FALSE(h.s.RelockPending);
    // A second reload, now locked again, does the same.
    h.p.run_for(kLaunchSettleMs);
    h.p.windows().post(h.service_window(), protocol::WM_RefreshSetting, 0, 0);
    h.p.run_for(kRestartLockScreenMs);
    ASSERT_EQ(h.p.launches().size(), 3u);
    EXPECT_EQ(h.p.launches()[2].arguments, u"");
    EXPECT_TRUE(h.s.Locked);
}

TEST(ServiceLockRecords, LockedAndUnlockConfirmToLumoWithTheDisplayFlag) {
    ServiceHarness h;
    h.set_byte(u"DebugOn", 1);
    ASSERT_TRUE(h.start());
    h.p.run_until_idle();
    h.lock_received.clear();
    h.s.LcdOff = true;
    h.p.windows().post(h.service_window(), protocol::WM_Locked, 0, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.Locked);
    h.s.LcdOff = false;
    h.p.windows().post(h.service_window(), protocol::WM_Unlock, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.s.Locked);
    ASSERT_EQ(h.lock_received.size(), 2u);
    EXPECT_EQ(h.lock_received[0].msg, protocol::WM_VardexLocked);
    EXPECT_EQ(h.lock_received[0].w, 1u);
    EXPECT_EQ(h.lock_received[0].l, 1);
    EXPECT_EQ(h.lock_received[1].w, 0u);
    EXPECT_EQ(h.lock_received[1].l, 0);
    auto lines = h.log_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Locked 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Unlocked"), lines.end());
}

TEST(ServiceListeners, TenListenersAreKeptAndAnEleventhIsIgnored) {
    ServiceHarness h;
    ASSERT_TRUE(h.start());
    auto& win = h.p.windows();
    for (WParam w = 101; w <= 111; ++w)
        win.post(h.service_window(), protocol::WM_AddStateListener, w, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.s.StateListeners.back(), 110u);
    EXPECT_EQ(std::count(h.s.StateListeners.begin(), h.s.StateListeners.end(), Hwnd{111}), 0);
    win.post(h.service_window(), protocol::WM_RemoveStateListener, 103, 0);
    win.post(h.service_window(), protocol::WM_AddStateListener, 111, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.s.StateListeners[2], 111u);
}

TEST(ServiceReports, LockScreenReportsSetTheirFlags) {
    ServiceHarness h;
    ASSERT_TRUE(h.start());
    auto& win = h.p.windows();
    win.post(h.service_window(), protocol::WM_VolumeControl, 1, 0);
    win.post(h.service_window(), protocol::WM_ShutDown, protocol::kShutDownOpened, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.VolumeControlShown);
    EXPECT_TRUE(h.s.ShutdownDialogShown);
    win.post(h.service_window(), protocol::WM_ShutDown, protocol::kShutDownClosed, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.s.ShutdownDialogShown);
}

TEST(ServiceWorkers, AWorkerThatIgnoresItsStopIsLeftBehindAfterItsWait) {
    fake::FakePlatform p;
    std::atomic<bool> release = false;
    auto w = Worker::start(p.sync(), [&](SyncHandle) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    ASSERT_TRUE(w);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(w->stop(50));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    release = true;
    w.reset();
    auto ok = Worker::start(p.sync(), [&](SyncHandle stop) {
        p.sync().wait({&stop, 1}, false, kInfinite);
    });
    EXPECT_TRUE(ok->stop(300));
}

}  // namespace
}  // namespace lumo::service::test
