// Power and display handling: the power thread and its decisions on each transition, the
// delayed unlock, unattended-mode requests, the battery broadcast and switching the display.
#include <cstring>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::u16string_view kPhoneStateKey = u"System\\State\\Phone";
constexpr std::u16string_view kActiveCallCount = u"Active Call Count";
constexpr std::u16string_view kPhoneStatus = u"Status";
constexpr std::uint32_t kStatusOnHold = 0x4000;
constexpr std::u16string_view kSyncingKey = u"System\\State\\Messages\\Syncing";
constexpr std::u16string_view kSyncingValue = u"Syncing Account";

constexpr std::uint32_t kPowerStateRepeatMs = 1999;   // a second "on" within this only re-stamps
constexpr std::uint32_t kAfterCallEndMs = 1499;       // "on" this soon after a call is ignored
constexpr std::uint32_t kAfterUnlockGraceMs = 3000;   // plus WakeUpDelayMS: no lock after unlock
constexpr std::uint32_t kDelayUnlockExtraMs = 1000;
constexpr std::uint32_t kLockTriggerSettleMs = 500;
constexpr std::uint32_t kDialogCloseWaitMs = 500;
constexpr std::uint32_t kBGAutoStartSettleMs = 1000;
constexpr std::uint32_t kStopUnattendedAfterMs = 2000;
constexpr std::uint32_t kStopUnattendedRetryMs = 6000;
constexpr std::uint32_t kPowerOffLaterMs = 1000;
constexpr std::uint32_t kPhoneKeyEnd = 113;

bool has(std::uint32_t flags, std::uint32_t bits) {
    return (flags & bits) == bits;
}

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::uint32_t wake_up_delay(State& s) {
    return setting(s, Id::WakeupDelayMS);
}

// The setting of the power source the phone runs on now.
std::uint32_t by_source(State& s, Id battery, Id ac) {
    return setting(s, s.OnAC ? ac : battery);
}

void set_timer(State& s, std::uint32_t id, std::uint32_t ms) {
    if (Hwnd self = s.ServiceWindow) s.platform->windows().set_timer(self, id, ms);
}

void kill_timer(State& s, std::uint32_t id) {
    if (Hwnd self = s.ServiceWindow) s.platform->windows().kill_timer(self, id);
}

std::uint32_t phone_state(State& s, std::u16string_view name) {
    return s.platform->registry().get_dword(Root::LocalMachine, kPhoneStateKey, name).value_or(0);
}

// `lumo` is the foreground window.
bool lock_screen_in_front(State& s) {
    Hwnd lumo = find_slide_window(s);
    return lumo && s.platform->windows().foreground_window() == lumo;
}

void store_power_info(State& s, const PowerInfo& info) {
    bool on_ac = info.ac_line_status == 1;
    if (on_ac != s.OnAC) {
        s.OnAC = on_ac;
        if (on_ac) {
            s.PowerPlugged = 1;
            switch (setting(s, Id::ActionOnAC)) {
                case 1: delayed_unlock(s, 0); break;
                case 2: lock_now_by_trigger(s); break;
                default: break;
            }
        }
    }
    s.BatteryPercent = info.battery_percent;
    trace(s, "Battery: %d(%d)", int(info.battery_percent), s.OnAC ? 1 : 0);
    battery_broadcast(s);
}

// Rule 2: the display went idle.
void on_display_idle(State& s) {
    // The power button with music playing asks for the idle state itself: that is the phone
    // running on with the display dark, not a display that timed out, and is not locked.
    const bool was_off = s.LcdOff.exchange(true);
    if (was_off && music_is_running(s)) return;
    if (in_call_lock_applies(s) && talking_or_held(s)) {
        wake_lock_screen(s, kWakeSkipCallCheck);
        return;
    }
    if (in_call(s)) return;
    if (s.VolumeControlShown) post_to_lock_screen(s, pr::WM_VolumeControl, 0);
    if (!already_locked(s) && by_source(s, Id::BlankStart, Id::ACBlankStart) &&
        !exception_is_running(s)) {
        s.sleep(wake_up_delay(s));
        wake_lock_screen(s, kWakeFront);
    }
}

