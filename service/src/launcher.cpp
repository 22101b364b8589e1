// Bringing up the lock screen: starting or finding lumo and putting it in front, the guards on the
// shell windows that could come in front of it, the task bar, the lock and unlock records, the
// repeat lock and the music player on headphone events.
#include <thread>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
using protocol::Program;
namespace pr = protocol;

namespace {

constexpr std::u16string_view kTaskBarClass = u"HHTaskBar";
constexpr std::u16string_view kTrayClass = u"Tray";
constexpr std::u16string_view kDesktopClass = u"DesktopExplorerWindow";
constexpr std::u16string_view kManilaClass = u"Manila";
constexpr std::u16string_view kNotifyName = u"WinCENotify";
constexpr std::uint32_t kInvalidWindowError = 1400;
constexpr std::uint32_t kBluetoothOffWaitMs = 1000;
constexpr std::uint32_t kBluetoothConnected = 0x4;

bool lock_screen_in_front(State& s) {
    Hwnd lumo = find_slide_window(s);
    return lumo && s.platform->windows().foreground_window() == lumo;
}

bool incoming_rings(State& s) {
    return s.settings.num(Id::CallerID) && s.Incoming;
}

// lumo hides its window just before it reports an unlock; a guard that pulled it back in that
// moment would undo the unlock. Only a shown lock screen is kept in front.
bool lock_screen_shown(State& s) {
    Hwnd lumo = find_slide_window(s);
    auto info = lumo ? s.platform->windows().window_info(lumo) : std::nullopt;
    return info && info->visible;
}

bool is_paint_or_key(std::uint32_t msg) {
    return msg == WM_PAINT || msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR;
}

// WM_ACTIVATE or WM_NCACTIVATE that makes the window active (not the one that deactivates it,
// which arrives while the lock screen itself takes the front).
bool is_activation(std::uint32_t msg, WParam w) {
    if (msg == WM_ACTIVATE) return (w & 0xFFFF) != WA_INACTIVE;
    return msg == WM_NCACTIVATE && w != 0;
}

void set_timer(State& s, std::uint32_t id, std::uint32_t ms) {
    if (Hwnd self = s.ServiceWindow) s.platform->windows().set_timer(self, id, ms);
}

void show_and_front(State& s, Hwnd lumo) {
    auto& win = s.platform->windows();
    win.show_window(lumo, SW_SHOW);
    win.set_foreground_window(lumo);
}

using Guard = LResult (*)(State&, Hwnd, std::uint32_t, WParam, LParam);

// Subclasses the shell window `slot` names, once; the log line says how it went.
void install_guard(State& s, State::Subclassed& slot, Hwnd window, Guard guard, const char* name) {
    auto& win = s.platform->windows();
    if (slot.window && win.is_window(slot.window)) return;
    slot = {};
    std::optional<PrevProc> prev;
    if (window)
        prev = win.subclass(window, [&s, guard](Hwnd h, std::uint32_t m, WParam w, LParam l) {
            return guard(s, h, m, w, l);
        });
    if (!prev) {
        trace(s, "SC%s fail:%d", name, int(kInvalidWindowError));
        return;
    }
    slot = {window, *prev};
    trace(s, "SC%s OK", name);
}

void remove_guard(State& s, State::Subclassed& slot) {
    if (slot.window) s.platform->windows().remove_subclass(slot.window, slot.prev);
    slot = {};
}

LResult pass_on(State& s, const State::Subclassed& slot, Hwnd h, std::uint32_t m, WParam w,
                LParam l) {
    return s.platform->windows().call_previous(slot.prev, h, m, w, l);
}

LResult desktop_guard(State& s, Hwnd h, std::uint32_t m, WParam w, LParam l) {
    if ((s.Locked || incoming_rings(s)) && is_paint_or_key(m)) return 0;
    if (is_activation(m, w) && s.Locked && !s.Incoming && lock_screen_shown(s)) {
        trace(s, "Set Lumo Foreground (DT)");
        force_slide_front(s);
        return 0;
    }
    return pass_on(s, s.Desktop, h, m, w, l);
}

LResult manila_guard(State& s, Hwnd h, std::uint32_t m, WParam w, LParam l) {
    if ((s.Locked || incoming_rings(s)) && is_paint_or_key(m)) return 0;
    if (is_activation(m, w) && (s.Locked || incoming_rings(s)) && lock_screen_shown(s)) {
        trace(s, "Set Lumo Foreground (Man)");
        force_slide_front(s);
        return 0;
    }
    if (m == WM_DESTROY) {
        if (s.Locked) set_timer(s, kTimerLockScreenFront, kManilaClosingMs);
        trace(s, "Manila closing");
        auto slot = s.Manila;
        s.Manila = {};
        return s.platform->windows().call_previous(slot.prev, h, m, w, l);
    }
    return pass_on(s, s.Manila, h, m, w, l);
}

LResult notify_guard(State& s, Hwnd h, std::uint32_t m, WParam w, LParam l) {
    if (m == WM_NOTIFY) {
        trace(s, "Notify Msg %d BLight=%d", int(w), s.BacklightOff ? 0 : 1);
        if (s.Locked && lock_screen_in_front(s)) {
            if (!s.settings.num(Id::LockNotification)) {
                s.ReminderWakeTick = s.platform->clock().tick_count();
            } else if (!s.BacklightOff) {
                set_timer(s, kTimerReminder, kReminderRecountMs);
            }
        }
    } else if (m == WM_COMMAND) {
        trace(s, "Notify Command");
        set_timer(s, kTimerReminder, kReminderRecountMs);
    }
    return pass_on(s, s.Notify, h, m, w, l);
}

void hide_task_bar(State& s) {
    auto& win = s.platform->windows();
    if (!s.TaskBarWindow) find_task_bar(s);
    auto info = s.TaskBarWindow ? win.window_info(s.TaskBarWindow) : std::nullopt;
    if (!info || info->rect.top != 0 || info->rect.bottom <= 0) return;
    Rect r = info->rect;
    r.top = -info->rect.bottom;
    r.bottom = 0;
    win.move_window(s.TaskBarWindow, r);
    s.TaskBarHidden = true;
    trace(s, "Hide TaskBar");
}

// The desktop and Manila guards, while locked; subclassing the desktop hides the task bar.
void guard_shell_windows_here(State& s) {
    auto& win = s.platform->windows();
    if (!s.settings.num(Id::NoManilaLock))
        install_guard(s, s.Manila, win.find_window(kManilaClass, std::nullopt), manila_guard,
                      "Manila");
    install_guard(s, s.Desktop, win.find_window(kDesktopClass, std::nullopt), desktop_guard,
                  "Desktop");
    if (s.Desktop.window) hide_task_bar(s);
}

void unguard_shell_windows(State& s) {
    remove_guard(s, s.Manila);
    remove_guard(s, s.Desktop);
}

Hwnd music_player_window(State& s) {
    auto name = pr::window_name(Program::Zorp);
    return s.platform->windows().find_window(name, std::nullopt);
}

}  // namespace

