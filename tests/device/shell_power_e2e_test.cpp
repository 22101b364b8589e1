// The simulated shell and the power manager through a real host: the shell's windows after boot,
// a program moving and subclassing the task bar, the Today screen's clock, the power states
// driven by the control tool and by the registry's timeouts, and the phone state published at
// boot.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

constexpr std::uint32_t kSinkAsk = WM_APP + 3;  // what the test program's subclass adds 1000 to
constexpr std::uint32_t kSwallow = WM_APP + 5;  // what it keeps, answering 77

struct Shot {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    std::uint32_t at(int x, int y) const {
        const auto* p = &rgba[(std::size_t(y) * width + x) * 4];
        return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
    }
    int brightness(int x, int y) const {
        const auto* p = &rgba[(std::size_t(y) * width + x) * 4];
        return p[0] + p[1] + p[2];
    }
    // Pixels in the rows [top, bottom) that are nearly white.
    int white_in(int top, int bottom) const {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < width; ++x) n += brightness(x, y) > 600;
        return n;
    }
    bool all_black() const {
        for (std::size_t i = 0; i < rgba.size(); i += 4)
            if (rgba[i] || rgba[i + 1] || rgba[i + 2]) return false;
        return true;
    }
};

class ShellAndPower : public testing::Test {
protected:
    void SetUp() override { boot(); }
    // A bare device with the shell, without the product's start-up programs.
    void boot() {
        ASSERT_TRUE(device_.start({"--shell"})) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"shell-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    Windows& win() { return p_->windows(); }

    Shot shot() {
        auto file = device_.dir() / ("shot" + std::to_string(shots_++) + ".png");
        auto r = device_.ctl({"screenshot", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        Shot s;
        auto imaging = make_sdl_imaging();
        auto pic = imaging->open(to_u16(file.string()));
        if (!pic) {
            ADD_FAILURE() << "no screenshot at " << file;
            return s;
        }
        s.width = pic->width();
        s.height = pic->height();
        s.rgba.resize(std::size_t(s.width) * s.height * 4);
        EXPECT_TRUE(pic->read_rgba(s.width, s.height, s.rgba));
        return s;
    }

    std::map<std::string, std::string> power() {
        auto r = device_.ctl({"power", "status"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> out;
        std::istringstream in(r.out);
        std::string key, value;
        while (in >> key >> value) out[key] = value;
        return out;
    }
    std::string state() { return power()["state"]; }
    // Waits until the power state is `want`; false after `limit`.
    bool wait_state(const std::string& want, Ms limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (state() == want) return true;
            std::this_thread::sleep_for(Ms(50));
        }
        return state() == want;
    }
    void set_dword(const char* root, const char* key, const char* name, const char* value) {
        auto r = device_.ctl({"reg", "set", root, key, name, "dword", value});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
    int shots_ = 0;
};

TEST_F(ShellAndPower, TheShellsWindowsAreThereAfterBootInTheirPlaces) {
    Hwnd bar = win().find_window(u"HHTaskBar", std::nullopt);
    ASSERT_NE(bar, 0u);
    auto info = win().window_info(bar);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rect, (Rect{0, 0, 480, 52}));
    EXPECT_TRUE(info->visible);

    Hwnd today = win().find_window(u"DesktopExplorerWindow", std::nullopt);
    ASSERT_NE(today, 0u);
    info = win().window_info(today);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rect, (Rect{0, 52, 480, 800}));
    EXPECT_TRUE(info->visible);
    EXPECT_EQ(win().foreground_window(), today);

    Hwnd notify = win().find_window(u"WinCENotify", u"WinCENotify");
    ASSERT_NE(notify, 0u);
    EXPECT_FALSE(win().window_info(notify)->visible);
    // Not a 6.5 phone by default: no start menu.
    EXPECT_EQ(win().find_window(u"MSSTARTMENU", std::nullopt), 0u);

    // All three belong to the shell process.
    auto procs = device_.ctl({"processes"});
    EXPECT_NE(procs.out.find("\\Windows\\shell32.exe"), std::string::npos) << procs.out;
    auto pid = win().window_info(bar)->process_id;
    EXPECT_EQ(win().window_info(today)->process_id, pid);
    EXPECT_EQ(win().window_info(notify)->process_id, pid);

    // Asking the shell's windows to close leaves them in place.
    ASSERT_TRUE(win().post(bar, WM_CLOSE, 0, 0));
    ASSERT_TRUE(win().post(today, WM_CLOSE, 0, 0));
    std::this_thread::sleep_for(Ms(100));
    EXPECT_TRUE(win().is_window(bar));
    EXPECT_TRUE(win().is_window(today));
}

TEST(ShellProfiles, ABareDeviceHasNoShellButStillThePhoneState) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto list = d.ctl({"windows"});
    EXPECT_EQ(list.out.find("HHTaskBar"), std::string::npos) << list.out;
    EXPECT_EQ(d.ctl({"reg", "get", "HKLM", "System\\State\\Phone", "Status"}).out, "dword 0\n");
}

TEST(ShellProfiles, AWindowsMobile65PhoneHasTheStartMenuHidden) {
    DeviceProcess d;
    ASSERT_TRUE(d.start({"--shell", "6.5"})) << d.last_error;
    std::string error;
    auto p = device::connect(d.socket_path(), u"shell-test", &error);
    ASSERT_TRUE(p) << error;
    Hwnd menu = p->windows().find_window(u"MSSTARTMENU", std::nullopt);
    ASSERT_NE(menu, 0u);
    EXPECT_FALSE(p->windows().window_info(menu)->visible);
    ASSERT_TRUE(p->windows().show_window(menu, SW_SHOW) == false);
    ASSERT_TRUE(p->windows().post(menu, WM_CLOSE, 0, 0));
    std::this_thread::sleep_for(Ms(100));
    ASSERT_TRUE(p->windows().is_window(menu));
    EXPECT_FALSE(p->windows().window_info(menu)->visible);
}

TEST_F(ShellAndPower, AProgramMovesTheTaskBarAwayAndBackAndSubclassesIt) {
    Hwnd bar = win().find_window(u"HHTaskBar", std::nullopt);
    ASSERT_NE(bar, 0u);
    // Hidden the way the lock service hides it: moved up by its own height.
    ASSERT_TRUE(win().move_window(bar, {0, -52, 480, 0}));
    EXPECT_EQ(win().window_info(bar)->rect, (Rect{0, -52, 480, 0}));
    auto hidden = shot();
    ASSERT_TRUE(win().set_window_pos(bar, 0, {0, 0, 480, 52}, 0));
    EXPECT_EQ(win().window_info(bar)->rect, (Rect{0, 0, 480, 52}));
    auto shown = shot();
    // The bar is dark over the Today screen's blue; moved away, the top is the blue again...
    // or the bare glass, but never the bar's near-black face with its text.
    EXPECT_GT(shown.white_in(0, 52), 20);
    EXPECT_EQ(hidden.white_in(0, 52), 0);

    pid_t pid = spawn_device_program("lumo-testprog", {"subclass", "HHTaskBar"}, device_.socket_path());
    for (int i = 0; i < 500 && !win().find_window(std::nullopt, u"subclass ready"); ++i)
        std::this_thread::sleep_for(Ms(10));
    ASSERT_NE(win().find_window(std::nullopt, u"subclass ready"), 0u);
    auto swallowed = win().send(bar, kSwallow, 0, 0);
    ASSERT_TRUE(swallowed);
    EXPECT_EQ(*swallowed, 77);
    auto passed = win().send(bar, kSinkAsk, 0, 0);
    ASSERT_TRUE(passed);
    EXPECT_EQ(*passed, 1000);  // the shell's own procedure answered 0 beneath the subclass
    ::kill(pid, SIGKILL);
    wait_program(pid);
    std::this_thread::sleep_for(Ms(100));
    auto after = win().send(bar, kSinkAsk, 0, 0);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, 0);
}

TEST_F(ShellAndPower, TheTodayScreenShowsTheDevicesTime) {
    ASSERT_EQ(device_.ctl({"time", "set", "2026-03-14T10:11"}).status, 0);
    auto morning = shot();
    ASSERT_EQ(morning.width, 480);
    // The Today screen's blue below the clock, and a big clock in white above the middle.
    EXPECT_EQ(morning.at(10, 700), morning.at(470, 600));
    EXPECT_LT(morning.brightness(10, 700), 300);
    int clock_white = morning.white_in(100, 330);
    EXPECT_GT(clock_white, 1000);
    ASSERT_EQ(device_.ctl({"time", "set", "2026-03-14T23:48"}).status, 0);
    auto night = shot();
    int differing = 0;
    for (int y = 100; y < 330; ++y)
        for (int x = 0; x < 480; ++x) differing += morning.at(x, y) != night.at(x, y);
    EXPECT_GT(differing, 500) << "the clock did not follow the device's time";
}

TEST_F(ShellAndPower, PowerVerbsStepTheStatesAndTheScreenFollows) {
    auto lit = shot();
    auto p = power();
    EXPECT_EQ(p["state"], "on");
    EXPECT_EQ(p["display"], "on");
    EXPECT_EQ(p["ac"], "0");
    EXPECT_EQ(p["battery"], "100");

    ASSERT_EQ(device_.ctl({"power", "backlight-off"}).status, 0);
    EXPECT_EQ(state(), "backlightoff");
    EXPECT_EQ(power()["display"], "dim");
    auto dim = shot();
    EXPECT_LT(dim.brightness(240, 700), lit.brightness(240, 700));
    EXPECT_FALSE(dim.all_black());
    // A touch lights it again.
    ASSERT_EQ(device_.ctl({"tap", "240", "700"}).status, 0);
    EXPECT_EQ(state(), "on");

    ASSERT_EQ(device_.ctl({"power", "idle"}).status, 0);
    EXPECT_EQ(state(), "useridle");
    EXPECT_TRUE(shot().all_black());
    // Touches on a dark display reach nobody and wake nothing.
    device_.ctl({"tap", "240", "700"});
    EXPECT_EQ(state(), "useridle");

    // The power button: on, then off to the unattended state (a program holds an unattended
    // request), then on again.
    ASSERT_TRUE(p_->power().set_unattended(true));
    EXPECT_EQ(power()["unattended"], "1");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");
    auto back = shot();
    EXPECT_EQ(back.at(240, 700), lit.at(240, 700));
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "unattended");
    EXPECT_TRUE(shot().all_black());
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");