// Rule 4: the power button put the phone in the unattended state.
void on_power_button(State& s) {
    if (s.LcdOff) return;
    s.LcdOff = true;
    if (setting(s, Id::CallerID) && s.Incoming && setting(s, Id::PowerButtonEndCall)) {
        s.platform->windows().post(s.ServiceWindow, pr::WM_PhoneKey, kPhoneKeyEnd, 0);
        post_to_lock_screen(s, pr::WM_PowerButtonHangUp, 0);
        trace(s, "Power button hang up");
        return;
    }
    if (in_call_lock_applies(s) && talking_or_held(s)) {
        wake_lock_screen(s, kWakeSkipCallCheck);
        return;
    }
    if (in_call(s)) return;
    if (music_is_running(s) || s.counters[kReminders] > 0) {
        // The display stays off and the phone keeps running (music, a reminder that rings). The
        // idle state comes first: released first, the request would let the phone suspend.
        s.platform->power().set_system_power_state(kPowerStateIdle);
        stop_unattended(s, true);
        return;
    }
    trace(s, "Set WM_BGAutoStart VC=%d SD=%d", s.VolumeControlShown ? 1 : 0,
          s.ShutdownDialogShown ? 1 : 0);
    std::uint32_t wait = 0;
    auto& win = s.platform->windows();
    if (s.VolumeControlShown) {
        if (Hwnd lumo = find_slide_window(s)) win.send(lumo, pr::WM_VolumeControl, 0, 0);
        wait = kDialogCloseWaitMs;
    } else if (s.ShutdownDialogShown) {
        if (Hwnd lumo = find_slide_window(s))
            win.send(lumo, pr::WM_ShutDown, pr::kShutDownClosed, 0);
        wait = kDialogCloseWaitMs;
    }
    set_timer(s, kTimerBGAutoStart, wait);
}

// Rule 5: the backlight went off.
void on_backlight_off(State& s) {
    s.BacklightOff = true;
    if (in_call(s)) return;
    if (already_locked(s)) {
        post_to_lock_screen(s, pr::WM_BACKLIGHT_OFF, 0);
    } else if (by_source(s, Id::IdleStart, Id::ACIdleStart) && !exception_is_running(s)) {
        wake_lock_screen(s, kWakeFront);
    }
}

// Rule 6: the display came on.
void on_display_on(State& s, std::uint32_t flags) {
    s.BacklightOff = false;
    if (!s.LcdOff) {
        trace(s, "LCD is ON");
        return;
    }
    kill_timer(s, kTimerPowerOffLater);
    s.LcdOff = false;
    const std::uint32_t now = s.platform->clock().tick_count();
    const std::uint32_t last = s.LastPowerStateTick;
    if (now - last <= kPowerStateRepeatMs) {
        trace(s, "PS: %0X ignored (%d - %d)", flags, int(now), int(last));
        s.LastPowerStateTick = now;
        return;
    }
    s.LastPowerStateTick = now;
    const std::uint32_t call_end = s.LastCallEndTick;
    if (now - call_end <= kAfterCallEndMs) {
        trace(s, "DS: %0X ignored (%d - %d)", flags, int(now), int(call_end));
        return;
    }
    if (now - s.LastUnlockTick < wake_up_delay(s) + kAfterUnlockGraceMs) return;
    if (s.DelayUnlocking) {
        trace(s, "DelayUnlocking");
        return;
    }
    auto activate_if_front = [&s] {
        if (!lock_screen_in_front(s)) return;
        Hwnd lumo = s.SlideWindow;
        s.platform->windows().post(lumo, WM_ACTIVATE, 1, 0);
        s.platform->windows().post(lumo, WM_SETFOCUS, 1, 0);
    };
    if (in_call_lock_applies(s) && talking_or_held(s)) {
        s.sleep(wake_up_delay(s));
        activate_if_front();
    } else if (!in_call(s)) {
        if (setting(s, Id::Autostart)) {
            if (already_locked(s)) s.platform->windows().post(s.SlideWindow, WM_ACTIVATE, 1, 0);
            set_timer(s, kTimerWakeUpDelay, wake_up_delay(s));
        } else {
            s.sleep(wake_up_delay(s));
            activate_if_front();
            check_wallpaper_change_time(s);
        }
    } else {
        trace(s, "Phone is running");
    }
}

}  // namespace

// --- derived tests ----------------------------------------------------------------------------

bool in_call(State& s) {
    return s.Incoming || s.Dialing || s.Talking || phone_state(s, kActiveCallCount) != 0;
}

bool talking_or_held(State& s) {
    return s.Talking || (phone_state(s, kPhoneStatus) & kStatusOnHold) != 0;
}

bool in_call_lock_applies(State& s) {
    switch (by_source(s, Id::InCallLock, Id::ACInCallLock)) {
        case 1: return true;
        case 2: return s.BluetoothOn;
        default: return false;
    }
}

bool already_locked(State& s) {
    Hwnd fg = s.platform->windows().foreground_window();
    Hwnd lumo = find_slide_window(s);
    trace(s, "Already Locked? %0X(%0X)", fg, lumo);
    return lumo && fg == lumo;
}

bool syncing(State& s) {
    auto key = s.platform->registry().open_key(Root::CurrentUser, kSyncingKey);
    bool account = false;
    if (key) {
        ValueInfo info;
        info.size = 0xFFFFFFFF;
        account = s.platform->registry().read_value(*key, kSyncingValue, {}, &info) ||
                  info.size != 0xFFFFFFFF;
    }
    trace(s, "Syncing? %d(%0X)%0X", int(s.SyncState.load()), account ? 1 : 0, 0);
    return s.SyncState == 1 || account;
}

