// Parsing the weather programs' stored forecasts. Everything here takes outside data as it is
// found: any text gives a result or nothing, never a read past its end.
#include "lumo/lockscreen/weather_parse.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace lumo::lockscreen::weather {

namespace {

// Numbers outside this range are nonsense in a forecast; they are held there so that no
// conversion overflows an int.
constexpr double kLimit = 1e6;

double held(double v) {
    if (!std::isfinite(v)) return 0;
    return std::fmax(-kLimit, std::fmin(kLimit, v));
}

template <typename Char>
std::optional<double> parse_number(std::basic_string_view<Char> s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == Char(' ') || s[i] == Char('\t'))) ++i;
    std::string ascii;
    // Sign, digits and one decimal point: a plain number, never an exponent or "inf".
    if (i < s.size() && (s[i] == Char('-') || s[i] == Char('+'))) ascii.push_back(char(s[i++]));
    bool digits = false, point = false;
    for (; i < s.size() && ascii.size() < 32; ++i) {
        Char ch = s[i];
        if (ch >= Char('0') && ch <= Char('9')) {
            ascii.push_back(char(ch));
            digits = true;
        } else if ((ch == Char('.') || ch == Char(',')) && !point) {
            ascii.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    return held(std::strtod(ascii.c_str(), nullptr));
}

std::optional<int> as_int(std::optional<double> v) {
    if (!v) return std::nullopt;
    return int(std::trunc(*v));
}

std::vector<std::u16string_view> split(std::u16string_view s, char16_t sep) {
    std::vector<std::u16string_view> out;
    std::size_t start = 0;
    while (true) {
        auto at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::u16string_view::npos ? std::u16string_view::npos : at - start));
        if (at == std::u16string_view::npos) break;
        start = at + 1;
    }
    return out;
}

std::u16string number_text(int v) {
    auto s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

}  // namespace

int map_condition(int code) {
    if (code >= 48) return 0;
    switch (code) {
        case 2: case 4: case 24: case 38: return code - 1;
        case 17: case 35: case 47: return 3;
        case 18: return 6;
        case 27: case 29: case 31: return code + 1;
        case 33: return 34;
        case 39: case 40: return 12;
        case 41: case 42: return 16;
        case 44: return 30;
        case 45: return 11;
        case 46: return 14;
        default: return code;
    }
}

int to_fahrenheit(double celsius) { return int(std::lround(held(celsius) * 1.8 + 32)); }
int to_celsius(double fahrenheit) { return int(std::lround((held(fahrenheit) - 32) / 1.8)); }
int round_reading(double v) { return int(std::floor(held(v) + 0.5)); }

std::optional<double> leading_number(std::u16string_view s) { return parse_number(s); }
std::optional<double> leading_number(std::string_view s) { return parse_number(s); }

std::u16string high_low(std::optional<int> high, std::optional<int> low) {
    std::u16string t = high ? number_text(*high) + u"\u00B0" : u"-";
    t += u"/";
    t += low ? number_text(*low) + u"\u00B0" : u"-";
    return t;
}

SpbDay parse_spb_day(std::u16string_view s) {
    SpbDay d;
    for (auto item : split(s, u';')) {
        auto eq = item.find(u'=');
        if (eq == std::u16string_view::npos) continue;
        auto key = item.substr(0, eq);
        auto value = item.substr(eq + 1, 30);
        if (key == u"fd") d.date = std::u16string(value);
        else if (key == u"thi") d.high = as_int(parse_number(value));
        else if (key == u"tlo") d.low = as_int(parse_number(value));
        else if (key == u"fhr") d.hour = as_int(parse_number(value));
        else if (key == u"sc") d.condition = as_int(parse_number(value));
        else if (key == u"un") d.unit = as_int(parse_number(value));
    }
    return d;
}

void add_spb_day(SpbToday& t, const SpbDay& d, std::u16string_view date) {
    if (d.date != date) return;
    if (d.high && *d.high > t.high) t.high = *d.high;
    if (d.low && *d.low < t.low) t.low = *d.low;
    bool midday = d.hour && *d.hour >= 12 && *d.hour <= 17;
    if (t.records == 0 || midday) {
        if (d.condition) t.condition = d.condition;
        if (d.unit) t.unit = *d.unit;
    }
    ++t.records;
}

std::optional<PanelDay> weather_panel_today(std::string_view text, long day) {
    // Lines end in '\n' (a '\r' before it goes too); a last line without one is whole.
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto at = text.find('\n', start);
        auto line = text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    constexpr std::size_t kRecordLines = 17;
    for (std::size_t i = 0; i < lines.size(); i += kRecordLines) {
        auto n = parse_number(lines[i]);
        if (!n || long(std::floor(*n)) != day) continue;
        auto line = [&](std::size_t k) -> std::string_view { return i + k < lines.size() ? lines[i + k] : ""; };
        PanelDay p;
        auto temp = [](std::string_view l) -> std::optional<int> {
            auto v = parse_number(l);
            if (!v || *v == -9999) return std::nullopt;
            return int(std::lround(*v));
        };
        p.high = temp(line(1));
        p.low = temp(line(2));
        p.condition = map_condition(as_int(parse_number(line(5))).value_or(0));
        return p;
    }
    return std::nullopt;
}

std::optional<PocketDay> pocket_weather_fields(std::u16string_view s) {
    auto fields = split(s, u'|');
    if (fields.size() < 9) return std::nullopt;
    auto high = parse_number(fields[1]), low = parse_number(fields[2]), cond = parse_number(fields[8]);
    if (!high || !low || !cond) return std::nullopt;
    return PocketDay{*high, *low, int(std::trunc(*cond))};
}

std::optional<UserValue> parse_user_weather(std::u16string_view s) {
    if (s.empty()) return std::nullopt;
    UserValue u;
    u.kind = s[0];
    auto fields = split(s, u'|');
    auto field = [&](std::size_t k) { return k < fields.size() ? fields[k] : std::u16string_view(); };
    u.icon = as_int(parse_number(field(1))).value_or(0);
    if (u.kind == u'C') {
        auto first = s.find(u'|');
        auto second = first == std::u16string_view::npos ? first : s.find(u'|', first + 1);
        if (second != std::u16string_view::npos) u.text = std::u16string(s.substr(second + 1, kUserTextMax));
        return u;
    }
    u.high = as_int(parse_number(field(2))).value_or(0);
    u.low = as_int(parse_number(field(3))).value_or(0);
    return u;
}

long automation_day(int year, int month, int day) {
    // Days from 1970-01-01 (proleptic Gregorian), then moved to the 1899-12-30 origin.
    int y = year - (month <= 2);
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153L * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long unix_days = era * 146097 + doe - 719468;
    return unix_days + 25569;
}

}  // namespace lumo::lockscreen::weather
