// Through a real headless device: from a lock request (WM_SETFOCUS to the hidden Lumo window)
// to the first frame that reaches display memory, and lumo's resident memory after start-up.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/protocol/protocol.h"

namespace {

using namespace lumo;
using namespace lumo::platform;
using Clock = std::chrono::steady_clock;

struct Device {
    Device() {
        if (!dev.start()) return;
        std::string error;
        p = device::connect(dev.socket_path(), u"bench-service", &error);
        if (!p) return;
        p->windows().register_class(u"Vardex2", [](Hwnd, std::uint32_t, WParam, LParam) { return 0; });
        CreateWindowParams cp;
        cp.class_name = cp.title = u"Vardex2";
        service = p->windows().create_window(cp);
        dev.ctl({"start", "\\Program Files\\Lumo\\lumo.exe", "-hide"});
        dev.ctl({"wait", "window", "Lumo", "--hidden"});
        lumo = p->windows().find_window(u"Lumo", u"Lumo");
        auto info = p->display().raw_frame_buffer();
        if (info) {
            frame = static_cast<const std::uint16_t*>(info->pointer);
            pitch = info->ystride / 2;
        }
    }
    // Lets the stand-in service take what lumo posts to it.
    void pump(int ms) {
        p->windows().set_timer(service, 1, 5);
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        Message m;
        while (Clock::now() < end && p->windows().get_message(m)) p->windows().dispatch(m);
        p->windows().kill_timer(service, 1);
    }
    std::uint16_t probe() const { return frame[std::size_t(400) * pitch + 240]; }
    test::DeviceProcess dev;
    std::unique_ptr<device::DevicePlatform> p;
    Hwnd service = 0, lumo = 0;
    const std::uint16_t* frame = nullptr;
    int pitch = 0;
};

Device& device_once() {
    static Device d;
    return d;
}

void BM_LockRequestToFirstFrame(benchmark::State& state) {
    auto& d = device_once();
    if (!d.lumo || !d.frame) {
        state.SkipWithError("no device or no lumo window");
        return;
    }
    for (auto _ : state) {
        std::uint16_t before = d.probe();
        auto t0 = Clock::now();
        d.p->windows().post(d.lumo, WM_SETFOCUS, 0, 0);
        while (d.probe() == before && Clock::now() - t0 < std::chrono::seconds(3)) std::this_thread::yield();
        auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        // Unlock, then wait past the wake-up window in which focus gives the screen back.
        d.pump(400);
        d.p->windows().post(d.lumo, protocol::WM_Unlock, 0, 0);
        d.pump(2000);
    }
}
BENCHMARK(BM_LockRequestToFirstFrame)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryAfterStartUp(benchmark::State& state) {
    auto& d = device_once();
    auto r = d.dev.ctl({"processes"});
    long pid = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("lumo.exe") != std::string::npos) pid = std::stol(line);
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
