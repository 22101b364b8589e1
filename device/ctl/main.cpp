// lumo-devctl: the person's and the tests' way into a running simulated phone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lumo/platform/registry.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace {

using lumo::platform::to_u16;
using lumo::platform::to_utf8;
using lumo::wire::Client;
using lumo::wire::Kind;
using lumo::wire::Reader;
using lumo::wire::Status;

const char* kUsage = R"(Usage: lumo-devctl [--device DIR] VERB [ARGS...]

Drives the simulated phone served from DIR (default: $XDG_DATA_HOME/lumo/phone).

Verbs:
  status                              what the device is and who is connected
  shutdown                            end the device cleanly
  reg get ROOT KEY NAME               print a value: 'string TEXT', 'binary HEX' or
                                      'dword DECIMAL'; exit status 1 when it is missing
  reg get ROOT KEY                    list the key's values and sub-keys
  reg set ROOT KEY NAME TYPE VALUE    TYPE is string, binary (hex digits) or dword (decimal,
                                      or 0x-prefixed hex)
  reg delete ROOT KEY [NAME]          delete a value, or the key with all it holds
  reg export ROOT KEY                 print the key tree as a .reg file

ROOT is HKCU or HKLM. KEY uses backslashes, e.g. 'Software\Vesk\Lumo'.
Exit status: 0 done, 1 not found or refused, 2 usage error, 3 no device.
)";

[[noreturn]] void usage(const std::string& msg) {
    std::fprintf(stderr, "lumo-devctl: %s\nTry 'lumo-devctl --help'.\n", msg.c_str());
    std::exit(2);
}

std::string default_dir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/lumo/phone";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/lumo/phone";
}

std::uint32_t parse_root(const std::string& s) {
    if (s == "HKCU" || s == "HKEY_CURRENT_USER") return 1;
    if (s == "HKLM" || s == "HKEY_LOCAL_MACHINE") return 2;
    usage("ROOT must be HKCU or HKLM, not '" + s + "'");
}

const char* root_name(std::uint32_t r) { return r == 1 ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

class Ctl {
public:
    explicit Ctl(std::unique_ptr<Client> c) : c_(std::move(c)) {}

    std::optional<Client::Reply> call(lumo::wire::Writer& w) {
        auto r = c_->call(w, 30000);
        if (!r) {
            std::fprintf(stderr, "lumo-devctl: the device did not answer\n");
            std::exit(3);
        }
        return r;
    }
    Client& client() { return *c_; }

    struct Value {
        std::uint32_t type;
        std::vector<std::byte> data;
    };
    std::optional<Value> read(std::uint32_t root, const std::u16string& key, const std::u16string& name) {
        auto& w = c_->begin(Kind::RegReadValue);
        w.u32(root).s16(key).s16(name);
        auto r = call(w);
        if (r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        Value v{rd.u32(), rd.bin()};
        return rd.ok() ? std::optional(v) : std::nullopt;
    }
    std::vector<std::u16string> subkeys(std::uint32_t root, const std::u16string& key) {
        std::vector<std::u16string> out;
        for (std::uint32_t i = 0;; ++i) {
            auto& w = c_->begin(Kind::RegEnumSubkey);
            w.u32(root).s16(key).u32(i);
            auto r = call(w);
            if (r->status != Status::Ok) break;
            Reader rd(r->body);
            out.push_back(rd.s16());
        }
        return out;
    }
    std::vector<std::u16string> values(std::uint32_t root, const std::u16string& key) {
        std::vector<std::u16string> out;
        for (std::uint32_t i = 0;; ++i) {
            auto& w = c_->begin(Kind::RegEnumValue);
            w.u32(root).s16(key).u32(i);
            auto r = call(w);
            if (r->status != Status::Ok) break;
            Reader rd(r->body);
            out.push_back(rd.s16());
        }
        return out;
    }
    bool key_exists(std::uint32_t root, const std::u16string& key) {
        auto& w = c_->begin(Kind::RegOpenKey);
        w.u32(root).s16(key);
        return call(w)->status == Status::Ok;
    }

private:
    std::unique_ptr<Client> c_;
};

std::string hex(const std::vector<std::byte>& d, const char* sep) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (i && *sep) s += sep;
        std::snprintf(b, sizeof b, "%02x", std::to_integer<unsigned>(d[i]));
        s += b;
    }
    return s;
}

std::uint32_t dword_of(const std::vector<std::byte>& d) {
    std::uint32_t v = 0;
    if (d.size() == 4) std::memcpy(&v, d.data(), 4);
    return v;
}

std::string show(const Ctl::Value& v) {
    switch (v.type) {
        case 1: return "string " + to_utf8(lumo::platform::decode_string_value(v.data));
        case 4: return "dword " + std::to_string(dword_of(v.data));
        default: return "binary " + hex(v.data, "");
    }
}

std::string reg_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

void export_key(Ctl& ctl, std::uint32_t root, const std::u16string& key) {
    std::printf("\n[%s\\%s]\n", root_name(root), to_utf8(key).c_str());
    for (auto& name : ctl.values(root, key)) {
        auto v = ctl.read(root, key, name);
        if (!v) continue;
        auto n = reg_escape(to_utf8(name));
        if (v->type == 1)
            std::printf("\"%s\"=\"%s\"\n", n.c_str(),
                        reg_escape(to_utf8(lumo::platform::decode_string_value(v->data))).c_str());
        else if (v->type == 4)
            std::printf("\"%s\"=dword:%08x\n", n.c_str(), dword_of(v->data));
        else
            std::printf("\"%s\"=hex:%s\n", n.c_str(), hex(v->data, ",").c_str());
    }
    for (auto& sub : ctl.subkeys(root, key)) export_key(ctl, root, key.empty() ? sub : key + u"\\" + sub);
}

