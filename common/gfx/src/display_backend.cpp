#include "lumo/gfx/display_backend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lumo/platform/text.h"

namespace lumo::gfx {

using platform::Display;
using platform::LockResult;

namespace {

// Display memory as the back-ends describe it: where pixel (0, 0) is and the byte steps.
struct Memory {
    std::uint8_t* base = nullptr;
    std::ptrdiff_t xpitch = 0, ypitch = 0;
};

// Display memory described from the corner where both steps are positive. A description with
// exactly one reversed step is a turned screen: its axes are exchanged as well, so what comes
// out is the memory's own layout, the same whatever the display's orientation.
struct Layout {
    Memory m;
    int width = 0, height = 0;
};
Layout untwist(Memory m, int width, int height) {
    bool one_reversed = (m.xpitch < 0) != (m.ypitch < 0);
    if (m.xpitch < 0) m.base += m.xpitch * (width - 1), m.xpitch = -m.xpitch;
    if (m.ypitch < 0) m.base += m.ypitch * (height - 1), m.ypitch = -m.ypitch;
    if (one_reversed) std::swap(m.xpitch, m.ypitch), std::swap(width, height);
    return {m, width, height};
}

// Copies a compact back buffer (xp, yp in bytes) of w × h into display memory and back. Rows
// that are contiguous on both sides go by memcpy; anything else pixel by pixel.
void copy_to(const Memory& m, const std::uint16_t* buffer, int w, int h, std::ptrdiff_t xp,
             std::ptrdiff_t yp) {
    if (m.xpitch == xp && m.ypitch == yp) {
        std::memcpy(m.base, buffer, std::size_t(w) * h * 2);
        return;
    }
    auto* src = reinterpret_cast<const std::uint8_t*>(buffer);
    for (int y = 0; y < h; ++y) {
        if (xp == 2 && m.xpitch == 2) {
            std::memcpy(m.base + y * m.ypitch, src + y * yp, std::size_t(w) * 2);
            continue;
        }
        for (int x = 0; x < w; ++x)
            std::memcpy(m.base + x * m.xpitch + y * m.ypitch, src + x * xp + y * yp, 2);
    }
}

void copy_from(const Memory& m, std::uint16_t* buffer, int w, int h, std::ptrdiff_t xp,
               std::ptrdiff_t yp) {
    auto* dst = reinterpret_cast<std::uint8_t*>(buffer);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(dst + x * xp + y * yp, m.base + x * m.xpitch + y * m.ypitch, 2);
}

// Key input shared by every back-end: GX when the device has it, else the platform's switch.
class KeyGrab {
public:
    explicit KeyGrab(Display& d) : d_(d), gx_(d.gx_available()) { take(); }
    ~KeyGrab() {
        if (held_) release();
    }
    void take() {
        if (gx_) d_.gx_open_input();
        else d_.route_all_keys(true);
        held_ = true;
    }
    void release() {
        if (gx_) d_.gx_close_input();
        else d_.route_all_keys(false);
        held_ = false;
    }

private:
    Display& d_;
    bool gx_;
    bool held_ = false;
};

// Common to the three: the screen's geometry and the key grab.
class BackendBase : public Presenter {
public:
    BackendBase(Display& d, Screen& s) : d_(d), s_(s) {}
    bool capture(std::span<std::uint16_t>) override { return false; }
    bool capture_shown(std::span<std::uint16_t> out, int width, int height) override {
        return d_.read_screen(out, width, height);
    }
    void suspend() override {
        if (keys_) keys_->release();
    }
    void resume() override {
        if (keys_) keys_->take();
    }
    void grab_keys() { keys_.emplace(d_); }

protected:
    Display& d_;
    Screen& s_;
    std::optional<KeyGrab> keys_;
};

class FrameBufferBackend final : public BackendBase {
public:
    FrameBufferBackend(Display& d, Screen& s, Memory m, platform::Hwnd w)
        : BackendBase(d, s), m_(m), window_(w) {}
    bool present(std::span<const std::uint16_t> frame) override {
        copy_to(m_, frame.data(), s_.width, s_.height, s_.base_xpitch, s_.base_ypitch);
        return d_.frame_ready(window_);
    }
    bool capture(std::span<std::uint16_t> frame) override {
        copy_from(m_, frame.data(), s_.width, s_.height, s_.base_xpitch, s_.base_ypitch);
        return true;
    }

private:
    Memory m_;
    platform::Hwnd window_;
};

class DirectDrawBackend final : public BackendBase {
public:
    DirectDrawBackend(Display& d, Screen& s) : BackendBase(d, s) {}
    ~DirectDrawBackend() override { d_.close_direct_draw(); }
    bool present(std::span<const std::uint16_t> frame) override {
        Memory m;
        if (!lock(m)) return false;
        copy_to(m, frame.data(), s_.width, s_.height, s_.base_xpitch, s_.base_ypitch);
        d_.unlock_primary();
        return true;
    }
    bool capture(std::span<std::uint16_t> frame) override {
        Memory m;
        if (!lock(m)) return false;
        copy_from(m, frame.data(), s_.width, s_.height, s_.base_xpitch, s_.base_ypitch);
        d_.unlock_primary();
        return true;
    }
    void resume() override {
        BackendBase::resume();
        d_.restore_surfaces();
    }
    void rotating() override { d_.restore_surfaces(); }
    // Locks the primary surface, restoring it once when it was lost; memory re-described in its
    // own layout. The lock describes the screen as it is turned now, which may differ from the
    // orientation at open.
    bool lock(Memory& m) {
        platform::SurfaceLock l;
        auto r = d_.lock_primary(l);
        if (r == LockResult::Lost) {
            if (!d_.restore_surfaces()) return false;
            r = d_.lock_primary(l);
        }
        if (r != LockResult::Ok) return false;
        auto now = d_.metrics();
        Memory locked{static_cast<std::uint8_t*>(l.pointer), l.xpitch, l.ypitch};
        m = untwist(locked, now.width, now.height).m;
        return true;
    }
};

class GdiBackend final : public BackendBase {
public:
    GdiBackend(Display& d, Screen& s, platform::Hwnd w) : BackendBase(d, s), window_(w) {}
    ~GdiBackend() override { d_.delete_bitmap(); }
    bool present(std::span<const std::uint16_t> frame) override {
        auto now = d_.metrics();
        if (now.width != s_.height || now.height != s_.width || now.width == now.height)
            return d_.blit_bitmap(window_, frame, s_.width, s_.height);
        // A quarter turn since the bitmap was made (the program kept its layout): the bitmap
        // is blitted turned back, so the picture stays whole where it was on the panel, as it
        // does with the other back-ends.
        int now_angle = angle_of(RotationFromAngle(d_.orientation_angle()));
        int turn = (now_angle - angle_of(s_.display_orientation) + 360) % 360;
        const int w = s_.width, h = s_.height;
        turned_.resize(std::size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int tx = turn == 90 ? h - 1 - y : y, ty = turn == 90 ? x : w - 1 - x;
                turned_[std::size_t(ty) * h + tx] = frame[std::size_t(y) * w + x];
            }
        return d_.blit_bitmap(window_, turned_, h, w);
    }

private:
    static int angle_of(int code) {
        return code == kRotate90 ? 90 : code == kRotate180 ? 180 : code == kRotate270 ? 270 : 0;
    }
    platform::Hwnd window_;
    std::vector<std::uint16_t> turned_;
};

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

struct Opened {
    std::unique_ptr<BackendBase> backend;
    int width = 0, height = 0;
    std::ptrdiff_t xpitch = 0, ypitch = 0;  // of display memory
    PixelFormat format = kRgb565;
};

bool open_frame_buffer(Display& d, Screen& s, platform::Hwnd w, Opened& out) {
    auto info = d.raw_frame_buffer();
    if (!info || !info->pointer) return false;
    PixelFormat f;
    if (info->format == platform::kFrameFormatRgb565) f = kRgb565;
    else if (info->format == platform::kFrameFormatRgb555) f = kRgb555;
    else return false;
    auto m = d.metrics();
    if (m.width <= 0 || m.height <= 0) return false;
    // The size is the system's; a turned display's memory is addressed in its own layout, so
    // the axes are exchanged at 90 and 270 degrees.
    out.width = m.width;
    out.height = m.height;
    int angle = RotationFromAngle(d.orientation_angle());
    if (angle == kRotate90 || angle == kRotate270) std::swap(out.width, out.height);
    auto layout = untwist({static_cast<std::uint8_t*>(info->pointer), info->xstride, info->ystride},
                          info->width > 0 ? info->width : m.width,
                          info->height > 0 ? info->height : m.height);
    out.xpitch = layout.m.xpitch;
    out.ypitch = layout.m.ypitch;
    out.format = f;
    out.backend = std::make_unique<FrameBufferBackend>(d, s, layout.m, w);
    return true;
}

bool open_direct_draw(Display& d, Screen& s, platform::Hwnd w, Opened& out) {
    auto caps = d.open_direct_draw(w);
    if (!caps) return false;
    auto m = d.metrics();
    std::uint32_t flags = 0;
    if ((caps->caps & platform::kSurfaceVideoMemory) &&
        caps->video_memory >= std::uint64_t(m.width) * m.height * 2)
        flags = platform::kSurfaceVideoMemory;
    else if (caps->caps & platform::kSurfaceSystemMemory)
        flags = platform::kSurfaceSystemMemory;
    if (!flags || !(caps->caps & platform::kSurfacePrimary)) {
        d.close_direct_draw();
        return false;
    }
    auto backend = std::make_unique<DirectDrawBackend>(d, s);
    platform::SurfaceLock l;
    if (!d.create_primary_surface(flags | platform::kSurfacePrimary) ||
        d.lock_primary(l) != LockResult::Ok || l.bits != 16) {
        return false;  // the backend's destructor closes DirectDraw
    }
    d.unlock_primary();
    // Memory laid out from the opposite corner is described from the corner where both steps
    // are positive; with exactly one step reversed the axes are exchanged.
    auto layout =
        untwist({static_cast<std::uint8_t*>(l.pointer), l.xpitch, l.ypitch}, m.width, m.height);
    out.width = layout.width;
    out.height = layout.height;
    out.xpitch = layout.m.xpitch;
    out.ypitch = layout.m.ypitch;
    out.format = kRgb565;
    out.backend = std::move(backend);
    return true;
}

bool open_gdi(Display& d, Screen& s, platform::Hwnd w, Opened& out) {
    auto m = d.metrics();
    if (m.width <= 0 || m.height <= 0 || !d.create_bitmap(m.width, m.height)) return false;
    out.width = m.width;
    out.height = m.height;
    out.xpitch = 2;
    out.ypitch = std::ptrdiff_t(m.width) * 2;
    out.format = kRgb565;
    out.backend = std::make_unique<GdiBackend>(d, s, w);
    return true;
}

}  // namespace

int RequestedBackend(int display_mode, std::u16string_view command_line) {
    if (starts_with(command_line, u"-ddraw")) display_mode = 1;
    else if (starts_with(command_line, u"-gdi")) display_mode = 2;
    int requested = display_mode + 1;
    return requested >= 1 && requested <= 3 ? requested : 1;
}

int ProfileBackend(std::u16string_view oem_info, int requested) {
    for (const auto& p : kDeviceProfiles)
        if (starts_with(oem_info, p.prefix)) return p.backend ? p.backend : requested;
    return requested;
}

bool OpenScreen(Screen& s, Display& d, platform::Hwnd window, int& backend,
                platform::Imaging* imaging, const ScreenLogFn& log) {
    s.window = window;
    int wanted = backend;
    if (wanted != 3) wanted = ProfileBackend(d.oem_info().substr(0, 128), wanted);
    Opened o;
    int opened = 0;
    if (wanted == 3 && open_gdi(d, s, window, o)) opened = 3;
    if (!opened && wanted == 2) {
        if (open_direct_draw(d, s, window, o)) opened = 2;
        else if (open_frame_buffer(d, s, window, o)) opened = 1;
    } else if (!opened) {
        if (open_frame_buffer(d, s, window, o)) opened = 1;
        else if (open_direct_draw(d, s, window, o)) opened = 2;
    }
    if (!opened) {
        s.last_error = kErrorNoBackend;
        return false;
    }
    // The orientation: the back buffer keeps display memory's own layout and the drawing turns.
    int angle = d.orientation_angle();
    if (log) log("Angle=" + std::to_string(angle));
    int orientation = RotationFromAngle(angle);
    // The back buffer runs in display memory's order, without any padding the display has.
    bool rows = std::abs(o.xpitch) <= std::abs(o.ypitch);
    int xp = rows ? 2 : o.height * 2, yp = rows ? o.width * 2 : 2;
    int dpi = d.metrics().dpi_x;
    if (!InitScreen(s, o.width, o.height, xp, yp, o.format, dpi)) {
        if (s.last_error != kErrorNoMemory) s.last_error = kErrorNoBackend;
        return false;
    }
    if (!imaging) {
        CloseScreen(s);
        return false;
    }
    s.imaging = imaging;
    o.backend->grab_keys();
    s.backend = Backend(opened);
    s.backend_owner = std::move(o.backend);
    s.presenter = s.backend_owner.get();
    s.display_orientation = orientation;
    s.suspended = false;
    SetScreenRotation(s, orientation);
    backend = opened;
    return true;
}

std::vector<std::string> ScreenStartupLines(const Screen& s, Display& d,
                                            std::string_view version_text, std::uint32_t ticks) {
    char line[160];
    std::vector<std::string> out;
    std::snprintf(line, sizeof line, "%.*s 0x%0X", int(version_text.size()), version_text.data(),
                  ticks);
    out.push_back(line);
    out.push_back(platform::to_utf8(d.oem_info().substr(0, 128)));
    auto m = d.metrics();
    std::snprintf(line, sizeof line, "sysWidth=%d sysHeight=%d sx(100:%d) sy(100:%d)", m.width,
                  m.height, ScaleUnit(m.dpi_x, 100), ScaleUnit(m.dpi_y, 100));
    out.push_back(line);
    auto v = d.version();
    std::snprintf(line, sizeof line, "WM%u.%u %u A=%d D=%d", v.major, v.minor, v.build,
                  s.display_orientation, int(s.backend));
    out.push_back(line);
    return out;
}

}  // namespace lumo::gfx
