// What the device exposes and what abuse leaves behind: the device is its owner's alone
// whatever the umask, it runs only its own programs, its log stays small under a flood of bad
// connections, and a connection that never says hello is closed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "host.h"
#include "host_log.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

unsigned mode_of(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(Exposure, UnderAnOpenUmaskTheDeviceIsStillItsOwnersAlone) {
    DeviceProcess d;
    fs::remove(d.dir());  // the host makes the folder itself
    mode_t saved = ::umask(0);
    bool started = d.start();
    ::umask(saved);
    ASSERT_TRUE(started) << d.last_error;
    EXPECT_EQ(mode_of(d.dir()), 0700u);
    EXPECT_EQ(mode_of(d.dir() / "run"), 0700u);
    EXPECT_EQ(mode_of(d.dir() / "fs"), 0700u);
    EXPECT_EQ(mode_of(d.dir() / "run" / "device.sock") & 0777, 0600u);
    EXPECT_EQ(mode_of(d.dir() / "run" / "host.lock"), 0600u);
    EXPECT_EQ(mode_of(d.dir() / "registry.db"), 0600u);
    EXPECT_EQ(mode_of(d.dir() / "device.log"), 0600u);
    d.stop();
}

TEST(Exposure, ALinkLeadingOutOfTheDevicesProgramsIsNotStarted) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    // A script the shell would run, and a program of the phone that is really the shell.
    auto marker = d.dir() / "ran";
    auto script = d.dir() / "payload.sh";
    std::ofstream(script) << "touch '" << marker.string() << "'\n";
    fs::create_symlink("/bin/sh", d.dir() / "fs" / "Temp" / "evil.exe");
    auto r = d.ctl({"start", "\\Temp\\evil.exe", script.string()});
    EXPECT_EQ(r.status, 1);
    // A program asking gets "failed" (refused), not "not found".
    std::string error;
    auto client = wire::Client::connect(d.socket_path(), u"asker", &error);
    ASSERT_TRUE(client) << error;
    auto& w = client->begin(wire::Kind::ProcStart);
    w.s16(u"\\Temp\\EVIL.exe").s16(platform::to_u16(script.string())).u32(1);
    auto refused = client->call(w);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, wire::Status::Failed);
    // The device's own programs still start.
    EXPECT_EQ(d.ctl({"start", "\\Windows\\tmail.exe"}).status, 0);
    d.stop();
    EXPECT_FALSE(fs::exists(marker));
    auto log = read_file(d.dir() / "device.log");
    EXPECT_NE(log.find("refused to start \\Temp\\evil.exe: it leads outside the device's programs"),
              std::string::npos)
        << log;
}

TEST(Exposure, AFloodOfBadConnectionsLeavesAFewLogLinesAndASum) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    constexpr int kBad = 300;
    const unsigned char junk[] = {0xee, 0xee, 7, 0, 1, 0, 0, 0};
    for (int i = 0; i < kBad; ++i) {
        int fd = raw_connect(d.socket_path());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, junk, sizeof junk, 0), ssize_t(sizeof junk));
        EXPECT_TRUE(closed_by_host(fd, 5));
        ::close(fd);
    }
    d.stop();  // the sum is written at the latest when the host ends
    auto log = read_file(d.dir() / "device.log");
    int lines = 0;
    for (std::size_t at = 0; (at = log.find("closed: malformed packet header", at)) != std::string::npos; ++at) ++lines;
    EXPECT_LT(lines, kBad / 2) << log.size() << " bytes of log";
    EXPECT_NE(log.find("(repeated "), std::string::npos);
}

TEST(Exposure, TheLogMovesAsideAtItsLimitKeepingOneOlderLog) {
    DeviceProcess d;  // only its folder
    auto path = (d.dir() / "device.log").string();
    {
        host::HostLog log;
        ASSERT_TRUE(log.open(path, false, 4096));
        for (int i = 0; i < 200; ++i) log.line("line " + std::to_string(i) + std::string(60, '.'));
    }
    EXPECT_LE(fs::file_size(path), 4096u + 200);
    EXPECT_LE(fs::file_size(path + ".1"), 4096u + 200);
    EXPECT_FALSE(fs::exists(path + ".2"));
    EXPECT_NE(read_file(path).find("line 199"), std::string::npos);
}

TEST(Exposure, OneKindOfLineIsWrittenAFewTimesASecondThenSummed) {
    DeviceProcess d;  // only its folder
    auto path = (d.dir() / "device.log").string();
    {
        host::HostLog log;
        ASSERT_TRUE(log.open(path, false));
        for (int i = 0; i < 1000; ++i) log.printf("client %d closed: %s", i, "bad");
        log.line("other news");
    }
    auto text = read_file(path);
    int lines = 0;
    for (std::size_t at = 0; (at = text.find("closed: bad", at)) != std::string::npos; ++at) ++lines;
    // The limit's lines, and the sum (written when the log closes at the latest).
    EXPECT_EQ(lines, host::HostLog::kLinesPerKindPerSecond + 1);
    EXPECT_NE(text.find("other news"), std::string::npos);
    EXPECT_NE(text.find("client 999 closed: bad ... (repeated " +
                        std::to_string(1000 - host::HostLog::kLinesPerKindPerSecond) + " times)"),
              std::string::npos)
        << text;
}

TEST(Exposure, AConnectionThatNeverSaysHelloIsClosed) {
    DeviceProcess d;  // only its folder; the host runs in this process with a short limit
    host::Options o;
    o.dir = d.dir().string();
    o.headless = true;
    o.startup = false;
    o.shell = false;
    o.hello_timeout_ms = 200;
    host::Host h(o);
    std::string error;
    ASSERT_TRUE(h.start(&error)) << error;
    std::thread loop([&] { h.run(); });
    int silent = raw_connect((d.dir() / "run" / "device.sock").string());
    ASSERT_GE(silent, 0);
    EXPECT_TRUE(closed_by_host(silent, 10));
    ::close(silent);
    h.request_stop();
    loop.join();
}

}  // namespace
}  // namespace lumo::test
