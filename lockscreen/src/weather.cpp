// Today's weather: the readers of the five weather programs' data and of UserWeather, run on the
// worker thread (or on the main thread for WM_CHANGE_WEATHER), the hand-over by message 1053, and
// the icon and high/low text in the lower left corner.
//
// The readers only read and parse: they fill a plain WeatherReading. The pictures (icon, text)
// are made on the main thread when it takes the result over, because the picture decoder and the
// font engine are the main thread's and are not made to be used from two threads at once.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/lockscreen/weather_parse.h"
#include "lumo/platform/files.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
using catalogue::Id;
namespace wp = weather;

namespace {

constexpr std::size_t kMaxForecastFileBytes = std::size_t(1) << 20;
constexpr int kStripCells = 31;

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
std::string utf8(std::u16string_view s) { return to_utf8(s); }
std::u16string num16(long v) { return to_u16(std::to_string(v)); }

const char16_t* const kDayAbbrev[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char* const kDayName[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::u16string two(int v) { return (v < 10 ? u"0" : u"") + num16(v); }

// ---- Spb Weather ---------------------------------------------------------------------------
constexpr std::u16string_view kSpbSettings = u"Software\\Spb Software House\\Spb Weather\\Settings";

// A value read as text whatever its type: the city id may be stored as a number or a string.
std::optional<std::u16string> any_text(Registry& reg, Root root, std::u16string_view key, std::u16string_view name) {
    if (auto s = reg.get_string(root, key, name)) return s;
    if (auto d = reg.get_dword(root, key, name)) return num16(long(*d));
    return std::nullopt;
}

WeatherOutcome read_spb(Context& c, const LocalTime& now, WeatherReading& out) {
    auto& reg = c.p.registry();
    auto views = reg.get_dword(Root::CurrentUser, kSpbSettings, u"Views Options");
    auto units = reg.get_dword(Root::CurrentUser, kSpbSettings, u"Units");
    if (!views || !units) return WeatherOutcome::Unchanged;
    int client = int((*views >> 8) & 0xF);
    if (client == 15) client = 0;
    bool fahrenheit = (*units & 0xF) != 0;
    auto client_key = std::u16string(kSpbSettings) + u"\\Clients\\Spb Weather\\" + num16(client);
    auto city = any_text(reg, Root::CurrentUser, client_key, u"City ID");
    if (!city) return WeatherOutcome::Unchanged;
    std::u16string today = num16(now.year) + two(now.month) + two(now.day);
    for (int n = 0; n <= 10; ++n) {
        auto key = std::u16string(kSpbSettings) + u"\\Cities\\" + num16(n);
        auto id = any_text(reg, Root::CurrentUser, key, u"ID");
        if (!id || *id != *city) continue;
        wp::SpbToday t;
        for (int d = 0; d <= 50; ++d)
            if (auto day = reg.get_string(Root::CurrentUser, key, u"Day" + num16(d)))
                wp::add_spb_day(t, wp::parse_spb_day(*day), today);
        if (t.records == 0) return WeatherOutcome::Unchanged;
        out.icons = WeatherIcons::Strip;
        out.layout = WeatherLayout::Strip;
        if (!t.condition) return WeatherOutcome::Nothing;
        auto shown = [&](int v) {
            bool stored_f = wp::spb_unit_is_fahrenheit(t.unit);
            if (stored_f == fahrenheit) return v;
            return fahrenheit ? wp::to_fahrenheit(v) : wp::to_celsius(v);
        };
        std::optional<int> high, low;
        if (t.high != -200) high = shown(t.high);
        if (t.low != 200) low = shown(t.low);
        out.code = *t.condition;
        out.icon = *t.condition;
        out.text = wp::high_low(high, low);
        return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
    }
    return WeatherOutcome::Unchanged;
}

// ---- Weather Panel -------------------------------------------------------------------------
constexpr std::u16string_view kPanelKey = u"Software\\MarsWare\\WeatherPanel";

WeatherOutcome read_weather_panel(Context& c, const LocalTime& now, WeatherReading& out) {
    auto& reg = c.p.registry();
    auto cities_key = std::u16string(kPanelKey) + u"\\Cities";
    auto cities = reg.open_key(Root::CurrentUser, cities_key);
    if (!cities) return WeatherOutcome::Unchanged;
    std::optional<std::u16string> city;
    for (std::uint32_t i = 0; i < 11; ++i) {
        auto name = reg.enum_subkey(*cities, i);
        if (!name) break;
        city = name;
        if (reg.get_dword(Root::CurrentUser, cities_key + u"\\" + *name, u"order") == 0u) break;
    }
    if (!city) return WeatherOutcome::Unchanged;
    auto path = reg.get_string(Root::CurrentUser, kPanelKey, u"ProgramPath");
    if (!path) return WeatherOutcome::Unchanged;
    std::uint32_t options = reg.get_dword(Root::CurrentUser, kPanelKey, u"options").value_or(0);
    std::uint32_t custom = reg.get_dword(Root::CurrentUser, kPanelKey, u"customConversions").value_or(0);
    std::uint32_t mode = (options >> 5) & 7;
    bool to_celsius = (mode == 1 && custom == 1) || mode == 4;
    // The city name is the other program's key name: it names a file in its data folder only.
    if (city->find_first_of(u"\\/") != std::u16string::npos || *city == u".." || *city == u".") {
        c.log.printf("Weather Panel: city %s is no file name", utf8(*city).c_str());
        return WeatherOutcome::Unchanged;
    }
    auto file = *path + u"\\data\\" + *city + u"-forecast";
    auto host = c.p.processes().host_path(file);
    if (!host) return WeatherOutcome::Unchanged;
    std::string why;
    auto bytes = read_file(*host, kMaxForecastFileBytes, &why);
    if (!bytes) {
        c.log.printf("Weather Panel: %s: %s", utf8(file).c_str(), why.c_str());
        return WeatherOutcome::Unchanged;
    }
    long today = wp::automation_day(now.year, now.month, now.day);
    auto day = wp::weather_panel_today(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), today);
    if (!day) {
        c.log.printf("Weather Panel: no forecast for day %ld in %s", today, utf8(file).c_str());
        return WeatherOutcome::Unchanged;
    }
    auto conv = [&](std::optional<int> v) -> std::optional<int> {
        if (!v || !to_celsius) return v;
        return wp::to_celsius(*v);
    };
    out.code = out.icon = day->condition;
    out.text = wp::high_low(conv(day->high), conv(day->low));
    return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
}

// ---- Pocket Weather ------------------------------------------------------------------------
constexpr std::u16string_view kPocketKey = u"Software\\SBSH\\PocketWeather";

WeatherOutcome read_pocket_weather(Context& c, const LocalTime& now, WeatherReading& out) {
    auto& reg = c.p.registry();
    auto units = reg.get_dword(Root::CurrentUser, kPocketKey, u"TemperatureUnits");
    auto home = reg.get_dword(Root::CurrentUser, kPocketKey, u"HomeCity");
    if (!home) return WeatherOutcome::Unchanged;
    auto code = reg.get_string(Root::CurrentUser, kPocketKey, u"CityCode" + num16(long(*home) + 1));
    if (!code || code->empty()) return WeatherOutcome::Unchanged;
    *code = code->substr(0, 15);
    if (code->find(u'\\') != std::u16string::npos) return WeatherOutcome::Unchanged;
    auto key = std::u16string(kPocketKey) + u"\\" + *code;
    std::u16string prefix = num16(now.year) + u"/" + two(now.month) + u"/" + two(now.day) + u"|";
    std::optional<std::u16string> found;
    auto look = [&](const std::u16string& name) {
        if (found) return;
        auto v = reg.get_string(Root::CurrentUser, key, name);
        if (v && v->find(prefix) != std::u16string::npos) found = v;
    };
    for (int i = 1; i <= 9; ++i) look(u"WD00" + num16(i));
    for (int i = 10; i <= 99; ++i) look(u"WD0" + num16(i));
    for (int i = 1; i <= 100; ++i) look(u"WD" + num16(i));
    if (!found) return WeatherOutcome::Unchanged;
    auto day = wp::pocket_weather_fields(*found);
    if (!day) {
        c.log.printf("Pocket Weather: a forecast without its fields: %s", utf8(found->substr(0, 80)).c_str());
        return WeatherOutcome::Unchanged;
    }
    int high, low;
    if (units.value_or(0) != 0) {
        high = wp::to_fahrenheit(day->high);
        low = wp::to_fahrenheit(day->low);
    } else {
        high = wp::round_reading(day->high);
        low = wp::round_reading(day->low);
    }
    out.code = out.icon = wp::map_condition(day->condition);
    out.text = wp::high_low(high, low);
    return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
}

// ---- HTC Home and HTC Manila 2D ------------------------------------------------------------
WeatherOutcome read_htc_home(Context& c, const LocalTime& now, bool manila_2d, WeatherReading& out) {
    auto& reg = c.p.registry();
    std::u16string base = manila_2d ? u"Software\\HTC\\Manila2D\\Weather" : u"Software\\HTC\\HTCHome\\Weather";
    auto settings = base + u"\\Settings";
    std::uint32_t celsius = reg.get_dword(Root::LocalMachine, settings, u"Celsius").value_or(0);
    std::uint32_t country = manila_2d ? reg.get_dword(Root::LocalMachine, settings, u"CurrentCountryIndex").value_or(0) : 0;
    std::u16string today = kDayAbbrev[now.day_of_week % 7];
    for (int i = 0; i <= 4; ++i) {
        auto key = manila_2d ? base + u"\\" + num16(long(country)) + u"\\Forecast" + num16(i)
                             : base + u"\\Forecast" + num16(i);
        if (!reg.open_key(Root::LocalMachine, key)) return WeatherOutcome::Unchanged;
        auto day = reg.get_string(Root::LocalMachine, key, u"DayCode");
        if (!day || day->substr(0, 4) != today) continue;
        auto icon = reg.get_string(Root::LocalMachine, key, u"Icon").value_or(u"").substr(0, 2);
        auto high = wp::leading_number(reg.get_string(Root::LocalMachine, key, u"HighTemp").value_or(u""));
        auto low = wp::leading_number(reg.get_string(Root::LocalMachine, key, u"LowTemp").value_or(u""));
        auto shown = [&](std::optional<double> f) -> std::optional<int> {
            if (!f) return std::nullopt;
            return celsius == 1 ? wp::to_celsius(*f) : wp::round_reading(*f);
        };
        out.icons = WeatherIcons::Htc;
        out.layout = WeatherLayout::HtcHome;
        out.htc_icon = icon;
        out.code = int(wp::leading_number(icon).value_or(0));
        out.text = wp::high_low(shown(high), shown(low));
        return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
    }
    return WeatherOutcome::Unchanged;
}

// ---- the user value ------------------------------------------------------------------------
WeatherOutcome read_user_value(Context& c, WeatherReading& out) {
    auto value = c.p.registry().get_string(Root::CurrentUser, protocol::kRootKey, protocol::mailbox::kUserWeather);
    if (!value || value->empty()) return WeatherOutcome::Unchanged;
    auto u = wp::parse_user_weather(*value);
    if (!u) return WeatherOutcome::Unchanged;
    switch (u->kind) {
        case u'C':
            out.code = out.icon = u->icon;
            out.text = u->text;
            break;
        case u'S':
            out.icons = WeatherIcons::Strip;
            out.layout = WeatherLayout::Strip;
            out.code = out.icon = u->icon;
            out.text = wp::high_low(u->high, u->low);
            break;
        case u'P':
        case u'W':
            out.code = out.icon = wp::map_condition(u->icon);
            out.text = wp::high_low(u->high, u->low);
            break;
        default:
            c.log.printf("UserWeather: unknown kind %d", int(u->kind));
            return WeatherOutcome::Nothing;
    }
    return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
}

// ---- HTC Manila, from its databases --------------------------------------------------------
class Database {
public:
    ~Database() {
        if (db_) sqlite3_close(db_);
    }
    // Read-only: the lock screen never changes the other program's files.
    bool open(const std::filesystem::path& file) {
        return sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
    }
    const char* error() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }
    // A statement without outside values, as a table (rows and columns logged by the caller).
    bool table(const char* sql, int& rows, int& cols, std::string& first) {
        char** result = nullptr;
        char* message = nullptr;
        if (sqlite3_get_table(db_, sql, &result, &rows, &cols, &message) != SQLITE_OK) {
            sqlite3_free(message);
            return false;
        }
        if (rows > 0 && cols > 0 && result[cols]) first = result[cols];
        sqlite3_free_table(result);
        return true;
    }
    // The first row of a query whose outside values (a city, a day) are bound, never pasted
    // into the statement: a city code holding a quote cannot change what runs.
    bool first_row(const std::string& sql, std::initializer_list<std::string> values, std::vector<std::string>& row,
                   bool& found) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) return false;
        int i = 1;
        for (const auto& v : values) sqlite3_bind_text(st, i++, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
        int rc = sqlite3_step(st);
        found = rc == SQLITE_ROW;
        row.clear();
        if (found)
            for (int k = 0; k < sqlite3_column_count(st); ++k) {
                auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, k));
                row.emplace_back(t ? t : "");
            }
        sqlite3_finalize(st);
        return rc == SQLITE_ROW || rc == SQLITE_DONE;
    }

