// The row of notification icons above the slider: counts from the service's messages, red
// badges, fades, and what a tap on an icon does.
#include <algorithm>
#include <string>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using catalogue::Id;
namespace proto = protocol;

namespace {

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }

int slot_of(std::uint32_t msg) {
    switch (msg) {
        case proto::WM_CHANGE_PHONEMISSEDCALLS: return 0;
        case proto::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD: return 1;
        case proto::WM_CHANGE_MESSAGINGSMSUNREAD: return 2;
        case proto::WM_CHANGE_MESSAGINGMMSUNREAD: return 3;
        case proto::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD: return 4;
        case proto::WM_CHANGE_FLEXMAILUNREAD: return 5;
        case proto::WM_CHANGE_WLMUNREAD: return 6;
        case proto::WM_CHANGE_REMINDER: return 7;
        case proto::WM_CHANGE_TASKSACTIVE: return 8;
        default: return -1;
    }
}

int last_slot(const Context& c) { return c.settings.num(Id::ShowTask) != 0 ? 8 : 7; }

int cell_width(const Context& c) { return c.notice.empty() ? 0 : c.notice.width / kNoticeSlots; }

bool slot_shown(const Context& c, int i) { return c.views.counts[i] != 0 || c.views.icon_fade[i] > 0; }

// The left edge of every drawn slot, -1 for the others; the same walk draws and hit-tests.
void slot_positions(const Context& c, int (&x_of)[kNoticeSlots]) {
    std::fill(std::begin(x_of), std::end(x_of), -1);
    double x = c.screen_width - unit(c, 30);
    for (int i = last_slot(c); i >= 0; --i) {
        if (!slot_shown(c, i)) continue;
        x_of[i] = int(x);
        x -= 1.2 * cell_width(c);
    }
}

void render_count(Context& c, int slot) {
    auto& img = c.views.count_text[slot];
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
    std::uint32_t n = c.views.counts[slot];
    if (n == 0) return;
    gfx::RenderText(img, c.screen, unit(c, 12), 600, 0xFFFFFF, platform::to_u16(std::to_string(n)),
                    gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    c.views.badge_half[slot] = n < 10 ? 0 : 1;
}

int toward(int v, int target, int step) { return v < target ? std::min(v + step, target) : std::max(v - step, target); }

// A view's slider: the dismiss/view pair with Slide2Dismiss, else "slide to view".
void pending_slider(Context& c, bool with_view) {
    bool dismiss = with_view && c.settings.num(Id::Slide2Dismiss) != 0;
    set_slider_texts(c, dismiss ? SliderTexts::DismissView : SliderTexts::View);
}

void act_on_slot(Context& c, int slot) {
    auto& win = c.p.windows();
    c.log.printf("UnreadAction %d", slot);
    reset_anim_lcd(c);
    if (c.pending_action != 0) {
        // A second tap takes the pending item back.
        c.pending_action = 0;
        if (c.state != ScreenState::Normal) close_views(c, false);
        set_slider_texts(c, SliderTexts::Lock);
        return;
    }
    switch (slot) {
        case 0:
            open_missed_call_view(c);
            if (c.state == ScreenState::MissedCallView) {
                c.pending_action = 14;
                pending_slider(c, true);
            }
            return;
        case 1:
            c.pending_action = 15;
            pending_slider(c, false);
            return;
        case 2:
        case 3:
        case 4:
            if (c.settings.num(Id::LockNotification) != 0) {
                win.post(c.main_window, proto::WM_ShowMessage, WParam(slot - 2), 0);
            } else {
                c.message_kind = std::uint8_t(slot - 2);
                c.pending_action = 12;
                pending_slider(c, false);
            }
            return;
        case 5:
            c.pending_action = 16;
            pending_slider(c, false);
            return;
        case 6:
            c.pending_action = 17;
            pending_slider(c, false);
            return;
        case 7: win.post(c.main_window, proto::WM_ShowNotification, WParam(c.views.counts[7]), 0); return;
        case 8:
            open_task_view(c);
            if (c.state == ScreenState::TaskView) {
                c.pending_action = 18;
                pending_slider(c, true);
            }
            return;
        default: return;
    }
}

}  // namespace

int notification_row_top(const Context& c) {
    if (c.notice.empty()) return c.screen_height;
    if (c.settings.num(Id::NoSoftKey) != 0) return c.screen_height - unit(c, 35);
    return c.screen_height - unit(c, 60) - c.notice.height;
}

int notification_row_left(const Context& c) {
    int x_of[kNoticeSlots];
    slot_positions(c, x_of);
    int left = c.screen_width;
    for (int x : x_of)
        if (x >= 0) left = std::min(left, x);
    return left;
}

