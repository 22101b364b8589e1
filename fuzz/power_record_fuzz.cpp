// Power notification records with arbitrary bytes: decoded within their limits or refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lumo/platform/power.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                                 reinterpret_cast<const std::byte*>(data) + size);
    auto r = lumo::platform::decode_power_record(bytes);
    if (!r) return 0;
    if (size > lumo::platform::kPowerRecordMax) std::abort();
    // A transition's name fits in the record it came from.
    if (r->type == lumo::platform::kPowerTransition && r->state_name.size() * 2 > size) std::abort();
    // A held power button carries nothing but its header.
    if (r->type == lumo::platform::kPowerButtonHeld && !r->state_name.empty()) std::abort();
    return 0;
}
