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

void forward_state(State& s, std::uint32_t msg, WParam w) {
    const auto* row = protocol::find_message(msg);
    if (!row) return;
    if (row->routes & protocol::kServiceToLock) post_to_lock_screen(s, msg, w);
    if (row->routes & protocol::kToListeners)
        for (auto& listener : s.StateListeners)
            if (Hwnd h = listener) s.platform->windows().post(h, msg, w, s.LcdOff ? 1 : 0);
}

LResult on_state_change(State& s, std::uint32_t msg, WParam w, LParam) {
    forward_state(s, msg, w);
    switch (msg) {
        case protocol::WM_CHANGE_PHONEMISSEDCALLS:
        case protocol::WM_CHANGE_MESSAGINGSMSUNREAD:
        case protocol::WM_CHANGE_MESSAGINGMMSUNREAD:
        case protocol::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD:
        case protocol::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD:
            on_count_changed(s, std::int32_t(w));
            break;
        case protocol::WM_CHANGE_BT_MSHEADPHONE:
            on_headphone_change(s, msg, w);
            break;
        default:
            break;
    }
    return 0;
}

bool switch_bluetooth_off(State& s) {
    auto& wireless = s.platform->wireless();
    for (const auto& radio : wireless.devices())
        if (radio.type == platform::RadioType::Bluetooth)
            return wireless.set_radio(platform::RadioType::Bluetooth, false);
    return false;
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
    for (auto& h : s.StateListeners)
        if (h == w) h = 0;
    return 0;
}

}  // namespace lumo::service