private:
    sqlite3* db_ = nullptr;
};

constexpr std::u16string_view kManilaKey = u"Software\\HTC\\Manila";
constexpr std::u16string_view kManilaCities = u"\\Windows\\2330fc3c_manila";
constexpr std::u16string_view kManilaForecasts = u"\\Application Data\\HTC\\databases\\forecast_cache.db";

std::optional<std::filesystem::path> existing(Context& c, std::u16string_view device_path) {
    auto host = c.p.processes().host_path(device_path);
    std::error_code ec;
    if (!host || !std::filesystem::is_regular_file(*host, ec)) return std::nullopt;
    return host;
}

WeatherOutcome read_manila(Context& c, const LocalTime& now, bool current_on, WeatherReading& out) {
    auto& reg = c.p.registry();
    auto list = reg.get_string(Root::CurrentUser, kManilaKey, u"Weather.CityList").value_or(u"");
    std::uint32_t current = reg.get_dword(Root::CurrentUser, kManilaKey, u"Weather.CurrentCity").value_or(0);
    bool fahrenheit = false;
    if (auto f = reg.get_dword(Root::CurrentUser, kManilaKey, u"Weather.Fahrenheit")) fahrenheit = *f != 0;
    else if (auto cel = reg.get_dword(Root::CurrentUser, kManilaKey, u"Weather.Celsius")) fahrenheit = *cel == 0;
    std::string city_id, points = "forecastPoints_HWC", forecasts = "forecasts_HWC";
    if (current == 0) {
        city_id = "0";
    } else {
        points = "forecastPoints";
        forecasts = "forecasts";
        std::u16string code;
        std::size_t start = 0;
        for (std::uint32_t i = 1;; ++i) {
            auto comma = list.find(u',', start);
            if (i == current) {
                code = list.substr(start, comma == std::u16string::npos ? std::u16string::npos : comma - start);
                break;
            }
            if (comma == std::u16string::npos) break;
            start = comma + 1;
        }
        code = code.substr(0, 12);
        c.log.printf("City Code: %s", utf8(code).c_str());
        if (auto file = existing(c, kManilaCities)) {
            Database cities;
            if (!cities.open(*file)) {
                c.log.printf("SQL error: %s", cities.error());
                return WeatherOutcome::Unchanged;
            }
            std::vector<std::string> row;
            bool found = false;
            if (!cities.first_row("SELECT id FROM cities WHERE accuweatherCode = ?", {utf8(code)}, row, found)) {
                c.log.printf("SQL error: %s", cities.error());
                return WeatherOutcome::Unchanged;
            }
            if (found) city_id = row[0].substr(0, 4);
        }
    }
    c.log.printf("CityID %s", city_id.c_str());
    auto file = existing(c, kManilaForecasts);
    if (!file) return WeatherOutcome::Unchanged;
    Database db;
    if (!db.open(*file)) {
        c.log.printf("SQL error: %s", db.error());
        return WeatherOutcome::Unchanged;
    }
    int rows = 0, cols = 0;
    std::string mode;
    if (!db.table("PRAGMA locking_mode = NORMAL;", rows, cols, mode)) {
        c.log.printf("SQL error: %s", db.error());
        return WeatherOutcome::Unchanged;
    }
    c.log.printf("QResult %d %d", rows, cols);
    if (db.table("PRAGMA locking_mode;", rows, cols, mode)) c.log.printf("QResult %s", mode.c_str());
    const char* unit = fahrenheit ? "F" : "C";
    std::string sql = "SELECT conditionIcon, high" + std::string(unit) + ", low" + unit + " FROM " + points +
                      " WHERE cityId = ? AND dayOfWeek = ?";
    std::vector<std::string> row;
    bool found = false;
    if (!db.first_row(sql, {city_id, kDayName[now.day_of_week % 7]}, row, found)) {
        c.log.printf("SQL error: %s", db.error());
        return WeatherOutcome::Unchanged;
    }
    if (!found) {
        if (!db.first_row(sql, {city_id, kDayName[(now.day_of_week + 1) % 7]}, row, found)) {
            c.log.printf("SQL error: %s", db.error());
            return WeatherOutcome::Unchanged;
        }
        c.log.printf("2nd QResult %d %d", int(found), found ? int(row.size()) : 0);
    }
    if (!found || row.size() < 3) {
        c.log.printf("SQL End");
        return WeatherOutcome::Unchanged;
    }
    std::string icon = row[0].substr(0, 3), high = row[1].substr(0, 7), low = row[2].substr(0, 7);
    c.log.printf("Forecast: %s, %s, %s", icon.c_str(), high.c_str(), low.c_str());
    if (current_on) {
        std::string now_sql = "SELECT currentConditionIcon, currentTemperature" + std::string(unit) + " FROM " +
                              forecasts + " WHERE cityId = ?";
        std::vector<std::string> cur;
        bool any = false;
        if (db.first_row(now_sql, {city_id}, cur, any) && any && cur.size() >= 2) {
            icon = cur[0].substr(0, 3);
            out.current = to_u16(cur[1].substr(0, 7)) + u"\u00B0";
            c.log.printf("Current: %s, %s", cur[0].c_str(), cur[1].c_str());
        }
    }
    c.log.printf("SQL End");
    out.icons = WeatherIcons::Htc;
    out.layout = WeatherLayout::HtcManila;
    out.htc_icon = (icon.size() == 1 ? u"0" : u"") + to_u16(icon);
    out.code = int(wp::leading_number(std::string_view(icon)).value_or(0));
    out.text = to_u16(high) + u"\u00B0/" + to_u16(low) + u"\u00B0";
    return out.code != 0 ? WeatherOutcome::Found : WeatherOutcome::Nothing;
}

