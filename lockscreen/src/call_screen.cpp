// The call screens: the caller screen in its three layouts with the answer slider or buttons,
// call waiting, the outgoing-call screen, the in-call and last-call lines over the lock screen,
// the end of a call, and the busy-SMS question afterwards.
#include <algorithm>
#include <cstdio>
#include <tuple>

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

constexpr std::u16string_view kPhoneStateKey = u"System\\State\\Phone";
constexpr std::uint32_t kStatusRinging = 0x10000;
constexpr std::size_t kMailboxChars = 261;  // 260 characters and the terminator
constexpr std::u16string_view kUnknownNumber = u"unknown";
constexpr std::u16string_view kOutOfAreaNumber = u"outofarea";
constexpr std::u16string_view kOutOfAreaText = u"Out of Area";
constexpr std::u16string_view kElapsedClass = u"MS_PHONE_ELAPSEDTIME";
constexpr std::u16string_view kCallerInfoClass = u"MS_PHONE_CALLERIDINFO";
constexpr std::u16string_view kMessagingPath = u"\\Windows\\tmail.exe";
constexpr std::uint32_t kHotKeyMessage = 0x312;
constexpr std::uint32_t kCallTimeMs = 1000;
constexpr std::uint32_t kRepeatCallerLockMs = 200;
constexpr std::uint32_t kLastCallMs = 5000;
constexpr std::uint32_t kBusySmsOpenMs = 1500;
constexpr std::uint32_t kBusySmsShownMs = 12000;

std::uint32_t setting(const Context& c, Id id) { return c.settings.num(id); }
int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
void kill(Context& c, std::uint32_t id) { c.p.windows().kill_timer(c.main_window, id); }
void arm(Context& c, std::uint32_t id, std::uint32_t ms) { c.p.windows().set_timer(c.main_window, id, ms); }

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool phone_rings(Context& c) {
    auto status = c.p.registry().get_dword(Root::LocalMachine, kPhoneStateKey, u"Status");
    return status && (*status & kStatusRinging);
}

std::u16string phone_state_text(Context& c, std::u16string_view name) {
    auto v = c.p.registry().get_string(Root::LocalMachine, kPhoneStateKey, name);
    std::u16string s = v.value_or(u"");
    if (s.size() > kMailboxChars - 1) s.resize(kMailboxChars - 1);
    return s;
}

// A mailbox text; one longer than the mailbox holds is cut to it rather than dropped.
std::u16string read_mailbox(Context& c, std::u16string_view name) {
    auto v = c.p.registry().get_string(Root::CurrentUser, proto::kRootKey, name);
    std::u16string out = v.value_or(u"");
    if (auto nul = out.find(u'\0'); nul != std::u16string::npos) out.resize(nul);
    if (out.size() > kMailboxChars - 1) out.resize(kMailboxChars - 1);
    return out;
}

// Loads a theme picture; a missing one leaves the Image empty and says so in the log.
bool load_picture(Context& c, gfx::Image& img, std::u16string_view file) {
    if (gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) return true;
    gfx::ReleaseImage(img, true);
    img.width = img.height = 0;
    c.log.printf("Picture %s cannot be loaded: drawn instead", to_utf8(file).c_str());
    return false;
}

void release(gfx::Image& img) {
    gfx::ReleaseImage(img, true);
    img.width = img.height = 0;
}

bool incoming(const Context& c) { return c.state == ScreenState::IncomingCall; }
bool call_waiting(const Context& c) { return c.call.CallerState == 3; }
int layout(const Context& c) { return int(setting(c, Id::CallerID)); }

// --- the phone's windows ----------------------------------------------------------------------

// The first child of the phone dialog whose class begins with `prefix`.
Hwnd phone_child(Context& c, Hwnd dialog, std::u16string_view prefix) {
    auto& win = c.p.windows();
    if (!dialog || !win.is_window(dialog)) return 0;
    for (Hwnd h = win.get_window(dialog, Relation::FirstChild); h; h = win.get_window(h, Relation::Next)) {
        auto info = win.window_info(h);
        if (info && starts_with(info->class_name, prefix)) return h;
    }
    return 0;
}

std::u16string window_text(Context& c, Hwnd h) {
    auto info = h ? c.p.windows().window_info(h) : std::nullopt;
    return info ? info->title : std::u16string();
}

// --- drawing pieces -----------------------------------------------------------------------------

void render_line(Context& c, gfx::Image& img, std::u16string_view text, int weight) {
    release(img);
    if (text.empty() || !c.screen.fonts) return;
    gfx::RenderText(img, c.screen, unit(c, 20), weight, 0xFFFFFF, text, gfx::kTextSingleLine | gfx::kTextEndEllipsis,
                    0, 0, 0, 0, false, 0);
    // Never wider than the screen: a long name ends in an ellipsis instead of running off it.
    int room = c.screen_width - unit(c, 16);
    if (img.width > room && room > 0)
        gfx::RenderText(img, c.screen, unit(c, 20), weight, 0xFFFFFF, text,
                        gfx::kTextSingleLine | gfx::kTextEndEllipsis, room, unit(c, 26), 0, 0, false, 0);
}

