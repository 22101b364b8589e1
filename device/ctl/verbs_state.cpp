// The phone's published state: gsm, flight mode, connections, ringer, headset, cradle, stylus,
// keyboard, sync and owner. Every verb writes the registry value a phone's own drivers would,
// so the broker tells the programs exactly as it does for any other writer.
#include <cstdio>
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

constexpr std::uint32_t kCU = 1, kLM = 2;
const std::u16string kPhone = u"System\\State\\Phone";
const std::u16string kHardware = u"System\\State\\Hardware";
const std::u16string kOwner = u"ControlPanel\\Owner";
constexpr std::uint32_t kRadioOffBit = 0x10;
constexpr std::uint32_t kBluetoothHeadsetBits = 0x14;

void write(Ctl& ctl, std::uint32_t root, const std::u16string& key, const std::u16string& name,
           std::uint32_t type, const std::vector<std::byte>& data) {
    auto& ck = ctl.begin(Kind::RegCreateKey);
    ck.u32(root).s16(key);
    if (ctl.call(ck).status != Status::Ok) fail("cannot create key " + to_utf8(key));
    auto& w = ctl.begin(Kind::RegWriteValue);
    w.u32(root).s16(key).s16(name).u32(type).bin(data);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the registry refused " + to_utf8(name) + ": " + why(r.status));
}

void write_dword(Ctl& ctl, std::uint32_t root, const std::u16string& key, const std::u16string& name,
                 std::uint32_t v) {
    std::vector<std::byte> data(4);
    std::memcpy(data.data(), &v, 4);
    write(ctl, root, key, name, 4, data);
}

void write_string(Ctl& ctl, std::uint32_t root, const std::u16string& key, const std::u16string& name,
                  const std::string& v) {
    write(ctl, root, key, name, 1, platform::encode_string_value(to_u16(v)));
}

void remove(Ctl& ctl, std::uint32_t root, const std::u16string& key, const std::u16string& name) {
    auto& w = ctl.begin(Kind::RegDeleteValue);
    w.u32(root).s16(key).s16(name);
    ctl.call(w);  // a value already gone is what was asked for
}

// Changes some bits in one host request: the other bits belong to other parts of the phone,
// and the host may change them between a read here and a write.
void update_bits(Ctl& ctl, std::uint32_t root, const std::u16string& key, const std::u16string& name,
                 std::uint32_t clear, std::uint32_t set) {
    auto& w = ctl.begin(Kind::RegUpdateBits);
    w.u32(root).s16(key).s16(name).u32(clear).u32(set);
    auto r = ctl.call(w);
    if (r.status == Status::BadRequest) fail(to_utf8(name) + " under " + to_utf8(key) + " is not a number");
    if (r.status != Status::Ok) fail("the registry refused " + to_utf8(name) + ": " + why(r.status));
}

bool on(const Args& a) {
    const auto& w = a.at(0);
    return w == "on" || w == "out" || w == "open";
}

// Every value the published-state verbs write and the lock screen reads, for `state`.
struct Published {
    std::uint32_t root;
    const char16_t* key;
    const char16_t* name;
};
constexpr Published kPublished[] = {
    {kLM, u"System\\State\\Phone", u"Signal Strength Raw"},
    {kLM, u"System\\State\\Phone", u"Current Operator Name"},
    {kLM, u"System\\State\\Phone", u"Cellular System Connected"},
    {kLM, u"System\\State\\Phone", u"Status"},
    {kLM, u"Drivers\\BuiltIn\\RIL", u"CFU_State"},
    {kLM, u"System\\State\\Connections", u"Count"},
    {kCU, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode"},
    {kLM, u"System\\State\\Hardware", u"Headset"},
    {kLM, u"System\\State\\Hardware", u"Bluetooth"},
    {kLM, u"System\\State\\Hardware", u"Wifi"},
    {kLM, u"System\\State\\Hardware", u"Cradled"},
    {kCU, u"ControlPanel\\Keybd", u"StylusOutStatus"},
    {kLM, u"System\\GDI\\Rotation", u"SlideKey"},
    {kLM, u"System\\State\\ActiveSync", u"Synchronizing"},
    {kCU, u"ControlPanel\\Owner", u"Name"},
    {kCU, u"ControlPanel\\Owner", u"Telephone"},
};

}  // namespace