// --- waking the lock screen -------------------------------------------------------------------

namespace {

void wake_here(State& s, std::uint32_t flags) {
    auto& win = s.platform->windows();
    const bool front = flags & kWakeFront;
    const bool skip_call_check = flags & kWakeSkipCallCheck;
    trace(s, "Awaking Lumo cl:%d lk:%d", front ? 1 : 0, s.Locked ? 1 : 0);
    if (!skip_call_check && in_call(s)) return;
    if (front && s.Locked) {
        if (lock_screen_in_front(s)) return;
        if (find_slide_window(s)) {
            trace(s, "GW %0X", win.foreground_window());
            set_slide_foreground(s);
            return;
        }
        // lumo is gone although the lock is in force: it is started below, and locks.
        if (!lock_screen_lost(s)) return;
    }
    trace(s, "Awaking Lumo");
    trace(s, "Incoming=%d Talking=%d OnHold=%d Dialing=%d", s.Incoming ? 1 : 0,
          s.Talking ? 1 : 0, talking_or_held(s) && !s.Talking ? 1 : 0, s.Dialing ? 1 : 0);
    Hwnd lumo = find_slide_window(s);
    if (lumo) show_and_front(s, lumo);
    if (!lock_screen_in_front(s)) {
        if (lumo) {
            show_and_front(s, lumo);
        } else if (!s.LaunchPending) {
            s.LaunchPending = true;
            bool started;
            if (skip_call_check) {
                trace(s, "Start & Hide Lumo");
                started = s.platform->processes()
                              .shell_execute(s.LockScreenPath, pr::lock_switch::kHide, false)
                              .has_value();
                s.Locked = false;
            } else {
                started =
                    s.platform->processes().shell_execute(s.LockScreenPath, u"", true).has_value();
            }
            if (!started) trace(s, "cannot start %s", to_utf8(s.LockScreenPath).c_str());
            // Also after a failed start: the next attempt comes a second later at the earliest.
            set_timer(s, kTimerLaunchSettled, kLaunchSettleMs);
        } else if (front) {
            // lumo is being started (hidden, or it ended as it came up): the lock is owed and
            // comes once the start has settled, instead of being dropped.
            s.RelockPending = true;
            set_timer(s, kTimerLockScreenWatch, kLockScreenWatchMs);
        }
    }
    trace(s, "Finish Awaking Lumo");
}

}  // namespace

