// The blending and darkening arithmetic, and every span loop against the plain reference loop.
#include <algorithm>
#include <random>
#include <vector>

#include "kernels.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

// The formula as written: 32-bit fields spread out, signed arithmetic, shift rounding down.
std::uint16_t BlendByFormula(const PixelFormat& f, std::uint16_t s, std::uint16_t d, int a) {
    auto spread = [&](std::int64_t x) { return std::int64_t(f.blend_mask) & (x | (x << f.fold_shift)); };
    std::int64_t ss = spread(s), sd = spread(d);
    std::int64_t t = (ss - sd) * a;
    std::int64_t r = std::int64_t(f.blend_mask) & (sd + (t >> 5));
    return std::uint16_t((r | (r >> f.fold_shift)) & 0xFFFF);
}

// Per field, what the blend means: d + (s - d) × a / 32 rounded down.
std::uint16_t BlendByFields(const PixelFormat& f, std::uint16_t s, std::uint16_t d, int a) {
    const int gbits = 8 - f.green_reduction;
    auto field = [&](int shift, int bits) {
        int sv = (s >> shift) & ((1 << bits) - 1), dv = (d >> shift) & ((1 << bits) - 1);
        int diff = (sv - dv) * a;
        int q = diff >= 0 ? diff / 32 : -((-diff + 31) / 32);
        return (dv + q) << shift;
    };
    return std::uint16_t(field(f.red_shift, 5) | field(5, gbits) | field(0, 5));
}

class FormatTest : public ::testing::TestWithParam<PixelFormat> {};

// Defined below: every pair of field values in one pair of pixel lists.
void AllFieldPairs(const PixelFormat& f, std::vector<std::uint16_t>& src,
                   std::vector<std::uint16_t>& dst);

TEST_P(FormatTest, BlendMatchesTheFormulaAndThePerFieldMeaningForEveryFieldPairAndAlpha) {
    const PixelFormat f = GetParam();
    std::vector<std::uint16_t> src, dst;
    AllFieldPairs(f, src, dst);
    for (std::size_t i = 0; i < src.size(); ++i) {
        const std::uint16_t s = src[i], d = dst[i];
        for (int a = 0; a <= 32; ++a) {
            ASSERT_EQ(Blend(f, s, d, a), BlendByFormula(f, s, d, a)) << s << " " << d << " " << a;
            ASSERT_EQ(Blend(f, s, d, a), BlendByFields(f, s, d, a)) << s << " " << d << " " << a;
        }
        ASSERT_EQ(Blend(f, s, d, 32), s);
        ASSERT_EQ(Blend(f, s, d, 0), d);
    }
}

TEST_P(FormatTest, DarkeningScalesEachFieldRoundingDown) {
    const PixelFormat f = GetParam();
    const int gbits = 8 - f.green_reduction;
    std::mt19937 rng(11);
    for (int i = 0; i < 4000; ++i) {
        auto d = std::uint16_t(rng() & (f == kRgb565 ? 0xFFFF : 0x7FFF));
        for (int a = 0; a <= 32; ++a) {
            auto field = [&](int shift, int bits) { return (((d >> shift) & ((1 << bits) - 1)) * a / 32) << shift; };
            ASSERT_EQ(Darken(f, d, a), field(f.red_shift, 5) | field(5, gbits) | field(0, 5));
        }
    }
}

// The builds of the contiguous loops this processor can run, besides the reference.
std::vector<detail::Isa> FastBuilds() {
    std::vector<detail::Isa> isas{detail::Isa::Sse2};
    if (detail::HaveAvx2()) isas.push_back(detail::Isa::Avx2);
    return isas;
}

const char* Name(detail::Isa isa) { return isa == detail::Isa::Avx2 ? "avx2" : "sse2"; }

// Every pair of field values, for every field at once: x and y run over 0..63 (6-bit green) and
// the 5-bit fields take x & 31 and x >> 1, so each of their 32 × 32 pairs occurs as well.
void AllFieldPairs(const PixelFormat& f, std::vector<std::uint16_t>& src,
                   std::vector<std::uint16_t>& dst) {
    const int gmask = f == kRgb565 ? 63 : 31;
    auto pack = [&](int v, int g) {
        return std::uint16_t((v & 31) << f.red_shift | (g & gmask) << 5 | (v >> 1));
    };
    src.clear();
    dst.clear();
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 64; ++y) {
            src.push_back(pack(x, f == kRgb565 ? x : x >> 1));
            dst.push_back(pack(y, f == kRgb565 ? y : y >> 1));
        }
}

