// The picture browser's thumbnails: one made from a JPEG of 1, 5 and 12 megapixels, cold and
// from its cache file; and a folder of 2 000 pictures browsed over the fake from the first row
// to the last with flings, to the last thumbnail in view, with the resident memory after it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../tests/browser/pictures.h"
#include "lumo/browser/browser.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/fake/fake_platform.h"

namespace {

namespace fs = std::filesystem;
using namespace lumo;

fs::path scratch() {
    static fs::path dir = [] {
        auto d = fs::temp_directory_path() / ("lumo-browser-bench-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// A JPEG of about `mp` megapixels in 4:3, made once per run.
fs::path jpeg(int mp) {
    auto file = scratch() / ("photo" + std::to_string(mp) + ".jpg");
    if (!fs::exists(file)) {
        int w = int(std::sqrt(mp * 1e6 * 4 / 3));
        browser::test::write_picture(file, w, w * 3 / 4);
    }
    return file;
}

double rss_mb() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void BM_ThumbnailCold(benchmark::State& state) {
    auto picture = jpeg(int(state.range(0)));
    auto imaging = platform::make_sdl_imaging();
    auto cache = scratch() / "cold.s2v";
    gfx::Image out;
    for (auto _ : state) {
        std::error_code ec;
        fs::remove(cache, ec);
        if (browser::make_thumbnail(*imaging, picture, cache, true, 108, gfx::kRgb565, out) != browser::ThumbSource::Made)
            return state.SkipWithError("not made");
    }
    state.counters["per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThumbnailCold)->Arg(1)->Arg(5)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThumbnailCached(benchmark::State& state) {
    auto picture = jpeg(int(state.range(0)));
    auto imaging = platform::make_sdl_imaging();
    auto cache = scratch() / ("cached" + std::to_string(state.range(0)) + ".s2v");
    gfx::Image out;
    browser::make_thumbnail(*imaging, picture, cache, true, 108, gfx::kRgb565, out);
    for (auto _ : state) {
        if (browser::make_thumbnail(*imaging, picture, cache, true, 108, gfx::kRgb565, out) != browser::ThumbSource::Cache)
            return state.SkipWithError("not from the cache");
    }
    state.counters["per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThumbnailCached)->Arg(1)->Arg(5)->Arg(12)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 2 000 pictures of 640 × 480, flung through from the top to the end: the time until the last
// row's thumbnails are in, with the cache cold, and the resident memory then.
void BM_FolderOf2000ToLastThumbnail(benchmark::State& state) {
    auto root = scratch() / "phone";
    auto pictures = root / "My Documents" / "My Pictures";
    fs::create_directories(pictures);
    auto seed = pictures / "p0000.jpg";
    if (!fs::exists(seed)) browser::test::write_picture(seed, 640, 480);
    for (int i = 1; i < 2000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%04d.jpg", i);
        if (!fs::exists(pictures / name)) fs::copy_file(seed, pictures / name);
    }
    auto folder = root / "Program Files" / "Lumo";
    fs::create_directories(folder);
    auto stage = fs::path(LUMO_STAGE_DIR) / "Program Files" / "Lumo";
    if (!fs::exists(folder / "gfx")) fs::create_directory_symlink(stage / "gfx", folder / "gfx");
    if (!fs::exists(folder / "lang.ini")) fs::copy_file(stage / "lang.ini", folder / "lang.ini");
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        fs::remove_all(folder / "s2v", ec);
        platform::fake::FakePlatform fake;
        fake.set_host_root(root);
        fake.set_own_path(u"\\Program Files\\Lumo\\LumoC.exe");
        auto settings = fake.add_process(u"\\Program Files\\Lumo\\LumoSettings.exe");
        {
            auto scope = fake.as_process(settings);
            fake.windows().register_class(u"LumoSettings", [](platform::Hwnd, std::uint32_t, platform::WParam,
                                                              platform::LParam) -> platform::LResult { return 0; });
            platform::CreateWindowParams cp;
            cp.class_name = cp.title = u"LumoSettings";
            fake.windows().create_window(cp);
        }
        catalogue::open_root(fake.registry());
        auto c = std::make_unique<browser::Context>(fake, fake.display());
        state.ResumeTiming();
        if (browser::enter(*c, u"\\My Documents\\My Pictures\\") != browser::EntryResult::Running)
            return state.SkipWithError("no start");
        // A finger flinging a screen at a time, as fast as the thumbnails come in view.
        auto l = browser::layout(*c);
        auto lp = [](int y) { return platform::LParam(std::uint32_t(y) << 16 | 100u); };
        auto last_row_ready = [&] {
            auto& e = c->entries.back();
            return e.thumb == browser::Entry::Thumb::Ready;
        };
        auto t0 = std::chrono::steady_clock::now();
        double to_end_ms = -1;
        int drags = 0;
        for (int guard = 0; guard < 100000 && !last_row_ready(); ++guard) {
            if (to_end_ms < 0 && c->scroll.offset == browser::max_scroll(*c))
                to_end_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            fake.run_until_idle();
            if (c->scroll.offset < browser::max_scroll(*c) && !c->scroll.flinging) {
                ++drags;
                fake.windows().send(c->main_window, platform::WM_LBUTTONDOWN, 1, lp(l.bottom - 10));
                fake.advance(30);
                fake.windows().send(c->main_window, platform::WM_MOUSEMOVE, 1, lp(l.bottom - 200));
                fake.windows().send(c->main_window, platform::WM_LBUTTONUP, 0, lp(l.bottom - 200));
            }
            fake.advance(browser::kFlingPeriodMs);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        state.PauseTiming();
        if (!last_row_ready()) return state.SkipWithError("the last thumbnail never came");
        // The end of the list and its last thumbnail came in the same turn.
        if (to_end_ms < 0)
            to_end_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.counters["rss_MB"] = rss_mb();
        state.counters["made"] = double(c->jobs.made.load());
        state.counters["scrolled_ms"] = to_end_ms;
        state.counters["drags"] = drags;
        fake.windows().send(c->main_window, platform::WM_CLOSE, 0, 0);
        c.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FolderOf2000ToLastThumbnail)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
