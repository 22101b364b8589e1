// The volume overlay and the shutdown slider on a real headless phone with the real Vardex2 and
// lumo: the volume keys over the home screen, the in-call volume of a connected call, and the
// held power button through the shutdown slider to a phone that is off.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "device_process.h"

namespace lumo::test {
namespace {

using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

class VolumeOnDevice : public testing::Test {
protected:
    void boot(const std::vector<std::pair<std::string, std::string>>& bytes) {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        set("HKCU", kRoot, "WakeUpDelayMS", "dword", "300");
        set("HKCU", kRoot, "DebugOn", "binary", "01");
        for (auto& [name, value] : bytes) set("HKCU", kRoot, name, "binary", value);
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_TRUE(lumo("--hidden"));
        ASSERT_TRUE(wait_until([&] { return count(log("lumo.log"), "Start & Hide=1") > 0; }, Ms(10000)));
    }
    void set(const std::string& root, const std::string& key, const std::string& name, const std::string& type,
             const std::string& value) {
        auto r = d_.ctl({"reg", "set", root, key, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string get(const std::string& root, const std::string& key, const std::string& name) {
        return d_.ctl({"reg", "get", root, key, name}).out;
    }
    bool lumo(const std::string& how, int seconds = 10) {
        return d_.ctl({"wait", "window", "Lumo", how, "--timeout", std::to_string(seconds)}).status == 0;
    }
    std::string log(const std::string& name) { return d_.program_log(name); }
    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
        return n;
    }
    // A "NAME VALUE" line of a status verb.
    std::string field(const std::vector<std::string>& verb, const std::string& name) {
        std::istringstream in(d_.ctl(verb).out);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string key, value;
            words >> key >> value;
            if (key == name) return value;
        }
        return "";
    }
    // The class of the foreground window.
    std::string foreground() {
        std::istringstream rows(d_.ctl({"windows"}).out);
        for (std::string line; std::getline(rows, line);) {
            std::istringstream cols(line);
            std::vector<std::string> c;
            for (std::string col; std::getline(cols, col, '\t');) c.push_back(col);
            if (c.size() > 5 && c[4] == "1") return c[5];
        }
        return "";
    }
    void hook_ready() {
        ASSERT_TRUE(wait_until([&] { return count(log("Vardex2.log"), "Turn on Key Hook ") > 0; }, Ms(10000)))
            << log("Vardex2.log");
    }

    DeviceProcess d_;
};

TEST_F(VolumeOnDevice, VolumeKeysOverTheHomeScreenShowTheOverlayChangeTheVolumeAndGiveItBack) {
    boot({{"VolumeControl", "01"}, {"NoKeyBoardHook", "00"}});
    hook_ready();
    ASSERT_EQ(field({"sound", "status"}, "volume"), "0xFFFFFFFF");
    const std::string before_overlay = foreground();
    ASSERT_FALSE(before_overlay.empty());
    ASSERT_NE(before_overlay, "Lumo");
    ASSERT_EQ(d_.ctl({"key", "118"}).status, 0);
    ASSERT_TRUE(lumo("--foreground", 5)) << log("lumo.log");
    EXPECT_TRUE(wait_until([&] { return count(log("lumo.log"), "Start Volume Control") == 1; }, Ms(3000)));
    // The opening key is the service's; the next one reaches the overlay and turns it down.
    ASSERT_EQ(d_.ctl({"key", "118"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return field({"sound", "status"}, "volume") == "0xCCCCCCCC"; }, Ms(3000)))
        << d_.ctl({"sound", "status"}).out;
    EXPECT_TRUE(wait_until([&] { return get("HKCU", "ControlPanel\\Volume", "Volume") == "dword 3435973836\n"; },
                           Ms(3000)));
    // The beep played at the new volume.
    EXPECT_TRUE(wait_until([&] { return field({"sound", "status"}, "last") == "(beep)"; }, Ms(3000)));
    // Three seconds after the last key lumo is hidden and what was in front is in front again.
    EXPECT_TRUE(lumo("--hidden", 6));
    // lumo hides first and gives the front back right after.
    EXPECT_TRUE(wait_until([&] { return foreground() == before_overlay; }, Ms(2000))) << d_.ctl({"windows"}).out;
    EXPECT_EQ(get("HKCU", "ControlPanel\\Notifications\\ShellOverrides", "Mode"), "dword 0\n");
}

TEST_F(VolumeOnDevice, DuringAConnectedCallTheKeysTurnThePhoneDevicesVolume) {
    boot({{"VolumeControl", "01"}, {"NoKeyBoardHook", "00"}, {"InCallVolumeControl", "01"}});
    hook_ready();
    auto before = field({"gsm", "volume"}, "handset");
    ASSERT_EQ(before, "0x8000");
    ASSERT_EQ(d_.ctl({"gsm", "dial", "5550101"}).status, 0);
    ASSERT_EQ(d_.ctl({"gsm", "accept"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return d_.ctl({"gsm", "list"}).out.find("connected") != std::string::npos; },
                           Ms(5000)));
    // The service tells lumo of the call; the overlay then shows only the in-call bar.
    bool opened = wait_until(
        [&] {
            d_.ctl({"key", "117"});
            return wait_until([&] { return count(log("lumo.log"), "IC GetStatus") > 0; }, Ms(500));
        },
        Ms(8000), Ms(10));
    ASSERT_TRUE(opened) << log("lumo.log");
    ASSERT_EQ(d_.ctl({"key", "117"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return field({"gsm", "volume"}, "handset") == "0xB333"; }, Ms(3000)))
        << d_.ctl({"gsm", "volume"}).out << log("lumo.log");
    EXPECT_EQ(field({"sound", "status"}, "volume"), "0xFFFFFFFF") << "the call's volume only";
}

TEST_F(VolumeOnDevice, HoldingThePowerButtonOpensTheShutdownSliderAndSlidingSwitchesOff) {
    boot({});
    set("HKCU", kRoot, "ShutDownEXE", "string", "\\Windows\\ShutDown.exe");
    ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
    ASSERT_TRUE(lumo("--foreground", 5));
    ASSERT_EQ(d_.ctl({"power", "hold"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return count(log("lumo.log"), "Start Load Shut Down") == 1; }, Ms(5000)))
        << log("Vardex2.log") << log("lumo.log");
    EXPECT_EQ(field({"power", "status"}, "state"), "on") << "a held button is not a press";
    EXPECT_GT(count(log("Vardex2.log"), "Power button held"), 0);
    std::this_thread::sleep_for(Ms(600));  // the curtain
    // The power knob rests at the track's left, 29 units (58 pixels) from the top.
    ASSERT_EQ(d_.ctl({"drag", "88", "100", "440", "100", "600"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return field({"power", "status"}, "state") == "off"; }, Ms(15000)))
        << d_.ctl({"power", "status"}).out << log("lumo.log");
}

}  // namespace
}  // namespace lumo::test
