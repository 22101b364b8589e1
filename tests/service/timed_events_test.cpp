// Timed events over the fake: the sleep timer's notification, its listener thread and timer
// 1047, the wallpaper timer 1032 with its wake-up check, and the vibrator.
#include <cstring>

#include "duties_harness.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;
constexpr std::uint64_t kSecond = 10000000;  // file-time units

void write_sleep_timer(DutiesHarness& h, std::uint64_t file_time) {
    std::byte b[8];
    std::memcpy(b, &file_time, 8);
    h.p.registry().create_key(Root::CurrentUser, pr::kRootKey);
    h.p.registry().set_binary(Root::CurrentUser, pr::kRootKey, u"SleepTimer", b);
}

bool sleep_timer_exists(DutiesHarness& h) {
    return h.p.registry().get_binary(Root::CurrentUser, pr::kRootKey, u"SleepTimer").has_value();
}

std::vector<UserNotification> notifications(DutiesHarness& h) {
    std::vector<UserNotification> out;
    auto handles = h.p.notify().user_notification_handles();
    for (auto handle : handles.value())
        out.push_back(*h.p.notify().user_notification(handle));
    return out;
}

class SleepTimer : public testing::Test {
  protected:
    void SetUp() override {
        LocalTime t{2026, 12, 1, 7, 7, 23, 30, 0};
        h.p.set_local_time(t);
    }
    std::uint64_t now() { return h.p.clock().local_file_time(); }
    // The service window's timers fire only when the window's loop runs: a worker's arming is
    // waited for in real time.
    bool listener_fired() {
        return h.eventually([&] { return h.logged("Timer Notification"); });
    }
    DutiesHarness h;
};

TEST_F(SleepTimer, ATimeTooCloseOrUnreadableIsDeletedAndNothingIsArmed) {
    h.set_byte(u"DebugOn", 1);
    write_sleep_timer(h, now() + 3 * kSecond);
    h.boot();
    EXPECT_FALSE(sleep_timer_exists(h));
    EXPECT_TRUE(notifications(h).empty());
    // Four bytes are no file time.
    const std::byte four[4] = {};
    h.p.registry().set_binary(Root::CurrentUser, pr::kRootKey, u"SleepTimer", four);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(sleep_timer_exists(h));
    EXPECT_TRUE(notifications(h).empty());
}

TEST_F(SleepTimer, ATimeAheadBecomesANamedEventNotificationAtThatLocalTime) {
    h.set_byte(u"DebugOn", 1);
    h.boot();
    const auto when = now() + 10 * kSecond;
    write_sleep_timer(h, when);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    auto list = notifications(h);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].application, u"\\\\.\\Notifications\\NamedEvents\\Vardex2Notify");
    EXPECT_EQ(list[0].start, file_time_to_local(when));
    EXPECT_EQ(list[0].start.minute, 23);
    EXPECT_TRUE(sleep_timer_exists(h));
    char line[32];
    std::snprintf(line, sizeof line, "AddTimer %d.%d.%d", list[0].start.hour,
                  list[0].start.minute, list[0].start.second);
    EXPECT_TRUE(h.logged(line));
    // Arming again clears the earlier one first; other programs' notifications stay.
    UserNotification other{u"\\\\.\\Notifications\\NamedEvents\\Alarm", list[0].start};
    h.p.notify().set_user_notification(other);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    EXPECT_EQ(notifications(h).size(), 2u);
}

TEST_F(SleepTimer, ARefusedNotificationDeletesTheTime) {
    h.boot();
    h.p.notify().refuse = true;
    write_sleep_timer(h, now() + 60 * kSecond);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(sleep_timer_exists(h));
}

TEST_F(SleepTimer, AtTheTimeTheMusicStopsTheLockComesAndThePhoneIsSwitchedOff) {
    h.set_byte(u"DebugOn", 1);
    h.boot();
    h.lock_screen_away();
    // Zorp plays.
    std::vector<Received> zorp_seen;
    auto zorp_pid = h.p.add_process(u"\\Program Files\\LumoP\\zorp.exe");
    {
        auto scope = h.p.as_process(zorp_pid);
        h.p.windows().register_class(u"Zorp", [&](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
            zorp_seen.push_back({m, wp, lp});
            return h.p.windows().default_proc(w, m, wp, lp);
        });
        CreateWindowParams cp;
        cp.class_name = u"Zorp";
        cp.title = u"Zorp";
        h.p.windows().create_window(cp);
    }
    h.p.registry().create_key(Root::CurrentUser, pr::kZorpKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kZorpKey, u"CurrentTitle", u"Song");
    h.p.registry().set_dword(Root::CurrentUser, pr::kZorpKey, u"Status", 0);

    write_sleep_timer(h, now() + 10 * kSecond);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    h.p.advance(9000);
    EXPECT_EQ(h.p.notify().fire_due(), 0u);
    h.p.advance(1000);
    EXPECT_EQ(h.p.notify().fire_due(), 1u);
    ASSERT_TRUE(listener_fired());
    auto is = [&](std::uint32_t msg, WParam w) {
        return std::any_of(zorp_seen.begin(), zorp_seen.end(),
                           [&](const Received& r) { return r.msg == msg && r.w == w; });
    };
    // The listener logs before it acts: its messages to the player follow a moment later.
    EXPECT_TRUE(h.eventually([&] {
        h.p.run_until_idle();
        return is(WM_COMMAND, 301) && is(WM_CLOSE, 0);
    }));
    // Timer 1047 two seconds on: the lock screen comes up, then the phone is switched off.
    h.p.run_for(1900);
    EXPECT_EQ(h.count(pr::WM_PowerOff), 0);
    h.p.run_for(200);
    EXPECT_TRUE(h.lock_in_front());
    EXPECT_EQ(h.count(pr::WM_PowerOff), 1);
    // It fires once: the listener is gone.
    EXPECT_FALSE(h.s.timer_thread);
    EXPECT_TRUE(h.logged("Timer Notification: quit"));
}

