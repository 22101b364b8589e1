// The diagnostic log on real files: encoding, line formats, limits, rotation, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/log/log.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"

namespace lumo::log {
namespace {

namespace fs = std::filesystem;

class FixedEnvironment final : public Environment {
  public:
    platform::LocalTime time{
        .year = 2024, .month = 3, .day_of_week = 2, .day = 5, .hour = 14, .minute = 7, .second = 8};
    std::atomic<std::uint64_t> memory{123456};
    platform::LocalTime local_time() override { return time; }
    std::uint64_t available_memory() override { return memory; }
};

std::vector<unsigned char> bytes_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file decoded: checks the byte-order mark and returns the text after it.
std::u16string text_of(const fs::path& p) {
    auto b = bytes_of(p);
    EXPECT_GE(b.size(), 2u);
    EXPECT_EQ(b.size() % 2, 0u);
    if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) {
        ADD_FAILURE() << "no byte-order mark in " << p;
        return {};
    }
    std::u16string s;
    for (std::size_t i = 2; i + 1 < b.size(); i += 2) s.push_back(char16_t(b[i] | (b[i + 1] << 8)));
    return s;
}

std::vector<std::u16string> lines_of(const fs::path& p) {
    auto s = text_of(p);
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (auto end = s.find(u"\r\n"); end != std::u16string::npos; end = s.find(u"\r\n", start)) {
        lines.push_back(s.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, s.size()) << "text after the last CR LF";
    return lines;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lumo-log-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
    FixedEnvironment env;
};

TEST_F(LogTest, EachVariantWritesItsFileAndLineFormat) {
    for (const auto& v : kVariants) {
        SCOPED_TRACE(platform::to_utf8(v.file_name));
        {
            auto log = Log::open(v.variant, folder, false, env);
            ASSERT_TRUE(log.is_open());
            log.printf("Boot Tick %d", 42);
        }
        auto lines = lines_of(folder / fs::path(std::u16string(v.file_name)));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], v.memory_column ? u"14:07:08 \t123456 \tBoot Tick 42"
                                            : u"14:07:08 \tBoot Tick 42");
    }
    EXPECT_TRUE(fs::exists(folder / "lumo Settings.log"));
}

TEST_F(LogTest, TextsKeepTheirCharactersInUtf16) {
    auto log = Log::open(Variant::Service, folder, false, env);
    log.write(std::u16string_view(u"Zorp \u00e9t\u00e9 \U0001F600"));
    log.printf("%s|%s", "\xc3\xa9", "plain");
    auto lines = lines_of(log_path(Variant::Service, folder));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"14:07:08 \tZorp \u00e9t\u00e9 \U0001F600");
    EXPECT_EQ(lines[1], u"14:07:08 \t\u00e9|plain");
}

TEST_F(LogTest, LongMessagesAreCutAndTheLineKeepsItsEnd) {
    env.memory = 4000000000u;  // the widest memory column
    auto log = Log::open(Variant::LockScreen, folder, false, env);
    log.write(std::string(1000, 'a'));
    log.write(std::string(255, 'b'));
    auto lines = lines_of(log_path(Variant::LockScreen, folder));
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& l : lines) EXPECT_EQ(l.size() + 2, kMaxLineChars);
    const std::u16string prefix = u"14:07:08 \t4000000000 \t";
    EXPECT_EQ(lines[0], prefix + std::u16string(kMaxLineChars - 2 - prefix.size(), u'a'));

    auto plain = Log::open(Variant::Service, folder, false, env);
    plain.write(std::string(300, 'c'));
    auto service = lines_of(log_path(Variant::Service, folder));
    ASSERT_EQ(service.size(), 1u);
    EXPECT_EQ(service[0], u"14:07:08 \t" + std::u16string(kMaxLineChars - 2 - 10, u'c'));
}

TEST_F(LogTest, ACutNeverSplitsASurrogatePair) {
    auto log = Log::open(Variant::Service, folder, false, env);
    // The line has room for 247 units of text after "hh:mm:ss \t".
    std::u16string msg(246, u'x');
    msg += u"\U0001F600";  // units 247 and 248
    log.write(std::u16string_view(msg));
    auto lines = lines_of(log_path(Variant::Service, folder));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], u"14:07:08 \t" + std::u16string(246, u'x'));
}

TEST_F(LogTest, WithoutDebugOnARestartTruncates) {
    {
        auto log = Log::open(Variant::Service, folder, false, env);
        log.write(std::string_view("first run"));
    }
    auto log = Log::open(Variant::Service, folder, false, env);
    EXPECT_TRUE(lines_of(log_path(Variant::Service, folder)).empty());
    EXPECT_FALSE(fs::exists(folder / "Vardex2.log.1"));
}

