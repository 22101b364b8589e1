// Entry points of the screens that have their own parts still to come (views, panels). Each
// keeps the state machine consistent: a state is entered and left as the machine expects, and
// logged, but draws nothing of its own yet.
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

namespace proto = protocol;

namespace {

// A view's slider: the dismiss/view pair with Slide2Dismiss, else "slide to view".
void view_slider(Context& c) {
    bool dismiss = c.settings.num(catalogue::Id::Slide2Dismiss) != 0;
    set_slider_texts(c, dismiss ? SliderTexts::DismissView : SliderTexts::View);
}

}  // namespace

void open_reminder_view(Context& c) {
    c.log.printf("NotificationView (box not built)");
    c.state = ScreenState::NotificationView;
    c.pending_action = 11;
    view_slider(c);
}

void open_message_view(Context& c) {
    c.log.printf("MessageView %d (box not built)", int(c.message_kind));
    c.state = ScreenState::MessageView;
    c.pending_action = 12;
    view_slider(c);
}

void close_views(Context& c) {
    switch (c.state) {
        case ScreenState::BusySmsPrompt:
        case ScreenState::BusySmsPromptOverApp:
            c.p.windows().kill_timer(c.main_window, kTimerBusySmsEnd);
            [[fallthrough]];
        case ScreenState::NotificationView:
        case ScreenState::MessageView:
        case ScreenState::TaskView:
        case ScreenState::MissedCallView:
            c.log.printf(c.state == ScreenState::NotificationView ? "Notify2Normal %d" : "Msg2Normal %d", int(c.state));
            c.state = ScreenState::Normal;
            c.pending_action = 0;
            if (c.slider_texts != SliderTexts::Lock) set_slider_texts(c, SliderTexts::Lock);
            break;
        default: break;
    }
}

void open_pending_action(Context& c) { c.log.printf("open pending %d (views not built)", int(c.pending_action)); }

void refresh_panels(Context& c) {
    if (c.settings.num(catalogue::Id::ShowAlarm) != 0) refresh_alarm_line(c);
    reload_appointments(c, c.appointments.count);
}

void on_panel_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    if (on_status_message(c, msg, w, l)) return;
    if (on_music_weather_message(c, msg, w, l)) return;
    switch (msg) {
        case proto::WM_UPDATEAPPOINTMENT:
            reload_appointments(c, int(w));
            request_redraw(c);
            return;
        case proto::WM_CHANGE_NEXTALARM:
            c.log.printf("Change Next Alarm");
            refresh_alarm_line(c);
            if (l == 0) request_redraw(c);
            return;
        default:
            if (l == 0) request_redraw(c);
            return;
    }
}

}  // namespace lumo::lockscreen
