// Lock conditions: the exception list, the keyboard hook and the hardware triggers.
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

void read_exception_list(State&) {}
void keyboard_hook_on(State&) {}
void keyboard_hook_off(State&) {}
LResult on_condition_change(State& s, std::uint32_t msg, WParam w, LParam) {
    forward_state(s, msg, w);
    if (msg == protocol::WM_CHANGE_HEADPHONE) on_headphone_change(s, msg, w);
    return 0;
}

// The exception list is not read yet: no program counts as an exception.
bool exception_is_running(State&) {
    return false;
}

// The music player's state is not read yet: nothing counts as playing.
bool music_is_running(State&) {
    return false;
}
void on_timer_hook_on(State& s) {
    keyboard_hook_on(s);
}

}  // namespace lumo::service