TEST_F(LogTest, WithDebugOnTenGenerationsRotateAndTheOldestGoes) {
    auto path = log_path(Variant::Browser, folder);
    // Ten runs, each writing its number.
    for (int run = 1; run <= 11; ++run) {
        auto log = Log::open(Variant::Browser, folder, true, env);
        log.printf("run %d", run);
    }
    // The current log holds run 11, .1 run 10, ..., .9 run 2; run 1 is gone.
    for (int n = 0; n <= kGenerations; ++n) {
        auto p = path;
        if (n) p += "." + std::to_string(n);
        auto lines = lines_of(p);
        ASSERT_EQ(lines.size(), 1u) << p;
        EXPECT_EQ(lines[0], u"14:07:08 \t123456 \trun " + platform::to_u16(std::to_string(11 - n)));
    }
    EXPECT_FALSE(fs::exists(path.string() + ".10"));
}

TEST_F(LogTest, RotationFillsGapsAndIgnoresWhatItCannotMove) {
    auto path = log_path(Variant::Service, folder);
    std::ofstream(path.string() + ".3") << "three";
    std::ofstream(path.string() + ".8") << "eight";
    fs::create_directories(path.string() + ".9/x");  // cannot be deleted nor replaced
    std::ofstream(path) << "current";
    rotate(path);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(bytes_of(path.string() + ".1").size(), 7u);
    EXPECT_FALSE(fs::exists(path.string() + ".3"));
    EXPECT_EQ(bytes_of(path.string() + ".4").size(), 5u);
    EXPECT_EQ(bytes_of(path.string() + ".8").size(), 5u) << "stays when it cannot move";
    EXPECT_TRUE(fs::is_directory(path.string() + ".9"));
}

TEST_F(LogTest, DebugOnComesFromTheSettingsKey) {
    platform::fake::FakePlatform device;
    auto& reg = device.registry();
    auto path = log_path(Variant::Settings, folder);
    std::ofstream(path) << "old";
    { auto log = Log::open(Variant::Settings, folder, reg, env); }  // no key: off
    EXPECT_FALSE(fs::exists(path.string() + ".1"));

    auto root = catalogue::open_root(reg)->key;
    catalogue::write_number(reg, root, u"DebugOn", 1);  // wrong shape counts as missing
    { auto log = Log::open(Variant::Settings, folder, reg, env); }
    EXPECT_FALSE(fs::exists(path.string() + ".1"));

    catalogue::write_byte(reg, root, u"DebugOn", 1);
    { auto log = Log::open(Variant::Settings, folder, reg, env); }
    EXPECT_TRUE(fs::exists(path.string() + ".1"));
}

TEST_F(LogTest, ALogThatCannotBeCreatedSkipsEveryWrite) {
    auto log = Log::open(Variant::Service, folder / "no such folder", true, env);
    EXPECT_FALSE(log.is_open());
    log.write(std::string_view("lost"));
    log.printf("lost %d", 1);
    Log closed;
    closed.write(std::string_view("lost"));
    EXPECT_FALSE(fs::exists(folder / "no such folder"));
}

TEST_F(LogTest, LinesFromManyThreadsArriveWhole) {
    auto log = Log::open(Variant::LockScreen, folder, false, env);
    constexpr int kThreads = 8, kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.printf("thread %d line %d %s", t, i,
                           std::string(100 + t * 10, 'a' + t).c_str());
        });
    }
    for (auto& th : threads) th.join();
    auto lines = lines_of(log_path(Variant::LockScreen, folder));
    ASSERT_EQ(lines.size(), std::size_t(kThreads * kLines));
    std::set<std::pair<int, int>> seen;
    for (const auto& l : lines) {
        auto u8 = platform::to_utf8(l);
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(u8.c_str(), "14:07:08 \t123456 \tthread %d line %d", &t, &i), 2)
            << u8;
        ASSERT_TRUE(t >= 0 && t < kThreads) << u8;
        auto tail = u8.substr(u8.rfind(' ') + 1);
        EXPECT_EQ(tail, std::string(100 + t * 10, char('a' + t))) << u8;
        seen.insert({t, i});
    }
    EXPECT_EQ(seen.size(), std::size_t(kThreads * kLines));
}

TEST_F(LogTest, TheDeviceClockStampsTheLines) {
    struct StoppedClock final : platform::Clock {
        std::uint32_t tick_count() override { return 0; }
        std::uint64_t local_file_time() override { return 0; }
        platform::LocalTime local_time() override {
            return {.year = 2009, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 5};
        }
    } clock;
    ClockEnvironment with_memory(clock, [] { return std::uint64_t{777}; });
    ClockEnvironment without(clock);
    Log::open(Variant::Browser, folder, false, with_memory).write(std::string_view("a"));
    Log::open(Variant::LockScreen, folder, false, without).write(std::string_view("b"));
    EXPECT_EQ(lines_of(log_path(Variant::Browser, folder)).at(0), u"23:59:05 \t777 \ta");
    EXPECT_EQ(lines_of(log_path(Variant::LockScreen, folder)).at(0), u"23:59:05 \t0 \tb");
}

}  // namespace
}  // namespace lumo::log
