#include "weather_programs.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "lumo/platform/clock.h"
#include "lumo/platform/process.h"
#include "lumo/platform/text.h"
#include "lumo/wire/protocol.h"
#include "process_service.h"

namespace lumo::host {

namespace fs = std::filesystem;
using platform::Root;
using platform::to_u16;
using platform::to_utf8;
using platform::ValueType;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr std::u16string_view kSpb = u"Software\\Spb Software House\\Spb Weather";
constexpr std::u16string_view kSpbSettings = u"Software\\Spb Software House\\Spb Weather\\Settings";
constexpr std::u16string_view kPanel = u"Software\\MarsWare\\WeatherPanel";
constexpr std::u16string_view kPanelFolder = u"\\Program Files\\WeatherPanel";
constexpr std::u16string_view kPocket = u"Software\\SBSH\\PocketWeather";
constexpr std::u16string_view kHtcHome = u"Software\\HTC\\HTCHome\\Weather";
constexpr std::u16string_view kManila2D = u"Software\\HTC\\Manila2D\\Weather";
constexpr std::u16string_view kManila = u"Software\\HTC\\Manila";
constexpr std::u16string_view kManilaCities = u"\\Windows\\2330fc3c_manila";
constexpr std::u16string_view kManilaForecasts = u"\\Application Data\\HTC\\databases\\forecast_cache.db";
constexpr std::u16string_view kManilaCode = u"EUR|LU|LU001";
constexpr int kManilaCityId = 7;

const char16_t* const kDayAbbrev[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char* const kDayName[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::u16string num(long v) { return to_u16(std::to_string(v)); }
std::u16string two(int v) { return (v < 10 ? u"0" : u"") + num(v); }

// One decimal, as the programs that keep Celsius or Fahrenheit as text store it.
std::string decimal(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", std::round(v * 10) / 10);
    std::string s = buf;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    if (s == "-0") s = "0";
    return s;
}
double to_f(double c) { return c * 1.8 + 32; }
double to_c(double f) { return (f - 32) / 1.8; }

long automation_day(const platform::LocalTime& t) {
    int y = t.year - (t.month <= 2);
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153L * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 25569;
}

platform::LocalTime day_after(const platform::LocalTime& t, int days) {
    auto ft = platform::local_to_file_time(t) + std::uint64_t(std::int64_t(days) * 864000000000LL);
    return platform::file_time_to_local(ft);
}

bool exec(sqlite3* db, const std::string& sql, std::string* why) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) == SQLITE_OK) return true;
    *why = err ? err : "database error";
    sqlite3_free(err);
    return false;
}

// A new database file each time: written whole under another name and moved into place, so the
// lock screen never reads half a forecast.
bool write_database(const fs::path& file, const std::string& sql, std::string* why) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    fs::path tmp = file;
    tmp += ".new";
    fs::remove(tmp, ec);
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(tmp.c_str(), &db) == SQLITE_OK && exec(db, sql, why);
    if (!ok && why->empty()) *why = db ? sqlite3_errmsg(db) : "cannot open the database";
    sqlite3_close(db);
    if (ok) fs::rename(tmp, file, ec);
    if (!ok || ec) {
        fs::remove(tmp, ec);
        if (ok) *why = "cannot move the database into place";
        return false;
    }
    return true;
}

std::string sql_text(std::u16string_view s) {
    std::string out = "'";
    for (char ch : to_utf8(s)) {
        if (ch == '\'') out += '\'';
        out += ch;
    }
    return out + "'";
}

}  // namespace

WeatherPrograms::WeatherPrograms(Host& host, ProcessService& processes)
    : host_(host), processes_(processes), fs_root_(fs::path(host.options().dir) / "fs") {
    register_handlers();
}

fs::path WeatherPrograms::file(std::u16string_view device_path) const {
    return platform::map_device_path(fs_root_, device_path).value_or(fs_root_ / "Temp" / "weather");
}