    // The power key pressed by a program is the same button.
    ASSERT_EQ(device_.ctl({"key", "press", "0xDF"}).status, 0);
    EXPECT_EQ(state(), "unattended");
    ASSERT_EQ(device_.ctl({"key", "press", "0xDF"}).status, 0);
    EXPECT_EQ(state(), "on");

    // With no request held the button suspends the phone; releasing one not held is refused.
    ASSERT_TRUE(p_->power().set_unattended(false));
    EXPECT_FALSE(p_->power().set_unattended(false));
    EXPECT_EQ(power()["unattended"], "0");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    ASSERT_TRUE(wait_state("suspend", Ms(2000)));
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");

    ASSERT_EQ(device_.ctl({"power", "suspend"}).status, 0);
    EXPECT_EQ(state(), "suspend");
    EXPECT_TRUE(shot().all_black());
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    EXPECT_EQ(state(), "on");
    EXPECT_FALSE(shot().all_black());

    ASSERT_EQ(device_.ctl({"power", "ac", "on"}).status, 0);
    ASSERT_EQ(device_.ctl({"power", "capacity", "42"}).status, 0);
    p = power();
    EXPECT_EQ(p["ac"], "1");
    EXPECT_EQ(p["battery"], "42");
    ASSERT_EQ(device_.ctl({"power", "ac", "off"}).status, 0);
    EXPECT_EQ(power()["ac"], "0");

