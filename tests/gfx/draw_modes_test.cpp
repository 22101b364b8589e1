// Every BlendMode row, with and without an alpha plane, on seeded random pixels in both formats.
#include "test_support.h"

namespace lumo::gfx {
namespace {

using test::At;

struct ModeCase {
    std::uint32_t mode;
    bool alpha_plane;
    int alpha;
};

// What one pixel becomes, written from the mode table.
std::uint16_t Expected(const PixelFormat& f, const ModeCase& c, std::uint16_t s, int pa,
                       std::uint16_t key, std::uint16_t d) {
    if (c.alpha_plane) {
        int a = pa * c.alpha >> 5;
        if (c.mode == kAlphaKey && (a == 0 || s == key)) return d;
        return a == 32 ? s : Blend(f, s, d, a);
    }
    switch (c.mode) {
    case kCopy: return s;
    case kConstant: return c.alpha == 32 ? s : Blend(f, s, d, c.alpha);
    case kColourKey: return s == key ? d : (c.alpha == 32 ? s : Blend(f, s, d, c.alpha));
    default: return d;  // AlphaKey without an alpha plane draws nothing
    }
}

class DrawModeTest : public ::testing::TestWithParam<PixelFormat> {};

TEST_P(DrawModeTest, EachModeRowGivesTheTablesPixels) {
    const PixelFormat f = GetParam();
    const ModeCase cases[] = {
        {kCopy, false, 32},      {kCopy, false, 9},      {kCopy, true, 32},      {kCopy, true, 20},
        {kConstant, false, 32},  {kConstant, false, 17}, {kConstant, false, 0},  {kConstant, true, 12},
        {kColourKey, false, 32}, {kColourKey, false, 5}, {kColourKey, true, 32}, {kAlphaKey, false, 32},
        {kAlphaKey, true, 32},   {kAlphaKey, true, 19},
    };
    std::uint32_t seed = 100;
    for (const auto& c : cases) {
        Screen s = test::MakeScreen(40, 30, f);
        const std::uint16_t valid = f == kRgb565 ? 0xFFFF : 0x7FFF;
        test::Scramble(s, seed++, valid);
        Image img = test::RandomImage(17, 11, c.alpha_plane, seed++, valid);
        // The key colour also occurs inside the picture: those pixels are transparent as well.
        img.at(5, 5) = img.at(0, 0);
        img.at(16, 10) = img.at(0, 0);
        std::vector<std::uint16_t> before(s.back_buffer.get(), s.back_buffer.get() + s.pixel_count);
        ASSERT_TRUE(DrawImage(img, s, 3, 4, 0, 0, 0, c.mode, c.alpha));
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                std::uint16_t d = before[y * 40 + x];
                std::uint16_t want = d;
                int ix = x - 3, iy = y - 4;
                if (ix >= 0 && iy >= 0 && ix < 17 && iy < 11)
                    want = Expected(f, c, img.at(ix, iy), c.alpha_plane ? img.alpha_row(iy)[ix] : 32,
                                    img.at(0, 0), d);
                ASSERT_EQ(At(s, x, y), want) << "mode " << c.mode << " alpha plane " << c.alpha_plane
                                             << " alpha " << c.alpha << " at " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DrawModeTest, ::testing::Values(kRgb565, kRgb555),
                         [](const auto& p) { return p.param == kRgb565 ? "Rgb565" : "Rgb555"; });

TEST(DrawModes, ColourKeyLeavesKeyPixelsInsideThePictureUntouched) {
    Screen s = test::MakeScreen(8, 8);
    for (std::size_t i = 0; i < s.pixel_count; ++i) s.back_buffer[i] = 0x1111;
    Image img;
    ASSERT_TRUE(ResizeBuffers(img, 3, 1, false));
    img.at(0, 0) = 0xF800;
    img.at(1, 0) = 0x07E0;
    img.at(2, 0) = 0xF800;  // the key again
    ASSERT_TRUE(DrawImage(img, s, 0, 0, 0, 0, 0, kColourKey, 32));
    EXPECT_EQ(At(s, 0, 0), 0x1111);
    EXPECT_EQ(At(s, 1, 0), 0x07E0);
    EXPECT_EQ(At(s, 2, 0), 0x1111);
}

TEST(DrawModes, UnknownModesAndEmptyPicturesDrawNothingAndSaySo) {
    Screen s = test::MakeScreen(8, 8);
    test::Scramble(s, 1);
    std::vector<std::uint16_t> before(s.back_buffer.get(), s.back_buffer.get() + s.pixel_count);
    Image img = test::RandomImage(4, 4, false, 2);
    Image empty;
    EXPECT_FALSE(DrawImage(img, s, 0, 0, 0, 0, 0, 1234, 32));
    EXPECT_FALSE(DrawImage(empty, s, 0, 0, 0, 0, 0, kCopy, 32));
    EXPECT_FALSE(DrawImageRow(img, s, 0, 0, 4, 2, 0, kCopy, 32));  // no such row
    // AlphaKey on a picture without an alpha plane is valid but draws nothing.
    EXPECT_TRUE(DrawImage(img, s, 0, 0, 0, 0, 0, kAlphaKey, 32));
    std::vector<std::uint16_t> after(s.back_buffer.get(), s.back_buffer.get() + s.pixel_count);
    EXPECT_EQ(after, before);
}

TEST(DrawModes, StripFramesPartsAndStretchedRows) {
    Screen s = test::MakeScreen(20, 10);
    test::Scramble(s, 4);
    Image strip = test::RandomImage(12, 4, false, 5);  // three frames of 4 × 4
    ASSERT_TRUE(DrawImage(strip, s, 1, 1, 8, 4, 0, kCopy, 32));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(At(s, 1 + x, 1 + y), strip.at(8 + x, y));

    ASSERT_TRUE(DrawImagePart(strip, s, 10, 2, 3, 2, 5, 1, kCopy, 32));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) ASSERT_EQ(At(s, 10 + x, 2 + y), strip.at(5 + x, 1 + y));

    ASSERT_TRUE(DrawImageRow(strip, s, 0, 5, 2, 5, 0, kCopy, 32));
    for (int y = 5; y < 10; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(At(s, x, y), strip.at(x, 2));
}

TEST(DrawModes, DimToScreenDarkensCopiesOrClears) {
    for (const PixelFormat& f : {kRgb565, kRgb555}) {
        Screen s = test::MakeScreen(6, 5, f);
        Image wall = test::RandomImage(6, 5, false, 9, f == kRgb565 ? 0xFFFF : 0x7FFF);
        ASSERT_TRUE(DimToScreen(wall, s, 32));
        for (int i = 0; i < 30; ++i) ASSERT_EQ(s.back_buffer[i], wall.pixels[i]);
        ASSERT_TRUE(DimToScreen(wall, s, 11));
        for (int i = 0; i < 30; ++i) ASSERT_EQ(s.back_buffer[i], Darken(f, wall.pixels[i], 11));
        Image empty;
        ASSERT_TRUE(DimToScreen(empty, s, 32));
        for (int i = 0; i < 30; ++i) ASSERT_EQ(s.back_buffer[i], 0);
    }
}

TEST(DrawModes, ComposingIntoAnImageSetsItsAlphaWhereDrawn) {
    Screen s = test::MakeScreen(4, 4);
    Image target;
    ASSERT_TRUE(FillImage(target, s, 6, 6, 0, true, 7));
    Image src = test::RandomImage(3, 3, true, 21);
    src.alpha[0] = 0;   // invisible: not drawn
    src.alpha[1] = 32;
    src.alpha[2] = 16;
    ASSERT_TRUE(ComposeImage(target, s, src, 2, 2, 0, 0, 0, 0, kCopy, 32));
    EXPECT_EQ(target.alpha_row(2)[2], 7);
    EXPECT_EQ(target.alpha_row(2)[3], 32);
    EXPECT_EQ(target.alpha_row(2)[4], 16);
    EXPECT_EQ(target.alpha_row(0)[0], 7);  // outside the drawn rectangle

    // A source without alpha drawn with ColourKey: drawn pixels take the call's alpha.
    Image text;
    ASSERT_TRUE(ResizeBuffers(text, 2, 1, false));
    text.at(0, 0) = 0;
    text.at(1, 0) = 0xFFFF;
    ASSERT_TRUE(ComposeImage(target, s, text, 0, 0, 0, 0, 0, 0, kColourKey, 32));
    EXPECT_EQ(target.alpha_row(0)[0], 7);
    EXPECT_EQ(target.alpha_row(0)[1], 32);
    EXPECT_EQ(target.at(1, 0), 0xFFFF);
    EXPECT_FALSE(ComposeImage(target, s, target, 0, 0, 0, 0, 0, 0, kCopy, 32));
}

}  // namespace
}  // namespace lumo::gfx
