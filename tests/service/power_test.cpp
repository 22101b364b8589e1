// The service's power decisions and the lock screen's bring-up over the fake platform: each
// power notification is handed to the service as its power thread hands it on, with the
// thread's sleeps moving the manual clock, and the shell is a set of windows of another program.
#include <algorithm>

#include "../src/parts.h"
#include "../src/worker.h"
#include "service_harness.h"

namespace lumo::service::test {
namespace {

using catalogue::Id;
namespace pr = protocol;

constexpr std::uint32_t kShellPid = 77;
constexpr std::uint32_t kZorpPid = 88;
constexpr Rect kTaskBarRect{0, 0, 480, 52};

class PowerHarness : public ServiceHarness {
  public:
    PowerHarness() {
        // The thread is not run here: the tests hand it the notifications themselves.
        p.power().refuse_requests = true;
        s.sleep = [this](std::uint32_t ms) {
            slept.push_back(ms);
            p.advance(ms);
        };
        make_shell();
    }

    // Starts the service; lumo is started hidden and recorded from then on.
    void boot() {
        p.set_boot_age(120000);
        ASSERT_TRUE(start());
        p.run_for(kLaunchSettleMs);
        ASSERT_TRUE(lock_window);
        record_lock_screen();
    }

    void record_lock_screen() {
        prev_ = *p.windows().subclass(lock_window,
                                      [this](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
                                          seen.push_back({m, wp, lp});
                                          return p.windows().call_previous(prev_, w, m, wp, lp);
                                      });
    }

    void transition(std::uint32_t flags, std::u16string_view name) {
        PowerRecord r;
        r.type = kPowerTransition;
        r.flags = flags;
        r.state_name = std::u16string(name);
        on_power_record(s, r);
    }
    void power_info(bool ac, std::uint8_t percent) {
        PowerRecord r;
        r.type = kPowerInfoChange;
        r.info.ac_line_status = ac ? 1 : 0;
        r.info.battery_percent = percent;
        on_power_record(s, r);
    }

    // Locks as lumo does: in front, then WM_Locked to the service.
    void lock() {
        wake_lock_screen(s, kWakeFront);
        p.windows().post(service_window(), pr::WM_Locked, 0, 0);
        p.run_until_idle();
        ASSERT_TRUE(s.Locked);
    }
    void unlock() {
        p.windows().show_window(lock_window, SW_HIDE);
        p.windows().post(service_window(), pr::WM_Unlock, 0, 0);
        p.run_until_idle();
    }

    bool lock_in_front() { return p.windows().foreground_window() == lock_window; }
    bool lock_visible() { return p.windows().window_info(lock_window)->visible; }
    int count(std::uint32_t msg, std::optional<WParam> w = {}) {
        return int(std::count_if(seen.begin(), seen.end(), [&](const Received& r) {
            return r.msg == msg && (!w || r.w == *w);
        }));
    }
    bool logged(std::string_view line) {
        auto lines = log_lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    Rect task_bar_rect() { return p.windows().window_info(task_bar)->rect; }

    // A plain window of another program (the current one when `pid` is 0).
    Hwnd outside_window(std::uint32_t pid, std::u16string_view cls, bool shown) {
        std::optional<fake::FakePlatform::ProcessScope> scope;
        if (pid) scope.emplace(p, pid);
        auto& win = p.windows();
        win.register_class(cls, [this](Hwnd h, std::uint32_t m, WParam w, LParam l) {
            return p.windows().default_proc(h, m, w, l);
        });
        CreateWindowParams cp;
        cp.class_name = std::u16string(cls);
        cp.title = std::u16string(cls);
        Hwnd h = win.create_window(cp);
        if (shown) win.show_window(h, SW_SHOWNA);
        return h;
    }

    Hwnd task_bar = 0, desktop = 0, notify = 0, manila = 0;
    std::vector<Received> desktop_seen;
    std::vector<Received> seen;
    std::vector<std::uint32_t> slept;

  private:
    void make_shell() {
        auto scope = p.as_process(kShellPid);
        auto& win = p.windows();
        auto make = [&](std::u16string_view cls, std::u16string_view title, Rect r,
                        std::vector<Received>* log) {
            win.register_class(cls, [this, log](Hwnd h, std::uint32_t m, WParam w, LParam l) {
                if (log) log->push_back({m, w, l});
                return p.windows().default_proc(h, m, w, l);
            });
            CreateWindowParams cp;
            cp.class_name = std::u16string(cls);
            cp.title = std::u16string(title);
            cp.rect = r;
            Hwnd h = win.create_window(cp);
            win.show_window(h, SW_SHOWNA);
            return h;
        };
        desktop = make(u"DesktopExplorerWindow", u"Desktop", {0, 52, 480, 800}, &desktop_seen);
        task_bar = make(u"HHTaskBar", u"", kTaskBarRect, nullptr);
        notify = make(u"WinCENotify", u"WinCENotify", {}, nullptr);
        win.show_window(notify, SW_HIDE);
        win.set_foreground_window(desktop);
    }
    PrevProc prev_ = 0;
};

// --- the transitions ----------------------------------------------------------------------------

TEST(PowerTransitions, DisplayIdleOnBatteryWaitsTheWakeUpDelayThenBringsTheLockScreenToTheFront) {
    PowerHarness h;
    h.set_number(u"WakeUpDelayMS", 700);
    h.boot();
    h.transition(kPowerStateIdle, u"useridle");
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.LcdOff);
    EXPECT_EQ(h.slept, std::vector<std::uint32_t>{700});
    EXPECT_TRUE(h.lock_visible());
    EXPECT_TRUE(h.lock_in_front());
}

TEST(PowerTransitions, DisplayIdleLocksOnlyWhenTheSourcesSettingSaysSo) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::BlankStart, 0);
    h.s.settings.set_num(Id::ACBlankStart, 1);
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_FALSE(h.lock_visible());
    h.s.LcdOff = false;
    h.power_info(true, 80);
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_TRUE(h.lock_visible());
}

