// Lock conditions: the exception list, the keyboard hook and the hardware triggers.
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

void read_exception_list(State&) {}
void keyboard_hook_on(State&) {}
void keyboard_hook_off(State&) {}
LResult on_condition_change(State&, std::uint32_t, WParam, LParam) {
    return 0;
}
void on_timer_hook_on(State& s) {
    keyboard_hook_on(s);
}

}  // namespace lumo::service
