#pragma once
// The weather programs' stored forecasts, read without the phone: the texts and numbers the
// readers find are parsed here, so that every rule can be tried (and fuzzed) on its own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumo::lockscreen::weather {

// Condition codes of the numbered icon set as the lock screen draws them (48 and above: 0).
int map_condition(int code);
// Conversions rounded half away from zero.
int to_fahrenheit(double celsius);
int to_celsius(double fahrenheit);
// A reading shown as it is: rounded half up (-2.5 gives -2, -2.7 gives -3).
int round_reading(double v);

// A number at the start of a text (blanks first allowed); nullopt when there is none.
std::optional<double> leading_number(std::u16string_view s);
std::optional<double> leading_number(std::string_view s);

// "%d°/%d°"; a missing side is "-".
std::u16string high_low(std::optional<int> high, std::optional<int> low);

// One "Day%d" string: key=value items separated by ';'.
struct SpbDay {
    std::u16string date;  // "fd=", yyyyMMdd
    std::optional<int> high, low, hour, condition, unit;
};
SpbDay parse_spb_day(std::u16string_view s);

// Today's records gathered: the highest high, the lowest low, and the condition and unit of the
// first record, replaced by those of every record between 12 and 17 h.
struct SpbToday {
    int records = 0;
    int high = -200, low = 200;
    std::optional<int> condition;
    int unit = 0;
};
void add_spb_day(SpbToday& today, const SpbDay& day, std::u16string_view date);
// Unit codes below 514 are Celsius.
inline bool spb_unit_is_fahrenheit(int unit) { return unit >= 514; }

// A forecast text file: records of a day-number line followed by the day's lines. Today's high,
// low and (mapped) condition; nullopt when no record is today's.
struct PanelDay {
    std::optional<int> high, low;  // -9999 in the file: missing
    int condition = 0;
};
std::optional<PanelDay> weather_panel_today(std::string_view text, long day);

// A "WD" value: fields separated by '|', the first holding the date; field 2 the high, 3 the
// low (Celsius), 9 the condition. nullopt when the fields are not there.
struct PocketDay {
    double high = 0, low = 0;
    int condition = 0;  // as stored
};
std::optional<PocketDay> pocket_weather_fields(std::u16string_view s);

// UserWeather: kind | icon | high | low, or C | icon | free text.
struct UserValue {
    char16_t kind = 0;
    int icon = 0;
    int high = 0, low = 0;
    std::u16string text;  // C only, cut to kUserTextMax
};
inline constexpr std::size_t kUserTextMax = 260;
std::optional<UserValue> parse_user_weather(std::u16string_view s);

// The days-since-1899-12-30 number a date has (the whole-day part of the platform's date value).
long automation_day(int year, int month, int day);

}  // namespace lumo::lockscreen::weather
