// Screen-wide effects, brushes, presenting, the theme list and ScaleUnit.
#include <set>

#include "lumo/gfx/effects.h"
#include "lumo/gfx/theme.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

using test::At;

TEST(Effects, ClearFillAndLines) {
    Screen s = test::MakeScreen(10, 8);
    ClearScreen(s, 0xFF);
    EXPECT_EQ(At(s, 9, 7), 0xFFFF);
    ClearScreen(s, 0);
    EXPECT_FALSE(FillRect(s, 0, 0, 4, 4, 32));
    EXPECT_EQ(s.last_error, kErrorNoBrush);
    Brush blue = MakeBrush(RGBTo565(kRgb565, 0, 50, 240));
    EXPECT_EQ(SelectBrush(s, &blue), nullptr);
    ASSERT_TRUE(FillRect(s, 6, 5, 2, 1, 32));  // corners in either order
    EXPECT_EQ(At(s, 2, 1), blue.colour);
    EXPECT_EQ(At(s, 5, 4), blue.colour);
    EXPECT_EQ(At(s, 6, 5), 0);
    EXPECT_EQ(At(s, 1, 1), 0);
    Brush red = MakeBrush(0xF800);
    EXPECT_EQ(SelectBrush(s, &red), &blue);
    EXPECT_EQ(SelectBrush(s, nullptr), nullptr);
    EXPECT_EQ(s.brush, &red);
    ASSERT_TRUE(FillRect(s, -5, -5, 1, 20, 16));  // clipped, blended
    EXPECT_EQ(At(s, 0, 7), Blend(kRgb565, 0xF800, 0, 16));
    ASSERT_TRUE(FillRect(s, 20, 20, 30, 30, 32));  // wholly outside: nothing

    DrawHLine(s, 12, 3, -4, 0x07E0, 32);
    for (int x = 0; x < 10; ++x) ASSERT_EQ(At(s, x, 3), 0x07E0);
    DrawHLine(s, 0, 8, 9, 0xFFFF, 32);  // below the screen
    DrawHLine(s, 2, 6, 4, 0xFFFF, 8);
    EXPECT_EQ(At(s, 4, 6), Blend(kRgb565, 0xFFFF, At(s, 1, 6), 8));
    EXPECT_EQ(At(s, 5, 6), At(s, 1, 6));
}

TEST(Effects, GreyScreenAveragesTheFiveBitFields) {
    for (const PixelFormat& f : {kRgb565, kRgb555}) {
        Screen s = test::MakeScreen(3, 1, f);
        s.back_buffer[0] = RGBTo565(f, 255, 0, 0);      // 31 + 0 + 0
        s.back_buffer[1] = RGBTo565(f, 0, 255, 0);      // 0 + 31 + 0
        s.back_buffer[2] = RGBTo565(f, 200, 100, 50);   // 25 + 12 + 6
        GreyScreen(s);
        auto grey = [&](int v) { return RGBTo565(f, v << 3, v << 3, v << 3); };
        EXPECT_EQ(s.back_buffer[0], grey(10));
        EXPECT_EQ(s.back_buffer[1], grey(10));
        EXPECT_EQ(s.back_buffer[2], grey(14));
    }
}

struct FadeCase {
    int step;
    int passes;
    std::size_t waits;  // passes after which the fade goes on
};

TEST(Effects, FadeOutPassesPacingAndFinalBlackFrame) {
    for (FadeCase c : {FadeCase{0, 26, 26}, FadeCase{1, 26, 26}, FadeCase{30, 1, 0}, FadeCase{4, 7, 6}}) {
        Screen s = test::MakeScreen(4, 4);
        test::RecordingPresenter presenter;
        test::ManualClock clock;
        s.presenter = &presenter;
        s.clock = &clock;
        for (std::size_t i = 0; i < s.pixel_count; ++i) s.back_buffer[i] = 0xFFFF;
        EXPECT_EQ(FadeScreenOut(s, c.step), c.passes) << "step " << c.step;
        ASSERT_EQ(presenter.frames.size(), std::size_t(c.passes) + 1);
        // Each pass darkens what the one before left: alpha 31, then 31 - step, ...
        std::uint16_t expect = 0xFFFF;
        int step = c.step == 0 ? 1 : c.step;
        for (int k = 0; k < c.passes; ++k) {
            expect = Darken(kRgb565, expect, 31 - step * k);
            ASSERT_EQ(presenter.frames[k][0], expect) << "pass " << k;
        }
        EXPECT_EQ(presenter.frames.back(), std::vector<std::uint16_t>(16, 0));
        // Every pass that goes on lasts 50 ms.
        EXPECT_EQ(clock.sleeps.size(), c.waits);
        for (auto ms : clock.sleeps) EXPECT_EQ(ms, 50u);
    }
}

TEST(Screen, PresentingIsRefusedWhileSuspended) {
    Screen s = test::MakeScreen(4, 2);
    EXPECT_FALSE(PresentScreen(s));  // no back-end
    test::RecordingPresenter presenter;
    s.presenter = &presenter;
    ASSERT_TRUE(PresentScreen(s));
    SuspendScreen(s);
    EXPECT_FALSE(PresentScreen(s));
    EXPECT_EQ(s.last_error, kErrorSuspended);
    ResumeScreen(s);
    presenter.accept = false;  // surface could not be locked
    EXPECT_FALSE(PresentScreen(s));
    EXPECT_EQ(presenter.frames.size(), 2u);
    CloseScreen(s);
    EXPECT_FALSE(PresentScreen(s));
    Screen bad;
    EXPECT_FALSE(InitScreen(bad, 4, 2, 2, 6, kRgb565, 96));  // pitches that do not tile the frame
}

TEST(Screen, ScaleUnitDoublesOnHighResolution) {
    EXPECT_EQ(ScaleUnit(96, 13), 13);
    EXPECT_EQ(ScaleUnit(191, 13), 13);
    EXPECT_EQ(ScaleUnit(192, 13), 26);
    Screen s = test::MakeScreen(2, 2, kRgb565, 192);
    EXPECT_EQ(ScaleUnit(s, 100), 200);
}

TEST(Theme, FortyFourRequiredPicturesCheckedInOrder) {
    auto list = RequiredThemePictures();
    ASSERT_EQ(list.size(), 44u);
    std::set<std::u16string_view> names;
    for (auto& p : list) names.insert(p.file);
    EXPECT_EQ(names.size(), 44u);
    EXPECT_EQ(list.front().file, u"topbar.png");
    EXPECT_EQ(list.back().file, u"pbutton.png");
    EXPECT_EQ(ThemePicturePath(u"\\Program Files\\Lumo", u"topbar.png"),
              u"\\Program Files\\Lumo\\gfx\\topbar.png");
    std::vector<std::u16string> asked;
    auto missing = FirstMissingThemePicture(u"\\L", [&](std::u16string_view p) {
        asked.emplace_back(p);
        return p != u"\\L\\gfx\\pwbox.png" && p != u"\\L\\gfx\\sback.png";
    });
    // sback.png comes before pwbox.png in the start-up's checking order.
    EXPECT_EQ(missing, u"\\L\\gfx\\sback.png");
    EXPECT_EQ(asked.size(), 23u);
    EXPECT_EQ(FirstMissingThemePicture(u"\\L", [](std::u16string_view) { return true; }), u"");
}

}  // namespace
}  // namespace lumo::gfx
