// The connection to the device and the helpers every verb shares.
#include "ctl.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "lumo/platform/text.h"

namespace lumo::ctl {

using wire::Kind;
using wire::Reader;
using wire::Status;

void say(const std::string& msg) {
    std::fprintf(stderr, "lumo-devctl: %s\n", msg.c_str());
}

void usage(const std::string& msg) {
    say(msg);
    std::exit(kUsage);
}

void fail(const std::string& msg, int status) {
    say(msg);
    std::exit(status);
}

wire::Client& Ctl::client() {
    if (!client_) {
        std::string error;
        client_ = wire::Client::connect(wire::socket_path_for(dir_), u"lumo-devctl", &error);
        if (!client_) fail("no device at " + dir_ + " (" + error + ")", kNoDevice);
    }
    return *client_;
}

wire::Client::Reply Ctl::call(wire::Writer& w) {
    auto r = client().call(w, 30000);
    if (!r) fail("the device did not answer", kNoDevice);
    return std::move(*r);
}

std::optional<Ctl::Value> Ctl::read(std::uint32_t root, const std::u16string& key,
                                    const std::u16string& name) {
    auto& w = begin(Kind::RegReadValue);
    w.u32(root).s16(key).s16(name);
    auto r = call(w);
    if (r.status != Status::Ok) return std::nullopt;
    Reader rd(r.body);
    Value v{rd.u32(), rd.bin()};
    return rd.ok() ? std::optional(v) : std::nullopt;
}

// Names of a key's sub-keys or values: the host answers one index a request until it runs out.
std::vector<std::u16string> Ctl::enum_names(Kind kind, std::uint32_t root, const std::u16string& key) {
    std::vector<std::u16string> out;
    for (std::uint32_t i = 0;; ++i) {
        auto& w = begin(kind);
        w.u32(root).s16(key).u32(i);
        auto r = call(w);
        if (r.status != Status::Ok) break;
        Reader rd(r.body);
        out.push_back(rd.s16());
    }
    return out;
}

std::vector<std::u16string> Ctl::subkeys(std::uint32_t root, const std::u16string& key) {
    return enum_names(Kind::RegEnumSubkey, root, key);
}

std::vector<std::u16string> Ctl::values(std::uint32_t root, const std::u16string& key) {
    return enum_names(Kind::RegEnumValue, root, key);
}

bool Ctl::key_exists(std::uint32_t root, const std::u16string& key) {
    auto& w = begin(Kind::RegOpenKey);
    w.u32(root).s16(key);
    return call(w).status == Status::Ok;
}

std::uint32_t parse_number(const std::string& s, const char* what) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end || errno || v < INT32_MIN || v > UINT32_MAX)
        usage(std::string(what) + " must be a number, not '" + s + "'");
    return static_cast<std::uint32_t>(v);
}

std::int32_t parse_coordinate(const std::string& s, const char* what) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < -32768 || v > 32767)
        usage(std::string(what) + " must be a pixel coordinate, not '" + s + "'");
    return static_cast<std::int32_t>(v);
}

std::uint32_t reply_u32(const wire::Client::Reply& r) {
    Reader rd(r.body);
    return rd.u32();
}

std::string why(wire::Status s) {
    return std::string(wire::status_text(s));
}

std::uint32_t find_class(Ctl& ctl, const std::string& cls) {
    auto& w = ctl.begin(Kind::WinFind);
    w.u32(1).s16(platform::to_u16(cls)).s16(u"");
    return reply_u32(ctl.call(w));
}

std::vector<std::pair<std::uint32_t, std::string>> processes(Ctl& ctl) {
    auto& w = ctl.begin(Kind::ProcList);
    auto r = ctl.call(w);
    Reader rd(r.body);
    std::vector<std::pair<std::uint32_t, std::string>> out;
    auto n = rd.u32();
    for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
        auto pid = rd.u32();
        auto path = platform::to_utf8(rd.s16());
        out.push_back({pid, path});
    }
    return out;
}

}  // namespace lumo::ctl
