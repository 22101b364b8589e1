// The big clock (character, plate or analogue, from the theme's clock folder), the small
// top-bar time and the date line.
#include <algorithm>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using catalogue::Id;

namespace {

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }

std::u16string trim(std::u16string_view s) {
    auto b = s.find_first_not_of(u' ');
    if (b == std::u16string_view::npos) return {};
    auto e = s.find_last_not_of(u' ');
    return std::u16string(s.substr(b, e - b + 1));
}

std::u16string clock_file(const Context& c, std::u16string_view name) {
    return c.program_folder + u"\\gfx\\" + c.clock.folder + std::u16string(name);
}

bool clock_exists(Context& c, std::u16string_view name) { return device_file_exists(c, clock_file(c, name)); }

// Loads a clock file into an Image; a missing one leaves it empty.
void load_clock_image(Context& c, gfx::Image& img, std::u16string_view name) {
    c.clock.loaded_files.emplace_back(name);
    if (!gfx::LoadImageFile(img, c.screen, clock_file(c, name), gfx::kFitNative, 0, 0)) {
        gfx::ReleaseImage(img, false);
        img.width = img.height = 0;
    }
}

std::u16string number_name(std::u16string_view prefix, int n) {
    return std::u16string(prefix) + platform::to_u16(std::to_string(n)) + u".png";
}

// A hand: the picture for a position 0..59, turned by its quarter.
void load_hand(Context& c, gfx::Image& img, std::u16string_view prefix, int pos) {
    load_clock_image(c, img, number_name(prefix, pos % 15));
    static constexpr int kTurns[4] = {0, 1, 2, 4};
    int turn = kTurns[(pos / 15) % 4];
    if (turn && !img.empty()) gfx::RotateImage(img, img, turn);
}

void release_clock(ClockState& k) {
    for (auto& s : k.slots) {
        gfx::ReleaseImage(s, false);
        s.width = s.height = 0;
    }
    for (auto* img : {&k.plate, &k.face, &k.mark, &k.second_hand, &k.minute_hand, &k.hour_hand}) {
        gfx::ReleaseImage(*img, false);
        img->width = img->height = 0;
    }
    k.slot_chars.clear();
    k.last.clear();
    k.last_minute = k.last_hour = k.last_hour_pos = -1;
}

void render_date(Context& c, const std::u16string& text) {
    int size = 12 + 2 * int(c.settings.num(Id::TextSize));
    int height = unit(c, size);
    int shadow = int(c.settings.num(Id::TextShadow));
    if (!c.screen.fonts) return;
    if (shadow != 0)
        gfx::RenderTextHalo(c.clock.date, c.screen, shadow, nullptr, height, 500, 0xFFFFFF, text,
                            gfx::kTextSingleLine, 0, 0);
    else
        gfx::RenderText(c.clock.date, c.screen, height, 500, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0,
                        false, 0);
    c.clock.date_x = (c.screen_width - c.clock.date.width) / 2;
}

void after_date_change(Context& c, bool reload) {
    c.p.windows().set_timer(c.main_window, kTimerWeather, 1000);
    request_redraw(c);
    if (c.settings.num(Id::ShowAppointment) != 0 && !reload) {
        if (Hwnd s = service_window(c)) c.p.windows().send(s, protocol::WM_PoomItemChanged, 0, 0, 1000);
    }
}

}  // namespace

char16_t clock_file_char(char16_t ch) {
    if (ch >= u'0' && ch <= u'9') return ch;
    switch (ch) {
        case u'A': case u'B': case u'D': case u'M': case u'P':
        case u'a': case u'b': case u'd': case u'm': case u'p': return ch;
        case u':': return u'C';
        default: return u'S';
    }
}

