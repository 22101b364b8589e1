// The main window procedure: system messages, the table of private messages and the timer
// table, with the handlers that belong to the service's core (create, close, reload, destroy,
// the start-up timers).
#include <cstdio>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"
#include "worker.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::uint32_t kReminderDelayMs = 1000;

LResult on_find_slide_wnd(State& s, std::uint32_t, WParam, LParam) {
    find_slide_window(s);
    return 0;
}

LResult on_refresh_setting(State& s, std::uint32_t, WParam, LParam) {
    auto& win = s.platform->windows();
    trace(s, "WM_RefreshSetting");
    load_settings(s);
    set_wallpaper_change_time(s);
    // A reload must not open the phone: a lock in force comes back with the new lumo.
    const bool relock = s.Locked || s.RelockPending;
    win.kill_timer(s.ServiceWindow, kTimerLockScreenWatch);
    if (Hwnd lumo = find_slide_window(s)) win.send(lumo, WM_CLOSE, 0, 0);
    s.Locked = false;
    s.SlideWindow = 0;
    s.RelockPending = relock;
    reregister_sms_subscription(s);
    win.set_timer(s.ServiceWindow, kTimerRestartLockScreen, kRestartLockScreenMs);
    return 0;
}

LResult on_reminder_active(State& s, std::uint32_t, WParam, LParam) {
    s.platform->windows().set_timer(s.ServiceWindow, kTimerReminder, kReminderDelayMs);
    return 0;
}

struct MessageRow {
    std::uint32_t msg;
    MessageHandler handler;
};

// Every private message the service receives, and who handles it.
constexpr MessageRow kMessageTable[] = {
    {pr::WM_FindSlideWnd, on_find_slide_wnd},
    {pr::WM_OffDisplay, on_display_off},
    {pr::WM_GetBattery, on_get_battery},
    {pr::WM_PhoneKey, on_phone_key},
    {pr::WM_IdleOff, on_display_off},
    {pr::WM_SlideReady, on_slide_ready},
    {pr::WM_CHANGE_PHONESIGNALSTRENGTH, on_state_change},
    {pr::WM_CHANGE_PHONEMISSEDCALLS, on_state_change},
    {pr::WM_CHANGE_MESSAGINGSMSUNREAD, on_state_change},
    {pr::WM_CHANGE_MESSAGINGMMSUNREAD, on_state_change},
    {pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, on_state_change},
    {pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, on_state_change},
    {pr::WM_CHANGE_APPOINTMENTS, on_pim_event},
    {pr::WM_TalkingChanged, on_call_event},
    {pr::WM_IncomingChanged, on_call_event},
    {pr::WM_CHANGE_SN_PHONEOPERATORNAME, on_state_change},
    {pr::WM_CHANGE_NEXTALARM, on_state_change},
    {pr::WM_Unlock, on_unlock},
    {pr::WM_Locked, on_locked},
    {pr::WM_DialingChanged, on_call_event},
    {pr::WM_CHANGE_TASKSACTIVE, on_state_change},
    {pr::WM_CHANGE_SN_PHONERINGER, on_state_change},
    {pr::WM_CHANGE_SN_BLUETOOTH, on_state_change},
    {pr::WM_CHANGE_SN_WIFI, on_state_change},
    {pr::WM_GetAllStates, on_get_all_states},
    {pr::WM_GetBatteryFor, on_battery_for},
    {pr::WM_GetBatteryS2V, on_battery_for_s2v},
    {pr::WM_StopWallpaperTimer, on_timed_event},
    {pr::WM_CHANGE_WALLPAPER, on_state_change},
    {pr::WM_RefreshSetting, on_refresh_setting},
    {pr::WM_CHANGE_CONNECTIONSCOUNT, on_state_change},
    {pr::WM_CHANGE_ZORPTITLE, on_state_change},
    {pr::WM_CHANGE_ZORPALBUM, on_state_change},
    {pr::WM_CHANGE_ZORPSTATUS, on_state_change},
    {pr::WM_CHANGE_ZORPVOLUME, on_state_change},
    {pr::WM_CHANGE_WEATHER, on_state_change},
    {pr::WM_AddStateListener, on_add_state_listener},
    {pr::WM_RemoveStateListener, on_remove_state_listener},
    {pr::WM_CHANGE_BT_MSHEADPHONE, on_state_change},
    {pr::WM_CHANGE_FLEXMAILUNREAD, on_state_change},
    {pr::WM_CHANGE_WLMUNREAD, on_state_change},
    {pr::WM_VolumeControl, on_lock_screen_report},
    {pr::WM_CHANGE_KEYBOARDSLIDE, on_condition_change},
    {pr::WM_CHANGE_CALLERNUMBER, on_state_change},
    {pr::WM_CHANGE_CALLERNAME, on_state_change},
    {pr::WM_Vibrate, on_timed_event},
    {pr::WM_CHANGE_CFUSTATE, on_state_change},
    {pr::WM_CHANGE_CELLSYSTEMCONNECTED, on_state_change},
    {pr::WM_CHANGE_ACTIVESYNC, on_state_change},
    {pr::WM_CHANGE_OWNERINFO, on_state_change},
    {pr::WM_CHANGE_STYLUS, on_condition_change},
    {pr::WM_UnhideTaskBar, on_unhide_task_bar},
    {pr::WM_CHANGE_INCOMINGPROPNAME, on_call_event},
    {pr::WM_CHANGE_HEADPHONE, on_condition_change},
    {pr::WM_CHANGE_BLUETOOTHHEADSET, on_state_change},
    {pr::WM_CHANGE_REMINDER, on_reminder_count},
    {pr::WM_CHANGE_INCOMINGNAME, on_call_event},
    {pr::WM_CHANGE_REMINDERACTIVE, on_reminder_active},
    {pr::WM_OpenMessage, on_pim_event},
    {pr::WM_PlayDTMF, on_call_event},
    {pr::WM_SlideDialing, on_call_event},
    {pr::WM_MakeCall, on_call_event},
    {pr::WM_DropConnectedCall, on_call_event},
    {pr::WM_ShutDown, on_lock_screen_report},
    {pr::WM_DeviceShutDown, on_override_request},
    {pr::WM_ADD_SLEEPTIMER, on_timed_event},
    {pr::WM_MarkReadMessage, on_pim_event},
    {pr::WM_CHANGE_CRADLE, on_condition_change},
    {pr::WM_PoomItemCreated, on_pim_event},
    {pr::WM_PoomItemDeleted, on_pim_event},
    {pr::WM_PoomItemChanged, on_pim_event},
    {kMsgWakeFromPowerThread, on_wake_from_power_thread},
};

