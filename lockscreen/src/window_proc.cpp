// The window procedure: screen states, timers, the lock entry, the unlock and what follows it.
#include <array>
#include <cstring>
#include <thread>

#include "lumo/gfx/display_backend.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
namespace proto = protocol;
using catalogue::Id;

namespace {

std::uint32_t setting(const Context& c, Id id) { return c.settings.num(id); }

bool in(ScreenState s, std::initializer_list<ScreenState> states) {
    for (auto x : states)
        if (s == x) return true;
    return false;
}

bool is_view(ScreenState s) {
    return in(s, {ScreenState::NotificationView, ScreenState::MessageView, ScreenState::MissedCallView,
                  ScreenState::TaskView});
}

int lparam_x(LParam l) { return std::int16_t(std::uint32_t(l) & 0xFFFF); }
int lparam_y(LParam l) { return std::int16_t(std::uint32_t(l) >> 16); }

void kill(Context& c, std::uint32_t id) { c.p.windows().kill_timer(c.main_window, id); }
void arm(Context& c, std::uint32_t id, std::uint32_t ms) { c.p.windows().set_timer(c.main_window, id, ms); }

bool foreground_is_main(Context& c) { return c.p.windows().foreground_window() == c.main_window; }

// A sound file value: empty when missing or when the file does not exist.
std::u16string sound_file(Context& c, Id id) {
    std::u16string path;
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::read_text(c.p.registry(), root->key, catalogue::setting(id).name, 261, path);
    if (!path.empty() && !device_file_exists(c, path)) path.clear();
    return path;
}

// The unlock sound, chosen like the lock sound; in vibrate mode a long pulse replaces it, unless
// the haptic pulse of the unlock already shook the phone. A silent phone stays silent.
void unlock_sound(Context& c) {
    auto path = sound_file(c, Id::UnlockSound);
    if (path.empty()) return;
    if (c.ringer_mode == kRingerVibrate) {
        if (setting(c, Id::HapticFeedback) == 0) post_service(c, proto::WM_Vibrate, proto::kVibrateLongMs, 0);
        return;
    }
    if (c.ringer_mode == kRingerSilent) return;
    c.p.sound().play(path, kSoundAsync | kSoundNoDefault);
}

void on_activate(Context& c, WParam w) {
    if (c.starting_up) return;
    c.log.printf("WM_ACTIVATE %d 0x%0X S=%d", int(w & 0xFFFF), c.main_window, int(c.state));
    if ((w & 0xFFFF) != WA_INACTIVE) {
        if (c.state != ScreenState::IncomingCall) update_clock(c);
        c.touched = true;
        if (c.state == ScreenState::Normal) {
            if (foreground_is_main(c)) {
                request_redraw(c);
                set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
            } else {
                set_off_lcd(c, 0, 0);
            }
        }
    } else if (c.state != ScreenState::IncomingCall) {
        if (c.state == ScreenState::ShutdownSlider) arm(c, kTimerCloseShutdown, 0);
        if (!c.locked) full_screen(c, false);
        kill_all_timer(c, true);
    }
}

void on_set_focus(Context& c, WParam w) {
    c.log.printf("WM_SETFOCUS %d(S=%d)", int(w), int(c.state));
    auto& win = c.p.windows();
    if (w == 2 && !foreground_is_main(c)) return;
    std::uint32_t now = c.p.clock().tick_count();
    if (w == 0 && c.state == ScreenState::Normal && c.unlocked_once &&
        now - c.unlock_tick < setting(c, Id::WakeupDelayMS) + 1200) {
        arm(c, kTimerGiveBack, 100);
        return;
    }
    if (c.starting_up) {
        // The window exists before its pictures are loaded, and the service may already show it
        // and hand it the focus to lock. Dropping that would leave a shown, black, unlocked
        // window: the request is kept and carried out when start-up ends.
        c.focus_during_startup = true;
        c.startup_focus_w = w;
        return;
    }
    if (c.state == ScreenState::IncomingCall) return;
    full_screen(c, true);
    win.show_window(c.main_window, SW_SHOW);
    win.set_foreground_window(c.main_window);
    if (c.state != ScreenState::Normal) {
        gfx::ResumeScreen(c.screen);
        request_redraw(c);
        set_all_timer(c);
        if (in(c.state, {ScreenState::IncomingCall, ScreenState::CallScreen, ScreenState::PasswordEntry,
                         ScreenState::EmergencyCall, ScreenState::BusySmsPrompt,
                         ScreenState::BusySmsPromptOverApp, ScreenState::ShutdownSlider}))
            set_off_lcd(c, 0, 0);
        return;
    }
    update_clock(c);
    if (!c.locked) arm(c, kTimerWeather, 1500);
    c.touched = true;
    if (w != 0 || c.locked) {
        gfx::ResumeScreen(c.screen);
        set_all_timer(c);
    } else {
        arm(c, kTimerStarting, 0);
    }
    if (c.log.is_open()) {
        auto app = c.p.registry().get_string(Root::CurrentUser, u"System\\State\\Shell", u"Active Application");
        c.log.printf("WM_SETFOCUS: %s", to_utf8(app.value_or(u"")).c_str());
    }
}

void idle_off(Context& c, bool ac_timer) {
    c.log.printf("OFF_LCD_TIMER State=%d AC=%d", int(c.state), int(c.on_ac));
    kill(c, ac_timer ? kTimerIdleAC : kTimerIdleBattery);
    if (!foreground_is_main(c)) return;
    if (in(c.state, {ScreenState::IncomingCall, ScreenState::CallScreen, ScreenState::VolumeControl,
                     ScreenState::ShutdownSlider}))
        return;
    if (c.on_ac != ac_timer) return;
    if (c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall) leave_keypad(c, true);
    all_to_normal(c);
    gfx::ResumeScreen(c.screen);
    draw_frame(c);
    kill_all_timer(c, false);
    bool blank = setting(c, ac_timer ? Id::ACBlankScreen : Id::BlankScreen) != 0;
    post_service(c, blank ? proto::WM_OffDisplay : proto::WM_IdleOff, 0, 0);
}

void give_screen_back(Context& c) {
    kill(c, kTimerGiveBack);
    auto& win = c.p.windows();
    Hwnd under = win.window_from_point(c.screen_width / 2, c.screen_height / 2);
    if (under && under != c.main_window) {
        win.show_window(under, SW_SHOW);
        win.set_foreground_window(under);
    }
    c.log.printf("ADL: Foreground 0x%0X(0x%0X)", under, c.main_window);
    win.show_window(c.main_window, SW_HIDE);
}

void on_anim_timer(Context& c) {
    if (c.anim_starting) {
        c.anim_starting = false;
        arm(c, kAnimTimer, kAnimPeriodMs);
    }
    slide_tick(c);
    draw_frame(c);
    fling_step(c);
    // The timer rests once nothing moves and the shine has run its course.
    if (c.slider.shine_runs > 5 && !slider_animating(c) && c.wallpaper.frames < 2 && !status_animating(c) &&
        !boxes_fading(c)) {
        kill(c, kAnimTimer);
        c.anim_armed = false;
    }
}

// The system's own device lock hears of the touch: Lock under System\State goes to 0 for a
// moment and back to what it was.
void pulse_system_lock(Context& c) {
    if (setting(c, Id::NoSystemLock) != 0) return;
    auto& reg = c.p.registry();
    auto old = reg.get_dword(Root::LocalMachine, u"System\\State", u"Lock");
    if (!old) return;
    reg.set_dword(Root::LocalMachine, u"System\\State", u"Lock", 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSystemLockPulseMs));
    reg.set_dword(Root::LocalMachine, u"System\\State", u"Lock", *old);
}