TEST(PowerTransitions, DuringACallWithBluetoothOnlyInCallLockAndBluetoothOffIdleDoesNotLock) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::InCallLock, 2);
    h.s.BluetoothOn = false;
    h.s.Talking = true;
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_FALSE(h.lock_visible());
    EXPECT_TRUE(h.slept.empty());
    // With Bluetooth on the lock screen comes up during the call, without the in-call check.
    h.s.BluetoothOn = true;
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_TRUE(h.lock_visible());
}

TEST(PowerTransitions, AHeldCallInTheRegistryCountsAsTalking) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::InCallLock, 1);
    h.p.registry().create_key(Root::LocalMachine, u"System\\State\\Phone");
    h.p.registry().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Active Call Count", 1);
    EXPECT_TRUE(in_call(h.s));
    EXPECT_FALSE(talking_or_held(h.s));
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_FALSE(h.lock_visible()) << "a call that is only counted is not talked: no lock";
    h.p.registry().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status", 0x4000);
    EXPECT_TRUE(talking_or_held(h.s));
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_TRUE(h.lock_visible());
}

TEST(PowerTransitions, BacklightOffTellsALockedScreenAndLocksAnUnlockedPhoneWithIdleStart) {
    PowerHarness h;
    h.boot();
    h.transition(kPowerStateBacklightOff, u"backlightoff");
    EXPECT_TRUE(h.s.BacklightOff);
    EXPECT_TRUE(h.lock_in_front());
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_BACKLIGHT_OFF), 0);
    h.transition(kPowerStateBacklightOff, u"backlightoff");
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_BACKLIGHT_OFF), 1);
}

TEST(PowerTransitions, TheDisplayComingOnArmsTheDelayedWakeUpWhichLocks) {
    PowerHarness h;
    h.set_number(u"WakeUpDelayMS", 600);
    h.boot();
    h.p.advance(10000);  // well past the start-up
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    EXPECT_FALSE(h.s.LcdOff);
    EXPECT_FALSE(h.lock_visible());
    h.p.run_for(590);
    EXPECT_FALSE(h.lock_visible());
    h.p.run_for(20);
    EXPECT_TRUE(h.lock_visible());
    EXPECT_TRUE(h.lock_in_front());
}

TEST(PowerTransitions, WakingSoonAfterAnUnlockDoesNotLockAgain) {
    PowerHarness h;
    h.set_number(u"WakeUpDelayMS", 500);
    h.boot();
    h.lock();
    h.unlock();
    h.p.advance(3400);  // < 500 + 3000 after the unlock
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(2000);
    EXPECT_FALSE(h.lock_visible());
    // Later than that it does.
    h.p.advance(3000);
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(600);
    EXPECT_TRUE(h.lock_visible());
}

TEST(PowerTransitions, ASecondOnWithinTwoSecondsOnlyUpdatesTheTimeStamp) {
    PowerHarness h;
    h.set_byte(u"DebugOn", 1);
    h.boot();
    h.p.advance(10000);
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(1000);
    ASSERT_TRUE(h.lock_visible());
    h.p.windows().show_window(h.lock_window, SW_HIDE);
    h.s.LcdOff = true;
    std::uint32_t before = h.s.LastPowerStateTick;
    h.p.advance(500);
    h.transition(kPowerStateOn, u"on");
    EXPECT_EQ(h.s.LastPowerStateTick, before + 1500);
    h.p.run_for(2000);
    EXPECT_FALSE(h.lock_visible());
    auto lines = h.log_lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("PS: 10000 ignored", 0) == 0; }));
}

TEST(PowerTransitions, TheDisplayAlreadyOnIsOnlyLogged) {
    PowerHarness h;
    h.set_byte(u"DebugOn", 1);
    h.boot();
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(2000);
    EXPECT_FALSE(h.lock_visible());
    EXPECT_TRUE(h.logged("LCD is ON"));
}

TEST(PowerTransitions, WithoutAutoStartTheWakeUpOnlyReactivatesALockScreenInFront) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::Autostart, 0);
    h.lock();
    h.p.advance(10000);
    h.s.LcdOff = true;
    h.seen.clear();
    h.transition(kPowerStateOn, u"on");
    h.p.run_until_idle();
    EXPECT_EQ(h.slept.back(), h.s.settings.num(Id::WakeupDelayMS));
    EXPECT_EQ(h.count(WM_ACTIVATE, 1), 1);
    EXPECT_EQ(h.count(WM_SETFOCUS, 1), 1);
}

