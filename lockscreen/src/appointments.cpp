// The next alarm with the time left, and the list of coming appointments under the date: the
// service writes the records, this file formats them into slot pictures and draws them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using catalogue::Id;
using platform::Root;

namespace {

constexpr std::u16string_view kAlarmsKey = u"System\\State\\Shell\\Alarms";
constexpr std::uint32_t kPanelFormat = gfx::kTextWordBreak | gfx::kTextWordEllipsis;
constexpr int kBellOffset = 140, kBellWidth = 11;

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
int text_height(const Context& c) { return unit(c, 12 + 2 * int(c.settings.num(Id::TextSize))); }
int shadow(const Context& c) { return int(c.settings.num(Id::TextShadow)); }

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

std::u16string number(long long n) { return platform::to_u16(std::to_string(n)); }

std::u16string trim(std::u16string_view s) {
    auto b = s.find_first_not_of(u' ');
    if (b == std::u16string_view::npos) return {};
    auto e = s.find_last_not_of(u' ');
    return std::u16string(s.substr(b, e - b + 1));
}

std::u16string without_blanks(std::u16string s) {
    std::erase(s, u' ');
    return s;
}

std::optional<std::uint64_t> read_file_time(Context& c, std::u16string_view key, std::u16string_view name) {
    auto v = c.p.registry().get_binary(Root::CurrentUser, key, name);
    if (!v || v->size() != 8) return std::nullopt;
    std::uint64_t ft;
    std::memcpy(&ft, v->data(), 8);
    return ft;
}

std::u16string time_format(const Context& c) {
    auto f = c.settings.text(Id::AppointmentTimeFormat);
    return f.empty() ? std::u16string(u"h':'mmt") : f;
}

std::u16string format_time(const Context& c, double date) {
    return without_blanks(format_datetime(time_format(c), platform::local_from_variant(date), c.system_locale));
}

std::u16string format_date(const Context& c, double date) {
    auto f = c.settings.text(Id::AppointmentDateFormat);
    if (f.empty()) f = c.system_locale.short_date;
    return format_datetime(f, platform::local_from_variant(date), c.system_locale);
}

// Renders one line or box of text with the renderer in force (a halo with TextShadow).
void render(Context& c, gfx::Image& img, platform::Font& font, int font_height, int weight,
            std::u16string_view text, std::uint32_t format, int width) {
    if (shadow(c) != 0)
        gfx::RenderTextHalo(img, c.screen, shadow(c), &font, font_height, weight, 0xFFFFFF, text, format, width, 0);
    else
        gfx::RenderTextWithFont(img, c.screen, font, 0xFFFFFF, text, format, width,
                                width > 0 ? c.screen_height : 0, 0, 0, false, 0);
}

void clear(gfx::Image& img) {
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
}

int panel_width(const Context& c) {
    if (c.settings.num(Id::AlignAppointment) == 1) return c.screen_width;
    if (c.settings.num(Id::TopCurtain) == 2 && !c.ftopbar.empty()) return c.ftopbar.width - unit(c, 12);
    return c.screen_width - unit(c, 12);
}

// Where the date row ends: the alarm row starts there.
int alarm_row_top(const Context& c) {
    int top = unit(c, 28) + c.clock.height + c.top_offset + c.clock.date.height;
    if (!c.appointments.alarm.empty() && shadow(c) == 0) top += unit(c, 3);
    return top;
}

}  // namespace

std::u16string alarm_suffix(const Context& c, std::int64_t seconds) {
    if (seconds < 60) return {};
    const long long days = seconds / 86400, hours = (seconds / 3600) % 24, minutes = (seconds / 60) % 60;
    auto part = [&](long long n, std::u16string_view one, std::u16string_view one_default,
                    std::u16string_view many, std::u16string_view many_default) {
        return number(n) + u" " + (n == 1 ? text_or(c, one, one_default) : text_or(c, many, many_default));
    };
    std::u16string out = u" (" + text_or(c, u"s_In", u"in") + u" ";
    if (days >= 1) {
        out += part(days, u"s_Day", u"day", u"s_Days", u"days");
        if (hours > 0) out += u" " + part(hours, u"s_Hour", u"hour", u"s_Hours", u"hours");
    } else if (hours >= 1) {
        out += part(hours, u"s_Hour", u"hour", u"s_Hours", u"hours");
        if (minutes > 0) out += u" " + part(minutes, u"s_Minute", u"minute", u"s_Minutes", u"minutes");
    } else {
        out += part(minutes, u"s_Minute", u"minute", u"s_Minutes", u"minutes");
    }
    return out + u")";
}

