// Layout and drawing: the status band, the title bar, the scrolling list of the menu, a page,
// the exception list, the keypad and the sleep-timer screen, and the bottom buttons.
#include <algorithm>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/datetime_format.h"
#include "lumo/platform/text.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;

namespace {

int U(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }

constexpr std::uint32_t kWhite = 0xFFFFFF, kValueColour = 0xFFD070, kDimText = 0xB0B0B0;

std::uint16_t px(const Context& c, int r, int g, int b) { return gfx::RGBTo565(c.screen.format, r, g, b); }

void fill(Context& c, int x, int y, int w, int h, std::uint16_t colour, int alpha) {
    if (w <= 0 || h <= 0) return;
    auto brush = gfx::MakeBrush(colour);
    auto* prev = gfx::SelectBrush(c.screen, &brush);
    gfx::FillRect(c.screen, x, y, x + w, y + h, alpha);  // right and bottom edges excluded: w × h
    if (prev) gfx::SelectBrush(c.screen, prev);
}

// Text in a box; returns the height it took. Rendered texts are kept, so a scrolling frame
// only draws pictures; the store is emptied when it grows past a few screens' worth.
int text(Context& c, std::u16string_view s, int x, int y, int w, int size, std::uint32_t colour,
         std::uint32_t format, int weight = gfx::kFontNormal, int max_h = 0) {
    return c.text_cache.draw(c.screen, c.screen, s, x, y, w, U(c, size), weight, colour, format | gfx::kTextNoPrefix,
                             max_h);
}

int status_height(const Context& c) { return U(c, 16); }
int title_height(const Context& c) { return U(c, 26); }
int button_height(const Context& c) { return U(c, 40); }

bool in_list_state(const Context& c) {
    return c.state == ScreenState::MainMenu || c.state == ScreenState::Page || c.state == ScreenState::Exceptions ||
           c.state == ScreenState::Language;
}

// The about page's text block above its two items.
int prefix_height(const Context& c) { return c.state == ScreenState::Page && c.page == kAboutPage ? U(c, 150) : 0; }

bool two_line(std::uint8_t kind) {
    return has_step_areas(kind) || (kind >= kPortraitFile && kind <= kUnlockProgram && kind != kSleepTimerItem);
}

bool format_kind(std::uint8_t kind) {
    return kind == kDateFormat || kind == kTimeFormat || kind == kAptTimeFormat || kind == kAptDateFormat ||
           kind == kTime2Format;
}

}  // namespace

Layout layout(const Context& c) {
    Layout l;
    l.top = status_height(c) + title_height(c);
    l.bottom = c.screen_height - button_height(c);
    l.row_gap = U(c, 2);
    return l;
}

StepAreas step_areas(const Context& c, int row_width) {
    int b = U(c, 32);
    int value_w = std::max(row_width / 3, U(c, 80));
    StepAreas a;
    a.plus_right = row_width;
    a.plus_left = row_width - b;
    a.minus_right = a.plus_left - value_w;
    a.minus_left = a.minus_right - b;
    return a;
}

namespace {
// Whether a label takes a second line on rows with controls below it: a generous estimate of
// the font's average advance, so a label never runs into the controls.
bool long_label(const Context& c, const Item& item) {
    int width = c.screen_width - U(c, 4) * 2 - U(c, 6) * 2;
    return int(item.label.size()) * U(c, 7) > width;
}
}  // namespace

int item_height(const Context& c, const Item& item) {
    if (c.state == ScreenState::MainMenu || c.state == ScreenState::Exceptions || c.state == ScreenState::Language)
        return U(c, 36);
    if (item.kind == kHeading) return U(c, 24);
    int extra = two_line(item.kind) && long_label(c, item) ? U(c, 15) : 0;
    if (format_kind(item.kind)) return U(c, 72) + extra;
    if (two_line(item.kind)) return U(c, 60) + extra;
    return U(c, 44);
}

