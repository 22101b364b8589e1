// The status indicators: operator, signal, forwarding, data connection, battery and the state
// icons in the top bar; the full-screen battery while charging; the owner line at the bottom.
#include <algorithm>
#include <cstdio>
#include <string>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

namespace {

constexpr std::u16string_view kPhoneKey = u"System\\State\\Phone";
constexpr std::u16string_view kHardwareKey = u"System\\State\\Hardware";
constexpr std::u16string_view kOwnerKey = u"ControlPanel\\Owner";
constexpr std::uint32_t kRadioOff = 0x10;
constexpr std::uint32_t kBluetoothHeadsetBits = 0x14;
constexpr int kConnectionFrames = 7;
constexpr int kPulseLow = 3, kPulseHigh = 45, kPulseRest = 29;
constexpr int kIconAlpha = 29;

// Where each state icon lies in system.png (96-dpi units).
struct IconCut {
    int width, offset;
};
constexpr IconCut kIconCuts[] = {{0, 0},    {18, 23},  {18, 45},  {18, 66},  {13, 89},
                                 {21, 110}, {17, 152}, {18, 170}, {17, 188}, {17, 206}};

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }

std::uint32_t hklm_dword(Context& c, std::u16string_view key, std::u16string_view name) {
    return c.p.registry().get_dword(Root::LocalMachine, key, name).value_or(0);
}

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

std::u16string trim(std::u16string s) {
    auto blank = [](char16_t ch) { return ch == u' ' || ch == u'\t'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    return s.substr(i);
}

bool load_if_there(Context& c, gfx::Image& img, std::u16string_view path) {
    if (!device_file_exists(c, path)) return false;
    return gfx::LoadImageFile(img, c.screen, path, gfx::kFitNative, 0, 0) && !img.empty();
}

void render_operator_text(Context& c, std::u16string_view text) {
    auto& st = c.status;
    st.operator_text = std::u16string(text);
    if (!c.screen.fonts) return;
    gfx::RenderText(st.operator_image, c.screen, unit(c, 13), gfx::kFontNormal, 0xFFFFFF, text,
                    gfx::kTextSingleLine, 0, 0, 0, 0,
                    gfx::UseDropShadow(c.screen, int(c.settings.num(Id::TextShadow))), unit(c, 1));
}

void update_headset_icon(Context& c) {
    auto& st = c.status;
    const std::uint32_t flags = st.headset_wired | (st.headset_bluetooth & kBluetoothHeadsetBits);
    st.icons[3] = (flags & 0x4) ? 9 : (flags & 0x10) ? 8 : (flags & 0x1) ? 6 : 0;
}

void choose_battery_colour(Context& c) {
    auto& st = c.status;
    int r = 230, g = 230, b = 230;
    if (st.battery_state != kOnBattery) {
        r = 0, g = 230, b = 20;
    } else if (c.battery <= 20) {
        r = 230, g = 0, b = 0;
    }
    st.battery_brush = gfx::MakeBrush(gfx::RGBTo565(gfx::kRgb565, r, g, b));
    st.battery_text_colour = std::uint32_t(b) << 16 | std::uint32_t(g) << 8 | std::uint32_t(r);
}

void render_battery_text(Context& c) {
    auto& st = c.status;
    if (!c.settings.num(Id::DigitalBattery) || !c.screen.fonts) return;
    char text[8];
    std::snprintf(text, sizeof text, "%u%%", unsigned(std::min<std::uint32_t>(c.battery, 999)));
    gfx::RenderText(st.battery_text, c.screen, unit(c, c.battery >= 100 ? 11 : 12),
                    gfx::kFontNormal, st.battery_text_colour, to_u16(text), gfx::kTextSingleLine, 0,
                    0, 0, 0, false, 0);
}

// --- the full-screen battery ------------------------------------------------------------------

int level_file(std::uint32_t level) { return int(std::min<std::uint32_t>(level / 10 * 10, 100)); }

void load_level_picture(Context& c) {
    auto& st = c.status;
    if (!st.per_level) return;
    const int want = level_file(c.battery);
    if (want == st.level_picture) return;
    st.level_picture = want;
    char name[24];
    std::snprintf(name, sizeof name, "battery%d.png", want);
    if (!load_if_there(c, st.level_image, gfx_path(c, to_u16(name))))
        gfx::ReleaseImage(st.level_image, true);
}

void load_battery_pictures(Context& c) {
    auto& st = c.status;
    st.per_level = device_file_exists(c, gfx_path(c, u"battery0.png"));
    st.level_picture = -1;
    if (st.per_level) {
        load_level_picture(c);
        return;
    }
    load_if_there(c, st.left, gfx_path(c, u"battery1.png"));
    load_if_there(c, st.body, gfx_path(c, u"battery2.png"));
    load_if_there(c, st.right, gfx_path(c, u"battery3.png"));
    load_if_there(c, st.fill, gfx_path(c, u"batteryg.png"));
    load_if_there(c, st.charge_mark, gfx_path(c, u"batteryc.png"));
}

void release_battery_pictures(Context& c) {
    auto& st = c.status;
    for (auto* img : {&st.level_image, &st.left, &st.body, &st.right, &st.fill, &st.charge_mark})
        gfx::ReleaseImage(*img, true);
    st.level_picture = -1;
}

bool view_wanted(const Context& c) {
    const auto show = c.settings.num(Id::ShowBattery);
    return show == 2 || (show == 1 && c.status.battery_state != kOnBattery);
}

int body_width(const Context& c) { return c.status.body.width; }

// Bottom right, clear of a banner text at the bottom left; again after every turn.
void place_owner_line(Context& c) {
    auto& st = c.status;
    st.owner_x = c.screen_width - st.owner.width;
    st.owner_y = c.screen_height - st.owner.height;
    // The notification row may stand at the bottom too (no soft keys): the line keeps left of
    // its icons rather than running under them.
    int row_left = notification_row_left(c);
    if (row_left < c.screen_width && notification_row_top(c) + c.notice.height > st.owner_y)
        st.owner_x = std::min(st.owner_x, row_left - st.owner.width - unit(c, 4));
    if (st.banner_right > 0 && st.owner_x < st.banner_right + unit(c, 10))
        st.owner_x = st.banner_right + unit(c, 10);
}

}  // namespace