TEST(PowerTransitions, ResumingClearsTheDisplayFlagOnlyWhileAnUnlockIsPending) {
    PowerHarness h;
    h.boot();
    h.s.LcdOff = true;
    h.transition(0, u"resuming");
    EXPECT_TRUE(h.s.LcdOff);
    h.s.DelayUnlocking = true;
    h.transition(0, u"resuming");
    EXPECT_FALSE(h.s.LcdOff);
    h.transition(kPowerStateSuspend, u"suspend");
    EXPECT_TRUE(h.s.LcdOff);
    EXPECT_EQ(h.s.UnattendedCount, 0);
}

// --- the power button ----------------------------------------------------------------------------

TEST(PowerButton, WhileUnlockedTheBackgroundStartLocksAndReleasesTheRequestLater) {
    PowerHarness h;
    h.boot();
    ASSERT_EQ(h.p.power().unattended_held(), 1);  // taken at start-up
    h.transition(kPowerStateUnattended, u"unattended");
    EXPECT_TRUE(h.s.LcdOff);
    h.p.run_until_idle();  // timer 1045 at 0 ms
    EXPECT_TRUE(h.lock_visible());
    EXPECT_EQ(h.count(pr::WM_StopAllTimer), 1);
    EXPECT_EQ(h.p.power().unattended_held(), 1);
    h.p.run_for(2000);
    EXPECT_EQ(h.p.power().unattended_held(), 0);
    // A second press while the display is off changes nothing.
    h.seen.clear();
    h.transition(kPowerStateUnattended, u"unattended");
    h.p.run_until_idle();
    EXPECT_TRUE(h.seen.empty());
}

TEST(PowerButton, WhileLockedTheLockScreenIsToldAndStopsItsTimers) {
    PowerHarness h;
    h.boot();
    h.lock();
    h.seen.clear();
    h.transition(kPowerStateUnattended, u"unattended");
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_AutoStartLocked), 1);
    EXPECT_EQ(h.count(pr::WM_StopAllTimer), 1);
    EXPECT_EQ(h.slept.back(), 1000u);
}

TEST(PowerButton, AnOpenVolumeControlIsClosedFirstAndTheStartWaitsHalfASecond) {
    PowerHarness h;
    h.boot();
    h.s.VolumeControlShown = true;
    h.transition(kPowerStateUnattended, u"unattended");
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_VolumeControl, 0), 1);
    EXPECT_FALSE(h.lock_visible());
    h.p.run_for(500);
    EXPECT_TRUE(h.lock_visible());
}

TEST(PowerButton, HeldItAsksTheLockScreenForTheShutdownSliderAndNothingElse) {
    PowerHarness h;
    h.boot();
    // The record as the queue carries it.
    auto record = decode_power_record(encode_power_button_held());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->type, kPowerButtonHeld);
    const bool visible = h.lock_visible();
    on_power_record(h.s, *record);
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_ShutDown, pr::kShutDownOpened), 1);
    EXPECT_EQ(h.lock_visible(), visible) << "a held button neither locks nor unlocks";
    EXPECT_TRUE(h.slept.empty());
}

TEST(PowerButton, WithARingingReminderThePhoneRunsOnWithTheDisplayOffAndDoesNotLock) {
    PowerHarness h;
    h.boot();
    h.s.counters[kReminders] = 1;
    h.transition(kPowerStateUnattended, u"unattended");
    h.p.run_for(3000);
    EXPECT_FALSE(h.lock_visible());
    EXPECT_EQ(h.p.power().system_states(), std::vector<std::uint32_t>{kPowerStateIdle});
    EXPECT_EQ(h.p.power().unattended_held(), 0);
}

TEST(PowerButton, EndsARingingCallWhenTheSettingsSaySo) {
    PowerHarness h;
    h.set_byte(u"DebugOn", 1);
    h.boot();
    h.s.settings.set_num(Id::CallerID, 1);
    h.s.settings.set_num(Id::PowerButtonEndCall, 1);
    h.s.Incoming = true;
    h.transition(kPowerStateUnattended, u"unattended");
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_PowerButtonHangUp), 1);
    EXPECT_TRUE(h.logged("Power button hang up"));
    EXPECT_FALSE(h.lock_visible());
}

// --- external power and the battery ---------------------------------------------------------------

TEST(PowerSupply, ChargerWithActionOnACOneUnlocksAfterTheDelayAndTheUnlockCarriesOne) {
    PowerHarness h;
    h.set_number(u"WakeUpDelayMS", 500);
    h.boot();
    h.s.settings.set_num(Id::ActionOnAC, 1);
    h.lock();
    h.seen.clear();
    h.power_info(true, 90);
    EXPECT_TRUE(h.s.DelayUnlocking);
    h.p.run_for(1490);
    EXPECT_EQ(h.count(pr::WM_Unlock), 0);
    h.p.run_for(20);
    ASSERT_EQ(h.count(pr::WM_Unlock), 1);
    EXPECT_EQ(h.count(pr::WM_Unlock, 1), 1);
    EXPECT_FALSE(h.s.DelayUnlocking);
    EXPECT_EQ(h.s.PowerPlugged, 0);
}

