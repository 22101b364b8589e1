#include "lumo/lockscreen/datetime_format.h"

#include <cstdio>

namespace lumo::lockscreen {

namespace {

DateTimeLocale make_english() {
    DateTimeLocale l;
    l.lcid = 0x0409;
    l.days = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
    l.short_days = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
    l.months = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                u"July",    u"August",   u"September", u"October", u"November", u"December"};
    l.short_months = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                      u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
    l.am = u"AM";
    l.pm = u"PM";
    l.short_date = u"M/d/yyyy";
    l.time_format = u"h:mm:ss tt";
    return l;
}

DateTimeLocale make_german() {
    DateTimeLocale l;
    l.lcid = 0x0407;
    l.days = {u"Sonntag", u"Montag", u"Dienstag", u"Mittwoch", u"Donnerstag", u"Freitag", u"Samstag"};
    l.short_days = {u"So", u"Mo", u"Di", u"Mi", u"Do", u"Fr", u"Sa"};
    l.months = {u"Januar", u"Februar", u"M\u00e4rz",   u"April",   u"Mai",      u"Juni",
                u"Juli",   u"August",  u"September", u"Oktober", u"November", u"Dezember"};
    l.short_months = {u"Jan", u"Feb", u"Mrz", u"Apr", u"Mai", u"Jun",
                      u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez"};
    l.am = u"";
    l.pm = u"";
    l.short_date = u"dd.MM.yyyy";
    l.time_format = u"HH:mm:ss";
    return l;
}

void append_number(std::u16string& out, int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    for (const char* p = buf; *p; ++p) out.push_back(char16_t(*p));
}

}  // namespace

const DateTimeLocale& english_us() {
    static const DateTimeLocale l = make_english();
    return l;
}

const DateTimeLocale& german() {
    static const DateTimeLocale l = make_german();
    return l;
}

DateTimeLocale system_locale(platform::Registry& reg) {
    auto lcid = reg.get_dword(platform::Root::LocalMachine, u"nls", u"DefaultLCID");
    DateTimeLocale l = lcid && (*lcid & 0x3FF) == 0x07 ? german() : english_us();
    constexpr std::u16string_view kIntl = u"ControlPanel\\International";
    if (auto d = reg.get_string(platform::Root::CurrentUser, kIntl, u"sShortDate"); d && !d->empty())
        l.short_date = *d;
    if (auto t = reg.get_string(platform::Root::CurrentUser, kIntl, u"sTimeFormat"); t && !t->empty())
        l.time_format = *t;
    if (auto am = reg.get_string(platform::Root::CurrentUser, kIntl, u"s1159")) l.am = *am;
    if (auto pm = reg.get_string(platform::Root::CurrentUser, kIntl, u"s2359")) l.pm = *pm;
    return l;
}

bool is_24_hour(std::u16string_view picture) {
    bool quoted = false;
    for (char16_t ch : picture) {
        if (ch == u'\'') quoted = !quoted;
        else if (!quoted && ch == u'H') return true;
    }
    return false;
}

std::u16string format_datetime(std::u16string_view picture, const platform::LocalTime& t,
                               const DateTimeLocale& locale) {
    std::u16string out;
    std::size_t i = 0;
    while (i < picture.size()) {
        char16_t ch = picture[i];
        if (ch == u'\'') {
            // A literal up to the next single quote; '' inside it is one quote.
            ++i;
            while (i < picture.size()) {
                if (picture[i] == u'\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
                        out.push_back(u'\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out.push_back(picture[i++]);
            }
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == ch) ++run;
        int n = int(run);
        switch (ch) {
            case u'd':
                if (n == 1) append_number(out, t.day, 1);
                else if (n == 2) append_number(out, t.day, 2);
                else if (n == 3) out += locale.short_days[t.day_of_week % 7];
                else out += locale.days[t.day_of_week % 7];
                break;
            case u'M': {
                int m = (t.month >= 1 && t.month <= 12) ? t.month : 1;
                if (n == 1) append_number(out, m, 1);
                else if (n == 2) append_number(out, m, 2);
                else if (n == 3) out += locale.short_months[m - 1];
                else out += locale.months[m - 1];
                break;
            }
            case u'y':
                if (n <= 2) append_number(out, t.year % 100, n == 1 ? 1 : 2);
                else append_number(out, t.year, 4);
                break;
            case u'h': {
                int h = t.hour % 12;
                append_number(out, h == 0 ? 12 : h, n >= 2 ? 2 : 1);
                break;
            }
            case u'H': append_number(out, t.hour, n >= 2 ? 2 : 1); break;
            case u'm': append_number(out, t.minute, n >= 2 ? 2 : 1); break;
            case u's': append_number(out, t.second, n >= 2 ? 2 : 1); break;
            case u't': {
                const auto& mark = t.hour < 12 ? locale.am : locale.pm;
                if (n == 1) {
                    if (!mark.empty()) out.push_back(mark[0]);
                } else {
                    out += mark;
                }
                break;
            }
            default: out.append(run, ch); break;
        }
        i += run;
    }
    return out;
}

}  // namespace lumo::lockscreen