int signal_level_of(std::uint32_t raw) { return int(std::min<std::uint32_t>((raw + 5) / 20, 5)); }

int connection_type_of(std::uint32_t flags) {
    for (int bit = 6; bit >= 0; --bit)
        if (flags & (1u << bit)) return bit + 1;
    return 0;
}

void read_operator(Context& c) {
    auto& st = c.status;
    gfx::ReleaseImage(st.operator_image, false);
    st.operator_text.clear();
    st.operator_named = false;
    st.operator_x = unit(c, 1);
    if (hklm_dword(c, kPhoneKey, u"Status") & kRadioOff) {
        if (!load_if_there(c, st.operator_image, gfx_path(c, u"flight.png")))
            render_operator_text(c, text_or(c, u"s_FlightMode=", u"Flight Mode"));
        return;
    }
    auto name = c.p.registry().get_string(Root::LocalMachine, kPhoneKey, u"Current Operator Name");
    if (!name) {
        render_operator_text(c, text_or(c, u"s_NoService=", u"No Service"));
        return;
    }
    st.operator_named = true;
    st.operator_x = unit(c, 22);
    auto trimmed = trim(*name);
    if (!trimmed.empty() &&
        load_if_there(c, st.operator_image, gfx_path(c, u"operator\\" + trimmed + u".png")))
        return;
    // A data mark beside the name leaves room for fewer letters.
    const std::size_t room = (st.icons[4] || st.connection_type) ? 9 : 12;
    if (trimmed.size() > room) trimmed = trimmed.substr(0, room - 2) + u"...";
    render_operator_text(c, trimmed);
}

