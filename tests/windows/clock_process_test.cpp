// The device's clocks, and processes as a program sees them.
#include <algorithm>

#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class ClockProcess : public testing::TestWithParam<Impl> {
protected:
    void SetUp() override { h = make_harness(GetParam()); }
    std::unique_ptr<WindowHarness> h;
};

TEST_P(ClockProcess, TickCountAndLocalTimeMoveWithTime) {
    auto t0 = h->clock().tick_count();
    auto f0 = h->clock().local_file_time();
    h->let_time_pass(50);
    auto elapsed = h->clock().tick_count() - t0;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 5000u);
    auto f1 = h->clock().local_file_time();
    EXPECT_GE(f1 - f0, 50u * 10000);
    EXPECT_LT(f1 - f0, 5000u * 10000);
    // The broken-down time is the same clock.
    auto t = h->clock().local_time();
    EXPECT_LE(local_to_file_time(t), h->clock().local_file_time());
    EXPECT_GE(t.year, 2000);
}

struct TimeCase {
    LocalTime local;
    std::uint64_t file_time;
};

TEST(FileTime, ConvertsBothWaysWithWeekdays) {
    // LocalTime's fields: year, month, day_of_week, day, hour, minute, second, milliseconds.
    const TimeCase cases[]{
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},  // the epoch was a Monday
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
        {{1900, 3, 4, 1, 0, 0, 0, 0}, 94405824000000000ull},  // 1900 had no leap day
        {{2000, 2, 2, 29, 12, 34, 56, 789}, 125963012967890000ull},
        {{2008, 2, 5, 29, 23, 59, 59, 999}, 128488031999990000ull},
        {{2010, 3, 1, 15, 9, 30, 0, 0}, 129131190000000000ull},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.file_time);
        LocalTime in = c.local;
        EXPECT_EQ(local_to_file_time(in), c.file_time);
        EXPECT_EQ(file_time_to_local(c.file_time), c.local);
    }
    // The millisecond after the last one of a leap day is the 1st of March.
    auto next = file_time_to_local(128488031999990000ull + 10000);
    EXPECT_EQ(next, (LocalTime{2008, 3, 6, 1, 0, 0, 0, 0}));
    // Below a millisecond is dropped, also before 1970: half a millisecond before the Unix
    // epoch is still the last millisecond of 1969.
    EXPECT_EQ(file_time_to_local(9999).milliseconds, 0);
    EXPECT_EQ(file_time_to_local(116444736000000000ull - 5000),
              (LocalTime{1969, 12, 3, 31, 23, 59, 59, 999}));
}

TEST_P(ClockProcess, OwnPathAndSpecialFolders) {
    auto& p = h->processes();
    auto own = p.own_path();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own.front(), u'\\');
    EXPECT_EQ(own.substr(own.size() - 4), u".exe");
    EXPECT_EQ(program_folder(own) + u"\\" + file_name(own), own);

    auto snapshot = p.snapshot();
    auto self = std::find_if(snapshot.begin(), snapshot.end(),
                             [&](const ProcessEntry& e) { return e.id == p.own_id(); });
    ASSERT_NE(self, snapshot.end());
    EXPECT_EQ(self->exe_file, file_name(own));

    struct Folder {
        SpecialFolder folder;
        const char16_t* path;
    };
    const Folder folders[]{
        {SpecialFolder::ProgramFiles, u"\\Program Files"},
        {SpecialFolder::Windows, u"\\Windows"},
        {SpecialFolder::StartUp, u"\\Windows\\StartUp"},
        {SpecialFolder::MyDocuments, u"\\My Documents"},
        {SpecialFolder::MyPictures, u"\\My Documents\\My Pictures"},
        {SpecialFolder::Temp, u"\\Temp"},
    };
    for (auto& f : folders) EXPECT_EQ(p.special_folder(f.folder), f.path);
}

TEST_P(ClockProcess, UnknownProgramsDoNotStart) {
    auto& p = h->processes();
    EXPECT_FALSE(p.shell_execute(u"\\Windows\\nosuch.exe", u"-x", true));
    EXPECT_FALSE(p.shell_execute(u"", u"", false));
    EXPECT_FALSE(p.terminate(0xFFFF0));
    EXPECT_TRUE(p.wait_process(0xFFFF0, 10));  // not running: nothing to wait for
}

TEST_P(ClockProcess, SecondProgramIsListedUntilItEnds) {
    auto listed = [&] {
        auto s = h->processes().snapshot();
        return std::any_of(s.begin(), s.end(),
                           [&](const ProcessEntry& e) { return e.id == h->second_id(); });
    };
    EXPECT_TRUE(listed());
    h->end_second();
    EXPECT_FALSE(listed());
}

TEST_P(ClockProcess, HostPathsStayUnderTheDeviceFolder) {
    auto& p = h->processes();
    auto root = p.host_path(u"\\");
    ASSERT_TRUE(root);
    auto file = p.host_path(u"\\My Documents\\a.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->filename(), "a.txt");
    auto rel = file->lexically_relative(*root).string();
    EXPECT_EQ(rel.rfind("..", 0), std::string::npos) << rel;
    EXPECT_FALSE(p.host_path(u"relative\\a.txt"));
    EXPECT_FALSE(p.host_path(u"\\Temp\\..\\..\\etc\\passwd"));
}

INSTANTIATE_TEST_SUITE_P(Impls, ClockProcess, testing::Values(Impl::Fake), impl_name);

}  // namespace
}  // namespace lumo::test
