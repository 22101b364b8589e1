// The volume overlay's frame and the shutdown slider's (its background made by capture, dim and
// grey, and one frame of its curtain) at 480×800, beside the lock screen's Normal frame taken in
// the same run.
#include <benchmark/benchmark.h>

#include "lock_screen_phone.h"
#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/protocol/protocol.h"

namespace {

using namespace lumo;

struct Phone : bench::LockScreenPhone {
    Phone() : LockScreenPhone("lumo-bench-overlay", u"") {}
    void send(std::uint32_t msg, platform::WParam w) {
        fake.windows().send(ctx->main_window, msg, w, 0);
        fake.run_until_idle();
    }
};

Phone& phone() {
    static Phone p;
    return p;
}

bool ready(benchmark::State& state, lockscreen::Context& c) {
    if (c.screen_width == 480 && c.screen.back_buffer) return true;
    state.SkipWithError("the lock screen did not start");
    return false;
}

void BM_NormalFrame(benchmark::State& state) {
    auto& p = phone();
    auto& c = *p.ctx;
    if (!ready(state, c)) return;
    p.send(protocol::WM_ShutDown, protocol::kShutDownClosed);
    p.send(protocol::WM_VolumeControl, 0);
    gfx::ResumeScreen(c.screen);
    for (auto _ : state) {
        c.slider.shine_phase = 5 * lockscreen::kShineStep;
        c.clock.fade = 32;
        lockscreen::compose_frame(c);
        benchmark::DoNotOptimize(c.screen.back_buffer.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_NormalFrame);

void BM_VolumeOverlayFrame(benchmark::State& state) {
    auto& p = phone();
    auto& c = *p.ctx;
    if (!ready(state, c)) return;
    p.send(protocol::WM_VolumeControl, 1);
    if (c.state != lockscreen::ScreenState::VolumeControl) {
        state.SkipWithError("the overlay did not open");
        return;
    }
    for (auto _ : state) {
        lockscreen::compose_frame(c);
        benchmark::DoNotOptimize(c.screen.back_buffer.get());
        benchmark::ClobberMemory();
    }
    p.send(protocol::WM_VolumeControl, 0);
}
BENCHMARK(BM_VolumeOverlayFrame);

// What opening the shutdown slider does once: the screen captured, darkened and turned grey.
void BM_ShutdownBackground(benchmark::State& state) {
    auto& c = *phone().ctx;
    if (!ready(state, c)) return;
    gfx::ResumeScreen(c.screen);
    gfx::Image shot, background;
    for (auto _ : state) {
        gfx::CaptureScreen(shot, c.screen);
        gfx::DimToScreen(shot, c.screen, 9);
        gfx::GreyScreen(c.screen);
        gfx::ImageFromBackBuffer(background, c.screen);
        benchmark::DoNotOptimize(background.pixels.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ShutdownBackground);

// A frame of the curtain: the slider half way down, the scene half faded in.
void BM_ShutdownCurtainFrame(benchmark::State& state) {
    auto& p = phone();
    auto& c = *p.ctx;
    if (!ready(state, c)) return;
    p.send(protocol::WM_ShutDown, protocol::kShutDownOpened);
    if (c.state != lockscreen::ScreenState::ShutdownSlider) {
        state.SkipWithError("the shutdown slider did not open");
        return;
    }
    for (auto _ : state) {
        c.shutdown.top_offset = -c.shutdown.top_travel / 2;
        c.shutdown.cancel_offset = c.shutdown.cancel_travel / 2;
        c.scene_alpha = 16;
        lockscreen::compose_frame(c);
        benchmark::DoNotOptimize(c.screen.back_buffer.get());
        benchmark::ClobberMemory();
    }
    c.shutdown.top_offset = c.shutdown.cancel_offset = 0;
    c.scene_alpha = 32;
    p.send(protocol::WM_ShutDown, protocol::kShutDownClosed);
}
BENCHMARK(BM_ShutdownCurtainFrame);

}  // namespace

BENCHMARK_MAIN();
