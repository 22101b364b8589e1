// The slider: geometry, the drag with its jump guard, release and fling, the snap back, keys,
// the end actions and the drawing of the bottom bar.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using catalogue::Id;

namespace {

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
bool centre_slider(const Context& c) { return c.settings.num(Id::SliderPosition) != 0; }
bool is_view(ScreenState s) {
    return s == ScreenState::NotificationView || s == ScreenState::MessageView ||
           s == ScreenState::MissedCallView || s == ScreenState::TaskView;
}

// The incoming-call slider with Slide2End rests in the middle: answer left, ignore right.
bool answer_end_slider(const Context& c) {
    return answer_slider_shown(c) && c.settings.num(Id::Slide2End) != 0;
}

// The texts stand on both sides of a knob resting in the middle.
bool centre_texts(const Context& c) {
    return centre_slider(c) || c.slider.dismiss_view_mode || c.slider_texts == SliderTexts::AnswerEnd;
}

void clear_fling(SliderState& s) {
    s.fling_distance = 0;
    s.fling_time = 0;
}

void right_end(Context& c) {
    if (call_slider_end(c, true)) return;
    if (c.state == ScreenState::ShutdownSlider) {
        shutdown_slider_end(c);
        return;
    }
    // Lock screen, views, dismiss mode: the unlock; a pending item opens after it.
    unlock_request(c, false);
}

void left_end(Context& c) {
    auto& s = c.slider;
    if (call_slider_end(c, false)) return;
    if (c.state == ScreenState::ShutdownSlider) {
        if (centre_slider(c)) shutdown_slider_end(c);
        return;
    }
    if (s.dismiss_view_mode) {
        if (centre_slider(c)) {
            c.p.windows().set_timer(c.main_window, kTimerSlidePause, 400);
            s.slide_pause = true;
        }
        c.log.printf("Dismiss Notify %d", int(c.pending_action));
        close_views(c);
        c.state = ScreenState::Normal;
        set_slider_texts(c, SliderTexts::Lock);
        return;
    }
    if (centre_slider(c)) unlock_request(c, false);
}

}  // namespace

void layout_slider(Context& c) {
    auto& s = c.slider;
    int centre = c.screen_width / 2;
    s.knob_width = c.knob.width / 2;
    s.track_left = centre - unit(c, 100);
    s.track_right = s.track_left + unit(c, 152);
    s.track_centre = centre - s.knob_width / 2;
    s.bar_top = c.screen_height - unit(c, 60);
    s.track_top = s.bar_top + (unit(c, 60) - c.track.height) / 2;
    s.track_x = (c.screen_width - c.track.width) / 2;
    s.knob_top = s.track_top + (c.track.height - c.knob.height) / 2;
}

int rest_pos(const Context& c) {
    if (centre_slider(c) || c.slider.dismiss_view_mode || answer_end_slider(c)) return c.slider.track_centre;
    return c.slider.track_left;
}

void set_knob_position(Context& c, int x) {
    auto& s = c.slider;
    if (x >= s.track_right) {
        s.knob_pos = s.track_right;
        s.key_drive = 0;
        request_redraw(c);
        right_end(c);
    } else if (x > s.track_left) {
        s.knob_pos = x;
        request_redraw(c);
    } else {
        s.knob_pos = s.track_left;
        s.key_drive = 0;
        request_redraw(c);
        left_end(c);
    }
}

void guarded_move(Context& c, int x) {
    auto& s = c.slider;
    if (s.slide_locked || s.slide_pause) return;
    int end = (centre_slider(c) || s.dismiss_view_mode || answer_end_slider(c)) ? s.track_centre : s.track_right;
    if (std::abs(x - s.knob_pos) > end - s.track_left - s.knob_width / 4) {
        // Too far for one move (two fingers, a lost event): the drag ends without an action.
        s.dragging = false;
        clear_fling(s);
        return;
    }
    set_knob_position(c, x);
}

