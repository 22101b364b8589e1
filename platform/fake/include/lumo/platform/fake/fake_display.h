#pragma once
// The fake's display: an off-screen frame in this process. Tests choose what the device offers
// (OEM information, which of the three ways to display memory work, the GX library, a lost
// surface) and read back what was presented and which calls were made.
#include <cstdint>
#include <string>
#include <vector>

#include "lumo/platform/display.h"

namespace lumo::platform::fake {

class FakeDisplay final : public Display {
public:
    FakeDisplay();

    // What the device is. Changing the size takes effect at the next resize(). `screen` is the
    // panel in its own portrait layout; turned (`orientation`), the display behaves as a rotating
    // driver: metrics() reports the turned screen, and the escape, the surface lock and the GDI
    // blit address the same memory from the turned screen's top-left corner.
    ScreenMetrics screen{480, 800, 192, 192};
    std::u16string oem = u"Lumo Fake Phone";
    PlatformVersion platform_version{5, 2, 21234};
    int orientation = 0;  // degrees: 0, 90, 180 or 270

    // Which ways to display memory answer.
    bool escape_answers = true;
    std::uint16_t escape_format = kFrameFormatRgb565;
    bool direct_draw_present = true;
    DirectDrawCaps ddraw_caps{kSurfacePrimary | kSurfaceSystemMemory | kSurfaceVideoMemory,
                              480u * 800u * 2u};
    bool surface_lost = false;
    bool restore_works = true;
    bool gdi_works = true;
    bool gx_present = false;

    // The display memory: rows of `pitch_pixels` pixels (row padding shows up as pitch > width).
    int pitch_pixels = 480;
    std::vector<std::uint16_t> memory;
    void resize();

    // What happened.
    int frames_ready = 0;
    Hwnd last_window = 0;
    std::uint32_t primary_flags = 0;
    int restores = 0;
    int gx_opens = 0, gx_closes = 0;
    bool keys_routed = false;
    std::vector<std::string> calls;  // "escape", "ddraw", "gdi", in order of the first tries

    // The pixel at (x, y) of display memory.
    std::uint16_t pixel(int x, int y) const { return memory[std::size_t(y) * pitch_pixels + x]; }
    // The pixel the person sees at (x, y) of the turned screen.
    std::uint16_t seen(int x, int y) const;

    ScreenMetrics metrics() override;
    std::u16string oem_info() override { return oem; }
    PlatformVersion version() override { return platform_version; }
    int orientation_angle() override { return orientation; }
    std::optional<RawFrameBufferInfo> raw_frame_buffer() override;
    std::optional<DirectDrawCaps> open_direct_draw(Hwnd window) override;
    bool create_primary_surface(std::uint32_t flags) override;
    LockResult lock_primary(SurfaceLock& out) override;
    void unlock_primary() override;
    bool restore_surfaces() override;
    void close_direct_draw() override;
    bool create_bitmap(int width, int height) override;
    bool blit_bitmap(Hwnd window, std::span<const std::uint16_t> pixels, int width,
                     int height) override;
    void delete_bitmap() override;
    bool frame_ready(Hwnd window) override;
    // The display memory as the turned screen shows it.
    bool read_screen(std::span<std::uint16_t> out, int width, int height) override;
    bool gx_available() override { return gx_present; }
    int gx_open_input() override;
    int gx_close_input() override;
    void route_all_keys(bool on) override { keys_routed = on; }

private:
    // Display memory as the turned screen addresses it, in pixels.
    struct Turned {
        std::ptrdiff_t origin, xstep, ystep;
        int width, height;
    };
    Turned turned() const;

    bool primary_ = false;
    bool locked_ = false;
    bool bitmap_ = false;
    Hwnd ddraw_window_ = 0;
};

}  // namespace lumo::platform::fake