void load_clock(Context& c) {
    auto& k = c.clock;
    c.log.printf("Load clock");
    k.time_format = trim(c.settings.text(Id::TimeFormat));
    k.time2_format = trim(c.settings.text(Id::Time2Format));
    k.date_format = c.settings.text(Id::DateFormat);
    if (k.time_format.empty()) k.time_format = u"H':'mm";
    if (k.time2_format.empty()) k.time2_format = u"H':'mm";
    if (k.folder.empty()) {
        k.folder = c.settings.text(Id::ClockPath);
        // A second folder counts only when it holds a clock.
        std::u16string second = c.settings.text(Id::Clock2Path);
        if (!second.empty()) {
            auto base = c.program_folder + u"\\gfx\\" + second;
            if (!device_file_exists(c, base + u"0.png") && !device_file_exists(c, base + u"cc.png"))
                c.settings.set_text(Id::Clock2Path, u"");
        }
    }
    release_clock(k);
    k.format = k.second ? k.time2_format : k.time_format;
    if (clock_exists(c, u"0.png")) {
        load_clock_image(c, k.slots[0], u"0.png");
        k.slot_chars = u"0";
        k.has_blank = clock_exists(c, u"b.png");
        if (clock_exists(c, u"bg.png")) {
            k.kind = ClockKind::Plate;
            load_clock_image(c, k.plate, u"bg.png");
            k.height = k.plate.height;
            k.plate_x = (c.screen_width - k.plate.width) / 2;
            k.format = is_24_hour(c.system_locale.time_format) ? u"HH':'mm" : u"hh':'mm";
        } else {
            k.kind = ClockKind::Character;
            k.height = k.slots[0].height;
        }
    } else {
        k.kind = ClockKind::Analogue;
        k.has_blank = false;
        load_clock_image(c, k.face, u"cc.png");
        k.height = k.face.height;
        k.face_x = (c.screen_width - k.face.width) / 2;
        k.format = clock_exists(c, u"cs0.png") ? u"Hmmss" : u"H':'mm";
    }
    c.log.printf("Time Format:%s", platform::to_utf8(k.format).c_str());
}

void update_clock(Context& c, bool reload) {
    auto& k = c.clock;
    if (c.state == ScreenState::IncomingCall || c.state == ScreenState::CallScreen) return;
    auto now = c.p.clock().local_time();
    std::u16string text = format_datetime(k.format, now, english_us());
    c.log.printf("time %s (%s)", platform::to_utf8(text).c_str(), platform::to_utf8(k.last).c_str());
    if (text != k.last) {
        // The small top-bar time.
        bool small_only = c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall;
        auto small = format_datetime(k.time_format, now, c.system_locale);
        if (small != k.last_small && c.screen.fonts) {
            k.last_small = small;
            gfx::RenderText(k.small_time, c.screen, unit(c, 13), 400, 0xFFFFFF, small, gfx::kTextSingleLine, 0, 0, 0,
                            0, gfx::UseDropShadow(c.screen, int(c.settings.num(Id::TextShadow))), unit(c, 1));
        }
        if (!small_only) {
            if (k.kind == ClockKind::Analogue) {
                int h = now.hour, m = now.minute, sec = now.second;
                if (k.format == u"Hmmss") load_hand(c, k.second_hand, u"cs", sec);
                if (m != k.last_minute) load_hand(c, k.minute_hand, u"cm", m);
                if (h != k.last_hour) load_clock_image(c, k.mark, h < 12 ? u"ca.png" : u"cp.png");
                int pos = (h % 12) * 5 + m / 12;
                if (pos != k.last_hour_pos) load_hand(c, k.hour_hand, u"ch", pos);
                k.last_minute = m;
                k.last_hour = h;
                k.last_hour_pos = pos;
            } else {
                int gap = unit(c, 3);
                std::u16string shown = text.substr(0, kClockSlots);
                if (shown.size() >= 2 && shown[0] == u'0' && shown[1] != u':' && k.has_blank) {
                    shown[0] = u'B';
                    if (k.kind == ClockKind::Plate && shown.size() >= 3) shown[2] = u'D';
                }
                std::u16string chars;
                for (char16_t ch : shown) chars.push_back(ch == u'B' || ch == u'D' ? ch : clock_file_char(ch));
                int total = 0;
                k.slot_chars.resize(kClockSlots, u'\0');
                for (std::size_t i = 0; i < std::size_t(kClockSlots); ++i) {
                    if (i >= chars.size()) {
                        gfx::ReleaseImage(k.slots[i], false);
                        k.slots[i].width = k.slots[i].height = 0;
                        k.slot_chars[i] = 0;
                        continue;
                    }
                    if (k.slot_chars[i] != chars[i]) {
                        load_clock_image(c, k.slots[i], std::u16string(1, chars[i]) + u".png");
                        k.slot_chars[i] = chars[i];
                    }
                    if (!k.slots[i].empty()) total += k.slots[i].width + gap;
                }
                k.x = (c.screen_width + gap - total) / 2;
                if (k.kind == ClockKind::Plate && !is_24_hour(c.system_locale.time_format) &&
                    now.hour != k.last_hour) {
                    load_clock_image(c, k.mark, now.hour < 12 ? u"a.png" : u"p.png");
                    k.last_hour = now.hour;
                }
            }
        }
        k.last = text;
        c.log.printf("Update Time");
        request_redraw(c);
    }
    // The alarm line follows hours and minutes.
    auto hhmm = format_datetime(u"HHmm", now, english_us());
    if (hhmm != k.last_hhmm) {
        k.last_hhmm = hhmm;
        c.log.printf("HHmm update %s", platform::to_utf8(hhmm).c_str());
        if (c.settings.num(Id::ShowAlarm) != 0) refresh_alarm_line(c);
    }
    auto date = format_datetime(k.date_format, now, c.system_locale);
    if (date == k.last_date) return;
    c.log.printf("Update Date: %s", platform::to_utf8(date).c_str());
    k.last_date = date;
    if (!music_title_shown(c)) render_date(c, date);
    after_date_change(c, reload);
}