void start_drag(Context& c, int x, int y) {
    auto& s = c.slider;
    if (c.settings.num(Id::NoSoftKey) != 0) return;
    int left = s.knob_pos - s.knob_width / 2;
    int right = s.knob_pos + s.knob_width / 2 + s.knob_width;
    // On the call screens a press above the knob belongs to the screen, not to the knob.
    int top = in_call_screen(c) ? s.knob_top : s.knob_top - c.knob.height / 2;
    int bottom = s.knob_top + c.knob.height;
    if (x >= left && x < right && y >= top && y < bottom && !s.slide_locked) {
        s.dragging = true;
        s.last_x = x;
        s.last_move_tick = c.p.clock().tick_count();
        s.speed = s.prev_speed = 0;
        clear_fling(s);
    } else {
        s.dragging = false;
    }
}

void drag_to(Context& c, int x, int y) {
    auto& s = c.slider;
    if (!s.dragging) return;
    // Above the track by more than a knob: the knob waits for the finger to come back.
    if (y < s.track_top - c.knob.height) return;
    std::uint32_t now = c.p.clock().tick_count();
    s.move_interval = now - s.last_move_tick;
    int dx = s.last_x - x;
    s.prev_speed = s.speed;
    s.speed = s.move_interval ? std::fabs(1000.0 * dx / double(s.move_interval)) : 0.0;
    s.fling_distance += dx;
    s.fling_time += s.move_interval;
    s.last_move_tick = now;
    guarded_move(c, x - s.knob_width / 2);
    s.last_x = x;
}

void end_drag(Context& c, int, int) {
    auto& s = c.slider;
    // The time since the last move counts as well: a finger that rested before lifting
    // does not throw the knob.
    std::uint32_t since = c.p.clock().tick_count() - s.last_move_tick;
    if (s.dragging && since > s.move_interval) s.move_interval = since;
    if ((s.speed < 60 && s.prev_speed < 60) || s.move_interval > 150) clear_fling(s);
    if (c.state == ScreenState::Normal) {
        if (s.dragging) {
            reset_anim_lcd(c);
            s.dragging = false;
            if (c.settings.num(Id::SliderInertia) == 0) clear_fling(s);
        }
    } else if (is_view(c.state)) {
        s.dragging = false;
        reset_anim_lcd(c);
    } else {
        s.dragging = false;
    }
    request_redraw(c);
}

void slide_tick(Context& c) {
    auto& s = c.slider;
    if (s.slide_locked || s.slide_pause) return;
    if (s.key_drive) {
        int step = unit(c, 24);
        set_knob_position(c, s.key_drive == 37 ? s.knob_pos - step : s.knob_pos + step);
        return;
    }
    if (s.dragging || s.fling_distance != 0 || s.fling_time != 0) return;
    int step = unit(c, 32);
    if (centre_slider(c) || s.dismiss_view_mode || answer_end_slider(c)) {
        if (s.knob_pos < s.track_centre) s.knob_pos = std::min(s.knob_pos + step, s.track_centre);
        else if (s.knob_pos > s.track_centre) s.knob_pos = std::max(s.knob_pos - step, s.track_centre);
    } else if (s.knob_pos > s.track_left) {
        s.knob_pos = std::max(s.knob_pos - step, s.track_left);
    }
}

void fling_step(Context& c) {
    auto& s = c.slider;
    if (s.dragging || s.fling_distance == 0 || s.fling_time == 0) return;
    double exact = double(c.settings.num(Id::SliderInertia)) * 100.0 * s.fling_distance / double(s.fling_time);
    // The decayed distance carries binary rounding: 9 must not truncate to 8.
    int step = int(exact + (exact < 0 ? -1e-9 : 1e-9));
    if (step == 0) {
        clear_fling(s);
        return;
    }
    guarded_move(c, s.knob_pos - step);
    s.fling_distance *= 0.3;
}

void reset_slider(Context& c) {
    auto& s = c.slider;
    s.slide_locked = false;
    s.dragging = false;
    s.key_drive = 0;
    clear_fling(s);
    s.shine_phase = 0;
    s.knob_pos = rest_pos(c);
}

bool slider_animating(const Context& c) {
    const auto& s = c.slider;
    return s.dragging || s.knob_pos != rest_pos(c) || s.key_drive || s.fling_distance != 0 || s.knob_alpha < 32;
}

