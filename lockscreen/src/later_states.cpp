// Entry points of the screens that have their own parts still to come (keypad, call screens,
// volume, shutdown slider, panels, weather, music). Each keeps the state machine
// consistent: a state is entered and left as the machine expects, and logged, but draws nothing
// of its own yet.
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

namespace proto = protocol;

void open_password_keypad(Context& c) {
    c.log.printf("PasswordEntry (keypad not built)");
    c.state = ScreenState::PasswordEntry;
    request_redraw(c);
}

void leave_keypad(Context& c, bool animate) {
    c.log.printf("Keypad2Normal %d", int(animate));
    if (c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall) {
        c.state = ScreenState::Normal;
        // The big clock stood still under the keypad.
        update_clock(c);
    }
    c.slider.slide_locked = false;
}

void open_volume_control(Context& c) {
    c.log.printf("VolumeControl (not built)");
    c.state = ScreenState::VolumeControl;
    c.p.windows().set_timer(c.main_window, kTimerCloseVolume, 3000);
    request_redraw(c);
}

void close_volume_control(Context& c) {
    if (c.state != ScreenState::VolumeControl && c.state != ScreenState::InCallVolume) return;
    c.log.printf("VolumeControl2Normal %0X", int(c.state));
    c.p.windows().kill_timer(c.main_window, kTimerCloseVolume);
    c.state = ScreenState::Normal;
    request_redraw(c);
}

void open_shutdown_slider(Context& c) {
    c.log.printf("ShutdownSlider (not built)");
    c.state = ScreenState::ShutdownSlider;
    c.p.windows().set_timer(c.main_window, kTimerCloseShutdown, 20000);
    post_service(c, proto::WM_ShutDown, proto::kShutDownOpened, 0);
}

void close_shutdown_slider(Context& c) {
    if (c.state != ScreenState::ShutdownSlider) return;
    c.log.printf("ShutDown2Normal %0X slide=%0X", int(c.state), c.slider.knob_pos);
    c.p.windows().kill_timer(c.main_window, kTimerCloseShutdown);
    c.state = ScreenState::Normal;
    post_service(c, proto::WM_ShutDown, proto::kShutDownClosed, 0);
    request_redraw(c);
}

void on_emergency_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    c.log.printf("emergency message 0x%X %u %d (keypad not built)", msg, w, int(l));
}

void refresh_panels(Context& c) {
    if (c.settings.num(catalogue::Id::ShowAlarm) != 0) refresh_alarm_line(c);
    reload_appointments(c, c.appointments.count);
}

void on_panel_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    if (on_status_message(c, msg, w, l)) return;
    if (on_count_message(c, msg, w, l)) return;
    switch (msg) {
        case proto::WM_CHANGE_WEATHER: refresh_weather(c); return;
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

void refresh_weather(Context&) {}

bool music_title_shown(Context& c) { return c.zorp_title_shown; }

}  // namespace lumo::lockscreen