// Left, right and middle button-down alike: the current state's hit test first.
void on_button_down(Context& c, LParam l) {
    int x = lparam_x(l), y = lparam_y(l);
    c.slider.shine_runs = 1;
    bool taken = call_touch(c, WM_LBUTTONDOWN, x, y) || route_to_state_touch(c, WM_LBUTTONDOWN, x, y);
    if (!taken && (c.state == ScreenState::Normal || is_view(c.state))) {
        start_drag(c, x, y);
        c.clock.press_x = x;
        c.clock.press_y = y;
    }
    pulse_system_lock(c);
    // The call screens never time out, also while the answer slider is dragged.
    if (c.slider.dragging && !in_call_screen(c)) reset_anim_lcd(c);
    request_redraw(c);
}

void on_mouse_move(Context& c, LParam l) {
    int x = lparam_x(l), y = lparam_y(l);
    if (call_touch(c, WM_MOUSEMOVE, x, y) || route_to_state_touch(c, WM_MOUSEMOVE, x, y)) return;
    if (c.state == ScreenState::Normal || is_view(c.state) || c.state == ScreenState::ShutdownSlider)
        drag_to(c, x, y);
}

void on_lbutton_up(Context& c, LParam l) {
    int x = lparam_x(l), y = lparam_y(l);
    if (call_touch(c, WM_LBUTTONUP, x, y) || route_to_state_touch(c, WM_LBUTTONUP, x, y)) {
        c.clock.press_x = c.clock.press_y = -1;
        request_redraw(c);
        return;
    }
    if (c.state == ScreenState::Normal || is_view(c.state) || c.state == ScreenState::ShutdownSlider) {
        bool was_dragging = c.slider.dragging;
        end_drag(c, x, y);
        // A tap in the clock band switches clocks.
        int unit = gfx::ScaleUnit(c.screen, 20);
        int top = gfx::ScaleUnit(c.screen, 16) + gfx::ScaleUnit(c.screen, 7);
        int bottom = gfx::ScaleUnit(c.screen, 28) + c.clock.height;
        if (!was_dragging && c.state == ScreenState::Normal && c.clock.press_x >= 0 &&
            std::abs(x - c.clock.press_x) <= unit && std::abs(y - c.clock.press_y) <= unit && y >= top &&
            y < bottom && c.clock.press_y >= top && c.clock.press_y < bottom)
            switch_clock(c);
    }
    c.clock.press_x = c.clock.press_y = -1;
    request_redraw(c);
}