// --- timers of the core -------------------------------------------------------------------

void on_timer_closing(State& s) {
    auto& win = s.platform->windows();
    if (Hwnd box = win.find_window(kDialogClass, kClosingCaption)) win.post(box, WM_CLOSE, 0, 0);
    win.post(s.ServiceWindow, WM_CLOSE, 0, 0);
}

void on_timer_delayed_start(State& s) {
    open_appointment_store(s);
    keyboard_hook_on(s);
    replace_65_lock(s);
    if (s.settings.num(Id::ShowAppointment)) subscribe_appointments(s);
    if (s.settings.num(Id::ShowTask)) subscribe_tasks(s);
}

void on_timer_reminder(State& s) {
    std::int32_t count = s.counters[kReminders];
    s.platform->windows().post(s.ServiceWindow, pr::WM_CHANGE_REMINDER,
                               WParam(count < 0 ? 0 : count), 0);
}

void on_timer_password_lock(State& s) {
    // Repeated until lumo is there to take it.
    if (post_to_lock_screen(s, pr::WM_LOCK_PASSWORD, 0))
        s.platform->windows().kill_timer(s.ServiceWindow, kTimerPasswordLock);
}

void on_timer_boot_lock(State& s) {
    wake_lock_screen(s, 0);
    auto& win = s.platform->windows();
    win.post(s.ServiceWindow, pr::WM_Locked, 0, 0);
    win.set_timer(s.ServiceWindow, kTimerPasswordLock, kPasswordRetryMs);
}

enum class Arming : std::uint8_t {
    OneShot,     // stopped before its handler runs
    SelfManaged  // keeps running; its handler stops or re-arms it
};

struct TimerRow {
    std::uint32_t id;
    Arming arming;
    TimerHandler handler;
};

constexpr TimerRow kTimerTable[] = {
    {kTimerLaunchSettled, Arming::OneShot, on_timer_launch_settled},
    {kTimerTelephonyRestart, Arming::OneShot, on_timer_telephony_restart},
    {kTimerRestartLockScreen, Arming::OneShot, on_timer_restart_lock_screen},
    {kTimerLockScreenWatch, Arming::SelfManaged, on_timer_lock_screen_watch},
    {kTimerUnknownCaller, Arming::OneShot, on_timer_unknown_caller},
    {kTimerCallEndedTopmost, Arming::OneShot, on_timer_call_ended_topmost},
    {kTimerTelephonyError, Arming::OneShot, on_timer_telephony_error},
    {kTimerWallpaper, Arming::SelfManaged, on_timer_wallpaper},
    {kTimerClosing, Arming::OneShot, on_timer_closing},
    {kTimerWakeUpDelay, Arming::OneShot, on_timer_wake_up_delay},
    {kTimerHidePhoneDialog, Arming::OneShot, on_timer_hide_phone_dialog},
    {kTimerAppointments, Arming::SelfManaged, on_timer_appointments},
    {kTimerDelayUnlock, Arming::OneShot, on_timer_delay_unlock},
    {kTimerHookOn, Arming::OneShot, on_timer_hook_on},
    {kTimerDelayedStart, Arming::OneShot, on_timer_delayed_start},
    {kTimerZorpFront, Arming::SelfManaged, on_timer_zorp_front},
    {kTimerLockScreenFront, Arming::OneShot, on_timer_lock_screen_front},
    {kTimerReminder, Arming::OneShot, on_timer_reminder},
    {kTimerPasswordLock, Arming::SelfManaged, on_timer_password_lock},
    {kTimerEmail, Arming::OneShot, on_timer_email},
    {kTimerBGAutoStart, Arming::OneShot, on_timer_bg_autostart},
    {kTimerBootLock, Arming::OneShot, on_timer_boot_lock},
    {kTimerSleep, Arming::OneShot, on_timer_sleep},
    {kTimerIncomingSearch, Arming::SelfManaged, on_timer_incoming_search},
    {kTimerStopUnattended, Arming::OneShot, on_timer_stop_unattended},
    {kTimerPowerOffLater, Arming::OneShot, on_timer_power_off_later},
    {kTimerStartMenu, Arming::OneShot, on_timer_start_menu},
    {kTimerBlankOnTalk, Arming::OneShot, on_timer_blank_on_talk},
};

