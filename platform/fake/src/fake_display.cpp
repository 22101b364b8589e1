#include "lumo/platform/fake/fake_display.h"

#include <algorithm>
#include <cstring>

namespace lumo::platform::fake {

FakeDisplay::FakeDisplay() { resize(); }

void FakeDisplay::resize() {
    pitch_pixels = std::max(pitch_pixels, screen.width);
    memory.assign(std::size_t(pitch_pixels) * screen.height, 0);
}

FakeDisplay::Turned FakeDisplay::turned() const {
    const std::ptrdiff_t row = pitch_pixels, w = screen.width, h = screen.height;
    switch (orientation) {
    case 90: return {row * (h - 1), -row, 1, screen.height, screen.width};
    case 180: return {row * (h - 1) + w - 1, -1, -row, screen.width, screen.height};
    case 270: return {w - 1, row, -1, screen.height, screen.width};
    default: return {0, 1, row, screen.width, screen.height};
    }
}

ScreenMetrics FakeDisplay::metrics() {
    auto t = turned();
    ScreenMetrics m = screen;
    m.width = t.width;
    m.height = t.height;
    return m;
}

std::uint16_t FakeDisplay::seen(int x, int y) const {
    auto t = turned();
    return memory[std::size_t(t.origin + x * t.xstep + y * t.ystep)];
}

bool FakeDisplay::read_screen(std::span<std::uint16_t> out, int width, int height) {
    auto t = turned();
    if (width != t.width || height != t.height || out.size() < std::size_t(width) * std::size_t(height))
        return false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out[std::size_t(y) * std::size_t(width) + std::size_t(x)] = seen(x, y);
    return true;
}

std::optional<RawFrameBufferInfo> FakeDisplay::raw_frame_buffer() {
    calls.push_back("escape");
    if (!escape_answers) return std::nullopt;
    auto t = turned();
    return RawFrameBufferInfo{escape_format,
                              16,
                              memory.data() + t.origin,
                              std::int32_t(t.xstep * 2),
                              std::int32_t(t.ystep * 2),
                              t.width,
                              t.height};
}

std::optional<DirectDrawCaps> FakeDisplay::open_direct_draw(Hwnd window) {
    calls.push_back("ddraw");
    if (!direct_draw_present) return std::nullopt;
    ddraw_window_ = window;
    return ddraw_caps;
}

bool FakeDisplay::create_primary_surface(std::uint32_t flags) {
    primary_flags = flags;
    primary_ = (flags & kSurfacePrimary) != 0;
    return primary_;
}

LockResult FakeDisplay::lock_primary(SurfaceLock& out) {
    if (!primary_) return LockResult::Failed;
    if (surface_lost) return LockResult::Lost;
    auto t = turned();
    out = {memory.data() + t.origin, std::int32_t(t.xstep * 2), std::int32_t(t.ystep * 2), 16};
    locked_ = true;
    return LockResult::Ok;
}

void FakeDisplay::unlock_primary() {
    if (locked_) frame_ready(ddraw_window_);
    locked_ = false;
}

bool FakeDisplay::restore_surfaces() {
    ++restores;
    if (!primary_ || !restore_works) return false;
    surface_lost = false;
    return true;
}

void FakeDisplay::close_direct_draw() { primary_ = false; }

bool FakeDisplay::create_bitmap(int width, int height) {
    calls.push_back("gdi");
    auto t = turned();
    bitmap_ = gdi_works && width == t.width && height == t.height;
    return bitmap_;
}

bool FakeDisplay::blit_bitmap(Hwnd window, std::span<const std::uint16_t> px, int width,
                              int height) {
    if (!bitmap_ || width <= 0 || height <= 0 || px.size() < std::size_t(width) * height)
        return false;
    auto t = turned();
    int w = std::min(width, t.width), h = std::min(height, t.height);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            memory[std::size_t(t.origin + x * t.xstep + y * t.ystep)] =
                px[std::size_t(y) * width + x];
    return frame_ready(window);
}

void FakeDisplay::delete_bitmap() { bitmap_ = false; }

bool FakeDisplay::frame_ready(Hwnd window) {
    ++frames_ready;
    last_window = window;
    return true;
}

int FakeDisplay::gx_open_input() { return gx_present ? ++gx_opens, 1 : 0; }
int FakeDisplay::gx_close_input() { return gx_present ? ++gx_closes, 1 : 0; }

}  // namespace lumo::platform::fake
