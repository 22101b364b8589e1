#pragma once
// Conversions at the edge between the phone's UTF-16 strings and UTF-8 (host, logs, command line),
// and the case folding the phone uses when it compares registry and window names.
#include <string>
#include <string_view>

namespace lumo::platform {

std::u16string to_u16(std::string_view utf8);
std::string to_utf8(std::u16string_view utf16);

// Upper-cases one UTF-16 unit the way name comparisons need it (ASCII, Latin-1, Greek, Cyrillic).
char16_t fold_case(char16_t c);
std::u16string fold_case(std::u16string_view s);
bool equal_no_case(std::u16string_view a, std::u16string_view b);

}  // namespace lumo::platform
