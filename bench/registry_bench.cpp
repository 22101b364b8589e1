// Registry round trips through a real device host, next to the cost of the transport alone: a
// bare SOCK_SEQPACKET ping-pong between two processes' worth of threads.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "device_process.h"
#include "ping_pong.h"
#include "lumo/platform/device/device_platform.h"

namespace {

using lumo::platform::Root;
constexpr std::u16string_view kKey = u"Software\\Vesk\\Bench";

// A request of a registry read's size.
void BM_BareSocketPingPong(benchmark::State& state) { lumo::bench::BareSocketPingPong(state, 64); }
BENCHMARK(BM_BareSocketPingPong)->UseRealTime();

struct Device {
    Device() {
        if (!process.start()) return;
        std::string error;
        platform = lumo::platform::device::connect(process.socket_path(), u"bench", &error);
        if (platform) {
            platform->registry().create_key(Root::CurrentUser, kKey);
            platform->registry().set_dword(Root::CurrentUser, kKey, u"Value", 1);
        }
    }
    lumo::test::DeviceProcess process;
    std::unique_ptr<lumo::platform::Platform> platform;
};

Device& device() {
    static Device d;
    return d;
}

void BM_RegistryReadRoundTrip(benchmark::State& state) {
    auto& p = device().platform;
    if (!p) {
        state.SkipWithError("no device");
        return;
    }
    for (auto _ : state) {
        auto v = p->registry().get_dword(Root::CurrentUser, kKey, u"Value");
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RegistryReadRoundTrip)->UseRealTime();

// From the write leaving the program to the change's message arriving back at it.
void BM_ChangeToNotification(benchmark::State& state) {
    auto& p = device().platform;
    if (!p) {
        state.SkipWithError("no device");
        return;
    }
    lumo::platform::NotificationRequest r;
    r.root = Root::CurrentUser;
    r.key = kKey;
    r.value = u"Watched";
    r.target = 1;
    r.message = 0x8001;
    auto handle = p->broker().register_notification(r);
    auto key = p->registry().open_key(Root::CurrentUser, kKey);
    static std::uint32_t n = 0;  // runs repeat: every write must change the value
    for (auto _ : state) {
        ++n;
        std::byte data[4];
        std::memcpy(data, &n, 4);
        p->registry().write_value(*key, u"Watched", lumo::platform::ValueType::Dword, data);
        if (!p->messages().take_posted(1000)) {
            state.SkipWithError("notification lost");
            break;
        }
    }
    p->broker().close_notification(handle);
}
BENCHMARK(BM_ChangeToNotification)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
