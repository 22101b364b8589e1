// Wallpapers: a still picture fitted and centred on black, folders of JPEG files cycled on the
// service's word, and animated GIFs stepped by their own delays or by GifSpeed.
#include <filesystem>

#include "lock_fixture.h"
#include "lumo/gfx/load.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;
namespace fs = std::filesystem;

class Wallpaper : public LockFixture {
protected:
    // A folder of the phone with copies of a sample JPEG under the given names.
    void make_folder(const std::vector<std::string>& names) {
        auto dir = root / "My Documents" / "Cycle";
        fs::create_directories(dir);
        for (auto& n : names)
            fs::copy_file(stage_dir() / "My Documents" / "My Pictures" / "Dunes.jpg", dir / n,
                          fs::copy_options::overwrite_existing);
        fs::copy_file(stage_dir() / "My Documents" / "My Pictures" / "Mosaic.png", dir / "skip.png",
                      fs::copy_options::overwrite_existing);
    }
    std::u16string current() { return ctx->wallpaper.portrait.current; }
};

TEST_F(Wallpaper, AStillPictureIsFittedAndCentredOnBlack) {
    // The landscape sample on a portrait screen: black bands above and below.
    set_text(u"Wallpaper", u"\\Program Files\\Lumo\\gfx\\wallpaperL.jpg");
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    const auto& img = ctx->wallpaper.image;
    ASSERT_EQ(img.width, 480);
    ASSERT_EQ(img.height, 800);
    EXPECT_EQ(ctx->wallpaper.frames, 1);
    EXPECT_EQ(img.at(240, 0), 0);
    EXPECT_EQ(img.at(240, 799), 0);
    int lit = 0;
    for (int x = 0; x < 480; ++x) lit += img.at(x, 400) != 0;
    EXPECT_GT(lit, 400);
}

TEST_F(Wallpaper, AMissingFileLeavesABlackBackground) {
    set_text(u"Wallpaper", u"\\My Documents\\nothing.jpg");
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    EXPECT_TRUE(ctx->wallpaper.image.empty());
    EXPECT_EQ(ctx->wallpaper.frames, 0);
}

TEST_F(Wallpaper, AFolderWithoutBackslashCyclesItsJpegsInOrder) {
    make_folder({"a.jpg", "b.JPG", "c.jpg"});
    set_text(u"Wallpaper", u"\\My Documents\\Cycle");
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    EXPECT_TRUE(ctx->wallpaper.portrait.folder_mode);
    EXPECT_EQ(current(), u"\\My Documents\\Cycle\\a.jpg");
    EXPECT_EQ(ctx->wallpaper.loaded, current());
    const std::u16string expected[] = {u"b.JPG", u"c.jpg", u"a.jpg", u"b.JPG"};
    for (auto& e : expected) {
        send(proto::WM_ChangeWallpaper);
        EXPECT_EQ(current(), u"\\My Documents\\Cycle\\" + e);
    }
    EXPECT_EQ(ctx->wallpaper.image.width, 480);
}

TEST_F(Wallpaper, ChangesWaitForTheNormalScreenAndAnEmptiedFolderEndsFolderMode) {
    make_folder({"a.jpg", "b.jpg"});
    set_text(u"Wallpaper", u"\\My Documents\\Cycle\\");
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    ctx->state = ScreenState::VolumeControl;
    send(proto::WM_ChangeWallpaper);
    EXPECT_EQ(current(), u"\\My Documents\\Cycle\\a.jpg");
    ctx->state = ScreenState::Normal;
    fs::remove(root / "My Documents" / "Cycle" / "a.jpg");
    fs::remove(root / "My Documents" / "Cycle" / "b.jpg");
    send(proto::WM_ChangeWallpaper);
    EXPECT_FALSE(ctx->wallpaper.portrait.folder_mode);
}

TEST_F(Wallpaper, RandomStartsSomewhereInTheFolder) {
    make_folder({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg", "h.jpg", "i.jpg", "j.jpg", "k.jpg"});
    set_text(u"Wallpaper", u"\\My Documents\\Cycle");
    set_byte(u"WallpaperRandom", 1);
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    EXPECT_TRUE(ctx->wallpaper.portrait.folder_mode);
    EXPECT_LT(ctx->wallpaper.portrait.index, 10u);
}

class Gif : public LockFixture {
protected:
    void start_gif(std::uint8_t speed, std::uint8_t endless) {
        set_text(u"Wallpaper", u"\\My Documents\\My Pictures\\Orbit.gif");
        set_byte(u"GifSpeed", speed);
        set_byte(u"GifEndless", endless);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        ASSERT_GE(ctx->wallpaper.frames, 2);
        lock_now();
    }
    double position() { return ctx->wallpaper.position; }
};

TEST_F(Gif, FramesAreAStripAndTheLastFrameStaysWithoutGifEndless) {
    start_gif(10, 0);
    auto& w = ctx->wallpaper;
    EXPECT_EQ(w.frame_width * w.frames, w.image.width);
    // Speed 10: one frame per tick of more than 60 ms.
    w.position = 1.0;
    for (int i = 0; i < w.frames + 5; ++i) anim_ticks(1);
    EXPECT_EQ(position(), double(w.frames));
}

TEST_F(Gif, GifEndlessLoopsToTheFirstFrame) {
    start_gif(10, 1);
    auto& w = ctx->wallpaper;
    w.position = double(w.frames);
    anim_ticks(1);
    EXPECT_EQ(position(), 1.0);
}

TEST_F(Gif, SpeedAboveTenActsAsTen) {
    start_gif(15, 1);
    ctx->wallpaper.position = 1.0;
    anim_ticks(1);
    EXPECT_EQ(position(), 2.0);
}

TEST_F(Gif, SpeedZeroUsesTheFileDelays) {
    start_gif(0, 1);
    auto& w = ctx->wallpaper;
    w.position = 1.0;
    int delay = gfx::GetFrameDelay(w.image, 1);
    ASSERT_GT(delay, 0);
    anim_ticks(1);
    EXPECT_DOUBLE_EQ(position(), 1.0 + 6.0 / delay);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
