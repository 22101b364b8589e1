// Power and display handling. The platform does not publish power notifications, the AC line or
// the battery yet, so the thread only waits for its stop event and the handlers keep the state's
// defaults.
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

void read_power_status(State&) {}

void power_thread_main(State& s, SyncHandle stop_event) {
    s.platform->sync().wait({&stop_event, 1}, false, platform::kInfinite);
}

void start_unattended(State&) {}
void release_unattended(State& s) {
    s.UnattendedCount = 0;
}
bool video_power_escape_supported(State&) {
    return false;
}
void delayed_unlock(State&) {}

LResult on_display_off(State&, std::uint32_t, WParam, LParam) {
    return 0;
}
LResult on_get_battery(State&, std::uint32_t, WParam, LParam) {
    return 0;
}
LResult on_battery_for(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

void on_timer_wake_up_delay(State&) {}
void on_timer_delay_unlock(State&) {}
void on_timer_bg_autostart(State&) {}
void on_timer_stop_unattended(State&) {}

void on_timer_power_off_later(State& s) {
    post_to_lock_screen(s, protocol::WM_PowerOff, 0);
}

void on_timer_blank_on_talk(State&) {}

}  // namespace lumo::service