// --- the power thread -------------------------------------------------------------------------

void read_power_status(State& s) {
    auto info = s.platform->power().status();
    s.OnAC = info.ac_line_status == 1;
    s.BatteryPercent = info.battery_percent;
}

void power_thread_main(State& s, SyncHandle stop_event) {
    auto queue = s.platform->power().request_notifications(kPowerTransition | kPowerInfoChange |
                                                           kPowerButtonHeld);
    if (!queue) {
        s.log.write("Error: couldn't create MsgQueue or request PowerNotifications");
        return;
    }
    auto& sync = s.platform->sync();
    // The queue is read in slices and the stop event looked at in between, so the thread ends
    // well within the time the main thread waits for it.
    while (sync.wait({&stop_event, 1}, false, 0) != 0) {
        auto bytes = queue->read(kPowerReadSliceMs);
        if (!bytes) continue;
        if (auto record = decode_power_record(*bytes)) on_power_record(s, *record);
    }
}

void on_power_record(State& s, const PowerRecord& r) {
    if (r.type == kPowerInfoChange) {
        store_power_info(s, r.info);
        return;
    }
    if (r.type == kPowerButtonHeld) {
        // The lock screen's shutdown slider stands in for the phone's power-off question; it
        // reports back with WM_ShutDown itself, which keeps ShutdownDialogShown.
        trace(s, "Power button held");
        post_to_lock_screen(s, pr::WM_ShutDown, pr::kShutDownOpened);
        return;
    }
    if (r.type != kPowerTransition || r.state_name.empty()) return;
    trace(s, "Power State: 0x%0X %s LCDOff=%d", r.flags, to_utf8(r.state_name).c_str(),
          s.LcdOff ? 1 : 0);
    if (starts_with(r.state_name, u"resuming")) {
        if (s.DelayUnlocking) s.LcdOff = false;
    } else if (!starts_with(r.state_name, u"on") && has(r.flags, kPowerStateIdle)) {
        on_display_idle(s);
    } else if (has(r.flags, kPowerStateSuspend)) {
        s.LcdOff = true;
        s.UnattendedCount = 0;
    } else if (has(r.flags, kPowerStateUnattended)) {
        on_power_button(s);
    } else if (has(r.flags, kPowerStateBacklightOff)) {
        on_backlight_off(s);
    } else if (starts_with(r.state_name, u"on")) {
        on_display_on(s, r.flags);
    }
}

// --- operations for the other parts -----------------------------------------------------------

void delayed_unlock(State& s, std::uint32_t extra_ms) {
    trace(s, "Delay Unlock L=%d DU=%d PC=%d", s.Locked ? 1 : 0, s.DelayUnlocking ? 1 : 0,
          int(s.PowerPlugged.load()));
    if (!s.Locked) {
        s.PowerPlugged = 0;
        return;
    }
    s.DelayUnlocking = true;
    kill_timer(s, kTimerWakeUpDelay);
    set_timer(s, kTimerDelayUnlock, extra_ms + wake_up_delay(s) + kDelayUnlockExtraMs);
}

void lock_now_by_trigger(State& s) {
    if (already_locked(s) || exception_is_running(s)) return;
    wake_lock_screen(s, kWakeFront);
    s.sleep(kLockTriggerSettleMs);
    post_to_lock_screen(s, pr::WM_ShowLock, 0);
}

void start_unattended(State& s) {
    if (s.OsMajorVersion <= 4 || s.UnattendedCount > 0) return;
    if (s.platform->power().set_unattended(true)) ++s.UnattendedCount;
    trace(s, "Start Unattended Mode %d", int(s.UnattendedCount.load()));
}

void stop_unattended(State& s, bool force) {
    if (!force && syncing(s)) return;
    trace(s, "Stop Unattended Mode %d", int(s.UnattendedCount.load()));
    if (s.OsMajorVersion <= 4 || s.UnattendedCount == 0) return;
    s.platform->power().set_unattended(false);
    --s.UnattendedCount;
    trace(s, "Stopped Unattended Mode");
}

void stop_unattended_later(State& s, std::uint32_t delay_ms) {
    trace(s, "Set Stop Unattended Mode after %d", int(delay_ms));
    set_timer(s, kTimerStopUnattended, delay_ms);
}

void release_unattended(State& s) {
    stop_unattended(s, true);
}

void battery_broadcast(State& s) {
    const WParam percent = s.BatteryPercent;
    const LParam ac = s.OnAC ? 1 : 0;
    if (Hwnd lumo = find_slide_window(s)) {
        s.platform->windows().post(lumo, pr::WM_UpdateBattery, percent, ac);
        s.platform->windows().post(lumo, pr::WM_BatteryDone, 0, 0);
    }
    for (auto& listener : s.StateListeners)
        if (Hwnd h = listener) s.platform->windows().post(h, pr::WM_UpdateBattery, percent, ac);
}

