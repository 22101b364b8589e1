#include "phone_state.h"

#include <string_view>

#include "lumo/platform/registry.h"

namespace lumo::host {

using platform::Root;

namespace {

struct Default {
    Root root;
    std::u16string_view key, name;
    std::u16string_view text;  // a string value when not empty
    std::uint32_t number = 0;
};

constexpr std::u16string_view kPhone = u"System\\State\\Phone";
constexpr std::u16string_view kHardware = u"System\\State\\Hardware";

constexpr Default kDefaults[] = {
    {Root::LocalMachine, kPhone, u"Signal Strength Raw", {}, 100},
    {Root::LocalMachine, kPhone, u"Current Operator Name", u"Lumo Mobile"},
    {Root::LocalMachine, kPhone, u"Cellular System Connected", {}, 0},
    {Root::LocalMachine, u"Drivers\\BuiltIn\\RIL", u"CFU_State", {}, 0},
    {Root::LocalMachine, u"System\\State\\Connections", u"Count", {}, 0},
    {Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", {}, 0},
    {Root::LocalMachine, kHardware, u"Headset", {}, 0},
    {Root::LocalMachine, kHardware, u"Cradled", {}, 0},
    {Root::LocalMachine, kHardware, u"Bluetooth", {}, 0},
    {Root::LocalMachine, kHardware, u"Wifi", {}, 0},
    {Root::CurrentUser, u"ControlPanel\\Keybd", u"StylusOutStatus", {}, 0},
    {Root::LocalMachine, u"System\\State\\ActiveSync", u"Synchronizing", {}, 0},
};

void write_missing(store::RegistryStore& reg, const Default& d) {
    if (reg.find_value(d.root, d.key, d.name)) return;
    reg.create_key(d.root, d.key);
    if (!d.text.empty()) {
        auto bytes = platform::encode_string_value(d.text);
        reg.write_value(d.root, d.key, d.name, platform::ValueType::String, bytes);
    } else {
        reg.write_value(d.root, d.key, d.name, platform::ValueType::Dword,
                        std::as_bytes(std::span(&d.number, 1)));
    }
}

}  // namespace

void publish_state_defaults(store::RegistryStore& reg, bool keyboard, bool gsensor) {
    for (const auto& d : kDefaults) write_missing(reg, d);
    if (keyboard) write_missing(reg, {Root::LocalMachine, u"System\\GDI\\Rotation", u"SlideKey", {}, 0});
    // HTC's G-sensor driver publishes the orientation it last saw, upright at first.
    if (gsensor) write_missing(reg, {Root::LocalMachine, u"Software\\HTC\\HTCSensor\\GSensor", u"EventChanged", {}, 0});
}

}  // namespace lumo::host
