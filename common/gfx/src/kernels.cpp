#include "kernels.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>
#include <vector>

#include "target.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Contiguous loops in 16-bit lanes, 16 pixels a step.
//
// Per field the blend is d + ((s - d) × a >> 5) with an arithmetic shift. The spread trick in
// pixel.h computes exactly this: each field's remainder lands in the guard bits below the next
// field and the blended field never leaves its range, so nothing carries between fields. Every
// product fits a signed 16-bit lane (63 × 32), so one 16-bit multiply per field serves 16 pixels
// where the spread form needs one 32-bit multiply per pixel. The tests compare both for every
// field value and alpha.

#if defined(__GNUC__) && !defined(__clang__)
// Vectors never cross a call here (every helper is inlined), so their calling convention is moot.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

typedef std::uint16_t U16 __attribute__((vector_size(32)));
typedef std::int16_t I16 __attribute__((vector_size(32)));
typedef std::uint8_t U8 __attribute__((vector_size(16)));
typedef std::uint64_t U64 __attribute__((vector_size(32)));
constexpr int kLanes = 16;
constexpr std::uint64_t kOpaqueBytes = 0x2020202020202020ull;  // eight alphas of 32

template <class F>
struct Layout {
    static constexpr bool k565 = F::S == 16;
    static constexpr int red = k565 ? 11 : 10;
    static constexpr std::uint16_t green = k565 ? 63 : 31;
};

