// Clipping at every edge, and the same scene in every rotation.
#include "lumo/gfx/effects.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

using test::At;

TEST(Clipping, APictureAtMinusTenShowsItsColumnsTenOnwardAtColumnZero) {
    Screen s = test::MakeScreen(30, 20);
    Image img = test::RandomImage(16, 5, false, 1);
    ASSERT_TRUE(DrawImage(img, s, -10, 2, 0, 0, 0, kCopy, 32));
    for (int x = 0; x < 6; ++x) ASSERT_EQ(At(s, x, 2), img.at(10 + x, 0));
    EXPECT_EQ(At(s, 6, 2), 0);
}

TEST(Clipping, EveryEdgeCutsOnlyTheOutsidePart) {
    struct Place {
        int x, y;
    };
    const Place places[] = {{-3, 4}, {4, -2}, {25, 5}, {6, 17}, {-5, -5}, {26, 16}, {-20, 0}, {31, 0}};
    for (bool alpha : {false, true}) {
        for (auto p : places) {
            Screen s = test::MakeScreen(30, 20);
            Image img = test::RandomImage(8, 6, alpha, 7);
            ASSERT_TRUE(DrawImage(img, s, p.x, p.y, 0, 0, 0, kConstant, alpha ? 32 : 20));
            for (int y = 0; y < 20; ++y) {
                for (int x = 0; x < 30; ++x) {
                    int ix = x - p.x, iy = y - p.y;
                    std::uint16_t want = 0;
                    if (ix >= 0 && iy >= 0 && ix < 8 && iy < 6)
                        want = Blend(kRgb565, img.at(ix, iy), 0, alpha ? img.alpha_row(iy)[ix] : 20);
                    ASSERT_EQ(At(s, x, y), want) << "picture at " << p.x << "," << p.y;
                }
            }
        }
    }
}

TEST(Rotation, AnglesBecomeCodes) {
    EXPECT_EQ(RotationFromAngle(-90), kRotate270);
    EXPECT_EQ(RotationFromAngle(270), kRotate270);
    EXPECT_EQ(RotationFromAngle(630), kRotate270);
    EXPECT_EQ(RotationFromAngle(90), kRotate90);
    EXPECT_EQ(RotationFromAngle(-270), kRotate90);
    EXPECT_EQ(RotationFromAngle(180), kRotate180);
    EXPECT_EQ(RotationFromAngle(-180), kRotate180);
    EXPECT_EQ(RotationFromAngle(0), kRotate0);
    EXPECT_EQ(RotationFromAngle(360), kRotate0);
    EXPECT_EQ(RotationFromAngle(720), kRotate0);
    EXPECT_EQ(RotationFromAngle(45), kRotate0);
    EXPECT_EQ(RotationFromAngle(-2147483647 - 1), kRotate0);  // 232 degrees
}

// A scene that touches every edge and every drawing path.
void DrawScene(Screen& s) {
    Image a = test::RandomImage(9, 7, false, 31), b = test::RandomImage(12, 5, true, 32);
    ClearScreen(s, 0);
    DrawImage(a, s, -2, -3, 0, 0, 0, kCopy, 32);
    DrawImage(b, s, s.logical_width - 6, 4, 0, 0, 0, kCopy, 27);
    DrawImage(a, s, 3, s.logical_height - 4, 0, 0, 0, kColourKey, 18);
    DrawImagePart(b, s, 5, 6, 4, 3, 2, 1, kAlphaKey, 32);
    DrawImageRow(a, s, 1, 10, 3, 6, 5, kConstant, 12);
}

TEST(Rotation, TheSameSceneInEachRotationEqualsTheRotatedReference) {
    for (const bool column_major : {false, true}) {
        const int W = 24, H = 36;
        Screen s;
        ASSERT_TRUE(column_major ? InitScreen(s, W, H, H * 2, 2, kRgb565, 96)
                                 : InitScreen(s, W, H, 2, W * 2, kRgb565, 96));
        // Reference: the scene drawn into a plain Image of each logical size.
        for (int code : {kRotate0, kRotate90, kRotate180, kRotate270}) {
            SetScreenRotation(s, code);
            bool exchanged = code == kRotate90 || code == kRotate270;
            EXPECT_EQ(s.axes_exchanged, exchanged);
            ASSERT_EQ(s.logical_width, exchanged ? H : W);
            DrawScene(s);
            Image logical;
            ASSERT_TRUE(ImageFromBackBuffer(logical, s));

            // The same scene on an unrotated screen of the logical size.
            Screen flat = test::MakeScreen(s.logical_width, s.logical_height);
            DrawScene(flat);
            ASSERT_EQ(std::vector<std::uint16_t>(logical.pixels.get(), logical.pixels.get() + W * H),
                      std::vector<std::uint16_t>(flat.back_buffer.get(), flat.back_buffer.get() + W * H))
                << "rotation " << code;

            // The memory holds that picture turned back to the display's own orientation.
            Image expect;
            int turn = code == kRotate90 ? 4 : code == kRotate270 ? 1 : code;
            ASSERT_TRUE(RotateImage(expect, logical, turn));
            ASSERT_EQ(expect.width, W);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    std::size_t idx = column_major ? std::size_t(x) * H + y : std::size_t(y) * W + x;
                    ASSERT_EQ(s.back_buffer[idx], expect.at(x, y))
                        << "rotation " << code << " column major " << column_major;
                }
        }
    }
}

TEST(Rotation, StepsAndOriginsFollowTheTable) {
    Screen s = test::MakeScreen(4, 6);
    SetScreenRotation(s, kRotate90);
    EXPECT_EQ(s.xstep, -8);
    EXPECT_EQ(s.ystep, 2);
    EXPECT_EQ(s.origin, 4 * 5);
    SetScreenRotation(s, kRotate180);
    EXPECT_EQ(s.xstep, -2);
    EXPECT_EQ(s.ystep, -8);
    EXPECT_EQ(s.origin, 6 * 4 - 1);
    SetScreenRotation(s, kRotate270);
    EXPECT_EQ(s.xstep, 8);
    EXPECT_EQ(s.ystep, -2);
    EXPECT_EQ(s.origin, 3);
    SetScreenRotation(s, 3);  // not a code: upright
    EXPECT_EQ(s.rotation, kRotate0);
    EXPECT_EQ(s.origin, 0);
}

}  // namespace
}  // namespace lumo::gfx
