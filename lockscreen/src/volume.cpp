// The volume overlay: the ringer (sound levels, silent, vibrate), the system and ring volumes with
// the values the phone's sound settings mirror them to, the in-call volume of the telephony phone
// device, the bars and buttons by touch, the volume keys, and giving the screen back.
#include <algorithm>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
namespace proto = protocol;
using catalogue::Id;

namespace {

constexpr std::uint32_t kCloseMs = 3000;
constexpr std::uint32_t kKeyStep = 13107;  // a fifth of the range
constexpr std::uint32_t kBarStep = 4369;   // a fifteenth: one bar segment
constexpr std::uint32_t kMax = 0xFFFF;
constexpr int kSegments = 15;
constexpr std::uint32_t kMaxRing = 5;
constexpr std::uint32_t kPhoneApiVersion = 0x20000;
constexpr std::u16string_view kOverridesKey = u"ControlPanel\\Notifications\\ShellOverrides";
constexpr std::u16string_view kVolumeKey = u"ControlPanel\\Volume";
constexpr std::u16string_view kRingKey = u"ControlPanel\\SoundCategories\\Ring";
constexpr std::u16string_view kOverlayKey = u"Software\\HTC\\VolumeOverlay";

bool in_volume_state(const Context& c) {
    return c.state == ScreenState::VolumeControl || c.state == ScreenState::InCallVolume;
}
int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }
void arm(Context& c, std::uint32_t id, std::uint32_t ms) { c.p.windows().set_timer(c.main_window, id, ms); }
void kill(Context& c, std::uint32_t id) { c.p.windows().kill_timer(c.main_window, id); }

void release(gfx::Image& img) {
    gfx::ReleaseImage(img, true);
    img.width = img.height = 0;
}

bool load(Context& c, gfx::Image& img, std::u16string_view file) {
    release(img);
    if (gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) return true;
    release(img);
    c.log.printf("Picture %s cannot be loaded: drawn instead", to_utf8(file).c_str());
    return false;
}

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

void render(Context& c, gfx::Image& img, std::u16string_view text, int weight) {
    release(img);
    if (!c.screen.fonts) return;
    gfx::RenderText(img, c.screen, unit(c, 13), weight, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0,
                    c.settings.num(Id::TextShadow) != 0, 1);
}

// --- the volumes and the ringer ------------------------------------------------------------------

// The wave-out volume as one 16-bit figure: both halves ORed.
std::uint32_t wave_volume(Context& c) {
    auto v = c.p.sound().volume().value_or(0);
    return (v & 0xFFFF) | (v >> 16);
}

std::uint32_t ring_volume(Context& c) {
    auto r = c.p.registry().get_dword(Root::CurrentUser, kRingKey, u"InitVol").value_or(0);
    // A value beyond the scale is the loudest the scale has.
    return std::min(r, kMaxRing);
}

bool simple_mode(Context& c) {
    return c.p.registry().get_dword(Root::LocalMachine, kOverlayKey, u"SimpleMode").value_or(0) == 1;
}

// Sets the wave-out volume (both channels) and the values the sound settings keep of it.
void store_system_volume(Context& c, std::uint32_t v) {
    std::uint32_t both = v | v << 16;
    c.p.sound().set_volume(both);
    c.log.printf("HTCV %d %0X", int(v / kBarStep), both);
    auto& reg = c.p.registry();
    reg.set_dword(Root::CurrentUser, kOverridesKey, u"SavedVolume", both);
    reg.set_dword(Root::CurrentUser, kVolumeKey, u"Volume", both);
}

void store_ring_volume(Context& c, std::uint32_t r) {
    auto& reg = c.p.registry();
    reg.set_dword(Root::CurrentUser, kOverridesKey, u"SavedRingerVolume", r * 0x33333333u);
    reg.set_dword(Root::CurrentUser, kVolumeKey, u"Ringer", r * 0x33333333u);
    reg.set_dword(Root::CurrentUser, kRingKey, u"InitVol", r);
}