TEST_P(FormatTest, LaneBlendEqualsTheSpreadBlendForEveryFieldPairAndAlpha) {
    using detail::Kind;
    const PixelFormat f = GetParam();
    std::vector<std::uint16_t> src, dst;
    AllFieldPairs(f, src, dst);
    const int n = int(src.size());
    for (detail::Isa isa : FastBuilds()) {
        for (int a = 0; a <= 32; ++a) {
            // The call's alpha (Const), the same alpha from a plane (Alpha), and the plane at 32
            // scaled by the call's alpha (AlphaConst).
            std::vector<std::uint8_t> plane(n, std::uint8_t(a)), full(n, 32);
            const struct {
                Kind kind;
                const std::uint8_t* sa;
            } runs[] = {{Kind::Const, nullptr}, {Kind::Alpha, plane.data()},
                        {Kind::AlphaConst, full.data()}};
            for (const auto& run : runs) {
                std::vector<std::uint16_t> got = dst, want = dst;
                detail::Span sp{got.data(), src.data(), run.sa, nullptr, 1, 1, n,
                                std::uint32_t(a), 0};
                detail::ContiguousSpan(f, run.kind, isa)(sp);
                for (int i = 0; i < n; ++i) want[i] = Blend(f, src[i], dst[i], a);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(got[i], want[i]) << Name(isa) << " kind " << int(run.kind) << " alpha "
                                               << a << " s " << src[i] << " d " << dst[i];
            }
        }
    }
}

TEST_P(FormatTest, LaneDarkeningEqualsTheSpreadDarkeningForEveryPixelAndAlpha) {
    const PixelFormat f = GetParam();
    const std::uint32_t count = f == kRgb565 ? 0x10000 : 0x8000;
    std::vector<std::uint16_t> src(count);
    for (std::uint32_t v = 0; v < count; ++v) src[v] = std::uint16_t(v);
    for (detail::Isa isa : FastBuilds()) {
        for (int a = 0; a <= 32; ++a) {
            std::vector<std::uint16_t> got(count, 0xDEAD);
            detail::Span sp{got.data(), src.data(), nullptr, nullptr, 1, 1, int(count),
                            std::uint32_t(a), 0};
            detail::ContiguousSpan(f, detail::Kind::Dim, isa)(sp);
            for (std::uint32_t v = 0; v < count; ++v)
                ASSERT_EQ(got[v], Darken(f, std::uint16_t(v), a)) << Name(isa) << " alpha " << a;
        }
    }
}

TEST_P(FormatTest, EverySpanLoopEqualsTheReferenceLoop) {
    using detail::Kind;
    const PixelFormat f = GetParam();
    const Kind kinds[] = {Kind::Copy, Kind::Const, Kind::Key, Kind::KeyConst, Kind::Alpha,
                          Kind::AlphaConst, Kind::AlphaKey, Kind::Dim};
    const std::uint32_t valid = f == kRgb565 ? 0xFFFF : 0x7FFF;
    std::mt19937 rng(3);
    // Random pixels, with runs of the key colour and runs of invisible and of opaque alphas long
    // enough to cover whole vectors, so the loops' shortcuts are taken as well.
    auto fill = [&](std::vector<std::uint16_t>& px, std::vector<std::uint8_t>& al) {
        for (std::size_t i = 0; i < px.size();) {
            const std::size_t run = std::min<std::size_t>(px.size() - i, 1 + rng() % 40);
            const int what = int(rng() % 5);
            for (std::size_t k = 0; k < run; ++k, ++i) {
                px[i] = std::uint16_t(what == 0 || rng() % 6 == 0 ? 0x1234 : rng() & valid);
                al[i] = std::uint8_t(what == 1 ? 0 : what == 2 ? 32 : rng() % 33);
            }
        }
    };
    for (Kind k : kinds) {
        for (int a : {0, 1, 13, 31, 32}) {
            for (int trial = 0; trial < 40; ++trial) {
                const int n = trial < 20 ? trial : 1 + int(rng() % 700);  // every tail length
                std::vector<std::uint16_t> src(n), dst(n);
                std::vector<std::uint8_t> sa(n), unused(n);
                fill(src, sa);
                for (auto& p : dst) p = std::uint16_t(rng() & valid);
                std::vector<std::uint16_t> want = dst;
                detail::Span ref{want.data(), src.data(), sa.data(), nullptr, 1, 1, n,
                                 std::uint32_t(a), 0x1234};
                detail::ReferenceSpan(f, k, ref);
                for (detail::Isa isa : FastBuilds()) {
                    std::vector<std::uint16_t> got = dst;
                    detail::Span sp = ref;
                    sp.d = got.data();
                    detail::ContiguousSpan(f, k, isa)(sp);
                    ASSERT_EQ(got, want) << Name(isa) << " kind " << int(k) << " alpha " << a
                                         << " n " << n;
                }
            }
        }
    }
}

