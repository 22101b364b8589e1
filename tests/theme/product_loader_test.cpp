// Every theme picture as the programs load it: through the drawing library's own loader into a
// 16-bit Image, with an alpha plane exactly for the PNG pictures that carry one.
#include <gtest/gtest.h>

#include "lumo/gfx/load.h"
#include "lumo/gfx/screen.h"
#include "lumo/platform/imaging.h"
#include "theme_table.h"
#include "theme_test_util.h"

namespace lumo::theme {
namespace {

TEST(ThemeWithTheProductsLoader, EveryPictureLoadsAtItsSizeWithTheRightAlpha) {
    auto imaging = platform::make_sdl_imaging();
    gfx::Screen screen;
    ASSERT_TRUE(gfx::InitScreen(screen, 480, 800, 2, 960, gfx::kRgb565, 192));
    screen.imaging = imaging.get();
    auto table = read_table(LUMO_THEME_TABLE);
    ASSERT_TRUE(table.error.empty()) << table.error;
    std::size_t loaded = 0;
    for (const Profile& profile : kProfiles) {
        for (const Picture& p : table.pictures) {
            auto rel = stage_path(p, profile);
            if (!rel) continue;
            auto file = test::stage(*rel);
            gfx::Image img;
            ASSERT_TRUE(gfx::LoadImageFile(img, screen, std::filesystem::path(file).u16string(), 0, 0, 0)) << *rel;
            EXPECT_EQ(img.width, pixel_width(p, profile)) << *rel;
            EXPECT_EQ(img.height, pixel_height(p, profile)) << *rel;
            bool png = gfx::HasPngName(std::filesystem::path(file).u16string());
            EXPECT_EQ(img.has_alpha(), png && p.mode != Mode::Opaque) << *rel;
            ++loaded;
        }
    }
    EXPECT_GT(loaded, table.pictures.size());
}

}  // namespace
}  // namespace lumo::theme