void make_owner_line(Context& c) {
    auto& st = c.status;
    gfx::ReleaseImage(st.owner, false);
    if (!c.settings.num(Id::ShowOwnerInfo) || !c.screen.fonts) return;
    auto& reg = c.p.registry();
    auto name = reg.get_string(Root::CurrentUser, kOwnerKey, u"Name").value_or(u"").substr(0, 25);
    if (name.empty()) return;
    auto phone = reg.get_string(Root::CurrentUser, kOwnerKey, u"Telephone").value_or(u"").substr(0, 15);
    std::u16string who = phone.empty() ? name : name + u" (" + phone + u")";
    std::u16string line = text_or(c, u"s_Owner=", u"Owner:") + u" " + who;
    gfx::RenderText(st.owner, c.screen, unit(c, 13), gfx::kFontNormal, 0xC8C8C8, line,
                    gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    place_owner_line(c);
}

void read_status(Context& c) {
    auto& st = c.status;
    st.signal_level = signal_level_of(hklm_dword(c, kPhoneKey, u"Signal Strength Raw"));
    const std::uint32_t bt = hklm_dword(c, kHardwareKey, u"Bluetooth");
    st.icons[1] = (bt & 0x1) ? 4 : 0;
    st.icons[2] = (hklm_dword(c, kHardwareKey, u"Wifi") & 0x2) ? 5 : 0;
    st.headset_wired = hklm_dword(c, kHardwareKey, u"Headset");
    st.headset_bluetooth = bt & kBluetoothHeadsetBits;
    update_headset_icon(c);
    st.icons[4] = hklm_dword(c, u"System\\State\\Connections", u"Count") ? 7 : 0;
    st.connection_type = connection_type_of(hklm_dword(c, kPhoneKey, u"Cellular System Connected"));
    if (hklm_dword(c, u"Drivers\\BuiltIn\\RIL", u"CFU_State"))
        load_if_there(c, st.diverted, gfx_path(c, u"diverted.png"));
    read_operator(c);
    choose_battery_colour(c);
    make_owner_line(c);
}

void update_battery(Context& c, std::uint32_t level, bool external_power) {
    auto& st = c.status;
    const std::uint8_t state = !external_power ? kOnBattery : level >= 100 ? kFull : kCharging;
    c.log.printf("UpdateBattery %d(%d)", int(level), int(state));
    if (state != st.battery_state && c.p.windows().foreground_window() == c.main_window &&
        (c.state == ScreenState::Normal || c.state == ScreenState::PasswordEntry ||
         c.state == ScreenState::EmergencyCall))
        set_off_lcd(c, c.settings.num(Id::OffLCD), c.settings.num(Id::ACOffLCD));
    c.battery = level;
    c.on_ac = external_power;
    st.battery_state = state;
    choose_battery_colour(c);
    st.battery_pulse = state == kCharging ? 32 : state == kFull ? 32 : kPulseRest;

    const auto show = c.settings.num(Id::ShowBattery);
    if (state != kOnBattery) {
        if (!st.view_shown && show != 0) {
            load_battery_pictures(c);
            st.view_shown = true;
            st.view_alpha = 0;
            st.fill_width = level >= 100 ? body_width(c) : 0;
        } else if (st.view_shown) {
            load_level_picture(c);
        }
    } else if (show == 2) {
        if (!st.view_shown) {
            load_battery_pictures(c);
            st.view_shown = true;
            st.view_alpha = 0;
        }
        load_level_picture(c);
    }
    render_battery_text(c);
}

bool on_status_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    auto& st = c.status;
    switch (msg) {
        case proto::WM_UpdateBattery: update_battery(c, std::uint32_t(w), l != 0); break;
        case proto::WM_CHANGE_PHONESIGNALSTRENGTH: st.signal_level = signal_level_of(std::uint32_t(w)); break;
        case proto::WM_CHANGE_SN_PHONEOPERATORNAME: read_operator(c); break;
        case proto::WM_CHANGE_CELLSYSTEMCONNECTED:
            // The service sends the connection type it worked out from the flags.
            st.connection_type = int(std::min<WParam>(w, kConnectionFrames));
            read_operator(c);
            break;
        case proto::WM_CHANGE_CONNECTIONSCOUNT:
            st.icons[4] = w ? 7 : 0;
            read_operator(c);
            break;
        case proto::WM_CHANGE_SN_BLUETOOTH: st.icons[1] = (w & 0x1) ? 4 : 0; break;
        case proto::WM_CHANGE_SN_WIFI: st.icons[2] = (w & 0x2) ? 5 : 0; break;
        case proto::WM_CHANGE_HEADPHONE:
            st.headset_wired = std::uint32_t(w);
            update_headset_icon(c);
            break;
        case proto::WM_CHANGE_BT_MSHEADPHONE:
            st.headset_bluetooth = std::uint32_t(w);
            update_headset_icon(c);
            break;
        case proto::WM_CHANGE_CFUSTATE:
            if (w) load_if_there(c, st.diverted, gfx_path(c, u"diverted.png"));
            else gfx::ReleaseImage(st.diverted, true);
            break;
        case proto::WM_CHANGE_ACTIVESYNC:
            c.log.printf("Active Sync %d", int(w));
            st.syncing = w != 0;
            break;
        case proto::WM_CHANGE_OWNERINFO: make_owner_line(c); break;
        default: return false;
    }
    request_redraw(c);
    return true;
}

// --- drawing --------------------------------------------------------------------------------

