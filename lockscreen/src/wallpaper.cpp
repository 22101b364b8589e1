// The background: one picture fitted to the screen on black, a folder of JPEG files stepped
// through on the service's word, or an animated GIF.
#include <algorithm>
#include <filesystem>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/load.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"

namespace lumo::lockscreen {

using catalogue::Id;
using platform::to_utf8;

namespace {

bool ends_with_no_case(std::u16string_view s, std::u16string_view tail) {
    return s.size() >= tail.size() && platform::equal_no_case(s.substr(s.size() - tail.size()), tail);
}

bool is_one_file(std::u16string_view v) {
    for (auto ext : {u".bmp", u".jpg", u".png", u".gif"})
        if (ends_with_no_case(v, ext)) return true;
    return false;
}

// The folder's "*.jpg" files in the order the file system's search gives (by name).
std::vector<std::u16string> jpeg_files(Context& c, std::u16string_view folder) {
    std::vector<std::u16string> out;
    auto host = c.p.processes().host_path(folder);
    if (!host) return out;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(*host, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        auto name = it->path().filename().u16string();
        if (it->is_regular_file(ec) && ends_with_no_case(name, u".jpg")) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int random_step(Context& c) {
    std::uint32_t tick = c.p.clock().tick_count();
    c.random.seed(tick);
    return int(((tick & 0xA) + c.random()) % 10);
}

void choose_side(Context& c, WallpaperSide& side, Id id, std::u16string_view fallback, const char* tag) {
    side.setting = c.settings.text(id);
    if (side.setting.empty()) side.setting = gfx_path(c, fallback);
    side.folder_mode = false;
    side.current.clear();
    if (!is_one_file(side.setting)) {
        side.folder = side.setting;
        if (side.folder.back() != u'\\' && side.folder.back() != u'/') side.folder.push_back(u'\\');
        side.files = jpeg_files(c, side.folder);
        side.index = 0;
        if (!side.files.empty()) {
            if (c.settings.num(Id::WallpaperRandom) != 0) side.index = std::size_t(random_step(c)) % side.files.size();
            side.folder_mode = true;
            side.current = side.folder + side.files[side.index];
        }
    }
    c.log.printf("%s Directory:%s %d", tag, to_utf8(side.current).c_str(), int(side.folder_mode));
}

}  // namespace

bool is_landscape(int rotation) { return rotation == gfx::kRotate90 || rotation == gfx::kRotate270; }

void choose_wallpapers(Context& c) {
    c.log.printf("UpdateWallpaper %s(%s)", to_utf8(c.settings.text(Id::Wallpaper)).c_str(),
                 to_utf8(c.settings.text(Id::WallpaperL)).c_str());
    choose_side(c, c.wallpaper.portrait, Id::Wallpaper, u"wallpaper.jpg", "P");
    choose_side(c, c.wallpaper.landscape, Id::WallpaperL, u"wallpaperL.jpg", "L");
}

void load_wallpaper(Context& c) {
    auto& w = c.wallpaper;
    gfx::ReleaseImage(w.image, false);
    w.image.width = w.image.height = 0;
    w.frames = 0;
    w.frame_width = 0;
    w.position = 1.0;
    w.last_step = c.p.clock().tick_count();
    bool landscape = is_landscape(c.orientation) || c.screen_width > c.screen_height;
    auto& side = landscape ? w.landscape : w.portrait;
    std::u16string file = side.folder_mode ? side.current : side.setting;
    c.log.printf(landscape ? (side.folder_mode ? "Cycle WallpaperL: %s" : "WallpaperL: %s")
                           : (side.folder_mode ? "Cycle Wallpaper: %s" : "Wallpaper: %s"),
                 to_utf8(file).c_str());
    w.loaded = file;
    if (!device_file_exists(c, file)) return;
    if (!c.screen.back_buffer) return;
    if (file.back() == u'f' || file.back() == u'F') {
        w.frames = gfx::LoadAnimation(w.image, c.screen, file);
        w.frame_width = w.frames ? w.image.width / w.frames : 0;
    } else {
        gfx::Image pic;
        if (gfx::LoadImageFile(pic, c.screen, file, gfx::kFitLongSide, 0, 0)) {
            gfx::ClearScreen(c.screen, 0);
            gfx::DrawImage(pic, c.screen, (c.screen_width - pic.width) / 2, (c.screen_height - pic.height) / 2, 0, 0,
                           0, gfx::kCopy, 32);
            gfx::ImageFromBackBuffer(w.image, c.screen);
            w.frames = 1;
            w.frame_width = w.image.width;
        }
    }
    c.log.printf("WP FC=%d WD=%d CX=%d CY=%d", w.frames, w.frame_width, w.image.width, w.image.height);
    if (w.frames >= 2)
        for (int f = 1; f <= w.frames; ++f) c.log.printf("%d - %d", f, gfx::GetFrameDelay(w.image, f));
}

void change_wallpaper(Context& c) {
    if (c.state != ScreenState::Normal || music_title_shown(c)) return;
    bool landscape = is_landscape(c.orientation) || c.screen_width > c.screen_height;
    auto& side = landscape ? c.wallpaper.landscape : c.wallpaper.portrait;
    if (!side.folder_mode) return;
    std::size_t step = 1;
    if (c.settings.num(Id::WallpaperRandom) != 0) step = std::size_t(random_step(c)) + 1;
    // The folder is searched again: files may have come or gone.
    auto previous = side.files.empty() ? std::u16string() : side.files[side.index % side.files.size()];
    side.files = jpeg_files(c, side.folder);
    if (side.files.empty()) {
        side.folder_mode = false;
        side.current.clear();
        return;
    }
    auto it = std::find(side.files.begin(), side.files.end(), previous);
    std::size_t at = it == side.files.end() ? 0 : std::size_t(it - side.files.begin());
    std::size_t next = at + step;
    if (next >= side.files.size()) {
        next = step - 1;  // start again at the first file and move on by the step
        if (next >= side.files.size()) next = 0;
    }
    side.index = next;
    side.current = side.folder + side.files[next];
    load_wallpaper(c);
    c.log.printf("Change Wallpaper");
}

void draw_wallpaper(Context& c, int alpha) {
    if (c.music.album_shown) {
        gfx::DimToScreen(c.music.album_background, c.screen, alpha);
        return;
    }
    auto& w = c.wallpaper;
    if (w.frames >= 2) {
        gfx::ClearScreen(c.screen, 0);
        int frame = std::clamp(int(w.position) - 1, 0, w.frames - 1);
        gfx::DrawImagePart(w.image, c.screen, (c.screen_width - w.frame_width) / 2,
                           (c.screen_height - w.image.height) / 2, w.frame_width, w.image.height, frame * w.frame_width,
                           0, gfx::kConstant, alpha);
        std::uint32_t now = c.p.clock().tick_count();
        std::uint32_t elapsed = now - w.last_step;
        w.last_step = now;
        int speed = int(std::min<std::uint32_t>(c.settings.num(Id::GifSpeed), 10));
        double advance;
        if (speed == 0) {
            int delay = std::max(1, gfx::GetFrameDelay(w.image, frame + 1));
            advance = elapsed > 60 ? 6.0 / delay : (elapsed / 10.0) / delay;
        } else {
            advance = elapsed > 60 ? speed / 10.0 * 1.0 : elapsed / 60.0 * speed / 10.0;
        }
        w.position += advance;
        if (w.position >= w.frames + 1) w.position = c.settings.num(Id::GifEndless) != 0 ? 1.0 : double(w.frames);
        return;
    }
    gfx::DimToScreen(w.image, c.screen, alpha);
}

}  // namespace lumo::lockscreen