// Keys that move the knob where the slider is up and DpadOn is set.
bool knob_key(std::uint8_t vk) { return vk == VK_LEFT || vk == VK_RIGHT || vk == VK_ESCAPE || vk == kVkKnobKey; }

void on_key(Context& c, std::uint32_t msg, WParam w, LParam l) {
    // A key the input method took arrives as VK_PROCESSKEY; the real key is asked for first.
    std::uint8_t vk = std::uint8_t(w);
    if (vk == VK_PROCESSKEY)
        if (std::uint8_t real = c.p.windows().input_method_key(c.main_window)) vk = real;
    const bool down = msg == WM_KEYDOWN;
    c.log.printf(down ? "WM_KEYDOWN %0X(%0X)" : "WM_KEYUP %0X(%0X)", int(vk), int(w));
    if (!down) {
        // A release stops the knob a key drove, and ends the state's press of that key.
        c.slider.key_drive = 0;
        if (c.state != ScreenState::Normal) c.log.printf("CheckReleasedButton S=%d K=%d", int(c.state), int(vk));
    }
    if (in_call_screen(c)) {
        call_key(c, msg, vk, l);
        return;
    }
    if (down) {
        // The keypad, the volume control, the shutdown slider and the music keys of the lock
        // screen take theirs first.
        if (route_to_state_keys(c, msg, vk, l)) return;
        if ((c.state == ScreenState::Normal || is_view(c.state)) && setting(c, Id::DpadOn) != 0 &&
            !c.slider.slide_locked && knob_key(vk)) {
            c.slider.key_drive = vk;
            c.slider.shine_runs = 1;
            request_redraw(c);
        }
        return;
    }
    // In Normal the release also keeps the screen awake; the music keys are released there.
    if (c.state == ScreenState::Normal) reset_anim_lcd(c);
    route_to_state_keys(c, msg, vk, l);
}

// Rotation codes as quarter turns of the panel: a point of a screen turned by `code` to the
// panel's own portrait layout (w × h) and back.
void to_panel(int code, int& x, int& y, int w, int h) {
    int px = x, py = y;
    switch (code) {
    case gfx::kRotate90: px = y, py = h - 1 - x; break;
    case gfx::kRotate180: px = w - 1 - x, py = h - 1 - y; break;
    case gfx::kRotate270: px = w - 1 - y, py = x; break;
    default: break;
    }
    x = px, y = py;
}
void from_panel(int code, int& x, int& y, int w, int h) {
    int lx = x, ly = y;
    switch (code) {
    case gfx::kRotate90: lx = h - 1 - y, ly = x; break;
    case gfx::kRotate180: lx = w - 1 - x, ly = h - 1 - y; break;
    case gfx::kRotate270: lx = y, ly = w - 1 - x; break;
    default: break;
    }
    x = lx, y = ly;
}

// The stylus arrives in the coordinates of the screen as turned now. When the layout was kept
// through a turn (IgnoreScreenRotation), its picture lies otherwise on the panel, and the point
// is taken to where it touches that picture.
LParam layout_point(const Context& c, LParam l) {
    const auto& s = c.screen;
    if (!s.back_buffer) return l;
    int layout = s.rotation, w = s.width, h = s.height;
    if (s.backend == gfx::Backend::GdiBitmap) {
        // The bitmap follows a half turn and stays on the panel through a quarter turn.
        auto m = c.display.metrics();
        bool same_shape = m.width == s.width && m.height == s.height;
        layout = same_shape ? c.orientation : s.display_orientation;
        if (is_landscape(s.display_orientation)) std::swap(w, h);
    }
    if (layout == c.orientation) return l;
    int x = lparam_x(l), y = lparam_y(l);
    to_panel(c.orientation, x, y, w, h);
    from_panel(layout, x, y, w, h);
    return LParam(std::uint32_t(std::uint16_t(x)) | std::uint32_t(std::uint16_t(y)) << 16);
}

