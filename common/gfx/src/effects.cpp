#include "lumo/gfx/effects.h"

#include <algorithm>
#include <cstring>

#include "target.h"

namespace lumo::gfx {
namespace {

void Solid(Screen& s, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h,
           std::uint16_t colour, int alpha) {
    alpha = std::clamp(alpha, 0, kOpaque);
    if (alpha == 0) return;
    // One source pixel repeated over the whole rectangle.
    detail::Source src{&colour, nullptr, 0, 0};
    detail::Run(detail::ScreenTarget(s), s.format,
                alpha == kOpaque ? detail::Kind::Copy : detail::Kind::Const, std::uint32_t(alpha),
                0, src, x, y, w, h);
}

void DarkenAll(Screen& s, int a) {
    const std::uint32_t m = s.format.blend_mask;
    const int shift = s.format.fold_shift;
    std::uint16_t* p = s.back_buffer.get();
    for (std::size_t i = 0; i < s.pixel_count; ++i) p[i] = Darken(m, shift, p[i], std::uint32_t(a));
}

}  // namespace

void ClearScreen(Screen& s, std::uint8_t byte) {
    if (s.back_buffer) std::memset(s.back_buffer.get(), byte, s.byte_size);
}

bool FillRect(Screen& s, int x1, int y1, int x2, int y2, int alpha) {
    if (!s.brush) {
        s.last_error = kErrorNoBrush;
        return false;
    }
    std::int64_t l = std::min(x1, x2), r = std::max(x1, x2);
    std::int64_t t = std::min(y1, y2), b = std::max(y1, y2);
    Solid(s, l, t, r - l, b - t, s.brush->colour, alpha);
    return true;
}

void DrawHLine(Screen& s, int x1, int y, int x2, std::uint16_t colour, int alpha) {
    if (y < 0 || y >= s.logical_height) return;
    std::int64_t l = std::min(x1, x2), r = std::max(x1, x2);
    Solid(s, l, y, r - l + 1, 1, colour, alpha);
}

void GreyScreen(Screen& s) {
    const PixelFormat& f = s.format;
    const int green_low = f.green_reduction == 2 ? 1 : 0;  // 6-bit green keeps a low bit
    std::uint16_t* p = s.back_buffer.get();
    for (std::size_t i = 0; i < s.pixel_count; ++i) {
        const unsigned v = p[i];
        const unsigned r = (v >> f.red_shift) & 0x1F, b = v & 0x1F;
        const unsigned g = ((v & f.green_mask) >> 5) >> green_low;
        const unsigned grey = (g + r + b) / 3;
        p[i] = std::uint16_t(grey << f.red_shift | (grey << green_low) << 5 | grey);
    }
}

int FadeScreenOut(Screen& s, int step) {
    if (!s.back_buffer) return 0;
    if (step <= 0) step = 1;
    FrameClock& clock = s.clock ? *s.clock : SystemFrameClock();
    int alpha = kFadeStartAlpha;
    int passes = 0;
    for (;;) {
        const std::uint32_t start = clock.now_ms();
        ++passes;
        DarkenAll(s, alpha);
        PresentScreen(s);
        if (kFadeStartAlpha - step * passes < kFadeLowestAlpha) break;
        const std::uint32_t spent = clock.now_ms() - start;
        if (spent < kFadePassMs) clock.sleep_ms(kFadePassMs - spent);
        alpha -= step;
        if (alpha <= kFadeLowestAlpha) break;
    }
    ClearScreen(s, 0);
    PresentScreen(s);
    return passes;
}

}  // namespace lumo::gfx