TEST(PowerSupply, TheDelayedUnlockTellsLumoWhetherTheDisplayIsOff) {
    PowerHarness h;
    h.set_number(u"WakeUpDelayMS", 500);
    h.boot();
    h.s.settings.set_num(Id::ActionOnAC, 1);
    h.lock();
    // The charger goes in while the locked phone's display is off.
    h.transition(kPowerStateIdle, u"useridle");
    h.p.run_until_idle();
    ASSERT_TRUE(h.s.LcdOff);
    h.seen.clear();
    h.power_info(true, 90);
    h.p.run_for(1510);
    auto unlock = std::find_if(h.seen.begin(), h.seen.end(),
                               [](const Received& r) { return r.msg == pr::WM_Unlock; });
    ASSERT_NE(unlock, h.seen.end());
    EXPECT_EQ(unlock->w, 1u);
    EXPECT_EQ(unlock->l, 1);
}

TEST(PowerSupply, ChargerWithActionOnACTwoLocksAndPlaysTheLockSound) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::ActionOnAC, 2);
    h.power_info(true, 90);
    h.p.run_until_idle();
    EXPECT_TRUE(h.lock_in_front());
    EXPECT_EQ(h.count(pr::WM_ShowLock), 1);
    EXPECT_EQ(h.slept.back(), 500u);
}

TEST(PowerSupply, TheBatteryIsBroadcastToLumoAndTheListeners) {
    PowerHarness h;
    h.boot();
    std::vector<Received> listener;
    {
        auto scope = h.p.as_process(kZorpPid);
        h.p.windows().register_class(u"Listener", [&](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
            if (m == pr::WM_UpdateBattery) listener.push_back({m, wp, lp});
            return h.p.windows().default_proc(w, m, wp, lp);
        });
        CreateWindowParams cp;
        cp.class_name = u"Listener";
        Hwnd l = h.p.windows().create_window(cp);
        h.p.windows().post(h.service_window(), pr::WM_AddStateListener, l, 0);
    }
    h.p.run_until_idle();
    h.power_info(true, 42);
    h.p.run_until_idle();
    ASSERT_EQ(h.count(pr::WM_UpdateBattery), 1);
    EXPECT_EQ(h.count(pr::WM_UpdateBattery, 42), 1);
    EXPECT_EQ(h.count(pr::WM_BatteryDone), 1);
    ASSERT_EQ(listener.size(), 1u);
    EXPECT_EQ(listener[0].w, 42u);
    EXPECT_EQ(listener[0].l, 1);
    EXPECT_TRUE(h.s.OnAC);
}

// --- switching the display off -----------------------------------------------------------------

TEST(PowerDisplay, IdleOffSwitchesTheDisplayOffAndPressesThePowerKeyASecondLater) {
    PowerHarness h;
    h.boot();
    h.p.windows().post(h.service_window(), pr::WM_IdleOff, 0, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.p.power().video_states(), std::vector<std::uint32_t>{kVideoPowerOff});
    EXPECT_EQ(h.count(pr::WM_StopAllTimer), 1);
    h.p.run_for(990);
    EXPECT_EQ(h.count(pr::WM_PowerOff), 0);
    h.p.run_for(20);
    EXPECT_EQ(h.count(pr::WM_PowerOff), 1);
}

TEST(PowerDisplay, NoPowerSuspendKeepsThePhoneRunningAndTheDisplayComingOnStopsThePress) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::NoPowerSuspend, 1);
    h.p.windows().post(h.service_window(), pr::WM_IdleOff, 0, 0);
    h.p.run_for(2000);
    EXPECT_EQ(h.count(pr::WM_PowerOff), 0);
    h.s.settings.set_num(Id::NoPowerSuspend, 0);
    h.p.windows().post(h.service_window(), pr::WM_IdleOff, 0, 0);
    h.p.run_until_idle();
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(2000);
    EXPECT_EQ(h.count(pr::WM_PowerOff), 0);
}

TEST(PowerDisplay, TheBlankOnTalkTimerSwitchesALitDisplayOff) {
    PowerHarness h;
    h.boot();
    h.p.windows().set_timer(h.service_window(), kTimerBlankOnTalk, 200);
    h.p.run_for(200);
    EXPECT_EQ(h.p.power().video_states(), std::vector<std::uint32_t>{kVideoPowerOff});
    h.s.LcdOff = true;
    h.p.windows().set_timer(h.service_window(), kTimerBlankOnTalk, 200);
    h.p.run_for(200);
    EXPECT_EQ(h.p.power().video_states().size(), 1u);
}

TEST(PowerDisplay, WithoutTheEscapeTheDisplayIsLeftToTheDevice) {
    PowerHarness h;
    h.p.power().video_escape = false;
    h.boot();
    EXPECT_FALSE(h.s.DisplayPowerEscape);
    h.p.windows().post(h.service_window(), pr::WM_OffDisplay, 0, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.p.power().video_states().empty());
}

