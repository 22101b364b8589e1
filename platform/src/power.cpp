#include "lumo/platform/power.h"

#include <algorithm>
#include <cstring>

namespace lumo::platform {
namespace {

constexpr std::size_t kHeader = 12;
constexpr std::size_t kInfoBytes = 25;  // five 32-bit figures and five bytes

void put32(std::vector<std::byte>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::byte((v >> (8 * i)) & 0xFF));
}
std::uint32_t get32(const std::vector<std::byte>& in, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t(std::to_integer<std::uint8_t>(in[at + i])) << (8 * i);
    return v;
}

}  // namespace

std::vector<std::byte> encode_power_transition(std::uint32_t flags, std::u16string_view name) {
    // Room for the name and its terminating NUL within the record.
    constexpr std::size_t kMaxChars = (kPowerRecordMax - kHeader) / 2 - 1;
    name = name.substr(0, std::min(name.size(), kMaxChars));
    std::vector<std::byte> out;
    put32(out, kPowerTransition);
    put32(out, flags);
    put32(out, std::uint32_t((name.size() + 1) * 2));
    for (char16_t c : name) {
        out.push_back(std::byte(c & 0xFF));
        out.push_back(std::byte(c >> 8));
    }
    out.push_back(std::byte{0});
    out.push_back(std::byte{0});
    return out;
}

std::vector<std::byte> encode_power_info(const PowerInfo& info) {
    std::vector<std::byte> out;
    put32(out, kPowerInfoChange);
    put32(out, 0);
    put32(out, std::uint32_t(kInfoBytes));
    for (auto v : {info.levels, info.battery_life_time, info.battery_full_life_time,
                   info.backup_life_time, info.backup_full_life_time})
        put32(out, v);
    for (auto b : {info.ac_line_status, info.battery_flag, info.battery_percent, info.backup_flag,
                   info.backup_percent})
        out.push_back(std::byte(b));
    return out;
}

std::vector<std::byte> encode_power_button_held() {
    std::vector<std::byte> out;
    put32(out, kPowerButtonHeld);
    put32(out, 0);
    put32(out, 0);
    return out;
}

std::optional<PowerRecord> decode_power_record(const std::vector<std::byte>& in) {
    if (in.size() < kHeader || in.size() > kPowerRecordMax) return std::nullopt;
    PowerRecord r;
    r.type = get32(in, 0);
    r.flags = get32(in, 4);
    std::size_t length = get32(in, 8);
    if (length > in.size() - kHeader) return std::nullopt;
    if (r.type == kPowerTransition) {
        for (std::size_t i = kHeader; i + 1 < kHeader + length; i += 2) {
            auto c = char16_t(std::to_integer<unsigned>(in[i]) | std::to_integer<unsigned>(in[i + 1]) << 8);
            if (c == 0) break;
            r.state_name.push_back(c);
        }
        return r;
    }
    if (r.type == kPowerButtonHeld) return r;
    if (r.type == kPowerInfoChange && length >= kInfoBytes) {
        auto& i = r.info;
        i.levels = get32(in, 12);
        i.battery_life_time = get32(in, 16);
        i.battery_full_life_time = get32(in, 20);
        i.backup_life_time = get32(in, 24);
        i.backup_full_life_time = get32(in, 28);
        auto byte = [&](std::size_t at) { return std::to_integer<std::uint8_t>(in[at]); };
        i.ac_line_status = byte(32);
        i.battery_flag = byte(33);
        i.battery_percent = byte(34);
        i.backup_flag = byte(35);
        i.backup_percent = byte(36);
        return r;
    }
    return std::nullopt;
}

}  // namespace lumo::platform
