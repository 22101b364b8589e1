// The shutdown slider: the greyed screen, the slider sliding in at the top and the cancel button
// at the bottom, the 20 s timeout, switching the phone off at the slider's end, and returning to
// where the user was.
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

constexpr std::uint32_t kCloseMs = 20000;
constexpr int kCurtainFrames = 6;
constexpr std::uint32_t kCurtainFrameMs = 60;
// What is left of the phone's switch-off after the service returned.
constexpr std::uint32_t kAfterShutDownMs = 1000;

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }
void arm(Context& c, std::uint32_t id, std::uint32_t ms) { c.p.windows().set_timer(c.main_window, id, ms); }
void kill(Context& c, std::uint32_t id) { c.p.windows().kill_timer(c.main_window, id); }
bool centre_slider(const Context& c) { return c.settings.num(Id::SliderPosition) != 0; }
gfx::FrameClock& frame_clock(Context& c) { return c.frame_clock ? *c.frame_clock : gfx::SystemFrameClock(); }

void release(gfx::Image& img) {
    gfx::ReleaseImage(img, true);
    img.width = img.height = 0;
}

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

bool load(Context& c, gfx::Image& img, std::u16string_view file) {
    release(img);
    if (gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) return true;
    release(img);
    c.log.printf("Picture %s cannot be loaded: drawn instead", to_utf8(file).c_str());
    return false;
}

// The left-rest slider takes the power knob; the centre slider keeps the lock screen's.
void swap_in_knob(Context& c) {
    auto& sd = c.shutdown;
    if (centre_slider(c) || sd.knob_swapped) return;
    gfx::Image knob;
    if (!load(c, knob, u"arrowR.png")) return;
    std::swap(sd.saved_knob, c.knob);
    std::swap(c.knob, knob);
    sd.knob_swapped = true;
}

void swap_back_knob(Context& c) {
    auto& sd = c.shutdown;
    if (!sd.knob_swapped) return;
    std::swap(sd.saved_knob, c.knob);
    release(sd.saved_knob);
    sd.knob_swapped = false;
}

void layout(Context& c) {
    auto& s = c.slider;
    auto& sd = c.shutdown;
    layout_slider(c);
    if (sd.knob_swapped) {
        // The power knob is one frame: its whole width is the knob.
        s.knob_width = c.knob.width;
        s.track_centre = c.screen_width / 2 - s.knob_width / 2;
    }
    s.track_top = unit(c, 16) + unit(c, 13);
    s.knob_top = s.track_top + (c.track.height - c.knob.height) / 2;
    sd.CancelTop = c.screen_height - unit(c, 47);
    sd.cancel_w = sd.cancel.empty() ? unit(c, 202) : sd.cancel.width / 2;
    sd.cancel_h = sd.cancel.empty() ? unit(c, 40) : sd.cancel.height;
    sd.cancel_x = s.track_x;
    sd.top_travel = s.track_top + std::max(c.track.height, c.knob.height) + unit(c, 13);
    sd.cancel_travel = c.screen_height - sd.CancelTop;
}

void bring_to_top(Context& c) {
    auto& win = c.p.windows();
    full_screen(c, true);
    win.show_window(c.main_window, SW_SHOW);
    win.set_foreground_window(c.main_window);
}

// Six frames at least 60 ms apart: the slider comes down from above the screen and the cancel
// button up from below while the scene fades in; closing runs it backwards.
void curtain(Context& c, bool opening) {
    auto& s = c.slider;
    auto& sd = c.shutdown;
    auto& clock = frame_clock(c);
    bool was_locked = s.slide_locked;
    s.slide_locked = true;
    s.shine_phase = kShineFrozen;
    std::uint32_t last = clock.now_ms() - kCurtainFrameMs;
    for (int f = 1; f <= kCurtainFrames; ++f) {
        std::uint32_t now = clock.now_ms();
        if (now - last < kCurtainFrameMs) clock.sleep_ms(kCurtainFrameMs - (now - last));
        last = clock.now_ms();
        int shown = opening ? f : kCurtainFrames - f;
        sd.top_offset = -sd.top_travel * (kCurtainFrames - shown) / kCurtainFrames;
        sd.cancel_offset = sd.cancel_travel * (kCurtainFrames - shown) / kCurtainFrames;
        c.scene_alpha = 32 * shown / kCurtainFrames;
        compose_frame(c);
        if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
    }
    sd.top_offset = sd.cancel_offset = 0;
    c.scene_alpha = 32;
    s.slide_locked = was_locked;
    s.shine_phase = 0;
}