TEST(PowerDisplay, TurningTheScreenUnlocksWhenUnlockOnRotateIsSet) {
    PowerHarness h;
    h.boot();
    h.s.settings.set_num(Id::UnlockOnRotate, 1);
    h.lock();
    h.p.windows().post(h.service_window(), WM_SETTINGCHANGE, SETTINGCHANGE_RESET, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.DelayUnlocking);
    h.p.run_for(h.s.settings.num(Id::WakeupDelayMS) + 1000);
    EXPECT_EQ(h.count(pr::WM_Unlock, 0), 1);
}

TEST(PowerThread, AFailedQueueIsLoggedAndTheThreadEnds) {
    PowerHarness h;
    h.set_byte(u"DebugOn", 1);
    h.boot();
    ASSERT_TRUE(h.s.power_thread);
    EXPECT_TRUE(h.s.power_thread->stop(1000)) << "the thread did not end by itself";
    EXPECT_TRUE(h.logged("Error: couldn't create MsgQueue or request PowerNotifications"));
}

// --- bringing up the lock screen --------------------------------------------------------------

TEST(LockBringUp, TwoLockRequestsWithinOneSecondStartLumoOnce) {
    ServiceHarness h(true);
    h.p.power().refuse_requests = true;
    h.p.install_program(std::u16string(kLockPath));  // starts, but shows no window in time
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    h.p.run_for(1500);
    auto before = h.p.launches().size();
    wake_lock_screen(h.s, kWakeFront);
    h.p.run_for(300);
    wake_lock_screen(h.s, kWakeFront);
    EXPECT_EQ(h.p.launches().size(), before + 1);
    EXPECT_EQ(h.p.launches().back().arguments, u"");
    h.p.run_for(800);
    wake_lock_screen(h.s, kWakeFront);
    EXPECT_EQ(h.p.launches().size(), before + 2);
}

TEST(LockBringUp, ALockSubclassesTheDesktopHidesTheTaskBarAndAnUnlockPutsItBack) {
    PowerHarness h;
    h.boot();
    h.lock();
    EXPECT_EQ(h.task_bar_rect(), (Rect{0, -52, 480, 0}));
    EXPECT_TRUE(h.s.TaskBarHidden);
    // The desktop is kept from painting and from taking the front.
    h.desktop_seen.clear();
    h.p.windows().post(h.desktop, WM_PAINT, 0, 0);
    h.p.windows().set_foreground_window(h.desktop);
    h.p.run_until_idle();
    EXPECT_TRUE(std::none_of(h.desktop_seen.begin(), h.desktop_seen.end(),
                             [](const Received& r) { return r.msg == WM_PAINT; }));
    EXPECT_TRUE(h.lock_in_front());
    h.unlock();
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
    EXPECT_FALSE(h.s.TaskBarHidden);
    h.desktop_seen.clear();
    h.p.windows().post(h.desktop, WM_PAINT, 0, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.desktop_seen.size(), 1u);
}

TEST(LockBringUp, AnUnlockShowsTheTaskBarAlsoWhenAFullScreenLockScreenHidItByItself) {
    PowerHarness h;
    h.boot();
    h.lock();
    force_slide_front(h.s);
    EXPECT_FALSE(h.p.windows().window_info(h.task_bar)->visible);
    h.unlock();
    EXPECT_TRUE(h.p.windows().window_info(h.task_bar)->visible);
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
}

TEST(LockBringUp, LockAndUnlockBookkeepingOfTheUnattendedRequest) {
    PowerHarness h;
    h.boot();
    // Locked with the display on: released at once.
    h.lock();
    EXPECT_EQ(h.p.power().unattended_held(), 0);
    h.unlock();
    EXPECT_EQ(h.p.power().unattended_held(), 1);
    EXPECT_EQ(h.s.LastUnlockTick, h.p.clock().tick_count());
    // Locked with the display off: released two seconds later.
    h.s.LcdOff = true;
    h.lock();
    EXPECT_EQ(h.p.power().unattended_held(), 1);
    h.p.run_for(2000);
    EXPECT_EQ(h.p.power().unattended_held(), 0);
}

TEST(LockBringUp, AnUnlockEndsAPendingDelayedUnlockSoTheNextWakeUpLocksAgain) {
    PowerHarness h;
    h.boot();
    h.lock();
    delayed_unlock(h.s, 0);
    ASSERT_TRUE(h.s.DelayUnlocking);
    h.unlock();
    EXPECT_FALSE(h.s.DelayUnlocking);
    h.p.advance(10000);
    h.s.LcdOff = true;
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(1000);
    EXPECT_TRUE(h.lock_visible());
}

TEST(LockBringUp, TheLockScreenHidingItselfToUnlockIsNotPulledBackByTheGuards) {
    PowerHarness h;
    h.boot();
    h.lock();
    // lumo hides first and reports the unlock after: the desktop takes the front meanwhile.
    h.p.windows().show_window(h.lock_window, SW_HIDE);
    h.p.run_until_idle();
    EXPECT_FALSE(h.lock_visible());
    EXPECT_EQ(h.p.windows().foreground_window(), h.desktop);
    h.unlock();
    EXPECT_FALSE(h.lock_visible());
}

