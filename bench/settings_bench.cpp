// The settings program: its start-up over the fake to the first presented frame (pictures,
// language, the fourteen pages and the menu drawn), one scrolling frame of a long page, and the
// resident memory of LumoSettings started on a headless device.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/settings/settings.h"
#include "staged_phone.h"

namespace {

using namespace lumo;

struct Phone : bench::StagedPhone {
    Phone() : StagedPhone("lumo-settings-bench", u"\\Program Files\\Lumo\\LumoSettings.exe") {
        catalogue::open_root(fake.registry());
    }
};

void BM_StartUpToFirstFrame(benchmark::State& state) {
    Phone phone;
    for (auto _ : state) {
        // Each start in a process of its own, as on the phone: a window class belongs to the
        // process that registered it.
        state.PauseTiming();
        auto scope = phone.fake.as_process(phone.fake.add_process(u"\\Program Files\\Lumo\\LumoSettings.exe"));
        state.ResumeTiming();
        auto ctx = std::make_unique<settings::Context>(phone.fake, phone.fake.display());
        auto r = settings::enter(*ctx, u"");
        if (r != settings::EntryResult::Running || ctx->frames_presented == 0)
            return state.SkipWithError("no first frame");
        state.PauseTiming();
        phone.fake.windows().destroy_window(ctx->main_window);
        ctx.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartUpToFirstFrame)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ScrollFrame(benchmark::State& state) {
    Phone phone;
    settings::Context ctx(phone.fake, phone.fake.display());
    if (settings::enter(ctx, u"") != settings::EntryResult::Running) return state.SkipWithError("no start");
    ctx.state = settings::ScreenState::Page;
    ctx.page = 0;
    int range = settings::max_scroll(ctx);
    int step = 0;
    for (auto _ : state) {
        ctx.scroll.offset = (step += 7) % (range + 1);
        settings::draw(ctx);
    }
}
BENCHMARK(BM_ScrollFrame)->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryAfterStartUp(benchmark::State& state) {
    test::DeviceProcess dev;
    if (!dev.start()) return state.SkipWithError("no device");
    dev.ctl({"start", "\\Program Files\\Lumo\\LumoSettings.exe"});
    dev.ctl({"wait", "window", "LumoSettings", "--visible"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    long pid = 0;
    std::istringstream lines(dev.ctl({"processes"}).out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("LumoSettings.exe") != std::string::npos) pid = std::stol(line);
    long rss_kb = 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) rss_kb = std::stol(line.substr(6));
    for (auto _ : state) benchmark::DoNotOptimize(rss_kb);
    state.counters["rss_MB"] = double(rss_kb) / 1024.0;
}
BENCHMARK(BM_ResidentMemoryAfterStartUp)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