[[gnu::always_inline]] inline U16 load(const std::uint16_t* p) {
    U16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline void store(std::uint16_t* p, const U16& v) {
    std::memcpy(p, &v, sizeof v);
}

// Blends every field of s over d with the lane's alpha.
template <class F>
[[gnu::always_inline]] inline U16 vblend(const U16& s, const U16& d, const I16& a) {
    using L = Layout<F>;
    const I16 b = ((I16)(s & 31) - (I16)(d & 31)) * a >> 5;
    // For the upper fields, (x & -32) is floor(x / 32) × 32: the field's step already shifted.
    const I16 g = ((I16)((s >> 5) & L::green) - (I16)((d >> 5) & L::green)) * a & -32;
    const I16 r = ((I16)((s >> L::red) & 31) - (I16)((d >> L::red) & 31)) * a & -32;
    // Each blended field stays in its range, so adding the signed changes to d is exact.
    U16 out = d + ((U16)b + (U16)g + ((U16)r << (L::red - 5)));
    if constexpr (!L::k565) out &= 0x7FFF;
    return out;
}

template <class F>
[[gnu::always_inline]] inline U16 vdarken(const U16& s, const I16& a) {
    using L = Layout<F>;
    const I16 b = (I16)(s & 31) * a >> 5;
    const I16 g = (I16)((s >> 5) & L::green) * a & -32;
    const I16 r = (I16)((s >> L::red) & 31) * a & -32;
    return (U16)b | (U16)g | ((U16)r << (L::red - 5));
}

[[gnu::always_inline]] inline bool all_set(const I16& m) {
    const U64 q = (U64)m;
    return (q[0] & q[1] & q[2] & q[3]) == ~std::uint64_t(0);
}

template <class F, Kind K>
[[gnu::always_inline]] inline void vspan(const Span& sp) {
    std::uint16_t* d = sp.d;
    const std::uint16_t* s = sp.s;
    const std::uint8_t* sa = sp.sa;
    const int n = sp.n;
    if constexpr (K == Kind::Copy) {
        std::memcpy(d, s, std::size_t(n) * 2);
        return;
    }
    const I16 av = I16{} + std::int16_t(sp.a);
    const U16 keyv = U16{} + std::uint16_t(sp.key);
    constexpr bool plane = K == Kind::Alpha || K == Kind::AlphaConst || K == Kind::AlphaKey;
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const U16 sv = load(s + i);
        if constexpr (K == Kind::Dim) {
            store(d + i, vdarken<F>(sv, av));
            continue;
        }
        if constexpr (plane) {
            // Whole runs of invisible pixels are left alone, opaque ones stored.
            std::uint64_t lo, hi;
            std::memcpy(&lo, sa + i, 8);
            std::memcpy(&hi, sa + i + 8, 8);
            if ((lo | hi) == 0) continue;
            if constexpr (K == Kind::Alpha) {
                if (lo == kOpaqueBytes && hi == kOpaqueBytes) {
                    store(d + i, sv);
                    continue;
                }
            }
        }
        const U16 dv = load(d + i);
        if constexpr (K == Kind::Const) {
            store(d + i, vblend<F>(sv, dv, av));
        } else if constexpr (K == Kind::Key) {
            const U16 m = (U16)(sv == keyv);
            store(d + i, (sv & ~m) | (dv & m));
        } else if constexpr (K == Kind::KeyConst) {
            const I16 m = (I16)(sv == keyv);
            if (all_set(m)) continue;
            store(d + i, (vblend<F>(sv, dv, av) & ~(U16)m) | (dv & (U16)m));
        } else {
            U8 ab;
            std::memcpy(&ab, sa + i, sizeof ab);
            I16 pa = __builtin_convertvector(ab, I16);
            if constexpr (K != Kind::Alpha) pa = pa * av >> 5;
            const U16 out = vblend<F>(sv, dv, pa);
            if constexpr (K == Kind::AlphaKey) {
                const U16 m = (U16)(sv == keyv);
                store(d + i, (out & ~m) | (dv & m));
            } else {
                store(d + i, out);
            }
        }
    }
    if (i < n) {
        Span rest = sp;
        rest.d += i;
        rest.s += i;
        if (rest.sa) rest.sa += i;
        rest.n = n - i;
        span<F, K, true, false>(rest);
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define LUMO_AVX2 __attribute__((target("avx2")))
#else
#define LUMO_AVX2
#endif

// The same loop body built twice: for the baseline (SSE2) and for AVX2.
#define LUMO_VEC_SPAN(F, K)                                                               \
    void sse2_##F##_##K(const Span& sp) { vspan<F, Kind::K>(sp); }                        \
    LUMO_AVX2 void avx2_##F##_##K(const Span& sp) { vspan<F, Kind::K>(sp); }              \
    void ref_##F##_##K(const Span& sp) {                                                  \
        ReferenceSpan(std::is_same_v<F, Fmt565> ? kRgb565 : kRgb555, Kind::K, sp);         \
    }
#define LUMO_VEC_SPANS(F)        \
    LUMO_VEC_SPAN(F, Copy)       \
    LUMO_VEC_SPAN(F, Const)      \
    LUMO_VEC_SPAN(F, Key)        \
    LUMO_VEC_SPAN(F, KeyConst)   \
    LUMO_VEC_SPAN(F, Alpha)      \
    LUMO_VEC_SPAN(F, AlphaConst) \
    LUMO_VEC_SPAN(F, AlphaKey)   \
    LUMO_VEC_SPAN(F, Dim)

LUMO_VEC_SPANS(Fmt565)
LUMO_VEC_SPANS(Fmt555)

#define LUMO_VEC_ROW(P, F)                                                                   \
    {P##_##F##_Copy, P##_##F##_Const, P##_##F##_Key, P##_##F##_KeyConst, P##_##F##_Alpha, \
     P##_##F##_AlphaConst, P##_##F##_AlphaKey, P##_##F##_Dim}

// [isa][format][kind]
constexpr SpanFn kContiguous[3][2][8] = {
    {LUMO_VEC_ROW(ref, Fmt565), LUMO_VEC_ROW(ref, Fmt555)},
    {LUMO_VEC_ROW(sse2, Fmt565), LUMO_VEC_ROW(sse2, Fmt555)},
    {LUMO_VEC_ROW(avx2, Fmt565), LUMO_VEC_ROW(avx2, Fmt555)},
};

bool Is555(const PixelFormat& f) { return f.fold_shift == Fmt555::S; }

std::atomic<Isa>& ChosenIsa() {
    static std::atomic<Isa> isa{HaveAvx2() ? Isa::Avx2 : Isa::Sse2};
    return isa;
}

// ---------------------------------------------------------------------------------------------
// Gathering lines whose source runs another way than the destination into a scratch block.

constexpr int kBlock = 16;  // lines gathered at a time

struct Scratch {
    std::vector<std::uint16_t> px;
    std::vector<std::uint8_t> alpha;
};

Scratch& LineScratch() {
    thread_local Scratch scratch;
    return scratch;
}

#if defined(__SSE2__)
// r[k] holds row k of an 8 × 8 block of pixels; afterwards r[k] holds column k.
inline void Transpose8x8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4), r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5), r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6), r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7), r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The same for 8 × 8 bytes held in the low halves; column pairs come back in r[0..3].
inline void Transpose8x8Bytes(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi8(r[0], r[1]), a1 = _mm_unpacklo_epi8(r[2], r[3]);
    const __m128i a2 = _mm_unpacklo_epi8(r[4], r[5]), a3 = _mm_unpacklo_epi8(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    r[0] = _mm_unpacklo_epi32(b0, b2), r[1] = _mm_unpackhi_epi32(b0, b2);
    r[2] = _mm_unpacklo_epi32(b1, b3), r[3] = _mm_unpackhi_epi32(b1, b3);
}

inline __m128i Reverse8x16(__m128i v) {
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
}

inline __m128i Reverse16x8(__m128i v) {
    return Reverse8x16(_mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));
}
#endif