int verb_gsm_network(Ctl& ctl, const Args& a) {
    if (a.sub == "signal") {
        auto v = parse_number(a.at(0), "PERCENT");
        if (v > 100) usage("PERCENT must be 0 to 100, not '" + a.at(0) + "'");
        write_dword(ctl, kLM, kPhone, u"Signal Strength Raw", v);
    } else if (a.sub == "operator") {
        // No operator name is how the phone says it has no service.
        if (a.at(0).empty()) remove(ctl, kLM, kPhone, u"Current Operator Name");
        else write_string(ctl, kLM, kPhone, u"Current Operator Name", a.at(0));
    } else if (a.sub == "data") {
        struct DataKind {
            const char* word;
            std::uint32_t bits;
        };
        // The connection strip shows the highest bit: G, 1X, E, EV, 3G, H, H+.
        static const DataKind kKinds[] = {{"none", 0},     {"gprs", 0x1},   {"edge", 0x4}, {"umts", 0x10},
                                      {"hsdpa", 0x20}, {"hsupa", 0x40}, {"hspa", 0x60}};
        for (const auto& k : kKinds)
            if (a.at(0) == k.word) write_dword(ctl, kLM, kPhone, u"Cellular System Connected", k.bits);
    } else {
        write_dword(ctl, kLM, u"Drivers\\BuiltIn\\RIL", u"CFU_State", on(a) ? 1 : 0);
    }
    return kDone;
}

int verb_radio_flight(Ctl& ctl, const Args& a) {
    update_bits(ctl, kLM, kPhone, u"Status", kRadioOffBit, on(a) ? kRadioOffBit : 0);
    return kDone;
}

int verb_network(Ctl& ctl, const Args& a) {
    write_dword(ctl, kLM, u"System\\State\\Connections", u"Count", parse_number(a.at(0), "N"));
    return kDone;
}

int verb_ringer(Ctl& ctl, const Args& a) {
    const std::uint32_t mode = a.at(0) == "sound" ? 0 : a.at(0) == "vibrate" ? 1 : 2;
    write_dword(ctl, kCU, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", mode);
    return kDone;
}

int verb_headset(Ctl& ctl, const Args& a) {
    const auto& kind = a.at(0);
    write_dword(ctl, kLM, kHardware, u"Headset", kind == "wired" ? 1 : 0);
    const std::uint32_t bt = kind == "bt-stereo" ? 0x4 : kind == "bt-handsfree" ? 0x10 : 0;
    update_bits(ctl, kLM, kHardware, u"Bluetooth", kBluetoothHeadsetBits, bt);
    return kDone;
}

int verb_cradle(Ctl& ctl, const Args& a) {
    write_dword(ctl, kLM, kHardware, u"Cradled", on(a) ? 1 : 0);
    return kDone;
}

int verb_stylus(Ctl& ctl, const Args& a) {
    write_dword(ctl, kCU, u"ControlPanel\\Keybd", u"StylusOutStatus", on(a) ? 1 : 0);
    return kDone;
}

int verb_keyboard(Ctl& ctl, const Args& a) {
    if (!ctl.read(kLM, u"System\\GDI\\Rotation", u"SlideKey"))
        fail("this phone has no slide-out keyboard (a new phone with --oem htc-pro has one)");
    write_dword(ctl, kLM, u"System\\GDI\\Rotation", u"SlideKey", on(a) ? 1 : 0);
    return kDone;
}

int verb_sensor(Ctl& ctl, const Args& a) {
    const std::u16string key = u"Software\\HTC\\HTCSensor\\GSensor";
    if (!ctl.read(kLM, key, u"EventChanged"))
        fail("this phone has no G-sensor (a new phone with --oem htc* has one)");
    auto q = parse_number(a.at(0), "QUARTERS");
    if (q > 3) fail("the orientation is 0, 1, 2 or 3 quarter turns");
    write_dword(ctl, kLM, key, u"EventChanged", q);
    return kDone;
}

int verb_sync(Ctl& ctl, const Args& a) {
    write_dword(ctl, kLM, u"System\\State\\ActiveSync", u"Synchronizing", on(a) ? 1 : 0);
    return kDone;
}

int verb_owner(Ctl& ctl, const Args& a) {
    write_string(ctl, kCU, kOwner, u"Name", a.at(0));
    if (a.count() > 1) write_string(ctl, kCU, kOwner, u"Telephone", a.at(1));
    else remove(ctl, kCU, kOwner, u"Telephone");
    return kDone;
}

int verb_state(Ctl& ctl, const Args&) {
    for (const auto& p : kPublished) {
        auto v = ctl.read(p.root, p.key, p.name);
        if (!v) continue;
        std::string value;
        if (v->type == 1) {
            value = to_utf8(platform::decode_string_value(v->data));
        } else if (v->type == 4 && v->data.size() == 4) {
            std::uint32_t n = 0;
            std::memcpy(&n, v->data.data(), 4);
            value = std::to_string(n);
        } else {
            value = "(" + std::to_string(v->data.size()) + " bytes)";
        }
        std::printf("%s\t%s\t%s\t%s\n", p.root == kCU ? "HKCU" : "HKLM", to_utf8(p.key).c_str(),
                    to_utf8(p.name).c_str(), value.c_str());
    }
    return kDone;
}

}  // namespace lumo::ctl