bool battery_view_covers(const Context& c) {
    return c.status.view_shown || c.settings.num(Id::ShowBattery) == 2;
}

void draw_battery_view(Context& c) {
    auto& st = c.status;
    const int alpha = c.scene_alpha != 32 ? c.scene_alpha : st.view_alpha;
    // The view darkens the wallpaper as it fades in, unless it lies over it.
    if (c.settings.num(Id::BatteryOnTop)) draw_wallpaper(c, c.scene_alpha);
    else draw_wallpaper(c, c.scene_alpha * (32 - st.view_alpha) / 32);
    if (st.per_level) {
        const auto& img = st.level_image;
        if (!img.empty())
            gfx::DrawImage(img, c.screen, (c.screen_width - img.width) / 2,
                           (c.screen_height - img.height) / 2, 0, 0, 0, gfx::kConstant, alpha);
        return;
    }
    const int total = st.left.width + st.body.width + st.right.width;
    int x = (c.screen_width - total) / 2;
    auto centred_y = [&c](const gfx::Image& img) { return (c.screen_height - img.height) / 2; };
    if (st.battery_state == kCharging && !st.charge_mark.empty())
        gfx::DrawImage(st.charge_mark, c.screen, x - st.charge_mark.width, centred_y(st.charge_mark),
                       0, 0, 0, gfx::kConstant, alpha);
    if (!st.left.empty()) gfx::DrawImage(st.left, c.screen, x, centred_y(st.left), 0, 0, 0, gfx::kConstant, alpha);
    x += st.left.width;
    const int body_x = x;
    if (!st.body.empty()) gfx::DrawImage(st.body, c.screen, x, centred_y(st.body), 0, 0, 0, gfx::kConstant, alpha);
    x += st.body.width;
    if (!st.right.empty()) gfx::DrawImage(st.right, c.screen, x, centred_y(st.right), 0, 0, 0, gfx::kConstant, alpha);
    const int fill = int(st.fill_width);
    if (!st.fill.empty() && fill > 0)
        gfx::DrawImagePart(st.fill, c.screen, body_x, centred_y(st.fill), fill, 0,
                           c.battery <= 20 ? st.body.width : 0, 0, gfx::kConstant, alpha);
}