TEST_P(FormatTest, StridedAndAlphaWritingSpansEqualTheReferenceLoop) {
    using detail::Kind;
    const PixelFormat f = GetParam();
    const Kind kinds[] = {Kind::Copy, Kind::Const, Kind::Key, Kind::KeyConst, Kind::Alpha,
                          Kind::AlphaConst, Kind::AlphaKey, Kind::Dim};
    std::mt19937 rng(5);
    const int n = 301;
    const std::uint32_t valid = f == kRgb565 ? 0xFFFF : 0x7FFF;
    for (Kind k : kinds) {
        for (int a : {0, 1, 13, 31, 32}) {
            for (bool contiguous : {true, false}) {
                for (bool dst_alpha : {false, true}) {
                    if (contiguous && !dst_alpha) continue;  // the vector loops, above
                    const std::ptrdiff_t ds = contiguous ? 1 : 3, ss = contiguous ? 1 : 2;
                    std::vector<std::uint16_t> src(n * ss), dst(n * ds), want;
                    std::vector<std::uint8_t> sa(n * ss), da(n * ds, 99), want_a;
                    for (auto& p : src) p = std::uint16_t(rng() % 4 == 0 ? 0x1234 : rng() & valid);
                    for (auto& p : sa) p = std::uint8_t(rng() % 33);
                    for (auto& p : dst) p = std::uint16_t(rng() & valid);
                    want = dst;
                    want_a = da;
                    detail::Span sp{dst.data(), src.data(), sa.data(), dst_alpha ? da.data() : nullptr,
                                    ds, ss, n, std::uint32_t(a), 0x1234};
                    detail::Span ref = sp;
                    ref.d = want.data();
                    ref.da = dst_alpha ? want_a.data() : nullptr;
                    detail::ReferenceSpan(f, k, ref);
                    detail::SelectSpan(f, k, contiguous, dst_alpha)(sp);
                    ASSERT_EQ(dst, want) << "kind " << int(k) << " alpha " << a << " contiguous "
                                         << contiguous;
                    if (dst_alpha) {
                        ASSERT_EQ(da, want_a) << "kind " << int(k) << " alpha " << a;
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, FormatTest, ::testing::Values(kRgb565, kRgb555),
                         [](const auto& p) { return p.param == kRgb565 ? "Rgb565" : "Rgb555"; });

TEST(PixelFormats, PackComponentsByTheirFields) {
    EXPECT_EQ(RGBTo565(kRgb565, 255, 255, 255), 0xFFFF);
    EXPECT_EQ(RGBTo565(kRgb565, 255, 0, 0), 0xF800);
    EXPECT_EQ(RGBTo565(kRgb565, 0, 255, 0), 0x07E0);
    EXPECT_EQ(RGBTo565(kRgb565, 0, 0, 255), 0x001F);
    EXPECT_EQ(RGBTo565(kRgb565, 230, 230, 230), (28 << 11) | (57 << 5) | 28);
    EXPECT_EQ(RGBTo565(kRgb565, 0, 50, 240), (0 << 11) | (12 << 5) | 30);
    EXPECT_EQ(RGBTo565(kRgb555, 255, 255, 255), 0x7FFF);
    EXPECT_EQ(RGBTo565(kRgb555, 255, 0, 0), 0x7C00);
    EXPECT_EQ(RGBTo565(kRgb555, 0, 255, 0), 0x03E0);
    EXPECT_EQ(RGBTo565(kRgb555, 0, 0, 255), 0x001F);
    EXPECT_EQ(ColourToPixel(kRgb565, 0x0000FF), 0xF800);  // 0x00BBGGRR: red is the low byte
    EXPECT_EQ(ColourToPixel(kRgb565, 0xFF0000), 0x001F);
}

TEST(PixelFormats, KnownBlendsOfWhiteOverBlack) {
    // Half way: 31 × 16 / 32 = 15 for red and blue, 63 × 16 / 32 = 31 for green.
    EXPECT_EQ(Blend(kRgb565, 0xFFFF, 0x0000, 16), (15 << 11) | (31 << 5) | 15);
    EXPECT_EQ(Blend(kRgb555, 0x7FFF, 0x0000, 16), (15 << 10) | (15 << 5) | 15);
    // Black over white rounds each field down: 31 - ceil(31 × 8 / 32) = 23.
    EXPECT_EQ(Blend(kRgb565, 0x0000, 0xFFFF, 8), (23 << 11) | (47 << 5) | 23);
    EXPECT_EQ(Darken(kRgb565, 0xFFFF, 1), 1 << 5);  // only green reaches a whole step
    EXPECT_EQ(Darken(kRgb565, 0xFFFF, 2), (1 << 11) | (3 << 5) | 1);
}

}  // namespace
}  // namespace lumo::gfx
