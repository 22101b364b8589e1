// Sound output through a real headless host: playing a wave of the device's folder, the flags
// that keep a playing sound or the default sound out, bad files and paths that are refused
// while the host goes on serving, the volume, and `lumo-devctl sound`.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"
#include "wave_file.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

class SoundOnDevice : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start()) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"sound-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    std::filesystem::path fs(const std::string& rel) const { return device_.dir() / "fs" / rel; }
    // `lumo-devctl sound status` as name/value pairs.
    std::map<std::string, std::string> status() {
        auto r = device_.ctl({"sound", "status"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> out;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            auto sp = line.find(' ');
            out[line.substr(0, sp)] = sp == std::string::npos ? "" : line.substr(sp + 1);
        }
        return out;
    }
    std::string host_log() const {
        std::ifstream in(device_.dir() / "device.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    Sound& sound() { return p_->sound(); }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
};

TEST_F(SoundOnDevice, AWavePlaysForItsLengthAndTheStatusTellsWhatPlayedAndHowOften) {
    write_file(fs("My Documents/Beep.wav"), pcm_wave(1000, 22050, 1));
    auto before = status();
    EXPECT_EQ(before["playing"], "0");
    EXPECT_EQ(before["plays"], "0");
    EXPECT_EQ(before["last"], "");
    // Names match without regard to case, as on the phone.
    ASSERT_TRUE(sound().play(u"\\my documents\\beep.WAV", kSoundAsync | kSoundNoDefault));
    auto s = status();
    EXPECT_EQ(s["playing"], "1");
    EXPECT_EQ(s["current"], "\\my documents\\beep.WAV");
    EXPECT_EQ(s["last"], "\\my documents\\beep.WAV");
    EXPECT_EQ(s["plays"], "1");
    std::this_thread::sleep_for(Ms(1300));
    s = status();
    EXPECT_EQ(s["playing"], "0");
    EXPECT_EQ(s["current"], "");
    EXPECT_EQ(s["last"], "\\my documents\\beep.WAV");
    EXPECT_EQ(s["plays"], "1");
    EXPECT_NE(host_log().find("sound: playing \\my documents\\beep.WAV (1000 ms)"),
              std::string::npos)
        << host_log();
}

TEST_F(SoundOnDevice, NoStopRefusesWhileASoundPlaysAndAPlainPlayCutsIt) {
    write_file(fs("My Documents/long.wav"), pcm_wave(3000, 8000, 2));
    // "Short" beside the long one, yet long enough to be still playing when a slow machine
    // reads the status.
    write_file(fs("My Documents/short.wav"), pcm_wave(1500, 44100, 2));
    ASSERT_TRUE(sound().play(u"\\My Documents\\long.wav", kSoundAsync));
    EXPECT_FALSE(
        sound().play(u"\\My Documents\\short.wav", kSoundAsync | kSoundNoDefault | kSoundNoStop));
    auto s = status();
    EXPECT_EQ(s["current"], "\\My Documents\\long.wav");
    EXPECT_EQ(s["plays"], "1");
    ASSERT_TRUE(sound().play(u"\\My Documents\\short.wav", kSoundAsync | kSoundNoDefault));
    s = status();
    EXPECT_EQ(s["current"], "\\My Documents\\short.wav");
    EXPECT_EQ(s["plays"], "2");
    sound().stop();
    EXPECT_EQ(status()["playing"], "0");
    // Once nothing plays, NoStop plays like any other request.
    EXPECT_TRUE(sound().play(u"\\My Documents\\short.wav", kSoundAsync | kSoundNoStop));
}

TEST_F(SoundOnDevice, BadFilesAndPathsAreRefusedWithALogLineAndTheHostGoesOn) {
    auto good = pcm_wave(200);
    auto truncated = good;
    truncated.resize(50);  // the header promises data that is not there
    auto no_format = good;
    no_format[12] = 'x';  // "fmt " chunk renamed: no format at all
    // A data chunk that claims four gigabytes in a file of a few hundred bytes.
    auto forged = good;
    forged.resize(300);
    forged[40] = 0xC8, forged[41] = 0x00, forged[42] = 0x00, forged[43] = 0xF7;
    write_file(fs("My Documents/truncated.wav"), truncated);
    write_file(fs("My Documents/forged.wav"), forged);
    write_file(fs("My Documents/noformat.wav"), no_format);
    write_file(fs("My Documents/text.wav"), {'h', 'e', 'l', 'l', 'o'});
    write_file(fs("My Documents/empty.wav"), {});
    write_file(device_.dir() / "outside.wav", good);
    std::filesystem::create_directory_symlink(device_.dir(), fs("My Documents/up"));
    const std::u16string_view bad[] = {
        u"\\My Documents\\truncated.wav",
        u"\\My Documents\\forged.wav",
        u"\\My Documents\\noformat.wav",
        u"\\My Documents\\text.wav",
        u"\\My Documents\\empty.wav",
        u"\\..\\outside.wav",
        u"\\My Documents\\..\\..\\outside.wav",
        u"\\My Documents\\up\\outside.wav",
        u"relative.wav",
        u"\\My Documents\\missing.wav",
    };
    for (auto path : bad) {
        EXPECT_FALSE(sound().play(path, kSoundAsync | kSoundNoDefault)) << to_utf8(path);
        auto log = host_log();
        EXPECT_NE(log.find("sound: cannot play " + to_utf8(path) + ": "), std::string::npos) << log;
    }
    EXPECT_EQ(status()["plays"], "0");
    // The host still serves, and still plays a good file.
    write_file(fs("My Documents/good.wav"), good);
    EXPECT_TRUE(sound().play(u"\\My Documents\\good.wav", kSoundAsync));
    EXPECT_EQ(status()["plays"], "1");
}

TEST_F(SoundOnDevice, AFailedFilePlaysTheDefaultSoundUnlessTheCallerSaysNot) {
    EXPECT_FALSE(sound().play(u"\\My Documents\\missing.wav", kSoundAsync | kSoundNoDefault));
    EXPECT_EQ(status()["plays"], "0");
    EXPECT_FALSE(sound().play(u"\\My Documents\\missing.wav", kSoundAsync));
    auto s = status();
    EXPECT_EQ(s["plays"], "1");
    EXPECT_EQ(s["playing"], "1");
    EXPECT_EQ(s["last"], "(default sound)");
}

TEST_F(SoundOnDevice, TheVolumeKeepsBothHalvesUntilChanged) {
    EXPECT_EQ(sound().volume(), kVolumeFull);
    ASSERT_TRUE(sound().set_volume(0x33330000));
    EXPECT_EQ(sound().volume(), 0x33330000u);
    EXPECT_EQ(volume_left(*sound().volume()), 0);
    EXPECT_EQ(volume_right(*sound().volume()), 0x3333);
    EXPECT_EQ(status()["volume"], "0x33330000");
    // A silent left channel still plays (and counts) the clip.
    write_file(fs("My Documents/v.wav"), pcm_wave(100, 44100, 2));
    EXPECT_TRUE(sound().play(u"\\My Documents\\v.wav", kSoundAsync));
}

TEST_F(SoundOnDevice, TheControlToolPlaysStopsAndRejectsBadUse) {
    write_file(fs("My Documents/ctl.wav"), pcm_wave(5000, 8000));
    EXPECT_EQ(device_.ctl({"sound", "play", "\\My Documents\\ctl.wav"}).status, 0);
    auto busy = device_.ctl({"sound", "play", "\\My Documents\\ctl.wav", "--nostop"});
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("did not play"), std::string::npos) << busy.err;
    EXPECT_EQ(status()["playing"], "1");
    EXPECT_EQ(device_.ctl({"sound", "stop"}).status, 0);
    EXPECT_EQ(status()["playing"], "0");
    EXPECT_EQ(device_.ctl({"sound", "play", "\\nope.wav", "--nodefault"}).status, 1);
    EXPECT_EQ(device_.ctl({"sound", "play", "\\My Documents\\ctl.wav", "--loud"}).status, 2);
    EXPECT_EQ(device_.ctl({"sound"}).status, 2);
    auto help = run_program("lumo-devctl", {"--help"});
    EXPECT_NE(help.out.find("sound status"), std::string::npos);
    auto s = status();
    EXPECT_TRUE(s["output"] == "audio" || s["output"] == "silent") << s["output"];
}

// The same rules over the in-process fake and a real host, so tests written against the fake
// hold on the device.
struct SoundBackend {
    virtual ~SoundBackend() = default;
    virtual Sound& sound() = 0;
    virtual std::filesystem::path root() = 0;  // the host folder of the device's root
};

struct FakeBackend final : SoundBackend {
    FakeBackend() {
        dir = std::filesystem::temp_directory_path() /
              ("lumo-sound-fake-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        p.set_host_root(dir);
    }
    ~FakeBackend() override { std::filesystem::remove_all(dir); }
    Sound& sound() override { return p.sound(); }
    std::filesystem::path root() override { return dir; }
    fake::FakePlatform p;
    std::filesystem::path dir;
};

struct DeviceBackend final : SoundBackend {
    DeviceBackend() {
        EXPECT_TRUE(device.start()) << device.last_error;
        std::string error;
        p = device::connect(device.socket_path(), u"sound-rules", &error);
        EXPECT_TRUE(p) << error;
    }
    Sound& sound() override { return p->sound(); }
    std::filesystem::path root() override { return device.dir() / "fs"; }
    DeviceProcess device;
    std::unique_ptr<device::DevicePlatform> p;
};

class SoundRules : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) {
            backend_ = std::make_unique<DeviceBackend>();
        } else {
            backend_ = std::make_unique<FakeBackend>();
        }
        write_file(backend_->root() / "My Documents" / "a.wav", pcm_wave(3000, 8000));
        write_file(backend_->root() / "My Documents" / "b.wav", pcm_wave(3000, 8000));
    }
    Sound& sound() { return backend_->sound(); }
    std::unique_ptr<SoundBackend> backend_;
};

