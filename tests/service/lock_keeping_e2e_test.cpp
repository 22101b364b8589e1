// A lock in force and the shell on a real headless device, while the programs come and go: the
// service stopped or reloaded while locked, lumo killed or closed, the service killed and started
// again. The task bar is checked in the window table and on the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::service::test {
namespace {

using namespace platform;
using lumo::test::DeviceProcess;
using lumo::test::wait_until;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";
constexpr int kTaskBarHeight = 52;  // the 480x800 phone at 192 dpi

class LockKeepingOnDevice : public testing::Test {
  protected:
    // Boots the phone with its shell and the service (log on, short wake-up delay), and takes
    // the home screen as it looks before any lock.
    void boot() {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        set("WakeUpDelayMS", "dword", "300");
        set("DebugOn", "binary", "01");
        std::string error;
        p_ = device::connect(d_.socket_path(), u"lock-keeping-test", &error);
        ASSERT_TRUE(p_) << error;
        home_bar_ = task_bar();
        ASSERT_EQ(home_bar_.rect, (Rect{0, 0, 480, kTaskBarHeight}));
        ASSERT_TRUE(home_bar_.visible);
        home_ = screenshot("home.png");
        ASSERT_FALSE(home_.empty());
        start_service();
    }
    void start_service() {
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
        ASSERT_TRUE(lumo("--hidden"));
        // lumo ignores focus until its start-up is through; the log says when it is.
        ASSERT_TRUE(wait_until([&] { return count(log_of("lumo.log"), "Start & Hide=1") > 0; },
                               Ms(10000)));
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    bool lumo(const std::string& how, int seconds = 10) {
        return d_.ctl({"wait", "window", "Lumo", how, "--timeout", std::to_string(seconds)})
                   .status == 0;
    }
    // Locks as the user's shortcut does, and waits until the service has the lock on record.
    void lock() {
        const int before = count(service_log(), "Locked ");
        ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
        ASSERT_TRUE(lumo("--foreground", 5));
        ASSERT_TRUE(wait_until([&] { return count(service_log(), "Locked ") > before; },
                               Ms(5000)))
            << service_log();
        ASSERT_TRUE(wait_until([&] { return task_bar().rect.bottom <= 0; }, Ms(2000)));
        EXPECT_FALSE(task_bar().visible);
    }
    void unlock_by_sliding() {
        ASSERT_EQ(d_.ctl({"drag", "88", "740", "440", "740", "--ms", "300"}).status, 0);
        ASSERT_TRUE(lumo("--hidden", 5));
    }
    // The task bar is back where the shell keeps it, shown, and the screen's top strip looks as
    // it did at boot (not the black strip of a hidden bar).
    void expect_task_bar_home() {
        EXPECT_TRUE(wait_until(
            [&] {
                auto bar = task_bar();
                return bar.rect == home_bar_.rect && bar.visible;
            },
            Ms(3000)))
            << d_.ctl({"windows"}).out << service_log();
        auto shot = screenshot("after.png");
        ASSERT_EQ(shot.size(), home_.size());
        EXPECT_GT(same_share(shot, home_, 0, kTaskBarHeight), 0.9)
            << "the top strip is not the task bar";
    }

    struct Bar {
        Rect rect;
        bool visible = false;
    };
    Bar task_bar() {
        Hwnd bar = p_->windows().find_window(u"HHTaskBar", std::nullopt);
        auto info = p_->windows().window_info(bar);
        return info ? Bar{info->rect, info->visible} : Bar{};
    }
    Hwnd lumo_window() { return p_->windows().find_window(u"Lumo", u"Lumo"); }
    std::string pid_of(const std::string& exe) {
        std::istringstream lines(d_.ctl({"processes"}).out);
        for (std::string line; std::getline(lines, line);)
            if (line.find(exe) != std::string::npos) return line.substr(0, line.find('\t'));
        return "";
    }
    void kill(const std::string& exe) {
        auto pid = pid_of(exe);
        ASSERT_FALSE(pid.empty()) << exe;
        ASSERT_EQ(d_.ctl({"kill", pid}).status, 0);
    }

    // The screen as RGB565.
    std::vector<std::uint16_t> screenshot(const std::string& name) {
        auto file = d_.dir() / name;
        auto r = d_.ctl({"screenshot", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        if (const char* keep = std::getenv("LUMO_SHOT_DIR"))
            std::filesystem::copy_file(file, std::filesystem::path(keep) / name,
                                       std::filesystem::copy_options::overwrite_existing);
        auto pic = make_sdl_imaging()->open(to_u16(file.string()));
        if (!pic) return {};
        width_ = pic->width();
        std::vector<std::uint8_t> rgba(std::size_t(pic->width()) * pic->height() * 4);
        pic->read_rgba(pic->width(), pic->height(), rgba);
        std::vector<std::uint16_t> out(rgba.size() / 4);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = std::uint16_t((rgba[i * 4] >> 3) << 11 | (rgba[i * 4 + 1] >> 2) << 5 |
                                   (rgba[i * 4 + 2] >> 3));
        return out;
    }
    // Share of the pixels of rows y0..y1 that two screens have alike.
    double same_share(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b,
                      int y0, int y1) const {
        int same = 0, total = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < width_; ++x, ++total) {
                auto i = std::size_t(y) * width_ + x;
                same += a[i] == b[i];
            }
        return total ? double(same) / total : 0;
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
    std::unique_ptr<device::DevicePlatform> p_;
    Bar home_bar_;
    std::vector<std::uint16_t> home_;
    int width_ = 0;
};

// --- the service ending while locked ----------------------------------------------------------

TEST_F(LockKeepingOnDevice, ASecondStartWithNoMessageWhileLockedLeavesTheTaskBarInPlace) {
    boot();
    lock();
    ASSERT_EQ(d_.ctl({"start", kService, "-nomsg"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--gone", "--timeout", "5"}).status, 0);
    ASSERT_TRUE(lumo("--gone", 5));
    expect_task_bar_home();
}

TEST_F(LockKeepingOnDevice, ASecondStartWithTheClosingBoxWhileLockedLeavesTheTaskBarInPlace) {
    boot();
    lock();
    ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--gone", "--timeout", "6"}).status, 0);
    // lumo was closed with the service, and nothing brought it back during the box.
    ASSERT_TRUE(lumo("--gone", 1));
    EXPECT_EQ(pid_of("lumo.exe"), "");
    expect_task_bar_home();
}

TEST_F(LockKeepingOnDevice, TheServiceClosedAloneWhileLockedPutsTheTaskBarBackUnderTheLock) {
    boot();
    lock();
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "16", "0", "0"}).status, 0);  // WM_CLOSE
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--gone", "--timeout", "5"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return task_bar().rect == home_bar_.rect; }, Ms(3000)));
    // lumo stays up, locked; its own unlock leaves the home screen whole.
    ASSERT_TRUE(lumo("--foreground", 1));
    unlock_by_sliding();
    expect_task_bar_home();
}

// --- a reload while locked ----------------------------------------------------------------------

TEST_F(LockKeepingOnDevice, AReloadWhileLockedLocksAgainWithANewLumoAndTheUnlockGivesTheBarBack) {
    boot();
    lock();
    Hwnd before = lumo_window();
    const std::string lumo_pid = pid_of("lumo.exe");
    auto lock_time = d_.ctl({"reg", "get", "HKCU", kRoot, "LastLockTime"}).out;
    ASSERT_EQ(d_.ctl({"post", "Vardex2", std::to_string(protocol::WM_RefreshSetting), "0", "0"})
                  .status,
              0);
    ASSERT_TRUE(wait_until(
        [&] {
            Hwnd now = lumo_window();
            auto info = now ? p_->windows().window_info(now) : std::nullopt;
            return now && now != before && info && info->visible &&
                   p_->windows().foreground_window() == now;
        },
        Ms(5000)))
        << d_.ctl({"windows"}).out << service_log();
    EXPECT_NE(pid_of("lumo.exe"), lumo_pid);
    // The service has the lock on record again; the lock began when it first did.
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "Locked 0") == 2; }, Ms(3000)))
        << service_log();
    EXPECT_EQ(d_.ctl({"reg", "get", "HKCU", kRoot, "LastLockTime"}).out, lock_time);
    // It draws its lock screen, and a tap does not open it.
    ASSERT_EQ(d_.ctl({"tap", "240", "400"}).status, 0);
    std::this_thread::sleep_for(Ms(500));
    EXPECT_TRUE(lumo("--foreground", 0));
    auto shot = screenshot("relocked.png");
    EXPECT_LT(same_share(shot, home_, 100, 600), 0.5) << "the home screen shows";
    EXPECT_EQ(task_bar().rect.bottom, 0);
    unlock_by_sliding();
    expect_task_bar_home();
}

