// The full-screen picture: its view at screen size, the zoom buffer at z times that size, the
// zoom steps with their limits and centring, panning within limits, the crop at screen size
// turned back to the display, the wallpaper bitmaps, and turning the view.
#include <algorithm>
#include <chrono>

#include "lumo/browser/browser.h"
#include "lumo/gfx/draw.h"
#include "lumo/gfx/load.h"
#include "lumo/platform/text.h"

namespace lumo::browser {

using namespace platform;
using catalogue::Id;

namespace {

// 0 below 192 dpi, 1 above: doubles the pixel constants of high-resolution screens.
int resolution_shift(const Context& c) { return gfx::ScaleUnit(c.screen, 1) > 1 ? 1 : 0; }

void pan_limits(Context& c) {
    auto& z = c.zoom;
    auto axis = [](int screen, int size, int& lo, int& hi) {
        if (screen > size) lo = hi = (screen - size) / 2;  // the free space split in half
        else {
            lo = screen - size;
            hi = 0;
        }
    };
    axis(c.screen_width, z.zw, z.min_x, z.max_x);
    axis(c.screen_height, z.zh, z.min_y, z.max_y);
    z.px = std::clamp(z.px, z.min_x, z.max_x);
    z.py = std::clamp(z.py, z.min_y, z.max_y);
}

bool scale_buffer(Context& c) {
    auto& z = c.zoom;
    if (z.zw == z.maxw) return true;  // drawn 1:1
    return gfx::ResizeImage(c.zoom_scaled, c.screen, c.zoom_buffer, z.zw, z.zh, true, false);
}

int quarters_to_code(int q) {
    static constexpr int codes[4] = {gfx::kRotate0, gfx::kRotate90, gfx::kRotate180, gfx::kRotate270};
    return codes[((q % 4) + 4) % 4];
}

void crop_failed(Context& c, const std::string& why) {
    c.log.write("crop failed");
    c.p.windows().message_box(c.main_window, u"Image Crop Failed - " + to_u16(why), u"Message", MB_OK);
}

// The zoom buffer and the first step, from the unzoomed view.
bool start_zoom(Context& c, bool in) {
    auto& z = c.zoom;
    c.log.write("Start Zoom");
    auto t0 = c.p.clock().tick_count();
    z.z = std::clamp(z.z, 2, 5);
    z.maxw = z.pw * z.z;
    z.maxh = z.ph * z.z;
    // The buffer and the decoder's rows on the way: refused before anything is taken.
    std::size_t need = std::size_t(z.maxw) * std::size_t(z.maxh) * 6;
    if (z.maxw <= 0 || z.maxh <= 0 || need > c.zoom_limit) {
        c.log.write("Zoom Failed 1");
        crop_failed(c, "the picture is too large to zoom");
        return false;
    }
    auto pic = c.imaging->open(c.picture_path);
    if (!pic || !gfx::LoadImageFromPicture(c.zoom_buffer, c.screen, *pic, gfx::HasPngName(c.picture_path),
                                           gfx::kFitInside, z.maxw, z.maxh)) {
        c.log.write("Zoom Failed 1");
        return false;
    }
    z.maxw = c.zoom_buffer.width;
    z.maxh = c.zoom_buffer.height;
    c.log.printf("Zoom %d mw=%d, mh=%d", int(c.p.clock().tick_count() - t0), z.maxw, z.maxh);
    if (in) {
        z.zw = z.pw + ((z.pw >> 5) & ~1);
        z.zh = z.ph + ((z.ph >> 5) & ~1);
    } else {
        z.zw = z.pw - 2 * (z.pw >> 6);
        z.zh = z.ph - 2 * (z.ph >> 6);
    }
    if (z.zw >= z.maxw) {
        z.zw = z.maxw;
        z.zh = z.maxh;
    }
    z.buffered = true;
    if (!scale_buffer(c)) {
        c.log.write("Zoom Failed 2");
        z.buffered = false;
        z.zw = z.pw;
        z.zh = z.ph;
        gfx::ReleaseImage(c.zoom_buffer, true);
        return false;
    }
    z.px = (c.screen_width - z.zw) / 2;
    z.py = (c.screen_height - z.zh) / 2;
    pan_limits(c);
    c.log.write("Zoom buffered");
    return true;
}

}  // namespace

bool open_picture(Context& c, int index) {
    auto path = entry_path(c, index);
    if (path.empty()) return false;
    c.selected = index;
    c.picture_path = path;
    c.view = View::Picture;
    c.menu_open = false;
    c.zoom = Zoom{};
    gfx::ReleaseImage(c.zoom_buffer, true);
    gfx::ReleaseImage(c.zoom_scaled, true);
    c.picture_corrupt = true;
    auto pic = c.imaging->open(path);
    c.log.printf("View %s", to_utf8(path).c_str());
    if (!pic) return false;
    // Larger pictures are fitted to the screen, smaller ones keep their size.
    int w = pic->width(), h = pic->height();
    if (w > c.screen_width || h > c.screen_height) {
        auto fit = gfx::FitInside(w, h, c.screen_width, c.screen_height);
        w = fit.width;
        h = fit.height;
    }
    if (!gfx::LoadImageFromPicture(c.picture, c.screen, *pic, gfx::HasPngName(path), gfx::kFitInside, w, h))
        return false;
    c.picture_corrupt = false;
    auto& z = c.zoom;
    z.pw = z.zw = c.picture.width;
    z.ph = z.zh = c.picture.height;
    z.px = (c.screen_width - z.zw) / 2;
    z.py = (c.screen_height - z.zh) / 2;
    pan_limits(c);
    return true;
}

void close_picture(Context& c) {
    if (c.view == View::Picture) c.view = View::Files;
    c.picture_path.clear();
    c.picture_corrupt = false;
    c.zoom = Zoom{};
    gfx::ReleaseImage(c.picture, true);
    gfx::ReleaseImage(c.zoom_buffer, true);
    gfx::ReleaseImage(c.zoom_scaled, true);
    c.menu_open = false;
}

bool zoom_in(Context& c) {
    auto& z = c.zoom;
    if (c.picture_corrupt || c.picture.empty()) return false;
    if (!z.buffered) return start_zoom(c, true);
    if (z.zw == z.maxw) return false;
    z.px -= z.zw >> 5;
    int zw = z.zw + 2 * (z.zw >> 5);
    int zh = int(std::int64_t(z.ph) * zw / z.pw);
    z.py -= (zh - z.zh) / 2;
    if (zw >= z.maxw) {
        // The last step lands on the buffer itself, shown 1:1.
        z.px -= (z.maxw - zw) / 2;
        z.py -= (z.maxh - zh) / 2;
        zw = z.maxw;
        zh = z.maxh;
    }
    z.zw = zw;
    z.zh = zh;
    scale_buffer(c);
    pan_limits(c);
    return true;
}

bool zoom_out(Context& c) {
    auto& z = c.zoom;
    if (c.picture_corrupt || c.picture.empty()) return false;
    if (!z.buffered) return start_zoom(c, false);
    if (!(z.zw > (119 << resolution_shift(c)) || z.zw > z.pw)) return false;
    z.px += z.zw >> 5;
    int zw = z.zw - 2 * (z.zw >> 5);
    int zh = int(std::int64_t(z.ph) * zw / z.pw);
    z.py += (z.zh - zh) / 2;
    z.zw = std::max(1, zw);
    z.zh = std::max(1, zh);
    scale_buffer(c);
    pan_limits(c);
    return true;
}

void pan(Context& c, int dx, int dy) {
    c.zoom.px += dx;
    c.zoom.py += dy;
    pan_limits(c);
}

bool crop(Context& c, gfx::Image& out, std::string* why) {
    auto& z = c.zoom;
    if (c.picture_corrupt || c.picture.empty()) {
        if (why) *why = "the picture cannot be decoded";
        return false;
    }
    c.log.printf("%s zw=%d zh=%d px=%d py=%d", to_utf8(c.picture_path).c_str(), z.zw, z.zh, z.px, z.py);
    if (!gfx::FillImage(out, c.screen, c.screen_width, c.screen_height, 0, false, 0)) {
        if (why) *why = "out of memory";
        return false;
    }
    // At the largest zoom the buffer's pixels are copied 1:1; otherwise the picture as shown.
    const gfx::Image& src = z.buffered ? (z.zw == z.maxw ? c.zoom_buffer : c.zoom_scaled) : c.picture;
    gfx::ComposeImage(out, c.screen, src, z.px, z.py, 0, 0, 0, 0, gfx::kCopy, 32);
    // A turned view is turned back, so the bitmap fits the display as the lock screen sees it.
    int turn = quarters_to_code(c.rotation);
    if (turn != gfx::kRotate0 && !gfx::RotateImage(out, out, turn)) {
        if (why) *why = "out of memory";
        return false;
    }
    return true;
}

bool set_wallpaper(Context& c, bool portrait) {
    Id id = portrait ? Id::Wallpaper : Id::WallpaperL;
    bool from_grid = c.view != View::Picture;
    std::u16string path = from_grid ? entry_path(c, c.selected) : c.picture_path;
    if (path.empty()) return false;
    if (is_gif_name(path)) {
        pick_text(c, id, path, true);
        return true;
    }
    if (from_grid && !open_picture(c, c.selected)) {
        close_picture(c);
        crop_failed(c, "file corrupted.");
        return false;
    }
    gfx::Image out;
    std::string why;
    auto target = c.program_folder + u"\\" + std::u16string(portrait ? kPortraitCrop : kLandscapeCrop);
    bool ok = crop(c, out, &why);
    if (ok) {
        auto host = c.p.processes().host_path(target);
        ok = host && save_bitmap(*host, out, c.screen.format, &why);
        if (!host) why = "the program folder cannot be reached";
    }
    if (from_grid) close_picture(c);
    if (!ok) {
        crop_failed(c, why);
        return false;
    }
    pick_text(c, id, target, true);
    return true;
}

void rotate_view(Context& c, int quarters) {
    if (!c.screen.back_buffer) return;
    c.rotation = ((c.rotation + quarters) % 4 + 4) % 4;
    // The view is drawn into a screen of its own shape and turned onto the display as a whole:
    // every back-end shows it, also the ones that cannot turn their drawing.
    bool across = c.rotation % 2 != 0;
    int w = across ? c.screen.logical_height : c.screen.logical_width;
    int h = across ? c.screen.logical_width : c.screen.logical_height;
    gfx::CloseScreen(c.turned);
    if (c.rotation && gfx::InitScreen(c.turned, w, h, 2, 2 * w, c.screen.format, c.screen.dpi_x)) {
        c.turned.fonts = c.fonts.get();
        c.turned.imaging = c.imaging.get();
    } else if (c.rotation) {
        c.rotation = 0;
        w = c.screen.logical_width;
        h = c.screen.logical_height;
    }
    c.screen_width = w;
    c.screen_height = h;
    c.text_cache.clear();
    c.log.printf("ReStretch Screen %d(%d x %d)", turn_code(c.rotation), c.screen_width, c.screen_height);
    // The picture is fitted to the new shape again, unzoomed.
    if (c.view == View::Picture && !c.picture_path.empty()) {
        auto path = c.picture_path;
        int sel = c.selected;
        if (sel < 0 || entry_path(c, sel) != path) return;
        open_picture(c, sel);
    }
}

void view_to_screen(const Context& c, int& x, int& y) {
    int vx = x, vy = y, w = c.screen_width, h = c.screen_height;
    switch (c.rotation) {
        case 1: x = h - 1 - vy, y = vx; break;
        case 2: x = w - 1 - vx, y = h - 1 - vy; break;
        case 3: x = vy, y = w - 1 - vx; break;
        default: break;
    }
}

void screen_to_view(const Context& c, int& x, int& y) {
    int sx = x, sy = y, w = c.screen_width, h = c.screen_height;
    switch (c.rotation) {
        case 1: x = sy, y = h - 1 - sx; break;
        case 2: x = w - 1 - sx, y = h - 1 - sy; break;
        case 3: x = w - 1 - sy, y = sx; break;
        default: break;
    }
}

int turn_code(int quarters) { return quarters_to_code(quarters); }

}  // namespace lumo::browser
