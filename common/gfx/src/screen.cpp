#include "lumo/gfx/screen.h"

#include <chrono>
#include <new>
#include <thread>

namespace lumo::gfx {
namespace {

// Slot of each rotation code in Screen::origins.
int OriginSlot(int code) {
    switch (code) {
    case kRotate90: return 1;
    case kRotate180: return 2;
    case kRotate270: return 3;
    default: return 0;
    }
}

class SteadyFrameClock final : public FrameClock {
public:
    std::uint32_t now_ms() override {
        using namespace std::chrono;
        return std::uint32_t(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

FrameClock& SystemFrameClock() {
    static SteadyFrameClock clock;
    return clock;
}

bool InitScreen(Screen& s, int width, int height, int xpitch, int ypitch, const PixelFormat& f,
                int dpi_x) {
    bool row_major = xpitch == 2 && ypitch == width * 2;
    bool column_major = ypitch == 2 && xpitch == height * 2;
    if (width <= 0 || height <= 0 || !(row_major || column_major)) return false;
    std::size_t count = std::size_t(width) * std::size_t(height);
    auto* buffer = new (std::nothrow) std::uint16_t[count]();
    if (!buffer) {
        s.last_error = kErrorNoMemory;
        return false;
    }
    s.back_buffer.reset(buffer);
    s.pixel_count = count;
    s.byte_size = count * 2;
    s.width = width;
    s.height = height;
    s.base_xpitch = xpitch;
    s.base_ypitch = ypitch;
    s.bits_per_pixel = 16;
    s.format = f;
    s.dpi_x = dpi_x;
    // In pixels. The 180° origin is the last pixel of the frame in either memory order.
    std::ptrdiff_t xp = xpitch / 2, yp = ypitch / 2;
    s.origins = {0, yp * (height - 1), xp * (width - 1) + yp * (height - 1), xp * (width - 1)};
    SetScreenRotation(s, kRotate0);
    return true;
}

int RotationFromAngle(int angle) {
    long a = angle;
    if (a < 0) a = 359 - ((-a - 1) % 360);
    else if (a > 360) a = ((a - 361) % 360) + 1;
    switch (a) {
    case 90: return kRotate90;
    case 180: return kRotate180;
    case 270: return kRotate270;
    default: return kRotate0;
    }
}

void SetScreenRotation(Screen& s, int code) {
    if (s.presenter) s.presenter->rotating();
    if (code != kRotate90 && code != kRotate180 && code != kRotate270) code = kRotate0;
    if (s.backend == Backend::GdiBitmap) code = kRotate0;
    const std::ptrdiff_t xp = s.base_xpitch, yp = s.base_ypitch;
    s.rotation = code;
    s.axes_exchanged = code == kRotate90 || code == kRotate270;
    s.logical_width = s.axes_exchanged ? s.height : s.width;
    s.logical_height = s.axes_exchanged ? s.width : s.height;
    switch (code) {
    case kRotate90: s.xstep = -yp, s.ystep = xp; break;
    case kRotate180: s.xstep = -xp, s.ystep = -yp; break;
    case kRotate270: s.xstep = yp, s.ystep = -xp; break;
    default: s.xstep = xp, s.ystep = yp; break;
    }
    s.origin = s.origins[OriginSlot(code)];
}

bool PresentScreen(Screen& s) {
    if (s.suspended) {
        s.last_error = kErrorSuspended;
        return false;
    }
    if (!s.presenter || !s.back_buffer) return false;
    return s.presenter->present({s.back_buffer.get(), s.pixel_count});
}

void SuspendScreen(Screen& s) {
    if (s.presenter) s.presenter->suspend();
    s.suspended = true;
}

void ResumeScreen(Screen& s) {
    if (s.presenter) s.presenter->resume();
    s.suspended = false;
}

void CloseScreen(Screen& s) {
    s.back_buffer.reset();
    s.pixel_count = 0;
    s.byte_size = 0;
    s.presenter = nullptr;
    s.backend_owner.reset();
    s.backend = Backend::None;
}

const Brush* SelectBrush(Screen& s, const Brush* b) {
    if (!b) {
        s.last_error = kErrorNoBrush;
        return nullptr;
    }
    const Brush* old = s.brush;
    s.brush = b;
    return old;
}

const Pen* SelectPen(Screen& s, const Pen* p) {
    if (!p) {
        s.last_error = kErrorNoBrush;
        return nullptr;
    }
    const Pen* old = s.pen;
    s.pen = p;
    return old;
}

}  // namespace lumo::gfx
