// Timed events: the sleep timer (a user notification that signals a named event, watched by a
// listener thread), the periodic wallpaper change and the vibrations.
#include <cstring>

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

constexpr std::u16string_view kNotifyEventName = u"Vardex2Notify";
constexpr std::uint64_t kSleepTimerLead = 50000000;  // 5 s in file-time units
constexpr std::uint64_t kFileTimePerMinute = 600000000;
constexpr std::uint32_t kSleepTimerFireMs = 2000;
constexpr std::uint32_t kSleepLockSettleMs = 800;
constexpr std::uint32_t kWallpaperCatchUpMs = 2000;
constexpr std::uint32_t kZorpStopWaitMs = 200;
constexpr std::uint32_t kZorpStopCommand = 301;
constexpr std::uint32_t kDebugVibrateMs = 150;
// The listener looks at its own quit flag this often besides its two events, so that a stop
// never depends on a single signal arriving while it waits.
constexpr std::uint32_t kListenerSliceMs = 250;
constexpr std::uint8_t kNoVibrator = 255;

std::u16string notify_application() {
    return std::u16string(kNamedEventPrefix) + std::u16string(kNotifyEventName);
}

std::uint32_t current_minute(State& s) {
    return std::uint32_t(s.platform->clock().local_file_time() / kFileTimePerMinute);
}

void delete_sleep_timer(State& s) {
    auto& reg = s.platform->registry();
    if (auto key = reg.open_key(Root::CurrentUser, pr::kRootKey))
        reg.delete_value(*key, pr::mailbox::kSleepTimer);
}

std::optional<std::uint64_t> read_sleep_timer(State& s) {
    auto bytes = s.platform->registry().get_binary(Root::CurrentUser, pr::kRootKey,
                                                   pr::mailbox::kSleepTimer);
    // Anything but the 8-byte file time is no sleep time.
    if (!bytes || bytes->size() != sizeof(std::uint64_t)) return std::nullopt;
    std::uint64_t t;
    std::memcpy(&t, bytes->data(), sizeof t);
    return t;
}

// The music player stops and closes: the sleep timer is for falling asleep to music.
void stop_music_player(State& s) {
    auto& reg = s.platform->registry();
    auto& win = s.platform->windows();
    auto name = pr::window_name(pr::Program::Zorp);
    auto title = reg.get_string(Root::CurrentUser, pr::kZorpKey, u"CurrentTitle");
    auto status = reg.get_dword(Root::CurrentUser, pr::kZorpKey, u"Status");
    if (title && !title->empty() && status.value_or(0) == 0) {
        if (Hwnd zorp = win.find_window(name, std::nullopt))
            win.post(zorp, WM_COMMAND, kZorpStopCommand, 0);
    }
    s.sleep(kZorpStopWaitMs);
    if (Hwnd zorp = win.find_window(name, std::nullopt)) win.post(zorp, WM_CLOSE, 0, 0);
}

void listener_main(State& s, SyncHandle notify, SyncHandle stop,
                   std::shared_ptr<std::atomic<bool>> quit) {
    auto& sync = s.platform->sync();
    const SyncHandle events[] = {notify, stop};
    while (!*quit) {
        auto r = sync.wait(events, false, kListenerSliceMs);
        if (r == kWaitTimeout) continue;
        if (r == 1) break;
        if (r != 0) {
            s.log.write("Error: TimerEventListener");
            // A broken handle would fail at once again; wait out a slice instead of spinning.
            s.sleep(kListenerSliceMs);
            continue;
        }
        sync.reset_event(notify);
        if (s.LcdOff) start_unattended(s);
        trace(s, "Timer Notification");
        if (s.verbose) vibrate(s, kDebugVibrateMs);
        stop_music_player(s);
        if (Hwnd self = s.ServiceWindow)
            s.platform->windows().set_timer(self, kTimerSleep, kSleepTimerFireMs);
    }
    trace(s, "Timer Notification: quit");
}

bool lock_screen_in_front(State& s) {
    Hwnd lumo = find_slide_window(s);
    return lumo && s.platform->windows().foreground_window() == lumo;
}

}  // namespace

std::optional<std::uint32_t> notification_led_count(State& s) {
    auto n = s.platform->notify().led_count();
    trace(s, "Get Vibrate LED %d", n && *n > 0 ? int(*n - 1) : int(kNoVibrator));
    return n;
}

void vibrate(State& s, std::uint32_t ms) {
    const auto led = setting(s, Id::VibrationLED);
    if (led == kNoVibrator) return;
    trace(s, "Vibrate %d(%d)", int(ms), int(led));
    auto& notify = s.platform->notify();
    if (!notify.set_led(led, true)) return;
    s.sleep(ms);
    notify.set_led(led, false);
}

void clear_user_notifications(State& s) {
    auto& notify = s.platform->notify();
    trace(s, "Clearing TimerNotification");
    auto handles = notify.user_notification_handles();
    if (!handles) {
        trace(s, "CeGetUserNotificationHandles failed!");
        return;
    }
    trace(s, "Clearing TimerNotification %d", int(handles->size()));
    for (auto h : *handles) {
        auto n = notify.user_notification(h);
        if (!n) {
            trace(s, "CeGetUserNotification failed!");
            continue;
        }
        if (n->application.find(kNotifyEventName) == std::u16string::npos) continue;
        if (!notify.clear_user_notification(h)) {
            trace(s, "CeClearUserNotification <%s> failed <%d>!",
                         to_utf8(n->application).c_str(), int(h));
            return;
        }
    }
    trace(s, "Cleared TimerNotification");
}