// --- lumo going away --------------------------------------------------------------------------

TEST_F(LockKeepingOnDevice, LumoKilledWhileLockedComesBackLockedWithinAFewSeconds) {
    boot();
    lock();
    const std::string old_pid = pid_of("lumo.exe");
    kill("lumo.exe");
    ASSERT_TRUE(wait_until(
        [&] {
            auto pid = pid_of("lumo.exe");
            return !pid.empty() && pid != old_pid && lumo("--foreground", 0);
        },
        Ms(4000)))
        << d_.ctl({"windows"}).out << service_log();
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "Locked 0") == 2; }, Ms(3000)))
        << service_log();
    EXPECT_NE(service_log().find("Lumo gone while locked"), std::string::npos);
    // Still locked: the task bar stays away until the slider is dragged.
    EXPECT_EQ(task_bar().rect.bottom, 0);
    unlock_by_sliding();
    expect_task_bar_home();
    // And the lock after that works as ever (once lumo's own grace after an unlock is over).
    std::this_thread::sleep_for(Ms(300 + 1500));
    lock();
}

TEST_F(LockKeepingOnDevice, LumoClosedWhileUnlockedDoesNotKeepThePowerButtonFromLocking) {
    boot();
    ASSERT_EQ(d_.ctl({"post", "Lumo", "16", "0", "0"}).status, 0);  // WM_CLOSE
    ASSERT_TRUE(lumo("--gone", 5));
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    ASSERT_TRUE(lumo("--visible", 5)) << service_log();
    EXPECT_TRUE(wait_until([&] { return count(service_log(), "Locked 1") == 1; }, Ms(3000)))
        << service_log();
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(lumo("--foreground", 3));
}

// --- the service killed while locked, and started again --------------------------------------

TEST_F(LockKeepingOnDevice, AStartAfterTheServiceAndLumoWereKilledWhileLockedRestoresTheTaskBar) {
    boot();
    lock();
    kill("Vardex2.exe");
    kill("lumo.exe");
    ASSERT_TRUE(lumo("--gone", 5));
    start_service();
    expect_task_bar_home();
    EXPECT_EQ(p_->windows().foreground_window(),
              p_->windows().find_window(u"DesktopExplorerWindow", std::nullopt));
}

TEST_F(LockKeepingOnDevice, AStartAfterTheServiceWasKilledUnderALockTakesItOverAndItsUnlock) {
    boot();
    lock();
    kill("Vardex2.exe");
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--gone", "--timeout", "5"}).status, 0);
    ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return count(service_log(), "Lock in force") == 1; }, Ms(3000)))
        << service_log();
    EXPECT_TRUE(lumo("--foreground", 0));
    EXPECT_EQ(task_bar().rect.bottom, 0);
    unlock_by_sliding();
    expect_task_bar_home();
}

}  // namespace
}  // namespace lumo::service::test
