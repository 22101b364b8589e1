#pragma once
// Where a drawing call writes: the back buffer through its rotation, or an Image.
#include <cstdint>

#include "kernels.h"
#include "lumo/gfx/image.h"

namespace lumo::gfx::detail {

struct Target {
    std::uint16_t* base = nullptr;  // logical pixel (0, 0)
    std::uint8_t* alpha = nullptr;  // Image targets with an alpha plane
    int w = 0, h = 0;               // logical size
    std::ptrdiff_t xstep = 1, ystep = 0;  // pixels
};

inline Target ScreenTarget(Screen& s) {
    Target t;
    if (!s.back_buffer) return t;
    t.base = s.back_buffer.get() + s.origin;
    t.w = s.logical_width;
    t.h = s.logical_height;
    t.xstep = s.xstep / 2;
    t.ystep = s.ystep / 2;
    return t;
}

inline Target ImageTarget(Image& img) {
    Target t;
    if (img.empty()) return t;
    t.base = img.pixels.get();
    t.alpha = img.has_alpha() ? img.alpha.get() : nullptr;
    t.w = img.width;
    t.h = img.height;
    t.ystep = img.width;
    return t;
}

// A source of pixels: `col` and `row` step between neighbours (0 repeats a pixel or a row).
struct Source {
    const std::uint16_t* px;
    const std::uint8_t* alpha;  // or null
    std::ptrdiff_t col, row;
};

// Clips x, y, w, h to the target (moving the source along), then runs the span loop line by line
// along whichever logical axis lies contiguous in memory, so that the writes to the back buffer
// stay sequential in every rotation. Lines whose source is not contiguous in the same direction
// (a turned display, a repeated colour) are gathered a block at a time into a small scratch
// buffer first, so that they still run on the vectorised loops.
void Run(const Target& t, const PixelFormat& f, Kind k, std::uint32_t a, std::uint32_t key,
         Source src, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h);

}  // namespace lumo::gfx::detail
