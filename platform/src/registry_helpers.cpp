#include <cstring>

#include "lumo/platform/registry.h"

namespace lumo::platform {

std::vector<std::byte> encode_string_value(std::u16string_view s) {
    std::vector<std::byte> out((s.size() + 1) * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = std::byte(s[i] & 0xFF);
        out[2 * i + 1] = std::byte(s[i] >> 8);
    }
    return out;  // the last two bytes stay zero: the terminator
}

std::u16string decode_string_value(std::span<const std::byte> data) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        auto c = char16_t(std::to_integer<unsigned>(data[i]) |
                          (std::to_integer<unsigned>(data[i + 1]) << 8));
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

// The getters read by path in one request: a read of a value under a missing key fails as the
// read of a missing value does, so opening the key first would only cost a second round trip.
std::optional<std::u16string> Registry::get_string(Root root, std::u16string_view path,
                                                   std::u16string_view name) {
    std::vector<std::byte> buf(kMaxValueBytes);
    ValueInfo info;
    if (!read_value(RegKey{root, std::u16string(path)}, name, buf, &info, ValueType::String))
        return std::nullopt;
    return decode_string_value(std::span(buf).first(info.size));
}

std::optional<std::uint32_t> Registry::get_dword(Root root, std::u16string_view path,
                                                 std::u16string_view name) {
    std::byte buf[4];
    ValueInfo info;
    if (!read_value(RegKey{root, std::u16string(path)}, name, buf, &info, ValueType::Dword) || info.size != 4)
        return std::nullopt;
    std::uint32_t v;
    std::memcpy(&v, buf, 4);
    return v;
}

std::optional<std::vector<std::byte>> Registry::get_binary(Root root, std::u16string_view path,
                                                           std::u16string_view name) {
    std::vector<std::byte> buf(kMaxValueBytes);
    ValueInfo info;
    if (!read_value(RegKey{root, std::u16string(path)}, name, buf, &info, ValueType::Binary))
        return std::nullopt;
    buf.resize(info.size);
    return buf;
}

bool Registry::set_string(Root root, std::u16string_view path, std::u16string_view name,
                          std::u16string_view value) {
    auto key = create_key(root, path);
    return key && write_value(*key, name, ValueType::String, encode_string_value(value));
}

bool Registry::set_dword(Root root, std::u16string_view path, std::u16string_view name,
                         std::uint32_t value) {
    auto key = create_key(root, path);
    std::byte buf[4];
    std::memcpy(buf, &value, 4);
    return key && write_value(*key, name, ValueType::Dword, buf);
}

bool Registry::set_binary(Root root, std::u16string_view path, std::u16string_view name,
                          std::span<const std::byte> value) {
    auto key = create_key(root, path);
    return key && write_value(*key, name, ValueType::Binary, value);
}

}  // namespace lumo::platform
