#pragma once
// The handlers the main window reaches in the areas around the core: power (power.cpp), the lock
// screen's launcher (launcher.cpp), calls (calls.cpp), state subscriptions (subscriptions.cpp),
// lock conditions (conditions.cpp), the PIM export (pim_export.cpp), timed events
// (timed_events.cpp) and system overrides (overrides.cpp). Message handlers share one shape so
// the dispatch table can list them.
#include <optional>

#include "lumo/service/state.h"

namespace lumo::service {

using platform::LParam;
using platform::LResult;
using platform::SyncHandle;
using platform::WParam;

using MessageHandler = LResult (*)(State&, std::uint32_t msg, WParam, LParam);
using TimerHandler = void (*)(State&);

// --- power and display ----------------------------------------------------------------------
// The tests the power decisions read the state through.
bool in_call(State&);
bool talking_or_held(State&);
bool in_call_lock_applies(State&);
bool already_locked(State&);
bool syncing(State&);
void read_power_status(State&);
void power_thread_main(State&, SyncHandle stop_event);
// One power notification, as the power thread handles it.
void on_power_record(State&, const platform::PowerRecord&);
void delayed_unlock(State&, std::uint32_t extra_ms);
void lock_now_by_trigger(State&);
void start_unattended(State&);
void stop_unattended(State&, bool force);
void stop_unattended_later(State&, std::uint32_t delay_ms);
void release_unattended(State&);
void battery_broadcast(State&);
bool video_power_escape_supported(State&);
void switch_display(State&, bool on);
LResult on_display_off(State&, std::uint32_t, WParam, LParam);
LResult on_get_battery(State&, std::uint32_t, WParam, LParam);
LResult on_battery_for(State&, std::uint32_t, WParam, LParam);
void on_timer_wake_up_delay(State&);
void on_timer_delay_unlock(State&);
void on_timer_bg_autostart(State&);
void on_timer_stop_unattended(State&);
void on_timer_power_off_later(State&);
void on_timer_blank_on_talk(State&);

// --- bringing up the lock screen ------------------------------------------------------------
// Shows lumo in front (or starts it); `flags` are WakeFlags. From another thread than the main
// one the work is handed to the main thread.
void wake_lock_screen(State&, std::uint32_t flags);
void start_lock_screen_hidden(State&);
// lumo is found gone while locked: the lock is owed (RelockPending) and watched until lumo is
// back and locked. False while the service is closing, which ends lumo on purpose.
bool lock_screen_lost(State&);
// Starts lumo again shown, which locks, while a lock is owed (during a call: hidden, and the
// shell is given back).
void relock(State&);
LResult on_wake_from_power_thread(State&, std::uint32_t, WParam, LParam);
void set_slide_foreground(State&);
void hide_slide(State&);
void force_slide_front(State&);
void find_task_bar(State&);
// The desktop and Manila guards (a lock, or a call that ends locked).
void guard_shell_windows(State&);
// At start: with no lock in force, a task bar left above the screen or hidden by an earlier run
// goes back to its place; with lumo still up and locked, the lock is taken over.
void settle_task_bar(State&);
void show_task_bar(State&);
void subclass_shell_notify(State&);
void restore_subclassed_windows(State&);
// What a lock changed in the shell goes back: the desktop and Manila guards come off, the task
// bar returns to its place and shows.
void give_shell_back(State&);
// At the end: that, and the notification guard comes off too.
void restore_shell(State&);
LResult on_locked(State&, std::uint32_t, WParam, LParam);
LResult on_unlock(State&, std::uint32_t, WParam, LParam);
LResult on_unhide_task_bar(State&, std::uint32_t, WParam, LParam);
LResult on_lock_screen_report(State&, std::uint32_t, WParam, LParam);
// A missed-call or unread-message count changed (after it was passed on).
void on_count_changed(State&, std::int32_t count);
// Wired or Bluetooth headphones came or went (after the change was passed on).
void on_headphone_change(State&, std::uint32_t msg, WParam);
void on_timer_launch_settled(State&);
void on_timer_restart_lock_screen(State&);
void on_timer_lock_screen_watch(State&);
void on_timer_zorp_front(State&);
void on_timer_lock_screen_front(State&);

// --- calls ----------------------------------------------------------------------------------
void init_telephony(State&);
void shutdown_telephony(State&);
void read_sim_phone_book(State&);
void release_sim(State&);
Hwnd find_incoming_window(State&);
void restore_incoming_window(State&);
LResult on_phone_key(State&, std::uint32_t, WParam, LParam);
LResult on_slide_ready(State&, std::uint32_t, WParam, LParam);
LResult on_call_event(State&, std::uint32_t, WParam, LParam);
void on_timer_telephony_restart(State&);
void on_timer_unknown_caller(State&);
void on_timer_call_ended_topmost(State&);
void on_timer_telephony_error(State&);
void on_line_message(State&, const platform::LineMessage&);
void on_call_disconnected(State&, platform::CallHandle call);
void on_caller_id(State&, platform::CallHandle call);
// The phone application's name and the incoming window's caption, from the settings.
void load_phone_names(State&);
void on_timer_incoming_search(State&);
// Closes a telephony call handle left open by a call screen.
void close_call_handle(State&);
void on_timer_hide_phone_dialog(State&);

// --- system-state subscriptions -------------------------------------------------------------
void register_subscriptions(State&);
void unregister_subscriptions(State&);
void read_initial_counters(State&);
void reregister_sms_subscription(State&);
LResult on_state_change(State&, std::uint32_t, WParam, LParam);
LResult on_get_all_states(State&, std::uint32_t, WParam, LParam);
LResult on_add_state_listener(State&, std::uint32_t, WParam, LParam);
LResult on_remove_state_listener(State&, std::uint32_t, WParam, LParam);
// Passes a state change on to lumo and the listeners as its route says.
void forward_state(State&, std::uint32_t msg, WParam);
// Switches the Bluetooth radio off through the platform's wireless-device service.
bool switch_bluetooth_off(State&);
// WM_CHANGE_REMINDER to the own window: counts the reminders and tells lumo.
LResult on_reminder_count(State&, std::uint32_t, WParam, LParam);
// WM_GetBatteryS2V: the battery to the program slide-to-view brought to the front.
LResult on_battery_for_s2v(State&, std::uint32_t, WParam, LParam);
// The cellular system's connection flags as the number of the highest set bit (0 for none).
std::uint32_t cellular_system_level(std::uint32_t flags);

// --- lock conditions ------------------------------------------------------------------------
void read_exception_list(State&);
void keyboard_hook_on(State&);
void keyboard_hook_off(State&);
LResult on_condition_change(State&, std::uint32_t, WParam, LParam);
void on_timer_hook_on(State&);
// A program of the exception list runs (in front, with ExceptionEXEisFG).
bool exception_is_running(State&);
// The music player (or another player) is playing.
bool music_is_running(State&);

// --- PIM and message export -----------------------------------------------------------------
void appointment_thread_main(State&, SyncHandle stop_event);
void open_appointment_store(State&);
void release_appointment_store(State&);
void subscribe_appointments(State&);
void subscribe_tasks(State&);
LResult on_pim_event(State&, std::uint32_t, WParam, LParam);
void on_timer_appointments(State&);
void on_timer_email(State&);
// One appointment export as the appointment thread runs it; the number of records written.
int export_appointments(State&);
// The task export; the number of tasks written, -1 when the store could not be read.
int export_tasks(State&);
// The newest unread message of a store ("SMS", "MMS" or an e-mail account) into its key; false
// when there is no such store. Open shows it in the mail program; mark-read sets its read flag.
bool export_messages(State&, std::u16string_view store);
bool open_newest_unread(State&, std::u16string_view store);
bool mark_newest_read(State&, std::u16string_view store);
// An SMS or MMS count changed (`previous` is the count before): the export and the preview;
// true when a preview was shown, which stands in for the repeated lock.
bool export_for_count(State&, std::uint32_t msg, std::int32_t previous, std::int32_t count);
// An e-mail count changed with LockNotification set: passed on to lumo after the delay.
void delay_email_count(State&, std::int32_t previous, std::int32_t count);

// --- timed events ---------------------------------------------------------------------------
std::optional<std::uint32_t> notification_led_count(State&);
void set_wallpaper_change_time(State&);
// After a wake-up: a wallpaper change that fell due while the display was off comes soon.
void check_wallpaper_change_time(State&);
void clear_user_notifications(State&);
// The sleep-timer listener on NotifyEvent and NotifyStopEvent; false when it cannot start.
bool start_timer_event_listener(State&);
// Stops it cooperatively within its time limit; an overrun is logged, never killed.
void stop_timer_event_listener(State&);
// Reads SleepTimer and sets its user notification (or deletes a sleep time that is no use).
void arm_sleep_timer(State&);
// Runs the vibrator (the VibrationLED) for `ms`; blocks the caller meanwhile.
void vibrate(State&, std::uint32_t ms);
LResult on_timed_event(State&, std::uint32_t, WParam, LParam);
void on_timer_wallpaper(State&);
void on_timer_sleep(State&);

// --- system overrides and backup ------------------------------------------------------------
// Turns the system device lock off; true when it was on (the service then does not start).
bool turn_system_lock_off(State&);
// At start: every value a run killed while locked left changed is put back from its backup.
void restore_overrides(State&);
void replace_65_lock(State&);
LResult on_override_request(State&, std::uint32_t, WParam, LParam);
void on_timer_start_menu(State&);
// At WM_Locked: the notification bubbles, the system lock flag, the long-press end key and the
// Samsung mouse are saved (with backups) and switched for the lock.
void overrides_on_lock(State&);
// At WM_Unlock: each goes back and its backup is deleted.
void overrides_on_unlock(State&);
// The system lock flag back to 0 (also when a call is offered or dialed).
void system_lock_off(State&);
// The five notification options back from their saved values.
void restore_reminder_options(State&);
// At the end: the start-menu subclass comes off.
void release_start_menu(State&);

}  // namespace lumo::service
