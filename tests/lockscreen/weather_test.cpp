// Today's weather over the fake platform: each source's stored data, as the weather programs
// leave it, read through WM_CHANGE_WEATHER (and once through the worker's timer) into the icon
// and the high/low text, with the unit conversions, the missing values, the icon sets and the
// places; bad data leaves the last weather shown.
#include <sqlite3.h>

#include <fstream>
#include <random>

#include "device_process.h"
#include "lock_fixture.h"
#include "lumo/gfx/load.h"
#include "lumo/lockscreen/weather_parse.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace pr = protocol;

// The fixture's phone: Monday 2026-12-07, 09:05.
constexpr long kToday = 46363;  // its day number

class WeatherTest : public LockFixture {
protected:
    void started(int source) {
        set_byte(u"ShowWeather", std::uint8_t(source));
        set_byte(u"DebugOn", 1);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    }
    void refresh() { send(pr::WM_CHANGE_WEATHER); }
    const WeatherState& w() { return ctx->weather; }
    std::string text() { return to_utf8(w().shown.text); }
    int u(int n) { return gfx::ScaleUnit(ctx->screen, n); }
    void hkcu(std::u16string_view key, std::u16string_view name, std::u16string_view v) {
        fake.registry().create_key(Root::CurrentUser, key);
        fake.registry().set_string(Root::CurrentUser, key, name, v);
    }
    void hkcu(std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        fake.registry().create_key(Root::CurrentUser, key);
        fake.registry().set_dword(Root::CurrentUser, key, name, v);
    }
    void hklm(std::u16string_view key, std::u16string_view name, std::u16string_view v) {
        fake.registry().create_key(Root::LocalMachine, key);
        fake.registry().set_string(Root::LocalMachine, key, name, v);
    }
    void hklm(std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        fake.registry().create_key(Root::LocalMachine, key);
        fake.registry().set_dword(Root::LocalMachine, key, name, v);
    }
    void write_host(std::u16string_view device_path, const std::string& bytes) {
        auto p = host(device_path);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }
    // The icon as the theme has it, to compare with what was loaded.
    gfx::Image theme_icon(std::u16string_view file) {
        gfx::Image img;
        gfx::LoadImageFile(img, ctx->screen, gfx_path(*ctx, file), gfx::kFitNative, 0, 0);
        return img;
    }
    void user(std::u16string_view v) { set_text(u"UserWeather", v); }
};

bool same_pixels(const gfx::Image& a, const gfx::Image& b) {
    if (a.width != b.width || a.height != b.height || a.empty()) return false;
    return std::equal(a.pixels.get(), a.pixels.get() + std::size_t(a.width) * a.height, b.pixels.get());
}

// ---- the parsers on their own -------------------------------------------------------------

TEST(WeatherRules, ConditionMappingAndRounding) {
    using namespace weather;
    EXPECT_EQ(map_condition(2), 1);
    EXPECT_EQ(map_condition(38), 37);
    EXPECT_EQ(map_condition(35), 3);
    EXPECT_EQ(map_condition(18), 6);
    EXPECT_EQ(map_condition(31), 32);
    EXPECT_EQ(map_condition(33), 34);
    EXPECT_EQ(map_condition(40), 12);
    EXPECT_EQ(map_condition(42), 16);
    EXPECT_EQ(map_condition(44), 30);
    EXPECT_EQ(map_condition(45), 11);
    EXPECT_EQ(map_condition(46), 14);
    EXPECT_EQ(map_condition(47), 3);
    EXPECT_EQ(map_condition(48), 0);
    EXPECT_EQ(map_condition(7), 7);
    // Half away from zero both ways; a 0 is converted like any reading.
    EXPECT_EQ(to_fahrenheit(-2.5), 28);
    EXPECT_EQ(to_fahrenheit(0), 32);
    EXPECT_EQ(to_celsius(50), 10);
    EXPECT_EQ(to_celsius(41), 5);
    EXPECT_EQ(to_celsius(32), 0);
    EXPECT_EQ(round_reading(-2.5), -2);
    EXPECT_EQ(round_reading(-2.7), -3);
    EXPECT_EQ(round_reading(2.5), 3);
    EXPECT_EQ(automation_day(2026, 12, 7), kToday);
    EXPECT_EQ(automation_day(1899, 12, 30), 0);
}