bool in_cancel(const Context& c, int x, int y) {
    const auto& sd = c.shutdown;
    return x >= sd.cancel_x && x < sd.cancel_x + sd.cancel_w && y >= sd.CancelTop && y < sd.CancelTop + sd.cancel_h;
}

}  // namespace

void open_shutdown_slider(Context& c) {
    auto& sd = c.shutdown;
    auto& s = c.slider;
    c.log.printf("Start Load Shut Down");
    post_service(c, proto::WM_ShutDown, proto::kShutDownOpened, 0);
    sd.StateBeforeShutdown = c.state;
    c.state = ScreenState::ShutdownSlider;
    sd.RestoreWindow = c.p.windows().foreground_window();
    sd.powering_off = false;
    // Whatever is on the screen, darkened and grey, is the background.
    gfx::ResumeScreen(c.screen);
    gfx::Image shot;
    gfx::CaptureScreen(shot, c.screen);
    gfx::DimToScreen(shot, c.screen, 9);
    gfx::GreyScreen(c.screen);
    release(sd.background);
    gfx::ImageFromBackBuffer(sd.background, c.screen);
    release(shot);
    update_date_only(c);
    request_redraw(c);
    bring_to_top(c);
    swap_in_knob(c);
    load(c, sd.cancel, u"buttonG.png");
    release(sd.cancel_text);
    if (c.screen.fonts)
        gfx::RenderText(sd.cancel_text, c.screen, unit(c, 16), 700, 0xC8C8C8, text_or(c, u"s_Cancel=", u"Cancel"),
                        gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    layout(c);
    s.dragging = false;
    s.key_drive = 0;
    set_slider_texts(c, SliderTexts::Shutdown);
    s.knob_pos = centre_slider(c) ? s.track_centre : s.track_left;
    s.knob_alpha = 32;
    arm(c, kTimerCloseShutdown, kCloseMs);
    c.touched = true;
    sd.CancelPressed = false;
    set_off_lcd(c, 0, 0);
    curtain(c, true);
    // Keeps the window in front for two seconds against whatever the power button woke.
    arm(c, kTimerRepeatCallerLock, 200);
    c.repeat_count = 0;
}

void close_shutdown_slider(Context& c, bool quick) {
    if (c.state != ScreenState::ShutdownSlider) return;
    auto& sd = c.shutdown;
    auto& win = c.p.windows();
    c.log.printf("ShutDown2Normal %0X slide=%0X", int(c.state), c.slider.knob_pos);
    if (!quick && !c.screen.suspended) curtain(c, false);
    Hwnd back = sd.RestoreWindow;
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
    kill(c, kTimerCloseShutdown);
    c.state = sd.StateBeforeShutdown;
    sd.RestoreWindow = 0;
    release(sd.background);
    release(sd.cancel);
    release(sd.cancel_text);
    refresh_panels(c);
    // The lock screen's knob and slider where they were.
    swap_back_knob(c);
    layout_slider(c);
    reset_slider(c);
    sd.CancelPressed = false;
    sd.powering_off = false;
    c.pending_action = 0;
    set_slider_texts(c, SliderTexts::Lock);
    post_service(c, proto::WM_ShutDown, proto::kShutDownClosed, 0);
    c.log.printf("ShutDown2Normal End");
}

bool shutdown_touch(Context& c, std::uint32_t msg, int x, int y) {
    if (c.state != ScreenState::ShutdownSlider) return false;
    auto& sd = c.shutdown;
    if (sd.powering_off) return true;
    c.slider.shine_runs = 1;
    switch (msg) {
        case WM_LBUTTONDOWN:
            if (in_cancel(c, x, y)) {
                sd.CancelPressed = true;
                haptic_pulse(c);
            } else {
                start_drag(c, x, y);
                arm(c, kTimerCloseShutdown, kCloseMs);
            }
            break;
        case WM_MOUSEMOVE: drag_to(c, x, y); break;
        case WM_LBUTTONUP:
            if (c.state != ScreenState::ShutdownSlider) break;
            end_drag(c, x, y);
            if (sd.CancelPressed && in_cancel(c, x, y)) {
                arm(c, kTimerCloseShutdown, 0);
            } else {
                sd.CancelPressed = false;
                arm(c, kTimerCloseShutdown, kCloseMs);
            }
            break;
        default: break;
    }
    request_redraw(c);
    return true;
}

void shutdown_slider_end(Context& c) {
    auto& s = c.slider;
    auto& sd = c.shutdown;
    if (c.state != ScreenState::ShutdownSlider || sd.powering_off) return;
    sd.powering_off = true;
    haptic_pulse(c);
    s.dragging = false;
    s.slide_locked = true;
    s.knob_pos = s.knob_pos > s.track_centre ? s.track_right : s.track_left;
    s.shine_phase = kShineFrozen;
    draw_frame(c);
    gfx::FadeScreenOut(c.screen, 4);
    kill_all_timer(c, true);
    c.log.printf("Device Shut Down");
    if (Hwnd service = service_window(c)) c.p.windows().send(service, proto::WM_DeviceShutDown, 0, 0);
    frame_clock(c).sleep_ms(kAfterShutDownMs);
    // The program was told to end while the phone switched off.
    if (!c.screen.back_buffer) return;
    // Still running: the phone could not switch itself off. A black screen that takes no input
    // would leave the user nothing to do, so the slider gives the screen back.
    c.log.printf("Shut Down did not switch the phone off");
    sd.powering_off = false;
    s.slide_locked = false;
    gfx::ResumeScreen(c.screen);
    close_shutdown_slider(c, true);
    request_redraw(c);
}

void compose_shutdown(Context& c) {
    auto& sd = c.shutdown;
    auto& scr = c.screen;
    gfx::DimToScreen(sd.background, scr, 32);
    int a = c.scene_alpha;
    int off = sd.top_offset;
    // The band behind the slider, from the top of the screen.
    int band_bottom = c.slider.track_top + std::max(c.track.height, c.knob.height) + unit(c, 13);
    gfx::Brush black = gfx::MakeBrush(0);
    auto* old = gfx::SelectBrush(scr, &black);
    gfx::FillRect(scr, 0, off, c.screen_width, band_bottom + off, std::min(24, a));
    if (old) gfx::SelectBrush(scr, old);
    const auto& bar = (c.settings.num(Id::TopCurtain) == 2 && !c.ftopbar.empty()) ? c.ftopbar : c.topbar;
    if (!bar.empty())
        for (int x = 0; x < c.screen_width; x += bar.width)
            gfx::DrawImageRow(bar, scr, x, off, 0, bar.height, c.screen_width - x, gfx::kColourKey, a);
    // The slider draws itself at the bottom offset; here it travels with the top.
    int saved = c.bottom_offset;
    c.bottom_offset = off;
    draw_slider(c);
    c.bottom_offset = saved;
    int y = sd.CancelTop + sd.cancel_offset;
    if (!sd.cancel.empty()) {
        gfx::DrawImage(sd.cancel, scr, sd.cancel_x, y, sd.CancelPressed ? sd.cancel_w : 0, sd.cancel_w, 0, gfx::kCopy, a);
    } else {
        gfx::Brush grey = gfx::MakeBrush(gfx::RGBTo565(scr.format, 70, 70, 76));
        auto* prev = gfx::SelectBrush(scr, &grey);
        gfx::FillRect(scr, sd.cancel_x, y, sd.cancel_x + sd.cancel_w, y + sd.cancel_h, std::min(a, sd.CancelPressed ? 32 : 24));
        if (prev) gfx::SelectBrush(scr, prev);
    }
    const auto& t = sd.cancel_text;
    if (!t.empty())
        gfx::DrawImage(t, scr, sd.cancel_x + (sd.cancel_w - t.width) / 2, y + (sd.cancel_h - t.height) / 2, 0, 0, 0,
                       gfx::kColourKey, a);
}

void relayout_shutdown(Context& c) {
    if (c.state != ScreenState::ShutdownSlider) return;
    auto& sd = c.shutdown;
    layout(c);
    c.slider.knob_pos = centre_slider(c) ? c.slider.track_centre : c.slider.track_left;
    if (!sd.background.empty() && (sd.background.width != c.screen_width || sd.background.height != c.screen_height)) {
        gfx::Image turned;
        gfx::ResizeImage(turned, c.screen, sd.background, c.screen_width, c.screen_height, true, false);
        std::swap(sd.background, turned);
        release(turned);
    }
}

void relayout_overlays(Context& c) {
    relayout_volume(c);
    relayout_shutdown(c);
}

}  // namespace lumo::lockscreen
