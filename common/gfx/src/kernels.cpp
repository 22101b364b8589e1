#include "kernels.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>
#include <vector>

#include "target.h"

#include <immintrin.h>

namespace lumo::gfx::detail {
namespace {

// ---------------------------------------------------------------------------------------------
// Scalar loops: strided spans that cannot be gathered (none on today's targets), spans that also
// write a target alpha plane, and the tails of the vector loops.

template <class F>
[[gnu::always_inline]] inline std::uint32_t blend(std::uint32_t s, std::uint32_t d,
                                                  std::uint32_t a) {
    std::uint32_t ss = (s | (s << F::S)) & F::M;
    std::uint32_t sd = (d | (d << F::S)) & F::M;
    std::uint32_t r = (sd + (((ss - sd) * a) >> 5)) & F::M;
    return (r | (r >> F::S)) & 0xFFFF;
}

template <class F>
[[gnu::always_inline]] inline std::uint32_t darken(std::uint32_t d, std::uint32_t a) {
    std::uint32_t r = ((a * ((d | (d << F::S)) & F::M)) >> 5) & F::M;
    return (r | (r >> F::S)) & 0xFFFF;
}

// C: both steps are 1. DA: write effective alphas to the target's plane at drawn pixels.
template <class F, Kind K, bool C, bool DA>
[[gnu::always_inline]] inline void span(const Span& sp) {
    std::uint16_t* __restrict d = sp.d;
    const std::uint16_t* __restrict s = sp.s;
    const std::uint8_t* __restrict sa = sp.sa;
    std::uint8_t* __restrict da = sp.da;
    const std::ptrdiff_t ds = C ? 1 : sp.ds, ss = C ? 1 : sp.ss;
    const std::uint32_t a = sp.a, key = sp.key;
    const int n = sp.n;
    for (int i = 0; i < n; ++i) {
        const std::ptrdiff_t di = C ? i : i * ds, si = C ? i : i * ss;
        const std::uint32_t sv = s[si];
        const std::uint32_t dv = d[di];
        if constexpr (K == Kind::Copy) {
            d[di] = std::uint16_t(sv);
            if constexpr (DA) da[di] = 32;
        } else if constexpr (K == Kind::Dim) {
            d[di] = std::uint16_t(darken<F>(sv, a));
        } else if constexpr (K == Kind::Const) {
            d[di] = std::uint16_t(blend<F>(sv, dv, a));
            if constexpr (DA) da[di] = std::uint8_t(a);
        } else if constexpr (K == Kind::Key) {
            d[di] = std::uint16_t(sv != key ? sv : dv);
            if constexpr (DA) {
                if (sv != key) da[di] = 32;
            }
        } else if constexpr (K == Kind::KeyConst) {
            const std::uint32_t b = blend<F>(sv, dv, a);
            d[di] = std::uint16_t(sv != key ? b : dv);
            if constexpr (DA) {
                if (sv != key) da[di] = std::uint8_t(a);
            }
        } else {
            std::uint32_t pa = sa[si];
            if constexpr (K != Kind::Alpha) pa = (pa * a) >> 5;
            const std::uint32_t b = blend<F>(sv, dv, pa);
            if constexpr (K == Kind::AlphaKey) {
                d[di] = std::uint16_t(sv != key ? b : dv);
                if constexpr (DA) {
                    if (sv != key && pa != 0) da[di] = std::uint8_t(pa);
                }
            } else {
                d[di] = std::uint16_t(b);
                if constexpr (DA) {
                    if (pa != 0) da[di] = std::uint8_t(pa);
                }
            }
        }
    }
}

template <class F, bool C, bool DA>
SpanFn pick(Kind k) {
    switch (k) {
    case Kind::Copy: return span<F, Kind::Copy, C, DA>;
    case Kind::Const: return span<F, Kind::Const, C, DA>;
    case Kind::Key: return span<F, Kind::Key, C, DA>;
    case Kind::KeyConst: return span<F, Kind::KeyConst, C, DA>;
    case Kind::Alpha: return span<F, Kind::Alpha, C, DA>;
    case Kind::AlphaConst: return span<F, Kind::AlphaConst, C, DA>;
    case Kind::AlphaKey: return span<F, Kind::AlphaKey, C, DA>;
    case Kind::Dim: return span<F, Kind::Dim, C, DA>;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The vector loops, built for the baseline and again for AVX2.

#if defined(__GNUC__)
// Vectors never cross a call between the two builds, so their calling convention is moot.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

constexpr std::uint64_t kOpaqueBytes = 0x2020202020202020ull;  // eight alphas of 32

template <class F>
struct Layout {
    static constexpr bool k565 = F::S == 16;
    static constexpr int red = k565 ? 11 : 10;  // the top field's shift
    static constexpr std::uint16_t green_bits = k565 ? 0x07E0 : 0x03E0;
    static constexpr std::uint16_t red_bits = k565 ? 0xF800 : 0x7C00;
};

#define LUMO_LANES_NS sse2
#define LUMO_LANES_AVX2 0
#include "span_lanes.inc"
#undef LUMO_LANES_NS
#undef LUMO_LANES_AVX2

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#define LUMO_LANES_NS avx2
#define LUMO_LANES_AVX2 1
#include "span_lanes.inc"
#undef LUMO_LANES_NS
#undef LUMO_LANES_AVX2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

template <class F, Kind K>
void reference_span(const Span& sp) {
    ReferenceSpan(std::is_same_v<F, Fmt565> ? kRgb565 : kRgb555, K, sp);
}

#define LUMO_SPAN_ROW(fn, F)                                                                  \
    {fn<F, Kind::Copy>, fn<F, Kind::Const>, fn<F, Kind::Key>, fn<F, Kind::KeyConst>,          \
     fn<F, Kind::Alpha>, fn<F, Kind::AlphaConst>, fn<F, Kind::AlphaKey>, fn<F, Kind::Dim>}

// [isa][format][kind]
constexpr SpanFn kContiguous[3][2][8] = {
    {LUMO_SPAN_ROW(reference_span, Fmt565), LUMO_SPAN_ROW(reference_span, Fmt555)},
    {LUMO_SPAN_ROW(sse2::vspan, Fmt565), LUMO_SPAN_ROW(sse2::vspan, Fmt555)},
    {LUMO_SPAN_ROW(avx2::vspan, Fmt565), LUMO_SPAN_ROW(avx2::vspan, Fmt555)},
};

bool Is555(const PixelFormat& f) { return f.fold_shift == Fmt555::S; }

std::atomic<Isa>& ChosenIsa() {
    static std::atomic<Isa> isa{HaveAvx2() ? Isa::Avx2 : Isa::Sse2};
    return isa;
}

// Lines whose source runs another way than the destination are gathered into a scratch block
// this many lines by this many pixels at a time: a turned source then uses whole cache lines of
// pixels while they are at hand, and the block stays in the first-level cache.
constexpr int kBlock = 32;
constexpr int kChunk = 4096;

struct Scratch {
    std::vector<std::uint16_t> px;
    std::vector<std::uint8_t> alpha;
};

Scratch& LineScratch() {
    thread_local Scratch scratch;
    return scratch;
}

template <class T>
void Gather(Isa isa, T* out, const T* s, int n, int m, std::ptrdiff_t sstep, std::ptrdiff_t sline,
            bool reversed) {
    if (isa == Isa::Avx2) avx2::gather(out, s, n, m, sstep, sline, reversed);
    else sse2::gather(out, s, n, m, sstep, sline, reversed);
}

}  // namespace

bool HaveAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

void UseIsa(Isa isa) {
    if (isa == Isa::Avx2 && !HaveAvx2()) isa = Isa::Sse2;
    ChosenIsa().store(isa, std::memory_order_relaxed);
}

Isa CurrentIsa() { return ChosenIsa().load(std::memory_order_relaxed); }

SpanFn ContiguousSpan(const PixelFormat& f, Kind k, Isa isa) {
    if (isa == Isa::Avx2 && !HaveAvx2()) isa = Isa::Sse2;
    return kContiguous[int(isa)][Is555(f)][int(k)];
}

SpanFn SelectSpan(const PixelFormat& f, Kind k, bool contiguous, bool dst_alpha) {
    if (dst_alpha) {
        if (Is555(f)) return contiguous ? pick<Fmt555, true, true>(k) : pick<Fmt555, false, true>(k);
        return contiguous ? pick<Fmt565, true, true>(k) : pick<Fmt565, false, true>(k);
    }
    if (contiguous) return ContiguousSpan(f, k, CurrentIsa());
    return Is555(f) ? pick<Fmt555, false, false>(k) : pick<Fmt565, false, false>(k);
}

void ReferenceSpan(const PixelFormat& f, Kind k, const Span& sp) {
    for (int i = 0; i < sp.n; ++i) {
        std::uint16_t& d = sp.d[i * sp.ds];
        const std::uint16_t s = sp.s[i * sp.ss];
        std::uint8_t* da = sp.da ? &sp.da[i * sp.ds] : nullptr;
        int a = int(sp.a);
        bool draw = true;
        switch (k) {
        case Kind::Copy: a = 32; break;
        case Kind::Dim: d = Darken(f, s, a); continue;
        case Kind::Const: break;
        case Kind::Key: draw = s != sp.key; a = 32; break;
        case Kind::KeyConst: draw = s != sp.key; break;
        case Kind::Alpha: a = sp.sa[i * sp.ss]; break;
        case Kind::AlphaConst: a = sp.sa[i * sp.ss] * a >> 5; break;
        case Kind::AlphaKey:
            a = sp.sa[i * sp.ss] * a >> 5;
            draw = s != sp.key;
            break;
        }
        if (!draw) continue;
        d = a == 32 ? s : Blend(f, s, d, a);
        bool alpha_drawn = k == Kind::Copy || k == Kind::Const || k == Kind::Key ||
                           k == Kind::KeyConst || a != 0;
        if (da && alpha_drawn) *da = std::uint8_t(a);
    }
}

void Run(const Target& t, const PixelFormat& f, Kind k, std::uint32_t a, std::uint32_t key,
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

    std::uint16_t* const d0 = t.base + x * t.xstep + y * t.ystep;
    std::uint8_t* const da0 = t.alpha ? t.alpha + y * t.w + x : nullptr;
    // Lines run along the axis that is contiguous in memory (Image targets: always rows).
    const bool rows = t.xstep == 1 || t.xstep == -1 || !(t.ystep == 1 || t.ystep == -1);
    const int n = int(rows ? w : h), count = int(rows ? h : w);
    const std::ptrdiff_t dstep = rows ? t.xstep : t.ystep, dline = rows ? t.ystep : t.xstep;
    const std::ptrdiff_t sstep = rows ? src.col : src.row, sline = rows ? src.row : src.col;
    const std::ptrdiff_t daline = rows ? t.w : 1;

    Span sp{};
    sp.a = a;
    sp.key = key;
    sp.n = n;
    const Isa isa = CurrentIsa();
    if (isa == Isa::Reference || da0 || (dstep != 1 && dstep != -1)) {
        // Line by line with the steps as they are.
        const SpanFn fn = SelectSpan(f, k, dstep == 1 && sstep == 1, da0 != nullptr);
        sp.ds = dstep;
        sp.ss = sstep;
        for (int l = 0; l < count; ++l) {
            sp.d = d0 + l * dline;
            sp.s = src.px + l * sline;
            sp.sa = src.alpha ? src.alpha + l * sline : nullptr;
            sp.da = da0 ? da0 + l * daline : nullptr;
            if (isa == Isa::Reference) ReferenceSpan(f, k, sp);
            else fn(sp);
        }
        return;
    }

    const SpanFn fn = ContiguousSpan(f, k, isa);
    sp.ds = sp.ss = 1;
    if (dstep == 1 && sstep == 1) {
        for (int l = 0; l < count; ++l) {
            sp.d = d0 + l * dline;
            sp.s = src.px + l * sline;
            sp.sa = src.alpha ? src.alpha + l * sline : nullptr;
            fn(sp);
        }
        return;
    }

    // The destination runs backwards or the source runs another way: the source is gathered in
    // the destination's memory order and each line drawn forwards from its lowest address.
    const bool reversed = dstep < 0;
    const std::ptrdiff_t back = reversed ? n - 1 : 0;
    Scratch& sc = LineScratch();
    const bool one_colour = sstep == 0 && sline == 0;
    const std::size_t need = one_colour ? std::size_t(n) : std::size_t(kBlock) * kChunk;
    if (sc.px.size() < need) sc.px.resize(need);
    if (src.alpha && sc.alpha.size() < need) sc.alpha.resize(need);
    if (one_colour) {
        // A solid fill: one line of the colour serves every line.
        std::fill_n(sc.px.begin(), n, src.px[0]);
        if (src.alpha) std::fill_n(sc.alpha.begin(), n, src.alpha[0]);
        sp.s = sc.px.data();
        sp.sa = src.alpha ? sc.alpha.data() : nullptr;
        sp.solid = true;
        for (int l = 0; l < count; ++l) {
            sp.d = d0 + l * dline - back;
            fn(sp);
        }
        return;
    }
    for (int l0 = 0; l0 < count; l0 += kBlock) {
        const int m = std::min(kBlock, count - l0);
        for (int p0 = 0; p0 < n; p0 += kChunk) {
            // Positions p0 .. p0 + c of each line; backwards they end the line's memory.
            const int c = std::min(kChunk, n - p0);
            const std::ptrdiff_t at = reversed ? n - p0 - c : p0;
            const std::ptrdiff_t from = l0 * sline + p0 * sstep;
            Gather(isa, sc.px.data(), src.px + from, c, m, sstep, sline, reversed);
            if (src.alpha) Gather(isa, sc.alpha.data(), src.alpha + from, c, m, sstep, sline, reversed);
            sp.n = c;
            for (int j = 0; j < m; ++j) {
                sp.d = d0 + (l0 + j) * dline - back + at;
                sp.s = sc.px.data() + std::ptrdiff_t(j) * c;
                sp.sa = src.alpha ? sc.alpha.data() + std::ptrdiff_t(j) * c : nullptr;
                fn(sp);
            }
        }
    }
}

}  // namespace lumo::gfx::detail