TEST(WeatherRules, TextsFromOutsideNeverReadPastTheirEnd) {
    using namespace weather;
    EXPECT_FALSE(parse_user_weather(u"").has_value());
    auto s = parse_user_weather(u"S");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->icon, 0);
    EXPECT_FALSE(pocket_weather_fields(u"2026/12/07|1|2").has_value());
    auto spb = parse_spb_day(u"fd=20261207;thi=;tlo=x;sc=12345678901234567890123456789012345678");
    EXPECT_EQ(spb.date, u"20261207");
    EXPECT_FALSE(spb.high);
    EXPECT_FALSE(spb.low);
    EXPECT_EQ(spb.condition, 1000000);  // at most 30 characters, held to a sane range
    EXPECT_FALSE(weather_panel_today("", kToday).has_value());
    EXPECT_FALSE(weather_panel_today("46363", kToday)->high.has_value());
}

// ---- each source through the window procedure ----------------------------------------------

constexpr std::u16string_view kSpb = u"Software\\Spb Software House\\Spb Weather\\Settings";

TEST_F(WeatherTest, SpbTakesTheDaysExtremesAndTheMiddayCondition) {
    started(1);
    hkcu(kSpb, u"Views Options", 0x0F00);  // client 15 means client 0
    hkcu(kSpb, u"Units", 0u);
    hkcu(std::u16string(kSpb) + u"\\Clients\\Spb Weather\\0", u"City ID", u"4711");
    auto city = std::u16string(kSpb) + u"\\Cities\\3";
    hkcu(std::u16string(kSpb) + u"\\Cities\\1", u"ID", u"99");
    hkcu(city, u"ID", u"4711");
    hkcu(city, u"Day0", u"fd=20261206;thi=30;tlo=-20;fhr=12;sc=20;un=0");
    hkcu(city, u"Day1", u"fd=20261207;thi=14;tlo=6;fhr=6;sc=3;un=0");
    hkcu(city, u"Day2", u"fd=20261207;thi=21;tlo=9;fhr=12;sc=7;un=0");
    hkcu(city, u"Day3", u"fd=20261207;thi=17;tlo=4;fhr=18;sc=11;un=0");
    refresh();
    EXPECT_EQ(w().code, 7);
    EXPECT_EQ(text(), "21°/4°");
    // Cell 7 of the strip, 6 units in, one pixel higher than the others' icons.
    auto strip = theme_icon(u"weather\\weather.png");
    ASSERT_FALSE(strip.empty());
    gfx::Image cell;
    gfx::CropImage(cell, strip, strip.width / 31, strip.height, 7 * (strip.width / 31), 0, 0);
    EXPECT_TRUE(same_pixels(w().icon, cell));
    EXPECT_EQ(w().icon_x, u(6));
    EXPECT_EQ(w().icon_y, ctx->screen_height - u(60) - w().icon.height - 1);
    EXPECT_EQ(w().text_x, std::max(0, (u(44) - w().text.width) / 2));
    EXPECT_EQ(w().text_y, ctx->screen_height - u(60) - u(1));

    // Shown in Fahrenheit: Celsius records are converted; Fahrenheit records (514 up) are not.
    hkcu(kSpb, u"Units", 1u);
    refresh();
    EXPECT_EQ(text(), "70°/39°");
    hkcu(city, u"Day1", u"fd=20261207;thi=60;tlo=41;fhr=6;sc=3;un=514");
    hkcu(city, u"Day2", u"fd=20261207;thi=65;tlo=45;fhr=13;sc=8;un=514");
    hkcu(city, u"Day3", u"fd=20261207;thi=50;tlo=42;fhr=18;sc=8;un=514");
    refresh();
    EXPECT_EQ(text(), "65°/41°");
}