RingerType ringer_type(Context& c) {
    if (auto t = c.p.sound().ringer()) return *t;
    return c.ringer_mode == kRingerSound ? RingerType::On
           : c.ringer_mode == kRingerVibrate ? RingerType::Vibrate
                                             : RingerType::None;
}

// Switches the ringer; the platform publishes it as Mode, which RingerMode follows at once
// rather than after the service's forwarded change, so that the next key already sees it.
void set_ringer(Context& c, RingerType type) {
    c.p.sound().set_ringer(type);
    if (type == RingerType::On && wave_volume(c) == 0) store_system_volume(c, kKeyStep);
    read_ringer_mode(c);
}

void toggle_vibrate(Context& c) {
    auto t = ringer_type(c);
    c.log.printf("Change Vibrate SND:%d", int(t));
    if (t == RingerType::Vibrate) {
        set_ringer(c, RingerType::On);
    } else {
        set_ringer(c, RingerType::Vibrate);
        post_service(c, proto::WM_Vibrate, proto::kVibrateLongMs, 0);
    }
}

void toggle_silent(Context& c) {
    auto t = ringer_type(c);
    c.log.printf("Change Silent SND:%d", int(t));
    set_ringer(c, t == RingerType::None ? RingerType::On : RingerType::None);
}

// Simple mode's ring volume for a system volume: one ring step per three bar steps, and never
// silent while the system volume is not.
std::uint32_t simple_ring_for(std::uint32_t v) {
    if (v > 0 && v < kKeyStep) return 1;
    return std::min<std::uint32_t>((v / kBarStep) / 3, kMaxRing);
}

void set_system_volume(Context& c, std::uint32_t v, bool up) {
    v = std::min(v, kMax);
    c.log.printf(up ? "New VC up:%0X" : "New VC down:%0X", v);
    arm(c, kTimerCloseVolume, kCloseMs);
    if (c.ringer_mode != kRingerSound) {
        set_ringer(c, RingerType::On);
        return;
    }
    store_system_volume(c, v);
    if (simple_mode(c)) store_ring_volume(c, simple_ring_for(v));
}

void set_ring_volume(Context& c, std::uint32_t r) {
    r = std::min(r, kMaxRing);
    arm(c, kTimerCloseVolume, kCloseMs);
    if (c.ringer_mode != kRingerSound) {
        set_ringer(c, RingerType::On);
        return;
    }
    store_ring_volume(c, r);
    if (simple_mode(c)) store_system_volume(c, r * 0x3333);
}

void beep(Context& c) { c.p.sound().beep(); }

// --- the in-call volume ----------------------------------------------------------------------------

void close_phone(Context& c) {
    auto& v = c.volume;
    auto& t = c.p.telephony();
    if (v.phone) t.phone_close(v.phone);
    if (v.phone_app) t.phone_shutdown(v.phone_app);
    v.phone = 0;
    v.phone_app = 0;
    v.hook_switch_dev = 0;
}

// Opens the phone device and picks the hook-switch device the call uses; false when either fails.
bool open_phone(Context& c) {
    auto& v = c.volume;
    auto& t = c.p.telephony();
    close_phone(c);
    std::uint32_t devices = 0;
    auto r = t.phone_initialize(u"lumo", v.phone_app, devices);
    c.log.printf("IC 1: %d", int(r));
    if (r == 0 && devices > 0) {
        std::uint32_t version = 0;
        r = t.phone_negotiate_api_version(v.phone_app, 0, kPhoneApiVersion, kPhoneApiVersion, version);
        c.log.printf("IC 2: %d", int(r));
        if (r == 0) {
            r = t.phone_open(v.phone_app, 0, version, v.phone);
            c.log.printf("IC 3: %d", int(r));
        }
    }
    if (r != 0 || devices == 0 || !v.phone) {
        close_phone(c);
        return false;
    }
    PhoneStatus st;
    r = t.phone_get_status(v.phone, st);
    bool sp = st.speaker_mode != kHookSwitchModeOnHook, he = st.headset_mode != kHookSwitchModeOnHook,
         ha = st.handset_mode != kHookSwitchModeOnHook;
    c.log.printf("IC GetStatus(%d) sp=%d he=%d ha=%d", int(r), int(sp), int(he), int(ha));
    if (r != 0) {
        close_phone(c);
        return false;
    }
    v.hook_switch_dev = sp ? kHookSwitchSpeaker : he ? kHookSwitchHeadset : kHookSwitchHandset;
    return true;
}

