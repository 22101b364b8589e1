// reg get|set|delete|export: the device's registry as a person reads and edits it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl.h"
#include "lumo/platform/registry.h"
#include "lumo/platform/text.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::Status;

namespace {

std::uint32_t parse_root(const std::string& s) {
    return s == "HKCU" || s == "HKEY_CURRENT_USER" ? 1 : 2;  // the shape checked it
}

const char* root_name(std::uint32_t r) {
    return r == 1 ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

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
        case 1:
            return "string " + to_utf8(platform::decode_string_value(v.data));
        case 4:
            return "dword " + std::to_string(dword_of(v.data));
        default:
            return "binary " + hex(v.data, "");
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
                        reg_escape(to_utf8(platform::decode_string_value(v->data))).c_str());
        else if (v->type == 4)
            std::printf("\"%s\"=dword:%08x\n", n.c_str(), dword_of(v->data));
        else
            std::printf("\"%s\"=hex:%s\n", n.c_str(), hex(v->data, ",").c_str());
    }
    for (auto& sub : ctl.subkeys(root, key))
        export_key(ctl, root, key.empty() ? sub : key + u"\\" + sub);
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

}  // namespace

int verb_reg_get(Ctl& ctl, const Args& a) {
    auto root = parse_root(a.at(0));
    auto key = to_u16(a.at(1));
    if (a.count() == 3) {
        auto v = ctl.read(root, key, to_u16(a.at(2)));
        if (!v)
            fail(std::string(root_name(root)) + "\\" + a.at(1) + ": no value '" + a.at(2) + "'");
        std::printf("%s\n", show(*v).c_str());
        return kDone;
    }
    if (!ctl.key_exists(root, key)) fail(std::string("no key ") + root_name(root) + "\\" + a.at(1));
    for (auto& name : ctl.values(root, key)) {
        auto v = ctl.read(root, key, name);
        if (v) std::printf("%s\t%s\n", to_utf8(name).c_str(), show(*v).c_str());
    }
    for (auto& sub : ctl.subkeys(root, key)) std::printf("%s\\\n", to_utf8(sub).c_str());
    return kDone;
}

int verb_reg_set(Ctl& ctl, const Args& a) {
    auto root = parse_root(a.at(0));
    auto key = to_u16(a.at(1));
    std::uint32_t type = 0;
    std::vector<std::byte> data;
    const auto& t = a.at(3);
    const auto& value = a.at(4);
    if (t == "string") {
        type = 1;
        data = platform::encode_string_value(to_u16(value));
    } else if (t == "dword") {
        type = 4;
        char* end = nullptr;
        errno = 0;
        auto v = std::strtoull(value.c_str(), &end, 0);
        if (value.empty() || *end || errno || v > 0xFFFFFFFFull || value[0] == '-')
            usage("not a 32-bit number: " + value);
        auto d = static_cast<std::uint32_t>(v);
        data.resize(4);
        std::memcpy(data.data(), &d, 4);
    } else {
        type = 3;
        if (!parse_hex(value, data)) usage("binary values are hex digits in pairs: " + value);
    }
    if (data.size() > platform::kMaxValueBytes)
        fail("the value is " + std::to_string(data.size()) +
             " bytes; the registry stores at most " + std::to_string(platform::kMaxValueBytes));
    auto& ck = ctl.begin(Kind::RegCreateKey);
    ck.u32(root).s16(key);
    if (ctl.call(ck).status != Status::Ok) fail("cannot create key " + a.at(1));
    auto& w = ctl.begin(Kind::RegWriteValue);
    w.u32(root).s16(key).s16(to_u16(a.at(2))).u32(type).bin(data);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("refused: " + why(r.status));
    return kDone;
}

int verb_reg_delete(Ctl& ctl, const Args& a) {
    bool value = a.count() == 3;
    auto& w = ctl.begin(value ? Kind::RegDeleteValue : Kind::RegDeleteKey);
    w.u32(parse_root(a.at(0))).s16(to_u16(a.at(1)));
    if (value) w.s16(to_u16(a.at(2)));
    if (ctl.call(w).status != Status::Ok) fail("nothing to delete");
    return kDone;
}

int verb_reg_export(Ctl& ctl, const Args& a) {
    auto root = parse_root(a.at(0));
    auto key = to_u16(a.at(1));
    if (!ctl.key_exists(root, key)) fail(std::string("no key ") + root_name(root) + "\\" + a.at(1));
    std::printf("Windows Registry Editor Version 5.00\n");
    export_key(ctl, root, key);
    return kDone;
}

}  // namespace lumo::ctl