void on_window_pos_changed(Context& c) {
    c.log.printf("WM_WINDOWPOSCHANGED");
    int now = gfx::RotationFromAngle(c.display.orientation_angle());
    if (now != c.orientation) {
        c.orientation = now;
        if (setting(c, Id::IgnoreScreenRotation) != 0) {
            // The layout stays. The drawing turns with the display only while the layout still
            // fits the turned screen (a half turn); across a quarter turn it stays as it was on
            // the panel rather than being cut off by a screen of the other shape.
            if (is_landscape(now) == is_landscape(c.screen.rotation))
                gfx::SetScreenRotation(c.screen, now);
        } else {
            // A new back buffer for the new orientation, and every position laid out again.
            bool suspended = c.screen.suspended;
            gfx::CloseScreen(c.screen);
            int backend = c.display_mode;
            if (gfx::OpenScreen(c.screen, c.display, c.main_window, backend, c.imaging.get())) {
                c.screen.fonts = c.fonts.get();
                c.screen.clock = c.frame_clock;
                c.display_mode = backend;
                c.screen_width = c.screen.logical_width;
                c.screen_height = c.screen.logical_height;
                if (suspended) gfx::SuspendScreen(c.screen);
            }
            layout_slider(c);
            reset_slider(c);
            make_slider_texts(c);
            load_clock(c);
            update_clock(c, true);
            // Laid out again for the new width; only a new day counts as a date change.
            update_date_only(c);
            load_wallpaper(c);
        }
    }
    refresh_panels(c);
    relayout_call_screen(c);
    if (c.state == ScreenState::VolumeControl || c.state == ScreenState::InCallVolume)
        arm(c, kTimerCloseVolume, 3000);
    request_redraw(c);
}

void on_views_timer(Context& c, std::uint32_t id) {
    if (c.view_ticks == 0) {
        if (c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall) leave_keypad(c, false);
        close_views(c);
        if (id == kTimerNotifyView) open_reminder_view(c);
        else open_message_view(c);
    }
    if (c.locked) fade_in_start(c, false);
    else kill(c, id);
    if (c.view_ticks == 5 || (id == kTimerNotifyView && c.view_ticks == 25)) kill(c, id);
    ++c.view_ticks;
}

}  // namespace

void set_off_lcd(Context& c, std::uint32_t battery_s, std::uint32_t ac_s) {
    c.log.printf("SetOffLCD %d(AC=%d)", int(battery_s), int(ac_s));
    c.idle_since = c.p.clock().tick_count();
    if (battery_s) arm(c, kTimerIdleBattery, battery_s * 1000);
    else kill(c, kTimerIdleBattery);
    if (ac_s) arm(c, kTimerIdleAC, ac_s * 1000);
    else kill(c, kTimerIdleAC);
}

void request_redraw(Context& c) {
    if (c.screen.suspended || c.anim_armed || !c.main_window) return;
    c.anim_armed = true;
    // The first tick comes at once so that a wake-up does not wait a whole period; that tick
    // sets the period.
    c.anim_starting = true;
    arm(c, kAnimTimer, 0);
    c.log.printf("Set Screen Timer");
}

void set_all_timer(Context& c) {
    arm(c, kAnimTimer, kAnimPeriodMs);
    c.anim_armed = false;
    request_redraw(c);
    c.anim_armed = true;
    c.slider.shine_runs = 1;
    arm(c, kTimerClock, 1000);
    set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
    c.log.printf("SetAllTimer");
}

void kill_all_timer(Context& c, bool release) {
    set_off_lcd(c, 0, 0);
    kill(c, kAnimTimer);
    c.log.printf("Kill Screen Timer");
    if (release) gfx::SuspendScreen(c.screen);
    c.anim_armed = false;
    kill(c, kTimerClock);
    c.log.printf("KillAllTimer s=%d", int(release));
}

void reset_anim_lcd(Context& c) {
    set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
    c.touched = true;
    c.log.printf("ResetAnimLCD");
}

// The shell's full-screen service: the task bar, the input-panel button and the start icon go
// away while the lock screen covers them; leaving brings the task bar and the start icon back.
void full_screen(Context& c, bool on) {
    c.p.windows().full_screen(c.main_window, on ? kFullScreenOn : kFullScreenOff);
}

