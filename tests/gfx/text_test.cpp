// Text through the real font engine: pixels appear, formats move them, halos differ.
#include "lumo/gfx/text.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        fonts = platform::make_sdl_fonts();
        ASSERT_TRUE(fonts) << "Tahoma (fonts-wine) is needed";
        screen = test::MakeScreen(240, 320);
        screen.fonts = fonts.get();
    }
    static int Count(const Image& img, std::uint16_t colour) {
        int n = 0;
        for (int i = 0; i < img.width * img.height; ++i) n += img.pixels[i] == colour;
        return n;
    }
    // The leftmost column holding a pixel other than the background.
    static int FirstInk(const Image& img) {
        for (int x = 0; x < img.width; ++x)
            for (int y = 0; y < img.height; ++y)
                if (img.at(x, y) != img.at(0, 0)) return x;
        return -1;
    }
    std::unique_ptr<platform::FontEngine> fonts;
    Screen screen;
};

TEST_F(TextTest, PlainTextIsMeasuredAndDrawnInItsColourOnTheBackground) {
    Image img;
    ASSERT_TRUE(RenderText(img, screen, 20, kFontNormal, 0xFFFFFF, u"Hello, world", kTextSingleLine, 0,
                           0, 0, 0x000000, false, 0));
    EXPECT_GT(img.width, 60);
    EXPECT_GE(img.height, 18);
    EXPECT_LE(img.height, 26);
    EXPECT_EQ(img.at(0, 0), 0);  // the background is the key
    EXPECT_FALSE(img.has_alpha());
    EXPECT_GT(Count(img, 0xFFFF), 40);  // fully covered pixels are exactly the colour
    Image red;
    ASSERT_TRUE(RenderText(img, screen, 20, kFontNormal, 0x0000FF, u"Hello", 0, 0, 0, 0, 0xFFFFFF, false, 0));
    EXPECT_EQ(img.at(0, 0), 0xFFFF);
    EXPECT_GT(Count(img, 0xF800), 10);  // 0x00BBGGRR: 0xFF is red
}

TEST_F(TextTest, TheTextCacheDrawsWhatRenderTextDrawsAndRendersEachTextAndStyleOnce) {
    Image want;
    ASSERT_TRUE(RenderText(want, screen, 18, kFontBold, 0xFFFFFF, u"Wallpaper", kTextLeft, 150, 0, 0, 0x000000,
                           false, 0));
    TextCache cache(3);
    test::Scramble(screen, 5, 0xFFFF);
    const std::vector<std::uint16_t> before(screen.back_buffer.get(), screen.back_buffer.get() + screen.pixel_count);
    EXPECT_EQ(cache.draw(screen, screen, u"Wallpaper", 10, 20, 150, 18, kFontBold, 0xFFFFFF, kTextLeft), want.height);
    // Ink where the rendering has ink, the screen as it was where the key colour lies.
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x) {
            const std::uint16_t got = screen.back_buffer[std::size_t(20 + y) * 240 + 10 + x];
            const std::uint16_t under = before[std::size_t(20 + y) * 240 + 10 + x];
            ASSERT_EQ(got, want.at(x, y) == 0 ? under : want.at(x, y)) << x << "," << y;
        }
    EXPECT_EQ(cache.size(), 1u);
    cache.draw(screen, screen, u"Wallpaper", 0, 0, 150, 18, kFontBold, 0xFFFFFF, kTextLeft);
    EXPECT_EQ(cache.size(), 1u);  // the same text drawn elsewhere: no new rendering
    cache.draw(screen, screen, u"Wallpaper", 0, 0, 150, 18, kFontNormal, 0xFFFFFF, kTextLeft);
    cache.draw(screen, screen, u"Wallpaper", 0, 0, 150, 18, kFontNormal, 0x00FF00, kTextLeft);
    EXPECT_EQ(cache.size(), 3u);  // another weight, another colour: each rendered
    cache.draw(screen, screen, u"Clock", 0, 0, 150, 18, kFontNormal, 0xFFFFFF, kTextLeft);
    EXPECT_EQ(cache.size(), 1u);  // full: started over
    EXPECT_EQ(cache.draw(screen, screen, u"", 0, 0, 150, 18, kFontNormal, 0xFFFFFF, kTextLeft), 0);
    EXPECT_EQ(cache.draw(screen, screen, u"Clock", 0, 0, 0, 18, kFontNormal, 0xFFFFFF, kTextLeft), 0);
}

