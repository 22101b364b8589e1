// Timed events: wallpaper change, sleep timer and user notifications. The platform has no user
// notifications or LEDs yet; the thread only waits for its stop event.
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

std::optional<std::uint32_t> notification_led_count(State&) {
    return std::nullopt;
}
void set_wallpaper_change_time(State&) {}
void clear_user_notifications(State&) {}
void check_wallpaper_change_time(State&) {}

void timer_thread_main(State& s, SyncHandle, SyncHandle stop_event) {
    s.platform->sync().wait({&stop_event, 1}, false, platform::kInfinite);
}

void arm_sleep_timer(State&) {}
LResult on_timed_event(State&, std::uint32_t, WParam, LParam) {
    return 0;
}

void on_timer_wallpaper(State& s) {
    // Re-armed to its period; without a period the change is off.
    auto minutes = s.settings.num(catalogue::Id::WallpaperChangeTime);
    if (minutes == 0) s.platform->windows().kill_timer(s.ServiceWindow, kTimerWallpaper);
}

void on_timer_sleep(State&) {}

}  // namespace lumo::service