bool parse_hex(const std::string& s, std::vector<std::byte>& out) {
    if (s.size() % 2) return false;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        std::string byte = s.substr(i, 2);
        auto v = std::strtoul(byte.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(std::byte(v));
    }
    return true;
}

int reg(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() < 3) usage("reg needs a sub-verb, ROOT and KEY");
    const auto& verb = a[0];
    auto root = parse_root(a[1]);
    auto key = to_u16(a[2]);
    if (verb == "get" && a.size() == 4) {
        auto v = ctl.read(root, key, to_u16(a[3]));
        if (!v) {
            std::fprintf(stderr, "lumo-devctl: %s\\%s: no value '%s'\n", root_name(root), a[2].c_str(),
                         a[3].c_str());
            return 1;
        }
        std::printf("%s\n", show(*v).c_str());
        return 0;
    }
    if (verb == "get" && a.size() == 3) {
        if (!ctl.key_exists(root, key)) {
            std::fprintf(stderr, "lumo-devctl: no key %s\\%s\n", root_name(root), a[2].c_str());
            return 1;
        }
        for (auto& name : ctl.values(root, key)) {
            auto v = ctl.read(root, key, name);
            if (v) std::printf("%s\t%s\n", to_utf8(name).c_str(), show(*v).c_str());
        }
        for (auto& sub : ctl.subkeys(root, key)) std::printf("%s\\\n", to_utf8(sub).c_str());
        return 0;
    }
    if (verb == "set" && a.size() == 6) {
        std::uint32_t type = 0;
        std::vector<std::byte> data;
        const auto& t = a[4];
        const auto& value = a[5];
        if (t == "string") {
            type = 1;
            data = lumo::platform::encode_string_value(to_u16(value));
        } else if (t == "dword") {
            type = 4;
            char* end = nullptr;
            errno = 0;
            auto v = std::strtoull(value.c_str(), &end, 0);
            if (value.empty() || *end || errno || v > 0xFFFFFFFFull) usage("not a 32-bit number: " + value);
            auto d = static_cast<std::uint32_t>(v);
            data.resize(4);
            std::memcpy(data.data(), &d, 4);
        } else if (t == "binary") {
            type = 3;
            if (!parse_hex(value, data)) usage("binary values are hex digits in pairs: " + value);
        } else {
            usage("TYPE must be string, binary or dword");
        }
        if (data.size() > lumo::platform::kMaxValueBytes) {
            std::fprintf(stderr, "lumo-devctl: the value is %zu bytes; the registry stores at most %zu\n",
                         data.size(), lumo::platform::kMaxValueBytes);
            return 1;
        }
        auto& ck = ctl.client().begin(Kind::RegCreateKey);
        ck.u32(root).s16(key);
        if (ctl.call(ck)->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: cannot create key %s\n", a[2].c_str());
            return 1;
        }
        auto& w = ctl.client().begin(Kind::RegWriteValue);
        w.u32(root).s16(key).s16(to_u16(a[3])).u32(type).bin(data);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: refused: %s\n",
                         std::string(lumo::wire::status_text(r->status)).c_str());
            return 1;
        }
        return 0;
    }
    if (verb == "delete" && (a.size() == 3 || a.size() == 4)) {
        auto& w = ctl.client().begin(a.size() == 4 ? Kind::RegDeleteValue : Kind::RegDeleteKey);
        w.u32(root).s16(key);
        if (a.size() == 4) w.s16(to_u16(a[3]));
        if (ctl.call(w)->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: nothing to delete\n");
            return 1;
        }
        return 0;
    }
    if (verb == "export" && a.size() == 3) {
        if (!ctl.key_exists(root, key)) {
            std::fprintf(stderr, "lumo-devctl: no key %s\\%s\n", root_name(root), a[2].c_str());
            return 1;
        }
        std::printf("Windows Registry Editor Version 5.00\n");
        export_key(ctl, root, key);
        return 0;
    }
    usage("unknown reg form");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (args.empty() && (a == "--help" || a == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (args.empty() && a == "--device" && i + 1 < argc) {
            dir = argv[++i];
        } else if (args.empty() && a.rfind("--device=", 0) == 0) {
            dir = a.substr(9);
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) usage("no verb given");
    if (dir.empty()) dir = default_dir();
    std::string error;
    auto client = Client::connect(lumo::wire::socket_path_for(dir), u"lumo-devctl", &error);
    if (!client) {
        std::fprintf(stderr, "lumo-devctl: no device at %s (%s)\n", dir.c_str(), error.c_str());
        return 3;
    }
    Ctl ctl(std::move(client));
    const auto& verb = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (verb == "status" && rest.empty()) {
        auto& w = ctl.client().begin(Kind::Status);
        auto r = ctl.call(w);
        Reader rd(r->body);
        std::fputs(to_utf8(rd.s16()).c_str(), stdout);
        return 0;
    }
    if (verb == "shutdown" && rest.empty()) {
        auto& w = ctl.client().begin(Kind::Shutdown);
        ctl.call(w);
        // Wait until the host has closed the connection: its registry is then on disk.
        while (ctl.client().next_event(5000)) {
        }
        return 0;
    }
    if (verb == "reg") return reg(ctl, rest);
    usage("unknown verb '" + verb + "'");
}
