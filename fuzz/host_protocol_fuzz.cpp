// Feeds arbitrary packets to the device host as one client would send them. Input: packets, each
// a 16-bit little-endian length and that many bytes, after a valid hello so that every request
// handler is reachable.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host.h"
#include "lumo/wire/wire.h"
#include "services.h"

namespace {

lumo::host::Host* make_host() {
    static std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "lumo-fuzz-XXXXXX").string();
        if (!::mkdtemp(t.data())) std::abort();
        return t;
    }();
    lumo::host::Options o;
    o.dir = dir;
    o.headless = true;
    o.startup = false;
    auto* host = new lumo::host::Host(o);
    std::string error;
    if (!host->start(&error)) std::abort();
    static lumo::host::Services services(*host);
    return host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumo::host::Host* host = make_host();
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return 0;
    lumo::host::ClientConn c;
    c.fd = sv[0];
    c.id = 1;

    lumo::wire::Writer hello;
    hello.start(lumo::wire::Kind::Hello, lumo::wire::PacketType::Request, 1);
    hello.u32(lumo::wire::kVersion).u32(1).s16(u"fuzz");
    host->handle_packet(c, hello.bytes());

    std::byte sink[lumo::wire::kMaxPacket];
    std::size_t pos = 0;
    while (!c.closing && pos + 2 <= size) {
        std::size_t n = data[pos] | (std::size_t(data[pos + 1]) << 8);
        pos += 2;
        n = std::min(n, size - pos);
        host->handle_packet(c, {reinterpret_cast<const std::byte*>(data + pos), n});
        pos += n;
        while (::recv(sv[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
    host->registry().remove_owner(c.id);
    ::close(sv[0]);
    ::close(sv[1]);
    return 0;
}