// The two text lines: the left-rest slider has one text right of the knob; the centre slider
// one on each side. The shine frames are made for the right-hand line only.
void set_slider_texts(Context& c, SliderTexts kind) {
    auto& s = c.slider;
    c.slider_texts = kind;
    bool was_dismiss = s.dismiss_view_mode;
    s.dismiss_view_mode = kind == SliderTexts::DismissView;
    make_slider_texts(c);
    if (s.dismiss_view_mode) {
        s.knob_pos = s.track_centre;
    } else if (was_dismiss && !s.slide_pause) {
        s.knob_pos = rest_pos(c);
    }
    request_redraw(c);
}

namespace {

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

// Whether the view's item goes away with the dismiss end (else the end only cancels).
bool dismiss_removes_item(const Context& c) {
    if (c.state == ScreenState::MessageView)
        return c.settings.num(c.message_kind == 2 ? Id::AutoMarkReadEmail : Id::AutoMarkReadSMS) != 0;
    return c.settings.num(Id::AutoDismissNotification) != 0;
}

}  // namespace

void make_slider_texts(Context& c) {
    auto& s = c.slider;
    bool centre = centre_slider(c);
    std::u16string left, right;
    switch (c.slider_texts) {
        case SliderTexts::Lock:
            if (c.pending_action) {
                right = centre ? text_or(c, u"s_S2DView=", u"view") : text_or(c, u"s_S2VText=", u"slide to view");
            } else {
                right = centre ? text_or(c, u"s_CS2UText=", u"unlock") : text_or(c, u"s_S2UText=", u"slide to unlock");
            }
            if (centre) left = right;
            break;
        case SliderTexts::View:
            right = centre ? text_or(c, u"s_S2DView=", u"view") : text_or(c, u"s_S2VText=", u"slide to view");
            if (centre) left = right;
            break;
        case SliderTexts::DismissView:
            left = dismiss_removes_item(c) ? text_or(c, u"s_S2DDismiss=", u"dismiss") : text_or(c, u"s_S2DCancel=", u"cancel");
            right = text_or(c, u"s_S2DView=", u"view");
            break;
        case SliderTexts::Shutdown:
            right = centre ? text_or(c, u"s_CS2POText=", u"power off") : text_or(c, u"s_S2POText=", u"slide to power off");
            if (centre) left = right;
            break;
        case SliderTexts::Answer:
            right = text_or(c, u"s_S2AText=", u"slide to answer");
            break;
        case SliderTexts::AnswerEnd:
            left = text_or(c, u"s_S2EAnswer=", u"answer");
            right = text_or(c, u"s_S2EEnd=", u"ignore");
            break;
        case SliderTexts::CallEnd:
            // The knob of the left-rest slider goes back to the left end, over where the unlock
            // text would stand: only the centre slider shows both.
            if (centre) left = text_or(c, u"s_CS2UText=", u"unlock");
            right = text_or(c, u"s_End=", u"end");
            break;
    }
    c.slider_left_text = left;
    c.slider_right_text = right;
    int height = unit(c, 19);
    std::uint32_t grey = 0x969696;
    for (auto& line : c.slider_text) {
        gfx::ReleaseImage(line, false);
        line.width = line.height = 0;
    }
    s.knob_alpha = 0;
    if (!c.screen.fonts) return;
    const std::u16string& text = right;
    gfx::RenderText(c.slider_text[1], c.screen, height, 500, grey, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    if (!left.empty()) {
        // The mirrored copy only where the same text stands on both sides.
        if (left == right && c.settings.num(Id::SlideTextMirror) != 0)
            gfx::MirrorImage(c.slider_text[0], c.slider_text[1]);
        else
            gfx::RenderText(c.slider_text[0], c.screen, height, 500, grey, left, gfx::kTextSingleLine, 0, 0, 0, 0,
                            false, 0);
    }
    // The shine: the white text with a bright band sweeping across it.
    c.shine.resize(kShineFrames);
    gfx::Image white;
    gfx::RenderText(white, c.screen, height, 500, 0xFFFFFF, text, gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    int band = std::max(4, white.width / 4);
    for (int f = 0; f < kShineFrames; ++f) {
        auto& frame = c.shine[f];
        gfx::CropImage(frame, white, 0, 0, 0, 0, 0);
        int x = -band + (white.width + band) * f / (kShineFrames - 1);
        gfx::MakeShineMask(frame, x, band);
        // The background stays transparent under the band.
        for (int y = 0; y < frame.height; ++y)
            for (int xx = 0; xx < frame.width; ++xx)
                if (frame.at(xx, y) == 0) frame.alpha_row(y)[xx] = 0;
    }
}

void draw_slider(Context& c) {
    if (c.settings.num(Id::NoSoftKey) != 0 || c.knob.empty()) return;
    auto& s = c.slider;
    auto& scr = c.screen;
    int off = c.bottom_offset;
    int a = c.scene_alpha;
    // 1. The bar, darkened (the shutdown slider at the top draws its own band).
    if (c.state != ScreenState::ShutdownSlider) {
        gfx::Brush black = gfx::MakeBrush(0);
        auto* old = gfx::SelectBrush(scr, &black);
        // The rectangle's far corner is exclusive: the band reaches the last column and row.
        gfx::FillRect(scr, 0, s.bar_top + off, c.screen_width, c.screen_height + off,
                      std::min<int>(int(c.settings.num(Id::CurtainAlpha)), a));
        if (old) gfx::SelectBrush(scr, old);
    }
    // 2. The track.
    gfx::DrawImage(c.track, scr, s.track_x, s.track_top + off, 0, 0, 0, gfx::kColourKey, std::min(14, a));
    // 4 (first, as it sets this frame's text alpha).
    int rest = rest_pos(c);
    if (s.knob_pos == rest) {
        s.text_alpha = 32;
    } else {
        int d = std::abs(s.knob_pos - rest) / std::max(1, unit(c, 1));
        s.text_alpha = 32 - 2 * d;
        if (2 * d > 30) {
            s.text_alpha = 0;
            s.shine_phase = 0;
        }
    }
    // 3. The texts and their shine.
    if (s.shine_phase != kShineFrozen && s.text_alpha > 0) {
        int ta = std::min({s.text_alpha, 20, a});
        auto& right = c.slider_text[1];
        int ty = s.track_top + off + (c.track.height - right.height) / 2;
        bool centre = centre_texts(c);
        int rx = centre ? s.track_centre + s.knob_width + unit(c, 4)
                        : s.track_left + s.knob_width + (s.track_right - s.track_left - right.width) / 2 + unit(c, 4);
        if (!right.empty()) gfx::DrawImage(right, scr, rx, ty, 0, 0, 0, gfx::kColourKey, ta);
        if (!c.slider_text[0].empty())
            gfx::DrawImage(c.slider_text[0], scr, s.track_centre - unit(c, 4) - c.slider_text[0].width, ty, 0, 0, 0,
                           gfx::kColourKey, ta);
        int frame = s.shine_phase / kShineStep;
        if (!s.dragging && frame < int(c.shine.size()) && !c.shine[frame].empty())
            gfx::DrawImage(c.shine[frame], scr, rx, ty, 0, 0, 0, gfx::kCopy, std::min(s.text_alpha, a));
    }
    // 5. The knob, fading in. On the call screens its second frame shows, and right of the middle
    // the first one comes over it as the knob nears the end.
    int ka = std::min(s.knob_alpha, a);
    if (in_call_screen(c)) {
        gfx::DrawImage(c.knob, scr, s.knob_pos, s.knob_top + off, s.knob_width, s.knob_width, 0, gfx::kColourKey, ka);
        bool blend = c.state == ScreenState::CallScreen || answer_end_slider(c);
        if (blend && s.knob_pos > s.track_centre && s.track_right > s.track_centre) {
            int over = 32 * (s.knob_pos - s.track_centre) / (s.track_right - s.track_centre);
            gfx::DrawImage(c.knob, scr, s.knob_pos, s.knob_top + off, 0, s.knob_width, 0, gfx::kColourKey,
                           std::min(over, ka));
        }
    } else {
        gfx::DrawImage(c.knob, scr, s.knob_pos, s.knob_top + off, 0, s.knob_width, 0, gfx::kColourKey, ka);
    }
    s.knob_alpha = std::min(32, s.knob_alpha + 4);
    // 6. The shine moves on while the knob rests.
    if (s.knob_pos == rest && !s.dragging) {
        s.shine_phase += kShineStep;
        if (s.shine_phase > kShineLast) {
            s.shine_phase = 0;
            ++s.shine_runs;
        }
    }
}

}  // namespace lumo::lockscreen
