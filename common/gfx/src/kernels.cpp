#include "kernels.h"

#include <type_traits>

namespace lumo::gfx::detail {
namespace {

#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define LUMO_HOT __attribute__((target_clones("avx2", "default")))
#else
#define LUMO_HOT
#endif

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

// The contiguous screen loops, built for AVX2 as well and picked at run time.
#define LUMO_HOT_SPAN(F, K)                                                         \
    LUMO_HOT void hot_##F##_##K(const Span& sp) { span<F, Kind::K, true, false>(sp); }
#define LUMO_HOT_SPANS(F)       \
    LUMO_HOT_SPAN(F, Copy)      \
    LUMO_HOT_SPAN(F, Const)     \
    LUMO_HOT_SPAN(F, Key)       \
    LUMO_HOT_SPAN(F, KeyConst)  \
    LUMO_HOT_SPAN(F, Alpha)     \
    LUMO_HOT_SPAN(F, AlphaConst) \
    LUMO_HOT_SPAN(F, AlphaKey)  \
    LUMO_HOT_SPAN(F, Dim)

LUMO_HOT_SPANS(Fmt565)
LUMO_HOT_SPANS(Fmt555)

#define LUMO_HOT_ROW(F) \
    {hot_##F##_Copy, hot_##F##_Const, hot_##F##_Key, hot_##F##_KeyConst, hot_##F##_Alpha, \
     hot_##F##_AlphaConst, hot_##F##_AlphaKey, hot_##F##_Dim}

constexpr SpanFn kHot[2][8] = {LUMO_HOT_ROW(Fmt565), LUMO_HOT_ROW(Fmt555)};

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

template <class F>
SpanFn pick_format(Kind k, bool contiguous, bool dst_alpha) {
    if (dst_alpha) return contiguous ? pick<F, true, true>(k) : pick<F, false, true>(k);
    return contiguous ? kHot[std::is_same_v<F, Fmt555>][int(k)] : pick<F, false, false>(k);
}

}  // namespace

SpanFn SelectSpan(const PixelFormat& f, Kind k, bool contiguous, bool dst_alpha) {
    return f.fold_shift == Fmt555::S ? pick_format<Fmt555>(k, contiguous, dst_alpha)
                                     : pick_format<Fmt565>(k, contiguous, dst_alpha);
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

}  // namespace lumo::gfx::detail
