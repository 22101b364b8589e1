// The export of appointments, tasks and messages. The platform has no PIM store yet; the thread
// only waits for its stop event.
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

void appointment_thread_main(State& s, SyncHandle stop_event) {
    s.platform->sync().wait({&stop_event, 1}, false, platform::kInfinite);
}

void open_appointment_store(State&) {}
void release_appointment_store(State&) {}
void subscribe_appointments(State& s) {
    trace(s, "SubNotifyApt %d", 0);
}
void subscribe_tasks(State& s) {
    trace(s, "SubNotifyTask %d", 0);
}
LResult on_pim_event(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

void on_timer_appointments(State& s) {
    // Stopped only once the export is done; with nothing to export it is done at once.
    s.platform->windows().kill_timer(s.ServiceWindow, kTimerAppointments);
}

void on_timer_email(State&) {}

void export_messages(State&, std::u16string_view) {}
void export_tasks(State&) {}
bool export_for_count(State&, std::uint32_t, std::int32_t, std::int32_t) {
    return false;
}
// Without the delayed e-mail notification the count is passed on at once.
void delay_email_count(State& s, std::int32_t, std::int32_t count) {
    forward_state(s, protocol::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, platform::WParam(count));
}

}  // namespace lumo::service
