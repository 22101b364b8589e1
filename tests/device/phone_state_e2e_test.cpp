// The phone's published state end to end: lumo-devctl changes a value, the broker tells the
// service, the service tells the lock screen, and the screenshot shows it.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

class PhoneState : public testing::Test {
  protected:
    void boot(std::vector<std::string> extra = {"--shell"}) {
        ASSERT_TRUE(d_.start(extra)) << d_.last_error;
        set("DebugOn", "binary", "01");
        set("OffLCD", "binary", "00");
        set("ACOffLCD", "binary", "00");
        set("ShowBattery", "binary", "01");
        set("ActionOnAC", "binary", "00");  // the charger would unlock the phone
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"lock"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "10"}).status, 0);
        settle();
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void ctl(const std::vector<std::string>& args) {
        auto r = d_.ctl(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void settle(int ms = 700) { std::this_thread::sleep_for(Ms(ms)); }
    // The lock screen's window in front, by handle ("" when it is not there or not in front).
    std::string lumo_in_front() {
        std::istringstream list(d_.ctl({"windows"}).out);
        for (std::string line; std::getline(list, line);) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
            if (f.size() >= 6 && f[5] == "Lumo" && f[4] == "1") return f[0];
        }
        return {};
    }
    // A settings reload closes the lock screen and starts a new one: what follows must reach
    // the new one, not the old one still in front for a moment.
    void reload_settings() {
        const std::string old = lumo_in_front();
        ctl({"settings", "reload"});
        ASSERT_TRUE(wait_until([&] {
            auto now = lumo_in_front();
            return !now.empty() && now != old;
        }, Ms(10000)));
        settle();
    }
    // The screenshot as green levels (0..255) per pixel, which every indicator lights.
    struct Shot {
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgb;
        int green(int x, int y) const { return rgb[(std::size_t(y) * width + x) * 3 + 1]; }
        int red(int x, int y) const { return rgb[(std::size_t(y) * width + x) * 3]; }
        bool lit(int x, int y) const { return green(x, y) > 160; }
    };
    Shot shot(const std::string& name) {
        auto file = d_.dir() / name;
        auto r = d_.ctl({"screenshot", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        Shot s;
        auto pic = platform::make_sdl_imaging()->open(platform::to_u16(file.string()));
        if (!pic) return s;
        s.width = pic->width();
        s.height = pic->height();
        std::vector<std::uint8_t> rgba(std::size_t(s.width) * s.height * 4);
        pic->read_rgba(s.width, s.height, rgba);
        for (std::size_t i = 0; i < rgba.size(); i += 4) s.rgb.insert(s.rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
        return s;
    }
    // Signal bars lit at 480x800 (two pixels a unit): each bar's column just above an unlit stub.
    static int bars(const Shot& s) {
        int n = 0;
        for (int i = 0; i < 5; ++i) n += s.lit(2 + i * 8 + 1, 21);
        return n;
    }
    static int lit_in(const Shot& s, int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += s.lit(x, y);
        return n;
    }
    DeviceProcess d_;
};

TEST_F(PhoneState, AFreshPhoneShowsOperatorSignalBatteryAndSoundInTheTopBar) {
    ASSERT_NO_FATAL_FAILURE(boot());
    auto state = d_.ctl({"state"}).out;
    EXPECT_NE(state.find("HKLM\tSystem\\State\\Phone\tCurrent Operator Name\tLumo Mobile\n"), std::string::npos) << state;
    EXPECT_NE(state.find("HKLM\tSystem\\State\\Phone\tSignal Strength Raw\t100\n"), std::string::npos);
    EXPECT_NE(state.find("HKCU\tControlPanel\\Notifications\\ShellOverrides\tMode\t0\n"), std::string::npos);
    EXPECT_EQ(state.find("ControlPanel\\Owner"), std::string::npos);
    EXPECT_EQ(state.find("SlideKey"), std::string::npos);  // this model has no keyboard
    auto s = shot("fresh.png");
    ASSERT_EQ(s.width, 480);
    EXPECT_EQ(bars(s), 5);
    EXPECT_GT(lit_in(s, 44, 0, 200, 32), 100);     // the operator's name
    EXPECT_GT(lit_in(s, 480 - 36, 10, 480, 22), 100);  // the gauge, full
    EXPECT_GT(lit_in(s, 480 - 42 - 40, 0, 480 - 42, 32), 20);  // the sound-on icon
}

TEST_F(PhoneState, SignalFlightModeAndNoService) {
    ASSERT_NO_FATAL_FAILURE(boot());
    for (auto [level, expected] : {std::pair{"14", 0}, {"15", 1}, {"100", 5}}) {
        ctl({"gsm", "signal", level});
        settle();
        EXPECT_EQ(bars(shot(std::string("signal") + level + ".png")), expected) << level;
    }
    ctl({"radio", "flight", "on"});
    settle();
    auto flight = shot("flight.png");
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(flight.lit(2 + i * 8 + 1, 23)) << i;
    EXPECT_GT(lit_in(flight, 0, 0, 32, 32), 20);  // the aeroplane
    // Flight mode keeps the other bits of the phone's status.
    ctl({"reg", "set", "HKLM", "System\\State\\Phone", "Status", "dword", "0x10010"});
    ctl({"radio", "flight", "off"});
    EXPECT_NE(d_.ctl({"state"}).out.find("Status\t65536\n"), std::string::npos);
    ctl({"gsm", "operator", ""});
    settle();
    auto none = shot("noservice.png");
    EXPECT_GT(lit_in(none, 2, 0, 150, 32), 100);  // "No Service" from the left edge
}

TEST(PhoneStateAcrossBoots, FlightModeOutlivesARestartAndACallDoesNot) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    ASSERT_EQ(d.ctl({"radio", "flight", "on"}).status, 0);
    // A ringing call's bit as the host was stopped.
    ASSERT_EQ(d.ctl({"reg", "set", "HKLM", "System\\State\\Phone", "Status", "dword", "0x10010"}).status, 0);
    ASSERT_EQ(d.stop(), 0);
    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    auto r = again.ctl({"reg", "get", "HKLM", "System\\State\\Phone", "Status"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "dword 16\n");  // the radio-off bit alone
    ASSERT_EQ(again.ctl({"radio", "flight", "off"}).status, 0);
    again.stop();
}

TEST_F(PhoneState, ChargingShowsTheSweepingBatteryUntilFull) {
    ASSERT_NO_FATAL_FAILURE(boot());
    ctl({"power", "capacity", "60"});
    ctl({"power", "ac", "on"});
    settle(1000);
    auto a = shot("charging1.png");
    settle(200);
    auto b = shot("charging2.png");
    // The battery body spans the middle of the screen: its fill moved between the two.
    int differ = 0;
    for (int y = 340; y < 460; ++y)
        for (int x = 60; x < 420; ++x) differ += a.green(x, y) != b.green(x, y);
    EXPECT_GT(differ, 100);
    ctl({"power", "capacity", "100"});
    settle(6500);  // the fill grows on to the end of the body
    auto full1 = shot("full1.png");
    settle(300);
    auto full2 = shot("full2.png");
    int moved = 0;
    for (int y = 340; y < 460; ++y)
        for (int x = 60; x < 420; ++x) moved += full1.green(x, y) != full2.green(x, y);
    EXPECT_EQ(moved, 0);
    EXPECT_GT(lit_in(full1, 100, 380, 380, 420), 5000);
    ctl({"power", "ac", "off"});
    settle(800);
    EXPECT_LT(lit_in(shot("unplugged.png"), 100, 380, 380, 420), 500);
}

TEST_F(PhoneState, StateIconsOwnerAndTheDigitalBattery) {
    ASSERT_NO_FATAL_FAILURE(boot());
    set("ShowOwnerInfo", "binary", "01");
    set("DigitalBattery", "binary", "01");
    // The owner is known before the reload: a change while the service restarts its lock
    // screen reaches nobody until the new one has reported in.
    ctl({"owner", "Ann Lee", "555-0100"});
    ASSERT_NO_FATAL_FAILURE(reload_settings());
    ctl({"headset", "bt-stereo"});
    ctl({"radio", "wifi", "on"});
    ctl({"radio", "bluetooth", "on"});
    ctl({"ringer", "vibrate"});
    ctl({"power", "capacity", "20"});
    settle(2500);  // the headset change is batched
    auto s = shot("icons.png");
    // Four icons right to left from the battery: vibrate, Bluetooth, Wi-Fi, stereo headset.
    int x = 480 - 42;
    for (int w : {18, 13, 21, 17}) {
        x -= 2 * (w + 2);
        EXPECT_GT(lit_in(s, x, 0, x + 2 * w, 32), 10) << w;
    }
    EXPECT_EQ(lit_in(s, 200, 0, x - 4, 32), 0);
    // 20 % in red at the right end.
    int red = 0;
    for (int y = 4; y < 30; ++y)
        for (int xx = 420; xx < 480; ++xx) red += s.red(xx, y) > 180 && s.green(xx, y) < 60;
    EXPECT_GT(red, 20);
    // The owner's line at the bottom right.
    EXPECT_GT(lit_in(s, 240, 770, 480, 800), 100);
    EXPECT_NE(d_.ctl({"log", "lumo"}).out.find("UpdateBattery 20(0)"), std::string::npos);
}

TEST_F(PhoneState, ABurstOfHeadsetChangesReachesTheServiceBatched) {
    ASSERT_NO_FATAL_FAILURE(boot());
    auto t0 = Clock::now();
    for (int i = 0; i < 50 && Clock::now() - t0 < Ms(1000); ++i)
        ctl({"headset", i % 2 ? "bt-stereo" : "bt-handsfree"});
    settle(2000);
    auto log = d_.ctl({"log", "Vardex2"}).out;
    int heard = 0;
    for (std::size_t at = log.find("BT headset"); at != std::string::npos; at = log.find("BT headset", at + 1)) ++heard;
    auto spent = std::chrono::duration_cast<Ms>(Clock::now() - t0).count();
    EXPECT_GE(heard, 1);
    EXPECT_LE(heard, int(spent / 1500) + 1) << log;
}

TEST_F(PhoneState, VerbsRefuseBadArgumentsBeforeTheDevice) {
    // No device runs: a usage error says so with status 2, not "no device" (3).
    for (auto args : std::vector<std::vector<std::string>>{{"gsm", "signal", "101"},
                                                            {"gsm", "signal", "x"},
                                                            {"gsm", "data", "lte"},
                                                            {"gsm", "forward", "maybe"},
                                                            {"radio", "flight"},
                                                            {"network", "connections", "-1"},
                                                            {"ringer", "loud"},
                                                            {"headset", "usb"},
                                                            {"cradle"},
                                                            {"stylus", "up"},
                                                            {"keyboard", "half"},
                                                            {"sync", "1"},
                                                            {"owner"},
                                                            {"state", "all"}})
        EXPECT_EQ(d_.ctl(args).status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_EQ(d_.ctl({"gsm", "--help"}).status, 0);
}

TEST_F(PhoneState, OnlyAPhoneWithAKeyboardSlidesIt) {
    ASSERT_TRUE(d_.start({"--oem", "htc-pro"})) << d_.last_error;
    EXPECT_NE(d_.ctl({"state"}).out.find("SlideKey\t0\n"), std::string::npos);
    ctl({"keyboard", "open"});
    EXPECT_NE(d_.ctl({"state"}).out.find("SlideKey\t1\n"), std::string::npos);
    ctl({"stylus", "out"});
    ctl({"cradle", "on"});
    ctl({"sync", "on"});
    ctl({"network", "connections", "2"});
    ctl({"gsm", "data", "hspa"});
    auto state = d_.ctl({"state"}).out;
    for (auto line : {"StylusOutStatus\t1\n", "Cradled\t1\n", "Synchronizing\t1\n",
                      "Connections\tCount\t2\n", "Cellular System Connected\t96\n"})
        EXPECT_NE(state.find(line), std::string::npos) << line << state;
    DeviceProcess plain;
    ASSERT_TRUE(plain.start()) << plain.last_error;
    auto r = plain.ctl({"keyboard", "open"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no slide-out keyboard"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumo::test
