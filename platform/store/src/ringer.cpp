#include "lumo/store/ringer.h"

#include <cstring>

namespace lumo::store {

using platform::Root;

platform::RingerType read_ringer(const RegistryStore& reg) {
    auto v = reg.find_value(Root::CurrentUser, platform::kRingerModeKey, platform::kRingerModeValue);
    if (!v || v->info.type != platform::ValueType::Dword || v->data->size() != 4) return platform::RingerType::On;
    std::uint32_t mode = 0;
    std::memcpy(&mode, v->data->data(), 4);
    return platform::ringer_from_mode(mode);
}

bool write_ringer(RegistryStore& reg, platform::RingerType type) {
    auto mode = static_cast<std::uint32_t>(type);
    if (mode > static_cast<std::uint32_t>(platform::RingerType::None)) return false;
    if (!reg.create_key(Root::CurrentUser, platform::kRingerModeKey)) return false;
    return reg.write_value(Root::CurrentUser, platform::kRingerModeKey, platform::kRingerModeValue,
                           platform::ValueType::Dword, std::as_bytes(std::span(&mode, 1)));
}

}  // namespace lumo::store