void wake_lock_screen(State& s, std::uint32_t flags) {
    Hwnd self = s.ServiceWindow;
    if (self && std::this_thread::get_id() != s.MainThread) {
        // From the power thread: the window work belongs to the main thread, which is waited for.
        s.platform->windows().send(self, kMsgWakeFromPowerThread, flags, 0);
        return;
    }
    wake_here(s, flags);
}

void guard_shell_windows(State& s) {
    guard_shell_windows_here(s);
}

void start_lock_screen_hidden(State& s) {
    wake_lock_screen(s, kWakeSkipCallCheck);
}

bool lock_screen_lost(State& s) {
    if (s.Closing) return false;
    trace(s, "Lumo gone while locked");
    s.Locked = false;
    s.RelockPending = true;
    set_timer(s, kTimerLockScreenWatch, kLockScreenWatchMs);
    return true;
}

void relock(State& s) {
    if (s.Closing || !s.RelockPending) return;
    if (in_call(s)) {
        // The call has the screen: lumo comes back hidden, ready for it, and the shell is given
        // back; the next trigger after the call locks as usual.
        s.RelockPending = false;
        give_shell_back(s);
        wake_here(s, kWakeSkipCallCheck);
        return;
    }
    trace(s, "Lock again");
    wake_here(s, kWakeFront);
    set_timer(s, kTimerLockScreenWatch, kLockScreenWatchMs);
}

LResult on_wake_from_power_thread(State& s, std::uint32_t, WParam w, LParam) {
    wake_here(s, std::uint32_t(w));
    return 0;
}

void set_slide_foreground(State& s) {
    trace(s, "SetSlideForeground");
    Hwnd lumo = find_slide_window(s);
    if (!lumo) return;
    s.platform->windows().show_window(lumo, SW_SHOW);
    s.platform->windows().post(lumo, WM_SETFOCUS, 1, 0);
    guard_shell_windows_here(s);
}

void hide_slide(State& s) {
    trace(s, "Hiding Lumo");
    unguard_shell_windows(s);
    show_task_bar(s);
    if (Hwnd lumo = find_slide_window(s)) s.platform->windows().show_window(lumo, SW_HIDE);
}

void force_slide_front(State& s) {
    Hwnd lumo = find_slide_window(s);
    if (!lumo) return;
    // Full screen: the task bar, the input-panel button and the start icon go away. A bar that
    // showed is given back by the unlock even when lumo never leaves full screen (killed).
    auto& win = s.platform->windows();
    if (!s.TaskBarWindow) find_task_bar(s);
    if (Hwnd bar = s.TaskBarWindow) {
        auto info = win.window_info(bar);
        if (info && info->visible) s.TaskBarFullScreen = true;
    }
    win.full_screen(lumo, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON);
    show_and_front(s, lumo);
}

// --- the task bar -----------------------------------------------------------------------------

void find_task_bar(State& s) {
    auto& win = s.platform->windows();
    Hwnd bar = win.find_window(kTaskBarClass, std::nullopt);
    if (!bar) bar = win.find_window(kTrayClass, std::nullopt);
    s.TaskBarWindow = bar;
}

// Where the hiding leaves the bar: just above the screen.
bool task_bar_moved_away(const WindowInfo& info) {
    return info.rect.top < 0 && info.rect.bottom <= 0;
}

