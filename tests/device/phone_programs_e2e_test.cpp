// The phone's own pieces the lock service meets, through a real host: user notifications that
// signal a named event at a local time (also waking a suspended phone), the LEDs and the
// vibrator, the system values a model has, the phone's programs started by name, and the
// shut-down program with the cold boot after it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

class PhonePrograms : public testing::Test {
  protected:
    void boot(std::vector<std::string> extra = {"--shell"}) {
        ASSERT_TRUE(device_.start(extra)) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"programs-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    std::string state() {
        std::istringstream in(device_.ctl({"power", "status"}).out);
        std::string key, value;
        in >> key >> value;
        return value;
    }
    bool wait_state(const std::string& want, Ms limit) {
        return wait_until([&] { return state() == want; }, limit);
    }
    std::string get(const char* root, const char* key, const char* name) {
        return device_.ctl({"reg", "get", root, key, name}).out;
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
};

TEST_F(PhonePrograms, ANotificationSignalsItsEventAtItsTimeAndIsGone) {
    boot();
    ASSERT_EQ(device_.ctl({"time", "set", "2026-12-01T07:00:00"}).status, 0);
    auto& notify = p_->notify();
    auto event = p_->sync().create_event(u"TestEvent", true, false);
    ASSERT_NE(event, 0u);
    UserNotification n{u"\\\\.\\Notifications\\NamedEvents\\TestEvent",
                       LocalTime{2026, 12, 2, 1, 7, 0, 2, 0}};
    auto h = notify.set_user_notification(n);
    ASSERT_NE(h, 0u);
    UserNotification later{u"\\\\.\\Notifications\\NamedEvents\\Later",
                           LocalTime{2026, 12, 2, 1, 9, 0, 0, 0}};
    auto h2 = notify.set_user_notification(later);
    EXPECT_EQ(device_.ctl({"notifications"}).out,
              std::to_string(h) + "\t2026-12-01T07:00:02\t\\\\.\\Notifications\\NamedEvents\\TestEvent\n" +
                  std::to_string(h2) + "\t2026-12-01T09:00:00\t\\\\.\\Notifications\\NamedEvents\\Later\n");
    EXPECT_EQ(notify.user_notification(h2)->start.hour, 9);
    EXPECT_EQ(p_->sync().wait({&event, 1}, false, 0), kWaitTimeout);
    EXPECT_EQ(p_->sync().wait({&event, 1}, false, 5000), 0u);
    EXPECT_EQ(notify.user_notification_handles()->size(), 1u);
    EXPECT_TRUE(notify.clear_user_notification(h2));
    EXPECT_FALSE(notify.clear_user_notification(h2));
    EXPECT_EQ(device_.ctl({"notifications"}).out, "");
    // Nonsense is refused.
    EXPECT_EQ(notify.set_user_notification({u"", n.start}), 0u);
}

TEST_F(PhonePrograms, NotificationsOutliveARestartOfTheHostAndADamagedStoreIsSetAside) {
    boot();
    // Far enough ahead that nothing falls due while the host is down.
    auto& notify = p_->notify();
    auto h1 = notify.set_user_notification({u"\\\\.\\Notifications\\NamedEvents\\First",
                                            LocalTime{2030, 6, 6, 1, 9, 0, 0, 0}});
    auto h2 = notify.set_user_notification({u"\\\\.\\Notifications\\NamedEvents\\Second",
                                            LocalTime{2030, 6, 6, 1, 10, 30, 0, 0}});
    auto h3 = notify.set_user_notification({u"\\\\.\\Notifications\\NamedEvents\\Cleared",
                                            LocalTime{2030, 6, 6, 1, 11, 0, 0, 0}});
    ASSERT_TRUE(h1 && h2 && h3);
    ASSERT_TRUE(notify.clear_user_notification(h3));
    const auto listed = device_.ctl({"notifications"}).out;
    p_.reset();
    ASSERT_EQ(device_.stop(), 0);
    boot();
    EXPECT_EQ(device_.ctl({"notifications"}).out, listed);
    // Handles stay valid across the restart, and a new one never reuses an old number.
    EXPECT_EQ(p_->notify().user_notification(h2)->start.minute, 30);
    auto h4 = p_->notify().set_user_notification({u"\\\\.\\Notifications\\NamedEvents\\Fourth",
                                                  LocalTime{2030, 6, 6, 1, 12, 0, 0, 0}});
    EXPECT_GT(h4, h3);
    EXPECT_TRUE(p_->notify().clear_user_notification(h1));
    // A cut store: set aside, said in the log, and the phone starts without notifications.
    p_.reset();
    ASSERT_EQ(device_.stop(), 0);
    const auto file = device_.dir() / "notifications";
    std::filesystem::resize_file(file, std::filesystem::file_size(file) - 3);
    boot();
    EXPECT_EQ(device_.ctl({"notifications"}).out, "");
    EXPECT_TRUE(std::filesystem::exists(device_.dir() / "notifications.bad"));
    EXPECT_NE(device_.ctl({"log"}).out.find("is damaged"), std::string::npos);
}

TEST_F(PhonePrograms, TheBrowserShowsAndKeepsTheAddressItWasStartedWith) {
    boot();
    ASSERT_EQ(device_.ctl({"start", "iexplore.exe", "https://lumo.vesk.dev/"}).status, 0);
    EXPECT_EQ(device_.ctl({"wait", "window", "IExplore", "--foreground", "--timeout", "3"}).status, 0);
    EXPECT_NE(device_.ctl({"windows"}).out.find("https://lumo.vesk.dev/ - Internet Explorer"), std::string::npos)
        << device_.ctl({"windows"}).out;
    EXPECT_NE(device_.ctl({"log"}).out.find("iexplore.exe https://lumo.vesk.dev/"), std::string::npos);
}

TEST_F(PhonePrograms, LibrariesAreFoundByTheirFilesAndOnlyTheirLoaderUsesAHandle) {
    boot({"--shell", "--oem", "htc"});
    auto& proc = p_->processes();
    auto core = proc.load_library(u"coredll.dll");
    ASSERT_NE(core, 0u);
    EXPECT_TRUE(proc.library_function(core, u"SetWindowsHookExW", false));
    EXPECT_FALSE(proc.library_function(core, u"HTCUtilDeviceOff", false));
    EXPECT_EQ(proc.load_library(u"nosuch.dll"), 0u);
    // Another program cannot use this one's handle.
    std::string error;
    auto other = device::connect(device_.socket_path(), u"other", &error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(other->processes().library_function(core, u"SetWindowsHookExW", false));
    proc.free_library(core);
    EXPECT_FALSE(proc.library_function(core, u"SetWindowsHookExW", false));
    // Taking the file away takes the library away.
    std::filesystem::remove(device_.dir() / "fs" / "Windows" / "coredll.dll");
    EXPECT_EQ(proc.load_library(u"coredll.dll"), 0u);
    // HTC's switch-off library switches the phone off.
    auto htc = proc.load_library(u"\\Windows\\HTCUtil.dll");
    ASSERT_NE(htc, 0u);
    EXPECT_TRUE(proc.library_function(htc, u"HTCUtilDeviceOff", true));
    EXPECT_TRUE(wait_state("off", Ms(10000))) << device_.ctl({"power", "status"}).out;
}

TEST_F(PhonePrograms, ADueNotificationWakesASuspendedPhoneWhichSleepsAgainUnheld) {
    boot();
    ASSERT_EQ(device_.ctl({"time", "set", "2026-12-01T07:00:00"}).status, 0);
    auto event = p_->sync().create_event(u"WakeMe", true, false);
    ASSERT_NE(p_->notify().set_user_notification({u"\\\\.\\Notifications\\NamedEvents\\WakeMe",
                                                  LocalTime{2026, 12, 2, 1, 7, 0, 2, 0}}),
              0u);
    ASSERT_EQ(device_.ctl({"power", "suspend"}).status, 0);
    ASSERT_EQ(p_->sync().wait({&event, 1}, false, 5000), 0u);
    EXPECT_EQ(state(), "unattended");
    // Holding a request keeps it running with the display dark; letting go, it sleeps.
    ASSERT_TRUE(p_->power().set_unattended(true));
    std::this_thread::sleep_for(Ms(500));
    EXPECT_EQ(state(), "unattended");
    ASSERT_TRUE(p_->power().set_unattended(false));
    EXPECT_TRUE(wait_state("suspend", Ms(7000)));
}

TEST_F(PhonePrograms, TheVibratorsPulsesAreRecordedWithTheirLength) {
    boot();
    ASSERT_EQ(p_->notify().led_count(), 2u);
    ASSERT_TRUE(p_->notify().set_led(1, true));
    std::this_thread::sleep_for(Ms(150));
    ASSERT_TRUE(p_->notify().set_led(1, false));
    ASSERT_TRUE(p_->notify().set_led(0, true));
    EXPECT_FALSE(p_->notify().set_led(2, true));
    std::istringstream lines(device_.ctl({"led"}).out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    unsigned index = 9, ms = 0;
    ASSERT_EQ(std::sscanf(first.c_str(), "%u\t%u ms", &index, &ms), 2) << first;
    EXPECT_EQ(index, 1u);
    EXPECT_GE(ms, 140u);
    EXPECT_LT(ms, 2000u);
    EXPECT_EQ(second.substr(0, 2), "0\t");
    EXPECT_NE(second.find("\ton"), std::string::npos);
    // The verbs take no arguments.
    EXPECT_EQ(device_.ctl({"led", "1"}).status, 2);
    EXPECT_EQ(device_.ctl({"notifications", "all"}).status, 2);
    EXPECT_EQ(device_.ctl({"led", "--help"}).status, 0);
}

TEST_F(PhonePrograms, ThePhonesSystemValuesFollowItsMaker) {
    boot({"--shell", "--oem", "htc"});
    const char* reminders = "ControlPanel\\Notifications\\{15F11F90-8A5F-454c-89FC-BA9B7AAB0CAD}";
    EXPECT_EQ(get("HKCU", reminders, "Options"), "dword 15\n");
    EXPECT_EQ(get("HKLM", "System\\State", "Lock"), "dword 0\n");
    EXPECT_EQ(get("HKCU", "Software\\HTC\\LongPressEndKey", "AutoExecute"), "dword 1\n");
    EXPECT_EQ(get("HKLM", "System\\State\\Samsung\\Mouse", "ActionMethod"), "");
    // What the user changed stays at the next boot.
    ASSERT_EQ(device_.ctl({"reg", "set", "HKCU", reminders, "Options", "dword", "3"}).status, 0);
    p_.reset();
    ASSERT_EQ(device_.stop(), 0);
    boot({"--shell", "--oem", "samsung"});
    EXPECT_EQ(get("HKCU", reminders, "Options"), "dword 3\n");
    EXPECT_EQ(get("HKLM", "System\\State\\Samsung\\Mouse", "ActionMethod"), "dword 3001\n");
}

TEST_F(PhonePrograms, ThePhonesProgramsStartByNameWithAWindowInFront) {
    boot();
    for (const char* exe : {"iexplore.exe", "wmplayer.exe", "player.exe", "camera.exe"}) {
        auto r = device_.ctl({"start", exe});
        ASSERT_EQ(r.status, 0) << exe << r.err;
    }
    EXPECT_EQ(device_.ctl({"wait", "window", "camera", "--foreground", "--timeout", "3"}).status,
              0);
    for (const char* cls : {"IExplore", "WMPlayer", "Player"})
        EXPECT_EQ(device_.ctl({"wait", "window", cls, "--visible", "--timeout", "3"}).status, 0)
            << cls;
    auto list = device_.ctl({"processes"}).out;
    EXPECT_NE(list.find("\\Windows\\iexplore.exe"), std::string::npos) << list;
    EXPECT_NE(device_.ctl({"start", "nosuch.exe"}).status, 0);
}

TEST_F(PhonePrograms, TheShutDownProgramSwitchesOffAndThePowerButtonBootsAgain) {
    boot();
    ASSERT_EQ(device_.ctl({"start", "iexplore.exe"}).status, 0);
    ASSERT_EQ(device_.ctl({"start", "ShutDown.exe"}).status, 0);
    ASSERT_TRUE(wait_state("off", Ms(8000))) << device_.ctl({"power", "status"}).out;
    EXPECT_EQ(device_.ctl({"processes"}).out.find("iexplore"), std::string::npos);
    EXPECT_EQ(device_.ctl({"wait", "window", "HHTaskBar", "--gone", "--timeout", "1"}).status, 0);
    EXPECT_NE(device_.ctl({"power", "status"}).out.find("display off"), std::string::npos);
    // Only the power button does something now.
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    EXPECT_EQ(state(), "on");  // "on" is the power button here: a cold boot
    EXPECT_EQ(device_.ctl({"wait", "window", "HHTaskBar", "--visible", "--timeout", "5"}).status,
              0);
}

TEST_F(PhonePrograms, KeysAndTouchesDoNotWakeASwitchedOffPhone) {
    boot();
    ASSERT_EQ(device_.ctl({"start", "ShutDown.exe"}).status, 0);
    ASSERT_TRUE(wait_state("off", Ms(8000)));
    ASSERT_EQ(device_.ctl({"key", "65"}).status, 0);
    device_.ctl({"tap", "100", "100"});
    EXPECT_EQ(state(), "off");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(wait_state("on", Ms(3000)));
}

}  // namespace
}  // namespace lumo::test