void refresh_alarm_line(Context& c) {
    auto& p = c.appointments;
    clear(p.alarm);
    p.alarm_text.clear();
    auto next = read_file_time(c, kAlarmsKey, u"Next");
    if (!next || !c.screen.fonts) return;
    auto text = trim(format_datetime(time_format(c), platform::file_time_to_local(*next), c.system_locale));
    const std::int64_t left = (std::int64_t(*next) - std::int64_t(c.p.clock().local_file_time())) / 10000000;
    text += alarm_suffix(c, left);
    auto font = gfx::CreateTextFont(c.screen, text_height(c), gfx::kFontNormal);
    if (!font) return;
    render(c, p.alarm, *font, text_height(c), gfx::kFontNormal, text, gfx::kTextSingleLine, 0);
    p.alarm_text = text;
    c.log.printf("Alarm %s", platform::to_utf8(text).c_str());
    p.alarm_x = (c.screen_width - p.alarm.width) / 2;
}

void reload_appointments(Context& c, int count) {
    auto& p = c.appointments;
    auto& reg = c.p.registry();
    c.log.printf("GetAP");
    for (int i = 0; i < kAppointmentSlots; ++i) {
        clear(p.subject[i]);
        clear(p.time[i]);
        p.subject_text[i].clear();
        p.time_text[i].clear();
        p.past[i] = false;
    }
    p.fade = 0;
    p.count = std::clamp(count, 0, kAppointmentSlots);
    if (c.settings.num(Id::ShowAppointment) == 0 || !c.screen.fonts) return;
    const int h = text_height(c);
    auto& f = p.fonts;
    if (f.engine != c.screen.fonts || f.height != h || !f.bold || !f.bold_italic || !f.regular || !f.regular_italic) {
        f.engine = c.screen.fonts;
        f.height = h;
        f.bold = gfx::CreateTextFont(c.screen, h, gfx::kFontBold);
        f.bold_italic = gfx::CreateTextFont(c.screen, h, gfx::kFontBold, true);
        f.regular = gfx::CreateTextFont(c.screen, h, gfx::kFontNormal);
        f.regular_italic = gfx::CreateTextFont(c.screen, h, gfx::kFontNormal, true);
    }
    if (!f.bold || !f.bold_italic || !f.regular || !f.regular_italic) return;
    auto& bold = f.bold;
    auto& bold_italic = f.bold_italic;
    auto& regular = f.regular;
    auto& regular_italic = f.regular_italic;

    const double now = platform::variant_from_file_time(c.p.clock().local_file_time());
    const double today = std::floor(now), tomorrow = today + 1, after_tomorrow = today + 2;
    const int width = panel_width(c);
    const std::uint32_t format = std::uint32_t(c.settings.num(Id::AlignAppointment)) | kPanelFormat;
    for (int n = 0; n < p.count; ++n) {
        const std::u16string key = std::u16string(protocol::kAppointmentsKey) + u"\\" + number(n);
        auto start_ft = read_file_time(c, key, u"StartTime");
        auto end_ft = read_file_time(c, key, u"EndTime");
        auto all_day_v = reg.get_binary(Root::CurrentUser, key, u"AllDayEvent");
        bool is_tomorrow = false, past = false, all_day = false;
        std::u16string line;
        if (start_ft && end_ft && all_day_v && all_day_v->size() == 1) {
            const double start = platform::variant_from_file_time(*start_ft);
            const double end = platform::variant_from_file_time(*end_ft);
            all_day = std::to_integer<int>((*all_day_v)[0]) != 0;
            const bool is_today = std::floor(start) == today;
            is_tomorrow = !is_today && std::floor(start) == tomorrow;
            past = end < now;
            c.log.printf("AP%d CD=%g ST=%g TT=%g Tmr?%d Tdy?%d P?%d", n, now, start, today, int(is_tomorrow),
                         int(is_today), int(past));
            if (all_day) {
                if (end - start > 1.0) line = format_date(c, start) + u"-" + format_date(c, end - 1);
                else if (!is_today && !is_tomorrow) line = format_date(c, start);
            } else {
                std::u16string from, to;
                if (std::floor(start) == std::floor(end)) {
                    from = start >= after_tomorrow ? format_date(c, start) + u" " + format_time(c, start)
                                                   : format_time(c, start);
                    to = format_time(c, end);
                } else {
                    from = is_tomorrow ? format_time(c, start) : format_date(c, start) + u" " + format_time(c, start);
                    to = format_date(c, end) + u" " + format_time(c, end);
                }
                line = start == end ? from : from + u"-" + to;
                auto st = platform::local_from_variant(start), et = platform::local_from_variant(end);
                c.log.printf("AP%d ST:%d/%d/%d", n, st.month, st.day, st.year);
                c.log.printf("AP%d ET:%d/%d/%d", n, et.month, et.day, et.year);
            }
            auto location = reg.get_string(Root::CurrentUser, key, u"Location");
            if (location && !location->empty()) line = line + u" (" + *location + u")";
            c.log.printf("AP%d %s", n, platform::to_utf8(line).c_str());
            if (!line.empty())
                render(c, p.time[n], past ? *regular_italic : *regular, h, gfx::kFontNormal, line, format, width);
        }
        p.time_text[n] = line;
        p.past[n] = past;
        auto subject = reg.get_string(Root::CurrentUser, key, u"Subject");
        if (!subject) continue;
        std::u16string text = *subject;
        if (is_tomorrow) text = text_or(c, u"s_Tomorrow", u"Tomorrow") + u": " + text;
        auto occurred = reg.get_dword(Root::CurrentUser, key, u"OccurredTimes");
        if (all_day && occurred && *occurred != 0) text += u" (" + number(std::int32_t(*occurred)) + u")";
        c.log.printf("AP%d %s", n, platform::to_utf8(text).c_str());
        p.subject_text[n] = text;
        render(c, p.subject[n], past ? *bold_italic : *bold, h, gfx::kFontBold, text, format, width);
    }
}