TEST(LockBringUp, ClosingManilaWhileLockedBringsTheLockScreenBackSixSecondsLater) {
    PowerHarness h;
    h.manila = h.outside_window(kShellPid, u"Manila", true);
    h.boot();
    h.lock();
    EXPECT_EQ(h.s.Manila.window, h.manila);
    {
        auto scope = h.p.as_process(kShellPid);
        h.p.windows().destroy_window(h.manila);
    }
    h.p.windows().set_foreground_window(h.desktop);  // swallowed: the desktop is guarded
    h.p.windows().show_window(h.lock_window, SW_HIDE);
    h.p.run_for(5900);
    EXPECT_FALSE(h.lock_visible());
    h.p.run_for(200);
    EXPECT_TRUE(h.lock_visible());
    EXPECT_TRUE(h.lock_in_front());
}

TEST(LockBringUp, NoManilaLockLeavesManilaAlone) {
    PowerHarness h;
    h.manila = h.outside_window(kShellPid, u"Manila", false);
    h.boot();
    h.s.settings.set_num(Id::NoManilaLock, 1);
    h.lock();
    EXPECT_EQ(h.s.Manila.window, 0u);
}

TEST(LockBringUp, TheNotificationWindowIsGuardedFromStartUpAndANotifyWhileLockedIsRecorded) {
    PowerHarness h;
    h.boot();
    EXPECT_EQ(h.s.Notify.window, h.notify);
    h.lock();
    h.s.settings.set_num(Id::LockNotification, 0);
    h.p.advance(1234);
    h.p.windows().send(h.notify, WM_NOTIFY, 5, 0);
    EXPECT_EQ(h.s.ReminderWakeTick, h.p.clock().tick_count());
    // With LockNotification on the reminders are recounted a second later.
    h.s.settings.set_num(Id::LockNotification, 1);
    h.s.counters[kReminders] = 3;
    std::vector<Received> self;
    PrevProc prev = 0;
    prev = *h.p.windows().subclass(h.service_window(),
                                        [&](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
                                            if (m == pr::WM_CHANGE_REMINDER) self.push_back({m, wp, lp});
                                            return h.p.windows().call_previous(prev, w, m, wp, lp);
                                        });
    h.p.windows().send(h.notify, WM_NOTIFY, 5, 0);
    h.p.run_for(1000);
    ASSERT_EQ(self.size(), 1u);
    EXPECT_EQ(self[0].w, 3u);
    // The guard passes every message on.
    EXPECT_EQ(h.p.windows().send(h.notify, WM_CLOSE, 0, 0).value_or(-1), 0);
}

TEST(LockBringUp, ANewMessageWhileLockedRepeatsTheLockWhenLockNotificationIsSet) {
    PowerHarness h;
    h.boot();
    h.lock();
    h.s.settings.set_num(Id::LockNotification, 1);
    h.seen.clear();
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_MESSAGINGSMSUNREAD, 2, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_CHANGE_MESSAGINGSMSUNREAD, 2), 1);
    EXPECT_EQ(h.count(pr::WM_REPEAT_LOCK), 1);
    // No repeat for a count that fell to 0, nor during a talk.
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_MESSAGINGSMSUNREAD, 0, 0);
    h.s.Talking = true;
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_PHONEMISSEDCALLS, 1, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.count(pr::WM_REPEAT_LOCK), 1);
}

TEST(LockBringUp, AMessageWhileTheDisplayIsOffKeepsThePhoneAwakeForSixSeconds) {
    PowerHarness h;
    h.boot();
    h.lock();  // the start-up's request is given back
    ASSERT_EQ(h.p.power().unattended_held(), 0);
    h.s.LcdOff = true;
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, 1, 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.p.power().unattended_held(), 1);
    h.p.run_for(6000);
    EXPECT_EQ(h.p.power().unattended_held(), 0);
}

TEST(LockBringUp, HeadphonesWhileLockedHideTheLockScreenStartZorpAndBringItBackOnceZorpIsInFront) {
    PowerHarness h;
    Hwnd zorp = 0;
    h.p.install_program(u"\\Program Files\\Lumo\\zorp.exe", [&](std::uint32_t, std::u16string_view) {
        zorp = h.outside_window(0, u"Zorp", false);
    });
    h.put_file(u"\\Program Files\\Lumo\\zorp.exe");
    h.set_byte(u"HPstartZorp", 1);
    h.set_byte(u"HPcloseZorp", 1);
    h.boot();
    h.lock();
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_HEADPHONE, 1, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.lock_visible());
    ASSERT_TRUE(zorp);
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
    h.p.run_for(7000);
    EXPECT_FALSE(h.lock_visible());
    h.p.windows().show_window(zorp, SW_SHOW);
    h.p.windows().set_foreground_window(zorp);
    h.p.run_for(1000);
    EXPECT_TRUE(h.lock_visible());
    // Unplugged: the player is closed.
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_HEADPHONE, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.p.windows().is_window(zorp));
}