constexpr std::u16string_view kPanel = u"Software\\MarsWare\\WeatherPanel";

std::string panel_record(long day, const std::string& high, const std::string& low, int code) {
    std::string r = std::to_string(day) + "\r\n" + high + "\r\n" + low + "\r\n9\r\n9\r\n" + std::to_string(code) + "\r\n";
    for (int i = 0; i < 11; ++i) r += "x\r\n";
    return r;
}

TEST_F(WeatherTest, WeatherPanelReadsTodaysRecordOfTheFirstCity) {
    started(2);
    hkcu(std::u16string(kPanel) + u"\\Cities\\Oslo", u"order", 1u);
    hkcu(std::u16string(kPanel) + u"\\Cities\\Bergen", u"order", 0u);
    hkcu(kPanel, u"ProgramPath", u"\\Program Files\\WeatherPanel");
    hkcu(kPanel, u"options", 0u);
    write_host(u"\\Program Files\\WeatherPanel\\data\\Oslo-forecast", panel_record(kToday, "1", "-5", 20));
    write_host(u"\\Program Files\\WeatherPanel\\data\\Bergen-forecast",
               panel_record(kToday - 1, "3", "1", 12) + panel_record(kToday, "12", "-9999", 2) +
                   panel_record(kToday + 1, "8", "2", 7));
    refresh();
    // Bergen (order 0), today's record, the code mapped (2 becomes 1), the low missing.
    EXPECT_EQ(w().code, 1);
    EXPECT_EQ(text(), "12°/-");
    EXPECT_TRUE(same_pixels(w().icon, theme_icon(u"weather\\1.png")));
    EXPECT_EQ(w().icon_x, (u(50) - w().icon.width) / 2);
    EXPECT_EQ(w().icon_y, ctx->screen_height - u(60) - w().icon.height);

    // Unit mode 4 converts the file's Fahrenheit to Celsius.
    hkcu(kPanel, u"options", 4u << 5);
    write_host(u"\\Program Files\\WeatherPanel\\data\\Bergen-forecast", panel_record(kToday, "-9999", "50", 33));
    refresh();
    EXPECT_EQ(text(), "-/10°");
    EXPECT_EQ(w().code, 34);
}

TEST_F(WeatherTest, PocketWeatherRoundsOrConvertsTheDaysValues) {
    started(3);
    constexpr std::u16string_view kKey = u"Software\\SBSH\\PocketWeather";
    hkcu(kKey, u"HomeCity", 1u);
    hkcu(kKey, u"CityCode2", u"SEXX0019");
    hkcu(kKey, u"TemperatureUnits", 0u);
    auto city = std::u16string(kKey) + u"\\SEXX0019";
    hkcu(city, u"WD001", u"2026/12/06|5|1|a|b|c|d|e|12");
    hkcu(city, u"WD012", u"2026/12/07|-0.4|-2.5|a|b|c|d|e|33");
    refresh();
    EXPECT_EQ(text(), "0°/-2°");
    EXPECT_EQ(w().code, 34);
    hkcu(kKey, u"TemperatureUnits", 1u);
    refresh();
    EXPECT_EQ(text(), "31°/28°");
}

