#pragma once
// The Screen: the 16-bit back buffer every program draws into, its pixel format and its logical
// rotation. Frames reach the display through a Presenter supplied by the display back-end; the
// back-end (frame buffer, DirectDraw or GDI through the device host) fills in the record when it
// opens the display and then calls InitScreen.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lumo/gfx/pixel.h"
#include "lumo/platform/types.h"

namespace lumo::platform {
class Imaging;
class FontEngine;
}  // namespace lumo::platform

namespace lumo::gfx {

enum class Backend : int { None = 0, RawFrameBuffer = 1, DirectDraw = 2, GdiBitmap = 3 };

// Error codes left on the Screen for the caller.
enum ScreenError : int {
    kErrorNone = 0,
    kErrorNoBackend = 100,
    kErrorNoMemory = 102,
    kErrorSuspended = 105,
    kErrorNoBrush = 113,
};

// Logical rotation codes (90° clockwise steps).
enum Rotation : int { kRotate0 = 0, kRotate90 = 1, kRotate180 = 2, kRotate270 = 4 };

// Implemented by a display back-end: moves whole frames between the back buffer and the display.
// Frames are in the back buffer's own layout and pixel format.
class Presenter {
public:
    virtual ~Presenter() = default;
    // Shows one frame; false when the display memory cannot be reached (the frame is dropped).
    virtual bool present(std::span<const std::uint16_t> frame) = 0;
    // Reads what the display shows now; false when it cannot be read.
    virtual bool capture(std::span<std::uint16_t> frame) = 0;
    // The whole picture with other programs' windows, row by row as the screen is turned; false
    // when only the display memory this program writes can be read.
    virtual bool capture_shown(std::span<std::uint16_t> out, int width, int height) {
        (void)out, (void)width, (void)height;
        return false;
    }
    // The window was hidden or shown again: release or take the hardware keys, restore surfaces.
    virtual void suspend() {}
    virtual void resume() {}
    // The logical rotation is about to change: surfaces are restored, metrics read again.
    virtual void rotating() {}
};

// The fade's pacing: a millisecond clock and a way to wait on it (tests pass a manual one).
class FrameClock {
public:
    virtual ~FrameClock() = default;
    virtual std::uint32_t now_ms() = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;
};
FrameClock& SystemFrameClock();

// The fill colour selected into the Screen, and the record of the second slot.
inline constexpr std::uint32_t kBrushTag = 10001;
inline constexpr std::uint32_t kPenTag = 10000;
struct Brush {
    std::uint32_t tag = kBrushTag;
    std::uint16_t colour = 0;
};
struct Pen {
    std::uint32_t tag = kPenTag;
    std::uint16_t colour = 0;
};

struct Screen {
    Backend backend = Backend::None;
    // Display memory pitches in bytes, the screen size in pixels, bits per pixel.
    int base_xpitch = 0;
    int base_ypitch = 0;
    int width = 0;
    int height = 0;
    int bits_per_pixel = 16;
    int dpi_x = 96;  // horizontal resolution, for ScaleUnit

    PixelFormat format = kRgb565;

    std::unique_ptr<std::uint16_t[]> back_buffer;
    std::size_t pixel_count = 0;
    std::size_t byte_size = 0;

    int rotation = kRotate0;
    bool axes_exchanged = false;
    int logical_width = 0;
    int logical_height = 0;
    std::ptrdiff_t xstep = 0;  // bytes between logically adjacent pixels (may be negative)
    std::ptrdiff_t ystep = 0;
    std::array<std::ptrdiff_t, 4> origins{};  // pixel offsets into the back buffer, per rotation
    std::ptrdiff_t origin = 0;                // the current rotation's

    int display_orientation = kRotate0;
    bool suspended = false;
    int last_error = kErrorNone;
    platform::Hwnd window = 0;

    Presenter* presenter = nullptr;
    std::unique_ptr<Presenter> backend_owner;  // the back-end OpenScreen opened, if any
    platform::Imaging* imaging = nullptr;   // made once per process
    platform::FontEngine* fonts = nullptr;  // the text renderer's font engine
    FrameClock* clock = nullptr;            // nullptr: the system clock

    const Brush* brush = nullptr;
    const Pen* pen = nullptr;
};

// Allocates the back buffer for a display of width × height with the given memory pitches (one of
// them 2, the other spanning a row or column, both positive) and precomputes the four origins.
// Rotation starts at 0. False with error 102 when memory is short.
bool InitScreen(Screen& s, int width, int height, int xpitch, int ypitch, const PixelFormat& f,
                int dpi_x);

// An angle in degrees (any integer) to a rotation code: 90 → 1, 180 → 2, 270 → 4, else 0.
int RotationFromAngle(int angle);

// Sets the logical size, steps and origin for a rotation code; unknown codes count as 0, and
// the GDI back-end always draws unrotated.
void SetScreenRotation(Screen& s, int code);

// Copies the back buffer to the display. False when suspended (error 105), without a presenter,
// or when the back-end cannot take the frame.
bool PresentScreen(Screen& s);
void SuspendScreen(Screen& s);
void ResumeScreen(Screen& s);
// Frees the back buffer; the back-end closes its own objects.
void CloseScreen(Screen& s);

// A layout length written for 96 dpi, doubled on screens of 192 dpi and more.
constexpr int ScaleUnit(int dpi_x, int n) { return dpi_x >= 192 ? n << 1 : n; }
inline int ScaleUnit(const Screen& s, int n) { return ScaleUnit(s.dpi_x, n); }

// Fill colour selection. Selecting returns the previous record; selecting none leaves the current
// one, sets error 113 and returns nullptr.
const Brush* SelectBrush(Screen& s, const Brush* b);
const Pen* SelectPen(Screen& s, const Pen* p);
inline Brush MakeBrush(std::uint16_t colour) { return Brush{kBrushTag, colour}; }

}  // namespace lumo::gfx
