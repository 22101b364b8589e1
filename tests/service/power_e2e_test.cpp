// The phone locking by itself on a real headless device: the service and the lock screen run as
// the device's programs, and the test drives power, touches and the charger with lumo-devctl.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::service::test {
namespace {

using namespace platform;
using lumo::test::DeviceProcess;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
namespace fs = std::filesystem;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";
constexpr int kWakeUpDelayMs = 300;

class PowerOnDevice : public testing::Test {
  protected:
    // Boots the phone with its shell; the settings key is there before the service's first
    // start (so no first-start boxes), with a short wake-up delay and the log on.
    void boot(const std::vector<std::pair<std::string, std::string>>& bytes = {}) {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        set("HKCU", kRoot, "WakeUpDelayMS", "dword", std::to_string(kWakeUpDelayMs));
        set("HKCU", kRoot, "DebugOn", "binary", "01");
        for (auto& [name, value] : bytes) set("HKCU", kRoot, name, "binary", value);
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
        // lumo ignores focus until its start-up is through; the log says when it is.
        auto until = Clock::now() + Ms(10000);
        while (log_of("lumo.log").find("Start & Hide=1") == std::string::npos &&
               Clock::now() < until)
            std::this_thread::sleep_for(Ms(20));
        std::string error;
        p_ = device::connect(d_.socket_path(), u"power-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    void set(const std::string& root, const std::string& key, const std::string& name,
             const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", root, key, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    bool lumo(const std::string& how, int seconds = 10) {
        return d_.ctl({"wait", "window", "Lumo", how, "--timeout", std::to_string(seconds)})
                   .status == 0;
    }
    std::string state() {
        std::istringstream in(d_.ctl({"power", "status"}).out);
        std::string word, value;
        in >> word >> value;
        return value;
    }
    bool wait_state(const std::string& want, Ms timeout) {
        auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            if (state() == want) return true;
            std::this_thread::sleep_for(Ms(20));
        }
        return state() == want;
    }
    void unlock_by_sliding() {
        ASSERT_EQ(d_.ctl({"drag", "88", "740", "440", "740", "--ms", "300"}).status, 0);
        ASSERT_TRUE(lumo("--hidden", 5));
    }
    Rect task_bar() {
        Hwnd bar = p_->windows().find_window(u"HHTaskBar", std::nullopt);
        auto info = p_->windows().window_info(bar);
        return info ? info->rect : Rect{};
    }
    std::string service_log() { return log_of("Vardex2.log"); }
    std::string log_of(const std::string& name) { return d_.program_log(name); }
    int lumo_processes() {
        std::istringstream lines(d_.ctl({"processes"}).out);
        int n = 0;
        for (std::string line; std::getline(lines, line);)
            n += line.find("lumo.exe") != std::string::npos;
        return n;
    }

    DeviceProcess d_;
    std::unique_ptr<device::DevicePlatform> p_;
};

TEST_F(PowerOnDevice, TheBacklightTimeoutLocksATouchShowsTheLockScreenAndSlidingUnlocks) {
    boot();
    const Rect bar = task_bar();
    ASSERT_EQ(bar.top, 0);
    set("HKCU", "ControlPanel\\BackLight", "BatteryTimeout", "dword", "1");
    ASSERT_EQ(d_.ctl({"power", "on"}).status, 0);  // the count starts again with the new value
    ASSERT_TRUE(wait_state("backlightoff", Ms(3000)));
    ASSERT_TRUE(lumo("--foreground", 5)) << d_.ctl({"windows"}).out;
    // Once locked the task bar is moved off the screen.
    auto until = Clock::now() + Ms(2000);
    while (task_bar().bottom > 0 && Clock::now() < until) std::this_thread::sleep_for(Ms(20));
    EXPECT_LT(task_bar().bottom, 1) << service_log();
    set("HKCU", "ControlPanel\\BackLight", "BatteryTimeout", "dword", "0");
    ASSERT_EQ(d_.ctl({"tap", "240", "300"}).status, 0);
    EXPECT_EQ(state(), "on");
    EXPECT_TRUE(lumo("--foreground", 1));
    unlock_by_sliding();
    // The unlock puts the task bar back.
    auto end = Clock::now() + Ms(2000);
    while (task_bar() != bar && Clock::now() < end) std::this_thread::sleep_for(Ms(20));
    EXPECT_EQ(task_bar(), bar);
}

TEST_F(PowerOnDevice, ThePowerButtonSwitchesOffAndTheNextPressShowsTheLockScreen) {
    boot();
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "unattended");
    // The service locks in the background, then lets the phone suspend.
    ASSERT_TRUE(lumo("--visible", 5));
    ASSERT_TRUE(wait_state("suspend", Ms(5000))) << d_.ctl({"power", "status"}).out;
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");
    ASSERT_TRUE(lumo("--foreground", 3));
    auto shot = d_.dir() / "woken.png";
    ASSERT_EQ(d_.ctl({"screenshot", shot.string()}).status, 0);
    EXPECT_GT(fs::file_size(shot), 2000u) << "the woken screen is blank";
}

