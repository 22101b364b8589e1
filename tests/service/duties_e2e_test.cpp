// The service's duties on a real headless device with the real Vardex2 and lumo: the system
// overrides and their recovery after a kill -9, the sleep timer waking a suspended phone, the
// exception list and music at the power button, the stylus trigger and the switch-off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/clock.h"
#include "lumo/platform/text.h"

namespace lumo::service::test {
namespace {

using namespace platform;
using lumo::test::DeviceProcess;
using lumo::test::wait_until;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";
const std::string kBackup = "Software\\Vesk\\Lumo\\Backup";
const std::string kClasses[] = {
    "ControlPanel\\Notifications\\{15F11F90-8A5F-454c-89FC-BA9B7AAB0CAD}",
    "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}",
    "ControlPanel\\Notifications\\{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}",
    "ControlPanel\\Notifications\\{A877D65A-239C-47a7-9304-0D347F580408}",
    "ControlPanel\\Notifications\\{A877D660-239C-47a7-9304-0D347F580408}",
};
const std::string kBackups[] = {"LastReminderOption", "LastSMSReminderOption",
                                "LastMMSReminderOption", "LastEmailReminderOption",
                                "LastMissedCallOption"};

class DutiesOnDevice : public testing::Test {
  protected:
    // Boots an HTC phone with its shell; the settings key is there before the service starts.
    void boot(const std::vector<std::pair<std::string, std::string>>& bytes = {},
              const std::string& oem = "htc", const char* clock = nullptr) {
        ASSERT_TRUE(d_.start({"--shell", "--oem", oem})) << d_.last_error;
        if (clock) {
            ASSERT_EQ(d_.ctl({"time", "set", clock}).status, 0);
        }
        set("HKCU", kRoot, "WakeUpDelayMS", "dword", "300");
        set("HKCU", kRoot, "DebugOn", "binary", "01");
        for (auto& [name, value] : bytes) set("HKCU", kRoot, name, "binary", value);
        start_service();
    }
    void start_service() {
        // lumo's log tells when its start-up is through; an earlier run's log is not asked.
        std::error_code ec;
        std::filesystem::remove(d_.dir() / "fs" / "Program Files" / "Lumo" / "lumo.log", ec);
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_TRUE(lumo("--hidden"));
        ASSERT_TRUE(wait_until([&] { return count(log_of("lumo.log"), "Start & Hide=1") > 0; },
                               Ms(10000)));
    }
    void set(const std::string& root, const std::string& key, const std::string& name,
             const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", root, key, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string get(const std::string& root, const std::string& key, const std::string& name) {
        return d_.ctl({"reg", "get", root, key, name}).out;
    }
    static std::string dword(std::uint32_t v) { return "dword " + std::to_string(v) + "\n"; }
    bool lumo(const std::string& how, int seconds = 10) {
        return d_.ctl({"wait", "window", "Lumo", how, "--timeout", std::to_string(seconds)})
                   .status == 0;
    }
    void lock() {
        const int before = count(service_log(), "Locked ");
        ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
        ASSERT_TRUE(lumo("--foreground", 5));
        ASSERT_TRUE(wait_until([&] { return count(service_log(), "Locked ") > before; },
                               Ms(5000)))
            << service_log();
    }
    std::string power_state() {
        std::istringstream in(d_.ctl({"power", "status"}).out);
        std::string word, value;
        in >> word >> value;
        return value;
    }
    bool wait_state(const std::string& want, Ms timeout) {
        return wait_until([&] { return power_state() == want; }, timeout);
    }
    std::string pid_of(const std::string& exe) {
        std::istringstream lines(d_.ctl({"processes"}).out);
        for (std::string line; std::getline(lines, line);)
            if (line.find(exe) != std::string::npos) return line.substr(0, line.find('\t'));
        return "";
    }
    // Sets the device clock to a fixed local time and returns it as a file time.
    std::uint64_t set_clock(const char* iso, LocalTime t) {
        EXPECT_EQ(d_.ctl({"time", "set", iso}).status, 0);
        return local_to_file_time(t);
    }
    static std::string hex_le(std::uint64_t v) {
        char buf[17];
        std::string out;
        for (int i = 0; i < 8; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", unsigned(v >> (8 * i)) & 0xFF);
            out += buf;
        }
        return out;
    }
    std::string service_log() { return log_of("Vardex2.log"); }
    std::string log_of(const std::string& name) { return d_.program_log(name); }
    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
            ++n;
        return n;
    }