TEST_F(TextTest, BoldIsWiderAndHeightsFollowTheRequest) {
    auto normal = CreateTextFont(screen, 24, kFontNormal);
    auto bold = CreateTextFont(screen, 24, kFontBold);
    auto small = CreateTextFont(screen, 12, kFontNormal);
    ASSERT_TRUE(normal && bold && small);
    EXPECT_GT(bold->text_width(u"Wednesday"), normal->text_width(u"Wednesday"));
    EXPECT_NEAR(normal->line_height(), 24, 1);
    EXPECT_NEAR(small->line_height(), 12, 1);
}

TEST_F(TextTest, AlignmentWrapAndEllipsis) {
    auto font = CreateTextFont(screen, 16, kFontNormal);
    Image left, centre, right;
    ASSERT_TRUE(RenderTextWithFont(left, screen, *font, 0xFFFFFF, u"ab", kTextSingleLine, 100, 20, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(centre, screen, *font, 0xFFFFFF, u"ab", kTextSingleLine | kTextCenter, 100, 20, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(right, screen, *font, 0xFFFFFF, u"ab", kTextSingleLine | kTextRight, 100, 20, 0, 0, false, 0));
    EXPECT_EQ(left.width, 100);
    EXPECT_LT(FirstInk(left), 4);
    EXPECT_GT(FirstInk(centre), 35);
    EXPECT_GT(FirstInk(right), FirstInk(centre) + 30);

    const std::u16string_view words = u"one two three four five six seven";
    Image one, wrapped;
    ASSERT_TRUE(RenderTextWithFont(one, screen, *font, 0xFFFFFF, words, 0, 80, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(wrapped, screen, *font, 0xFFFFFF, words, kTextWordBreak, 80, 0, 0, 0, false, 0));
    EXPECT_EQ(one.height, font->line_height());
    EXPECT_GE(wrapped.height, 3 * font->line_height());

    Image cut, full;
    ASSERT_TRUE(RenderTextWithFont(full, screen, *font, 0xFFFFFF, words, kTextSingleLine, 0, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(cut, screen, *font, 0xFFFFFF, words, kTextSingleLine | kTextWordEllipsis, 60, 0, 0, 0, false, 0));
    EXPECT_EQ(cut.width, 60);
    int last = -1;
    for (int x = 0; x < cut.width; ++x)
        for (int y = 0; y < cut.height; ++y)
            if (cut.at(x, y) != 0) last = x;
    EXPECT_LT(last, 60);
    EXPECT_GT(last, 30);  // the dots are drawn near the end
    EXPECT_GT(full.width, 150);
    // '&' is always drawn, never taken as a prefix mark.
    Image amp, plain;
    ASSERT_TRUE(RenderTextWithFont(amp, screen, *font, 0xFFFFFF, u"A&B", kTextSingleLine, 0, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(plain, screen, *font, 0xFFFFFF, u"AB", kTextSingleLine, 0, 0, 0, 0, false, 0));
    EXPECT_GT(amp.width, plain.width + 5);
}

TEST_F(TextTest, DropShadowUsesTheKeyCanvasAndGrowsByTheOffset) {
    auto font = CreateTextFont(screen, 16, kFontNormal);
    Image plain, shadowed;
    ASSERT_TRUE(RenderTextWithFont(plain, screen, *font, 0xFFFFFF, u"Shade", kTextSingleLine, 0, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(shadowed, screen, *font, 0xFFFFFF, u"Shade", kTextSingleLine, 0, 0, 0, 0, true, 1));
    EXPECT_EQ(shadowed.width, plain.width + 1);
    EXPECT_EQ(shadowed.height, plain.height + 1);
    EXPECT_EQ(shadowed.at(0, 0), ColourToPixel(kRgb565, kTextKeyColour));
    EXPECT_GT(Count(shadowed, ColourToPixel(kRgb565, kTextShadowColour)), 5);
    Screen high = test::MakeScreen(8, 8, kRgb565, 192);
    EXPECT_TRUE(UseDropShadow(high, 1));
    EXPECT_FALSE(UseDropShadow(screen, 1));
    EXPECT_FALSE(UseDropShadow(high, 0));
}

TEST_F(TextTest, HalosHaveAlphaAndDifferFromEachOther) {
    Image plain, halo1, halo2;
    ASSERT_TRUE(RenderText(plain, screen, 36, kFontBold, 0xFFFFFF, u"12:45", kTextSingleLine, 0, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextHalo(halo1, screen, 1, nullptr, 36, kFontBold, 0xFFFFFF, u"12:45", kTextSingleLine, 0, 0));
    ASSERT_TRUE(RenderTextHalo(halo2, screen, 2, nullptr, 36, kFontBold, 0xFFFFFF, u"12:45", kTextSingleLine, 0, 0));
    ASSERT_TRUE(halo1.has_alpha());
    ASSERT_TRUE(halo2.has_alpha());
    // Sizes: text + m for the dark halo (m = 6), text + 4m for the glow (m = 3).
    EXPECT_EQ(halo1.width, plain.width + 6);
    EXPECT_EQ(halo1.height, plain.height + 6);
    EXPECT_EQ(halo2.width, plain.width + 12);
    EXPECT_EQ(halo2.height, plain.height + 12);
    // The text itself is opaque white; around it the halo is partly transparent.
    EXPECT_GT(Count(halo1, 0xFFFF), 50);
    int partial = 0;
    for (int i = 0; i < halo1.width * halo1.height; ++i) partial += halo1.alpha[i] > 0 && halo1.alpha[i] < 32;
    EXPECT_GT(partial, 50);
    for (int i = 0; i < halo1.width * halo1.height; ++i) {
        if (halo1.pixels[i] == 0xFFFF) {
            ASSERT_EQ(halo1.alpha[i], 32);
        }
    }
    EXPECT_EQ(halo1.alpha[0], 0);  // corners are clear
    EXPECT_NE(halo1.width, halo2.width);
    EXPECT_FALSE(RenderTextHalo(halo1, screen, 3, nullptr, 36, kFontBold, 0xFFFFFF, u"x", 0, 0, 0));
}

TEST_F(TextTest, CharactersTahomaLacksComeFromTheFallback) {
    auto font = CreateTextFont(screen, 24, kFontNormal);
    Image a, b;
    // Two symbols outside Tahoma: with a fallback they differ; as missing-glyph boxes they would not.
    ASSERT_TRUE(RenderTextWithFont(a, screen, *font, 0xFFFFFF, u"\u2603", kTextSingleLine, 0, 0, 0, 0, false, 0));
    ASSERT_TRUE(RenderTextWithFont(b, screen, *font, 0xFFFFFF, u"\u2602", kTextSingleLine, 0, 0, 0, 0, false, 0));
    EXPECT_TRUE(a.width != b.width ||
                std::vector<std::uint16_t>(a.pixels.get(), a.pixels.get() + a.width * a.height) !=
                    std::vector<std::uint16_t>(b.pixels.get(), b.pixels.get() + b.width * b.height));
    EXPECT_GT(FirstInk(a), -1);
}

}  // namespace
}  // namespace lumo::gfx