std::uint32_t in_call_volume(Context& c) {
    std::uint32_t vol = 0;
    if (c.volume.phone) c.p.telephony().phone_get_volume(c.volume.phone, c.volume.hook_switch_dev, vol);
    return std::min(vol, kMax);
}

void set_in_call_volume(Context& c, std::uint32_t vol) {
    auto& v = c.volume;
    vol = std::min(vol, kMax);
    c.log.printf("New InCallVC:%d", int(vol));
    auto r = c.p.telephony().phone_set_volume(v.phone, v.hook_switch_dev, vol);
    c.log.printf("SetInCallVolumeV: %d(%d) %d", int(vol), int(v.hook_switch_dev), int(r));
    request_redraw(c);
}

// --- layout and drawing ---------------------------------------------------------------------------

const gfx::Image& bar_image(const Context& c) {
    const auto& v = c.volume;
    return c.state == ScreenState::InCallVolume && !v.ibar.empty() ? v.ibar : v.bar;
}

void load_pictures(Context& c) {
    auto& v = c.volume;
    load(c, v.bar, u"vcbar.png");
    if (c.state == ScreenState::InCallVolume) {
        release(v.ibar);
        if (device_file_exists(c, gfx_path(c, u"vcibar.png"))) load(c, v.ibar, u"vcibar.png");
    } else {
        load(c, v.button, u"vcbutton.png");
    }
    render(c, v.label_system, text_or(c, u"s_System=", u"System"), 400);
    render(c, v.label_ring, text_or(c, u"s_Ringtone=", u"Ringtone"), 400);
    render(c, v.label_volume, text_or(c, u"s_Volume=", u"Volume"), 400);
    render(c, v.label_silent, text_or(c, u"s_Silent=", u"Silent"), 700);
    render(c, v.label_vibrate, text_or(c, u"s_Vibrate=", u"Vibrate"), 700);
}

// The bar picture shrunk (its four cells together) so that a step is `step` rows high.
void fit_bar(Context& c, gfx::Image& img, int step) {
    if (img.empty() || img.height / 4 <= step) return;
    gfx::Image small;
    int w = std::max(1, img.width * step * 4 / img.height);
    if (gfx::ResizeImage(small, c.screen, img, w, step * 4, false, false)) std::swap(img, small);
    release(small);
}

void layout(Context& c) {
    auto& v = c.volume;
    int w = c.screen_width, h = c.screen_height;
    v.button_w = v.button.empty() ? unit(c, 110) : v.button.width / 2;
    v.button_h = v.button.empty() ? unit(c, 30) : v.button.height;
    int bar_h = v.bar.empty() ? unit(c, 64) : v.bar.height;
    bool landscape = w > h;
    bool in_call = c.state == ScreenState::InCallVolume;
    // Fifteen segments and a row of labels take four bar heights; the buttons stand under them
    // on a tall screen and beside them on a wide one. A screen too short for the pictures gets
    // them shrunk to fit.
    int room = (landscape || in_call) ? h - unit(c, 8) : h - 2 * v.button_h;
    int step = std::max(2, std::min(bar_h / 4, room / 16));
    fit_bar(c, v.bar, step);
    fit_bar(c, v.ibar, step);
    v.step = step;
    const auto& bar = bar_image(c);
    v.bar_w = bar.empty() ? unit(c, 40) : bar.width;
    int area = landscape && !in_call ? w / 2 : w;
    v.sys_x = (area / 2 - v.bar_w) / 2 + unit(c, 10);
    v.ring_x = area / 2 + (area / 2 - v.bar_w) / 2 - unit(c, 10);
    v.in_x = (w - v.bar_w) / 2;
    if (in_call) {
        int label = v.label_volume.height + unit(c, 4);
        v.y0 = (h - kSegments * step + label) / 2;
        v.label_y = v.y0 - label;
    } else if (landscape) {
        v.y0 = (h - 16 * step) / 2;
        v.label_y = v.y0 + kSegments * step;
        v.button_x = area + (w - area - v.button_w) / 2;
        v.silent_y = h / 2 - v.button_h - unit(c, 6);
        v.vibrate_y = h / 2 + unit(c, 6);
    } else {
        v.y0 = (h - 16 * step - 2 * v.button_h) / 2;
        v.label_y = v.y0 + kSegments * step;
        v.button_x = (w - v.button_w) / 2;
        v.silent_y = v.y0 + 16 * step;
        v.vibrate_y = v.silent_y + v.button_h;
    }
}