TEST(LockBringUp, ABluetoothHeadsetGoingAwayClosesZorpAndSwitchesTheRadioOffWithHPcloseZorpTwo) {
    PowerHarness h;
    h.put_file(u"\\Program Files\\Lumo\\zorp.exe");  // the settings only hold with a player
    h.set_byte(u"HPcloseZorp", 2);
    h.p.registry().create_key(Root::LocalMachine, u"System\\State\\Hardware");
    h.p.registry().set_dword(Root::LocalMachine, u"System\\State\\Hardware", u"Bluetooth", 0x5);
    h.boot();
    Hwnd zorp = h.outside_window(kZorpPid, u"Zorp", false);
    // Still connected (bit 0x4): nothing happens.
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_BT_MSHEADPHONE, 0x4, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.p.windows().is_window(zorp));
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_BT_MSHEADPHONE, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.p.windows().is_window(zorp));
    EXPECT_EQ(h.slept.back(), 1000u);
    EXPECT_EQ(h.p.registry().get_dword(Root::LocalMachine, u"System\\State\\Hardware", u"Bluetooth"),
              0u);
    auto radios = h.p.wireless().devices();
    ASSERT_EQ(radios.size(), 2u);
    EXPECT_FALSE(radios[1].on);
}

// --- keeping the lock: lumo going away, the service ending or starting again -------------------

// lumo hides the task bar for its full screen while it covers the screen.
void hide_task_bar_as_lumo(PowerHarness& h) {
    auto scope = h.p.as_process(h.lock_pid);
    h.p.windows().show_window(h.task_bar, SW_HIDE);
}

TEST(LockKeeping, LumoDyingWhileLockedIsStartedAgainShownWithinASecondAndLocks) {
    PowerHarness h;
    h.set_byte(u"DebugOn", 1);
    h.lock_screen_locks = true;
    h.boot();
    h.lock();
    Hwnd old_lumo = h.lock_window;
    const auto launches = h.p.launches().size();
    ASSERT_TRUE(h.p.processes().terminate(h.lock_pid));
    h.p.run_until_idle();
    ASSERT_FALSE(h.p.windows().is_window(old_lumo));
    h.p.run_for(kLockScreenWatchMs);
    ASSERT_EQ(h.p.launches().size(), launches + 1);
    EXPECT_EQ(h.p.launches().back().arguments, u"");  // shown: it locks as it comes up
    EXPECT_TRUE(h.logged("Lumo gone while locked"));
    EXPECT_TRUE(h.s.Locked);
    EXPECT_FALSE(h.s.RelockPending);
    EXPECT_TRUE(h.lock_in_front());
    // The shell stayed guarded meanwhile, and the unlock of the new lumo gives it back.
    EXPECT_EQ(h.task_bar_rect(), (Rect{0, -52, 480, 0}));
    h.unlock();
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
    // Unlocked, nothing is watched: lumo ending now is left to the next lock.
    ASSERT_TRUE(h.p.processes().terminate(h.lock_pid));
    h.p.run_for(3 * kLockScreenWatchMs);
    EXPECT_EQ(h.p.launches().size(), launches + 1);
    wake_lock_screen(h.s, kWakeFront);
    EXPECT_EQ(h.p.launches().size(), launches + 2);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.Locked);
}

TEST(LockKeeping, LumoDyingDuringACallComesBackHiddenAndTheShellIsGivenBack) {
    PowerHarness h;
    h.lock_screen_locks = true;
    h.boot();
    h.lock();
    hide_task_bar_as_lumo(h);
    const auto launches = h.p.launches().size();
    h.s.Talking = true;
    ASSERT_TRUE(h.p.processes().terminate(h.lock_pid));
    h.p.run_for(kLockScreenWatchMs);
    ASSERT_EQ(h.p.launches().size(), launches + 1);
    EXPECT_EQ(h.p.launches().back().arguments, u"-hide");
    EXPECT_FALSE(h.s.Locked);
    EXPECT_FALSE(h.s.RelockPending);
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
    EXPECT_TRUE(h.p.windows().window_info(h.task_bar)->visible);
    // The notification window stays guarded: that guard lasts as long as the service.
    EXPECT_EQ(h.s.Notify.window, h.notify);
    h.p.run_for(3 * kLockScreenWatchMs);
    EXPECT_EQ(h.p.launches().size(), launches + 1);
}

TEST(LockKeeping, AWakeWhileLumoIsGoneStartsItAtOnceInsteadOfFindingNothingToShow) {
    PowerHarness h;
    h.lock_screen_locks = true;
    h.boot();
    h.lock();
    const auto launches = h.p.launches().size();
    ASSERT_TRUE(h.p.processes().terminate(h.lock_pid));
    // The power button's background start, before the watch came round.
    wake_lock_screen(h.s, kWakeFront);
    ASSERT_EQ(h.p.launches().size(), launches + 1);
    EXPECT_EQ(h.p.launches().back().arguments, u"");
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.Locked);
    EXPECT_TRUE(h.lock_in_front());
    // One start only, also when the watch comes round after.
    h.p.run_for(2 * kLockScreenWatchMs);
    EXPECT_EQ(h.p.launches().size(), launches + 1);
}

TEST(LockKeeping, LumoThatCannotBeStartedIsTriedAgainEverySecondUntilItLocks) {
    PowerHarness h;
    h.boot();
    h.lock();
    const auto launches = h.p.launches().size();
    ASSERT_TRUE(h.p.processes().terminate(h.lock_pid));
    h.p.install_program(std::u16string(kLockPath));  // starts, but shows no window
    h.p.run_for(kLockScreenWatchMs);
    EXPECT_EQ(h.p.launches().size(), launches + 1);
    EXPECT_FALSE(h.s.Locked);
    EXPECT_TRUE(h.s.RelockPending);
    h.p.run_for(2 * kLockScreenWatchMs);
    EXPECT_GE(h.p.launches().size(), launches + 2);
}

