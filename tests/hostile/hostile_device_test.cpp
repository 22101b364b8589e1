// The worst files and settings all at once on a real headless device: the service and the lock
// screen run as the phone's programs, the test locks with "Vardex2 -slide" and unlocks by
// dragging the knob with lumo-devctl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <unistd.h>

#include "device_process.h"
#include "lumo/platform/text.h"

namespace lumo::hostile {
namespace {

using lumo::test::DeviceProcess;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
namespace fs = std::filesystem;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

std::vector<std::uint8_t> Seed(const std::string& name) {
    std::ifstream in(fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus" / "image_load" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    fs::remove_all(p, ec);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void Fifo(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0) << p;
}

class HostileDevice : public testing::Test {
protected:
    void TearDown() override {
        // A reader stuck on one of the pipes would keep its program alive: free it.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(d_.dir() / "fs", ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_fifo(ec)) {
                int fd = ::open(it->path().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
            }
        if (d_.running()) d_.stop();
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    }
    bool lumo(const std::string& how, int seconds) {
        return d_.ctl({"wait", "window", "Lumo", how, "--timeout", std::to_string(seconds)}).status == 0;
    }
    std::string log_of(const std::string& name) { return d_.program_log(name); }
    fs::path program() { return d_.dir() / "fs" / "Program Files" / "Lumo"; }

    DeviceProcess d_;
};

TEST_F(HostileDevice, WorstFilesAndSettingsAtOnceStillBootLockAndUnlock) {
    // The first start installs the product into the phone's folder.
    ASSERT_TRUE(d_.start()) << d_.last_error;
    ASSERT_EQ(d_.stop(), 0);
    const fs::path gfx = program() / "gfx";
    Fifo(program() / "lang.ini");
    Fifo(program() / "unlock.wav");
    std::mt19937 rng(3);
    std::vector<std::uint8_t> noise(5000);
    for (auto& b : noise) b = std::uint8_t(rng());
    Write(program() / "lock.wav", noise);
    Write(gfx / "topbar.png", Seed("sdl_oom.gif"));     // a GIF that took gigabytes, named .png
    Write(gfx / "wallpaper.jpg", Seed("huge_frame.gif"));
    Write(gfx / "notice.png", {});
    Fifo(gfx / "system.png");
    fs::remove(gfx / "conicon.png");
    fs::create_directory(gfx / "conicon.png");
    Write(gfx / "moving.gif", Seed("sdl_oom.gif"));

    ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
    set("DebugOn", "binary", "01");
    set("WakeUpDelayMS", "dword", "300");
    set("Wallpaper", "string", "\\Program Files\\Lumo\\gfx\\moving.gif");
    set("ShowAppointment", "string", "yes please");                  // a text for a byte
    set("TextSize", "dword", "4294967295");                          // far out of range
    set("GifSpeed", "binary", std::string(2 * 16384, 'f'));          // 16 KiB where a byte goes
    set("DateFormat", "binary", "ff");                               // a byte for a text
    ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
    ASSERT_TRUE(lumo("--hidden", 10)) << "the lock screen did not come up";
    auto until = Clock::now() + Ms(10000);
    while (log_of("lumo.log").find("Start & Hide=1") == std::string::npos && Clock::now() < until)
        std::this_thread::sleep_for(Ms(20));
    ASSERT_NE(log_of("lumo.log").find("Start & Hide=1"), std::string::npos) << log_of("lumo.log");

    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(d_.ctl({"start", kService, "-slide"}).status, 0);
        ASSERT_TRUE(lumo("--foreground", 10)) << "round " << round << ": no lock";
        std::this_thread::sleep_for(Ms(300));
        ASSERT_EQ(d_.ctl({"drag", "88", "740", "440", "740", "--ms", "300"}).status, 0);
        ASSERT_TRUE(lumo("--hidden", 10)) << "round " << round << ": still locked";
    }
}

// A pipe named like a shortcut in the start-up folder, read before the service's own shortcut:
// the host skips it and boots the service instead of waiting on the pipe for ever.
TEST_F(HostileDevice, APipeInTheStartUpFolderDoesNotHoldUpTheBoot) {
    ASSERT_TRUE(d_.start()) << d_.last_error;
    ASSERT_EQ(d_.stop(), 0);
    const fs::path pipe = d_.dir() / "fs" / "Windows" / "StartUp" / "A.lnk";
    Fifo(pipe);
    // Frees a host stuck on the pipe after a generous limit, so a hang fails instead of stalling.
    std::atomic<bool> booted{false}, freed{false};
    std::thread watchdog([&] {
        auto until = Clock::now() + std::chrono::seconds(20);
        while (!booted && Clock::now() < until) std::this_thread::sleep_for(Ms(50));
        while (!booted) {
            freed = true;
            int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
            std::this_thread::sleep_for(Ms(100));
        }
    });
    bool up = d_.boot();
    bool service = false;
    for (auto until = Clock::now() + std::chrono::seconds(10); up && !service && Clock::now() < until;) {
        service = d_.ctl({"dialogs"}).out.find("Lumo v2.30 by Vesk") != std::string::npos;
        if (!service) std::this_thread::sleep_for(Ms(50));
    }
    booted = true;
    watchdog.join();
    EXPECT_TRUE(up) << d_.last_error;
    EXPECT_FALSE(freed) << "the host waited on the pipe";
    EXPECT_TRUE(service) << "the service's first-start box did not come up";
}

}  // namespace
}  // namespace lumo::hostile