void make_background(Context& c) {
    auto& v = c.volume;
    release(v.background);
    if (c.settings.num(Id::TransparentVC) != 0) {
        // What is on the screen now, darkened once here rather than in every frame.
        gfx::Image shot;
        gfx::CaptureScreen(shot, c.screen);
        gfx::DimToScreen(shot, c.screen, 11);
        gfx::ImageFromBackBuffer(v.background, c.screen);
        release(shot);
        return;
    }
    gfx::Image picture;
    if (load(c, picture, u"vcbg.png")) {
        if (picture.width == c.screen_width && picture.height == c.screen_height) std::swap(v.background, picture);
        else gfx::ResizeImage(v.background, c.screen, picture, c.screen_width, c.screen_height, true, false);
    }
    release(picture);
}

struct Rect {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// A bar's touch area reaches four steps above it and four below its fifteen.
Rect bar_area(const Context& c, int x) {
    const auto& v = c.volume;
    return {x, v.y0 - 4 * v.step, v.bar_w, 23 * v.step};
}
Rect silent_rect(const Context& c) {
    const auto& v = c.volume;
    return {v.button_x, v.silent_y, v.button_w, v.button_h};
}
Rect vibrate_rect(const Context& c) {
    const auto& v = c.volume;
    return {v.button_x, v.vibrate_y, v.button_w, v.button_h};
}

// The step under the finger, 0 at the bar's top to 15 at its foot.
int step_at(const Context& c, int y) {
    const auto& v = c.volume;
    return std::clamp((y - v.y0) / std::max(1, v.step), 0, kSegments);
}

void draw_bar(Context& c, const gfx::Image& img, int x, int filled) {
    auto& v = c.volume;
    auto& scr = c.screen;
    filled = std::clamp(filled, 0, kSegments);
    for (int i = 0; i < kSegments; ++i) {
        bool on = i >= kSegments - filled;
        int y = v.y0 + i * v.step;
        if (!img.empty()) {
            int cell = img.height / 4;
            // Cells from the top: filled, empty, and the rounded top segment filled and empty.
            int row = (i == 0 ? 2 : 0) + (on ? 0 : 1);
            gfx::DrawImagePart(img, scr, x, y, img.width, cell, 0, row * cell, gfx::kCopy, 32);
        } else {
            gfx::Brush b = gfx::MakeBrush(on ? gfx::RGBTo565(scr.format, 40, 120, 230) : 0xFFFF);
            auto* old = gfx::SelectBrush(scr, &b);
            gfx::FillRect(scr, x + 2, y + 2, x + v.bar_w - 2, y + v.step - 2, on ? 30 : 6);
            if (old) gfx::SelectBrush(scr, old);
        }
    }
}

void draw_centred(Context& c, const gfx::Image& img, int centre_x, int y, int alpha) {
    if (!img.empty()) gfx::DrawImage(img, c.screen, centre_x - img.width / 2, y, 0, 0, 0, gfx::kColourKey, alpha);
}

void draw_button(Context& c, int frame, const Rect& r, bool active, bool pressed, const gfx::Image& label) {
    auto& v = c.volume;
    auto& scr = c.screen;
    int alpha = active || pressed ? 32 : 18;
    if (!v.button.empty()) {
        gfx::DrawImage(v.button, scr, r.x, r.y, frame * v.button_w, v.button_w, 0, gfx::kCopy, alpha);
    } else {
        gfx::Brush b = gfx::MakeBrush(gfx::RGBTo565(scr.format, 58, 64, 76));
        auto* old = gfx::SelectBrush(scr, &b);
        gfx::FillRect(scr, r.x, r.y + 2, r.x + r.w, r.y + r.h - 2, alpha);
        if (old) gfx::SelectBrush(scr, old);
    }
    if (pressed) {
        gfx::Brush white = gfx::MakeBrush(0xFFFF);
        auto* old = gfx::SelectBrush(scr, &white);
        gfx::FillRect(scr, r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, 8);
        if (old) gfx::SelectBrush(scr, old);
    }
    // The picture's icon sits at its left end; the word takes the rest.
    int icon = unit(c, 30);
    if (!label.empty())
        gfx::DrawImage(label, scr, r.x + icon + (r.w - icon - label.width) / 2, r.y + (r.h - label.height) / 2, 0, 0, 0,
                       gfx::kColourKey, active || pressed ? 32 : 22);
}

// --- opening and closing ----------------------------------------------------------------------------

void bring_to_top(Context& c) {
    auto& win = c.p.windows();
    full_screen(c, true);
    win.show_window(c.main_window, SW_SHOW);
    win.set_foreground_window(c.main_window);
}

}  // namespace

