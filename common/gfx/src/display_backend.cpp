#include "lumo/gfx/display_backend.h"

#include <cstdio>
#include <cstring>

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
    void set_memory(Memory m) { m_ = m; }

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
    // Locks the primary surface, restoring it once when it was lost; memory re-described so
    // that both pitches are positive.
    bool lock(Memory& m) {
        platform::SurfaceLock l;
        auto r = d_.lock_primary(l);
        if (r == LockResult::Lost) {
            if (!d_.restore_surfaces()) return false;
            r = d_.lock_primary(l);
        }
        if (r != LockResult::Ok) return false;
        m = positive({static_cast<std::uint8_t*>(l.pointer), l.xpitch, l.ypitch});
        return true;
    }
    // Moves the origin to the corner from which both steps are positive.
    Memory positive(Memory m) const {
        if (m.xpitch < 0) m.base += m.xpitch * (width_ - 1), m.xpitch = -m.xpitch;
        if (m.ypitch < 0) m.base += m.ypitch * (height_ - 1), m.ypitch = -m.ypitch;
        return m;
    }
    int width_ = 0, height_ = 0;  // as the surface is laid out
};

class GdiBackend final : public BackendBase {
public:
    GdiBackend(Display& d, Screen& s, platform::Hwnd w) : BackendBase(d, s), window_(w) {}
    ~GdiBackend() override { d_.delete_bitmap(); }
    bool present(std::span<const std::uint16_t> frame) override {
        return d_.blit_bitmap(window_, frame, s_.width, s_.height);
    }
    void rotating() override { metrics_ = d_.metrics(); }

private:
    platform::Hwnd window_;
    platform::ScreenMetrics metrics_;
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
    out.width = m.width;
    out.height = m.height;
    out.xpitch = info->xstride;
    out.ypitch = info->ystride;
    out.format = f;
    out.backend = std::make_unique<FrameBufferBackend>(
        d, s, Memory{static_cast<std::uint8_t*>(info->pointer), info->xstride, info->ystride}, w);
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
    out.width = m.width;
    out.height = m.height;
    backend->width_ = m.width;
    backend->height_ = m.height;
    // Memory laid out from the opposite corner is described from the corner where both steps
    // are positive; with exactly one step reversed the axes are exchanged.
    out.xpitch = l.xpitch < 0 ? -l.xpitch : l.xpitch;
    out.ypitch = l.ypitch < 0 ? -l.ypitch : l.ypitch;
    if ((l.xpitch < 0) != (l.ypitch < 0)) std::swap(out.width, out.height);
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
    // The orientation; the frame buffer of a turned display is addressed row by row from its
    // turned corner.
    int angle = d.orientation_angle();
    if (log) log("Angle=" + std::to_string(angle));
    int orientation = RotationFromAngle(angle);
    if (opened == 1 && orientation != kRotate0) {
        if (orientation == kRotate90 || orientation == kRotate270) std::swap(o.width, o.height);
        o.xpitch = 2;
        o.ypitch = std::ptrdiff_t(o.width) * 2;
        if (auto* fb = dynamic_cast<FrameBufferBackend*>(o.backend.get())) {
            auto info = d.raw_frame_buffer();
            fb->set_memory({static_cast<std::uint8_t*>(info->pointer), o.xpitch, o.ypitch});
        }
    }
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
