// Messages between two device programs, next to a bare Unix-socket ping-pong between two
// processes measured in the same run. The other program is lumo-testprog.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "device_process.h"
#include "ping_pong.h"
#include "lumo/platform/device/device_platform.h"

namespace {

using namespace lumo::platform;
constexpr std::uint32_t kPostBurst = WM_APP + 6;
constexpr std::uint32_t kBurstItem = WM_APP + 7;
constexpr std::uint32_t kPing = WM_APP + 8;
constexpr std::uint32_t kPong = WM_APP + 9;
constexpr std::uint32_t kNothing = WM_APP + 50;  // answered with 0 at once

// A request of a posted message's size.
void BM_BareSocketPingPong(benchmark::State& state) { lumo::bench::BareSocketPingPong(state, 32); }
BENCHMARK(BM_BareSocketPingPong)->UseRealTime();

struct TwoPrograms {
    TwoPrograms() {
        if (!device.start()) return;
        std::string error;
        p = device::connect(device.socket_path(), u"bench", &error);
        if (!p) return;
        p->windows().register_class(u"TestSink", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"TestSink";
        sink = p->windows().create_window(cp);
        other = lumo::test::spawn_device_program("lumo-testprog", {"window", "Other"}, device.socket_path());
        for (int i = 0; i < 500 && !target; ++i) {
            if (p->windows().find_window(std::nullopt, u"window ready")) target = p->windows().find_window(u"Other", std::nullopt);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~TwoPrograms() {
        if (other > 0) {
            ::kill(other, SIGKILL);
            lumo::test::wait_program(other);
        }
    }
    // The host's peak resident memory, in KiB.
    long host_peak_kib() const {
        std::ifstream f("/proc/" + std::to_string(device.pid()) + "/status");
        std::string line;
        while (std::getline(f, line))
            if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }
    lumo::test::DeviceProcess device;
    std::unique_ptr<device::DevicePlatform> p;
    Hwnd sink = 0, target = 0;
    pid_t other = -1;
};

TwoPrograms& programs() {
    static TwoPrograms t;
    return t;
}

// A send to the other program's window, answered by its procedure.
void BM_SendRoundTrip(benchmark::State& state) {
    auto& t = programs();
    if (!t.target) return state.SkipWithError("no second program");
    for (auto _ : state)
        if (!t.p->windows().send(t.target, kNothing, 0, 0)) return state.SkipWithError("send failed");
}
BENCHMARK(BM_SendRoundTrip)->UseRealTime();

// Post to the other program, whose procedure posts back: two post-to-dispatch legs.
void BM_PostToDispatchBothWays(benchmark::State& state) {
    auto& t = programs();
    if (!t.target) return state.SkipWithError("no second program");
    Message m;
    for (auto _ : state) {
        t.p->windows().post(t.target, kPing, 0, 0);
        do {
            if (!t.p->windows().get_message(m)) return state.SkipWithError("loop ended");
        } while (m.message != kPong);
    }
}
BENCHMARK(BM_PostToDispatchBothWays)->UseRealTime();

// 100 000 posted messages in one burst arrive complete and in order; the host's memory stays
// bounded (reported as the host's peak resident size).
void BM_PostBurst100k(benchmark::State& state) {
    auto& t = programs();
    if (!t.target) return state.SkipWithError("no second program");
    constexpr WParam kCount = 100000;
    for (auto _ : state) {
        t.p->windows().post(t.target, kPostBurst, kCount, 0);
        WParam next = 0;
        Message m;
        while (next < kCount) {
            if (!t.p->windows().get_message(m)) return state.SkipWithError("loop ended");
            if (m.message != kBurstItem) continue;
            if (m.wparam != next) return state.SkipWithError("out of order");
            ++next;
        }
    }
    state.counters["messages_per_s"] = benchmark::Counter(double(kCount) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["host_peak_kib"] = double(t.host_peak_kib());
}
BENCHMARK(BM_PostBurst100k)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
