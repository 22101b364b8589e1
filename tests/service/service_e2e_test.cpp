// The service on a real device host, driven with lumo-devctl: first boot and a second boot,
// stopping by a second start (with and without the closing box), the one-shot switches, and the
// delayed lock after a recent boot.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "device_process.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::service::test {
namespace {

using lumo::test::DeviceProcess;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";

// Puts the stand-in lock screen where the service looks for lumo.exe, unless the build has the
// real one (the host installs that itself).
bool standin_installed(const DeviceProcess& d) {
    if (fs::exists(fs::path(lumo::test::bin_dir()) / "lumo")) return false;
    auto folder = d.dir() / "fs" / "Program Files" / "Lumo";
    fs::create_directories(folder);
    std::error_code ec;
    fs::create_symlink(fs::path(lumo::test::bin_dir()) / "lumo-standin", folder / "lumo.exe", ec);
    return true;
}

template <class Pred>
bool wait_until(Pred pred, int timeout_ms) {
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

std::string dialogs(const DeviceProcess& d) {
    return d.ctl({"dialogs"}).out;
}

bool has_window(const DeviceProcess& d, const std::string& cls) {
    return d.ctl({"wait", "window", cls, "--timeout", "0"}).status == 0;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// The .reg line the first start's default of a row gives.
std::string expected_line(const catalogue::Setting& row) {
    std::string name = platform::to_utf8(row.name);
    char buf[64];
    switch (row.shape) {
        case catalogue::Shape::Byte:
            // The vibrator is the last of the phone's two notification LEDs.
            std::snprintf(buf, sizeof buf, "hex:%02x",
                          name == "VibrationLED" ? 1u : unsigned(row.def));
            return "\"" + name + "\"=" + buf;
        case catalogue::Shape::Number:
            std::snprintf(buf, sizeof buf, "dword:%08x", row.def);
            return "\"" + name + "\"=" + buf;
        default:
            return "\"" + name + "\"=\"" + escaped(platform::to_utf8(row.def_text)) + "\"";
    }
}

std::string export_settings(const DeviceProcess& d) {
    return d.ctl({"reg", "export", "HKCU", "Software\\Vesk\\Lumo"}).out;
}

void set_byte(const DeviceProcess& d, const std::string& name, const std::string& hex) {
    ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", name, "binary", hex}).status, 0);
}

// The first start on a fresh phone: both boxes, then the whole default set; a later start of the
// service on the rebooted phone writes nothing and asks nothing.
void first_start_then_reboot(bool through_start_up) {
    DeviceProcess d;
    // A new phone gets the product and its start-up entry on its first boot; the lock screen's
    // stand-in goes in before the boot that starts the service.
    ASSERT_TRUE(d.start()) << d.last_error;
    ASSERT_EQ(d.stop(), 0);
    standin_installed(d);
    if (through_start_up) {
        ASSERT_TRUE(d.boot()) << d.last_error;
    } else {
        ASSERT_TRUE(d.start()) << d.last_error;
        ASSERT_EQ(d.ctl({"start", kService}).status, 0);
    }
    ASSERT_TRUE(wait_until(
        [&] { return dialogs(d).find("Lumo v2.30 by Vesk") != std::string::npos; }, 5000))
        << dialogs(d);
    EXPECT_FALSE(has_window(d, "Vardex2"));  // nothing runs before the boxes are answered
    ASSERT_EQ(d.ctl({"dialog", "press", "ok"}).status, 0);
    ASSERT_TRUE(
        wait_until([&] { return dialogs(d).find("DISCLAIMER") != std::string::npos; }, 5000))
        << dialogs(d);
    ASSERT_EQ(d.ctl({"dialog", "press", "ok"}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Lumo"}).status, 0);

    auto first = export_settings(d);
    auto low = lower(first);
    for (const auto& row : catalogue::settings()) {
        if (!(row.flags & catalogue::kFirstStart)) continue;
        EXPECT_NE(low.find(lower(expected_line(row)) + "\n"), std::string::npos)
            << expected_line(row) << " not in\n"
            << first;
    }

    // The second boot of the same phone.
    ASSERT_EQ(d.stop(), 0);
    DeviceProcess again(d.dir());
    if (through_start_up) {
        ASSERT_TRUE(again.boot()) << again.last_error;
    } else {
        ASSERT_TRUE(again.start()) << again.last_error;
        ASSERT_EQ(again.ctl({"start", kService}).status, 0);
    }
    ASSERT_EQ(again.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    ASSERT_EQ(again.ctl({"wait", "window", "Lumo"}).status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(dialogs(again), "");
    EXPECT_EQ(export_settings(again), first);
    again.stop();
}

TEST(ServiceOnDevice, FirstStartAsksTwiceWritesEveryDefaultAndALaterStartWritesNothing) {
    first_start_then_reboot(false);
}

// FIXME: the host's start-up folder compares case-folded (upper-case) file names with ".lnk" and
// ".exe", so it starts nothing yet; enable once it does.
TEST(ServiceOnDevice, StartUpFolderStartsTheServiceOnBoot) {
    first_start_then_reboot(true);
}

// A running service whose settings key exists already (no first-start boxes), with DebugOn.
void start_service(DeviceProcess& d) {
    standin_installed(d);
    ASSERT_TRUE(d.start()) << d.last_error;
    set_byte(d, "DebugOn", "01");
    ASSERT_EQ(d.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Lumo"}).status, 0);
}

TEST(ServiceOnDevice, ASecondStartShowsTheClosingBoxForTwoSecondsThenBothEnd) {
    DeviceProcess d;
    start_service(d);
    auto t0 = Clock::now();
    ASSERT_EQ(d.ctl({"start", kService}).status, 0);
    ASSERT_TRUE(wait_until(
        [&] {
            return dialogs(d).find("Vardex2 Message\tVardex2 & Lumo are closing...") !=
                   std::string::npos;
        },
        2000))
        << dialogs(d);
    EXPECT_EQ(d.ctl({"wait", "window", "Lumo", "--gone", "--timeout", "2"}).status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000) - (Clock::now() - t0));
    EXPECT_TRUE(has_window(d, "Vardex2"));
    ASSERT_EQ(d.ctl({"wait", "window", "Vardex2", "--gone", "--timeout", "5"}).status, 0);
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(4000));
    EXPECT_EQ(dialogs(d), "");
    EXPECT_TRUE(wait_until(
        [&] { return d.ctl({"processes"}).out.find("Vardex2.exe") == std::string::npos; }, 3000))
        << d.ctl({"processes"}).out;
}

TEST(ServiceOnDevice, ASecondStartWithNoMessageEndsBothWithoutTheBox) {
    DeviceProcess d;
    start_service(d);
    ASSERT_EQ(d.ctl({"start", kService, "-nomsg"}).status, 0);
    bool box_seen = false;
    bool gone = wait_until(
        [&] {
            box_seen |= dialogs(d).find("Vardex2 Message") != std::string::npos;
            // The service tells lumo to close and ends; lumo's window goes a moment later.
            return !has_window(d, "Vardex2") && !has_window(d, "Lumo");
        },
        3000);
    EXPECT_TRUE(gone);
    // The box path would have shown "Vardex2 Message" for its two seconds: seeing none is the
    // check (a time limit here only measured how loaded the machine was).
    EXPECT_FALSE(box_seen);
}

TEST(ServiceOnDevice, UnlockWithoutLumoDoesNothingAndPasswordWithoutServiceStartsIt) {
    DeviceProcess d;
    standin_installed(d);
    ASSERT_TRUE(d.start()) << d.last_error;
    set_byte(d, "DebugOn", "00");
    ASSERT_EQ(d.ctl({"start", kService, "-unlock"}).status, 0);
    EXPECT_TRUE(wait_until(
        [&] { return d.ctl({"processes"}).out.find("Vardex2.exe") == std::string::npos; }, 3000));
    EXPECT_FALSE(has_window(d, "Vardex2"));
    EXPECT_FALSE(has_window(d, "Lumo"));

    ASSERT_EQ(d.ctl({"start", kService, "-password"}).status, 0);
    EXPECT_EQ(d.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    EXPECT_EQ(d.ctl({"wait", "window", "Lumo", "--hidden"}).status, 0);
}

TEST(ServiceOnDevice, RecentBootWithPasswordLockLocksOnlyAfterTheBootDelay) {
    DeviceProcess d;
    bool standin = standin_installed(d);
    ASSERT_TRUE(d.start()) << d.last_error;
    set_byte(d, "PasswordLock", "01");
    ASSERT_EQ(d.ctl({"time", "boot-age", "1000"}).status, 0);
    auto t0 = Clock::now();
    ASSERT_EQ(d.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Vardex2", "--hidden"}).status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(4000) - (Clock::now() - t0));
    EXPECT_FALSE(has_window(d, "Lumo"));
    ASSERT_EQ(d.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "5"}).status, 0);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(4900));
    if (standin) {
        auto want = "dword " + std::to_string(protocol::WM_LOCK_PASSWORD);
        EXPECT_TRUE(wait_until(
            [&] {
                return d.ctl({"reg", "get", "HKCU", "Software\\LumoTest", "LastMessage"})
                           .out.find(want) == 0;
            },
            3000))
            << d.ctl({"reg", "get", "HKCU", "Software\\LumoTest", "LastMessage"}).out;
    }
}

}  // namespace
}  // namespace lumo::service::test
