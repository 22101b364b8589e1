// Composing a frame by state, presenting it, and the two curtain animations.
#include <algorithm>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/lockscreen/lockscreen.h"

namespace lumo::lockscreen {

using catalogue::Id;

namespace {

gfx::FrameClock& frame_clock(Context& c) { return c.frame_clock ? *c.frame_clock : gfx::SystemFrameClock(); }

void draw_top_bar(Context& c) {
    const auto& bar = (c.settings.num(Id::TopCurtain) == 2 && !c.ftopbar.empty()) ? c.ftopbar : c.topbar;
    // The band is made for the portrait width; a landscape screen gets it side by side.
    if (!bar.empty())
        for (int x = 0; x < c.screen_width; x += bar.width)
            gfx::DrawImageRow(bar, c.screen, x, c.top_offset, 0, bar.height, c.screen_width - x,
                              gfx::kColourKey, c.scene_alpha);
}

// One curtain frame at a fraction of its travel, paced at least 50 ms after the previous one.
void curtain_frame(Context& c, int top, int bottom, int alpha, std::uint32_t& last) {
    auto& clock = frame_clock(c);
    std::uint32_t now = clock.now_ms();
    if (now - last < 50) clock.sleep_ms(50 - (now - last));
    last = clock.now_ms();
    c.top_offset = top;
    c.bottom_offset = bottom;
    c.scene_alpha = std::clamp(alpha, 0, 32);
    compose_frame(c);
    if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
}

}  // namespace

namespace {

bool is_view(ScreenState s) {
    return s == ScreenState::NotificationView || s == ScreenState::MessageView ||
           s == ScreenState::MissedCallView || s == ScreenState::TaskView;
}

// The busy-SMS question grows while it is asked and fades out over the lock screen after.
void draw_prompt(Context& c) {
    auto& call = c.call;
    if (c.state == ScreenState::BusySmsPrompt) {
        call.prompt_alpha = std::min(32, call.prompt_alpha + kBoxFadeStep);
        compose_busy_prompt(c);
        return;
    }
    if (call.prompt_alpha <= 0) return;
    call.prompt_alpha = std::max(0, call.prompt_alpha - kBoxFadeStep);
    if (call.prompt_alpha > 0) compose_busy_prompt(c);
    else release_prompt(c);
}

// A view's box: up to 32 while its view lasts, down to 0 after it, then released.
void draw_view(Context& c) {
    if (is_view(c.state)) {
        if (c.box_view != c.state) {
            if (c.box_view != ScreenState::Normal) release_view_box(c, c.box_view);
            c.box_view = c.state;
            c.box_alpha = 0;
        }
        c.box_alpha = std::min(32, c.box_alpha + kBoxFadeStep);
    } else if (c.box_view != ScreenState::Normal) {
        c.box_alpha = std::max(0, c.box_alpha - kBoxFadeStep);
        if (c.box_alpha == 0) {
            release_view_box(c, c.box_view);
            c.box_view = ScreenState::Normal;
            return;
        }
    } else {
        return;
    }
    draw_view_box(c, c.box_view, c.box_alpha);
}

}  // namespace

void compose_lock_scene(Context& c) {
    if (battery_view_covers(c)) draw_battery_view(c);
    else draw_wallpaper(c, c.scene_alpha);
    draw_top_bar(c);
    draw_status_bar(c);
    draw_clock(c);
    draw_appointment_panel(c);
    draw_in_call_line(c);
    draw_slider(c);
    draw_owner_line(c);
}

bool boxes_fading(const Context& c) {
    bool view_fading = c.box_view != ScreenState::Normal && (c.box_view != c.state || c.box_alpha < 32);
    bool prompt_fading = c.state == ScreenState::BusySmsPrompt ? c.call.prompt_alpha < 32 : c.call.prompt_alpha > 0;
    return view_fading || (prompt_fading && c.state != ScreenState::BusySmsPromptOverApp);
}

void release_prompt(Context& c) {
    auto& call = c.call;
    call.prompt_alpha = 0;
    for (auto* img : {&call.ptbox, &call.ptbutton, &call.prompt_text, &call.prompt_send, &call.prompt_cancel})
        gfx::ReleaseImage(*img, true);
}

void compose_frame(Context& c) {
    switch (c.state) {
        case ScreenState::IncomingCall:
        case ScreenState::CallScreen:
            compose_call_screen(c);
            break;
        case ScreenState::BusySmsPromptOverApp:
            compose_busy_prompt(c);
            break;
        case ScreenState::VolumeControl:
        case ScreenState::InCallVolume:
        case ScreenState::PasswordEntry:
        case ScreenState::EmergencyCall:
        case ScreenState::ShutdownSlider:
            compose_state_scene(c);
            break;
        case ScreenState::Normal:
        case ScreenState::BusySmsPrompt:
        case ScreenState::NotificationView:
        case ScreenState::MessageView:
        case ScreenState::MissedCallView:
        case ScreenState::TaskView:
        default:
            compose_lock_scene(c);
            draw_view(c);
            draw_prompt(c);
            break;
    }
}

void draw_frame(Context& c) {
    if (c.call_end_pending || c.screen.suspended) return;
    step_status(c);
    compose_frame(c);
    if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
}

void closing_curtain(Context& c) {
    bool was_suspended = c.screen.suspended;
    if (was_suspended) gfx::ResumeScreen(c.screen);
    int travel_top = gfx::ScaleUnit(c.screen, 16) + c.clock.height + gfx::ScaleUnit(c.screen, 60);
    int travel_bottom = c.screen_height - c.slider.bar_top;
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    for (int f = 1; f <= 7; ++f)
        curtain_frame(c, -travel_top * (7 - f) / 7, travel_bottom * (7 - f) / 7, 32 * f / 7, last);
    c.top_offset = c.bottom_offset = 0;
    c.scene_alpha = 32;
    if (was_suspended) gfx::SuspendScreen(c.screen);
}

void opening_curtain(Context& c, bool fade, int frames) {
    if (c.screen.suspended || !c.screen.back_buffer) return;
    int travel_top = gfx::ScaleUnit(c.screen, 16) + c.clock.height + gfx::ScaleUnit(c.screen, 60);
    int travel_bottom = c.screen_height - c.slider.bar_top;
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    for (int f = 1; f <= frames; ++f)
        curtain_frame(c, -travel_top * f / frames, travel_bottom * f / frames, fade ? 32 * (frames - f) / frames : 32,
                      last);
    c.top_offset = c.bottom_offset = 0;
    c.scene_alpha = 32;
}

}  // namespace lumo::lockscreen