void arm_sleep_timer(State& s) {
    auto when = read_sleep_timer(s);
    const auto now = s.platform->clock().local_file_time();
    const auto app = notify_application();
    NotificationHandle handle = 0;
    if (when && *when > now + kSleepTimerLead) {
        UserNotification n;
        n.application = app;
        n.start = file_time_to_local(*when);
        trace(s, "AddTimer %d.%d.%d", int(n.start.hour), int(n.start.minute),
                     int(n.start.second));
        handle = s.platform->notify().set_user_notification(n);
        if (!handle) {
            delete_sleep_timer(s);
            trace(s, "AddTimer failed");
        }
    } else {
        // Too close, past, or not a time at all: nothing to arm, and nothing left to arm later.
        delete_sleep_timer(s);
    }
    trace(s, "AddTimer %s(%d)", to_utf8(app).c_str(), int(handle));
}

bool start_timer_event_listener(State& s) {
    trace(s, "StartTimerEventListener");
    if (!s.NotifyEvent || !s.NotifyStopEvent) return false;
    auto& sync = s.platform->sync();
    sync.reset_event(s.NotifyStopEvent);
    // A signal from before this listener is stale; reset here rather than in the thread, where a
    // notification due right after the start could be reset away unseen.
    sync.reset_event(s.NotifyEvent);
    auto quit = std::make_shared<std::atomic<bool>>(false);
    const SyncHandle notify = s.NotifyEvent;
    s.timer_thread = Worker::start(
        sync, [&s, notify, quit](SyncHandle stop) { listener_main(s, notify, stop, quit); },
        s.NotifyStopEvent);
    if (!s.timer_thread) return false;
    s.ListenerQuit = quit;
    return true;
}

void stop_timer_event_listener(State& s) {
    if (!s.timer_thread) return;
    trace(s, "StopTimerEventListener");
    // The quit flag ends the listener at its next slice even when the event is missed; a
    // listener that overruns its time is left to finish on its own, never killed mid-call.
    if (s.ListenerQuit) *s.ListenerQuit = true;
    if (!s.timer_thread->stop(kTimerThreadWaitMs))
        s.log.printf("StopTimerEventListener: listener still running after %d ms",
                     int(kTimerThreadWaitMs));
    s.timer_thread.reset();
    s.ListenerQuit.reset();
    // The stop event is manual-reset: left set, the next listener would quit at once.
    if (s.NotifyStopEvent) s.platform->sync().reset_event(s.NotifyStopEvent);
}

void set_wallpaper_change_time(State& s) {
    auto& win = s.platform->windows();
    const auto minutes = setting(s, Id::WallpaperChangeTime);
    if (minutes == 0) {
        if (Hwnd self = s.ServiceWindow) win.kill_timer(self, kTimerWallpaper);
        return;
    }
    s.LastWallpaperMinute = current_minute(s);
    if (Hwnd self = s.ServiceWindow) win.set_timer(self, kTimerWallpaper, minutes * 60000);
    trace(s, "Set Change Wallpaper %d", int(minutes));
}

void check_wallpaper_change_time(State& s) {
    const auto minutes = setting(s, Id::WallpaperChangeTime);
    if (minutes == 0) return;
    const auto now = current_minute(s);
    const auto last = s.LastWallpaperMinute.load();
    trace(s, "t=%d pc=%d", int(now), int(last));
    if (last + minutes < now) {
        if (Hwnd self = s.ServiceWindow)
            s.platform->windows().set_timer(self, kTimerWallpaper, kWallpaperCatchUpMs);
    }
}

LResult on_timed_event(State& s, std::uint32_t msg, WParam w, LParam) {
    auto& win = s.platform->windows();
    switch (msg) {
        case pr::WM_StopWallpaperTimer: {
            win.kill_timer(s.ServiceWindow, kTimerWallpaper);
            // Off until the settings are loaded again.
            std::lock_guard lock(s.SettingsMutex);
            s.settings.set_num(Id::WallpaperChangeTime, 0);
            break;
        }
        case pr::WM_Vibrate:
            vibrate(s, std::uint32_t(w));
            break;
        case pr::WM_ADD_SLEEPTIMER:
            trace(s, "WM_ADD_SLEEPTIMER");
            clear_user_notifications(s);
            stop_timer_event_listener(s);
            start_timer_event_listener(s);
            arm_sleep_timer(s);
            break;
        default:
            break;
    }
    return 0;
}

void on_timer_wallpaper(State& s) {
    auto& win = s.platform->windows();
    const auto minutes = setting(s, Id::WallpaperChangeTime);
    if (minutes == 0) {
        win.kill_timer(s.ServiceWindow, kTimerWallpaper);
        return;
    }
    win.set_timer(s.ServiceWindow, kTimerWallpaper, minutes * 60000);
    trace(s, "WM_ChangeWallpaper");
    if (s.settings.num(Id::CallerID) && s.Incoming) return;
    post_to_lock_screen(s, pr::WM_ChangeWallpaper, 0);
    s.LastWallpaperMinute = current_minute(s);
}

void on_timer_sleep(State& s) {
    if (setting(s, Id::Autostart) && !lock_screen_in_front(s) && !exception_is_running(s)) {
        wake_lock_screen(s, 0);
        s.sleep(kSleepLockSettleMs);
    }
    // The sleep timer fires once.
    stop_timer_event_listener(s);
    if (s.LcdOff) {
        stop_unattended(s, false);
    } else {
        post_to_lock_screen(s, pr::WM_PowerOff, 0);
    }
}

}  // namespace lumo::service