bool video_power_escape_supported(State& s) {
    s.DisplayPowerEscape = s.platform->power().video_power_supported();
    return s.DisplayPowerEscape;
}

void switch_display(State& s, bool on) {
    s.log.write(on ? "ON LCD" : "OFF LCD");
    if (s.DisplayPowerEscape)
        s.platform->power().set_video_power(on ? kVideoPowerOn : kVideoPowerOff);
}

LResult on_display_off(State& s, std::uint32_t msg, WParam, LParam) {
    auto& win = s.platform->windows();
    if (msg == pr::WM_IdleOff) {
        trace(s, "WM_IdleOff");
        win.post(s.ServiceWindow, pr::WM_OffDisplay, 0, 0);
        bool keep_running = setting(s, Id::NoPowerSuspend) || music_is_running(s) ||
                            (syncing(s) && s.OnAC);
        if (!keep_running) set_timer(s, kTimerPowerOffLater, kPowerOffLaterMs);
        return 0;
    }
    trace(s, "WM_OffDisplay");
    post_to_lock_screen(s, pr::WM_StopAllTimer, 0);
    trace(s, "Powering Suspend %d o=%d", s.LcdOff ? 1 : 0, s.DisplayPowerEscape ? 1 : 0);
    s.ReminderWakeTick = 0;
    if (!s.LcdOff) switch_display(s, false);
    return 0;
}

LResult on_get_battery(State& s, std::uint32_t, WParam, LParam) {
    battery_broadcast(s);
    return 0;
}

LResult on_battery_for(State& s, std::uint32_t msg, WParam w, LParam) {
    // The asker names its window (WM_GetBatteryS2V has its own handler).
    if (msg == pr::WM_GetBatteryFor && w)
        s.platform->windows().post(Hwnd(w), pr::WM_UpdateBattery, s.BatteryPercent,
                                   s.OnAC ? 1 : 0);
    return 0;
}

// --- timers -----------------------------------------------------------------------------------

void on_timer_wake_up_delay(State& s) {
    trace(s, "WM_WakeUpDelay %d", s.DelayUnlocking ? 1 : 0);
    if (s.DelayUnlocking) {
        post_to_lock_screen(s, WM_ACTIVATE, 0);
        return;
    }
    trace(s, "NT: (%d - %d; %d)", int(s.platform->clock().tick_count()),
          int(s.LastUnlockTick.load()), int(wake_up_delay(s)));
    if (s.ReminderWakeTick) {
        s.ReminderWakeTick = 0;
        return;
    }
    if (in_call(s)) return;
    if (already_locked(s)) {
        post_to_lock_screen(s, WM_SETFOCUS, 2);
    } else if (!exception_is_running(s)) {
        wake_lock_screen(s, kWakeFront);
    }
    trace(s, "Delay Wakeup");
    check_wallpaper_change_time(s);
}

void on_timer_delay_unlock(State& s) {
    if (s.Locked) post_to_lock_screen(s, pr::WM_Unlock, s.PowerPlugged);
    s.DelayUnlocking = false;
    s.PowerPlugged = 0;
}

void on_timer_bg_autostart(State& s) {
    trace(s, "BGAutoStart");
    auto& win = s.platform->windows();
    if (already_locked(s)) {
        if (Hwnd lumo = find_slide_window(s)) win.send(lumo, pr::WM_AutoStartLocked, 0, 0);
        s.sleep(kBGAutoStartSettleMs);
        if (Hwnd lumo = find_slide_window(s)) win.send(lumo, pr::WM_StopAllTimer, 0, 0);
    } else if (setting(s, Id::Autostart) && !exception_is_running(s)) {
        wake_lock_screen(s, kWakeFront);
        s.sleep(kBGAutoStartSettleMs);
        post_to_lock_screen(s, pr::WM_StopAllTimer, 0);
    }
    s.ReminderWakeTick = 0;
    stop_unattended_later(s, kStopUnattendedAfterMs);
}

void on_timer_stop_unattended(State& s) {
    stop_unattended(s, false);
    if (s.UnattendedCount > 0) stop_unattended_later(s, kStopUnattendedRetryMs);
}

void on_timer_power_off_later(State& s) {
    trace(s, "WM_PowerOFFLater %d", s.LcdOff ? 1 : 0);
    post_to_lock_screen(s, pr::WM_PowerOff, 0);
}

void on_timer_blank_on_talk(State& s) {
    // A call has begun: the display goes dark while the phone is at the ear.
    if (!s.LcdOff) switch_display(s, false);
}

}  // namespace lumo::service