void open_volume_control(Context& c) {
    auto& v = c.volume;
    if (c.call.talking || c.call.dialing) {
        if (!open_phone(c)) return;
        c.state = ScreenState::InCallVolume;
    } else {
        c.state = ScreenState::VolumeControl;
    }
    post_service(c, proto::WM_VolumeControl, 1, 0);
    load_pictures(c);
    layout(c);
    v.RestoreWindow = c.p.windows().foreground_window();
    v.VolBarDrag = v.RingBarTouched = v.SilentPressed = v.VibratePressed = v.touch_down = false;
    gfx::ResumeScreen(c.screen);
    make_background(c);
    update_date_only(c);
    request_redraw(c);
    bring_to_top(c);
    c.log.printf("Start Volume Control");
    arm(c, kTimerCloseVolume, kCloseMs);
}

void close_volume_control(Context& c) {
    if (!in_volume_state(c)) return;
    auto& v = c.volume;
    auto& win = c.p.windows();
    kill(c, kTimerCloseVolume);
    post_service(c, proto::WM_VolumeControl, 0, 0);
    c.log.printf("VolumeControl2Normal %0X", int(c.state));
    Hwnd back = v.RestoreWindow;
    v.RestoreWindow = 0;
    if (back && back == c.main_window) {
        set_off_lcd(c, c.settings.num(Id::OffLCD), c.settings.num(Id::ACOffLCD));
    } else {
        // The task bar comes back before the program does, so that the program keeps the front.
        kill_all_timer(c, true);
        if (!c.locked) full_screen(c, false);
        win.show_window(c.main_window, SW_HIDE);
    }
    if (back && win.is_window(back)) {
        win.show_window(back, SW_SHOW);
        win.set_foreground_window(back);
    }
    c.state = ScreenState::Normal;
    close_phone(c);
    v.VolBarDrag = v.RingBarTouched = v.SilentPressed = v.VibratePressed = v.touch_down = false;
    for (auto* img : {&v.background, &v.bar, &v.ibar, &v.button})
        release(*img);
    refresh_panels(c);
    request_redraw(c);
}