    DeviceProcess d_;
};

TEST_F(DutiesOnDevice, ALockedServiceKilledHardPutsTheSixValuesBackAtItsNextStart) {
    boot({{"LockNotification", "01"}});
    // The phone has its own notification options and the HTC long-press action.
    for (const auto& key : kClasses) ASSERT_EQ(get("HKCU", key, "Options"), dword(0xF));
    ASSERT_EQ(get("HKCU", "Software\\HTC\\LongPressEndKey", "AutoExecute"), dword(1));
    lock();
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(get("HKCU", kClasses[i], "Options"), dword(0x7)) << i;
        EXPECT_EQ(get("HKCU", kBackup, kBackups[i]), dword(0xF)) << i;
    }
    EXPECT_EQ(get("HKCU", "Software\\HTC\\LongPressEndKey", "AutoExecute"), dword(255));
    EXPECT_EQ(get("HKCU", kBackup, "LastHTCLongPressEnd"), dword(1));
    EXPECT_EQ(get("HKLM", "System\\State", "Lock"), dword(1));
    // A second lock report (lumo's, as after a relock) keeps the user's values in the backup.
    const int locks = count(service_log(), "Locked ");
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8019", "0", "0"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "Locked ") > locks; }, Ms(5000)));
    EXPECT_EQ(get("HKCU", kBackup, kBackups[1]), dword(0xF));
    EXPECT_EQ(get("HKCU", kClasses[1], "Options"), dword(0x7));

    auto pid = pid_of("Vardex2.exe");
    ASSERT_FALSE(pid.empty());
    ASSERT_EQ(d_.ctl({"kill", pid}).status, 0);
    ASSERT_TRUE(wait_until([&] { return pid_of("Vardex2.exe").empty(); }, Ms(5000)));
    EXPECT_EQ(get("HKCU", kClasses[0], "Options"), dword(0x7));

    ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return get("HKCU", kBackup, kBackups[4]).empty(); }, Ms(5000)));
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(get("HKCU", kClasses[i], "Options"), dword(0xF)) << i;
        EXPECT_EQ(get("HKCU", kBackup, kBackups[i]), "") << i;
    }
    EXPECT_EQ(get("HKCU", "Software\\HTC\\LongPressEndKey", "AutoExecute"), dword(1));
    EXPECT_EQ(get("HKCU", kBackup, "LastHTCLongPressEnd"), "");
}

TEST_F(DutiesOnDevice, TheSleepTimerWakesASuspendedPhoneLocksItAndLetsItSleepAgain) {
    boot();
    const auto now = set_clock("2026-12-01T07:00:00", LocalTime{2026, 12, 2, 1, 7, 0, 0, 0});
    // Three seconds ahead is too close: deleted, nothing set.
    set("HKCU", kRoot, "SleepTimer", "binary", hex_le(now + 30000000));
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8061", "0", "0"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return get("HKCU", kRoot, "SleepTimer").empty(); }, Ms(3000)));
    EXPECT_EQ(d_.ctl({"notifications"}).out, "");

    set("HKCU", kRoot, "SleepTimer", "binary", hex_le(now + 100000000));
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8061", "0", "0"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return !d_.ctl({"notifications"}).out.empty(); }, Ms(3000)));
    EXPECT_NE(d_.ctl({"notifications"}).out.find("2026-12-01T07:00:10\t\\\\.\\Notifications\\"
                                                  "NamedEvents\\Vardex2Notify"),
              std::string::npos)
        << d_.ctl({"notifications"}).out;

    ASSERT_EQ(d_.ctl({"power", "suspend"}).status, 0);
    ASSERT_TRUE(wait_state("suspend", Ms(3000)));
    // At the time the phone wakes with its display dark, the lock comes up, and once the
    // service lets go of the phone it sleeps again.
    ASSERT_TRUE(
        wait_until([&] { return count(service_log(), "Timer Notification\r") > 0; }, Ms(15000)))
        << service_log();
    EXPECT_TRUE(lumo("--visible", 10)) << service_log();
    EXPECT_TRUE(wait_state("suspend", Ms(10000))) << d_.ctl({"power", "status"}).out;
    EXPECT_EQ(d_.ctl({"notifications"}).out, "");
    EXPECT_NE(d_.ctl({"log"}).out.find("woken by a timed event"), std::string::npos);
}

