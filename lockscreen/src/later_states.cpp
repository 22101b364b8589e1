// The panels' messages (alarm, appointments, counts, weather and music) and their refresh.
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

namespace proto = protocol;

void refresh_panels(Context& c) {
    if (c.settings.num(catalogue::Id::ShowAlarm) != 0) refresh_alarm_line(c);
    reload_appointments(c, c.appointments.count);
}

void on_panel_message(Context& c, std::uint32_t msg, WParam w, LParam l) {
    if (on_status_message(c, msg, w, l)) return;
    if (on_music_weather_message(c, msg, w, l)) return;
    if (on_count_message(c, msg, w, l)) return;
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