namespace {

// The rows of what the list shows now, as items (the menu's titles, the exception rows).
std::vector<Item> list_rows(const Context& c) {
    std::vector<Item> rows;
    if (c.state == ScreenState::MainMenu) {
        for (const auto& p : c.pages) rows.push_back(Item{p.title, kHeading});
    } else if (c.state == ScreenState::Exceptions) {
        for (const auto& e : c.exceptions) rows.push_back(Item{e, kHeading});
        rows.push_back(Item{u"+", kHeading});  // the add button's row
    } else if (c.state == ScreenState::Language) {
        for (const auto& name : c.language_rows) rows.push_back(Item{name, kHeading});
    } else if (c.page >= 0) {
        return c.pages[c.page].items;
    }
    return rows;
}

}  // namespace

int content_height(const Context& c) {
    int h = prefix_height(c);
    auto l = layout(c);
    for (const auto& it : list_rows(c)) h += item_height(c, it) + l.row_gap;
    if (c.state == ScreenState::Exceptions) h += U(c, 24);  // the hint
    return h;
}

int max_scroll(const Context& c) {
    auto l = layout(c);
    return std::max(0, content_height(c) - (l.bottom - l.top));
}

int item_at(const Context& c, int y, int* top) {
    auto l = layout(c);
    if (y < l.top || y >= l.bottom) return -1;
    int cy = l.top - c.scroll.offset + prefix_height(c);
    auto rows = list_rows(c);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        int h = item_height(c, rows[i]);
        if (y >= cy && y < cy + h) {
            if (top) *top = cy;
            return int(i);
        }
        cy += h + l.row_gap;
    }
    return -1;
}

std::u16string item_value_text(Context& c, const Item& it) {
    auto num = [](std::int32_t v) { return to_u16(std::to_string(v)); };
    auto g = [&c](std::u16string_view k) { return c.general.get(k); };
    auto three = [&](std::u16string_view a, std::u16string_view b) -> std::u16string {
        return it.value == 1 ? g(a) : it.value == 2 ? g(b) : std::u16string();
    };
    switch (it.kind) {
        case kOffSeconds:
        case kSeconds: return num(it.value) + u" s";
        case kHundreds: return num(it.value * 100);
        case kMinutes: return num(it.value) + u" m";
        case kNumber11: case kNumber13: case kDays: case kNumber15: case kNumber17: case kCountryCode:
            return num(it.value);
        case kPictureMode:
            return it.value == 1 ? g(u"s_FullScreen=") : it.value == 2 ? g(u"s_Thumbnail=")
                   : it.value == 3 ? g(u"s_Framed=") : std::u16string();
        case kThreeOnlyLocked: return three(u"s_OnlyLocked=", u"s_Always=");
        case kThreeCharging: return three(u"s_Charging=", u"s_Always=");
        case kThreeLockUnlock: return three(u"s_Unlock=", u"s_Lock=");
        case kThreeZorp: return it.value == 1 ? std::u16string(u"Zorp") : it.value == 2 ? g(u"s_ZorpBT=") : u"";
        case kThreeGlow: return three(u"s_Normal=", u"s_Glow=");
        case kThreeTask: return three(u"s_Active=", u"s_DueToday=");
        case kThreeFloat: return three(u"s_Normal=", u"s_Float=");
        case kThreeBt: return three(u"s_Always=", u"s_BTOnly=");
        case kDisplayModes: {
            static constexpr std::u16string_view modes[] = {u"RawBuffer", u"DirectDraw", u"GDI"};
            return std::u16string(modes[std::clamp(it.value, 0, 2)]);
        }
        case kAlignment3:
            return it.value == 0 ? g(u"s_Left=") : it.value == 1 ? g(u"s_Center=") : g(u"s_Right=");
        case kAlignment2: return it.value == 0 ? g(u"s_Left=") : g(u"s_Center=");
        case kTextSizes: {
            static constexpr std::u16string_view keys[] = {u"s_Smallest=", u"s_Smaller=", u"s_Normal=",
                                                           u"s_Larger=", u"s_Largest="};
            return g(keys[std::clamp(it.value, 0, 4)]);
        }
        case kWeather: {
            static constexpr std::u16string_view names[] = {u"",           u"Spb Weather",  u"Weather Panel",
                                                            u"Pocket Weather", u"HTC Home", u"UserWeather",
                                                            u"HTC Manila 2D",  u"HTC Manila"};
            return std::u16string(names[std::clamp(it.value, 0, 7)]);
        }
        case kClockFolder: case kClock2Folder: case kPasswordDelay:
            if (it.choices.empty()) return {};
            return it.choices[std::size_t(std::clamp<std::int32_t>(it.value, 0, std::int32_t(it.choices.size()) - 1))];
        case kPortraitFile: case kLandscapeFile: case kLockSoundFile: case kUnlockSoundFile: case kUnlockProgram:
            return it.setting >= 0 ? c.settings.text(Id(it.setting)) : std::u16string();
        case kSleepTimerItem: return sleep_timer_text(c);
        default:
            if (format_kind(it.kind) && !it.choices.empty()) {
                const auto& picture = it.choices[std::size_t(std::clamp<std::int32_t>(it.value, 0, 2))];
                static const auto locale = lockscreen::english_us();
                auto sample = lockscreen::format_datetime(picture, c.p.clock().local_time(), locale);
                return picture + u"\n" + sample;
            }
            return {};
    }
}