TEST_F(DutiesOnDevice, ABrowserInFrontKeepsThePowerButtonFromLocking) {
    boot();
    ASSERT_EQ(d_.ctl({"start", "iexplore.exe"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "IExplore", "--foreground", "--timeout", "5"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    std::this_thread::sleep_for(Ms(1500));
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    std::this_thread::sleep_for(Ms(2500));
    EXPECT_FALSE(lumo("--visible", 1)) << service_log();
    EXPECT_NE(service_log().find("iexplore.exe is running FG"), std::string::npos);
    // Behind another window it no longer counts.
    ASSERT_EQ(d_.ctl({"start", "camera.exe"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "camera", "--foreground", "--timeout", "5"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(lumo("--visible", 10)) << service_log();
}

TEST_F(DutiesOnDevice, APlayingPlayerKeepsThePhoneRunningWithTheDisplayOff) {
    boot();
    ASSERT_EQ(d_.ctl({"start", "wmplayer.exe"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "WMPlayer", "--timeout", "5"}).status, 0);
    // Out of the exception list, so only the music test holds the phone.
    set("HKCU", kRoot + "\\Exceptions", "ExceptionEXE05", "string", "none.exe");
    ASSERT_EQ(d_.ctl({"settings", "reload"}).status, 0);
    std::this_thread::sleep_for(Ms(2000));
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    std::this_thread::sleep_for(Ms(3000));
    EXPECT_NE(power_state(), "suspend") << d_.ctl({"power", "status"}).out;
    EXPECT_NE(service_log().find("wmplayer.exe is running"), std::string::npos);
    EXPECT_FALSE(lumo("--visible", 1)) << service_log();
}

TEST_F(DutiesOnDevice, TheStylusTakenOutUnlocksAndPutBackLocks) {
    boot({{"StylusInLock", "01"}});
    lock();
    // What the stylus subscription posts.
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8047", "1", "0"}).status, 0);
    EXPECT_TRUE(lumo("--hidden", 5)) << service_log();
    // Put back after the time in which a wake-up right after an unlock gives the screen back
    // rather than locking (the wake-up delay and 1.2 s), as a person putting a stylus away does.
    std::this_thread::sleep_for(Ms(300 + 1200 + 300));
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8047", "0", "0"}).status, 0);
    EXPECT_TRUE(lumo("--foreground", 5)) << service_log() << log_of("lumo.log") << d_.ctl({"windows"}).out;
}

TEST_F(DutiesOnDevice, VolumeDownWhileUnlockedOpensTheVolumeControlAndIsSwallowed) {
    boot({{"VolumeControl", "01"}, {"NoKeyBoardHook", "00"}});
    // The hook comes with the delayed part of the start-up.
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "Turn on Key Hook ") > 0; },
                           Ms(10000)))
        << service_log();
    ASSERT_EQ(d_.ctl({"key", "118"}).status, 0);
    // WM_VolumeControl 1 reached lumo, which showed its volume control.
    EXPECT_TRUE(wait_until(
        [&] { return count(log_of("lumo.log"), "Start Volume Control") == 1; }, Ms(3000)))
        << log_of("lumo.log");
    // The release is passed on, counted off the skip counter; the next key passes untouched.
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "Skipped: 0x76 (0)") == 1; },
                           Ms(3000)))
        << service_log();
    ASSERT_EQ(d_.ctl({"key", "65"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "Key: 0x41") == 2; }, Ms(3000)));
    EXPECT_EQ(count(service_log(), "Skipped: 0x41"), 0);
}

TEST_F(DutiesOnDevice, SwitchingOffEndsEveryProgramAndThePowerButtonBootsAgain) {
    boot({{"LockNotification", "01"}});
    set("HKCU", kRoot, "ShutDownEXE", "string", "\\Windows\\ShutDown.exe");
    // Without HTC's utility library the service runs the shut-down program.
    std::filesystem::remove(d_.dir() / "fs" / "Windows" / "HtcUtil.dll");
    lock();
    ASSERT_EQ(get("HKCU", kBackup, kBackups[0]), dword(0xF));
    ASSERT_EQ(d_.ctl({"send", "Vardex2", "0x8060", "0", "0"}).status, 0);
    ASSERT_TRUE(wait_state("off", Ms(10000))) << d_.ctl({"power", "status"}).out;
    EXPECT_TRUE(pid_of("Vardex2.exe").empty());
    EXPECT_TRUE(pid_of("lumo.exe").empty());
    EXPECT_NE(d_.ctl({"power", "status"}).out.find("display off"), std::string::npos);
    // Everything the lock changed went back before the phone went off.
    EXPECT_EQ(get("HKCU", kClasses[0], "Options"), dword(0xF));
    EXPECT_EQ(get("HKCU", kBackup, kBackups[0]), "");
    // A key does nothing; the power button boots the phone with its shell.
    ASSERT_EQ(d_.ctl({"key", "65"}).status, 0);
    EXPECT_EQ(power_state(), "off");
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(wait_state("on", Ms(3000)));
    EXPECT_EQ(d_.ctl({"wait", "window", "HHTaskBar", "--timeout", "5"}).status, 0);
    start_service();
    EXPECT_EQ(get("HKCU", kBackup, kBackups[0]), "");
}

