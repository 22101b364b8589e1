// Pictures that do not decode: the knob and the track are drawn instead, so the phone can still
// be unlocked, and a clock picture that cannot be shown turns the whole time into text rather
// than showing a wrong one.
#include <fstream>

#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class FallbackPictures : public LockFixture {
  protected:
    void SetUp() override {
        use_copied_theme();
        set_byte(u"DebugOn", 1);
    }
    void spoil(std::u16string_view file) {
        std::ofstream out(host(program_folder() + u"\\gfx\\" + std::u16string(file)), std::ios::binary | std::ios::trunc);
        out << "\x89PNG\r\n\x1a\n this is not a picture at all";
    }
    void start_locked() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        anim_ticks(6);  // the knob has faded in
        seen.clear();
    }
    // Pure white pixels of the display in a box.
    int white_in(int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += fake.display().seen(x, y) == 0xFFFF;
        return n;
    }
    void drag(int x0, int x1, int y) {
        send(WM_LBUTTONDOWN, 1, point(x0, y));
        for (int i = 1; i <= 8; ++i) {
            fake.advance(20);
            send(WM_MOUSEMOVE, 1, point(x0 + (x1 - x0) * i / 8, y));
        }
        fake.advance(20);
        send(WM_LBUTTONUP, 0, point(x1, y));
    }
};

TEST_F(FallbackPictures, ACorruptKnobIsDrawnInsteadAndTheSliderStillUnlocks) {
    spoil(u"arrows.png");
    start_locked();
    const auto& s = ctx->slider;
    ASSERT_FALSE(ctx->knob.empty());
    EXPECT_EQ(s.knob_width, 96);  // two 48-unit frames
    EXPECT_EQ(ctx->knob.height, 80);
    // The stand-in's white chevron at the knob's rest place.
    EXPECT_GT(white_in(s.knob_pos, s.knob_top, s.knob_pos + s.knob_width, s.knob_top + ctx->knob.height), 20);
    EXPECT_NE(log_text().find("Picture arrows.png cannot be loaded: drawn instead"), std::string::npos);
    int y = s.knob_top + ctx->knob.height / 2;
    drag(s.knob_pos + s.knob_width / 2, 470, y);
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
}

TEST_F(FallbackPictures, ACorruptTrackIsDrawnPlainAndLogged) {
    spoil(u"sliden.png");
    start_locked();
    EXPECT_EQ(ctx->track.width, 404);
    EXPECT_EQ(ctx->track.height, 80);
    EXPECT_NE(log_text().find("Picture sliden.png cannot be loaded: drawn instead"), std::string::npos);
}

TEST_F(FallbackPictures, AGoodKnobLogsNothing) {
    start_locked();
    EXPECT_EQ(log_text().find("cannot be loaded"), std::string::npos);
}

// 15:26 with the 1 broken must not read "5:26".
class BrokenDigit : public FallbackPictures, public ::testing::WithParamInterface<bool> {};

TEST_P(BrokenDigit, TurnsTheWholeTimeIntoTextUntilTheDigitIsGone) {
    const bool corrupt = GetParam();
    if (corrupt) spoil(u"clock\\1.png");
    else std::filesystem::remove(host(program_folder() + u"\\gfx\\clock\\1.png"));
    fake.set_local_time({2026, 12, 1, 7, 15, 26, 0, 0});
    start_locked();
    auto& k = ctx->clock;
    EXPECT_EQ(k.last, u"15:26");
    ASSERT_TRUE(k.text_mode);
    EXPECT_FALSE(k.text.empty());
    auto [left, right] = clock_extent(*ctx);
    EXPECT_GE(left, 0);
    EXPECT_LE(right, 480);
    // The text is what the screen shows in the clock's band: white glyphs across its width.
    int top = gfx::ScaleUnit(ctx->screen, 23);
    EXPECT_GT(white_in(left, top, left + (right - left) / 4, top + k.height), 20) << "no first digit on screen";
    EXPECT_GT(white_in(right - (right - left) / 4, top, right, top + k.height), 20);
    // At 20:30 every digit has its picture again.
    fake.set_local_time({2026, 12, 1, 7, 20, 30, 0, 0});
    update_clock(*ctx);
    EXPECT_FALSE(k.text_mode);
    EXPECT_EQ(k.slot_chars.substr(0, 5), u"20C30");
}

INSTANTIATE_TEST_SUITE_P(CorruptOrMissing, BrokenDigit, ::testing::Bool(),
                         [](const auto& i) { return i.param ? "Corrupt" : "Missing"; });

// A missing blank leaves its slot empty, but one that is there and broken is no theme's choice.
TEST_F(FallbackPictures, ABrokenBlankTurnsTheTimeIntoText) {
    spoil(u"clock\\S.png");
    set_text(u"TimeFormat", u"h':'mm tt");
    fake.set_local_time({2026, 12, 1, 7, 15, 26, 0, 0});
    start_locked();
    EXPECT_EQ(ctx->clock.last, u"3:26 PM");
    EXPECT_TRUE(ctx->clock.text_mode);
}

TEST_F(FallbackPictures, ACorruptZeroTurnsToTextOnlyWhenTheTimeHasAZero) {
    spoil(u"clock\\0.png");
    fake.set_local_time({2026, 12, 1, 7, 15, 26, 0, 0});
    start_locked();
    EXPECT_EQ(ctx->clock.kind, ClockKind::Character);
    EXPECT_GT(ctx->clock.height, 0);
    EXPECT_FALSE(ctx->clock.text_mode);
    fake.set_local_time({2026, 12, 1, 7, 15, 30, 0, 0});
    update_clock(*ctx);
    EXPECT_TRUE(ctx->clock.text_mode);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
