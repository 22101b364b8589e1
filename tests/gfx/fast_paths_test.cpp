// The vectorised builds of every drawing call against the per-pixel reference loops: random
// scenes in every rotation and memory order, both formats, clipped at every edge, drawn into the
// back buffer and into Images with and without an alpha plane.
#include <random>
#include <string>

#include "kernels.h"
#include "lumo/gfx/effects.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

using detail::Isa;

// Runs the drawing calls of one scope on one build, and the best one again afterwards.
class BuildScope {
public:
    explicit BuildScope(Isa isa) : old_(detail::CurrentIsa()) { detail::UseIsa(isa); }
    ~BuildScope() { detail::UseIsa(old_); }

private:
    Isa old_;
};

std::vector<Isa> Builds() {
    std::vector<Isa> builds{Isa::Sse2};
    if (detail::HaveAvx2()) builds.push_back(Isa::Avx2);
    return builds;
}

// Pixels in runs: plain random ones, the key colour, and (with an alpha plane) invisible and
// opaque runs long enough to fill whole vectors, so every shortcut of the loops is taken.
Image SceneImage(std::mt19937& rng, int w, int h, bool alpha, std::uint16_t valid) {
    Image img;
    EXPECT_TRUE(ResizeBuffers(img, w, h, alpha));
    const std::uint16_t key = std::uint16_t(rng() & valid);
    const int count = w * h;
    for (int i = 0; i < count;) {
        const int run = std::min(count - i, 1 + int(rng() % 48));
        const int what = int(rng() % 5);
        for (int k = 0; k < run; ++k, ++i) {
            img.pixels[i] = what == 0 || rng() % 8 == 0 ? key : std::uint16_t(rng() & valid);
            if (alpha) img.alpha[i] = std::uint8_t(what == 1 ? 0 : what == 2 ? 32 : rng() % 33);
        }
    }
    img.pixels[0] = key;
    return img;
}

int SomeAlpha(std::mt19937& rng) {
    const int pick = int(rng() % 6);
    return pick == 0 ? 32 : pick == 1 ? 0 : int(rng() % 33);
}

std::uint32_t SomeMode(std::mt19937& rng) {
    const std::uint32_t modes[] = {kCopy, kConstant, kColourKey, kAlphaKey};
    return modes[rng() % 4];
}

// A place from well off one edge to well off the other.
int SomePlace(std::mt19937& rng, int extent) { return int(rng() % (extent + 80)) - 60; }

// Every call of the library that goes through the span loops, with random arguments.
void DrawScene(Screen& s, Image& canvas, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const std::uint16_t valid = s.format == kRgb565 ? 0xFFFF : 0x7FFF;
    const int W = s.logical_width, H = s.logical_height;
    Brush brush = MakeBrush(std::uint16_t(rng() & valid));
    SelectBrush(s, &brush);
    if (rng() % 2) {
        Image wall = SceneImage(rng, rng() % 4 ? W : W / 2 + 1, H, false, valid);
        DimToScreen(wall, s, SomeAlpha(rng));
    }
    for (int op = 0; op < 14; ++op) {
        const int w = 1 + int(rng() % 70), h = 1 + int(rng() % 50);
        Image img = SceneImage(rng, w, h, rng() % 2 == 0, valid);
        const int x = SomePlace(rng, W), y = SomePlace(rng, H);
        switch (rng() % 7) {
        case 0:
            DrawImage(img, s, x, y, int(rng() % w), int(rng() % (w + 4)), int(rng() % (h + 4)),
                      SomeMode(rng), SomeAlpha(rng));
            break;
        case 1:
            DrawImagePart(img, s, x, y, int(rng() % (w + 2)), int(rng() % (h + 2)),
                          int(rng() % w) - 2, int(rng() % h) - 2, SomeMode(rng), SomeAlpha(rng));
            break;
        case 2:
            DrawImageRow(img, s, x, y, int(rng() % h), 1 + int(rng() % 60), int(rng() % (w + 30)),
                         SomeMode(rng), SomeAlpha(rng));
            break;
        case 3:
            FillRect(s, x, y, SomePlace(rng, W), SomePlace(rng, H), SomeAlpha(rng));
            break;
        case 4:
            DrawHLine(s, x, int(rng() % H), SomePlace(rng, W), std::uint16_t(rng() & valid),
                      SomeAlpha(rng));
            break;
        case 5:
            ComposeImage(canvas, s, img, SomePlace(rng, canvas.width), SomePlace(rng, canvas.height),
                         int(rng() % (w + 2)), int(rng() % (h + 2)), int(rng() % w), int(rng() % h),
                         SomeMode(rng), SomeAlpha(rng));
            break;
        default:
            DrawImage(canvas, s, x, y, 0, 0, 0, SomeMode(rng), SomeAlpha(rng));
            break;
        }
    }
}

// The first index where two buffers differ (as text, with both values), or "none".
template <class T>
std::string FirstDifference(const std::vector<T>& got, const std::vector<T>& want) {
    if (got.size() != want.size()) return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "index " + std::to_string(i) + ": " + std::to_string(got[i]) + " instead of " +
                   std::to_string(want[i]);
    return "none";
}