TEST_F(PowerOnDevice, WakingRightAfterAnUnlockDoesNotLockAgainButLaterItDoes) {
    // Blank displays do not lock by themselves here, so only the wake-up can.
    boot({{"BlankStart", "00"}});
    ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
    ASSERT_TRUE(lumo("--foreground", 5));
    unlock_by_sliding();
    auto unlocked = Clock::now();
    ASSERT_EQ(d_.ctl({"power", "idle"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "on"}).status, 0);
    ASSERT_LT(Clock::now() - unlocked, Ms(kWakeUpDelayMs + 3000 - 500)) << "the machine is slow";
    std::this_thread::sleep_for(Ms(kWakeUpDelayMs + 700));
    EXPECT_TRUE(lumo("--hidden", 0)) << "locked again right after the unlock";

    std::this_thread::sleep_for(Ms(kWakeUpDelayMs + 3000));
    ASSERT_EQ(d_.ctl({"power", "idle"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "on"}).status, 0);
    EXPECT_TRUE(lumo("--foreground", 3));
    // A second "on" within two seconds only moves the time stamp.
    ASSERT_EQ(d_.ctl({"power", "idle"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "on"}).status, 0);
    auto end = Clock::now() + Ms(2000);
    while (service_log().find("PS: 10000 ignored") == std::string::npos && Clock::now() < end)
        std::this_thread::sleep_for(Ms(50));
    EXPECT_NE(service_log().find("PS: 10000 ignored"), std::string::npos);
}

TEST_F(PowerOnDevice, TheChargerUnlocksAfterTheDelayWithActionOnACOne) {
    boot({{"ActionOnAC", "01"}});
    ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
    ASSERT_TRUE(lumo("--foreground", 5));
    // The lock is recorded once lumo's closing curtain has run.
    auto until = Clock::now() + Ms(5000);
    while (service_log().find("Locked 0") == std::string::npos && Clock::now() < until)
        std::this_thread::sleep_for(Ms(50));
    ASSERT_NE(service_log().find("Locked 0"), std::string::npos) << service_log();
    // What the service posts to lumo, seen through a subclass of its window. Installed only
    // now: a subclassed window's messages pass through this test, which does not serve them
    // before the charger is plugged in, so lumo's closing curtain would stall behind it.
    std::vector<std::pair<std::uint32_t, WParam>> seen;
    Hwnd lumo_window = p_->windows().find_window(u"Lumo", u"Lumo");
    PrevProc prev = 0;
    prev = *p_->windows().subclass(lumo_window, [&](Hwnd h, std::uint32_t m, WParam w, LParam l) {
        if (m == protocol::WM_Unlock) seen.push_back({m, w});
        return p_->windows().call_previous(prev, h, m, w, l);
    });
    auto t0 = Clock::now();
    ASSERT_EQ(d_.ctl({"power", "ac", "on"}).status, 0);
    // Serve the subclass until lumo has gone.
    auto& win = p_->windows();
    CreateWindowParams cp;
    win.register_class(u"PumpWindow", [](Hwnd, std::uint32_t, WParam, LParam) { return 0; });
    cp.class_name = u"PumpWindow";
    Hwnd pump = win.create_window(cp);
    win.set_timer(pump, 1, 10);
    Message m;
    while (Clock::now() - t0 < Ms(5000) && win.get_message(m)) {
        win.dispatch(m);
        if (!seen.empty() && lumo("--hidden", 0)) break;
    }
    auto elapsed = Clock::now() - t0;
    ASSERT_EQ(seen.size(), 1u) << service_log();
    EXPECT_EQ(seen[0].second, 1u);
    EXPECT_GE(elapsed, Ms(kWakeUpDelayMs + 1000));
    EXPECT_TRUE(lumo("--hidden", 3));
}

TEST_F(PowerOnDevice, AnIdleLockScreenSwitchesTheDisplayOffAndThePhoneSuspends) {
    boot({{"OffLCD", "05"}});  // the lock screen's own idle time, 5 s
    ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
    ASSERT_TRUE(lumo("--foreground", 5));
    // lumo asks the service to switch the display off; a second later the power key goes down,
    // and with nothing holding the phone awake it suspends.
    ASSERT_TRUE(wait_state("suspend", Ms(9000))) << d_.ctl({"power", "status"}).out;
    auto log = service_log();
    EXPECT_NE(log.find("WM_IdleOff"), std::string::npos) << log;
    EXPECT_NE(log.find("OFF LCD"), std::string::npos) << log;
    ASSERT_EQ(d_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");
    EXPECT_TRUE(lumo("--foreground", 3));
}

TEST_F(PowerOnDevice, TwoLockTriggersInARowStartTheLockScreenOnce) {
    boot();
    std::istringstream lines(d_.ctl({"processes"}).out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("lumo.exe") != std::string::npos) {
            ASSERT_EQ(d_.ctl({"kill", line.substr(0, line.find_first_of(" \t"))}).status, 0);
        }
    ASSERT_TRUE(lumo("--gone", 5));
    // Past the start-up's own launch, which holds further starts off for a second.
    std::this_thread::sleep_for(Ms(1200));
    // The backlight going off and then the display going idle both ask for the lock screen.
    ASSERT_EQ(d_.ctl({"power", "backlight-off"}).status, 0);
    ASSERT_EQ(d_.ctl({"power", "idle"}).status, 0);
    ASSERT_TRUE(lumo("--visible", 5)) << service_log();
    std::this_thread::sleep_for(Ms(1500));
    EXPECT_EQ(lumo_processes(), 1) << d_.ctl({"processes"}).out;
}

}  // namespace
}  // namespace lumo::service::test