// out[j × n + q] for lines j < m and positions p < n, q = p or (reversed) n − 1 − p, becomes
// s[j × sline + p × sstep].
template <class T>
void Gather(T* out, const T* s, int n, int m, std::ptrdiff_t sstep, std::ptrdiff_t sline,
            bool reversed) {
    int j = 0;
#if defined(__SSE2__)
    if (sline == 1 && sstep != 0) {
        // A turned display: lines are neighbouring source pixels. 8 × 8 blocks are transposed.
        for (; j + 8 <= m; j += 8) {
            int p = 0;
            for (; p + 8 <= n; p += 8) {
                __m128i r[8];
                for (int k = 0; k < 8; ++k) {
                    const T* row = s + std::ptrdiff_t(p + (reversed ? 7 - k : k)) * sstep + j;
                    r[k] = sizeof(T) == 2 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row))
                                          : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row));
                }
                T* o = out + std::ptrdiff_t(j) * n + (reversed ? n - p - 8 : p);
                if constexpr (sizeof(T) == 2) {
                    Transpose8x8(r);
                    for (int k = 0; k < 8; ++k)
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + std::ptrdiff_t(k) * n), r[k]);
                } else {
                    Transpose8x8Bytes(r);
                    for (int k = 0; k < 4; ++k) {
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + std::ptrdiff_t(2 * k) * n), r[k]);
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + std::ptrdiff_t(2 * k + 1) * n),
                                         _mm_srli_si128(r[k], 8));
                    }
                }
            }
            for (int k = 0; k < 8; ++k)
                for (int q = p; q < n; ++q)
                    out[std::ptrdiff_t(j + k) * n + (reversed ? n - 1 - q : q)] =
                        s[std::ptrdiff_t(q) * sstep + j + k];
        }
    } else if (sstep == 1 && reversed) {
        // Half a turn: each line is its source backwards.
        constexpr int kPer = 16 / int(sizeof(T));
        for (; j < m; ++j) {
            const T* src = s + std::ptrdiff_t(j) * sline;
            T* o = out + std::ptrdiff_t(j) * n;
            int p = 0;
            for (; p + kPer <= n; p += kPer) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
                v = sizeof(T) == 2 ? Reverse8x16(v) : Reverse16x8(v);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + n - p - kPer), v);
            }
            for (; p < n; ++p) o[n - 1 - p] = src[p];
        }
    }
#endif
    if (sstep == 0) {
        for (; j < m; ++j) std::fill_n(out + std::ptrdiff_t(j) * n, n, s[std::ptrdiff_t(j) * sline]);
    }
    for (; j < m; ++j)
        for (int p = 0; p < n; ++p)
            out[std::ptrdiff_t(j) * n + (reversed ? n - 1 - p : p)] =
                s[std::ptrdiff_t(j) * sline + std::ptrdiff_t(p) * sstep];
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
    const std::size_t need = std::size_t(n) * (one_colour ? 1 : kBlock);
    if (sc.px.size() < need) sc.px.resize(need);
    if (src.alpha && sc.alpha.size() < need) sc.alpha.resize(need);
    if (one_colour) {
        // A solid fill: one line of the colour serves every line.
        std::fill_n(sc.px.begin(), n, src.px[0]);
        if (src.alpha) std::fill_n(sc.alpha.begin(), n, src.alpha[0]);
        sp.s = sc.px.data();
        sp.sa = src.alpha ? sc.alpha.data() : nullptr;
        for (int l = 0; l < count; ++l) {
            sp.d = d0 + l * dline - back;
            fn(sp);
        }
        return;
    }
    for (int l0 = 0; l0 < count; l0 += kBlock) {
        const int m = std::min(kBlock, count - l0);
        Gather(sc.px.data(), src.px + l0 * sline, n, m, sstep, sline, reversed);
        if (src.alpha) Gather(sc.alpha.data(), src.alpha + l0 * sline, n, m, sstep, sline, reversed);
        for (int j = 0; j < m; ++j) {
            sp.d = d0 + (l0 + j) * dline - back;
            sp.s = sc.px.data() + std::ptrdiff_t(j) * n;
            sp.sa = src.alpha ? sc.alpha.data() + std::ptrdiff_t(j) * n : nullptr;
            fn(sp);
        }
    }
}

}  // namespace lumo::gfx::detail