void update_date_only(Context& c) {
    auto& k = c.clock;
    auto date = format_datetime(k.date_format, c.p.clock().local_time(), c.system_locale);
    c.log.printf("Update Date only: %s", platform::to_utf8(date).c_str());
    render_date(c, date);
    if (date != k.last_date) {
        k.last_date = date;
        after_date_change(c, false);
    }
}

void switch_clock(Context& c) {
    auto& k = c.clock;
    std::u16string second = c.settings.text(Id::Clock2Path);
    if (!k.second && second.empty()) return;
    k.second = !k.second;
    k.folder = k.second ? second : c.settings.text(Id::ClockPath);
    load_clock(c);
    update_clock(c, true);
    k.fade = 0;
    request_redraw(c);
}

void draw_clock(Context& c) {
    auto& k = c.clock;
    auto& scr = c.screen;
    int a = std::min(k.fade, c.scene_alpha);
    int top = unit(c, 16) + c.top_offset + unit(c, 7);
    int gap = unit(c, 3);
    switch (k.kind) {
        case ClockKind::Character: {
            int x = k.x;
            for (auto& slot : k.slots) {
                if (!slot.empty()) gfx::DrawImage(slot, scr, x, top, 0, 0, 0, gfx::kColourKey, a);
                x += slot.width + (slot.empty() ? 0 : gap);
            }
            break;
        }
        case ClockKind::Plate: {
            if (!k.plate.empty()) gfx::DrawImage(k.plate, scr, k.plate_x, top, 0, 0, 0, gfx::kColourKey, a);
            int x = k.x;
            int ch = k.slots[0].height;
            for (auto& slot : k.slots) {
                if (!slot.empty())
                    gfx::DrawImage(slot, scr, x, top + (k.plate.height - ch) / 2, 0, 0, 0, gfx::kColourKey, a);
                x += slot.width + (slot.empty() ? 0 : gap);
            }
            if (!k.mark.empty())
                gfx::DrawImage(k.mark, scr, k.x, top + (k.plate.height + ch) / 2 - k.mark.height, 0, 0, 0,
                               gfx::kColourKey, a);
            break;
        }
        case ClockKind::Analogue: {
            if (!k.face.empty()) gfx::DrawImage(k.face, scr, k.face_x, top, 0, 0, 0, gfx::kColourKey, a);
            if (!k.mark.empty())
                gfx::DrawImage(k.mark, scr, (c.screen_width - k.mark.width) / 2, top + k.face.height - 2 * k.mark.height,
                               0, 0, 0, gfx::kColourKey, a);
            for (auto* hand : {&k.hour_hand, &k.minute_hand, &k.second_hand})
                if (!hand->empty())
                    gfx::DrawImage(*hand, scr, (c.screen_width - hand->width) / 2,
                                   top + (k.face.height - hand->height) / 2, 0, 0, 0, gfx::kColourKey, a);
            break;
        }
    }
    k.fade = std::min(32, k.fade + 8);
    if (!k.date.empty())
        gfx::DrawImage(k.date, scr, k.date_x, unit(c, 28) + k.height + c.top_offset, 0, 0, 0, gfx::kColourKey,
                       c.scene_alpha);
}

}  // namespace lumo::lockscreen