TEST_F(WeatherTest, HtcHomeAndManila2DUseTheDaysForecastKey) {
    started(4);
    constexpr std::u16string_view kHome = u"Software\\HTC\\HTCHome\\Weather";
    hklm(std::u16string(kHome) + u"\\Settings", u"Celsius", 1u);
    hklm(std::u16string(kHome) + u"\\Forecast0", u"DayCode", u"Sun");
    hklm(std::u16string(kHome) + u"\\Forecast1", u"DayCode", u"Mon");
    hklm(std::u16string(kHome) + u"\\Forecast1", u"Icon", u"07");
    hklm(std::u16string(kHome) + u"\\Forecast1", u"HighTemp", u"68");
    hklm(std::u16string(kHome) + u"\\Forecast1", u"LowTemp", u"50");
    refresh();
    EXPECT_EQ(text(), "20°/10°");
    EXPECT_TRUE(same_pixels(w().icon, theme_icon(u"weather\\HH_WEATHER_07.png")));
    EXPECT_EQ(w().icon_x, 0);
    EXPECT_EQ(w().text_x, std::max(0, (w().icon.width - w().text.width) / 2));

    set_byte(u"ShowWeather", 6);
    load_settings(*ctx);
    constexpr std::u16string_view k2d = u"Software\\HTC\\Manila2D\\Weather";
    hklm(std::u16string(k2d) + u"\\Settings", u"Celsius", 0u);
    hklm(std::u16string(k2d) + u"\\Settings", u"CurrentCountryIndex", 2u);
    for (int i = 0; i <= 4; ++i) hklm(std::u16string(k2d) + u"\\2\\Forecast" + to_u16(std::to_string(i)), u"DayCode", i == 3 ? u"Mon" : u"Tue");
    hklm(std::u16string(k2d) + u"\\2\\Forecast3", u"Icon", u"12");
    hklm(std::u16string(k2d) + u"\\2\\Forecast3", u"HighTemp", u"41");
    hklm(std::u16string(k2d) + u"\\2\\Forecast3", u"LowTemp", u"33");
    refresh();
    EXPECT_EQ(text(), "41°/33°");
    EXPECT_TRUE(same_pixels(w().icon, theme_icon(u"weather\\HH_WEATHER_12.png")));
}

TEST_F(WeatherTest, TheUserValueKinds) {
    started(5);
    user(u"S|5|20|12");
    refresh();
    EXPECT_EQ(w().code, 5);
    EXPECT_EQ(text(), "20°/12°");
    auto strip = theme_icon(u"weather\\weather.png");
    gfx::Image cell;
    gfx::CropImage(cell, strip, strip.width / 31, strip.height, 5 * (strip.width / 31), 0, 0);
    EXPECT_TRUE(same_pixels(w().icon, cell));
    EXPECT_EQ(w().icon_x, u(6));

    user(u"P|2|-3|-8");
    refresh();
    EXPECT_EQ(w().code, 1);
    EXPECT_EQ(text(), "-3°/-8°");
    EXPECT_TRUE(same_pixels(w().icon, theme_icon(u"weather\\1.png")));

    user(u"C|12|Rain | later sun");
    refresh();
    EXPECT_EQ(w().code, 12);
    EXPECT_EQ(text(), "Rain | later sun");

    // A kind it does not know leaves what is shown.
    user(u"X|3|1|1");
    refresh();
    EXPECT_EQ(w().code, 12);
    // A value as long as the registry holds: the text is cut, nothing breaks.
    user(u"C|3|" + std::u16string(8000, u'w'));
    refresh();
    EXPECT_EQ(w().code, 3);
    EXPECT_EQ(w().shown.text.size(), weather::kUserTextMax);
    EXPECT_FALSE(w().text.empty());
}

