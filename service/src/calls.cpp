// The call monitor. The platform has no telephony yet: these keep the call flags as they are.
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

namespace {
constexpr std::uint32_t kTelephonyRestartMs = 500;
}

void init_telephony(State&) {}
void shutdown_telephony(State&) {}
void read_sim_phone_book(State&) {}
void release_sim(State&) {}
Hwnd find_incoming_window(State&) {
    return 0;
}
void restore_incoming_window(State& s) {
    s.IncomingWindow = 0;
}

LResult on_phone_key(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

LResult on_slide_ready(State& s, std::uint32_t, WParam, LParam) {
    find_slide_window(s);
    return 0;
}

LResult on_call_event(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

void on_timer_telephony_restart(State& s) {
    init_telephony(s);
}
void on_timer_unknown_caller(State&) {}
void on_timer_call_ended_topmost(State&) {}

void on_timer_telephony_error(State& s) {
    trace(s, "TAPI_ReInitialize");
    shutdown_telephony(s);
    s.platform->windows().set_timer(s.ServiceWindow, kTimerTelephonyRestart, kTelephonyRestartMs);
}

void on_timer_hide_phone_dialog(State&) {}
void close_call_handle(State&) {}

}  // namespace lumo::service