// --- system messages ------------------------------------------------------------------------

LResult on_create(State& s, Hwnd self) {
    auto& sync = s.platform->sync();
    s.ServiceWindow = self;
    trace(s, "Vardex Wnd %0X", self);
    set_wallpaper_change_time(s);
    s.power_thread = Worker::start(sync, [&s](SyncHandle stop) { power_thread_main(s, stop); });
    init_telephony(s);
    read_sim_phone_book(s);
    s.appointment_thread =
        Worker::start(sync, [&s](SyncHandle stop) { appointment_thread_main(s, stop); });
    s.ToneDoneEvent = sync.create_event(u"", true, false);
    register_subscriptions(s);
    return 0;
}

LResult on_close(State& s, Hwnd self, WParam w) {
    auto& win = s.platform->windows();
    trace(s, "Close Message %d", int(w));
    // lumo is closed with the service (a second start closes both): nothing brings it back now.
    s.Closing = true;
    win.kill_timer(self, kTimerLockScreenWatch);
    if (w != 1) {
        win.destroy_window(self);
        return 0;
    }
    win.set_timer(self, kTimerClosing, kClosingBoxMs);
    char text[128];
    std::snprintf(text, sizeof text, kClosingFormat, to_utf8(pr::kProductName).c_str());
    win.message_box(self, to_u16(text), kClosingCaption, MB_OK | MB_SETFOREGROUND);
    return 0;
}

LResult on_destroy(State& s) {
    auto& win = s.platform->windows();
    auto& sync = s.platform->sync();
    trace(s, "WM_DESTROY");
    win.kill_timer(s.ServiceWindow, kTimerLaunchSettled);
    unregister_subscriptions(s);
    release_unattended(s);

    trace(s, "WM_DESTROY 2");
    if (s.power_thread && !s.power_thread->stop(kPowerThreadWaitMs))
        trace(s, "power thread did not end; left behind");
    s.power_thread.reset();

    trace(s, "WM_DESTROY 3");
    s.AppointmentStopping = true;
    if (s.appointment_thread && !s.appointment_thread->stop(kAppointmentThreadWaitMs))
        trace(s, "appointment thread did not end; left behind");
    s.appointment_thread.reset();
    trace(s, "WM_DESTROY 3");

    if (s.ToneDoneEvent) sync.close(s.ToneDoneEvent);
    s.ToneDoneEvent = 0;
    trace(s, "WM_DESTROY 4");
    shutdown_telephony(s);

    trace(s, "WM_DESTROY 5");
    keyboard_hook_off(s);
    release_start_menu(s);

    trace(s, "WM_DESTROY 6");
    release_sim(s);
    release_appointment_store(s);
    restore_incoming_window(s);
    trace(s, "WM_DESTROY end");
    win.post_quit(0);
    return 0;
}

LResult on_setting_change(State& s, WParam w) {
    if (w == SETTINGCHANGE_RESET && !s.LcdOff && s.settings.num(Id::UnlockOnRotate))
        delayed_unlock(s, 0);
    return 0;
}

LResult on_timer(State& s, WParam id) {
    for (const auto& row : kTimerTable) {
        if (row.id != id) continue;
        if (row.arming == Arming::OneShot) s.platform->windows().kill_timer(s.ServiceWindow, id);
        row.handler(s);
        return 0;
    }
    return 0;
}

}  // namespace

bool handles_message(std::uint32_t msg) {
    for (const auto& row : kMessageTable)
        if (row.msg == msg) return true;
    return false;
}

bool timer_repeats(std::uint32_t id) {
    for (const auto& row : kTimerTable)
        if (row.id == id) return row.arming == Arming::SelfManaged;
    return false;
}

LResult window_proc(State& s, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    switch (msg) {
        case WM_CREATE:
            return on_create(s, hwnd);
        case WM_DESTROY:
            return on_destroy(s);
        case WM_CLOSE:
            return on_close(s, hwnd, w);
        case WM_SETTINGCHANGE:
            return on_setting_change(s, w);
        case WM_TIMER:
            return on_timer(s, w);
    }
    for (const auto& row : kMessageTable)
        if (row.msg == msg) return row.handler(s, msg, w, l);
    return s.platform->windows().default_proc(hwnd, msg, w, l);
}

}  // namespace lumo::service