TEST_F(SleepTimer, FromSleepThePhoneIsHeldAwakeThenLetGo) {
    h.boot();
    h.s.OsMajorVersion = 5;
    write_sleep_timer(h, now() + 10 * kSecond);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    h.lock_screen_away();
    h.s.UnattendedCount = 0;
    h.transition(kPowerStateSuspend, u"suspend");
    const int held_before = h.p.power().unattended_held();
    h.p.advance(10000);
    ASSERT_EQ(h.p.notify().fire_due(), 1u);
    ASSERT_TRUE(h.eventually([&] { return h.p.power().unattended_held() == held_before + 1; }));
    h.p.run_for(2100);
    EXPECT_TRUE(h.lock_in_front());
    EXPECT_EQ(h.count(pr::WM_PowerOff), 0);
    EXPECT_EQ(h.p.power().unattended_held(), held_before);
}

TEST_F(SleepTimer, AListenerStartedAgainStillHearsTheEvent) {
    // Each re-arm stops the listener through the manual-reset stop event; the next one must not
    // find it still set.
    h.set_byte(u"DebugOn", 1);
    h.boot();
    for (int i = 0; i < 3; ++i) {
        write_sleep_timer(h, now() + 30 * kSecond);
        h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
        h.p.run_until_idle();
        ASSERT_TRUE(h.s.timer_thread);
    }
    h.p.advance(30000);
    ASSERT_EQ(h.p.notify().fire_due(), 1u);
    EXPECT_TRUE(listener_fired());
}

TEST_F(SleepTimer, AtTheEndTheNotificationIsClearedAndTheListenerStopped) {
    h.boot();
    write_sleep_timer(h, now() + 30 * kSecond);
    h.p.windows().post(h.service_window(), pr::WM_ADD_SLEEPTIMER, 0, 0);
    h.p.run_until_idle();
    ASSERT_EQ(notifications(h).size(), 1u);
    h.p.windows().destroy_window(h.service_window());
    after_loop(h.s);
    EXPECT_TRUE(notifications(h).empty());
    EXPECT_FALSE(h.s.timer_thread);
}

// --- the wallpaper ----------------------------------------------------------------------------

TEST(WallpaperTimer, ChangesEveryPeriodAndStopsOnRequest) {
    DutiesHarness h;
    h.set_byte(u"WallpaperChangeTime", 1);
    h.boot();
    h.p.run_for(60000 - kLaunchSettleMs - 10);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 0);
    h.p.run_for(20);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 1);
    h.p.run_for(60000);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 2);
    h.p.windows().post(h.service_window(), pr::WM_StopWallpaperTimer, 0, 0);
    h.p.run_for(180000);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 2);
}

TEST(WallpaperTimer, ARingingCallHoldsTheChangeBack) {
    DutiesHarness h;
    h.set_byte(u"WallpaperChangeTime", 1);
    h.set_byte(u"CallerID", 1);
    h.boot();
    h.s.Incoming = true;
    h.p.run_for(61000);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 0);
}

TEST(WallpaperTimer, APhoneWokenAfterThePeriodChangesTwoSecondsLater) {
    DutiesHarness h;
    h.set_byte(u"WallpaperChangeTime", 5);
    h.set_byte(u"Autostart", 0);
    h.boot();
    h.lock_screen_away();
    h.transition(kPowerStateSuspend, u"suspend");
    // Six minutes pass with the phone asleep (its timers do not run meanwhile).
    h.s.LastWallpaperMinute = h.s.LastWallpaperMinute - 6;
    h.p.windows().kill_timer(h.service_window(), kTimerWallpaper);
    h.p.advance(3000);
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(1990);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 0);
    h.p.run_for(20);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 1);
}

TEST(WallpaperTimer, WithinThePeriodAWakeUpChangesNothing) {
    DutiesHarness h;
    h.set_byte(u"WallpaperChangeTime", 5);
    h.set_byte(u"Autostart", 0);
    h.boot();
    h.lock_screen_away();
    h.p.windows().kill_timer(h.service_window(), kTimerWallpaper);
    h.transition(kPowerStateSuspend, u"suspend");
    h.p.advance(3000);
    h.transition(kPowerStateOn, u"on");
    h.p.run_for(5000);
    EXPECT_EQ(h.count(pr::WM_ChangeWallpaper), 0);
}

// --- vibration --------------------------------------------------------------------------------

TEST(Vibration, TheLastLedPulsesForTheAskedTime) {
    DutiesHarness h;
    h.p.notify().set_led_count(2);
    h.boot();
    h.p.windows().post(h.service_window(), pr::WM_Vibrate, 35, 0);
    h.p.run_until_idle();
    auto sw = h.p.notify().led_switches();
    ASSERT_EQ(sw.size(), 2u);
    EXPECT_EQ(sw[0].index, 1u);  // two LEDs: the second is the vibrator
    EXPECT_TRUE(sw[0].on);
    EXPECT_FALSE(sw[1].on);
    EXPECT_EQ(sw[1].at_file_time - sw[0].at_file_time, 35u * 10000u);
}

TEST(Vibration, APhoneWithoutLedsDoesNotVibrate) {
    DutiesHarness h;
    h.boot();
    EXPECT_EQ(h.s.settings.num(catalogue::Id::VibrationLED), 255u);
    h.p.windows().post(h.service_window(), pr::WM_Vibrate, 150, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.p.notify().led_switches().empty());
}

}  // namespace
}  // namespace lumo::service::test