void draw_status_bar(Context& c) {
    auto& st = c.status;
    const int top = c.top_offset;
    auto a = [&c](int alpha) { return alpha * c.scene_alpha / 32; };
    const int bar = unit(c, 16);
    // Operator, signal bars, forwarding and data connection on the left.
    const auto& op = st.operator_image;
    if (!op.empty())
        gfx::DrawImage(op, c.screen, st.operator_x, top + (bar - op.height) / 2, 0, 0, 0, gfx::kColourKey, a(32));
    int x = st.operator_x + (op.empty() ? 0 : op.width) + unit(c, 1);
    auto draw_icon = [&](int id, int ix, int alpha) {
        const auto cut = kIconCuts[id];
        gfx::DrawImagePart(c.system_icons, c.screen, ix, top, unit(c, cut.width), 0, unit(c, cut.offset), 0,
                           gfx::kColourKey, a(alpha));
    };
    if (st.operator_named) {
        gfx::SelectBrush(c.screen, &c.light_grey);
        const bool shadow = gfx::UseDropShadow(c.screen, int(c.settings.num(Id::TextShadow)));
        for (int i = 0; i < 5; ++i) {
            const int x1 = unit(c, 1) + i * unit(c, 4);
            const int y1 = i < st.signal_level ? unit(c, 10) - i * unit(c, 2) : unit(c, 11);
            gfx::FillRect(c.screen, x1, top + y1, x1 + unit(c, 3), top + unit(c, 12), a(29));
            if (shadow) gfx::DrawHLine(c.screen, x1, top + unit(c, 12), x1 + unit(c, 3) - 1, 0, a(12));
        }
        if (!st.diverted.empty()) {
            gfx::DrawImage(st.diverted, c.screen, x, top, 0, 0, 0, gfx::kColourKey, a(kIconAlpha));
            x += st.diverted.width;
        }
        const int pulse = std::min(st.connection_pulse, 32);
        if (st.connection_type > 0 && !c.conicon.empty()) {
            const int frame_w = c.conicon.width / kConnectionFrames;
            gfx::DrawImage(c.conicon, c.screen, x, top + unit(c, 1), (st.connection_type - 1) * frame_w, frame_w, 0,
                           gfx::kColourKey, a(pulse));
        } else if (st.icons[4]) {
            draw_icon(st.icons[4], x, pulse);
        }
    } else if (st.icons[4]) {
        draw_icon(st.icons[4], x, kIconAlpha);
    }
    // Battery on the right.
    const int pulse = std::min(st.battery_pulse, 32);
    if (c.battery <= 100) {
        if (c.settings.num(Id::DigitalBattery) && !st.battery_text.empty()) {
            gfx::DrawImage(st.battery_text, c.screen, c.screen_width - st.battery_text.width, top + unit(c, 2), 0, 0,
                           0, gfx::kColourKey, a(pulse));
        } else {
            // The case around the fill: the theme's top bar carries none, and a fill alone
            // does not read as a battery at low levels.
            static const gfx::Brush kCase = gfx::MakeBrush(gfx::RGBTo565(gfx::kRgb565, 230, 230, 230));
            gfx::SelectBrush(c.screen, &kCase);
            const int l = c.screen_width - unit(c, 19), r = c.screen_width - unit(c, 2);
            const int t = top + unit(c, 4), b = top + unit(c, 12), w = unit(c, 1);
            gfx::FillRect(c.screen, l, t, r, t + w, a(kIconAlpha));
            gfx::FillRect(c.screen, l, b - w, r, b, a(kIconAlpha));
            gfx::FillRect(c.screen, l, t + w, l + w, b - w, a(kIconAlpha));
            gfx::FillRect(c.screen, r - w, t + w, r, b - w, a(kIconAlpha));
            gfx::FillRect(c.screen, r, top + unit(c, 6), r + w, top + unit(c, 10), a(kIconAlpha));
            gfx::SelectBrush(c.screen, &st.battery_brush);
            const int x1 = c.screen_width - unit(c, 18);
            gfx::FillRect(c.screen, x1, top + unit(c, 5), x1 + int(c.battery + 2) * unit(c, 7) / 50,
                          top + unit(c, 11), a(pulse));
        }
    }
    // State icons, right to left.
    st.icons[0] = c.ringer_mode;
    if (c.system_icons.empty()) return;
    int ix = c.screen_width - unit(c, 21);
    for (int slot = 0; slot < 4; ++slot) {
        const int id = st.icons[slot];
        if (id <= 0 || id > 9) continue;
        ix -= unit(c, kIconCuts[id].width + unit(c, 1));
        draw_icon(id, ix, kIconAlpha);
    }
}

void draw_owner_line(Context& c) {
    const auto& st = c.status;
    if (st.owner.empty()) return;
    place_owner_line(c);
    gfx::DrawImage(st.owner, c.screen, st.owner_x, st.owner_y + c.bottom_offset, 0, 0, 0, gfx::kColourKey,
                   std::min(c.scene_alpha, 28));
}

void step_status(Context& c) {
    auto& st = c.status;
    if (st.battery_state == kCharging) {
        if (++st.battery_pulse > kPulseHigh) st.battery_pulse = kPulseLow;
    }
    if (st.syncing) {
        if (++st.connection_pulse > kPulseHigh) st.connection_pulse = kPulseLow;
    } else if (st.connection_pulse != kPulseRest) {
        st.connection_pulse += st.connection_pulse < kPulseRest ? 1 : -1;
    }
    if (!st.view_shown) return;
    const int full = body_width(c);
    const double level = double(std::min<std::uint32_t>(c.battery, 100));
    if (st.battery_state != kOnBattery || c.settings.num(Id::ShowBattery) != 2) {
        st.fill_width += level * unit(c, 1) / 50;
        if (st.fill_width > level * full / 100) st.fill_width = level >= 100 ? full : 0;
    } else {
        st.fill_width = level >= 100 ? full : level * full / 100;
    }
    if (view_wanted(c)) {
        st.view_alpha = std::min(st.view_alpha + 4, 32);
    } else {
        st.view_alpha = std::max(st.view_alpha - 8, 0);
        if (st.view_alpha == 0 && c.settings.num(Id::ShowBattery) == 1) {
            st.view_shown = false;
            release_battery_pictures(c);
        }
    }
}

bool status_animating(const Context& c) {
    const auto& st = c.status;
    if (st.battery_state == kCharging || st.syncing || st.connection_pulse != kPulseRest) return true;
    if (!st.view_shown) return false;
    if (st.view_alpha != (view_wanted(c) ? 32 : 0)) return true;
    // The fill sweeps until it stands full.
    return st.battery_state != kOnBattery && !st.per_level && int(st.fill_width) != body_width(c);
}

}  // namespace lumo::lockscreen