bool WeatherPrograms::write(const Forecast& f, std::string* why) {
    auto& reg = host_.registry();
    auto set_s = [&](Root root, std::u16string_view key, std::u16string_view name, std::u16string_view v) {
        reg.create_key(root, key);
        auto bytes = platform::encode_string_value(v);
        return reg.write_value(root, key, name, ValueType::String, bytes);
    };
    auto set_d = [&](Root root, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        reg.create_key(root, key);
        return reg.write_value(root, key, name, ValueType::Dword, std::as_bytes(std::span(&v, 1)));
    };
    const auto now = platform::file_time_to_local(
        std::uint64_t(processes_.local_now_ms() + 11644473600000LL) * 10000ULL);
    const double high = f.high, low = f.low;
    auto celsius = [&](double v) { return f.fahrenheit ? to_c(v) : v; };
    auto fahrenheit = [&](double v) { return f.fahrenheit ? v : to_f(v); };
    auto date = [](const platform::LocalTime& t) { return num(t.year) + two(t.month) + two(t.day); };
    switch (f.source) {
        case 1: {  // Spb Weather: three records a day; the client shows city 1
            set_d(Root::CurrentUser, kSpbSettings, u"Views Options", 0x0F00);
            set_d(Root::CurrentUser, kSpbSettings, u"Units", f.fahrenheit ? 1 : 0);
            set_s(Root::CurrentUser, std::u16string(kSpbSettings) + u"\\Clients\\Spb Weather\\0", u"City ID", u"1");
            auto city = std::u16string(kSpbSettings) + u"\\Cities\\0";
            set_s(Root::CurrentUser, city, u"ID", u"1");
            set_s(Root::CurrentUser, city, u"Name", f.city);
            const std::u16string un = f.fahrenheit ? u"514" : u"0";
            int n = 0;
            for (int d = -1; d <= 1; ++d) {
                auto day = date(day_after(now, d));
                const int hours[3] = {6, 12, 18};
                for (int k = 0; k < 3; ++k) {
                    // Midday has the day's high, the night its low.
                    int hi = k == 1 ? f.high : f.high - 2, lo = k == 2 ? f.low : f.low + 1;
                    int sc = k == 1 ? f.icon : (f.icon + 1) % 31;
                    set_s(Root::CurrentUser, city, u"Day" + num(n++),
                          u"fd=" + day + u";fhr=" + num(hours[k]) + u";thi=" + num(hi) + u";tlo=" + num(lo) +
                              u";sc=" + num(sc) + u";un=" + un);
                }
            }
            return true;
        }
        case 2: {  // Weather Panel: a forecast file of 17-line records under the program's folder
            for (auto ch : f.city)
                if (ch == u'\\' || ch == u'/' || ch == u':') {
                    *why = "a city name is a file name: no \\, / or :";
                    return false;
                }
            auto cities = std::u16string(kPanel) + u"\\Cities\\" + f.city;
            set_d(Root::CurrentUser, cities, u"order", 0);
            set_s(Root::CurrentUser, kPanel, u"ProgramPath", kPanelFolder);
            set_d(Root::CurrentUser, kPanel, u"options", 0);
            set_d(Root::CurrentUser, kPanel, u"customConversions", 0);
            std::string text;
            for (int d = -1; d <= 2; ++d) {
                text += std::to_string(automation_day(day_after(now, d))) + "\r\n";
                text += std::to_string(f.high + (d ? 1 : 0)) + "\r\n" + std::to_string(f.low) + "\r\n";
                text += "0\r\n0\r\n" + std::to_string(f.icon) + "\r\n";
                for (int i = 0; i < 11; ++i) text += "-\r\n";
            }
            auto path = file(std::u16string(kPanelFolder) + u"\\data\\" + f.city + u"-forecast");
            std::error_code ec;
            fs::create_directories(path.parent_path(), ec);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (!(out << text)) {
                *why = "cannot write " + path.string();
                return false;
            }
            return true;
        }
        case 3: {  // Pocket Weather: "WD" values with Celsius reals, one per day
            set_d(Root::CurrentUser, kPocket, u"TemperatureUnits", f.fahrenheit ? 1 : 0);
            set_d(Root::CurrentUser, kPocket, u"HomeCity", 0);
            set_s(Root::CurrentUser, kPocket, u"CityCode1", u"LUXX0001");
            auto key = std::u16string(kPocket) + u"\\LUXX0001";
            for (int d = -1; d <= 2; ++d) {
                auto t = day_after(now, d);
                auto day = num(t.year) + u"/" + two(t.month) + u"/" + two(t.day);
                set_s(Root::CurrentUser, key, u"WD00" + num(d + 2),
                      day + u"|" + to_u16(decimal(celsius(high))) + u"|" + to_u16(decimal(celsius(low))) +
                          u"|0|0|0|0|0|" + num(f.icon) + u"|" + f.city);
            }
            return true;
        }
        case 4:
        case 6: {  // HTC Home and Manila 2D: five forecast keys with Fahrenheit texts
            bool m2d = f.source == 6;
            auto base = std::u16string(m2d ? kManila2D : kHtcHome);
            set_d(Root::LocalMachine, base + u"\\Settings", u"Celsius", f.fahrenheit ? 0 : 1);
            if (m2d) set_d(Root::LocalMachine, base + u"\\Settings", u"CurrentCountryIndex", 0);
            for (int i = 0; i <= 4; ++i) {
                auto key = m2d ? base + u"\\0\\Forecast" + num(i) : base + u"\\Forecast" + num(i);
                set_s(Root::LocalMachine, key, u"DayCode", kDayAbbrev[(now.day_of_week + i) % 7]);
                set_s(Root::LocalMachine, key, u"Icon", two(f.icon));
                set_s(Root::LocalMachine, key, u"HighTemp", to_u16(decimal(fahrenheit(high))));
                set_s(Root::LocalMachine, key, u"LowTemp", to_u16(decimal(fahrenheit(low))));
                set_s(Root::LocalMachine, key, u"City", f.city);
            }
            return true;
        }
        case 5:  // another program's value, in the W kind
            set_s(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"UserWeather",
                  u"W|" + num(f.icon) + u"|" + num(f.high) + u"|" + num(f.low));
            return true;
        case 7: {  // HTC Manila: the city list and the two databases
            std::string points, currents;
            for (int d = 0; d < 7; ++d) {
                int hi = f.high + (d ? d % 3 : 0), lo = f.low - (d ? d % 2 : 0);
                points += "INSERT INTO forecastPoints VALUES(" + std::to_string(kManilaCityId) + ", '" +
                          kDayName[(now.day_of_week + d) % 7] + "', '" + std::to_string(f.icon) + "', '" +
                          decimal(fahrenheit(hi)) + "', '" + decimal(fahrenheit(lo)) + "', '" + decimal(celsius(hi)) +
                          "', '" + decimal(celsius(lo)) + "');";
            }
            double now_temp = (high + low) / 2;
            currents = "INSERT INTO forecasts VALUES(" + std::to_string(kManilaCityId) + ", '" + std::to_string(f.icon) +
                       "', '" + decimal(std::round(fahrenheit(now_temp))) + "', '" + decimal(std::round(celsius(now_temp))) +
                       "', " + sql_text(f.city) + ");";
            const std::string schema =
                "CREATE TABLE forecastPoints(cityId INTEGER, dayOfWeek TEXT, conditionIcon TEXT, highF TEXT,"
                " lowF TEXT, highC TEXT, lowC TEXT);"
                "CREATE TABLE forecasts(cityId INTEGER, currentConditionIcon TEXT, currentTemperatureF TEXT,"
                " currentTemperatureC TEXT, name TEXT);";
            if (!write_database(file(kManilaCities),
                                "CREATE TABLE cities(id INTEGER, accuweatherCode TEXT, name TEXT);"
                                "INSERT INTO cities VALUES(" + std::to_string(kManilaCityId) + ", " +
                                    sql_text(kManilaCode) + ", " + sql_text(f.city) + ");",
                                why) ||
                !write_database(file(kManilaForecasts), schema + points + currents, why))
                return false;
            set_s(Root::CurrentUser, kManila, u"Weather.CityList", std::u16string(kManilaCode));
            set_d(Root::CurrentUser, kManila, u"Weather.CurrentCity", 1);
            set_d(Root::CurrentUser, kManila, u"Weather.Fahrenheit", f.fahrenheit ? 1 : 0);
            // Written last: the lock service is told of a new forecast by this value.
            set_d(Root::CurrentUser, kManila, u"Weather.LastUpdateTime",
                  std::uint32_t(processes_.local_now_ms() / 1000));
            return true;
        }
        default:
            *why = "no such weather source";
            return false;
    }
}