// ---- HTC Manila's databases ----------------------------------------------------------------
void exec(const std::filesystem::path& file, const std::string& sql) {
    std::filesystem::create_directories(file.parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

constexpr std::u16string_view kManila = u"Software\\HTC\\Manila";
constexpr const char* kSchema =
    "CREATE TABLE forecastPoints(cityId INTEGER, dayOfWeek TEXT, conditionIcon TEXT, highF TEXT, lowF TEXT,"
    " highC TEXT, lowC TEXT);"
    "CREATE TABLE forecasts(cityId INTEGER, currentConditionIcon TEXT, currentTemperatureF TEXT,"
    " currentTemperatureC TEXT);";

TEST_F(WeatherTest, HtcManilaQueriesItsDatabasesForTheCity) {
    started(7);
    hkcu(kManila, u"Weather.CityList", u"EUR|SE|SW001,EUR|NO|NO014");
    hkcu(kManila, u"Weather.CurrentCity", 2u);
    hkcu(kManila, u"Weather.Celsius", 1u);
    exec(host(u"\\Windows\\2330fc3c_manila"),
         "CREATE TABLE cities(id INTEGER, accuweatherCode TEXT);"
         "INSERT INTO cities VALUES(17, 'EUR|SE|SW001'), (42, 'EUR|NO|NO014');");
    exec(host(u"\\Application Data\\HTC\\databases\\forecast_cache.db"),
         std::string(kSchema) +
             "INSERT INTO forecastPoints VALUES(17, 'Monday', '1', '50', '40', '10', '4');"
             "INSERT INTO forecastPoints VALUES(42, 'Tuesday', '7', '46', '37', '8', '3');"
             "INSERT INTO forecasts VALUES(42, '12', '43', '6');");
    refresh();
    // No Monday row for the city: the next day's, with its one-character icon code.
    EXPECT_EQ(w().code, 7);
    EXPECT_EQ(text(), "8°/3°");
    EXPECT_EQ(w().shown.htc_icon, u"07");
    EXPECT_TRUE(same_pixels(w().icon, theme_icon(u"weather\\HH_WEATHER_07.png")));
    EXPECT_EQ(w().icon_x, -u(1));
    EXPECT_EQ(w().icon_y, ctx->screen_height - u(60) - w().icon.height + 2 * u(1));
    auto log = log_text();
    EXPECT_NE(log.find("City Code: EUR|NO|NO014"), std::string::npos);
    EXPECT_NE(log.find("CityID 42"), std::string::npos);
    EXPECT_NE(log.find("2nd QResult"), std::string::npos);
    EXPECT_NE(log.find("Forecast: 7, 8, 3"), std::string::npos);

    // The current conditions replace the icon and come before the forecast, in Fahrenheit here.
    set_byte(u"CurrentWeather", 1);
    load_settings(*ctx);
    hkcu(kManila, u"Weather.Fahrenheit", 1u);
    int plain_width = w().text.width;
    refresh();
    EXPECT_EQ(w().code, 12);
    EXPECT_EQ(to_utf8(w().shown.current), "43°");
    EXPECT_EQ(text(), "46°/37°");
    EXPECT_GT(w().text.width, plain_width);
    const int date_font = u(12 + 2 * int(ctx->settings.num(catalogue::Id::TextSize)));
    EXPECT_EQ(w().text_y, ctx->screen_height - u(60) + u(12) - u(1) - date_font);
}

TEST_F(WeatherTest, AQuoteInTheCityCodeIsAValueNotAStatement) {
    started(7);
    hkcu(kManila, u"Weather.CityList", u"x\"; DROP TABLE cities; --");
    hkcu(kManila, u"Weather.CurrentCity", 1u);
    auto cities = host(u"\\Windows\\2330fc3c_manila");
    exec(cities, "CREATE TABLE cities(id INTEGER, accuweatherCode TEXT); INSERT INTO cities VALUES(5, 'x\"; DROP TAB');");
    exec(host(u"\\Application Data\\HTC\\databases\\forecast_cache.db"),
         std::string(kSchema) + "INSERT INTO forecastPoints VALUES(5, 'Monday', '22', '50', '40', '10', '4');");
    refresh();
    EXPECT_EQ(w().code, 22) << log_text();
    EXPECT_EQ(text(), "10°/4°");
    // The cities table is still there.
    exec(cities, "SELECT id FROM cities;");
}

TEST_F(WeatherTest, BadDataLeavesTheLastWeatherShown) {
    started(7);
    hkcu(kManila, u"Weather.CurrentCity", 0u);
    auto forecasts = host(u"\\Application Data\\HTC\\databases\\forecast_cache.db");
    exec(forecasts, std::string(kSchema) + "INSERT INTO forecastPoints VALUES(0, 'Monday', '33', '50', '40', '10', '4');");
    // The city 0 tables are the _HWC ones: nothing there yet.
    refresh();
    EXPECT_EQ(w().code, 0);
    exec(forecasts,
         "CREATE TABLE forecastPoints_HWC(cityId INTEGER, dayOfWeek TEXT, conditionIcon TEXT, highF TEXT,"
         " lowF TEXT, highC TEXT, lowC TEXT);"
         "INSERT INTO forecastPoints_HWC VALUES(0, 'Monday', '33', '50', '40', '10', '4');");
    refresh();
    ASSERT_EQ(w().code, 33);
    // A database file that is not one.
    std::mt19937 random(7);
    std::string junk(4096, '\0');
    for (auto& ch : junk) ch = char(random());
    std::filesystem::remove(forecasts);
    std::ofstream(forecasts, std::ios::binary) << junk;
    refresh();
    EXPECT_EQ(w().code, 33);
    EXPECT_NE(log_text().find("SQL error: file is not a database"), std::string::npos);

    // A forecast text file of random bytes, and one that is too large to be one.
    set_byte(u"ShowWeather", 2);
    load_settings(*ctx);
    hkcu(std::u16string(kPanel) + u"\\Cities\\Rome", u"order", 0u);
    hkcu(kPanel, u"ProgramPath", u"\\WP");
    write_host(u"\\WP\\data\\Rome-forecast", junk);
    refresh();
    EXPECT_EQ(w().code, 33);
    write_host(u"\\WP\\data\\Rome-forecast", std::string(2 << 20, '1'));
    refresh();
    EXPECT_EQ(w().code, 33);
    EXPECT_NE(log_text().find("Weather Panel: "), std::string::npos);
    // A city name that would climb out of the program's data folder is not followed.
    fake.registry().delete_key(Root::CurrentUser, std::u16string(kPanel) + u"\\Cities\\Rome");
    hkcu(std::u16string(kPanel) + u"\\Cities\\../../escape", u"order", 0u);
    write_host(u"\\escape-forecast", panel_record(kToday, "1", "1", 5));
    refresh();
    EXPECT_EQ(w().code, 33);
}

TEST_F(WeatherTest, TheWorkerRefreshesOnItsTimerAndTheIconFadesIn) {
    set_text(u"UserWeather", u"W|7|15|9");
    started(5);
    // Start-up already read it once.
    EXPECT_EQ(w().code, 7);
    set_text(u"UserWeather", u"W|11|16|10");
    fake.windows().set_timer(ctx->main_window, kTimerWeather, 0);
    int before = w().refreshes;
    ASSERT_TRUE(lumo::test::wait_until(
        [&] {
            fake.run_for(5);
            return w().refreshes > before;
        },
        std::chrono::seconds(5), std::chrono::milliseconds(1)));
    EXPECT_EQ(w().code, 11);
    EXPECT_EQ(text(), "16°/10°");
    // A new condition fades in from 12; the same one again keeps its fade.
    EXPECT_EQ(w().fade, 12);

    lock_now();
    ASSERT_TRUE(ctx->screen.back_buffer);
    auto drawn = [&](bool weather_on) {
        ctx->weather.fade = 32;
        ctx->weather.code = weather_on ? 11 : 0;
        compose_frame(*ctx);
        gfx::Image img;
        gfx::ImageFromBackBuffer(img, ctx->screen);
        return img;
    };
    // Let the other fades settle first; the slider's shine moves on its own, below the icon.
    for (int i = 0; i < 8; ++i) drawn(true);
    auto with = drawn(true), without = drawn(false);
    int changed_in_icon = 0, changed_above = 0;
    for (int y = 0; y < std::min(w().icon_y + w().icon.height, w().text_y); ++y)
        for (int x = 0; x < with.width; ++x) {
            if (with.at(x, y) == without.at(x, y)) continue;
            bool in_icon = x >= w().icon_x && x < w().icon_x + w().icon.width && y >= w().icon_y;
            (in_icon ? changed_in_icon : changed_above)++;
        }
    EXPECT_GT(changed_in_icon, 100) << "the icon was not drawn";
    EXPECT_EQ(changed_above, 0) << "the weather drew outside its icon";
    ctx->weather.code = 11;
    ctx->weather.fade = 8;
    draw_weather(*ctx);
    EXPECT_EQ(w().fade, 12);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