bool volume_key(Context& c, std::uint32_t msg, std::uint8_t vk) {
    if (!in_volume_state(c)) return false;
    if (msg != WM_KEYDOWN) return true;
    c.log.printf("WM_KEYDOWN %0X(%0X)", int(vk), int(vk));
    arm(c, kTimerCloseVolume, kCloseMs);
    const bool up = vk == 0x21 || vk == 0x26 || vk == 0x75;
    const bool down = vk == 0x22 || vk == 0x28 || vk == 0x76;
    if (vk == 0x5B) {
        arm(c, kTimerCloseVolume, 0);
        return true;
    }
    if (!up && !down) return true;
    if (c.state == ScreenState::InCallVolume) {
        std::uint32_t cur = in_call_volume(c);
        set_in_call_volume(c, up ? std::min(cur + kKeyStep, kMax) : cur > kKeyStep ? cur - kKeyStep : 0);
        beep(c);
        return true;
    }
    std::uint32_t cur = wave_volume(c);
    c.log.printf("Current VC:%0X", cur);
    c.log.printf(up ? "Volume Up %d" : "Volume Down %d", int(c.ringer_mode));
    // From the top: the sound levels, then silent, then vibrate.
    switch (c.ringer_mode) {
        case kRingerVibrate:
            if (up) toggle_silent(c);
            break;
        case kRingerSilent:
            if (up) {
                toggle_silent(c);
                c.ringer_mode = kRingerSound;
                set_system_volume(c, wave_volume(c) + kKeyStep, true);
                beep(c);
            } else {
                // The volume goes to nothing with the ringer still silent: the mirrors follow,
                // and only then does the ringer turn to vibrate.
                store_system_volume(c, 0);
                toggle_vibrate(c);
            }
            break;
        default:
            if (up) {
                set_system_volume(c, std::min(cur + kKeyStep, kMax), true);
                beep(c);
            } else if (cur > kKeyStep) {
                set_system_volume(c, cur - kKeyStep, false);
                beep(c);
            } else {
                set_system_volume(c, 0, false);
                toggle_silent(c);
            }
            break;
    }
    request_redraw(c);
    return true;
}

