// Through a real headless device: `lumo -hide` from the start request to the moment it asks the
// service for the battery, which it does once its pictures, language and clock are loaded. The
// stand-in service is this process's own `Vardex2` window. Reported beside it: lumo's own CPU time
// up to that moment, and the control tool's bare round trip for scale.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/protocol/protocol.h"

namespace {

using namespace lumo;
using namespace lumo::platform;
using Clock = std::chrono::steady_clock;

// utime + stime of a process in milliseconds, or -1 when it cannot be read.
double cpu_ms(std::uint32_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stoll(field);
    return double(ticks) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

struct StartUp {
    StartUp() {
        if (!dev.start()) return;
        std::string error;
        p = device::connect(dev.socket_path(), u"bench-service", &error);
        if (!p) return;
        p->windows().register_class(u"Vardex2", [this](Hwnd, std::uint32_t msg, WParam, LParam) {
            if (msg == protocol::WM_GetBattery && !asked) {
                asked = Clock::now();
                lumo_cpu_ms = cpu_ms(pid);
            }
            return LResult(0);
        });
        CreateWindowParams cp;
        cp.class_name = cp.title = u"Vardex2";
        service = p->windows().create_window(cp);
    }
    // Starts lumo hidden and serves the stand-in service until lumo has asked for the battery.
    bool run_once(double* wall_ms) {
        asked.reset();
        auto t0 = Clock::now();
        auto id = p->processes().shell_execute(u"\\Program Files\\Lumo\\lumo.exe", u"-hide", true);
        if (!id) return false;
        pid = *id;
        Message m;
        p->windows().set_timer(service, 1, 5);
        while (!asked && Clock::now() - t0 < std::chrono::seconds(10) && p->windows().get_message(m))
            p->windows().dispatch(m);
        p->windows().kill_timer(service, 1);
        if (!asked) return false;
        *wall_ms = std::chrono::duration<double, std::milli>(*asked - t0).count();
        // Close it again so the next start is a first start, not a message to a running one.
        if (Hwnd lumo = p->windows().find_window(u"Lumo", u"Lumo")) p->windows().post(lumo, WM_CLOSE, 0, 0);
        p->processes().wait_process(pid, 5000);
        return true;
    }
    test::DeviceProcess dev;
    std::unique_ptr<device::DevicePlatform> p;
    Hwnd service = 0;
    std::uint32_t pid = 0;
    std::optional<Clock::time_point> asked;
    double lumo_cpu_ms = 0;
};

void BM_HideStartToPicturesLoaded(benchmark::State& state) {
    static StartUp s;
    if (!s.p || !s.service) return state.SkipWithError("no device");
    double cpu_total = 0;
    for (auto _ : state) {
        double ms = 0;
        if (!s.run_once(&ms)) return state.SkipWithError("lumo did not start");
        state.SetIterationTime(ms / 1000.0);
        cpu_total += s.lumo_cpu_ms;
    }
    state.counters["lumo_cpu_ms"] = cpu_total / double(state.iterations());
}
BENCHMARK(BM_HideStartToPicturesLoaded)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