TEST(LockKeeping, ALockAskedForWhileLumoIsStillStartingComesOnceItIsUp) {
    for (bool lumo_comes_up : {true, false}) {
        SCOPED_TRACE(lumo_comes_up);
        ServiceHarness h;
        h.p.power().refuse_requests = true;
        std::uint32_t slow_pid = 0;
        // lumo takes its time: its window is not there when shell execution returns.
        h.p.install_program(std::u16string(kLockPath),
                            [&](std::uint32_t pid, std::u16string_view) { slow_pid = pid; });
        h.p.set_boot_age(120000);
        ASSERT_TRUE(h.start());
        ASSERT_EQ(h.p.launches().size(), 1u);
        EXPECT_EQ(h.p.launches()[0].arguments, u"-hide");
        // The power button within the second of the start-up's launch.
        wake_lock_screen(h.s, kWakeFront);
        EXPECT_EQ(h.p.launches().size(), 1u);
        if (lumo_comes_up) {
            auto scope = h.p.as_process(slow_pid);
            h.open_lock_screen(false);  // hidden, as it was started
        } else {
            h.p.install_program(std::u16string(kLockPath), [&](std::uint32_t, std::u16string_view) {
                h.open_lock_screen(true);
            });
        }
        h.p.run_for(kLaunchSettleMs + kLockScreenWatchMs);
        // The lock screen is in front: brought there, or started again shown.
        ASSERT_TRUE(h.lock_window);
        EXPECT_TRUE(h.p.windows().window_info(h.lock_window)->visible);
        EXPECT_EQ(h.p.windows().foreground_window(), h.lock_window);
        EXPECT_EQ(h.p.launches().size(), lumo_comes_up ? 1u : 2u);
        if (!lumo_comes_up) {
            EXPECT_EQ(h.p.launches()[1].arguments, u"");
        }
    }
}

TEST(LockKeeping, ClosingTheServiceWhileLockedPutsTheTaskBarBackAndShowsIt) {
    for (WParam box : {0, 1}) {
        SCOPED_TRACE(box);
        PowerHarness h;
        h.boot();
        h.lock();
        hide_task_bar_as_lumo(h);
        const auto launches = h.p.launches().size();
        // A second start: lumo is told to close, then the service.
        h.p.windows().post(h.lock_window, WM_CLOSE, 0, 0);
        h.p.windows().post(h.service_window(), WM_CLOSE, box, 0);
        message_loop(h.s);
        after_loop(h.s);
        EXPECT_EQ(h.service_window(), 0u);
        EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
        EXPECT_TRUE(h.p.windows().window_info(h.task_bar)->visible);
        EXPECT_NE(h.p.windows().foreground_window(), h.task_bar);
        // The desktop paints again, and the lumo closed on purpose was not brought back.
        h.desktop_seen.clear();
        h.p.windows().post(h.desktop, WM_PAINT, 0, 0);
        h.p.run_until_idle();
        EXPECT_EQ(h.desktop_seen.size(), 1u);
        EXPECT_EQ(h.p.launches().size(), launches);
    }
}

TEST(LockKeeping, AStartAfterARunKilledWhileLockedPutsTheTaskBarBack) {
    PowerHarness h;
    {
        // What the killed run and its lumo left: the bar above the screen, and hidden.
        auto scope = h.p.as_process(kShellPid);
        h.p.windows().move_window(h.task_bar, {0, -52, 480, 0});
        h.p.windows().show_window(h.task_bar, SW_HIDE);
    }
    h.boot();
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
    EXPECT_TRUE(h.p.windows().window_info(h.task_bar)->visible);
    EXPECT_EQ(h.p.windows().foreground_window(), h.desktop);
    EXPECT_FALSE(h.s.Locked);
    // The next lock and unlock work as ever.
    h.lock();
    EXPECT_EQ(h.task_bar_rect(), (Rect{0, -52, 480, 0}));
    h.unlock();
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
}

TEST(LockKeeping, AStartWhileTheOldLumoStillShowsItsLockTakesTheLockOver) {
    PowerHarness h;
    {
        auto scope = h.p.as_process(kShellPid);
        h.p.windows().move_window(h.task_bar, {0, -52, 480, 0});
        h.p.windows().show_window(h.task_bar, SW_HIDE);
    }
    h.lock_pid = h.p.add_process(std::u16string(kLockPath));
    {
        auto scope = h.p.as_process(h.lock_pid);
        h.open_lock_screen(true);
        h.p.windows().set_foreground_window(h.lock_window);
    }
    h.boot();
    EXPECT_TRUE(h.s.Locked);
    // The bar stays away under the lock; its unlock puts it back.
    EXPECT_EQ(h.task_bar_rect(), (Rect{0, -52, 480, 0}));
    h.unlock();
    EXPECT_EQ(h.task_bar_rect(), kTaskBarRect);
}

}  // namespace
}  // namespace lumo::service::test