void draw_appointment_panel(Context& c) {
    auto& p = c.appointments;
    auto& scr = c.screen;
    const int a = std::min(p.fade, c.scene_alpha);
    int y = alarm_row_top(c);
    if (!p.alarm.empty() && c.settings.num(Id::ShowAlarm) != 0) {
        const int x = p.alarm_x;
        gfx::DrawImage(p.alarm, scr, x + 2 * unit(c, 3), y, 0, 0, 0, gfx::kColourKey, c.scene_alpha);
        if (!c.system_icons.empty()) {
            const int bell_h = c.system_icons.height;
            gfx::DrawImage(c.system_icons, scr, x - 2 * unit(c, 3), y + p.alarm.height - bell_h, unit(c, kBellOffset),
                           unit(c, kBellWidth), 0, gfx::kColourKey, std::min(c.scene_alpha, 29));
        }
        y += p.alarm.height;
    }
    if (c.settings.num(Id::ShowAppointment) == 0) return;
    y += unit(c, 3);
    const bool lines = c.settings.num(Id::AppointmentLine) != 0;
    const int sh = shadow(c);
    const int subject_spacing = sh == 0 ? 0 : -(text_height(c) / 4) - (sh - 2) * unit(c, 2);
    const int line_spacing = sh == 0 ? unit(c, 2) : -unit(c, 1);
    const int time_spacing = sh == 0 ? unit(c, 3) : 0;
    int m = unit(c, 6);
    if (c.settings.num(Id::TopCurtain) == 2 && !c.ftopbar.empty())
        m = (c.screen_width - c.ftopbar.width) / 2 + unit(c, 6);
    const auto grey = gfx::RGBTo565(scr.format, 200, 200, 200);
    bool any = false;
    for (int n = 0; n < kAppointmentSlots; ++n) any |= !p.subject[n].empty();
    if (lines && any) gfx::DrawHLine(scr, m, y - unit(c, 1), c.screen_width - m, grey, a);
    // What would reach into the slider's bar is left out (a landscape screen has room for two
    // or three): the slider stays readable and no appointment is drawn half hidden.
    const int bottom = c.slider.bar_top + c.bottom_offset;
    for (int n = 0; n < kAppointmentSlots; ++n) {
        if (p.subject[n].empty()) continue;
        if (y + p.subject[n].height + subject_spacing + p.time[n].height > bottom) break;
        gfx::DrawImage(p.subject[n], scr, (c.screen_width - p.subject[n].width) / 2, y, 0, 0, 0, gfx::kColourKey, a);
        y += p.subject[n].height + subject_spacing;
        if (!p.time[n].empty())
            gfx::DrawImage(p.time[n], scr, (c.screen_width - p.time[n].width) / 2, y, 0, 0, 0, gfx::kColourKey, a);
        y += p.time[n].height;
        if (lines) {
            y += unit(c, 1);
            gfx::DrawHLine(scr, m, y, c.screen_width - m, grey, a);
            y += 1 + line_spacing;
        } else {
            y += time_spacing;
        }
    }
    if (c.settings.num(Id::ShowAppointment) == 1 && !p.subject[0].empty() && !c.triangle.empty())
        gfx::DrawImage(c.triangle, scr, (c.screen_width - c.triangle.width) / 2,
                       y - (lines ? line_spacing : time_spacing), 0, 0, 0, gfx::kConstant, a);
    p.fade = std::min(32, p.fade + 4);
}

}  // namespace lumo::lockscreen
