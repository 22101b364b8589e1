// One Normal lock-screen frame (wallpaper, clock, date, top bar, slider with its shine) composed
// at 480×800, beside a plain memcpy of the frame in the same run.
#include <benchmark/benchmark.h>

#include <cstring>

#include "lock_screen_phone.h"

namespace {

using namespace lumo;

bench::LockScreenPhone& phone() {
    static bench::LockScreenPhone p("lumo-bench", u"");
    return p;
}

void BM_FrameMemcpy(benchmark::State& state) {
    std::vector<std::uint16_t> a(480 * 800, 0x1234), b(480 * 800);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size() * 2);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameMemcpy);

void BM_ComposeNormalFrame(benchmark::State& state) {
    auto& c = *phone().ctx;
    if (c.screen_width != 480 || c.screen.suspended) {
        state.SkipWithError("the lock screen did not start");
        return;
    }
    for (auto _ : state) {
        c.slider.shine_phase = 5 * lockscreen::kShineStep;  // the text and a shine frame drawn
        c.clock.fade = 32;
        lockscreen::compose_frame(c);
        benchmark::DoNotOptimize(c.screen.back_buffer.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComposeNormalFrame);

}  // namespace

BENCHMARK_MAIN();