struct Drawn {
    std::vector<std::uint16_t> frame, canvas;
    std::vector<std::uint8_t> canvas_alpha;
};

Drawn DrawOn(Isa isa, std::uint32_t seed) {
    BuildScope scope(isa);
    std::mt19937 rng(seed);
    const PixelFormat f = rng() % 2 ? kRgb565 : kRgb555;
    const int W = 1 + int(rng() % 90), H = 1 + int(rng() % 90);
    const bool column_major = rng() % 2;
    const int rotations[] = {kRotate0, kRotate90, kRotate180, kRotate270};
    const int rotation = rotations[rng() % 4];
    Screen s;
    EXPECT_TRUE(column_major ? InitScreen(s, W, H, H * 2, 2, f, 96) : InitScreen(s, W, H, 2, W * 2, f, 96));
    SetScreenRotation(s, rotation);
    test::Scramble(s, seed, f == kRgb565 ? 0xFFFF : 0x7FFF);
    Image canvas = SceneImage(rng, 1 + int(rng() % 60), 1 + int(rng() % 40), rng() % 2 == 0,
                              f == kRgb565 ? 0xFFFF : 0x7FFF);
    DrawScene(s, canvas, seed * 7 + 1);
    Drawn out;
    out.frame.assign(s.back_buffer.get(), s.back_buffer.get() + s.pixel_count);
    const std::size_t count = std::size_t(canvas.width) * canvas.height;
    out.canvas.assign(canvas.pixels.get(), canvas.pixels.get() + count);
    if (canvas.has_alpha()) out.canvas_alpha.assign(canvas.alpha.get(), canvas.alpha.get() + count);
    return out;
}

TEST(FastPaths, EveryDrawingCallOnEveryBuildEqualsTheReferenceLoopsInEveryRotation) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        const Drawn want = DrawOn(Isa::Reference, seed);
        for (Isa isa : Builds()) {
            const Drawn got = DrawOn(isa, seed);
            ASSERT_EQ(FirstDifference(got.frame, want.frame), "none") << "seed " << seed << " build " << int(isa);
            ASSERT_EQ(FirstDifference(got.canvas, want.canvas), "none") << "seed " << seed << " build " << int(isa);
            ASSERT_EQ(FirstDifference(got.canvas_alpha, want.canvas_alpha), "none")
                << "seed " << seed << " build " << int(isa);
        }
    }
}

// Large turned screens: every line block and vector of the gathering path, with tails.
TEST(FastPaths, FullScreenDrawsIntoTurnedDisplaysEqualTheReferenceLoops) {
    std::mt19937 rng(77);
    for (int rotation : {kRotate0, kRotate90, kRotate180, kRotate270}) {
        for (bool column_major : {false, true}) {
            const int W = 200 + int(rng() % 40), H = 300 + int(rng() % 40);
            const PixelFormat f = rng() % 2 ? kRgb565 : kRgb555;
            const std::uint16_t valid = f == kRgb565 ? 0xFFFF : 0x7FFF;
            std::vector<std::uint16_t> want;
            for (Isa isa : {Isa::Reference, Isa::Sse2, Isa::Avx2}) {
                if (isa == Isa::Avx2 && !detail::HaveAvx2()) continue;
                BuildScope scope(isa);
                std::mt19937 local(rotation * 2 + column_major);
                Screen s;
                ASSERT_TRUE(column_major ? InitScreen(s, W, H, H * 2, 2, f, 96)
                                         : InitScreen(s, W, H, 2, W * 2, f, 96));
                SetScreenRotation(s, rotation);
                test::Scramble(s, 3, valid);
                Image wall = SceneImage(local, s.logical_width, s.logical_height, false, valid);
                Image over = SceneImage(local, s.logical_width - 3, s.logical_height - 5, true, valid);
                DimToScreen(wall, s, 19);
                DrawImage(wall, s, 2, 3, 0, 0, 0, kCopy, 32);
                DrawImage(over, s, 1, 2, 0, 0, 0, kCopy, 32);
                DrawImage(over, s, -3, 4, 0, 0, 0, kAlphaKey, 21);
                DrawImage(wall, s, 5, -1, 0, 0, 0, kConstant, 9);
                DrawImage(wall, s, 0, 0, 0, 0, 0, kColourKey, 32);
                Brush brush = MakeBrush(std::uint16_t(local() & valid));
                SelectBrush(s, &brush);
                FillRect(s, 0, s.logical_height / 3, s.logical_width - 1, s.logical_height - 1, 13);
                FillRect(s, 7, 9, s.logical_width / 2, s.logical_height / 2, 32);
                std::vector<std::uint16_t> got(s.back_buffer.get(), s.back_buffer.get() + s.pixel_count);
                if (isa == Isa::Reference) want = got;
                else ASSERT_EQ(FirstDifference(got, want), "none") << "rotation " << rotation << " column major " << column_major
                                          << " build " << int(isa);
            }
        }
    }
}

}  // namespace
}  // namespace lumo::gfx