std::uint64_t now_seconds(Context& c) { return c.p.clock().local_file_time() / 10000000ull; }

void store_last_lock_time(Context& c, std::uint64_t seconds) {
    std::array<std::byte, 8> bytes;
    std::memcpy(bytes.data(), &seconds, 8);
    auto root = catalogue::open_root(c.p.registry());
    if (!root) return;
    catalogue::write_blob(c.p.registry(), root->key, proto::mailbox::kLastLockTime, bytes);
    c.p.registry().flush(root->key);
}

std::uint64_t read_last_lock_time(Context& c) {
    std::array<std::byte, 8> bytes{};
    auto root = catalogue::open_root(c.p.registry());
    if (!root || !catalogue::read_blob(c.p.registry(), root->key, proto::mailbox::kLastLockTime, bytes)) return 0;
    std::uint64_t v = 0;
    std::memcpy(&v, bytes.data(), 8);
    return v;
}

void fade_in_start(Context& c, bool fade) {
    auto& win = c.p.windows();
    c.log.printf("FadeInStart %d", int(fade));
    if (!foreground_is_main(c)) {
        c.log.printf("FG is 0%X", win.foreground_window());
        win.set_foreground_window(c.main_window);
    }
    full_screen(c, true);
    gfx::ResumeScreen(c.screen);
    if (!c.call_end_pending && read_last_lock_time(c) == 0) store_last_lock_time(c, now_seconds(c));
    c.call_end_pending = false;
    c.clock.fade = 0;
    if (fade) closing_curtain(c);
    set_all_timer(c);
    post_service(c, proto::WM_Locked, 0, 0);
    c.locked = true;
}

