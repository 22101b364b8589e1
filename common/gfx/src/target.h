#pragma once
// Where a drawing call writes: the back buffer through its rotation, or an Image.
#include <algorithm>
#include <cstdint>

#include "kernels.h"
#include "lumo/gfx/image.h"

namespace lumo::gfx::detail {

struct Target {
    std::uint16_t* base = nullptr;  // logical pixel (0, 0)
    std::uint8_t* alpha = nullptr;  // Image targets with an alpha plane
    int w = 0, h = 0;               // logical size
    std::ptrdiff_t xstep = 1, ystep = 0;  // pixels
    bool exchanged = false;         // logical rows run along memory columns
};

inline Target ScreenTarget(Screen& s) {
    Target t;
    if (!s.back_buffer) return t;
    t.base = s.back_buffer.get() + s.origin;
    t.w = s.logical_width;
    t.h = s.logical_height;
    t.xstep = s.xstep / 2;
    t.ystep = s.ystep / 2;
    t.exchanged = s.axes_exchanged;
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

// Clips x, y, w, h to the target (moving the source along), then runs the span loop row by row,
// or column by column when the target's rows run along memory columns, so that the writes to the
// back buffer stay sequential.
inline void Run(const Target& t, const PixelFormat& f, Kind k, std::uint32_t a, std::uint32_t key,
                Source src, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    if (!t.base) return;
    if (x < 0) {
        src.px += -x * src.col;
        if (src.alpha) src.alpha += -x * src.col;
        w += x;
        x = 0;
    }
    if (y < 0) {
        src.px += -y * src.row;
        if (src.alpha) src.alpha += -y * src.row;
        h += y;
        y = 0;
    }
    w = std::min<std::int64_t>(w, t.w - x);
    h = std::min<std::int64_t>(h, t.h - y);
    if (w <= 0 || h <= 0) return;

    std::uint16_t* d0 = t.base + x * t.xstep + y * t.ystep;
    std::uint8_t* da0 = t.alpha ? t.alpha + y * t.w + x : nullptr;
    Span sp{};
    sp.a = a;
    sp.key = key;
    if (!t.exchanged) {
        sp.ds = t.xstep;
        sp.ss = src.col;
        sp.n = int(w);
        SpanFn fn = SelectSpan(f, k, sp.ds == 1 && sp.ss == 1, da0 != nullptr);
        for (std::int64_t r = 0; r < h; ++r) {
            sp.d = d0 + r * t.ystep;
            sp.s = src.px + r * src.row;
            sp.sa = src.alpha ? src.alpha + r * src.row : nullptr;
            sp.da = da0 ? da0 + r * t.w : nullptr;
            fn(sp);
        }
    } else {
        sp.ds = t.ystep;
        sp.ss = src.row;
        sp.n = int(h);
        SpanFn fn = SelectSpan(f, k, sp.ds == 1 && sp.ss == 1, false);
        for (std::int64_t c = 0; c < w; ++c) {
            sp.d = d0 + c * t.xstep;
            sp.s = src.px + c * src.col;
            sp.sa = src.alpha ? src.alpha + c * src.col : nullptr;
            sp.da = nullptr;
            fn(sp);
        }
    }
}

}  // namespace lumo::gfx::detail
