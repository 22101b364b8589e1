// The phone's ringer, beep, in-call volumes and held power button through a real headless host:
// the ringer kept as the published Mode, a beep a silent phone keeps quiet, `lumo-devctl gsm
// volume` beside a program's phone device, and the long press against the short one.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

class PhoneOnDevice : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start()) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"ringer-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    std::string field(const std::vector<std::string>& verb, const std::string& name) {
        std::istringstream in(device_.ctl(verb).out);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string key, value;
            words >> key >> value;
            if (key == name) return value;
        }
        return "";
    }
    std::string mode() {
        return device_.ctl({"reg", "get", "HKCU", "ControlPanel\\Notifications\\ShellOverrides", "Mode"}).out;
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
};

TEST_F(PhoneOnDevice, TheRingerIsThePublishedModeAndABeepFollowsIt) {
    auto& sound = p_->sound();
    ASSERT_EQ(sound.ringer(), RingerType::On);
    ASSERT_TRUE(sound.set_ringer(RingerType::Vibrate));
    EXPECT_EQ(mode(), "dword 1\n");
    EXPECT_EQ(sound.ringer(), RingerType::Vibrate);
    // Whoever writes Mode sets the ringer: the person's verb too.
    ASSERT_EQ(device_.ctl({"ringer", "silent"}).status, 0);
    EXPECT_EQ(sound.ringer(), RingerType::None);
    const auto plays = field({"sound", "status"}, "plays");
    EXPECT_FALSE(sound.beep()) << "a silent phone makes no system sound";
    EXPECT_EQ(field({"sound", "status"}, "plays"), plays);
    ASSERT_TRUE(sound.set_ringer(RingerType::On));
    ASSERT_TRUE(sound.set_volume(0x33333333));
    EXPECT_TRUE(sound.beep());
    // Counted rather than caught playing: the beep lasts 200 ms, a slow machine reads later.
    EXPECT_EQ(field({"sound", "status"}, "last"), "(beep)");
    EXPECT_EQ(std::stoi(field({"sound", "status"}, "plays")), std::stoi(plays) + 1);
    // A type the setting does not have is refused, and the setting stays.
    EXPECT_FALSE(sound.set_ringer(static_cast<RingerType>(7)));
    EXPECT_EQ(mode(), "dword 0\n");
}

TEST_F(PhoneOnDevice, GsmVolumeShowsAndSetsTheHookSwitchDevicesVolumes) {
    auto shown = device_.ctl({"gsm", "volume"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, "in-use\thandset\nhandset\t0x8000\nspeaker\t0x8000\nheadset\t0x8000\n");
    ASSERT_EQ(device_.ctl({"gsm", "volume", "speaker", "40000", "--use"}).status, 0);
    EXPECT_EQ(field({"gsm", "volume"}, "in-use"), "speaker");
    EXPECT_EQ(field({"gsm", "volume"}, "speaker"), "0x9C40");
    // A program's phone device sees the same volume and turns it.
    auto& tel = p_->telephony();
    PhoneAppHandle app = 0;
    std::uint32_t devices = 0, version = 0;
    PhoneHandle phone = 0;
    ASSERT_EQ(tel.phone_initialize(u"test", app, devices), 0);
    ASSERT_EQ(tel.phone_negotiate_api_version(app, 0, 0x20000, 0x20000, version), 0);
    ASSERT_EQ(tel.phone_open(app, 0, version, phone), 0);
    std::uint32_t v = 0;
    ASSERT_EQ(tel.phone_get_volume(phone, kHookSwitchSpeaker, v), 0);
    EXPECT_EQ(v, 40000u);
    ASSERT_EQ(tel.phone_set_volume(phone, kHookSwitchHeadset, 0x1234), 0);
    EXPECT_EQ(field({"gsm", "volume"}, "headset"), "0x1234");
    // Bad input gets a usage error and changes nothing.
    EXPECT_EQ(device_.ctl({"gsm", "volume", "speaker", "70000"}).status, 2);
    EXPECT_EQ(device_.ctl({"gsm", "volume", "headset"}).status, 2);
    EXPECT_EQ(device_.ctl({"gsm", "volume", "--use"}).status, 2);
    EXPECT_EQ(field({"gsm", "volume"}, "speaker"), "0x9C40");
}

TEST_F(PhoneOnDevice, AHeldPowerButtonIsALongPressNotAPress) {
    auto queue = p_->power().request_notifications(kPowerButtonHeld);
    ASSERT_TRUE(queue);
    auto held = [&](int wait_ms) {
        for (auto bytes = queue->read(std::uint32_t(wait_ms)); bytes; bytes = queue->read(0))
            if (auto r = decode_power_record(*bytes); r && r->type == kPowerButtonHeld) return true;
        return false;
    };
    ASSERT_EQ(device_.ctl({"power", "hold"}).status, 0);
    EXPECT_TRUE(held(2000));
    EXPECT_EQ(field({"power", "status"}, "state"), "on");
    // The key held down past the long press: the same, and its release does nothing more.
    ASSERT_EQ(device_.ctl({"key", "down", "0xDF"}).status, 0);
    EXPECT_TRUE(held(3000));
    ASSERT_EQ(device_.ctl({"key", "up", "0xDF"}).status, 0);
    std::this_thread::sleep_for(Ms(200));
    EXPECT_EQ(field({"power", "status"}, "state"), "on");
    // A short press still switches the display off, and is not held.
    ASSERT_EQ(device_.ctl({"key", "press", "0xDF"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return field({"power", "status"}, "state") != "on"; }, Ms(2000)));
    EXPECT_FALSE(held(1700));
}

}  // namespace
}  // namespace lumo::test
