// One Normal lock-screen frame (wallpaper, clock, date, top bar, slider with its shine) composed
// at 480×800, beside a plain memcpy of the frame in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/fake/fake_platform.h"

namespace {

namespace fs = std::filesystem;
using namespace lumo;

struct Phone {
    Phone() {
        root = fs::temp_directory_path() / ("lumo-bench-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "Program Files" / "Lumo");
        auto stage = fs::path(LUMO_STAGE_DIR) / "Program Files" / "Lumo";
        fs::create_directory_symlink(stage / "gfx", root / "Program Files" / "Lumo" / "gfx");
        fs::copy_file(stage / "lang.ini", root / "Program Files" / "Lumo" / "lang.ini");
        fake.set_host_root(root);
        fake.set_own_path(u"\\Program Files\\Lumo\\lumo.exe");
        {
            auto scope = fake.as_process(77);
            fake.windows().register_class(u"Vardex2", [](platform::Hwnd, std::uint32_t, platform::WParam,
                                                        platform::LParam) { return 0; });
            platform::CreateWindowParams cp;
            cp.class_name = cp.title = u"Vardex2";
            fake.windows().create_window(cp);
        }
        ctx = std::make_unique<lockscreen::Context>(fake, fake.display());
        ctx->frame_clock = &clock;
        lockscreen::enter(*ctx, u"");
        fake.run_until_idle();
    }
    ~Phone() {
        ctx.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    struct NoWait final : gfx::FrameClock {
        std::uint32_t now_ms() override { return now; }
        void sleep_ms(std::uint32_t ms) override { now += ms; }
        std::uint32_t now = 0;
    } clock;
    platform::fake::FakePlatform fake;
    fs::path root;
    std::unique_ptr<lockscreen::Context> ctx;
};

Phone& phone() {
    static Phone p;
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