void render_small(Context& c, gfx::Image& img, std::u16string_view text, std::uint32_t colour = 0xDDDDDD) {
    release(img);
    if (text.empty() || !c.screen.fonts) return;
    gfx::RenderText(img, c.screen, unit(c, 13), 400, colour, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
}

std::u16string time_text(Context& c) {
    auto t = c.p.clock().local_time();
    auto fmt = c.clock.time_format.empty() ? std::u16string(u"HH:mm") : c.clock.time_format;
    return format_datetime(fmt, t, english_us());
}

// The contact's picture in the layout's size, or the theme's stand-in.
void load_caller_picture(Context& c, std::u16string_view number, bool known_number) {
    auto& call = c.call;
    release(call.picture);
    int lay = layout(c);
    bool found = false;
    if (c.contacts && known_number && !number.empty()) {
        auto fit = lay == 1 ? gfx::ContactFit::Screen : lay == 3 ? gfx::ContactFit::HalfScreen : gfx::ContactFit::Square;
        found = gfx::LoadContactPicture(call.picture, c.screen, *c.contacts, number, 1, fit, unit(c, 60));
    }
    if (found) {
        call.HasPicture = true;
        return;
    }
    call.HasPicture = lay == 2;
    std::u16string_view file = known_number ? (lay == 3 ? u"fnopic.png" : u"nopic.png")
                                            : (lay == 3 ? u"funknown.png" : u"unknown.png");
    load_picture(c, call.picture, file);
}

void render_caller_lines(Context& c) {
    auto& call = c.call;
    render_line(c, call.name_img, call.name, 600);
    render_line(c, call.number_img, call.number, 600);
}

// Header band and bottom band for the layout and the buttons.
void layout_call_bands(Context& c) {
    auto& call = c.call;
    int lines = unit(c, 8) + call.header_img.height + call.name_img.height + call.number_img.height + unit(c, 4) +
                unit(c, 18);
    int h = lines;
    if (layout(c) == 2) h = std::max({h, unit(c, 68), call.picture.height + unit(c, 16)});
    call.header_height = h;
    if (setting(c, Id::NoSoftKey) != 0) call.bottom_height = 0;
    else call.bottom_height = unit(c, call_waiting(c) ? 160 : 60);
    // A picture between the bands (layouts 1 without a contact picture, and 3) fits between
    // them with its frame: a landscape screen has less room than the picture was made for.
    bool between = layout(c) == 3 || (layout(c) == 1 && call.picture.width < c.screen_width / 2);
    int room = c.screen_height - call.header_height - call.bottom_height - unit(c, 16);
    if (between && !call.picture.empty() && call.picture.height > room && room > unit(c, 16)) {
        gfx::Image smaller;
        int w = std::max(1, call.picture.width * room / call.picture.height);
        if (gfx::ResizeImage(smaller, c.screen, call.picture, w, room, false, true)) std::swap(call.picture, smaller);
    }
}

// A wide button face from a two-frame button picture: each frame's rounded ends kept as they
// are and its middle column repeated, so the corners do not stretch.
void make_wide_face(Context&, gfx::Image& out, const gfx::Image& src, int w) {
    release(out);
    if (src.empty()) return;
    const int fw = src.width / 2, h = src.height;
    const int cap = std::min(fw / 2, h / 2);
    w = std::max(w, 2 * cap + 1);
    if (!gfx::ResizeBuffers(out, 2 * w, h, true)) return;
    for (int f = 0; f < 2; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sx = x < cap ? x : x >= w - cap ? fw - (w - x) : fw / 2;
                sx += f * fw;
                out.at(f * w + x, y) = src.at(sx, y);
                out.alpha_row(y)[f * w + x] = src.has_alpha() ? src.alpha_row(y)[sx] : 32;
            }
}

void load_buttons(Context& c) {
    auto& call = c.call;
    for (auto& t : call.button_text) release(t);
    if (call_waiting(c)) {
        load_picture(c, call.button_r, u"buttonR.png");
        load_picture(c, call.button_l, u"buttonL.png");
        int w = std::min(c.screen_width - unit(c, 20), unit(c, 220));
        make_wide_face(c, call.wait_faces[0], call.button_r, w);
        make_wide_face(c, call.wait_faces[1], call.button_l, w);
        make_wide_face(c, call.wait_faces[2], call.button_l, w);
        auto both = [&](std::u16string_view a, std::u16string_view fa, std::u16string_view b, std::u16string_view fb) {
            return text_or(c, a, fa) + u" + " + text_or(c, b, fb);
        };
        render_small(c, call.button_text[0], both(u"s_EndCall=", u"End Call", u"s_Answer=", u"Answer"), 0xFFFFFF);
        render_small(c, call.button_text[1], both(u"s_HoldCall=", u"Hold Call", u"s_Answer=", u"Answer"), 0xFFFFFF);
        render_small(c, call.button_text[2], text_or(c, u"s_Ignore=", u"Ignore"), 0xFFFFFF);
        return;
    }
    load_picture(c, call.buttons, u"buttons.png");
    render_small(c, call.button_text[0], text_or(c, u"s_Answer=", u"Answer"), 0xFFFFFF);
    render_small(c, call.button_text[1], text_or(c, u"s_Ignore=", u"Ignore"), 0xFFFFFF);
}

// Where the buttons are: index 0..2 (call waiting: end-and-answer, hold-and-answer, ignore;
// otherwise answer, ignore).
struct ButtonBox {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

int button_count(const Context& c) {
    if (call_waiting(c)) return 3;
    return c.call.answer_slider ? 0 : 2;
}

ButtonBox button_box(const Context& c, int i) {
    const auto& call = c.call;
    if (call_waiting(c)) {
        const auto& face = call.wait_faces[i];
        int w = face.width / 2, h = face.height;
        // From the bottom, 50 units apart.
        int y = c.screen_height - unit(c, 50) * (i + 1) + (unit(c, 50) - h) / 2;
        return {(c.screen_width - w) / 2, y, w, h};
    }
    int fw = call.buttons.width / 4, h = call.buttons.height;
    int band_top = c.screen_height - call.bottom_height;
    int y = band_top + (call.bottom_height - h) / 2;
    int half = c.screen_width / 2;
    int x = i == 0 ? (half - fw) / 2 : half + (half - fw) / 2;
    return {x, y, fw, h};
}

bool button_pressed(const Context& c, int i) {
    const auto& call = c.call;
    if (call_waiting(c)) return i == 0 ? call.EndPressed : i == 1 ? call.AnswerPressed : call.IgnorePressed;
    return i == 0 ? call.AnswerPressed : call.IgnorePressed;
}

void draw_buttons(Context& c, int off, int alpha) {
    auto& call = c.call;
    for (int i = 0; i < button_count(c); ++i) {
        auto b = button_box(c, i);
        int frame = button_pressed(c, i) ? 1 : 0;
        const auto& text = call.button_text[i];
        if (call_waiting(c)) {
            const auto& face = call.wait_faces[i];
            if (!face.empty()) gfx::DrawImage(face, c.screen, b.x, b.y + off, frame * b.w, b.w, 0, gfx::kCopy, alpha);
            if (!text.empty())
                gfx::DrawImage(text, c.screen, b.x + (b.w - text.width) / 2, b.y + off + (b.h - text.height) / 2, 0, 0,
                               0, gfx::kColourKey, alpha);
            continue;
        }
        if (!call.buttons.empty()) {
            gfx::DrawImage(call.buttons, c.screen, b.x, b.y + off, (i * 2 + frame) * b.w, b.w, 0, gfx::kCopy, alpha);
        } else {
            // A theme without the button picture still gets its two buttons.
            gfx::Brush brush = gfx::MakeBrush(gfx::RGBTo565(c.screen.format, i == 0 ? 40 : 200, i == 0 ? 170 : 40, 40));
            auto* old = gfx::SelectBrush(c.screen, &brush);
            gfx::FillRect(c.screen, b.x, b.y + off, b.x + b.w, b.y + off + b.h, std::min(alpha, frame ? 20 : 28));
            if (old) gfx::SelectBrush(c.screen, old);
        }
        // The icon takes the left 30 units; the text is centred in the rest.
        int left = b.x + unit(c, 30), room = b.w - unit(c, 30);
        if (!text.empty())
            gfx::DrawImage(text, c.screen, left + (room - text.width) / 2, b.y + off + (b.h - text.height) / 2, 0, 0, 0,
                           gfx::kColourKey, alpha);
    }
}

void fill_band(Context& c, int top, int bottom, int alpha) {
    gfx::Brush black = gfx::MakeBrush(0);
    auto* old = gfx::SelectBrush(c.screen, &black);
    gfx::FillRect(c.screen, 0, top, c.screen_width, bottom, alpha);
    if (old) gfx::SelectBrush(c.screen, old);
}

void draw_header(Context& c) {
    auto& call = c.call;
    auto& scr = c.screen;
    int off = c.top_offset, a = c.scene_alpha;
    int lay = layout(c);
    if (setting(c, Id::TopCurtain) != 0)
        fill_band(c, off, off + call.header_height, std::min<int>(int(setting(c, Id::CurtainAlpha)) + 6, a));
    int y = off + unit(c, 8);
    if (lay == 2) {
        int px = unit(c, 8);
        if (!call.picture.empty()) gfx::DrawImage(call.picture, scr, px, off + unit(c, 8), 0, 0, 0, gfx::kCopy, a);
        int tx = px + std::max(call.picture.width, unit(c, 60)) + unit(c, 15);
        if (!call.header_img.empty()) {
            gfx::DrawImage(call.header_img, scr, tx, y, 0, 0, 0, gfx::kColourKey, a);
            y += call.header_img.height;
        }
        if (!call.name_img.empty()) {
            gfx::DrawImage(call.name_img, scr, tx, y, 0, 0, 0, gfx::kColourKey, a);
            y += call.name_img.height;
        }
        if (!call.number_img.empty()) gfx::DrawImage(call.number_img, scr, tx, y, 0, 0, 0, gfx::kColourKey, a);
        if (!call.prop_img.empty())
            gfx::DrawImage(call.prop_img, scr, tx + call.number_img.width + unit(c, 6),
                           y + (call.number_img.height - call.prop_img.height) / 2, 0, 0, 0, gfx::kColourKey, a);
        y += call.number_img.height;
        if (!call.time_img.empty()) gfx::DrawImage(call.time_img, scr, tx, y, 0, 0, 0, gfx::kColourKey, a);
        return;
    }
    auto centred = [&](const gfx::Image& img) {
        if (img.empty()) return;
        gfx::DrawImage(img, scr, (c.screen_width - img.width) / 2, y, 0, 0, 0, gfx::kColourKey, a);
        y += img.height;
    };
    centred(call.header_img);
    centred(call.name_img);
    if (!call.number_img.empty()) {
        int total = call.number_img.width + (call.prop_img.empty() ? 0 : call.prop_img.width + unit(c, 6));
        int x = (c.screen_width - total) / 2;
        gfx::DrawImage(call.number_img, scr, x, y, 0, 0, 0, gfx::kColourKey, a);
        if (!call.prop_img.empty())
            gfx::DrawImage(call.prop_img, scr, x + call.number_img.width + unit(c, 6),
                           y + (call.number_img.height - call.prop_img.height) / 2, 0, 0, 0, gfx::kColourKey, a);
        y += call.number_img.height;
    }
    centred(call.time_img);
}

void draw_picture_behind(Context& c) {
    auto& call = c.call;
    int lay = layout(c), a = c.scene_alpha;
    if (call.picture.empty() || lay == 2) return;
    int top = call.header_height, bottom = c.screen_height - call.bottom_height;
    if (lay == 1 && call.picture.width >= c.screen_width / 2) {
        // The contact's picture fills the screen behind the bands.
        gfx::DrawImage(call.picture, c.screen, (c.screen_width - call.picture.width) / 2,
                       (c.screen_height - call.picture.height) / 2, 0, 0, 0, gfx::kCopy, a);
        return;
    }
    // No room between the bands (call waiting's tall button band on a small landscape screen):
    // the header names the caller, and the picture stays out rather than under the buttons.
    if (call.picture.height > bottom - top) return;
    int x = (c.screen_width - call.picture.width) / 2;
    int y = top + std::max(0, (bottom - top - call.picture.height) / 2);
    if (lay == 3) {
        // A box 8 units larger frames the picture.
        int m = unit(c, 4);
        gfx::Brush white = gfx::MakeBrush(gfx::RGBTo565(c.screen.format, 235, 235, 235));
        auto* old = gfx::SelectBrush(c.screen, &white);
        gfx::FillRect(c.screen, x - m, y - m, x + call.picture.width + m, y + call.picture.height + m, std::min(a, 24));
        if (old) gfx::SelectBrush(c.screen, old);
    }
    gfx::DrawImage(call.picture, c.screen, x, y, 0, 0, 0, gfx::kCopy, a);
}

// --- the caller screen's life -------------------------------------------------------------------

void swap_in_call_knob(Context& c) {
    auto& call = c.call;
    bool centre = setting(c, Id::SliderPosition) != 0;
    gfx::Image knob;
    bool loaded = (centre && device_file_exists(c, gfx_path(c, u"s2earrows2.png")) &&
                   gfx::LoadImageFile(knob, c.screen, gfx_path(c, u"s2earrows2.png"), gfx::kFitNative, 0, 0)) ||
                  gfx::LoadImageFile(knob, c.screen, gfx_path(c, u"s2earrows.png"), gfx::kFitNative, 0, 0);
    if (!loaded) {
        c.log.printf("Picture %s cannot be loaded: drawn instead", "s2earrows.png");
        draw_knob_picture(c, knob);
    }
    if (!call.knob_swapped) {
        std::swap(call.saved_knob, c.knob);
        call.knob_swapped = true;
    }
    std::swap(c.knob, knob);
    layout_slider(c);
}

void restore_lock_knob(Context& c) {
    auto& call = c.call;
    if (!call.knob_swapped) return;
    std::swap(call.saved_knob, c.knob);
    release(call.saved_knob);
    call.knob_swapped = false;
    layout_slider(c);
}

void refresh_time_line(Context& c) {
    auto t = time_text(c);
    if (t == c.call.last_time && !c.call.time_img.empty()) return;
    c.call.last_time = t;
    render_small(c, c.call.time_img, t);
}

// Brings the screen up for a call: the bands, the timers, the window in front, the animation.
void wake_for_call(Context& c) {
    auto& call = c.call;
    auto& win = c.p.windows();
    c.log.printf("AwakeCallerID");
    kill_all_timer(c, false);
    refresh_time_line(c);
    layout_call_bands(c);
    arm(c, kTimerCallTime, kCallTimeMs);
    win.show_window(c.main_window, SW_SHOW);
    win.set_foreground_window(c.main_window);
    hide_phone_windows(c);
    call.AnswerPressed = call.IgnorePressed = call.EndPressed = false;
    gfx::ResumeScreen(c.screen);
    // The header slides down from above the screen, the bottom up from below it, fading in.
    if (c.screen.back_buffer) {
        auto& clock = c.frame_clock ? *c.frame_clock : gfx::SystemFrameClock();
        std::uint32_t last = clock.now_ms() - 50;
        for (int f = 1; f <= 6; ++f) {
            std::uint32_t now = clock.now_ms();
            if (now - last < 50) clock.sleep_ms(50 - (now - last));
            last = clock.now_ms();
            c.top_offset = -call.header_height * (6 - f) / 6;
            c.bottom_offset = call.bottom_height * (6 - f) / 6;
            c.scene_alpha = 32 * f / 6;
            compose_frame(c);
            if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
        }
    }
    c.top_offset = c.bottom_offset = 0;
    c.scene_alpha = 32;
    set_all_timer(c);
    // The call screens never time out.
    set_off_lcd(c, 0, 0);
    arm(c, kTimerRepeatCallerLock, kRepeatCallerLockMs);
    c.repeat_count = 0;
    full_screen(c, true);
    call.BusySmsWanted = false;
}

void end_caller_animation(Context& c) {
    auto& call = c.call;
    if (c.screen.suspended || !c.screen.back_buffer) return;
    auto& clock = c.frame_clock ? *c.frame_clock : gfx::SystemFrameClock();
    std::uint32_t last = clock.now_ms() - 50;
    for (int f = 1; f <= 5; ++f) {
        std::uint32_t now = clock.now_ms();
        if (now - last < 50) clock.sleep_ms(50 - (now - last));
        last = clock.now_ms();
        c.top_offset = -call.header_height * f / 5;
        c.bottom_offset = call.bottom_height * f / 5;
        c.scene_alpha = 32 * (5 - f) / 5;
        compose_frame(c);
        if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
    }
    c.top_offset = c.bottom_offset = 0;
    c.scene_alpha = 32;
}

void set_up_caller(Context& c) {
    auto& call = c.call;
    call.answer_slider = false;
    std::uint32_t s2a = setting(c, Id::Slide2Answer);
    if (!call_waiting(c) && setting(c, Id::NoSoftKey) == 0)
        call.answer_slider = (s2a == 2 && (call.CallerState == 1 || call.CallerState == 2)) ||
                             (s2a != 0 && call.CallerState == 1);
    load_buttons(c);
    if (call.answer_slider) {
        if (setting(c, Id::Slide2End) != 0) {
            swap_in_call_knob(c);
            set_slider_texts(c, SliderTexts::AnswerEnd);
        } else {
            set_slider_texts(c, SliderTexts::Answer);
        }
        reset_slider(c);
    }
    call.name = read_mailbox(c, proto::mailbox::kIncomingName);
    call.raw_number = read_mailbox(c, proto::mailbox::kIncomingNumber);
    call.number = display_number(c, call.raw_number, &call.NoNumber);
    load_caller_picture(c, call.raw_number, !call.NoNumber);
    release(call.header_img);
    release(call.prop_img);
    call.PropNameShown = false;
    render_caller_lines(c);
}

void start_caller(Context& c, WParam w, LParam l) {
    auto& call = c.call;
    c.log.printf("RunCaller: %d(%0X)", int(l), w);
    call.CallerState = std::uint8_t(std::clamp<LParam>(l, 0, 4));
    if (busy_prompt_fading(c)) release_busy_prompt(c);
    bool keypad = c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall;
    if (keypad) {
        // An emergency call placed from the keypad is hung up before the caller takes the screen.
        if (c.state == ScreenState::EmergencyCall) post_service(c, proto::WM_MakeCall, proto::kMakeCallHangUp, 0);
        leave_keypad(c, true);
    }
    all_to_normal(c);
    call.NameKnown = false;
    call.in_call_name.clear();
    if (call.CallerState == 4) {
        c.state = ScreenState::CallScreen;
        call.answer_slider = false;
        auto info = window_text(c, phone_child(c, Hwnd(w), kCallerInfoClass));
        auto cut = info.find(u"\r\n");
        call.name = cut == std::u16string::npos ? std::u16string() : info.substr(0, cut);
        call.raw_number = cut == std::u16string::npos ? info : info.substr(cut + 2);
        call.number.clear();
        call.NoNumber = call.raw_number.empty();
        load_caller_picture(c, call.raw_number, true);
        if (call.raw_number.size() > kMailboxChars - 1) call.raw_number.resize(kMailboxChars - 1);
        if (call.name.size() > kMailboxChars - 1) call.name.resize(kMailboxChars - 1);
        call.header = u"dialing " + call.raw_number;
        render_line(c, call.header_img, call.header, 600);
        render_line(c, call.name_img, call.name, 600);
        release(call.number_img);
        release(call.prop_img);
        for (auto& t : call.button_text) release(t);
        swap_in_call_knob(c);
        set_slider_texts(c, SliderTexts::CallEnd);
        reset_slider(c);
        c.slider.knob_pos = c.slider.track_centre;
        wake_for_call(c);
        return;
    }
    if (c.locked && call.CallerState != 3 && !keypad) opening_curtain(c, true, 4);
    c.state = ScreenState::IncomingCall;
    set_up_caller(c);
    wake_for_call(c);
}

void release_call_images(Context& c) {
    auto& call = c.call;
    for (auto* img : {&call.picture, &call.name_img, &call.number_img, &call.prop_img, &call.time_img,
                      &call.header_img, &call.buttons, &call.button_l, &call.button_r})
        release(*img);
    for (auto& f : call.wait_faces) release(f);
    for (auto& t : call.button_text) release(t);
    call.name.clear();
    call.number.clear();
    call.header.clear();
    call.last_time.clear();
}

void open_busy_prompt(Context& c, bool over_app);

void end_caller(Context& c, WParam w) {
    auto& call = c.call;
    auto& win = c.p.windows();
    if (c.state == ScreenState::EmergencyCall) return;
    if (c.state != ScreenState::IncomingCall && c.state != ScreenState::CallScreen) return;
    const bool stay_locked = w == 1;
    kill(c, kTimerRepeatLock);
    kill(c, kTimerRepeatCallerLock);
    c.slider.slide_locked = false;
    kill_all_timer(c, false);
    kill(c, kTimerCallTime);
    if (stay_locked) {
        end_caller_animation(c);
    } else {
        post_service(c, proto::WM_UnhideTaskBar, 0, 0);
        full_screen(c, false);
        win.show_window(c.main_window, SW_HIDE);
        gfx::SuspendScreen(c.screen);
    }
    c.pending_action = 0;
    release_call_images(c);
    c.state = ScreenState::Normal;
    restore_lock_knob(c);
    set_slider_texts(c, SliderTexts::Lock);
    c.log.printf("EndCaller: %d R=%d", int(w), call.BusySmsWanted ? 1 : 0);
    reset_slider(c);
    call.CallerState = 0;
    if (stay_locked) {
        c.call_end_pending = true;
        arm(c, kTimerStarting, 0);
        if (call.BusySmsWanted) open_busy_prompt(c, false);
    } else if (call.BusySmsWanted) {
        arm(c, kTimerBusySmsOpen, kBusySmsOpenMs);
    }
}

// --- answering and rejecting ------------------------------------------------------------------

void answer(Context& c) {
    kill_all_timer(c, false);
    arm(c, kTimerAnswer, 0);
    c.repeat_count = 10;  // the repeat caller lock stops
}

void reject(Context& c, std::uint32_t key) {
    kill_all_timer(c, false);
    post_service(c, proto::WM_PhoneKey, key, 0);
    if (setting(c, Id::SendBusySMS) != 0 && !c.call.NoNumber) c.call.BusySmsWanted = true;
}

void end_and_answer(Context& c) {
    kill_all_timer(c, false);
    post_service(c, proto::WM_PhoneKey, proto::kPhoneKeyEnd, 0);
}

// --- the in-call and last-call lines ----------------------------------------------------------

void render_in_call_line(Context& c, std::u16string_view title, std::u16string_view time) {
    auto& call = c.call;
    render_small(c, call.line_title, title, 0xFFFFFF);
    render_small(c, call.line_time, time, 0xDDDDDD);
}

// Without a caller name from the phone's published state, the phone dialog's own caller line
// names the call: the name, else the number.
void name_from_phone(Context& c, Hwnd phone) {
    auto& call = c.call;
    if (!call.in_call_name.empty()) return;
    auto info = window_text(c, phone_child(c, phone, kCallerInfoClass));
    auto cut = info.find(u"\r\n");
    std::u16string name = cut == std::u16string::npos ? info : info.substr(0, cut);
    if (name.empty() && cut != std::u16string::npos) name = info.substr(cut + 2);
    if (name.size() > kMailboxChars - 1) name.resize(kMailboxChars - 1);
    call.in_call_name = name;
}

void update_in_call(Context& c, Hwnd phone) {
    auto& call = c.call;
    c.log.printf("Update In Call (%0X)", phone);
    Hwnd elapsed = phone_child(c, phone, kElapsedClass);
    if (!elapsed) return;
    name_from_phone(c, phone);
    call.PhoneElapsedWindow = elapsed;
    call.InCallLine = 2;
    call.line_alpha = 32;
    call.line_fading = false;
    auto title = text_or(c, u"s_Connected=", u"connected");
    if (!call.in_call_name.empty()) title = call.in_call_name + u" - " + title;
    render_in_call_line(c, title, window_text(c, elapsed));
    arm(c, kTimerInCall, kCallTimeMs);
    request_redraw(c);
}

void update_last_call(Context& c, Hwnd phone) {
    auto& call = c.call;
    kill(c, kTimerInCall);
    c.log.printf("Update Last Call (%0X)", phone);
    if (phone == 0) {
        if (c.vardex_locked) {
            arm(c, kTimerResetLastCall, 0);
        } else {
            call.InCallLine = 0;
            request_redraw(c);
        }
        return;
    }
    Hwnd elapsed = phone_child(c, phone, kElapsedClass);
    if (elapsed) name_from_phone(c, phone);
    if (!elapsed || call.in_call_name.empty()) return;
    call.PhoneElapsedWindow = elapsed;
    call.InCallLine = 1;
    call.line_alpha = 32;
    call.line_fading = false;
    render_in_call_line(c, text_or(c, u"s_LastCall=", u"Last Call") + u": " + call.in_call_name,
                        window_text(c, elapsed));
    arm(c, kTimerResetLastCall, kLastCallMs);
    request_redraw(c);
    c.p.windows().post(c.main_window, proto::WM_REPEAT_LOCK, 0, 0);
}

// --- the busy-SMS question ----------------------------------------------------------------------

struct PromptGeometry {
    int box_x, box_y, box_w, box_h;
    ButtonBox send, cancel;
};

PromptGeometry prompt_geometry(const Context& c) {
    const auto& call = c.call;
    int bw = call.ptbox.empty() ? unit(c, 220) : call.ptbox.width;
    int bh = call.ptbox.empty() ? unit(c, 120) : call.ptbox.height;
    int x = (c.screen_width - bw) / 2, y = (c.screen_height - bh) / 2;
    int fw = call.ptbutton.empty() ? unit(c, 100) : call.ptbutton.width / 2;
    int fh = call.ptbutton.empty() ? unit(c, 30) : call.ptbutton.height;
    // Each button gets half the box, less a margin; the face is drawn at that width.
    int half = bw / 2;
    int w = std::min(fw, half - unit(c, 8));
    int by = y + bh - fh - unit(c, 10);
    return {x, y, bw, bh, {x + (half - w) / 2, by, w, fh}, {x + half + (half - w) / 2, by, w, fh}};
}

void open_busy_prompt(Context& c, bool over_app) {
    auto& call = c.call;
    auto& win = c.p.windows();
    load_picture(c, call.ptbox, u"ptbox.png");
    load_picture(c, call.ptbutton, u"ptbutton.png");
    release(call.prompt_text);
    if (c.screen.fonts) {
        int w = call.ptbox.empty() ? unit(c, 220) : call.ptbox.width;
        gfx::RenderText(call.prompt_text, c.screen, unit(c, 20), 700, 0xFFFFFF,
                        text_or(c, u"s_SendSMS=", u"Send a busy SMS?"), gfx::kTextCenter | gfx::kTextWordBreak,
                        w - unit(c, 16), 0, 0, 0, false, 0);
    }
    render_small(c, call.prompt_send, text_or(c, u"s_Send=", u"Send"), 0xFFFFFF);
    render_small(c, call.prompt_cancel, text_or(c, u"s_Cancel=", u"Cancel"), 0xFFFFFF);
    call.prompt_send_down = call.prompt_cancel_down = false;
    if (over_app) {
        c.state = ScreenState::BusySmsPromptOverApp;
        call.RestoreWindow = win.foreground_window();
        gfx::ResumeScreen(c.screen);
        release(call.captured);
        gfx::CaptureScreen(call.captured, c.screen);
        call.prompt_alpha = 32;
        full_screen(c, true);
        win.show_window(c.main_window, SW_SHOW);
        win.set_foreground_window(c.main_window);
        set_all_timer(c);
    } else {
        c.state = ScreenState::BusySmsPrompt;
        call.prompt_alpha = 0;
        request_redraw(c);
    }
    set_off_lcd(c, 0, 0);
    arm(c, kTimerBusySmsEnd, kBusySmsShownMs);
}

void send_busy_sms(Context& c) {
    auto& call = c.call;
    std::u16string number = call.raw_number;
    if (c.state == ScreenState::BusySmsPromptOverApp) {
        arm(c, kTimerBusySmsEnd, 0);
    } else {
        c.state = ScreenState::Normal;
        kill(c, kTimerBusySmsEnd);
    }
    // The phone is handed to the messaging program: the service unlocks, and so does the
    // screen, which would otherwise stay over the program it starts.
    if (c.state == ScreenState::Normal) {
        unlock(c, false, true);
    } else {
        post_service(c, proto::WM_Unlock, 0, 0);
        c.locked = false;
    }
    std::u16string body = text_or(c, u"s_BusySMSBody=", u"I'm busy right now. I'll call you back later.");
    std::u16string args = u"-service \"SMS\" -to \"" + number + u"\" -body \"" + body + u"\"";
    c.log.printf("Busy SMS to %s", to_utf8(number).c_str());
    if (!c.p.processes().shell_execute(kMessagingPath, args, true)) c.log.printf("cannot start tmail.exe");
}

void cancel_busy_prompt(Context& c) {
    if (c.state == ScreenState::BusySmsPromptOverApp) {
        arm(c, kTimerBusySmsEnd, 0);
        return;
    }
    kill(c, kTimerBusySmsEnd);
    c.state = ScreenState::Normal;
    set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
    request_redraw(c);
}

bool prompt_touch(Context& c, std::uint32_t msg, int x, int y) {
    auto& call = c.call;
    auto g = prompt_geometry(c);
    if (msg == WM_LBUTTONDOWN) {
        call.prompt_send_down = g.send.contains(x, y);
        call.prompt_cancel_down = g.cancel.contains(x, y);
        if (call.prompt_send_down || call.prompt_cancel_down) haptic_pulse(c);
        request_redraw(c);
        return true;
    }
    if (msg != WM_LBUTTONUP) return true;
    bool send = call.prompt_send_down && g.send.contains(x, y);
    bool cancel = call.prompt_cancel_down && g.cancel.contains(x, y);
    call.prompt_send_down = call.prompt_cancel_down = false;
    if (send) send_busy_sms(c);
    else if (cancel) cancel_busy_prompt(c);
    request_redraw(c);
    return true;
}

// --- keys -----------------------------------------------------------------------------------------

constexpr std::uint8_t kVkSoft1 = 0x70, kVkSoft2 = 0x71, kVkTalk = 0x72, kVkEnd = 0x73;
constexpr std::uint8_t kVkVolumeUp = 0x75, kVkVolumeDown = 0x76;

bool bluetooth_on(Context& c) {
    auto bt = c.p.registry().get_dword(Root::LocalMachine, u"System\\State\\Hardware", u"Bluetooth");
    return bt && (*bt & 1) == 1;
}

}  // namespace

// --- entry points ---------------------------------------------------------------------------------

namespace {

class PhoneContactPictures final : public gfx::ContactPictures {
public:
    explicit PhoneContactPictures(Platform& p) : p_(p) {}
    std::optional<std::vector<std::uint8_t>> picture(std::u16string_view key, int kind) override {
        auto contact = p_.contacts().find(ContactMatch(kind), key);
        if (!contact || !contact->has_picture) return std::nullopt;
        return p_.contacts().picture(contact->id);
    }

private:
    Platform& p_;
};

}  // namespace

std::unique_ptr<gfx::ContactPictures> make_contact_pictures(Platform& p) {
    return std::make_unique<PhoneContactPictures>(p);
}

bool in_call_screen(const Context& c) {
    return c.state == ScreenState::IncomingCall || c.state == ScreenState::CallScreen;
}

bool answer_slider_shown(const Context& c) { return incoming(c) && c.call.answer_slider; }

std::u16string display_number(const Context& c, std::u16string_view number, bool* no_number) {
    bool none = false;
    std::u16string out;
    if (number.substr(0, kUnknownNumber.size()) == kUnknownNumber) {
        none = true;
        out = text_or(c, u"s_Unknown=", u"unknown");
    } else if (number.substr(0, kOutOfAreaNumber.size()) == kOutOfAreaNumber) {
        none = true;
        out = std::u16string(kOutOfAreaText);
    } else {
        out = std::u16string(number);
        bool digits = !number.empty() && std::all_of(number.begin(), number.end(),
                                                      [](char16_t ch) { return ch >= u'0' && ch <= u'9'; });
        if (digits && setting(c, Id::CanonicalFormat) != 0) {
            // The country's code in front; a national number loses its trunk 0, an
            // international one its 00 and the code it already carries.
            char buf[16];
            std::snprintf(buf, sizeof buf, "+%d ", int(setting(c, Id::CanonicalPrefix)));
            std::u16string prefix = to_u16(buf);
            std::u16string code = prefix.substr(1, prefix.size() - 2);
            std::u16string_view rest = number;
            if (starts_with(rest, u"00" + code)) rest.remove_prefix(2 + code.size());
            else if (starts_with(rest, u"00")) {
                out = u"+" + std::u16string(rest.substr(2));
                if (no_number) *no_number = false;
                return out;
            } else if (starts_with(rest, u"0")) rest.remove_prefix(1);
            out = prefix + std::u16string(rest);
        }
    }
    if (no_number) *no_number = none;
    return out;
}

void hide_phone_windows(Context& c) {
    auto& win = c.p.windows();
    static constexpr std::pair<std::u16string_view, const char*> kPhoneWindows[] = {
        {u"menu_worker", "Hide menu_worker %0X"},
        {u"Dialog", "Hide Dialog %0X"},
        {u"MS_SIPBUTTON", "Hide MS_SIPBUTTON %0X"},
    };
    for (auto [cls, line] : kPhoneWindows) {
        Hwnd h = win.find_window(cls, std::nullopt);
        if (!h || h == c.main_window) continue;
        auto info = win.window_info(h);
        if (!info || !info->visible || !(info->ex_style & WS_EX_TOPMOST)) continue;
        win.show_window(h, SW_HIDE);
        c.log.printf(line, h);
    }
    full_screen(c, true);
}

void relayout_call_screen(Context& c) {
    auto& call = c.call;
    if (in_call_screen(c)) {
        const auto& s = c.slider;
        const auto before = std::tuple(s.track_left, s.track_right, s.knob_top);
        layout_slider(c);
        // A finger sliding the knob keeps it while the track stays where it was: a window
        // message that moved nothing must not drop the call's answer half way.
        const bool keep_drag = s.dragging && before == std::tuple(s.track_left, s.track_right, s.knob_top);
        if (!keep_drag && c.state == ScreenState::CallScreen) {
            reset_slider(c);
            c.slider.knob_pos = c.slider.track_centre;
        } else if (!keep_drag && call.answer_slider) {
            reset_slider(c);
        }
        if (incoming(c)) {
            load_buttons(c);
            load_caller_picture(c, call.raw_number, !call.NoNumber);
            render_caller_lines(c);
        } else {
            load_caller_picture(c, call.raw_number, true);
        }
        call.last_time.clear();
        refresh_time_line(c);
        layout_call_bands(c);
    }
    if (call.InCallLine) request_redraw(c);
}

bool call_slider_end(Context& c, bool right) {
    auto& s = c.slider;
    auto& call = c.call;
    if (c.state == ScreenState::CallScreen) {
        // An end action ends the drag: the finger still moving must not fire it again.
        s.dragging = false;
        if (right) {
            arm(c, kTimerSlidePause, 500);
            s.slide_pause = true;
            post_service(c, proto::WM_DropConnectedCall, 0, 0);
            c.log.printf("End Call");
        } else {
            unlock_request(c, false);
        }
        return true;
    }
    if (!answer_slider_shown(c)) return false;
    const bool s2e = setting(c, Id::Slide2End) != 0;
    if (!s2e) {
        if (!right) return true;  // the rest place
        s.dragging = false;
        s.knob_pos = s.track_right;
        s.slide_locked = true;
        call.AnswerPressed = true;
        answer(c);
        return true;
    }
    s.slide_locked = true;
    s.dragging = false;
    if (right) {
        call.IgnorePressed = true;
        arm(c, kTimerIgnore, 0);
    } else {
        s.knob_pos = s.track_left;
        call.AnswerPressed = true;
        answer(c);
    }
    return true;
}

bool call_touch(Context& c, std::uint32_t msg, int x, int y) {
    auto& call = c.call;
    if (c.state == ScreenState::BusySmsPrompt || c.state == ScreenState::BusySmsPromptOverApp)
        return prompt_touch(c, msg, x, y);
    if (!in_call_screen(c)) return false;
    const bool slider = c.state == ScreenState::CallScreen || call.answer_slider;
    if (slider) {
        if (msg == WM_LBUTTONDOWN) start_drag(c, x, y);
        else if (msg == WM_MOUSEMOVE) drag_to(c, x, y);
        else end_drag(c, x, y);
        request_redraw(c);
        return true;
    }
    if (msg == WM_MOUSEMOVE) return true;
    for (int i = 0; i < button_count(c); ++i) {
        bool hit = button_box(c, i).contains(x, y);
        bool* flag = call_waiting(c) ? (i == 0 ? &call.EndPressed : i == 1 ? &call.AnswerPressed : &call.IgnorePressed)
                                     : (i == 0 ? &call.AnswerPressed : &call.IgnorePressed);
        if (msg == WM_LBUTTONDOWN) {
            if (hit) {
                *flag = true;
                haptic_pulse(c);
            }
            continue;
        }
        if (!*flag) continue;
        *flag = false;
        if (!hit) continue;
        if (flag == &call.AnswerPressed) {
            call.AnswerPressed = true;
            answer(c);
        } else if (flag == &call.EndPressed) {
            end_and_answer(c);
        } else {
            reject(c, proto::kPhoneKeyReject);
        }
    }
    request_redraw(c);
    return true;
}

bool call_key(Context& c, std::uint32_t msg, std::uint8_t vk, LParam l) {
    auto& call = c.call;
    if (c.state == ScreenState::CallScreen) {
        if (msg == WM_KEYDOWN && (vk == kVkSoft2 || vk == kVkEnd)) call.EndPressed = true;
        // The release of the end keys goes to the service, which leaves the phone to end the
        // call: its own end key does that already.
        if (msg == WM_KEYUP && call.EndPressed && (vk == kVkSoft2 || vk == kVkEnd)) {
            call.EndPressed = false;
            post_service(c, proto::WM_PhoneKey, proto::kPhoneKeyEnd, 0);
        }
        return true;
    }
    if (!incoming(c)) return false;
    const bool slider = call.answer_slider;
    if (msg == WM_KEYDOWN) {
        if (vk == kVkTalk || vk == kVkSoft1) {
            if (!slider || setting(c, Id::S2AAnsKey) != 0 || (l == 1 && bluetooth_on(c))) call.AnswerPressed = true;
        } else if (vk == kVkSoft2 || vk == kVkEnd) {
            if (!slider || setting(c, Id::S2AEndKey) != 0) {
                if (vk == kVkEnd && call_waiting(c)) call.EndPressed = true;
                else call.IgnorePressed = true;
            }
        } else if ((vk == 0x25 || vk == 0x27) && slider && setting(c, Id::DpadOn) != 0 && !c.slider.slide_locked) {
            c.slider.key_drive = vk;
            c.slider.shine_runs = 1;
        }
        request_redraw(c);
        return true;
    }
    c.slider.key_drive = 0;
    if ((vk == kVkSoft1 || vk == kVkTalk) && call.AnswerPressed) {
        answer(c);
    } else if (vk == kVkEnd && call_waiting(c) && call.EndPressed) {
        call.EndPressed = false;
        end_and_answer(c);
    } else if ((vk == kVkSoft2 || vk == kVkEnd) && call.IgnorePressed) {
        call.IgnorePressed = false;
        reject(c, vk == kVkEnd ? proto::kPhoneKeyEnd : proto::kPhoneKeyReject);
    } else if ((vk == kVkVolumeUp || vk == kVkVolumeDown) && !call_waiting(c)) {
        // The task bar's hot key silences the ring.
        Hwnd bar = c.task_bar ? c.task_bar : c.p.windows().find_window(kTaskBarClass, std::nullopt);
        if (bar) {
            c.p.windows().send(bar, kHotKeyMessage, 2, 0x750000);
            c.p.windows().send(bar, kHotKeyMessage, 2, 0x751000);
        }
        c.log.printf("MuteRing %0X", bar);
    }
    request_redraw(c);
    return true;
}

void compose_call_screen(Context& c) {
    auto& call = c.call;
    draw_wallpaper(c, c.scene_alpha);
    fill_band(c, 0, c.screen_height, std::min(c.scene_alpha, 12));
    draw_picture_behind(c);
    draw_header(c);
    if (call.bottom_height > 0 && setting(c, Id::NoSoftKey) == 0) {
        int off = c.bottom_offset;
        if (c.state == ScreenState::CallScreen || call.answer_slider) {
            draw_slider(c);
        } else {
            fill_band(c, c.screen_height - call.bottom_height + off, c.screen_height + off,
                      std::min<int>(int(setting(c, Id::CurtainAlpha)), c.scene_alpha));
            draw_buttons(c, off, c.scene_alpha);
        }
    }
}

void draw_prompt_box(Context& c, int alpha);

void compose_busy_prompt(Context& c) {
    auto& call = c.call;
    auto& scr = c.screen;
    if (c.state == ScreenState::BusySmsPromptOverApp) {
        // The other program's windows are the phone's to draw, not in this screen's memory:
        // what was captured is lumo's own last frame. The wallpaper, darkened, stands behind
        // the question instead of a black screen.
        gfx::DimToScreen(call.captured, scr, 16);
        draw_wallpaper(c, 14);
    }
    if (c.state == ScreenState::BusySmsPrompt) call.prompt_alpha = std::min(32, call.prompt_alpha + 6);
    draw_prompt_box(c, call.prompt_alpha);
}

bool busy_prompt_fading(const Context& c) {
    switch (c.state) {
        case ScreenState::Normal:
        case ScreenState::NotificationView:
        case ScreenState::MessageView:
        case ScreenState::MissedCallView:
        case ScreenState::TaskView: return c.call.prompt_alpha > 0;
        default: return false;
    }
}

// The question over the lock screen leaves as it came, 6 alpha steps a frame; its pictures are
// let go once it is transparent.
void draw_fading_busy_prompt(Context& c) {
    auto& call = c.call;
    if (!busy_prompt_fading(c)) return;
    call.prompt_alpha = std::max(0, call.prompt_alpha - 6);
    if (call.prompt_alpha == 0) {
        release_busy_prompt(c);
        return;
    }
    draw_prompt_box(c, std::min(call.prompt_alpha, c.scene_alpha));
}

void release_busy_prompt(Context& c) {
    auto& call = c.call;
    call.prompt_alpha = 0;
    release(call.ptbox);
    release(call.ptbutton);
    release(call.prompt_text);
    release(call.prompt_send);
    release(call.prompt_cancel);
    release(call.captured);
}

void draw_prompt_box(Context& c, int a) {
    auto& call = c.call;
    auto& scr = c.screen;
    auto g = prompt_geometry(c);
    if (!call.ptbox.empty()) {
        gfx::DrawImage(call.ptbox, scr, g.box_x, g.box_y, 0, 0, 0, gfx::kCopy, a);
    } else {
        gfx::Brush grey = gfx::MakeBrush(gfx::RGBTo565(scr.format, 50, 55, 65));
        auto* old = gfx::SelectBrush(scr, &grey);
        gfx::FillRect(scr, g.box_x, g.box_y, g.box_x + g.box_w, g.box_y + g.box_h, std::min(a, 28));
        if (old) gfx::SelectBrush(scr, old);
    }
    if (!call.prompt_text.empty())
        gfx::DrawImage(call.prompt_text, scr, g.box_x + (g.box_w - call.prompt_text.width) / 2, g.box_y + unit(c, 12), 0,
                       0, 0, gfx::kColourKey, a);
    auto button = [&](const ButtonBox& b, bool down, const gfx::Image& text) {
        if (!call.ptbutton.empty())
            gfx::DrawImage(call.ptbutton, scr, b.x, b.y, down ? call.ptbutton.width / 2 : 0, b.w, 0, gfx::kCopy, a);
        if (!text.empty())
            gfx::DrawImage(text, scr, b.x + (b.w - text.width) / 2, b.y + (b.h - text.height) / 2, 0, 0, 0,
                           gfx::kColourKey, a);
    };
    button(g.send, call.prompt_send_down, call.prompt_send);
    button(g.cancel, call.prompt_cancel_down, call.prompt_cancel);
}

void draw_in_call_line(Context& c) {
    auto& call = c.call;
    if (call.InCallLine == 0) return;
    if (call.line_fading) {
        call.line_alpha -= 2;
        if (call.line_alpha <= 0) {
            call.InCallLine = 0;
            call.line_fading = false;
            release(call.line_title);
            release(call.line_time);
            return;
        }
    }
    int a = std::min(call.line_alpha, c.scene_alpha);
    int h = std::max(call.line_title.height, call.line_time.height) + unit(c, 6);
    int top = unit(c, 16) + c.top_offset;
    fill_band(c, top, top + h, std::min(a, 20));
    if (!call.line_title.empty())
        gfx::DrawImage(call.line_title, c.screen, unit(c, 6), top + unit(c, 3), 0, 0, 0, gfx::kColourKey, a);
    if (!call.line_time.empty())
        gfx::DrawImage(call.line_time, c.screen, c.screen_width - unit(c, 6) - call.line_time.width, top + unit(c, 3), 0,
                       0, 0, gfx::kColourKey, a);
}

void on_call_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    auto& call = c.call;
    const bool caller_id = setting(c, Id::CallerID) != 0;
    switch (msg) {
        case proto::WM_RunCaller:
            if (caller_id) start_caller(c, w, l);
            return;
        case proto::WM_EndCaller:
            end_caller(c, w);
            return;
        case proto::WM_CHANGE_CALLERNUMBER: {
            if (!caller_id) return;
            auto number = phone_state_text(c, u"Caller Number");
            c.log.printf("In Caller Number:%s", to_utf8(number).c_str());
            if (!number.empty() && !call.NameKnown) call.in_call_name = number;
            return;
        }
        case proto::WM_CHANGE_CALLERNAME: {
            if (!caller_id) return;
            auto name = phone_state_text(c, u"Caller Name");
            c.log.printf("In Caller Name:%s", to_utf8(name).c_str());
            if (!name.empty()) {
                call.in_call_name = name;
                call.NameKnown = true;
            } else {
                call.NameKnown = false;
            }
            return;
        }
        case proto::WM_UpdateInCall:
            update_in_call(c, Hwnd(w));
            return;
        case proto::WM_UpdateLastCall:
            update_last_call(c, Hwnd(w));
            return;
        case proto::WM_CHANGE_INCOMINGPROPNAME: {
            if (!caller_id || !incoming(c) || call.PropNameShown) return;
            auto prop = phone_state_text(c, u"Incoming Caller PropName");
            c.log.printf("Incoming Property: %s", to_utf8(prop).c_str());
            call.PropNameShown = true;
            render_small(c, call.prop_img, prop);
            request_redraw(c);
            return;
        }
        case proto::WM_CHANGE_INCOMINGNAME: {
            if (!caller_id || !incoming(c)) return;
            auto number = phone_state_text(c, u"Incoming Caller Number");
            auto name = phone_state_text(c, u"Incoming Caller Name");
            c.log.printf("Incoming CallerNo: %s", to_utf8(number).c_str());
            c.log.printf("Incoming Caller: %s", to_utf8(name).c_str());
            if (number.empty() || name.empty()) return;
            call.raw_number = number;
            call.number = display_number(c, number, &call.NoNumber);
            call.name = name;
            load_caller_picture(c, number, !call.NoNumber);
            render_caller_lines(c);
            if (call.PropNameShown) {
                auto prop = phone_state_text(c, u"Incoming Caller PropName");
                render_small(c, call.prop_img, prop);
            }
            layout_call_bands(c);
            request_redraw(c);
            return;
        }
        case proto::WM_PowerButtonHangUp:
            if (setting(c, Id::SendBusySMS) != 0 && !call.NoNumber) call.BusySmsWanted = true;
            return;
        case proto::WM_Talking:
            call.talking = w != 0;
            return;
        case proto::WM_Dialing:
            call.dialing = w != 0;
            return;
        case WM_TIMER:
            break;
        default:
            return;
    }
    // Timers of the call screens (the window procedure stopped the one-shot ones already).
    switch (w) {
        case kTimerCallTime:
            if (!in_call_screen(c)) {
                kill(c, kTimerCallTime);
                return;
            }
            refresh_time_line(c);
            request_redraw(c);
            return;
        case kTimerInCall: {
            if (call.InCallLine != 2 || !c.p.windows().is_window(call.PhoneElapsedWindow)) {
                kill(c, kTimerInCall);
                return;
            }
            auto t = window_text(c, call.PhoneElapsedWindow);
            c.log.printf("Last Elapsed (%s)", to_utf8(t).c_str());
            render_small(c, call.line_time, t, 0xDDDDDD);
            request_redraw(c);
            return;
        }
        case kTimerResetLastCall:
            c.log.printf("WM_ResetLastCall");
            if (call.InCallLine) {
                call.line_fading = true;
                request_redraw(c);
            }
            return;
        case kTimerAnswer:
            c.slider.slide_locked = false;
            post_service(c, proto::WM_PhoneKey, proto::kPhoneKeyAnswer, 0);
            return;
        case kTimerIgnore:
            reject(c, proto::kPhoneKeyReject);
            return;
        case kTimerBusySmsOpen:
            if (!phone_rings(c) && c.state == ScreenState::Normal) open_busy_prompt(c, true);
            return;
        default:
            return;
    }
}

}  // namespace lumo::lockscreen
