// Registry round trips through a real device host, next to the cost of the transport alone: a
// bare SOCK_SEQPACKET ping-pong between two processes' worth of threads.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"

namespace {

using lumo::platform::Root;
constexpr std::u16string_view kKey = u"Software\\Vesk\\Bench";

// The transport floor: a request of a registry read's size out, a reply back, through a
// process boundary (the echo side is a child process, as the host is).
void BM_BareSocketPingPong(benchmark::State& state) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(sv[0]);
        char buf[256];
        for (;;) {
            ssize_t n = ::recv(sv[1], buf, sizeof buf, 0);
            if (n <= 0 || ::send(sv[1], buf, std::size_t(n), 0) != n) ::_exit(0);
        }
    }
    ::close(sv[1]);
    char msg[64] = {1, 2, 3};
    char reply[256];
    for (auto _ : state) {
        if (::send(sv[0], msg, sizeof msg, 0) != sizeof msg || ::recv(sv[0], reply, sizeof reply, 0) <= 0) {
            state.SkipWithError("echo broke");
            break;
        }
    }
    ::close(sv[0]);
    ::waitpid(pid, nullptr, 0);
}
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