    EXPECT_EQ(device_.ctl({"power", "capacity", "101"}).status, 2);
    EXPECT_EQ(device_.ctl({"power", "ac", "maybe"}).status, 2);
    EXPECT_EQ(device_.ctl({"power", "sideways"}).status, 2);
    EXPECT_EQ(power()["battery"], "42");
}

TEST_F(ShellAndPower, TimeoutsFromTheRegistryStepDownAndActivityResetsThem) {
    set_dword("HKCU", "ControlPanel\\BackLight", "BatteryTimeout", "1");
    set_dword("HKLM", "System\\CurrentControlSet\\Control\\Power\\Timeouts", "BattUserIdle", "2");
    // The timeouts are read whenever the count starts again: here, at the next activity.
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    EXPECT_EQ(state(), "on");
    ASSERT_TRUE(wait_state("backlightoff", Ms(3000)));
    ASSERT_TRUE(wait_state("useridle", Ms(3000)));
    // A key brings an idle display back, and the count starts over.
    ASSERT_EQ(device_.ctl({"key", "press", "0x0D"}).status, 0);
    EXPECT_EQ(state(), "on");
    std::this_thread::sleep_for(Ms(600));
    ASSERT_EQ(device_.ctl({"tap", "240", "700"}).status, 0);
    std::this_thread::sleep_for(Ms(600));
    EXPECT_EQ(state(), "on") << "the touch did not restart the count";
    ASSERT_TRUE(wait_state("backlightoff", Ms(3000)));

    // On external power the AC values count; none set means the display stays lit.
    ASSERT_EQ(device_.ctl({"power", "ac", "on"}).status, 0);
    EXPECT_EQ(state(), "on");
    std::this_thread::sleep_for(Ms(1500));
    EXPECT_EQ(state(), "on");

    // A suspend timeout follows the idle one.
    set_dword("HKLM", "System\\CurrentControlSet\\Control\\Power\\Timeouts", "ACSuspendTimeout", "1");
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    ASSERT_TRUE(wait_state("suspend", Ms(3000)));
}