namespace {

void draw_switch(Context& c, int right, int y, int h, bool on) {
    int cell = c.onoff.width / 2;
    if (cell <= 0) return;
    gfx::DrawImage(c.onoff, c.screen, right - cell, y + (h - c.onoff.height) / 2, on ? cell : 0, cell, 0,
                   gfx::kCopy, 32);
}

void draw_item(Context& c, const Item& it, int x, int y, int w, bool active) {
    int h = item_height(c, it);
    int pad = U(c, 6);
    if (it.kind == kHeading) {
        text(c, it.label, x + pad, y + U(c, 4), w - 2 * pad, 12, kDimText, gfx::kTextLeft, gfx::kFontBold);
        return;
    }
    fill(c, x, y, w, h, px(c, 40, 44, 52), 26);
    fill(c, x, y + h - 1, w, 1, px(c, 90, 96, 110), 32);
    if (it.separator == 1) fill(c, x, y, U(c, 2), h, px(c, 90, 96, 110), 32);
    if (it.separator == 2) fill(c, x + w - U(c, 2), y, U(c, 2), h, px(c, 90, 96, 110), 32);
    bool check = it.kind == kCheck || it.kind == kPassword || it.kind == kLockSoundFile ||
                 it.kind == kUnlockSoundFile || it.kind == kUnlockProgram;
    int switch_w = check ? c.onoff.width / 2 + pad : 0;
    int label_w = w - 2 * pad - switch_w;
    if (it.kind == kHomePageLink || it.kind == kDonate) {
        fill(c, x + pad, y + U(c, 6), w - 2 * pad, h - U(c, 12), px(c, 30, 90, 200), 28);
        text(c, it.label, x + pad, y + (h - U(c, 16)) / 2, w - 2 * pad, 13, kWhite, gfx::kTextCenter, gfx::kFontBold);
        return;
    }
    int label_y = y + U(c, 5);
    int extra = two_line(it.kind) && long_label(c, it) ? U(c, 15) : 0;
    int first_line = two_line(it.kind) ? U(c, 18) + extra : h - U(c, 10);
    text(c, it.label, x + pad, label_y, label_w, two_line(it.kind) ? 12 : 12, kWhite,
         gfx::kTextLeft | gfx::kTextWordBreak | gfx::kTextEndEllipsis, gfx::kFontNormal, first_line);
    if (check) draw_switch(c, x + w - pad, check && two_line(it.kind) ? y + U(c, 2) : y, two_line(it.kind) ? U(c, 26) : h,
                           it.value != 0);
    if (it.kind == kExceptionList || it.kind == kSleepTimerItem) {
        int cw = c.arrow.width;
        gfx::DrawImage(c.arrow, c.screen, x + w - pad - cw, y + (h - c.arrow.height) / 2, 0, 0, 0, gfx::kColourKey, 32);
        auto v = it.kind == kSleepTimerItem ? sleep_timer_text(c) : c.page_texts.get(u"s_ExceptionHints=");
        text(c, v, x + pad, y + h - U(c, 18), w - 3 * pad - cw, 11, kValueColour, gfx::kTextLeft | gfx::kTextEndEllipsis);
        return;
    }
    auto value = item_value_text(c, it);
    int row2 = y + U(c, 24) + extra;
    if (has_step_areas(it.kind)) {
        auto a = step_areas(c, w - pad);
        int cell = c.minus_plus.width / 2;
        int bh = c.minus_plus.height;
        int by = row2 + (h - U(c, 24) - extra - bh) / 2;
        if (format_kind(it.kind)) by = row2;
        gfx::DrawImage(c.minus_plus, c.screen, x + a.minus_left + (a.minus_right - a.minus_left - cell) / 2, by, 0, cell,
                       0, gfx::kCopy, 32);
        gfx::DrawImage(c.minus_plus, c.screen, x + a.plus_left + (a.plus_right - a.plus_left - cell) / 2, by, cell,
                       cell, 0, gfx::kCopy, 32);
        int vx = x + a.minus_right, vw = a.plus_left - a.minus_right;
        if (format_kind(it.kind)) {
            // The picture on the left, the live sample between the buttons.
            auto nl = value.find(u'\n');
            std::u16string picture = value.substr(0, nl), sample = nl == std::u16string::npos ? u"" : value.substr(nl + 1);
            text(c, picture, x + pad, row2 + U(c, 6), a.minus_left - pad, 11, kDimText,
                 gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
            text(c, sample, x + pad, row2 + bh + U(c, 3), w - 2 * pad, 12, kValueColour,
                 gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
            return;
        }
        text(c, value, vx, by + (bh - U(c, 16)) / 2, vw, 13, kValueColour,
             gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
        return;
    }
    if (it.kind == kPortraitFile || it.kind == kLandscapeFile)
        gfx::DrawImage(c.arrow, c.screen, x + w - pad - c.arrow.width, y + (h - c.arrow.height) / 2, 0, 0, 0,
                       gfx::kColourKey, 32);
    if (two_line(it.kind)) {
        if (value.empty() && (it.kind == kPortraitFile || it.kind == kLandscapeFile)) value = u"-";
        text(c, value, x + pad, row2 + U(c, 6), w - 2 * pad, 11, kValueColour, gfx::kTextLeft | gfx::kTextEndEllipsis);
    }
    (void)active;
}

void draw_status(Context& c) {
    int h = status_height(c);
    fill(c, 0, 0, c.screen_width, h, px(c, 0, 0, 0), 32);
    std::u16string left = c.operator_name.empty() ? std::u16string(u"Lumo") : c.operator_name;
    // The ringer as the phone keeps it (0 sound, nothing to say; 1 vibrate; 2 silent), beside the
    // operator: the right half is full with the radios and the battery.
    if (c.ringer == 1) left += u"  Vibrate";
    else if (c.ringer >= 2) left += u"  Silent";
    text(c, left, U(c, 4), U(c, 1), c.screen_width / 2, 11, kWhite, gfx::kTextLeft | gfx::kTextSingleLine);
    std::u16string right;
    if (c.connections) right += u"\u21C5 ";
    if (c.headphone) right += u"\u266B ";
    if (c.wifi) right += u"WiFi ";
    if (c.bluetooth) right += u"BT ";
    right += (c.on_ac ? u"+" : u"") + to_u16(std::to_string(c.battery)) + u"%";
    int bars_w = U(c, 4) * 4;
    text(c, right, c.screen_width / 2, U(c, 1), c.screen_width / 2 - U(c, 8) - bars_w, 11, kWhite,
         gfx::kTextRight | gfx::kTextSingleLine);
    // Signal strength as four bars of rising height, the reached ones lit.
    int lit = int((std::min<std::uint32_t>(c.signal, 100) + 24) / 25);
    for (int i = 0; i < 4; ++i) {
        int bh = U(c, 3) * (i + 1);
        fill(c, c.screen_width - U(c, 4) - bars_w + i * U(c, 4), h - U(c, 2) - bh, U(c, 3), bh,
             i < lit ? px(c, 255, 255, 255) : px(c, 70, 70, 80), 32);
    }
}

void draw_title(Context& c, std::u16string_view title, bool back) {
    int y = status_height(c), h = title_height(c);
    fill(c, 0, y, c.screen_width, h, px(c, 20, 24, 32), 32);
    for (int x = 0; x < c.screen_width; x += std::max(1, c.topbar.width))
        gfx::DrawImage(c.topbar, c.screen, x, y, 0, 0, 0, gfx::kCopy, 32);
    if (back) gfx::DrawImage(c.back, c.screen, U(c, 2), y, 0, 0, 0, gfx::kColourKey, 32);
    text(c, title, U(c, 36), y + (h - U(c, 17)) / 2, c.screen_width - U(c, 72), 14, kWhite,
         gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
}

void draw_buttons(Context& c, const std::vector<std::u16string>& labels) {
    int y = c.screen_height - button_height(c);
    fill(c, 0, y, c.screen_width, button_height(c), px(c, 10, 12, 16), 32);
    if (labels.empty()) return;
    int n = int(labels.size());
    int gap = U(c, 4);
    int w = (c.screen_width - gap * (n + 1)) / n;
    for (int i = 0; i < n; ++i) {
        int x = gap + i * (w + gap);
        fill(c, x, y + gap, w, button_height(c) - 2 * gap, px(c, 70, 76, 90), 32);
        fill(c, x, y + gap, w, 1, px(c, 140, 146, 160), 32);
        text(c, labels[std::size_t(i)], x, y + (button_height(c) - U(c, 17)) / 2, w, 13, kWhite,
             gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
    }
}

void draw_list(Context& c) {
    auto l = layout(c);
    int pad = U(c, 4);
    int w = c.screen_width - 2 * pad;
    int y = l.top - c.scroll.offset;
    if (c.state == ScreenState::Page && c.page == kAboutPage) {
        std::u16string about = std::u16string(kVersionText) +
                               u"\n\nFreeware. Lumo is given away free of charge and may be passed on unchanged. "
                               u"It comes without any warranty: you use it at your own risk.";
        text(c, about, pad * 2, y + U(c, 8), w - 2 * pad, 12, kWhite, gfx::kTextLeft | gfx::kTextWordBreak);
        y += prefix_height(c);
    }
    auto rows = list_rows(c);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& it = rows[i];
        int h = item_height(c, it);
        if (y + h >= l.top && y < l.bottom) {
            if (c.state == ScreenState::Language) {
                bool selected = int(i) == c.selected_language;
                fill(c, pad, y, w, h, selected ? px(c, 30, 90, 200) : px(c, 40, 44, 52), selected ? 30 : 26);
                fill(c, pad, y + h - 1, w, 1, px(c, 90, 96, 110), 32);
                text(c, it.label, pad + U(c, 8), y + (h - U(c, 17)) / 2, w - U(c, 40), 14, kWhite,
                     gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
                if (selected) draw_switch(c, pad + w - U(c, 6), y, h, true);
            } else if (c.state == ScreenState::MainMenu) {
                fill(c, pad, y, w, h, px(c, 40, 44, 52), 26);
                fill(c, pad, y + h - 1, w, 1, px(c, 90, 96, 110), 32);
                text(c, it.label, pad + U(c, 8), y + (h - U(c, 17)) / 2, w - U(c, 40), 14, kWhite,
                     gfx::kTextLeft | gfx::kTextSingleLine);
                gfx::DrawImage(c.arrow, c.screen, pad + w - c.arrow.width - U(c, 6), y + (h - c.arrow.height) / 2, 0, 0,
                               0, gfx::kColourKey, 32);
            } else if (c.state == ScreenState::Exceptions) {
                bool add = i + 1 == rows.size();
                fill(c, pad, y, w, h, int(i) == c.selected_exception ? px(c, 30, 90, 200) : px(c, 40, 44, 52), 26);
                if (add) {
                    gfx::DrawImage(c.add_button, c.screen, pad + (w - c.add_button.width) / 2,
                                   y + (h - c.add_button.height) / 2, 0, 0, 0, gfx::kCopy, 32);
                } else {
                    text(c, it.label, pad + U(c, 8), y + (h - U(c, 16)) / 2, w - U(c, 40), 13, kWhite,
                         gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
                    gfx::DrawImage(c.delete_mark, c.screen, pad + w - c.delete_mark.width - U(c, 6),
                                   y + (h - c.delete_mark.height) / 2, 0, 0, 0, gfx::kCopy, 32);
                }
            } else {
                bool active = item_active(c.pages[c.page], i);
                draw_item(c, it, pad, y, w, active);
                // Inactive rows sit under a dark overlay.
                if (!active) fill(c, pad, y, w, h, px(c, 0, 0, 0), 20);
            }
        }
        y += h + l.row_gap;
    }
    if (c.state == ScreenState::Exceptions)
        text(c, c.page_texts.get(u"s_ExceptionHints="), pad * 2, y + U(c, 4), w, 11, kDimText, gfx::kTextLeft);
    // The scroll thumb.
    int total = content_height(c), view = l.bottom - l.top;
    if (total > view) {
        int th = std::max(U(c, 16), view * view / total);
        int ty = l.top + (view - th) * c.scroll.offset / std::max(1, max_scroll(c));
        fill(c, c.screen_width - U(c, 3), ty, U(c, 2), th, px(c, 200, 200, 210), 20);
    }
}

void draw_keypad(Context& c) {
    auto l = layout(c);
    const auto& e = c.password_entry;
    std::u16string prompt = e.turning_on ? c.general.get(e.second ? u"s_ReenterPw=" : u"s_EnterNewPw=")
                                         : c.general.get(e.wrong ? u"s_EnterWrongPw=" : u"s_EnterOldPw=");
    int y = l.top + U(c, 8);
    text(c, prompt, U(c, 8), y, c.screen_width - U(c, 16), 13, kWhite, gfx::kTextCenter | gfx::kTextWordBreak);
    y += U(c, 26);
    int dot = U(c, 14), gap = U(c, 10);
    int x0 = (c.screen_width - 4 * dot - 3 * gap) / 2;
    for (int i = 0; i < 4; ++i)
        fill(c, x0 + i * (dot + gap), y, dot, dot, i < int(e.digits.size()) ? px(c, 255, 208, 112) : px(c, 80, 80, 90), 32);
    static constexpr std::u16string_view keys[12] = {u"1", u"2", u"3", u"4", u"5", u"6",
                                                     u"7", u"8", u"9", u"\u2190", u"0", u"C"};
    int top = y + dot + U(c, 12);
    int kh = std::min(U(c, 44), (l.bottom - top - U(c, 8)) / 4);
    int kw = (c.screen_width - U(c, 16)) / 3;
    for (int i = 0; i < 12; ++i) {
        int kx = U(c, 8) + (i % 3) * kw, ky = top + (i / 3) * kh;
        fill(c, kx + U(c, 2), ky + U(c, 2), kw - U(c, 4), kh - U(c, 4), px(c, 60, 66, 80), 32);
        text(c, keys[i], kx, ky + (kh - U(c, 20)) / 2, kw, 16, kWhite, gfx::kTextCenter | gfx::kTextSingleLine,
             gfx::kFontBold);
    }
}

void draw_sleep(Context& c) {
    auto l = layout(c);
    int pad = U(c, 4), w = c.screen_width - 2 * pad;
    Item hours{c.general.get(u"s_Hours="), kNumber11, c.sleep_choice.hours, 23};
    Item minutes{c.general.get(u"s_Mins="), kNumber11, c.sleep_choice.minutes, 59};
    int y = l.top + U(c, 8);
    auto saved = c.state;
    c.state = ScreenState::Page;  // rows drawn as page rows
    draw_item(c, hours, pad, y, w, true);
    y += item_height(c, hours) + l.row_gap;
    draw_item(c, minutes, pad, y, w, true);
    c.state = saved;
}

void draw_theme_page(Context& c) {
    auto t = theme_layout(c);
    auto state = theme_state(c);
    bool busy = theme_busy(c);
    const std::u16string labels[2] = {c.general.get(u"s_SaveTheme="), c.general.get(u"s_LoadTheme=")};
    const int xs[2] = {t.save_x, t.load_x}, ys[2] = {t.save_y, t.load_y};
    for (int i = 0; i < 2; ++i) {
        // Greyed while an operation runs: the buttons take no tap then.
        fill(c, xs[i], ys[i], t.button_w, t.button_h, busy ? px(c, 50, 54, 62) : px(c, 30, 90, 200), 30);
        fill(c, xs[i], ys[i], t.button_w, 1, px(c, 140, 146, 160), 32);
        text(c, labels[i], xs[i], ys[i] + (t.button_h - U(c, 18)) / 2, t.button_w, 14, busy ? kDimText : kWhite,
             gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
    }
    auto [caption, name] = theme_texts(c);
    int y = t.caption_y;
    std::uint32_t colour = state == ThemeState::Invalid ? 0x6070FF : kWhite;  // red, as 0xBBGGRR
    int h = text(c, caption, t.x, y, t.width, 13, colour, gfx::kTextCenter | gfx::kTextWordBreak);
    y += std::max(h, U(c, 16)) + U(c, 4);
    text(c, name, t.x, y, t.width, 13, kValueColour, gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis,
         gfx::kFontBold);
    // The bar: its empty picture, the filled one cut at the progress, and the percentage.
    double progress = std::clamp(theme_progress(c), 0.0, 100.0);
    int bw = c.tbar_off.empty() ? t.width : std::min(t.width, c.tbar_off.width);
    int bx = (c.screen_width - bw) / 2;
    if (c.tbar_off.empty()) fill(c, bx, t.bar_y, bw, U(c, 10), px(c, 60, 60, 70), 32);
    else gfx::DrawImage(c.tbar_off, c.screen, bx, t.bar_y, 0, bw, 0, gfx::kCopy, 32);
    int filled = int(double(bw) * progress / 100.0);
    if (filled > 0) {
        if (c.tbar_on.empty()) fill(c, bx, t.bar_y, filled, U(c, 10), px(c, 80, 200, 90), 32);
        else gfx::DrawImage(c.tbar_on, c.screen, bx, t.bar_y, 0, std::min(filled, c.tbar_on.width), 0, gfx::kCopy, 32);
    }
    int bar_h = c.tbar_off.empty() ? U(c, 10) : c.tbar_off.height;
    text(c, to_u16(std::to_string(int(progress))) + u"%", t.x, t.bar_y + bar_h + U(c, 4), t.width, 11, kDimText,
         gfx::kTextCenter | gfx::kTextSingleLine);
}

}  // namespace

ThemeLayout theme_layout(const Context& c) {
    auto l = layout(c);
    ThemeLayout t;
    t.x = U(c, 12);
    t.width = c.screen_width - 2 * t.x;
    t.button_h = U(c, 40);
    t.save_x = t.load_x = t.x;
    t.button_w = t.width;
    t.save_y = l.top + U(c, 14);
    if (l.bottom - l.top < U(c, 220)) {
        // A landscape screen: the buttons side by side, so the bar stays above the bottom row.
        t.button_w = (t.width - U(c, 10)) / 2;
        t.load_x = t.x + t.width - t.button_w;
        t.load_y = t.save_y;
        t.caption_y = t.save_y + t.button_h + U(c, 12);
        t.bar_y = t.caption_y + U(c, 40);
        return t;
    }
    t.load_y = t.save_y + t.button_h + U(c, 10);
    t.caption_y = t.load_y + t.button_h + U(c, 24);
    t.bar_y = t.caption_y + U(c, 44);
    return t;
}

int theme_button_at(const Context& c, int x, int y) {
    auto t = theme_layout(c);
    auto in = [&](int bx, int by) { return x >= bx && x < bx + t.button_w && y >= by && y < by + t.button_h; };
    if (in(t.save_x, t.save_y)) return 0;
    if (in(t.load_x, t.load_y)) return 1;
    return -1;
}

// Where the keypad's keys lie: -1 when the point hits none, else 0..11 in the drawn order.
int keypad_key_at(const Context& c, int x, int y) {
    auto l = layout(c);
    int top = l.top + U(c, 8) + U(c, 26) + U(c, 14) + U(c, 12);
    int kh = std::min(U(c, 44), (l.bottom - top - U(c, 8)) / 4);
    int kw = (c.screen_width - U(c, 16)) / 3;
    if (y < top || y >= top + 4 * kh || x < U(c, 8) || x >= U(c, 8) + 3 * kw) return -1;
    return ((y - top) / kh) * 3 + (x - U(c, 8)) / kw;
}

// The sleep-timer screen's rows: 0 hours, 1 minutes; -1 elsewhere. `top` gets the row's top.
int sleep_row_at(const Context& c, int y) {
    auto l = layout(c);
    int h = U(c, 60);
    int y0 = l.top + U(c, 8);
    if (y >= y0 && y < y0 + h) return 0;
    y0 += h + l.row_gap;
    if (y >= y0 && y < y0 + h) return 1;
    return -1;
}

std::vector<std::u16string> bottom_labels(const Context& c) {
    if (c.state == ScreenState::Exceptions && c.selected_exception >= 0 &&
        std::size_t(c.selected_exception) < c.exceptions.size())
        return {c.general.get(u"s_Delete=") + u" " + c.exceptions[std::size_t(c.selected_exception)]};
    if (c.state == ScreenState::Password) return {};
    // The theme page's cancel control takes the bar while a theme is worked on or refused.
    if (c.state == ScreenState::Theme && (theme_busy(c) || theme_state(c) == ThemeState::Invalid))
        return {c.general.get(u"s_Cancel=")};
    if (c.state == ScreenState::Language) return {c.change_language_text};
    if (c.state == ScreenState::SleepTimer) return {c.general.get(u"s_Start="), c.general.get(u"s_Cancel=")};
    return {c.general.get(u"s_Save="), c.general.get(u"s_Default="), c.general.get(u"s_Cancel=")};
}

void draw(Context& c) {
    if (!c.screen.back_buffer) return;
    fill(c, 0, 0, c.screen_width, c.screen_height, px(c, 0, 0, 0), 32);
    // The background is made for the portrait screen; a turned screen gets it stretched once.
    if (!c.background.empty() && (c.background_fit.width != c.screen_width || c.background_fit.height != c.screen_height))
        gfx::ResizeImage(c.background_fit, c.screen, c.background, c.screen_width, c.screen_height, true, false);
    gfx::DrawImage(c.background_fit, c.screen, 0, 0, 0, 0, 0, gfx::kCopy, 32);
    std::u16string title;
    bool back = true;
    switch (c.state) {
        case ScreenState::MainMenu: title = c.general.get(u"s_Settings="); back = false; break;
        case ScreenState::Page: case ScreenState::Theme: case ScreenState::Language:
            title = c.page >= 0 ? c.pages[c.page].title : u""; break;
        case ScreenState::Password: title = c.page_texts.get(u"s_PasswordLock="); break;
        case ScreenState::SleepTimer: title = c.general.get(u"s_SleepZorp="); break;
        case ScreenState::Exceptions: title = c.page_texts.get(u"s_ExceptionEXE="); break;
    }
    if (in_list_state(c)) draw_list(c);
    else if (c.state == ScreenState::Password) draw_keypad(c);
    else if (c.state == ScreenState::SleepTimer) draw_sleep(c);
    else if (c.state == ScreenState::Theme) draw_theme_page(c);
    draw_status(c);
    draw_title(c, title, back);
    draw_buttons(c, bottom_labels(c));
    if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
}

}  // namespace lumo::settings