TEST_F(DutiesOnDevice, AnHtcPhoneSwitchesOffThroughItsUtilityLibrary) {
    boot({{"LockNotification", "01"}});
    ASSERT_TRUE(std::filesystem::exists(d_.dir() / "fs" / "Windows" / "HtcUtil.dll"));
    set("HKCU", kRoot, "ShutDownEXE", "string", "\\Windows\\ShutDown.exe");
    lock();
    ASSERT_EQ(d_.ctl({"send", "Vardex2", "0x8060", "0", "0"}).status, 0);
    ASSERT_TRUE(wait_state("off", Ms(10000))) << d_.ctl({"power", "status"}).out;
    const auto log = d_.ctl({"log"}).out;
    EXPECT_NE(log.find("called HtcUtil.dll!HTCUtilDeviceOff"), std::string::npos) << log;
    // The library did it, not the program.
    EXPECT_EQ(log.find("ShutDown.exe"), std::string::npos);
    EXPECT_TRUE(pid_of("Vardex2.exe").empty());
    // Switched off while locked: the next start puts the user's values back.
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    ASSERT_TRUE(wait_state("on", Ms(3000)));
    start_service();
    EXPECT_EQ(get("HKCU", kClasses[0], "Options"), dword(0xF));
    EXPECT_EQ(get("HKCU", kBackup, kBackups[0]), "");
}

TEST_F(DutiesOnDevice, APhoneWithoutTheHookFunctionsKeepsItsVolumeKeysAndSaysNothing) {
    ASSERT_TRUE(d_.start({"--shell", "--oem", "htc"})) << d_.last_error;
    std::filesystem::remove(d_.dir() / "fs" / "Windows" / "coredll.dll");
    set("HKCU", kRoot, "WakeUpDelayMS", "dword", "300");
    set("HKCU", kRoot, "DebugOn", "binary", "01");
    set("HKCU", kRoot, "VolumeControl", "binary", "01");
    set("HKCU", kRoot, "NoKeyBoardHook", "binary", "00");
    start_service();
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "No hook functions in coredll.dll") > 0; },
                           Ms(10000)))
        << service_log();
    ASSERT_EQ(d_.ctl({"key", "118"}).status, 0);
    std::this_thread::sleep_for(Ms(1000));
    EXPECT_EQ(count(log_of("lumo.log"), "Start Volume Control"), 0);
    EXPECT_EQ(count(service_log(), "Turn on Key Hook"), 0);
    // No box: the service's only windows are its own.
    EXPECT_EQ(d_.ctl({"windows"}).out.find("Cannot hook the keyboard"), std::string::npos);
}

TEST_F(DutiesOnDevice, TheKeyboardSlideAndTheCradleLockAndUnlock) {
    boot({{"KeyboardOpenUnlock", "01"}, {"KeyboardCloseLock", "01"}, {"ActionOnCradle", "01"}}, "htc-pro");
    lock();
    // Sliding the keyboard out unlocks after the wake-up delay and its own second.
    ASSERT_EQ(d_.ctl({"keyboard", "open"}).status, 0);
    EXPECT_TRUE(lumo("--hidden", 8)) << service_log();
    // Closed after the time in which a wake-up right after an unlock gives the screen back
    // rather than locking (the wake-up delay and 1.2 s), as a person typing a while does.
    std::this_thread::sleep_for(Ms(300 + 1200 + 300));
    ASSERT_EQ(d_.ctl({"keyboard", "close"}).status, 0);
    EXPECT_TRUE(lumo("--foreground", 5)) << service_log() << log_of("lumo.log") << d_.ctl({"windows"}).out;
    // Docked once the lock is recorded: before, the lock still on its way has nothing to unlock.
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "Locked 0") >= 2; }, Ms(5000))) << service_log();
    // With ActionOnCradle 1, the cradle unlocks.
    ASSERT_EQ(d_.ctl({"cradle", "on"}).status, 0);
    EXPECT_TRUE(lumo("--hidden", 8)) << service_log();
}

TEST_F(DutiesOnDevice, AWallpaperChangeIsDueAfterTheClockMovedPastItsPeriod) {
    boot({{"WallpaperChangeTime", "01"}}, "htc", "2026-06-01T10:00:00");
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "Set Change Wallpaper 1") > 0; }, Ms(5000)))
        << service_log();
    // The sample pictures' folder; lumo hears of the new value and takes the folder.
    set("HKCU", kRoot, "Wallpaper", "string", "\\My Documents\\My Pictures");
    std::this_thread::sleep_for(Ms(1000));
    // The power button off, three minutes on while it is off, and on again: the service catches
    // up 2 s after the wake-up.
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    // Asleep for real: the service lets go of the phone once the lock is up.
    ASSERT_TRUE(wait_state("suspend", Ms(10000))) << d_.ctl({"power", "status"}).out;
    ASSERT_EQ(d_.ctl({"time", "set", "2026-06-01T10:03:00"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "WM_ChangeWallpaper") > 0; }, Ms(8000)))
        << service_log();
    EXPECT_TRUE(wait_until([&] { return count(log_of("lumo.log"), "Change Wallpaper") > 0; }, Ms(3000)))
        << log_of("lumo.log");
}

}  // namespace
}  // namespace lumo::service::test