bool volume_touch(Context& c, std::uint32_t msg, int x, int y) {
    if (!in_volume_state(c)) return false;
    auto& v = c.volume;
    arm(c, kTimerCloseVolume, kCloseMs);
    request_redraw(c);
    if (c.state == ScreenState::InCallVolume) {
        bool on_bar = bar_area(c, v.in_x).contains(x, y);
        if (msg == WM_LBUTTONDOWN) {
            v.touch_down = true;
            if (on_bar) {
                set_in_call_volume(c, kMax - std::uint32_t(step_at(c, y)) * kBarStep);
                v.VolBarDrag = true;
            }
        } else if (msg == WM_MOUSEMOVE) {
            if (v.touch_down && v.VolBarDrag && on_bar) set_in_call_volume(c, kMax - std::uint32_t(step_at(c, y)) * kBarStep);
        } else if (msg == WM_LBUTTONUP) {
            if (!v.VolBarDrag) arm(c, kTimerCloseVolume, 0);
            v.VolBarDrag = v.touch_down = false;
        }
        return true;
    }
    bool on_system = bar_area(c, v.sys_x).contains(x, y);
    bool on_ring = bar_area(c, v.ring_x).contains(x, y);
    int p = step_at(c, y);
    switch (msg) {
        case WM_LBUTTONDOWN:
            v.touch_down = true;
            if (on_system) {
                std::uint32_t target = kMax - std::uint32_t(p) * kBarStep;
                set_system_volume(c, target, target >= wave_volume(c));
                v.VolBarDrag = true;
            } else if (on_ring) {
                int r = std::clamp(((y - v.y0) / std::max(1, v.step)) / 3, 0, int(kMaxRing));
                set_ring_volume(c, kMaxRing - std::uint32_t(r));
                v.RingBarTouched = true;
            } else if (silent_rect(c).contains(x, y)) {
                v.SilentPressed = true;
            } else if (vibrate_rect(c).contains(x, y)) {
                v.VibratePressed = true;
            }
            break;
        case WM_MOUSEMOVE:
            if (!v.touch_down) break;
            if (on_system) {
                std::uint32_t cur = wave_volume(c);
                int t = int(cur / kBarStep);
                if (p > 16 - t) {
                    if (cur == kBarStep) {
                        if (ringer_type(c) != RingerType::None) toggle_silent(c);
                    } else {
                        set_system_volume(c, cur > kBarStep ? cur - kBarStep : 0, false);
                    }
                } else if (p < 14 - t) {
                    set_system_volume(c, std::min(cur + kBarStep, kMax), true);
                }
            } else if (on_ring) {
                int r = int(ring_volume(c));
                int at = 15 - 3 * r;
                if (p > at + 1 && r > 0) set_ring_volume(c, std::uint32_t(r - 1));
                else if (p < at - 1 && r < int(kMaxRing)) set_ring_volume(c, std::uint32_t(r + 1));
            } else if (!(v.SilentPressed && silent_rect(c).contains(x, y)) &&
                       !(v.VibratePressed && vibrate_rect(c).contains(x, y))) {
                // A finger wandering off the controls closes; one that only trembles on the
                // button it holds does not.
                arm(c, kTimerCloseVolume, 0);
            }
            break;
        case WM_LBUTTONUP:
            if (v.SilentPressed && silent_rect(c).contains(x, y)) {
                toggle_silent(c);
                beep(c);
            } else if (v.VibratePressed && vibrate_rect(c).contains(x, y)) {
                toggle_vibrate(c);
                beep(c);
            } else if (v.RingBarTouched) {
                // A sample at the ring volume, on the system's sound.
                auto before = c.p.sound().volume();
                std::uint32_t sample = ring_volume(c) * kKeyStep;
                c.p.sound().set_volume(sample | sample << 16);
                beep(c);
                if (before) c.p.sound().set_volume(*before);
            } else if (!v.VolBarDrag) {
                arm(c, kTimerCloseVolume, 0);
            }
            v.VolBarDrag = v.RingBarTouched = v.SilentPressed = v.VibratePressed = v.touch_down = false;
            break;
        default: break;
    }
    return true;
}

void compose_volume(Context& c) {
    auto& v = c.volume;
    // The captured screen darkened, or the theme's background; black without either.
    gfx::DimToScreen(v.background, c.screen, 32);
    if (c.state == ScreenState::InCallVolume) {
        int filled = int(in_call_volume(c) / kBarStep);
        draw_bar(c, bar_image(c), v.in_x, filled);
        draw_centred(c, v.label_volume, v.in_x + v.bar_w / 2, v.label_y, 32);
        return;
    }
    draw_bar(c, v.bar, v.sys_x, int(wave_volume(c) / kBarStep));
    draw_bar(c, v.bar, v.ring_x, int(3 * ring_volume(c)));
    int label_y = v.label_y + (v.step - v.label_system.height) / 2;
    draw_centred(c, v.label_system, v.sys_x + v.bar_w / 2, label_y, 32);
    draw_centred(c, v.label_ring, v.ring_x + v.bar_w / 2, label_y, 32);
    // The ringer in force shows on its button: silent or vibrate lit.
    draw_button(c, 0, silent_rect(c), c.ringer_mode == kRingerSilent, v.SilentPressed, v.label_silent);
    draw_button(c, 1, vibrate_rect(c), c.ringer_mode == kRingerVibrate, v.VibratePressed, v.label_vibrate);
}

void relayout_volume(Context& c) {
    if (!in_volume_state(c)) return;
    auto& v = c.volume;
    load_pictures(c);
    layout(c);
    if (!v.background.empty() && (v.background.width != c.screen_width || v.background.height != c.screen_height)) {
        gfx::Image turned;
        gfx::ResizeImage(turned, c.screen, v.background, c.screen_width, c.screen_height, true, false);
        std::swap(v.background, turned);
        release(turned);
    }
}

}  // namespace lumo::lockscreen