bool on_count_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    int slot = slot_of(msg);
    if (slot < 0) return false;
    if (slot == 3 && c.settings.num(Id::ShowMMS) == 0) return true;
    auto& v = c.views;
    std::uint32_t count = std::uint32_t(w);
    // A count that grew beyond what the service had said: the newest message is new.
    bool newer = count > v.counts[slot];
    v.counts[slot] = count;
    render_count(c, slot);
    auto& win = c.p.windows();
    if (c.state == ScreenState::MessageView && newer && count != 0) {
        if ((slot == 2 && c.message_kind == 0) || (slot == 4 && c.message_kind == 2))
            win.post(c.main_window, proto::WM_ShowMessage, WParam(c.message_kind), 0);
    }
    if (slot == 7 && count == 0 &&
        (c.state == ScreenState::Normal || c.state == ScreenState::NotificationView)) {
        // Closed without leaving: the count is stale by the time it arrives, and leaving would
        // dismiss a reminder that fired meanwhile and was never seen.
        c.state = ScreenState::NotificationView;
        close_views(c, false);
    }
    if (l == 0 && !(slot == 0 && c.call_end_pending)) request_redraw(c);
    return true;
}

void draw_notification_row(Context& c) {
    auto& v = c.views;
    int x_of[kNoticeSlots];
    slot_positions(c, x_of);
    int cw = cell_width(c);
    int y = notification_row_top(c) + c.bottom_offset;
    int half = c.red_circle.width / 2;
    for (int i = 0; i <= last_slot(c); ++i) {
        if (x_of[i] < 0 || c.notice.empty()) continue;
        int x = x_of[i];
        gfx::DrawImage(c.notice, c.screen, x, y, i * cw, cw, 0, gfx::kColourKey, std::min(c.scene_alpha, v.icon_fade[i]));
        if (!c.red_circle.empty() && v.badge_fade[i] > 0) {
            int bx = x + unit(c, 10), by = y + unit(c, 17);
            gfx::DrawImage(c.red_circle, c.screen, bx, by, v.badge_half[i] * half, half, 0, gfx::kColourKey,
                           std::min(c.scene_alpha, v.badge_fade[i]));
            const auto& t = v.count_text[i];
            if (!t.empty())
                gfx::DrawImage(t, c.screen, bx + (half - t.width) / 2, by + (c.red_circle.height - t.height) / 2, 0, 0,
                               0, gfx::kColourKey, std::min(c.scene_alpha, v.badge_fade[i]));
        }
    }
    // The fades move once a frame, after the frame that shows them.
    for (int i = 0; i < kNoticeSlots; ++i) {
        bool on = v.counts[i] != 0 && i <= last_slot(c);
        v.icon_fade[i] = toward(v.icon_fade[i], on ? 24 : 0, 8);
        v.badge_fade[i] = toward(v.badge_fade[i], on ? 32 : 0, 8);
    }
}

bool views_animating(const Context& c) {
    const auto& v = c.views;
    for (int i = 0; i < kNoticeSlots; ++i) {
        bool on = v.counts[i] != 0 && i <= last_slot(c);
        if (v.icon_fade[i] != (on ? 24 : 0) || v.badge_fade[i] != (on ? 32 : 0)) return true;
    }
    bool view_open = c.state == ScreenState::NotificationView || c.state == ScreenState::MessageView ||
                     c.state == ScreenState::MissedCallView || c.state == ScreenState::TaskView;
    if (!v.box.empty() && (view_open ? v.box_alpha < 32 : v.box_alpha > 0)) return true;
    return false;
}

bool views_touch(Context& c, int x, int y) {
    auto& v = c.views;
    bool view_open = c.state == ScreenState::NotificationView || c.state == ScreenState::MessageView ||
                     c.state == ScreenState::MissedCallView || c.state == ScreenState::TaskView;
    if (c.state != ScreenState::Normal && !view_open) return false;
    // A tap on the box leaves the view.
    if (view_open && !v.box.empty() && x >= v.box_x && x < v.box_x + v.box.width && y >= v.box_y &&
        y < v.box_y + v.box.height) {
        reset_anim_lcd(c);
        close_views(c);
        return true;
    }
    if (c.notice.empty()) return false;
    int x_of[kNoticeSlots];
    slot_positions(c, x_of);
    int top = notification_row_top(c), cw = cell_width(c);
    if (y < top || y >= top + c.notice.height) return false;
    for (int i = 0; i <= last_slot(c); ++i) {
        if (x_of[i] < 0 || v.counts[i] == 0) continue;
        if (x >= x_of[i] && x < x_of[i] + cw) {
            act_on_slot(c, i);
            request_redraw(c);
            return true;
        }
    }
    return false;
}

}  // namespace lumo::lockscreen
