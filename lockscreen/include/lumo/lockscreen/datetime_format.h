#pragma once
// Date and time picture strings as the phone's formatting functions take them: d, dd, ddd, dddd,
// M, MM, MMM, MMMM, y, yy, yyyy, h, hh, H, HH, m, mm, s, ss, t, tt and 'quoted literals' (two
// quotes inside a literal give one). The locale supplies the names; the system's locale and its
// 12/24-hour choice are read from the registry.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "lumo/platform/clock.h"
#include "lumo/platform/registry.h"

namespace lumo::lockscreen {

struct DateTimeLocale {
    std::uint32_t lcid = 0x0409;
    std::array<std::u16string_view, 7> days;         // Sunday first
    std::array<std::u16string_view, 7> short_days;
    std::array<std::u16string_view, 12> months;
    std::array<std::u16string_view, 12> short_months;
    std::u16string am, pm;
    std::u16string short_date;   // the user's short date picture
    std::u16string time_format;  // the system's time picture (12 or 24 hours)
};

// English (United States): the clock's own locale.
const DateTimeLocale& english_us();
const DateTimeLocale& german();

// The system locale: HKLM "nls" DefaultLCID (0x0407 German, anything else English), with the
// user's short date (HKCU "ControlPanel\International" sShortDate), time picture (sTimeFormat)
// and morning and afternoon marks (s1159, s2359) when set.
DateTimeLocale system_locale(platform::Registry& reg);

// Whether a time picture shows 24-hour time (it has an 'H' outside quotes).
bool is_24_hour(std::u16string_view picture);

std::u16string format_datetime(std::u16string_view picture, const platform::LocalTime& t,
                               const DateTimeLocale& locale);

}  // namespace lumo::lockscreen
