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

void clear_image(gfx::Image& img) {
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
}

// Loads a clock file into an Image; a missing one leaves it empty.
bool load_clock_image(Context& c, gfx::Image& img, std::u16string_view name) {
    c.clock.loaded_files.emplace_back(name);
    if (gfx::LoadImageFile(img, c.screen, clock_file(c, name), gfx::kFitNative, 0, 0)) return true;
    clear_image(img);
    return false;
}

// The size a character picture has in its file.
int natural_width(const gfx::Image& img) { return img.kept && img.kept->picture ? img.kept->picture->width() : img.width; }
int natural_height(const gfx::Image& img) {
    return img.kept && img.kept->picture ? img.kept->picture->height() : img.height;
}

// A character picture at the clock's scale.
void fit_slot(Context& c, gfx::Image& img) {
    if (img.empty() || !img.kept) return;
    double f = c.clock.scale;
    int w = std::max(1, int(natural_width(img) * f + 0.5)), h = std::max(1, int(natural_height(img) * f + 0.5));
    gfx::RefitImage(img, c.screen, f < 1.0 ? gfx::kFitInside : gfx::kFitNative, w, h);
}

bool is_digit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// A slot's character picture. A missing letter or blank leaves its slot empty (a theme may
// leave out what its format never shows); a missing digit, or a picture that is there but does
// not decode, would make the time read wrong and sends the clock to text.
void load_slot(Context& c, int i, char16_t ch) {
    auto& k = c.clock;
    std::u16string name = std::u16string(1, ch) + u".png";
    k.loaded_files.push_back(name);
    auto& img = k.slots[i];
    bool ok = gfx::LoadImageKeep(img, c.screen, clock_file(c, name), gfx::kFitNative, 0, 0);
    if (!ok) clear_image(img);
    bool failed = !ok && (is_digit(ch) || clock_exists(c, name));
    if (failed && !k.slot_failed[i]) c.log.printf("Clock picture %s cannot be shown", platform::to_utf8(name).c_str());
    k.slot_failed[i] = failed;
    k.slot_chars[i] = ch;
    if (ok && k.scale < 1.0) fit_slot(c, img);
}

