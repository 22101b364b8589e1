#pragma once
// The phone's display as the drawing library's back-ends reach it: screen metrics, the device's
// identity (OEM information, platform version), the three ways to display memory (the raw
// frame-buffer escape, a DirectDraw primary surface, a GDI bitmap blit), the orientation query and
// the hardware-key grab. The device client maps the host's shared frame; the fake keeps an
// off-screen buffer that tests read.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "lumo/platform/types.h"

namespace lumo::platform {

struct ScreenMetrics {
    int width = 0;   // pixels, as the system metrics report them
    int height = 0;
    int dpi_x = 96;
    int dpi_y = 96;
};

struct PlatformVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
};

// The raw frame-buffer query escape and its 24-byte answer.
inline constexpr std::uint32_t kRawFrameBufferEscape = 0x20001;
inline constexpr std::uint16_t kFrameFormatRgb565 = 1;
inline constexpr std::uint16_t kFrameFormatRgb555 = 2;
struct RawFrameBufferInfo {
    std::uint16_t format = 0;  // kFrameFormat...
    std::uint16_t bpp = 0;
    void* pointer = nullptr;
    std::int32_t xstride = 0;  // bytes between horizontally adjacent pixels (may be negative)
    std::int32_t ystride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// DirectDraw capability and surface bits the back-end looks at.
inline constexpr std::uint32_t kSurfacePrimary = 0x40;
inline constexpr std::uint32_t kSurfaceSystemMemory = 0x80;
inline constexpr std::uint32_t kSurfaceVideoMemory = 0x100;
inline constexpr std::uint32_t kSurfaceLostError = 0x887601C2;

struct DirectDrawCaps {
    std::uint32_t caps = 0;          // kSurface... bits the driver offers
    std::uint64_t video_memory = 0;  // bytes
};

// What a lock of the primary surface gives.
struct SurfaceLock {
    void* pointer = nullptr;
    std::int32_t xpitch = 0;
    std::int32_t ypitch = 0;
    int bits = 0;
};
enum class LockResult { Ok, Lost, Failed };

class Display {
public:
    virtual ~Display() = default;

    virtual ScreenMetrics metrics() = 0;
    // The system parameter for OEM information (at most 128 characters).
    virtual std::u16string oem_info() = 0;
    virtual PlatformVersion version() = 0;
    // The display-settings orientation query, in degrees (0, 90, 180, 270).
    virtual int orientation_angle() = 0;

    // The raw frame-buffer escape (kRawFrameBufferEscape); nullopt when the display does not
    // answer it.
    virtual std::optional<RawFrameBufferInfo> raw_frame_buffer() = 0;

    // DirectDraw: nullopt when the library or its object cannot be had. The normal cooperative
    // level is set for `window`.
    virtual std::optional<DirectDrawCaps> open_direct_draw(Hwnd window) = 0;
    virtual bool create_primary_surface(std::uint32_t flags) = 0;
    virtual LockResult lock_primary(SurfaceLock& out) = 0;
    // Unlocking after a write shows the frame.
    virtual void unlock_primary() = 0;
    virtual bool restore_surfaces() = 0;
    virtual void close_direct_draw() = 0;

    // GDI: a 16-bit bitmap of the screen's size, copied to the window at 0, 0.
    virtual bool create_bitmap(int width, int height) = 0;
    virtual bool blit_bitmap(Hwnd window, std::span<const std::uint16_t> pixels, int width,
                             int height) = 0;
    virtual void delete_bitmap() = 0;

    // Tells the display that `window` wrote a whole frame into display memory.
    virtual bool frame_ready(Hwnd window) = 0;
    // What the display shows now with every program's windows, as the screen is turned
    // (width × height, rows without gaps): the screen memory of a phone holds the whole picture.
    // False when the display cannot tell, or it is not of that size.
    virtual bool read_screen(std::span<std::uint16_t> out, int width, int height) {
        (void)out, (void)width, (void)height;
        return false;
    }

    // Hardware keys: the GX library when the device has one, else the platform's switch that
    // routes every hardware key to the foreground window.
    virtual bool gx_available() = 0;
    virtual int gx_open_input() = 0;
    virtual int gx_close_input() = 0;
    virtual void route_all_keys(bool on) = 0;
};

}  // namespace lumo::platform
