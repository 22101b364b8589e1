// The date and time picture language in both locales, with literals and the 12-hour forms.
#include <gtest/gtest.h>

#include "lumo/lockscreen/datetime_format.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"

namespace lumo::lockscreen {
namespace {

using platform::LocalTime;

std::string fmt(std::u16string_view picture, const LocalTime& t, const DateTimeLocale& l = english_us()) {
    return platform::to_utf8(format_datetime(picture, t, l));
}

TEST(DateTimeFormat, EveryPictureElementInEnglish) {
    const LocalTime t{2026, 3, 2, 3, 9, 5, 7, 0};  // Tuesday 3 March 2026, 09:05:07
    struct Row {
        const char16_t* picture;
        const char* expected;
    };
    const Row rows[] = {
        {u"d dd ddd dddd", "3 03 Tue Tuesday"},
        {u"M MM MMM MMMM", "3 03 Mar March"},
        {u"yy yyyy", "26 2026"},
        {u"h hh H HH", "9 09 9 09"},
        {u"m mm s ss", "5 05 7 07"},
        {u"t tt", "A AM"},
        {u"H':'mm", "9:05"},
        {u"dddd', 'd MMMM", "Tuesday, 3 March"},
        {u"'o''clock' HH", "o'clock 09"},
        {u"Hmmss", "90507"},
    };
    for (const auto& r : rows) EXPECT_EQ(fmt(r.picture, t), r.expected) << platform::to_utf8(r.picture);
}

TEST(DateTimeFormat, TwelveHourClockAroundNoonAndMidnight) {
    EXPECT_EQ(fmt(u"h:mm tt", {2026, 1, 4, 1, 0, 30, 0, 0}), "12:30 AM");
    EXPECT_EQ(fmt(u"h:mm tt", {2026, 1, 4, 1, 12, 0, 0, 0}), "12:00 PM");
    EXPECT_EQ(fmt(u"hh:mm t", {2026, 1, 4, 1, 23, 59, 0, 0}), "11:59 P");
    EXPECT_TRUE(is_24_hour(u"HH:mm"));
    EXPECT_FALSE(is_24_hour(u"h:mm 'Hour'"));
}

TEST(DateTimeFormat, GermanNamesAndTheSystemLocaleFromTheRegistry) {
    const LocalTime t{2026, 3, 0, 1, 18, 0, 0, 0};
    EXPECT_EQ(fmt(u"dddd, d. MMMM", t, german()), "Sonntag, 1. M\u00e4rz");
    platform::fake::FakePlatform fake;
    auto& reg = fake.registry();
    EXPECT_EQ(system_locale(reg).lcid, 0x0409u);
    EXPECT_FALSE(is_24_hour(system_locale(reg).time_format));
    reg.create_key(platform::Root::LocalMachine, u"nls");
    reg.set_dword(platform::Root::LocalMachine, u"nls", u"DefaultLCID", 0x0407);
    auto de = system_locale(reg);
    EXPECT_EQ(de.lcid, 0x0407u);
    EXPECT_TRUE(is_24_hour(de.time_format));
    EXPECT_EQ(platform::to_utf8(format_datetime(de.short_date, t, de)), "01.03.2026");
    reg.create_key(platform::Root::CurrentUser, u"ControlPanel\\International");
    reg.set_string(platform::Root::CurrentUser, u"ControlPanel\\International", u"sShortDate", u"yyyy-MM-dd");
    EXPECT_EQ(platform::to_utf8(format_datetime(system_locale(reg).short_date, t, de)), "2026-03-01");
}

}  // namespace
}  // namespace lumo::lockscreen
