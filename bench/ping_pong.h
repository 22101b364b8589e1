#pragma once
// The transport floor the device benchmarks compare against: a small packet out and back over a
// SOCK_SEQPACKET pair between two processes (the echo side is a child, as the host is).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>

namespace lumo::bench {

inline void BareSocketPingPong(benchmark::State& state, std::size_t packet_bytes) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return state.SkipWithError("socketpair");
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
    char msg[128] = {1, 2, 3}, reply[256];
    auto size = static_cast<ssize_t>(packet_bytes < sizeof msg ? packet_bytes : sizeof msg);
    for (auto _ : state) {
        if (::send(sv[0], msg, std::size_t(size), 0) != size || ::recv(sv[0], reply, sizeof reply, 0) <= 0) {
            state.SkipWithError("echo broke");
            break;
        }
    }
    ::close(sv[0]);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace lumo::bench