TEST_F(ShellAndPower, TheRegistryTimeoutsThatAreNotNumbersNeverTimeOut) {
    auto r = device_.ctl({"reg", "set", "HKCU", "ControlPanel\\BackLight", "BatteryTimeout", "string", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    set_dword("HKLM", "System\\CurrentControlSet\\Control\\Power\\Timeouts", "BattUserIdle", "4294967295");
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    std::this_thread::sleep_for(Ms(1500));
    EXPECT_EQ(state(), "on");
}

// Reads records until one of `type` comes, or none within the time.
std::optional<PowerRecord> next_of(PowerQueue& q, std::uint32_t type) {
    for (int i = 0; i < 10; ++i) {
        auto bytes = q.read(1000);
        if (!bytes) return std::nullopt;
        EXPECT_LE(bytes->size(), kPowerRecordMax);
        auto r = decode_power_record(*bytes);
        EXPECT_TRUE(r) << "a record that does not decode";
        if (r && r->type == type) return r;
    }
    return std::nullopt;
}

TEST_F(ShellAndPower, NotificationQueuesDeliverTransitionsAndPowerInformation) {
    auto both = p_->power().request_notifications(kPowerTransition | kPowerInfoChange);
    auto transitions = p_->power().request_notifications(kPowerTransition);
    ASSERT_TRUE(both);
    ASSERT_TRUE(transitions);
    EXPECT_FALSE(p_->power().request_notifications(0x40));

    ASSERT_TRUE(p_->power().set_unattended(true));
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    auto r = next_of(*both, kPowerTransition);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->flags, kPowerStateUnattended);
    EXPECT_EQ(r->state_name, u"unattended");
    // Letting go of the last request in the unattended state suspends the phone.
    ASSERT_TRUE(p_->power().set_unattended(false));
    EXPECT_EQ(next_of(*both, kPowerTransition)->state_name, u"suspend");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(next_of(*both, kPowerTransition)->state_name, u"resuming");
    r = next_of(*both, kPowerTransition);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->flags, kPowerStateOn);
    EXPECT_EQ(r->state_name, u"on");

    ASSERT_EQ(device_.ctl({"power", "backlight-off"}).status, 0);
    r = next_of(*both, kPowerTransition);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->flags, kPowerStateBacklightOff);
    ASSERT_EQ(device_.ctl({"power", "idle"}).status, 0);
    EXPECT_EQ(next_of(*both, kPowerTransition)->flags, kPowerStateIdle);
    ASSERT_EQ(device_.ctl({"power", "suspend"}).status, 0);
    EXPECT_EQ(next_of(*both, kPowerTransition)->flags, kPowerStateSuspend);
    // Waking from suspend passes through "resuming".
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    EXPECT_EQ(next_of(*both, kPowerTransition)->state_name, u"resuming");
    EXPECT_EQ(next_of(*both, kPowerTransition)->state_name, u"on");

    ASSERT_EQ(device_.ctl({"power", "ac", "on"}).status, 0);
    r = next_of(*both, kPowerInfoChange);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->info.ac_line_status, 1);
    EXPECT_EQ(r->info.battery_percent, 100);
    ASSERT_EQ(device_.ctl({"power", "capacity", "3"}).status, 0);
    r = next_of(*both, kPowerInfoChange);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->info.battery_percent, 3);
    EXPECT_EQ(r->info.ac_line_status, 1);

    // The transitions-only queue saw every transition and no information change.
    int seen = 0;
    while (auto bytes = transitions->read(50)) {
        auto t = decode_power_record(*bytes);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->type, kPowerTransition);
        ++seen;
    }
    EXPECT_EQ(seen, 9);  // both button rounds pass through suspend and resuming
    // A closed queue hears nothing more; the other still does.
    transitions.reset();
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_TRUE(next_of(*both, kPowerTransition));
}