TEST_P(SoundRules, PlayStopNoStopAndMissingFilesBehaveAlike) {
    EXPECT_FALSE(sound().play(u"\\My Documents\\none.wav", kSoundAsync | kSoundNoDefault));
    EXPECT_TRUE(
        sound().play(u"\\My Documents\\a.wav", kSoundAsync | kSoundNoDefault | kSoundNoStop));
    EXPECT_FALSE(
        sound().play(u"\\My Documents\\b.wav", kSoundAsync | kSoundNoDefault | kSoundNoStop));
    EXPECT_TRUE(sound().play(u"\\My Documents\\b.wav", kSoundAsync | kSoundNoDefault));
    sound().stop();
    EXPECT_TRUE(sound().play(u"\\My Documents\\a.wav", kSoundAsync | kSoundNoStop));
    EXPECT_FALSE(sound().play(u"\\..\\a.wav", kSoundAsync | kSoundNoDefault));
}

TEST_P(SoundRules, TheVolumeStartsFullAndKeepsWhatWasSet) {
    EXPECT_EQ(sound().volume(), kVolumeFull);
    ASSERT_TRUE(sound().set_volume(0x80004000));
    EXPECT_EQ(sound().volume(), 0x80004000u);
}

INSTANTIATE_TEST_SUITE_P(FakeAndDevice, SoundRules, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                             return i.param ? "device" : "fake";
                         });

}  // namespace
}  // namespace lumo::test