void settle_task_bar(State& s) {
    auto& win = s.platform->windows();
    Hwnd bar = s.TaskBarWindow;
    auto info = bar ? win.window_info(bar) : std::nullopt;
    if (!info) return;
    const bool away = task_bar_moved_away(*info);
    if (lock_screen_shown(s)) {
        // lumo is up and locked from before this run (the service was killed, lumo was not):
        // the lock goes on under this run, and its unlock puts the bar back.
        trace(s, "Lock in force");
        s.TaskBarHidden = away;
        s.Locked = true;
        guard_shell_windows_here(s);
        set_timer(s, kTimerLockScreenWatch, kLockScreenWatchMs);
        return;
    }
    // No lock in force: a bar an earlier run (killed while locked) left above the screen, and
    // hidden by lumo's full screen, goes back where the shell keeps it.
    if (away) {
        const std::int32_t height = info->rect.height();
        trace(s, "UnHide TaskBar %d %d", 0, int(height));
        win.move_window(bar, Rect{info->rect.left, 0, info->rect.right, height});
    }
    Hwnd home = win.find_window(kDesktopClass, std::nullopt);
    if (!info->visible && (away || win.foreground_window() == home))
        win.show_window(bar, SW_SHOWNA);
}

void show_task_bar(State& s) {
    auto& win = s.platform->windows();
    Hwnd bar = s.TaskBarWindow;
    if (!bar) return;
    // Full screen off through the shell, which shows the bar and the start icon without taking
    // the activation from whoever has it.
    if (s.TaskBarFullScreen) {
        Hwnd own = s.ServiceWindow.load();
        Hwnd self = own && win.is_window(own) ? own : bar;
        win.full_screen(self, SHFS_SHOWTASKBAR | SHFS_SHOWSTARTICON);
        s.TaskBarFullScreen = false;
    }
    if (!s.TaskBarHidden) return;
    auto info = win.window_info(bar);
    if (!info || info->rect.bottom > 0) return;
    const std::int32_t height = info->rect.height();
    const Rect area = win.work_area();
    trace(s, "UnHide TaskBar %d %d", int(area.top), int(area.bottom));
    win.move_window(bar, Rect{info->rect.left, 0, info->rect.right, height});
    // Repainted and updated at once: the bar shows again before the next program draws.
    win.post(bar, WM_PAINT, 0, 0);
    s.TaskBarHidden = false;
}

// --- the shell notification guard -------------------------------------------------------------

void subclass_shell_notify(State& s) {
    install_guard(s, s.Notify, s.platform->windows().find_window(kNotifyName, kNotifyName),
                  notify_guard, "Notify");
}

void restore_subclassed_windows(State& s) {
    unguard_shell_windows(s);
    remove_guard(s, s.Notify);
}

void give_shell_back(State& s) {
    unguard_shell_windows(s);
    show_task_bar(s);
    // lumo hides the bar while it covers the screen and does not show it when it is closed
    // locked; left hidden, the home screen would have a black strip where the bar belongs.
    if (Hwnd bar = s.TaskBarWindow) {
        auto info = s.platform->windows().window_info(bar);
        if (info && !info->visible) s.platform->windows().show_window(bar, SW_SHOWNA);
    }
}

void restore_shell(State& s) {
    give_shell_back(s);
    remove_guard(s, s.Notify);
}

// --- lock and unlock records ------------------------------------------------------------------

LResult on_locked(State& s, std::uint32_t, WParam, LParam) {
    s.Locked = true;
    s.RelockPending = false;
    // lumo can die while locked (killed, crashed, dropped by the phone); the lock is watched
    // so that it comes back rather than leaving the phone open.
    set_timer(s, kTimerLockScreenWatch, kLockScreenWatchMs);
    guard_shell_windows_here(s);
    s.ReminderWakeTick = 0;
    if (s.LcdOff) {
        stop_unattended_later(s, kLockedStopUnattendedMs);
    } else {
        stop_unattended(s, true);
    }
    overrides_on_lock(s);
    trace(s, "Locked %d", s.LcdOff ? 1 : 0);
    post_to_lock_screen(s, pr::WM_VardexLocked, 1);
    return 0;
}

LResult on_unlock(State& s, std::uint32_t, WParam, LParam) {
    auto& win = s.platform->windows();
    s.Locked = false;
    s.RelockPending = false;
    for (auto id : {kTimerWakeUpDelay, kTimerDelayUnlock, kTimerHidePhoneDialog,
                    kTimerLockScreenWatch})
        win.kill_timer(s.ServiceWindow, id);
    // The pending delayed unlock ends with the user's own unlock; left set it would keep every
    // later wake-up from locking.
    s.DelayUnlocking = false;
    s.PowerPlugged = 0;
    unguard_shell_windows(s);
    show_task_bar(s);
    start_unattended(s);
    close_call_handle(s);
    overrides_on_unlock(s);
    trace(s, "Unlocked");
    s.LastUnlockTick = s.platform->clock().tick_count();
    post_to_lock_screen(s, pr::WM_VardexLocked, 0);
    return 0;
}