TEST(PowerRecords, TheyFitFortyFourBytesAndRefuseWhatDoesNot) {
    auto t = encode_power_transition(kPowerStateIdle, u"a-very-long-power-state-name-indeed");
    EXPECT_LE(t.size(), kPowerRecordMax);
    auto r = decode_power_record(t);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->flags, kPowerStateIdle);
    EXPECT_EQ(r->state_name, u"a-very-long-pow");
    PowerInfo info;
    info.ac_line_status = 1;
    info.battery_percent = 57;
    auto i = encode_power_info(info);
    EXPECT_LE(i.size(), kPowerRecordMax);
    ASSERT_TRUE(decode_power_record(i));
    EXPECT_EQ(decode_power_record(i)->info.battery_percent, 57);

    EXPECT_FALSE(decode_power_record(std::vector<std::byte>(8)));
    EXPECT_FALSE(decode_power_record(std::vector<std::byte>(45)));
    auto lying = t;
    lying[8] = std::byte{200};  // a length beyond the record
    EXPECT_FALSE(decode_power_record(lying));
    auto short_info = i;
    short_info.resize(20);
    short_info[8] = std::byte{8};
    EXPECT_FALSE(decode_power_record(short_info));
}

TEST(PowerRecords, TheFakeDeliversByMaskAndCanRefuse) {
    fake::FakePlatform p;
    auto info_only = p.power().request_notifications(kPowerInfoChange);
    ASSERT_TRUE(info_only);
    p.power().transition(kPowerStateOn, u"on");
    EXPECT_FALSE(info_only->read(0));
    PowerInfo info;
    info.battery_percent = 12;
    p.power().power_info(info);
    auto got = info_only->read(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(decode_power_record(*got)->info.battery_percent, 12);
    EXPECT_EQ(p.power().open_queues(), 1u);
    info_only.reset();
    EXPECT_EQ(p.power().open_queues(), 0u);
    p.power().refuse_requests = true;
    EXPECT_FALSE(p.power().request_notifications(kPowerTransition));
}

TEST_F(ShellAndPower, ProgramsSwitchTheDisplayAskForStatesAndHoldUnattendedRequests) {
    auto lit = shot();
    // The video power escape darkens the display without a power transition.
    EXPECT_TRUE(p_->power().video_power_supported());
    ASSERT_TRUE(p_->power().set_video_power(kVideoPowerOff));
    EXPECT_EQ(state(), "on");
    EXPECT_EQ(power()["video"], "off");
    EXPECT_TRUE(shot().all_black());
    EXPECT_FALSE(p_->power().set_video_power(2));
    // A touch on it wakes nothing; the display comes back by the escape or by a key.
    device_.ctl({"tap", "240", "700"});
    EXPECT_EQ(power()["video"], "off");
    ASSERT_TRUE(p_->power().set_video_power(kVideoPowerOn));
    EXPECT_EQ(shot().at(240, 700), lit.at(240, 700));
    ASSERT_TRUE(p_->power().set_video_power(kVideoPowerOff));
    ASSERT_EQ(device_.ctl({"key", "press", "0x0D"}).status, 0);
    EXPECT_EQ(power()["video"], "on");
    // The power button on a display switched off this way still leaves the on state.
    ASSERT_TRUE(p_->power().set_unattended(true));
    ASSERT_TRUE(p_->power().set_video_power(kVideoPowerOff));
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "unattended");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "on");
    EXPECT_EQ(power()["video"], "on");

    // System power states: idle darkens the running phone, on lights it; others are refused.
    ASSERT_TRUE(p_->power().set_system_power_state(kPowerStateIdle));
    EXPECT_EQ(state(), "useridle");
    EXPECT_TRUE(shot().all_black());
    ASSERT_TRUE(p_->power().set_system_power_state(kPowerStateOn));
    EXPECT_EQ(state(), "on");
    EXPECT_FALSE(p_->power().set_system_power_state(kPowerStateSuspend));
    EXPECT_EQ(state(), "on");

    // The status reports external power and the battery.
    ASSERT_EQ(device_.ctl({"power", "ac", "on"}).status, 0);
    ASSERT_EQ(device_.ctl({"power", "capacity", "37"}).status, 0);
    auto info = p_->power().status();
    EXPECT_EQ(info.ac_line_status, 1);
    EXPECT_EQ(info.battery_percent, 37);

    // A program that ends gives its requests back: the unattended phone then suspends.
    std::string error;
    auto other = device::connect(device_.socket_path(), u"holder", &error);
    ASSERT_TRUE(other) << error;
    ASSERT_TRUE(other->power().set_unattended(true));
    ASSERT_TRUE(other->power().set_unattended(true));
    ASSERT_TRUE(p_->power().set_unattended(false));
    EXPECT_EQ(power()["unattended"], "2");
    ASSERT_EQ(device_.ctl({"power", "button"}).status, 0);
    EXPECT_EQ(state(), "unattended");
    other.reset();
    ASSERT_TRUE(wait_state("suspend", Ms(2000)));
    EXPECT_EQ(power()["unattended"], "0");

    // A suspend ends the requests still held.
    ASSERT_EQ(device_.ctl({"power", "on"}).status, 0);
    ASSERT_TRUE(p_->power().set_unattended(true));
    ASSERT_EQ(device_.ctl({"power", "suspend"}).status, 0);
    EXPECT_EQ(power()["unattended"], "0");
    EXPECT_FALSE(p_->power().set_unattended(false));
}

