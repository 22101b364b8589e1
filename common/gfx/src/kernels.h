#pragma once
// The span loops behind every drawing call: one loop per case, chosen once per call.
#include <cstddef>
#include <cstdint>

#include "lumo/gfx/pixel.h"

namespace lumo::gfx::detail {

enum class Kind {
    Copy,        // store
    Const,       // blend with the call's alpha
    Key,         // store unless equal to the key
    KeyConst,    // blend with the call's alpha unless equal to the key
    Alpha,       // blend with the pixel's alpha
    AlphaConst,  // blend with pixel alpha × call alpha / 32
    AlphaKey,    // as AlphaConst, skipping the key colour and invisible pixels
    Dim,         // store the source darkened by the call's alpha
};

// One run of n pixels. ds and ss step the destination and source (in pixels); the source alpha
// steps with the source, the destination alpha (compositing into an Image) with the destination.
struct Span {
    std::uint16_t* d;
    const std::uint16_t* s;
    const std::uint8_t* sa;  // source alpha plane, or null
    std::uint8_t* da;        // target alpha plane to receive effective alphas, or null
    std::ptrdiff_t ds;
    std::ptrdiff_t ss;
    int n;
    std::uint32_t a;    // call alpha 0..32
    std::uint32_t key;  // key colour
    // Every source pixel is s[0] (a solid fill): the contiguous loops keep it in a register.
    bool solid = false;
};

using SpanFn = void (*)(const Span&);

// Which build of the contiguous loops runs: the per-pixel reference, 16-bit lanes on SSE2
// (every x86-64), or the same on AVX2. The best the processor has is chosen once.
enum class Isa { Reference, Sse2, Avx2 };
bool HaveAvx2();
// For tests: runs every later drawing call on `isa` (one the processor has).
void UseIsa(Isa isa);
Isa CurrentIsa();

// The loop for this format and case; contiguous (ds = ss = 1) spans get the vectorised ones.
SpanFn SelectSpan(const PixelFormat& f, Kind k, bool contiguous, bool dst_alpha);
// The contiguous loop of one build, without a destination alpha plane.
SpanFn ContiguousSpan(const PixelFormat& f, Kind k, Isa isa);

// The plain per-pixel reference every loop must equal bit for bit.
void ReferenceSpan(const PixelFormat& f, Kind k, const Span& sp);

}  // namespace lumo::gfx::detail