// ---- pictures (main thread) ----------------------------------------------------------------
int slider_bar_top(const Context& c) {
    return c.screen_height - unit(c, c.settings.num(Id::NoSoftKey) != 0 ? 11 : 60);
}

int text_size_height(const Context& c) { return unit(c, 12 + 2 * int(c.settings.num(Id::TextSize))); }

void render(Context& c, gfx::Image& img, int height, const std::u16string& text) {
    int shadow = int(c.settings.num(Id::TextShadow));
    if (shadow != 0)
        gfx::RenderTextHalo(img, c.screen, shadow, nullptr, height, 600, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0);
    else
        gfx::RenderText(img, c.screen, height, 600, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
}

void clear(gfx::Image& img) {
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
}

void load_icon(Context& c, const WeatherReading& r) {
    auto& w = c.weather;
    clear(w.icon);
    switch (r.icons) {
        case WeatherIcons::Numbered:
            gfx::LoadImageFile(w.icon, c.screen, gfx_path(c, u"weather\\" + num16(r.icon) + u".png"), gfx::kFitNative, 0, 0);
            break;
        case WeatherIcons::Htc:
            gfx::LoadImageFile(w.icon, c.screen, gfx_path(c, u"weather\\HH_WEATHER_" + r.htc_icon + u".png"),
                               gfx::kFitNative, 0, 0);
            break;
        case WeatherIcons::Strip: {
            if (r.icon < 0 || r.icon >= kStripCells) break;
            gfx::Image strip;
            if (!gfx::LoadImageFile(strip, c.screen, gfx_path(c, u"weather\\weather.png"), gfx::kFitNative, 0, 0)) break;
            int cell = strip.width / kStripCells;
            if (cell > 0) gfx::CropImage(w.icon, strip, cell, strip.height, r.icon * cell, 0, 0);
            break;
        }
    }
}

void make_text(Context& c, const WeatherReading& r) {
    auto& w = c.weather;
    clear(w.text);
    if (!c.screen.fonts) return;
    if (r.current.empty()) {
        if (!r.text.empty()) render(c, w.text, unit(c, 12), r.text);
        return;
    }
    // The current temperature in the date's size, then the forecast, sharing their bottom line.
    gfx::Image now, range;
    gfx::RenderText(now, c.screen, text_size_height(c), 600, 0xFFFFFF, r.current, gfx::kTextSingleLine, 0, 0, 0, 0,
                    false, 0);
    gfx::RenderText(range, c.screen, unit(c, 12), 600, 0xFFFFFF, r.text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    int width = now.width + range.width, height = std::max(now.height, range.height);
    if (width <= 0 || height <= 0 || !gfx::FillImage(w.text, c.screen, width, height, 0, false, 0)) return;
    gfx::ComposeImage(w.text, c.screen, now, 0, height - now.height, 0, 0, 0, 0, gfx::kColourKey, 32);
    gfx::ComposeImage(w.text, c.screen, range, now.width, height - range.height, 0, 0, 0, 0, gfx::kColourKey, 32);
}

void lay_out(Context& c, const WeatherReading& r) {
    auto& w = c.weather;
    const int bar = slider_bar_top(c);
    const int iw = w.icon.width, tw = w.text.width;
    switch (r.layout) {
        case WeatherLayout::Box:
            w.icon_x = (unit(c, 50) - iw) / 2;
            w.text_x = std::max(0, (unit(c, 50) - tw) / 2);
            break;
        case WeatherLayout::Strip:
            w.icon_x = unit(c, 6);
            w.text_x = std::max(0, (unit(c, 44) - tw) / 2);
            break;
        case WeatherLayout::HtcHome:
            w.icon_x = 0;
            w.text_x = std::max(0, (iw - tw) / 2);
            break;
        case WeatherLayout::HtcManila:
            w.icon_x = -unit(c, 1);
            w.text_x = std::max(0, (iw - tw) / 2 + w.icon_x);
            break;
    }
    w.icon_y = bar - w.icon.height;
    if (r.source == 1) w.icon_y -= 1;
    if (r.layout == WeatherLayout::HtcManila) w.icon_y -= 2 * w.icon_x;
    w.text_y = bar - unit(c, 1);
    if (c.settings.num(Id::CurrentWeather) != 0)
        w.text_y = bar + unit(c, 12) - unit(c, 1) - text_size_height(c);
}

}  // namespace

void snapshot_weather_settings(Context& c) {
    c.weather.source = int(c.settings.num(Id::ShowWeather));
    c.weather.current_on = c.settings.num(Id::CurrentWeather) != 0;
}

WeatherOutcome read_weather(Context& c, int source, bool current_on, WeatherReading& out) {
    out = WeatherReading{};
    out.source = source;
    auto now = c.p.clock().local_time();
    switch (source) {
        case 1: return read_spb(c, now, out);
        case 2: return read_weather_panel(c, now, out);
        case 3: return read_pocket_weather(c, now, out);
        case 4: return read_htc_home(c, now, false, out);
        case 5: return read_user_value(c, out);
        case 6: return read_htc_home(c, now, true, out);
        case 7: return read_manila(c, now, current_on, out);
        default: return WeatherOutcome::Unchanged;
    }
}

void refresh_weather(Context& c) {
    auto& w = c.weather;
    int source = w.source;
    c.log.printf("Update Weather %d", source);
    WeatherReading r;
    auto outcome = read_weather(c, source, w.current_on, r);
    if (outcome == WeatherOutcome::Unchanged) return;
    if (outcome == WeatherOutcome::Nothing) {
        w.fade = 0;
        return;
    }
    WParam fade;
    {
        std::lock_guard lock(w.hand_over);
        fade = WParam(r.code == w.last_code ? w.fade.load() : 12);
        w.last_code = r.code;
        w.pending = std::move(r);
    }
    if (c.main_window) c.p.windows().post(c.main_window, kWeatherResultMessage, fade, 0);
}

void take_weather(Context& c, WParam fade) {
    auto& w = c.weather;
    std::optional<WeatherReading> r;
    {
        std::lock_guard lock(w.hand_over);
        r.swap(w.pending);
    }
    if (!r) return;
    w.fade = int(std::min<WParam>(fade, 32));
    load_icon(c, *r);
    make_text(c, *r);
    lay_out(c, *r);
    w.code = r->code;
    w.shown = std::move(*r);
    ++w.refreshes;
    c.log.printf("Weather %d: %s", w.code, utf8(w.shown.text).c_str());
    request_redraw(c);
}

void relayout_weather(Context& c) {
    if (c.weather.code != 0) lay_out(c, c.weather.shown);
}

void draw_weather(Context& c) {
    auto& w = c.weather;
    if (c.settings.num(Id::ShowWeather) == 0 || w.code == 0) return;
    int a = std::min(w.fade.load(), c.scene_alpha);
    int dy = c.bottom_offset;
    if (!w.icon.empty()) gfx::DrawImage(w.icon, c.screen, w.icon_x, w.icon_y + dy, 0, 0, 0, gfx::kColourKey, a);
    if (!w.text.empty()) gfx::DrawImage(w.text, c.screen, w.text_x, w.text_y + dy, 0, 0, 0, gfx::kColourKey, a);
    w.fade = std::min(32, w.fade + 4);
}

bool on_music_weather_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    namespace pr = protocol;
    switch (msg) {
        case pr::WM_CHANGE_WEATHER:
            snapshot_weather_settings(c);
            refresh_weather(c);
            return true;
        case kWeatherResultMessage: take_weather(c, w); return true;
        case pr::WM_CHANGE_ZORPTITLE: update_music_title(c); return true;
        case pr::WM_CHANGE_ZORPALBUM:
            update_music_album(c);
            if (l == 0) request_redraw(c);
            return true;
        case pr::WM_CHANGE_ZORPSTATUS:
            c.music.status = std::uint32_t(w);
            if (l == 0) request_redraw(c);
            return true;
        case pr::WM_CHANGE_ZORPVOLUME:
            c.music.volume = int(std::min<WParam>(w, 100));
            request_redraw(c);
            return true;
        default: return false;
    }
}

}  // namespace lumo::lockscreen
