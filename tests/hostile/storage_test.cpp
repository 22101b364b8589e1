// Storage that fails: a registry change the database refused is made nowhere, and a new device
// that cannot be installed in full is not installed at all and says so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;
using wire::Kind;
using wire::Reader;
using wire::Status;
using Ms = std::chrono::milliseconds;

constexpr std::u16string_view kKey = u"Software\\Vesk\\Lumo";

// Another program holds the registry's write lock, so the host's next change fails. It waits its
// turn for the lock as any writer would: the host may still be about to commit its last change.
class WriteLockHolder {
public:
    explicit WriteLockHolder(const fs::path& db) {
        if (sqlite3_open_v2(db.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
        sqlite3_busy_timeout(db_, 5000);
        locked_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLockHolder() {
        if (locked_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    bool locked() const { return locked_; }

private:
    sqlite3* db_ = nullptr;
    bool locked_ = false;
};

TEST(RefusedStorage, ARegistryChangeTheDatabaseRefusedChangesNothingAndTellsNobody) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Locked", "dword", "1"}).status, 0);
    std::string error;
    auto watcher = wire::Client::connect(d.socket_path(), u"watcher", &error);
    ASSERT_TRUE(watcher) << error;
    for (auto [name, msg] : {std::pair{u"Locked", 0x8101u}, std::pair{u"Other", 0x8102u}}) {
        auto& w = watcher->begin(Kind::NotifyRegister);
        w.u32(1).s16(kKey).s16(name).u32(0).u32(msg).u32(0).u32(0);
        auto r = watcher->call(w);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, Status::Ok);
    }
    {
        WriteLockHolder holder(d.dir() / "registry.db");
        ASSERT_TRUE(holder.locked());
        auto refused = d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Locked", "dword", "0"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("refused: failed"), std::string::npos) << refused.err;
        EXPECT_EQ(d.ctl({"reg", "delete", "HKCU", "Software\\Vesk\\Lumo", "Locked"}).status, 1);
        EXPECT_EQ(d.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Locked"}).out, "dword 1\n");
    }
    // Nobody heard of the refused change: the first news is of the next real one.
    ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Other", "dword", "7"}).status, 0);
    auto news = watcher->next_event(5000);
    ASSERT_TRUE(news);
    Reader rd(news->body);
    rd.u32();
    EXPECT_EQ(rd.u32(), 0x8102u);
    watcher.reset();
    ASSERT_EQ(d.stop(), 0);

    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    EXPECT_EQ(again.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Locked"}).out, "dword 1\n");
    again.stop();
}

// Files the host writes may not grow past `bytes` while it lives, as on a nearly full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    sighandler_t old_handler_ = SIG_DFL;
};

CommandResult boot_device(const fs::path& dir, bool detach) {
    std::vector<std::string> args = {"--device", dir.string(), "--headless", "--no-startup"};
    if (detach) args.push_back("--detach");
    return run_program("lumo-device", args);
}

TEST(RefusedStorage, AFirstBootThatCannotInstallEverythingFailsAndLeavesNothingHalfDone) {
    DeviceProcess d;  // only its folder: the boots below are started by hand
    if (!fs::is_directory(fs::path(bin_dir()).parent_path() / "stage"))
        GTEST_SKIP() << "the build has no staged pictures to install";
    for (bool detach : {true, false}) {
        CommandResult r;
        {
            FileSizeLimit full(64 << 10);  // the language pack and a sample picture do not fit
            r = boot_device(d.dir(), detach);
        }
        if (r.status == 0) d.ctl({"shutdown"});
        EXPECT_NE(r.status, 0) << (detach ? "with --detach" : "in the foreground");
        EXPECT_NE(r.err.find("could not be installed"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("cannot install"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(d.dir() / "fs"));
        EXPECT_FALSE(fs::exists(d.dir() / "fs.installing"));
        if (r.status == 0) break;  // a foreground boot would not come back
    }
    // With room, the same folder boots and holds everything whole.
    ASSERT_TRUE(d.start()) << d.last_error;
    auto lnk = d.dir() / "fs" / "Windows" / "StartUp" / "Vardex2.lnk";
    EXPECT_GT(fs::file_size(lnk), 0u);
    auto stage = fs::path(bin_dir()).parent_path() / "stage";
    for (auto& e : fs::recursive_directory_iterator(stage)) {
        if (!e.is_regular_file()) continue;
        auto installed = d.dir() / "fs" / fs::relative(e.path(), stage);
        if (fs::exists(installed)) {
            EXPECT_EQ(fs::file_size(installed), e.file_size()) << installed;
        }
    }
    d.stop();
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void limit_file_size(pid_t pid, rlim_t bytes) {
    rlimit limit{bytes, RLIM_INFINITY};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
}

// The disk fills while the host runs: the change already answered is kept (every program sees it)
// and stored once there is room; while storage refuses, each further change is refused.
TEST(RefusedStorage, ACommitTheDiskRefusesKeepsTheAnsweredChangeAndStoresItOnceThereIsRoom) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto wal = d.dir() / "registry.db-wal";
    auto log = d.dir() / "device.log";
    ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Locked", "dword", "1"}).status, 0);
    // A log well longer than the log file, so only the registry's next commit hits the limit.
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Filler", "V" + std::to_string(i),
                         "string", std::string(2000, 'f')}).status, 0);
        if (fs::exists(wal) && fs::file_size(wal) > fs::file_size(log) + (64 << 10)) break;
    }
    ASSERT_TRUE(wait_until([&] { return fs::file_size(wal) > fs::file_size(log) + (64 << 10); }, Ms(3000)));
    std::this_thread::sleep_for(Ms(200));  // the last filler is committed
    std::string error;
    auto watcher = wire::Client::connect(d.socket_path(), u"watcher", &error);
    ASSERT_TRUE(watcher) << error;
    auto& w = watcher->begin(Kind::NotifyRegister);
    w.u32(1).s16(kKey).s16(u"Locked").u32(0).u32(0x8101).u32(0).u32(0);
    ASSERT_TRUE(watcher->call(w));

    limit_file_size(d.pid(), fs::file_size(wal));
    // Answered before the commit that then fails: kept, seen by everyone, news sent.
    ASSERT_EQ(d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Locked", "dword", "2"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return read_text(log).find("registry changes not stored yet") != std::string::npos; },
                           Ms(3000)))
        << read_text(log);
    auto refused = d.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "Locked", "dword", "3"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("refused"), std::string::npos) << refused.err;
    EXPECT_EQ(d.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Locked"}).out, "dword 2\n");
    auto news = watcher->next_event(2000);
    ASSERT_TRUE(news);
    EXPECT_FALSE(watcher->next_event(300)) << "news of a refused change";

    limit_file_size(d.pid(), RLIM_INFINITY);
    EXPECT_TRUE(wait_until([&] { return read_text(log).find("registry changes stored") != std::string::npos; },
                           Ms(5000)));
    watcher.reset();
    d.kill_with(SIGKILL);  // no orderly stop: what is stored is what the file holds
    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    EXPECT_EQ(again.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Locked"}).out, "dword 2\n");
    again.stop();
}

TEST(RefusedStorage, AContactThatDoesNotFitIsRefusedClearlyAndTheOthersStay) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    const auto before = d.ctl({"contact", "list"}).out;
    ASSERT_FALSE(before.empty());
    d.stop();
    auto picture = d.dir() / "portrait.png";
    {
        std::ofstream out(picture, std::ios::binary);
        out << "\x89PNG\r\n\x1a\n" << std::string(50000, 'p');
    }
    {
        // The phone's storage is full: no file of the host may grow past 32 KiB.
        FileSizeLimit full(32 << 10);
        ASSERT_TRUE(d.start()) << d.last_error;
    }
    auto r = d.ctl({"contact", "add", "Nora Full", "5550177", "--picture", picture.string()});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("the contacts store failed"), std::string::npos) << r.err;
    EXPECT_EQ(d.ctl({"contact", "list"}).out, before);
    EXPECT_EQ(d.ctl({"status"}).status, 0);
    d.stop();
    // With room again everything that was there is there, and the add works.
    ASSERT_TRUE(d.start()) << d.last_error;
    EXPECT_EQ(d.ctl({"contact", "list"}).out, before);
    EXPECT_EQ(d.ctl({"contact", "add", "Nora Full", "5550177", "--picture", picture.string()}).status, 0);
    EXPECT_NE(d.ctl({"contact", "list"}).out.find("Nora Full"), std::string::npos);
    d.stop();
}

}  // namespace
}  // namespace lumo::test
