// A whole frame composed from pictures, text, halos and a reflection, saved as PNG and read back:
// the saved picture must equal the back buffer. Set LUMO_GFX_SAMPLES to a folder to keep them.
#include <cstdlib>

#include "lumo/gfx/effects.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/platform/text.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

TEST(RenderSamples, AComposedFrameSurvivesASaveAndLoad) {
    auto imaging = platform::make_sdl_imaging();
    auto fonts = platform::make_sdl_fonts();
    ASSERT_TRUE(fonts);
    Screen s = test::MakeScreen(240, 400, kRgb565, 96);
    s.imaging = imaging.get();
    s.fonts = fonts.get();
    const char* keep = std::getenv("LUMO_GFX_SAMPLES");
    const auto dir = keep ? std::filesystem::path(keep) : test::TempFolder("samples");
    std::filesystem::create_directories(dir);

    // Wallpaper: a vertical gradient, blue to orange.
    Image wall;
    ASSERT_TRUE(ResizeBuffers(wall, 240, 400, false));
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 240; ++x)
            wall.at(x, y) = RGBTo565(kRgb565, 20 + y * 200 / 400, 40 + x / 4, 160 - y * 140 / 400);
    ASSERT_TRUE(DimToScreen(wall, s, 32));

    Image clock, date, small, refl;
    ASSERT_TRUE(RenderTextHalo(clock, s, 1, nullptr, 64, kFontBold, 0xFFFFFF, u"12:45", kTextSingleLine, 0, 0));
    ASSERT_TRUE(DrawImage(clock, s, (240 - clock.width) / 2, 40, 0, 0, 0, kCopy, 32));
    ASSERT_TRUE(RenderTextHalo(date, s, 2, nullptr, 22, 500, 0xFFFFFF, u"Wednesday, 5 March", kTextSingleLine, 0, 0));
    ASSERT_TRUE(DrawImage(date, s, (240 - date.width) / 2, 150, 0, 0, 0, kCopy, 32));
    ASSERT_TRUE(RenderText(small, s, 13, kFontNormal, 0xC8C8C8, u"3 unread messages \u2709 \u65e5\u672c",
                           kTextSingleLine, 0, 0, 0, 0, true, 1));
    ASSERT_TRUE(DrawImage(small, s, 10, 200, 0, 0, 0, kColourKey, 28));
    ASSERT_TRUE(RenderText(small, s, 15, kFontNormal, 0xFFFFFF,
                           u"A longer line of text that wraps inside its box and ends with an ellipsis when it runs out of room",
                           kTextWordBreak | kTextCenter | kTextWordEllipsis, 200, 60, 0, 0, false, 0));
    ASSERT_TRUE(DrawImage(small, s, 20, 230, 0, 0, 0, kColourKey, 32));
    // Album art with its reflection under it, as the music panel shows it.
    Image art;
    ASSERT_TRUE(ResizeBuffers(art, 60, 60, false));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            art.at(x, y) = ((x / 10 + y / 10) & 1) ? RGBTo565(kRgb565, 250, 220, 40) : RGBTo565(kRgb565, 200, 30, 60);
    ASSERT_TRUE(MakeReflection(refl, art, 0));
    ASSERT_TRUE(DrawImage(art, s, 170, 270, 0, 0, 0, kCopy, 32));
    ASSERT_TRUE(DrawImage(refl, s, 170, 330, 0, 0, 0, kCopy, 32));
    Brush bar = MakeBrush(RGBTo565(kRgb565, 0, 0, 0));
    SelectBrush(s, &bar);
    ASSERT_TRUE(FillRect(s, 0, 330, 240, 400, 20));
    DrawHLine(s, 0, 330, 239, 0xFFFF, 16);

    Image frame;
    ASSERT_TRUE(ImageFromBackBuffer(frame, s));
    ASSERT_TRUE(test::SavePng(frame, kRgb565, dir / "frame.png"));
    ASSERT_TRUE(test::SavePng(clock, kRgb565, dir / "halo1.png"));
    ASSERT_TRUE(test::SavePng(date, kRgb565, dir / "halo2.png"));

    // Both halos on a light background, enlarged three times, to look at their edges.
    Screen light = test::MakeScreen(clock.width + date.width + 30, std::max(clock.height, date.height) + 20);
    for (std::size_t i = 0; i < light.pixel_count; ++i) light.back_buffer[i] = RGBTo565(kRgb565, 120, 170, 230);
    ASSERT_TRUE(DrawImage(clock, light, 10, 10, 0, 0, 0, kCopy, 32));
    ASSERT_TRUE(DrawImage(date, light, clock.width + 20, 10, 0, 0, 0, kCopy, 32));
    Image halos, big;
    ASSERT_TRUE(ImageFromBackBuffer(halos, light));
    ASSERT_TRUE(ResizeImage(big, light, halos, halos.width * 3, halos.height * 3, false, false));
    ASSERT_TRUE(test::SavePng(big, kRgb565, dir / "halos_light.png"));

    Image back;
    ASSERT_TRUE(LoadImageFile(back, s, platform::to_u16((dir / "frame.png").string()), kFitNative, 0, 0));
    ASSERT_EQ(back.width, 240);
    ASSERT_EQ(back.height, 400);
    for (int i = 0; i < 240 * 400; ++i) ASSERT_EQ(back.pixels[i], frame.pixels[i]) << "pixel " << i;
    if (!keep) std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumo::gfx