// The whole time as text, as large as the picture clock and no wider than the screen.
void render_clock_text(Context& c, const std::u16string& text) {
    auto& k = c.clock;
    if (!c.screen.fonts) return;
    int avail = c.screen_width - 2 * unit(c, kClockMargin);
    int height = std::max(unit(c, 12), k.height * 9 / 10);
    gfx::RenderText(k.text, c.screen, height, 400, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    if (k.text.width > avail && k.text.width > 0) {
        height = std::max(1, height * avail / k.text.width);
        gfx::RenderText(k.text, c.screen, height, 400, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    }
    k.text_x = (c.screen_width - k.text.width) / 2;
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
    for (auto& s : k.slots) clear_image(s);
    for (bool& f : k.slot_failed) f = false;
    k.text_mode = false;
    k.scale = 1.0;
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
        k.slot_chars.assign(kClockSlots, u'\0');
        load_slot(c, 0, u'0');
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
        // Without a readable 0.png the clock is text, in a band of the usual height.
        if (k.height <= 0) k.height = unit(c, 64);
        k.scale = clock_fit_scale(c);
        if (k.scale < 1.0) fit_slot(c, k.slots[0]);
    } else {
        k.kind = ClockKind::Analogue;
        k.has_blank = false;
        load_clock_image(c, k.face, u"cc.png");
        k.height = k.face.height;
        k.face_x = (c.screen_width - k.face.width) / 2;
        k.format = clock_exists(c, u"cs0.png") ? u"Hmmss" : u"H':'mm";
    }
    c.log.printf("Time Format:%s", platform::to_utf8(k.format).c_str());
    if (k.scale < 1.0) c.log.printf("Clock scale %d%%", int(k.scale * 100));
}

double clock_fit_scale(Context& c) {
    auto& k = c.clock;
    int gap = unit(c, 3);
    int avail = c.screen_width - 2 * unit(c, kClockMargin);
    // Natural widths by picture; every digit counts as wide as the 0.
    std::u16string seen;
    std::vector<int> widths;
    auto width_of = [&](char16_t ch) {
        if (is_digit(ch)) ch = u'0';
        auto at = seen.find(ch);
        if (at != std::u16string::npos) return widths[at];
        int w = 0;
        if (ch == u'0' && !k.slots[0].empty()) {
            w = natural_width(k.slots[0]);
        } else if (auto pic = c.imaging ? c.imaging->open(clock_file(c, std::u16string(1, ch) + u".png")) : nullptr) {
            w = pic->width();
        }
        seen.push_back(ch);
        widths.push_back(w);
        return w;
    };
    // The widest times: two-digit hours on either side of noon.
    double f = 1.0;
    for (int hour : {10, 12, 22}) {
        platform::LocalTime t{2026, 12, 1, 7, std::uint16_t(hour), 58, 58, 0};
        auto text = format_datetime(k.format, t, english_us()).substr(0, kClockSlots);
        int pictures = 0, count = 0;
        for (char16_t ch : text) {
            int w = width_of(clock_file_char(ch));
            if (w > 0) pictures += w, ++count;
        }
        if (count == 0 || pictures == 0) continue;
        int room = avail - gap * (count - 1);
        if (pictures > room) f = std::min(f, std::max(0.1, double(room) / pictures));
    }
    return f;
}

std::pair<int, int> clock_extent(const Context& c) {
    const auto& k = c.clock;
    if (k.text_mode) return {k.text_x, k.text_x + k.text.width};
    int gap = gfx::ScaleUnit(c.screen.dpi_x, 3);
    int x = k.x, right = k.x;
    for (const auto& slot : k.slots) {
        if (slot.empty()) continue;
        right = x + slot.width;
        x += slot.width + gap;
    }
    return {k.x, right};
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
        // The small time shows only in the states that cover the big clock with a panel.
        bool small_shown = small_only || c.state == ScreenState::VolumeControl ||
                           c.state == ScreenState::InCallVolume || c.state == ScreenState::ShutdownSlider;
        auto small = small_shown ? format_datetime(k.time_format, now, c.system_locale) : k.last_small;
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
                k.slot_chars.resize(kClockSlots, u'\0');
                bool failed = false;
                int pictures = 0, count = 0;
                for (std::size_t i = 0; i < std::size_t(kClockSlots); ++i) {
                    if (i >= chars.size()) {
                        clear_image(k.slots[i]);
                        k.slot_chars[i] = 0;
                        k.slot_failed[i] = false;
                        continue;
                    }
                    if (k.slot_chars[i] != chars[i]) load_slot(c, int(i), chars[i]);
                    failed |= k.slot_failed[i];
                    if (!k.slots[i].empty()) pictures += natural_width(k.slots[i]), ++count;
                }
                // A time wider than its format's widest sample (a theme with uneven digits)
                // makes the whole clock smaller; it grows back only when the clock is loaded
                // again, so it does not change size from one second to the next.
                int room = c.screen_width - 2 * unit(c, kClockMargin) - gap * std::max(0, count - 1);
                if (pictures > 0 && pictures * k.scale > room + 0.5) {
                    k.scale = std::max(0.1, double(room) / pictures);
                    c.log.printf("Clock scale %d%%", int(k.scale * 100));
                    for (std::size_t i = 0; i < chars.size(); ++i) fit_slot(c, k.slots[i]);
                }
                int total = 0;
                for (auto& slot : k.slots)
                    if (!slot.empty()) total += slot.width + gap;
                k.x = (c.screen_width + gap - total) / 2;
                k.text_mode = failed;
                if (failed) render_clock_text(c, text.substr(0, kClockSlots));
                if (k.kind == ClockKind::Plate && !is_24_hour(c.system_locale.time_format) &&
                    now.hour != k.last_hour) {
                    load_clock_image(c, k.mark, now.hour < 12 ? u"a.png" : u"p.png");
                    k.last_hour = now.hour;
                }
            }
        }
        // The last string is the one the big clock shows: under the keypad it stays behind, so
        // the big clock catches up as soon as the keypad is gone.
        if (!small_only) {
            k.last = text;
            c.log.printf("Update Time");
        }
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
    if (!music_title_shown(c)) render_date(c, date);
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
            if (k.text_mode) {
                gfx::DrawImage(k.text, scr, k.text_x, top + (k.height - k.text.height) / 2, 0, 0, 0, gfx::kColourKey, a);
                break;
            }
            // Pictures drawn smaller than they are sit in the middle of the clock's band.
            int y = top + (k.height - int(k.height * k.scale + 0.5)) / 2;
            int x = k.x;
            for (auto& slot : k.slots) {
                if (!slot.empty()) gfx::DrawImage(slot, scr, x, y, 0, 0, 0, gfx::kColourKey, a);
                x += slot.width + (slot.empty() ? 0 : gap);
            }
            break;
        }
        case ClockKind::Plate: {
            if (!k.plate.empty()) gfx::DrawImage(k.plate, scr, k.plate_x, top, 0, 0, 0, gfx::kColourKey, a);
            if (k.text_mode) {
                gfx::DrawImage(k.text, scr, k.text_x, top + (k.height - k.text.height) / 2, 0, 0, 0, gfx::kColourKey, a);
                break;
            }
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
        gfx::DrawImage(k.date, scr, k.date_x, unit(c, 28) + k.height + c.top_offset, 0, 0, 0, gfx::kColourKey, a);
}

}  // namespace lumo::lockscreen
