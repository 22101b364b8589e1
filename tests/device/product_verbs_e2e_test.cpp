// lumo-devctl's verbs for the product on a real headless device: lock, settings reload and the
// logs, with the service and the lock screen running as the device's programs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "device_process.h"

namespace lumo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

// lumo-devctl left running (log -f), its standard output read as it comes.
class Follower {
  public:
    Follower(const DeviceProcess& d, const std::vector<std::string>& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        std::string path = bin_dir() + "/lumo-devctl";
        std::vector<std::string> all = {path, "--device", d.dir().string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        fd_ = out[0];
    }
    ~Follower() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    // Reads until `text` has come (true) or `limit` passed.
    bool wait_for(const std::string& text, Ms limit = Ms(10000)) {
        auto end = Clock::now() + limit;
        while (seen_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<Ms>(end - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) return false;
            seen_.append(buf, std::size_t(n));
        }
        return true;
    }
    const std::string& seen() const { return seen_; }
    bool running() { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string seen_;
};

class ProductVerbs : public testing::Test {
  protected:
    // The phone with its shell, the service and the hidden lock screen; the settings key is there
    // before the service's first start (no first-start boxes), with the log off.
    void boot() {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        set("DebugOn", "binary", "00");
        set("WakeUpDelayMS", "dword", "300");
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // Polls a program's log through the tool until it holds `text`.
    bool log_shows(const std::string& program, const std::string& text) {
        auto end = Clock::now() + Ms(10000);
        do {
            if (d_.ctl({"log", program}).out.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(Ms(50));
        } while (Clock::now() < end);
        return false;
    }
    DeviceProcess d_;
};

TEST_F(ProductVerbs, LockBringsTheLockScreenUpAsVardexSlideDoes) {
    ASSERT_NO_FATAL_FAILURE(boot());
    auto r = d_.ctl({"lock"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "10"}).status, 0);
    // The one-shot start has ended; the service runs on alone.
    auto procs = d_.ctl({"processes"}).out;
    auto first = procs.find("Vardex2.exe");
    ASSERT_NE(first, std::string::npos) << procs;
    EXPECT_EQ(procs.find("Vardex2.exe", first + 1), std::string::npos) << procs;
}

// A value changed in the registry takes effect on 'settings reload': with DebugOn turned on,
// the service logs every event from then on, beginning with the settings it loaded.
TEST_F(ProductVerbs, SettingsReloadMakesTheServiceReadAChangedValue) {
    ASSERT_NO_FATAL_FAILURE(boot());
    set("DebugOn", "binary", "01");
    // Without a reload the running service does not know.
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8001", "0", "0"}).status, 0);  // WM_FindSlideWnd
    std::this_thread::sleep_for(Ms(300));
    EXPECT_EQ(d_.ctl({"log", "Vardex2"}).out.find("zorp.exe path:"), std::string::npos);
    auto r = d_.ctl({"settings", "reload"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(log_shows("Vardex2", "zorp.exe path:")) << d_.ctl({"log", "Vardex2"}).out;
}

TEST_F(ProductVerbs, SettingsReloadWithoutTheServiceSaysItIsNotRunning) {
    ASSERT_TRUE(d_.start()) << d_.last_error;
    auto r = d_.ctl({"settings", "reload"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("lumo-devctl: the lock service (Vardex2) is not running", 0), 0u)
        << r.err;
}

TEST_F(ProductVerbs, LogPrintsTheDeviceLogAndProgramLogsAsUtf8) {
    ASSERT_NO_FATAL_FAILURE(boot());
    auto device = d_.ctl({"log"});
    EXPECT_EQ(device.status, 0) << device.err;
    EXPECT_NE(device.out.find("display 480x800"), std::string::npos) << device.out;
    auto service = d_.ctl({"log", "Vardex2"});
    EXPECT_EQ(service.status, 0) << service.err;
    EXPECT_NE(service.out.find("\tBoot Tick "), std::string::npos) << service.out;
    EXPECT_EQ(service.out.find('\r'), std::string::npos);
    EXPECT_EQ(service.out.find('\0'), std::string::npos);
    // The settings program has never run here.
    auto missing = d_.ctl({"log", "LumoSettings"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(
                  "no log of LumoSettings at " +
                  (d_.dir() / "fs" / "Program Files" / "Lumo" / "lumo Settings.log").string()),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("DebugOn"), std::string::npos) << missing.err;
}

TEST_F(ProductVerbs, LogFollowPicksUpNewLines) {
    ASSERT_NO_FATAL_FAILURE(boot());
    set("DebugOn", "binary", "01");
    ASSERT_EQ(d_.ctl({"settings", "reload"}).status, 0);
    ASSERT_TRUE(log_shows("Vardex2", "zorp.exe path:"));
    Follower service(d_, {"log", "Vardex2", "-f"});
    ASSERT_TRUE(service.wait_for("Boot Tick")) << service.seen();
    EXPECT_EQ(service.seen().find("WM_RefreshSetting"), std::string::npos);
    ASSERT_EQ(d_.ctl({"settings", "reload"}).status, 0);
    EXPECT_TRUE(service.wait_for("WM_RefreshSetting\n")) << service.seen();
    EXPECT_TRUE(service.running());

    Follower device(d_, {"log", "--follow"});
    ASSERT_TRUE(device.wait_for("display 480x800")) << device.seen();
    ASSERT_EQ(d_.ctl({"rotate", "90"}).status, 0);
    EXPECT_TRUE(device.wait_for("display turned to 90 degrees")) << device.seen();
}

}  // namespace
}  // namespace lumo::test
