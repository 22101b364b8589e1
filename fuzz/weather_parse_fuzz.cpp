// The weather readers' parsers with arbitrary input: the first byte picks the parser (Spb day
// strings, Weather Panel forecast files, Pocket Weather values, UserWeather), the rest is the
// text as the other program left it. Every input gives a result or nothing, never a crash, and
// what comes out stays within its limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lumo/lockscreen/weather_parse.h"

namespace wp = lumo::lockscreen::weather;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t which = data[0] % 4;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    // Registry texts are UTF-16: two bytes a character.
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    switch (which) {
        case 0: {
            auto day = wp::parse_spb_day(text);
            wp::SpbToday today;
            wp::add_spb_day(today, day, day.date);
            if (today.records != 1) std::abort();
            if (day.condition && (*day.condition > 1000000 || *day.condition < -1000000)) std::abort();
            break;
        }
        case 1: {
            auto p = wp::weather_panel_today(bytes, 46363);
            if (p && (p->condition >= 48 || p->condition > 1000000)) std::abort();
            break;
        }
        case 2: {
            auto p = wp::pocket_weather_fields(text);
            if (p) {
                int mapped = wp::map_condition(p->condition);
                if (mapped >= 48) std::abort();
                (void)wp::to_fahrenheit(p->high);
                (void)wp::round_reading(p->low);
            }
            break;
        }
        default: {
            auto u = wp::parse_user_weather(text);
            if (u && u->text.size() > wp::kUserTextMax) std::abort();
            if (u) (void)wp::high_low(u->high, u->low);
            break;
        }
    }
    return 0;
}