void read_ringer_mode(Context& c) {
    auto mode = c.p.registry().get_dword(Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode");
    if (!mode) return;
    c.ringer_mode = *mode == 0 ? kRingerSound : *mode == 1 ? kRingerVibrate : kRingerSilent;
}

void haptic_pulse(Context& c) {
    request_redraw(c);
    if (setting(c, Id::HapticFeedback) != 0) post_service(c, proto::WM_Vibrate, proto::kVibrateShortMs, 0);
}

void play_lock_sound(Context& c) {
    if (music_title_shown(c)) return;
    auto path = sound_file(c, Id::LockSound);
    bool haptic = setting(c, Id::HapticFeedback) != 0;
    if (!path.empty()) {
        if (c.ringer_mode == kRingerVibrate) {
            post_service(c, proto::WM_Vibrate, proto::kVibrateLongMs, 0);
        } else if (c.ringer_mode == kRingerSilent) {
            // Silent means silent: only the haptic pulse the user asked for.
            if (haptic) post_service(c, proto::WM_Vibrate, proto::kVibrateShortMs, 0);
        } else {
            if (haptic) post_service(c, proto::WM_Vibrate, proto::kVibrateShortMs, 0);
            // A sound already playing (a ring tone, the music player) is not cut for the lock.
            c.p.sound().play(path, kSoundAsync | kSoundNoDefault | kSoundNoStop);
        }
    } else if (haptic) {
        post_service(c, proto::WM_Vibrate, proto::kVibrateShortMs, 0);
    }
}

void unlock_request(Context& c, bool skip_pending) {
    auto& s = c.slider;
    s.dragging = false;
    s.slide_locked = true;
    s.knob_pos = (s.knob_pos - s.track_left < s.track_right - s.knob_pos) ? s.track_left : s.track_right;
    kill(c, kTimerNotifyView);
    kill(c, kTimerMessageView);
    update_date_only(c);
    haptic_pulse(c);
    auto& reg = c.p.registry();
    std::uint8_t password_lock = 0;
    std::uint32_t password_time = 0;
    if (auto root = catalogue::open_root(reg)) {
        catalogue::read_byte(reg, root->key, catalogue::setting(Id::PasswordLock).name, password_lock);
        catalogue::read_number(reg, root->key, catalogue::setting(Id::PasswordTime).name, password_time);
    }
    std::uint64_t last = read_last_lock_time(c);
    std::uint64_t now = now_seconds(c);
    // A lock time in the future (the clock was set back) proves nothing: the code is asked for.
    std::uint64_t elapsed = now >= last ? now - last : ~std::uint64_t(0);
    c.log.printf("Last Sec %0llX", static_cast<unsigned long long>(last));
    c.log.printf("PasswordTime %d", int(password_time));
    c.log.printf("Elapsed %lld", static_cast<long long>(elapsed));
    if (password_lock == 0 || elapsed <= password_time) {
        unlock(c, true, skip_pending);
        all_to_normal(c);
    } else {
        gfx::ResumeScreen(c.screen);
        reset_anim_lcd(c);
        unlock_sound(c);
        open_password_keypad(c);
    }
}

void unlock(Context& c, bool sound, bool skip_pending) {
    auto& win = c.p.windows();
    c.log.printf("UNLOCK");
    post_service(c, proto::WM_Unlock, 0, 0);
    kill(c, kTimerRepeatLock);
    kill(c, kTimerRepeatCallerLock);
    c.locked = false;
    if (sound) unlock_sound(c);
    store_last_lock_time(c, 0);
    if (c.call.InCallLine == 1) {
        kill(c, kTimerResetLastCall);
        c.call.InCallLine = 0;
    }
    // The curtain draws on the screen it is about to give back.
    bool call_up = c.state == ScreenState::IncomingCall || c.state == ScreenState::CallScreen;
    if (!call_up) {
        if (skip_pending || c.pending_action == 0) {
            bool started = false;
            if (!music_title_shown(c) || setting(c, Id::NoZorp) != 0) {
                std::u16string exe;
                if (auto root = catalogue::open_root(c.p.registry()))
                    catalogue::read_text(c.p.registry(), root->key, catalogue::setting(Id::UnlockRunEXE).name, 261,
                                         exe);
                if (!exe.empty() && device_file_exists(c, exe))
                    started = c.p.processes().shell_execute(exe, u"", true).has_value();
            }
            if (!started) {
                if (sound) opening_curtain(c, true, 6);
                if (setting(c, Id::Unlock2Home) != 0)
                    if (Hwnd home = win.find_window(kDesktopClass, std::nullopt)) win.set_foreground_window(home);
            }
        } else {
            if (sound) opening_curtain(c, true, 6);
            open_pending_action(c);
            c.pending_action = 0;
        }
    }
    kill_all_timer(c, true);
    c.unlock_tick = c.p.clock().tick_count();
    c.unlocked_once = true;
    refresh_panels(c);
    reset_slider(c);
    full_screen(c, false);
    win.show_window(c.main_window, SW_HIDE);
}

void all_to_normal(Context& c) {
    if (c.state == ScreenState::ShutdownSlider) close_shutdown_slider(c);
    if (c.state == ScreenState::VolumeControl || c.state == ScreenState::InCallVolume) close_volume_control(c);
    close_views(c);
}

void on_timer(Context& c, std::uint32_t id) {
    auto& win = c.p.windows();
    switch (id) {
        case kAnimTimer: on_anim_timer(c); return;
        case kTimerIdleBattery: idle_off(c, false); return;
        case kTimerIdleAC: idle_off(c, true); return;
        case kTimerGiveBack: give_screen_back(c); return;
        case kTimerClock: update_clock(c); return;
        case kTimerStarting:
            kill(c, id);
            c.log.printf("WM_Starting");
            fade_in_start(c, true);
            return;
        case kTimerNotifyView:
        case kTimerMessageView:
            if (id == kTimerMessageView) c.log.printf("WM_StartMessage %d", int(c.message_kind));
            on_views_timer(c, id);
            return;
        case kTimerNotifyLeave:
            kill(c, id);
            if (c.state == ScreenState::NotificationView) {
                set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
                close_views(c);
            }
            return;
        case kTimerRepeatLock:
            c.log.printf("WM_StartRepeatLock %d(%d) S=%d", int(c.repeat_count), int(c.locked), int(c.state));
            if (c.locked) fade_in_start(c, false);
            else kill(c, id);
            if (c.repeat_count >= 8) kill(c, id);
            else ++c.repeat_count;
            request_redraw(c);
            return;
        case kTimerRepeatCallerLock:
            c.log.printf("WM_StartRepeatCallerLock %d(%d) S=%d", int(c.repeat_count), int(c.locked), int(c.state));
            if (c.state == ScreenState::ShutdownSlider || c.state == ScreenState::CallScreen) {
                win.set_foreground_window(c.main_window);
                c.log.printf("SetSlideForeground");
            } else if (c.state == ScreenState::IncomingCall) {
                hide_phone_windows(c);
            } else {
                kill(c, id);
            }
            if (++c.repeat_count > 10) kill(c, id);
            return;
        case kTimerSlidePause:
            kill(c, id);
            c.slider.slide_pause = false;
            c.slider.knob_pos = rest_pos(c);
            c.slider.knob_alpha = 0;
            request_redraw(c);
            return;
        case kTimerWeather:
            kill(c, id);
            if (!c.weather_busy && c.worker_event) c.p.sync().set_event(c.worker_event);
            return;
        case kTimerCloseVolume: kill(c, id); close_volume_control(c); return;
        case kTimerCloseShutdown: kill(c, id); close_shutdown_slider(c); return;
        case kTimerBusySmsEnd:
            kill(c, id);
            if (c.state == ScreenState::BusySmsPromptOverApp) {
                // Over another program the question goes at once: nothing of it may fade in
                // over the lock screen when that shows next.
                release_prompt(c);
                kill_all_timer(c, true);
                if (!c.locked) full_screen(c, false);
                win.show_window(c.main_window, SW_HIDE);
                if (Hwnd back = c.call.RestoreWindow; back && win.is_window(back)) {
                    win.show_window(back, SW_SHOW);
                    win.set_foreground_window(back);
                }
                c.call.RestoreWindow = 0;
            } else if (c.state == ScreenState::BusySmsPrompt) {
                set_off_lcd(c, setting(c, Id::OffLCD), setting(c, Id::ACOffLCD));
            }
            c.state = ScreenState::Normal;
            return;
        case kTimerCallTime:
        case kTimerInCall:
            // Repeating: their handler stops them.
            on_call_message(c, WM_TIMER, id, 0);
            return;
        default:
            // The call screens, keypad and volume timers belong to their own parts.
            kill(c, id);
            on_call_message(c, WM_TIMER, id, 0);
            return;
    }
}

LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    auto& win = c.p.windows();
    if (c.main_window == 0) c.main_window = hwnd;
    switch (msg) {
        case WM_CREATE: on_create(c); return 0;
        case WM_CLOSE:
        case WM_DESTROY: orderly_end(c, msg, w); return 0;
        case WM_TIMER: on_timer(c, w); return 0;
        case WM_ACTIVATE: on_activate(c, w); return 0;
        case WM_SETFOCUS: on_set_focus(c, w); return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: on_button_down(c, layout_point(c, l)); return 0;
        case WM_MOUSEMOVE: on_mouse_move(c, layout_point(c, l)); return 0;
        case WM_LBUTTONUP: on_lbutton_up(c, layout_point(c, l)); return 0;
        case WM_KEYDOWN:
        case WM_KEYUP: on_key(c, msg, w, l); return 0;
        case WM_WINDOWPOSCHANGED:
            if (c.starting_up) return 0;
            on_window_pos_changed(c);
            return 0;
        case WM_MOVE:
        case WM_SIZE:
            c.log.printf("WM_%0X", msg);
            if (setting(c, Id::IgnoreScreenRotation) != 0) return win.default_proc(hwnd, msg, w, l);
            return 0;
        case WM_PAINT: return 0;
        case proto::WM_ShowLock: play_lock_sound(c); return 0;
        case proto::WM_LOCK_PASSWORD: {
            std::uint8_t pw = 0;
            std::uint32_t ptime = 0;
            if (auto root = catalogue::open_root(c.p.registry())) {
                catalogue::read_byte(c.p.registry(), root->key, catalogue::setting(Id::PasswordLock).name, pw);
                catalogue::read_number(c.p.registry(), root->key, catalogue::setting(Id::PasswordTime).name, ptime);
            }
            c.log.printf("WM_LOCK_PASSWORD %d", int(pw));
            if (pw) {
                std::uint64_t now = now_seconds(c);
                store_last_lock_time(c, now > ptime ? now - ptime : 1);
                arm(c, kTimerStarting, 0);
                win.post(c.main_window, proto::WM_ShowLock, 0, 0);
                c.locked = true;
            }
            return 0;
        }
        case proto::WM_REPEAT_LOCK:
            c.log.printf("Start WM_REPEAT_LOCK %d", int(w));
            if (c.locked) {
                arm(c, kTimerRepeatLock, 400);
                c.repeat_count = 0;
            }
            return 0;
        case proto::WM_ShowNotification:
            c.log.printf("WM_ShowNotification %d", int(w));
            if (c.state == ScreenState::ShutdownSlider) return 0;
            if (c.state == ScreenState::NotificationView) {
                auto active = c.p.registry().get_string(Root::CurrentUser, u"System\\State\\Shell\\Reminders", u"Active");
                if (active && !active->empty()) {
                    arm(c, kTimerNotifyView, 500);
                    c.view_ticks = 1;
                } else {
                    arm(c, kTimerNotifyLeave, 10000);
                }
                c.log.printf("Active N:%s", to_utf8(active.value_or(u"")).c_str());
            } else {
                arm(c, kTimerNotifyView, 500);
                c.view_ticks = w != 0 ? 0 : 20;
            }
            return 0;
        case proto::WM_ShowMessage:
            if (c.state == ScreenState::ShutdownSlider) return 0;
            arm(c, kTimerMessageView, 300);
            c.view_ticks = 0;
            c.message_kind = std::uint8_t(w);
            c.log.printf("WM_ShowMessage %d", int(w));
            return 0;
        case proto::WM_Unlock:
            if (in(c.state, {ScreenState::PasswordEntry, ScreenState::ShutdownSlider, ScreenState::IncomingCall}))
                return 0;
            unlock_request(c, w == 1);
            return 0;
        case proto::WM_StopAllTimer:
            c.log.printf("WM_StopAllTimer");
            kill_all_timer(c, false);
            return 0;
        case proto::WM_BACKLIGHT_OFF:
            c.log.printf("WM_BACKLIGHT_OFF %d", int(c.state));
            if (c.state == ScreenState::EmergencyCall) return 0;
            if (c.state == ScreenState::PasswordEntry) leave_keypad(c, true);
            all_to_normal(c);
            c.pending_action = 0;
            return 0;
        case proto::WM_AutoStartLocked:
            if (c.state == ScreenState::EmergencyCall) return 0;
            if (c.state == ScreenState::PasswordEntry) {
                leave_keypad(c, false);
                reset_slider(c);
            }
            all_to_normal(c);
            c.pending_action = 0;
            return 0;
        case proto::WM_VardexLocked:
            if (in(c.state, {ScreenState::VolumeControl, ScreenState::IncomingCall, ScreenState::ShutdownSlider}))
                return 0;
            c.log.printf("Vardex Locked: %d, %d", int(w), int(l));
            c.vardex_locked = w == 1;
            if (w == 1 && l == 1) kill_all_timer(c, false);
            return 0;
        case proto::WM_HideIncoming: c.locked = w != 0; return 0;
        case proto::WM_PowerOff:
            kill_all_timer(c, false);
            c.log.printf("Powering OFF");
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            win.key_event(0xDF, KEYEVENTF_SILENT);
            win.key_event(0xDF, KEYEVENTF_SILENT | KEYEVENTF_KEYUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            return 0;
        case proto::WM_ShutDown:
            c.log.printf("WM_ShutDown %d", int(w));
            if (w == proto::kShutDownClosed) {
                kill(c, kTimerCloseShutdown);
                close_shutdown_slider(c);
            } else if (c.state != ScreenState::ShutdownSlider && c.state != ScreenState::IncomingCall) {
                close_volume_control(c);
                open_shutdown_slider(c);
            }
            return 0;
        case proto::WM_VolumeControl:
            if (w == 1) {
                if (!in(c.state, {ScreenState::VolumeControl, ScreenState::InCallVolume, ScreenState::ShutdownSlider}))
                    open_volume_control(c);
            } else {
                arm(c, kTimerCloseVolume, 0);
            }
            return 0;
        case proto::WM_RunCaller:
        case proto::WM_EndCaller:
        case proto::WM_CHANGE_CALLERNUMBER:
        case proto::WM_CHANGE_CALLERNAME:
        case proto::WM_UpdateInCall:
        case proto::WM_UpdateLastCall:
        case proto::WM_Talking:
        case proto::WM_Dialing:
        case proto::WM_CHANGE_INCOMINGPROPNAME:
        case proto::WM_CHANGE_INCOMINGNAME:
        case proto::WM_PowerButtonHangUp: on_call_message(c, msg, w, l); return 0;
        case proto::WM_TalkingChanged:
        case proto::WM_DialingChanged:
        case proto::WM_CallEnded:
        case proto::WM_CallBusy:
            if (c.state == ScreenState::EmergencyCall) on_emergency_message(c, msg, w, l);
            return 0;
        case proto::WM_CHANGE_SN_PHONERINGER:
            read_ringer_mode(c);
            if (l == 0) request_redraw(c);
            return 0;
        case proto::WM_ChangeWallpaper:
            change_wallpaper(c);
            if (l == 0) request_redraw(c);
            return 0;
        case proto::WM_CHANGE_WALLPAPER:
            load_settings(c);
            choose_wallpapers(c);
            load_wallpaper(c);
            if (l == 0) request_redraw(c);
            return 0;
        default:
            if (proto::find_message(msg) || msg == kWeatherResultMessage) {
                on_panel_message(c, msg, w, l);
                return 0;
            }
            return win.default_proc(hwnd, msg, w, l);
    }
}

}  // namespace lumo::lockscreen
