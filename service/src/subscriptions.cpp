// System-state subscriptions and the state listeners. Registration with the broker and the
// initial counters are not here yet; what arrives is passed on as the protocol routes it.
#include <algorithm>

#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

void register_subscriptions(State&) {}
void unregister_subscriptions(State&) {}
void read_initial_counters(State&) {}
void reregister_sms_subscription(State&) {}

LResult on_state_change(State& s, std::uint32_t msg, WParam w, LParam) {
    const auto* row = protocol::find_message(msg);
    if (!row) return 0;
    if (row->routes & protocol::kServiceToLock) post_to_lock_screen(s, msg, w);
    if (row->routes & protocol::kToListeners)
        for (Hwnd h : s.StateListeners)
            if (h) s.platform->windows().post(h, msg, w, s.LcdOff ? 1 : 0);
    return 0;
}

LResult on_get_all_states(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

LResult on_add_state_listener(State& s, std::uint32_t, WParam w, LParam) {
    auto free = std::find(s.StateListeners.begin(), s.StateListeners.end(), Hwnd{0});
    if (w && free != s.StateListeners.end()) *free = w;
    return 0;
}

LResult on_remove_state_listener(State& s, std::uint32_t, WParam w, LParam) {
    for (Hwnd& h : s.StateListeners)
        if (h == w) h = 0;
    return 0;
}

}  // namespace lumo::service
