// Overrides of system behaviour and their backups.
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

bool turn_system_lock_off(State&) {
    return false;
}
void restore_overrides(State&) {}
void replace_65_lock(State&) {}
LResult on_override_request(State&, std::uint32_t, WParam, LParam) {
    return 0;
}
void on_timer_start_menu(State& s) {
    replace_65_lock(s);
}

// The overrides themselves come with the backup of the system settings they change.
void disable_reminder_options(State&) {}
void restore_reminder_options(State&) {}
void apply_lock_overrides(State&) {}
void restore_lock_overrides(State&) {}

}  // namespace lumo::service
