// The hot draw loops on one 480 × 800 RGB565 frame, beside pixman's equivalent composites and a
// memcpy of the frame, all in one run. Goals: alpha plane ≤ 0.06 ms, constant alpha ≤ 0.05 ms,
// colour key ≤ 0.05 ms; the alpha-plane draw into a display turned 90° ≤ 2 × the upright one; a
// translucent full-screen fill ≤ the constant-alpha draw; present ≤ 1.2 × memcpy.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <random>
#include <vector>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"

namespace {

using namespace lumo::gfx;

constexpr int kW = 480, kH = 800;

class MemoryPresenter : public Presenter {
public:
    bool present(std::span<const std::uint16_t> frame) override {
        std::memcpy(display.data(), frame.data(), frame.size_bytes());
        return true;
    }
    bool capture(std::span<std::uint16_t>) override { return false; }
    std::vector<std::uint16_t> display = std::vector<std::uint16_t>(kW * kH);
};

struct Frame {
    Screen screen;
    Image opaque, alpha;
    MemoryPresenter presenter;
    std::vector<std::uint8_t> mask8;  // the alpha plane on pixman's 0..255 scale
    Frame() {
        InitScreen(screen, kW, kH, 2, kW * 2, kRgb565, 192);
        screen.presenter = &presenter;
        ResizeBuffers(opaque, kW, kH, false);
        ResizeBuffers(alpha, kW, kH, true);
        mask8.resize(kW * kH);
        std::mt19937 rng(1);
        for (int i = 0; i < kW * kH; ++i) {
            opaque.pixels[i] = alpha.pixels[i] = std::uint16_t(rng());
            alpha.alpha[i] = std::uint8_t(rng() % 33);
            mask8[i] = std::uint8_t(alpha.alpha[i] * 255 / 32);
            screen.back_buffer[i] = std::uint16_t(rng());
        }
        opaque.pixels[0] = 0x1234;  // the key; a quarter of the picture is key-coloured
        for (int i = 0; i < kW * kH; i += 4) opaque.pixels[i] = 0x1234;
    }
};

Frame& F() {
    static Frame f;
    return f;
}

void BM_Memcpy(benchmark::State& st) {
    std::vector<std::uint16_t> dst(kW * kH);
    for (auto _ : st) {
        std::memcpy(dst.data(), F().opaque.pixels.get(), kW * kH * 2);
        benchmark::ClobberMemory();
    }
}

void BM_DrawAlphaPlane(benchmark::State& st) {
    for (auto _ : st) DrawImage(F().alpha, F().screen, 0, 0, 0, 0, 0, kCopy, 32);
}
void BM_DrawConstantAlpha(benchmark::State& st) {
    for (auto _ : st) DrawImage(F().opaque, F().screen, 0, 0, 0, 0, 0, kConstant, 16);
}
void BM_DrawColourKey(benchmark::State& st) {
    for (auto _ : st) DrawImage(F().opaque, F().screen, 0, 0, 0, 0, 0, kColourKey, 32);
}
void BM_FillRectTranslucent(benchmark::State& st) {
    Brush grey = MakeBrush(0x8410);
    SelectBrush(F().screen, &grey);
    for (auto _ : st) FillRect(F().screen, 0, 0, kW, kH, 16);
}
void BM_DimToScreen(benchmark::State& st) {
    for (auto _ : st) DimToScreen(F().opaque, F().screen, 16);
}
void BM_PresentScreen(benchmark::State& st) {
    for (auto _ : st) {
        PresentScreen(F().screen);
        benchmark::ClobberMemory();
    }
}
void BM_DrawAlphaPlaneRotated90(benchmark::State& st) {
    SetScreenRotation(F().screen, kRotate90);
    Image turned;
    ResizeBuffers(turned, kH, kW, true);
    std::memcpy(turned.alpha.get(), F().alpha.alpha.get(), kW * kH);
    std::memcpy(turned.pixels.get(), F().alpha.pixels.get(), kW * kH * 2);
    for (auto _ : st) DrawImage(turned, F().screen, 0, 0, 0, 0, 0, kCopy, 32);
    SetScreenRotation(F().screen, kRotate0);
}

struct Pixman {
    pixman_image_t *src, *dst, *mask, *solid;
    Pixman() {
        src = pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH,
                                       reinterpret_cast<std::uint32_t*>(F().opaque.pixels.get()), kW * 2);
        dst = pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH,
                                       reinterpret_cast<std::uint32_t*>(F().screen.back_buffer.get()), kW * 2);
        mask = pixman_image_create_bits(PIXMAN_a8, kW, kH,
                                        reinterpret_cast<std::uint32_t*>(F().mask8.data()), kW);
        pixman_color_t half{0, 0, 0, 0x8000};
        solid = pixman_image_create_solid_fill(&half);
    }
};
Pixman& P() {
    static Pixman p;
    return p;
}

void BM_PixmanOverA8Mask(benchmark::State& st) {
    for (auto _ : st)
        pixman_image_composite32(PIXMAN_OP_OVER, P().src, P().mask, P().dst, 0, 0, 0, 0, 0, 0, kW, kH);
}
void BM_PixmanOverSolidMask(benchmark::State& st) {
    for (auto _ : st)
        pixman_image_composite32(PIXMAN_OP_OVER, P().src, P().solid, P().dst, 0, 0, 0, 0, 0, 0, kW, kH);
}
void BM_PixmanSrcCopy(benchmark::State& st) {
    for (auto _ : st)
        pixman_image_composite32(PIXMAN_OP_SRC, P().src, nullptr, P().dst, 0, 0, 0, 0, 0, 0, kW, kH);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_PixmanSrcCopy);
BENCHMARK(BM_PixmanOverA8Mask);
BENCHMARK(BM_PixmanOverSolidMask);
BENCHMARK(BM_DrawAlphaPlane);
BENCHMARK(BM_DrawAlphaPlaneRotated90);
BENCHMARK(BM_DrawConstantAlpha);
BENCHMARK(BM_DrawColourKey);
BENCHMARK(BM_FillRectTranslucent);
BENCHMARK(BM_DimToScreen);
BENCHMARK(BM_PresentScreen);

}  // namespace

BENCHMARK_MAIN();
