// The big clock fits the screen in every time format the settings offer, with every clock folder
// of the default theme, on both device sizes, standing and turned.
#include <tuple>

#include "lock_fixture.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;

struct Profile {
    const char* name;
    int width, height, dpi;
};
const Profile kVga{"vga", 480, 800, 192};
const Profile kQvga{"qvga", 240, 320, 96};

using FitCase = std::tuple<Profile, int, std::u16string_view, std::u16string_view>;

class ClockFit : public LockFixture, public ::testing::WithParamInterface<FitCase> {
  protected:
    void SetUp() override {
        auto [p, degrees, format, folder] = GetParam();
        fake.display().screen = {p.width, p.height, p.dpi, p.dpi};
        fake.display().pitch_pixels = p.width;
        fake.display().resize();
        fake.display().orientation = degrees;
        if (p.dpi < 192) {
            auto gfx = root / "Program Files" / "Lumo" / "gfx";
            std::filesystem::remove(gfx);
            std::filesystem::create_directory_symlink(stage_dir() / "Program Files" / "Lumo" / "gfx96", gfx);
        }
        set_text(u"TimeFormat", format);
        set_text(u"ClockPath", folder);
    }
    // The clock at `t` lies between the screen's edges.
    void expect_fits_at(LocalTime t) {
        fake.set_local_time(t);
        update_clock(*ctx);
        auto [left, right] = clock_extent(*ctx);
        SCOPED_TRACE(to_utf8(ctx->clock.last));
        EXPECT_FALSE(ctx->clock.text_mode);
        EXPECT_GT(right, left) << "nothing drawn";
        EXPECT_GE(left, 0);
        EXPECT_LE(right, ctx->screen_width);
    }
};

TEST_P(ClockFit, EveryTimeOfTheDayLiesOnTheScreen) {
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    auto [p, degrees, format, folder] = GetParam();
    EXPECT_EQ(ctx->screen_width, degrees % 180 ? p.height : p.width);
    for (int hour : {0, 9, 10, 12, 19, 22, 23})
        expect_fits_at({2026, 12, 1, 7, std::uint16_t(hour), 58, 58, 0});
}

const std::u16string_view kFormats[] = {u"H':'mm", u"h':'mm tt", u"h':'mm':'ss tt"};
const std::u16string_view kFolders[] = {u"clock\\", u"clockH\\", u"clockS\\", u"clockD\\"};

std::string case_name(const ::testing::TestParamInfo<FitCase>& info) {
    const auto& [p, degrees, format, folder] = info.param;
    std::string name = std::string(p.name) + "_" + std::to_string(degrees) + "_";
    name += format.size() == 6 ? "H_mm" : format.size() == 9 ? "h_mm_tt" : "h_mm_ss_tt";
    return name + "_" + to_utf8(folder.substr(0, folder.size() - 1));
}

INSTANTIATE_TEST_SUITE_P(OfferedFormats, ClockFit,
                         ::testing::Combine(::testing::Values(kVga, kQvga), ::testing::Values(0, 90),
                                            ::testing::ValuesIn(kFormats), ::testing::ValuesIn(kFolders)),
                         case_name);

class ClockSize : public ClockFit {};

// Where the time fits as drawn, nothing shrinks; turning the phone lays the clock out anew.
TEST_P(ClockSize, ShrinksOnlyWhatDoesNotFitAndGrowsBackWhenTurned) {
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    auto [p, degrees, format, folder] = GetParam();
    double standing = ctx->clock.scale;
    if (format == u"H':'mm") {
        EXPECT_EQ(standing, 1.0);
        return;
    }
    EXPECT_LT(standing, 1.0);
    lock_now();
    fake.display().orientation = 90;
    send(WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_GT(ctx->clock.scale, standing) << "the wider screen keeps the small clock";
    expect_fits_at({2026, 12, 1, 7, 22, 58, 58, 0});
}

INSTANTIATE_TEST_SUITE_P(Standing, ClockSize,
                         ::testing::Combine(::testing::Values(kVga, kQvga), ::testing::Values(0),
                                            ::testing::ValuesIn(kFormats), ::testing::Values(u"clock\\")),
                         case_name);

}  // namespace
}  // namespace lumo::lockscreen::testing_support
