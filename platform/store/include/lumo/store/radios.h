#pragma once
// The phone's radios as the device publishes them: each radio's power is a bit of a value under
// HKLM System\State\Hardware, which is what programs subscribe to. The host and the fake both
// keep the radios here, so the two agree by construction.
#include <optional>
#include <vector>

#include "lumo/platform/wireless.h"
#include "lumo/store/registry_store.h"

namespace lumo::store {

inline constexpr std::u16string_view kHardwareKey = u"System\\State\\Hardware";

struct RadioRow {
    platform::RadioType type;
    std::u16string_view name;
    std::u16string_view value;  // under kHardwareKey
    std::uint32_t power_bit;
    std::uint32_t cleared_when_off;  // connections that end with the radio
};

// Bluetooth's 0x4 and 0x10 are its connected headsets.
inline constexpr RadioRow kRadios[] = {
    {platform::RadioType::WiFi, u"Wi-Fi", u"Wifi", 0x2, 0},
    {platform::RadioType::Bluetooth, u"Bluetooth", u"Bluetooth", 0x1, 0x14},
};

std::vector<platform::RadioDevice> list_radios(const RegistryStore& reg);
// False when the phone has no radio of that type.
bool set_radio(RegistryStore& reg, platform::RadioType type, bool on);

}  // namespace lumo::store