TEST_F(ShellAndPower, RadiosAreListedAndSwitchedAndTheHardwareStateFollows) {
    const std::string key = "System\\State\\Hardware";
    EXPECT_EQ(device_.ctl({"radio"}).out, "Wi-Fi off\nBluetooth off\n");
    ASSERT_EQ(device_.ctl({"radio", "bluetooth", "on"}).status, 0);
    ASSERT_EQ(device_.ctl({"radio", "wifi", "on"}).status, 0);
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Bluetooth"}).out, "dword 1\n");
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Wifi"}).out, "dword 2\n");
    // A headset connected over Bluetooth goes with the radio; other bits stay.
    set_dword("HKLM", key.c_str(), "Bluetooth", "53");  // 0x35: on, both headsets, bit 0x20
    auto radios = p_->wireless().devices();
    ASSERT_EQ(radios.size(), 2u);
    EXPECT_EQ(radios[1].type, RadioType::Bluetooth);
    EXPECT_TRUE(radios[1].on);
    ASSERT_TRUE(p_->wireless().set_radio(RadioType::Bluetooth, false));
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Bluetooth"}).out, "dword 32\n");
    EXPECT_EQ(device_.ctl({"radio"}).out, "Wi-Fi on\nBluetooth off\n");
    // The phone radio is not switched here; bad words are usage errors.
    EXPECT_FALSE(p_->wireless().set_radio(RadioType::Phone, false));
    EXPECT_EQ(device_.ctl({"radio", "bluetooth", "maybe"}).status, 2);
    EXPECT_EQ(device_.ctl({"radio", "fm", "on"}).status, 2);
}

TEST_F(ShellAndPower, ThePhoneStateStartsWithNoCallEveryBoot) {
    const std::string key = "System\\State\\Phone";
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Active Call Count"}).out, "dword 0\n");
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Status"}).out, "dword 0\n");
    set_dword("HKLM", key.c_str(), "Active Call Count", "1");
    set_dword("HKLM", key.c_str(), "Status", "16384");
    p_.reset();
    ASSERT_EQ(device_.stop(), 0);
    boot();
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Active Call Count"}).out, "dword 0\n");
    EXPECT_EQ(device_.ctl({"reg", "get", "HKLM", key, "Status"}).out, "dword 0\n");
}

}  // namespace
}  // namespace lumo::test