LResult on_unhide_task_bar(State& s, std::uint32_t, WParam, LParam) {
    show_task_bar(s);
    return 0;
}

LResult on_lock_screen_report(State& s, std::uint32_t msg, WParam w, LParam) {
    if (msg == pr::WM_VolumeControl) s.VolumeControlShown = w == 1;
    if (msg == pr::WM_ShutDown) s.ShutdownDialogShown = w == pr::kShutDownOpened;
    return 0;
}

// --- repeat lock ------------------------------------------------------------------------------

void on_count_changed(State& s, std::int32_t count) {
    if (s.LcdOff) {
        // The phone keeps running long enough for the new message to be taken in.
        start_unattended(s);
        stop_unattended_later(s, kCountStopUnattendedMs);
    }
    if (!s.settings.num(Id::LockNotification) || s.LcdOff || !s.Locked) return;
    trace(s, "Post & Repeat Lock %d", int(count));
    if (count != 0 && !s.Talking) post_to_lock_screen(s, pr::WM_REPEAT_LOCK, 0);
}

// --- the music player and the headphones ------------------------------------------------------

void on_headphone_change(State& s, std::uint32_t msg, WParam w) {
    const bool plugged = msg == pr::WM_CHANGE_BT_MSHEADPHONE ? (w & kBluetoothConnected) != 0
                                                             : w != 0;
    auto& win = s.platform->windows();
    if (plugged) {
        if (!s.settings.num(Id::HPstartZorp) || in_call(s)) return;
        trace(s, "Awaking Zorp");
        if (s.Locked && lock_screen_in_front(s)) {
            hide_slide(s);
            set_timer(s, kTimerZorpFront, kZorpFrontFirstMs);
        }
        if (!s.platform->processes().shell_execute(s.MusicPlayerPath, u"", true))
            trace(s, "cannot start %s", to_utf8(s.MusicPlayerPath).c_str());
        trace(s, "Finish Awaking Zorp");
        return;
    }
    const auto close = s.settings.num(Id::HPcloseZorp);
    if (!close || in_call(s)) return;
    trace(s, "Closing Zorp");
    if (Hwnd zorp = music_player_window(s)) win.post(zorp, WM_CLOSE, 0, 0);
    trace(s, "Finish Closing Zorp");
    if (close == 2) {
        s.sleep(kBluetoothOffWaitMs);
        switch_bluetooth_off(s);
    }
}

void on_timer_launch_settled(State& s) {
    s.LaunchPending = false;
    find_slide_window(s);
}

void on_timer_restart_lock_screen(State& s) {
    if (s.RelockPending) {
        relock(s);
    } else {
        start_lock_screen_hidden(s);
    }
}

void on_timer_lock_screen_watch(State& s) {
    if (s.Closing || (!s.Locked && !s.RelockPending)) {
        s.platform->windows().kill_timer(s.ServiceWindow, kTimerLockScreenWatch);
        return;
    }
    if (find_slide_window(s)) {
        // A lock owed to a lumo that came up hidden: brought to the front, it locks.
        if (s.RelockPending && !s.Locked && !s.LaunchPending && !lock_screen_shown(s)) {
            if (in_call(s)) {
                s.RelockPending = false;
                return;
            }
            wake_here(s, kWakeFront);
        }
        return;
    }
    if (s.Locked && !lock_screen_lost(s)) return;
    relock(s);
}

void on_timer_zorp_front(State& s) {
    auto& win = s.platform->windows();
    Hwnd zorp = music_player_window(s);
    if (zorp && win.foreground_window() == zorp) {
        win.kill_timer(s.ServiceWindow, kTimerZorpFront);
        set_slide_foreground(s);
    } else if (s.Locked) {
        win.set_timer(s.ServiceWindow, kTimerZorpFront, kZorpFrontRetryMs);
    } else {
        win.kill_timer(s.ServiceWindow, kTimerZorpFront);
    }
}

void on_timer_lock_screen_front(State& s) {
    if (Hwnd lumo = find_slide_window(s)) show_and_front(s, lumo);
}

}  // namespace lumo::service
