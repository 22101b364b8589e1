// Bringing up the lock screen: starting lumo, finding it, the task bar and the lock records.
// The shell-window subclassing and the in-call checks are not here yet.
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using protocol::Program;

namespace {
constexpr std::u16string_view kTaskBarClass = u"HHTaskBar";
constexpr std::u16string_view kTrayClass = u"Tray";
}  // namespace

void wake_lock_screen(State& s, bool /*check_call*/) {
    auto& win = s.platform->windows();
    Hwnd lumo = find_slide_window(s);
    if (!lumo) {
        // Not running: start it; timer 1025 finds its window once it had a moment to appear.
        if (!s.platform->processes().shell_execute(s.LockScreenPath, u"", true)) {
            trace(s, "cannot start %s", platform::to_utf8(s.LockScreenPath).c_str());
            return;
        }
        s.LaunchPending = true;
        if (s.ServiceWindow) win.set_timer(s.ServiceWindow, kTimerLaunchSettled, kLaunchSettleMs);
        return;
    }
    win.show_window(lumo, SW_SHOW);
    win.set_foreground_window(lumo);
}

void start_lock_screen_hidden(State& s) {
    trace(s, "Start & Hide Lumo");
    if (find_slide_window(s)) return;
    if (!s.platform->processes().shell_execute(s.LockScreenPath, protocol::lock_switch::kHide,
                                               false))
        trace(s, "cannot start %s", platform::to_utf8(s.LockScreenPath).c_str());
}

void find_task_bar(State& s) {
    auto& win = s.platform->windows();
    s.TaskBarWindow = win.find_window(kTaskBarClass, std::nullopt);
    if (!s.TaskBarWindow) s.TaskBarWindow = win.find_window(kTrayClass, std::nullopt);
}

void show_task_bar(State& s) {
    if (s.TaskBarWindow) s.platform->windows().show_window(s.TaskBarWindow, SW_SHOW);
    s.TaskBarHidden = false;
}

void subclass_shell_notify(State&) {}
void restore_subclassed_windows(State&) {}

LResult on_locked(State& s, std::uint32_t, WParam, LParam) {
    s.Locked = true;
    trace(s, "Locked %d", s.LcdOff.load() ? 1 : 0);
    post_to_lock_screen(s, protocol::WM_VardexLocked, 1);
    return 0;
}

LResult on_unlock(State& s, std::uint32_t, WParam, LParam) {
    s.Locked = false;
    s.LastUnlockTick = s.platform->clock().tick_count();
    trace(s, "Unlocked");
    show_task_bar(s);
    post_to_lock_screen(s, protocol::WM_VardexLocked, 0);
    return 0;
}

LResult on_unhide_task_bar(State& s, std::uint32_t, WParam, LParam) {
    show_task_bar(s);
    return 0;
}

LResult on_lock_screen_report(State& s, std::uint32_t msg, WParam w, LParam) {
    if (msg == protocol::WM_VolumeControl) s.VolumeControlShown = w == 1;
    if (msg == protocol::WM_ShutDown) s.ShutdownDialogShown = w == protocol::kShutDownOpened;
    return 0;
}

void on_timer_launch_settled(State& s) {
    find_slide_window(s);
    s.LaunchPending = false;
}

void on_timer_restart_lock_screen(State& s) {
    start_lock_screen_hidden(s);
}
void on_timer_zorp_front(State&) {}

void on_timer_lock_screen_front(State& s) {
    if (Hwnd lumo = find_slide_window(s)) s.platform->windows().set_foreground_window(lumo);
}

}  // namespace lumo::service
