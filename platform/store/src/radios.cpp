#include "lumo/store/radios.h"

#include <cstring>

namespace lumo::store {

namespace {

std::uint32_t read_bits(const RegistryStore& reg, std::u16string_view value) {
    auto v = reg.find_value(platform::Root::LocalMachine, kHardwareKey, value);
    if (!v || v->info.type != platform::ValueType::Dword || v->data->size() != 4) return 0;
    std::uint32_t bits = 0;
    std::memcpy(&bits, v->data->data(), 4);
    return bits;
}

}  // namespace

std::vector<platform::RadioDevice> list_radios(const RegistryStore& reg) {
    std::vector<platform::RadioDevice> out;
    for (const auto& row : kRadios)
        out.push_back({row.type, std::u16string(row.name),
                       (read_bits(reg, row.value) & row.power_bit) != 0});
    return out;
}

bool set_radio(RegistryStore& reg, platform::RadioType type, bool on) {
    for (const auto& row : kRadios) {
        if (row.type != type) continue;
        std::uint32_t bits = read_bits(reg, row.value);
        bits = on ? bits | row.power_bit : bits & ~(row.power_bit | row.cleared_when_off);
        if (!reg.create_key(platform::Root::LocalMachine, kHardwareKey)) return false;
        return reg.write_value(platform::Root::LocalMachine, kHardwareKey, row.value,
                               platform::ValueType::Dword, std::as_bytes(std::span(&bits, 1)));
    }
    return false;
}

}  // namespace lumo::store