void WeatherPrograms::clear() {
    auto& reg = host_.registry();
    reg.delete_key(Root::CurrentUser, kSpb);
    reg.delete_key(Root::CurrentUser, kPanel);
    reg.delete_key(Root::CurrentUser, kPocket);
    reg.delete_key(Root::LocalMachine, kHtcHome);
    reg.delete_key(Root::LocalMachine, kManila2D);
    for (auto name : {u"Weather.CityList", u"Weather.CurrentCity", u"Weather.Fahrenheit", u"Weather.Celsius",
                      u"Weather.LastUpdateTime"})
        reg.delete_value(Root::CurrentUser, kManila, name);
    reg.delete_value(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"UserWeather");
    std::error_code ec;
    fs::remove_all(file(kPanelFolder), ec);
    fs::remove(file(kManilaCities), ec);
    fs::remove(file(kManilaForecasts), ec);
}

void WeatherPrograms::register_handlers() {
    host_.add_handler(Kind::WeatherSet, [this](ClientConn&, Reader& in, Writer& out) {
        Forecast f;
        f.source = int(in.u32());
        f.icon = in.i32();
        f.high = in.i32();
        f.low = in.i32();
        f.fahrenheit = in.u32() != 0;
        f.city = in.s16();
        if (!in.done()) return false;
        if (f.source < 1 || f.source > 7 || f.icon < 0 || f.icon > 99 || std::abs(f.high) > 999 ||
            std::abs(f.low) > 999 || f.city.empty() || f.city.size() > 40) {
            out.status(Status::BadRequest);
            return true;
        }
        std::string why;
        if (write(f, &why)) {
            host_.log().printf("weather source %d: icon %d, %d/%d %s", f.source, f.icon, f.high, f.low,
                               f.fahrenheit ? "F" : "C");
            out.status(Status::Ok);
        } else {
            out.status(Status::Failed).s16(to_u16(why));
        }
        return true;
    });
    host_.add_handler(Kind::WeatherClear, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        clear();
        host_.log().line("weather cleared");
        out.status(Status::Ok);
        return true;
    });
}

}  // namespace lumo::host
