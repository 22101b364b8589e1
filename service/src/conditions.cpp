// Lock conditions: the exception list, the music test, the keyboard hook for the volume keys and
// the hardware triggers (stylus, keyboard slide, cradle).
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::u16string_view kZorpTitle = u"CurrentTitle";
constexpr std::u16string_view kAudioManager3D = u"Software\\HTC\\AudioManager_Eng\\information";
constexpr std::u16string_view kAudioManager2D = u"Software\\HTC\\AudioManager\\information";
constexpr std::u16string_view kAudioStatus = u"status";
constexpr std::uint32_t kAudioPlaying = 4;
constexpr std::u16string_view kPlayers[] = {u"wmplayer.exe", u"player.exe", u"PocketMusic.exe",
                                            u"PocketPlayer.exe"};

// Foreground programs whose own use of the volume keys wins, and windows that take the keys.
constexpr std::u16string_view kKeyOwnerPrefixes[] = {u"PlayerFullScreen", u"FMRadioMain"};
constexpr std::u16string_view kKeyOwnerClasses[] = {u"camera", u"arcsoft_camera", u"fmradiomain",
                                                    u"MITSCAMERA"};

constexpr std::uint8_t kVkVolumeUp = 117;
constexpr std::uint8_t kVkVolumeDown = 118;
constexpr std::uint8_t kVkVolumePrefix = 92;  // some phones send it before their volume-up key
constexpr std::uint8_t kVkSkipNext = 200;
constexpr std::uint8_t kVkPower = 223;

constexpr std::uint32_t kKeyboardOpenExtraMs = 1000;
constexpr std::size_t kExceptionNameMax = 50;

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

// File names on the phone compare without regard to case.
bool same_name(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string exceptions_joined(State& s, std::size_t first) {
    std::string joined;
    std::lock_guard lock(s.SettingsMutex);
    for (std::size_t i = first; i < first + 10; ++i) {
        if (i > first) joined += ',';
        joined += to_utf8(s.Exceptions[i]);
    }
    return joined;
}

// The key event as the volume rules see it; true swallows it.
bool key_hook(State& s, const KeyEvent& key) {
    auto& win = s.platform->windows();
    if (s.LcdOff) return false;
    trace(s, "Key: 0x%0X", unsigned(key.vk));
    if (!setting(s, Id::VolumeControl) || s.Incoming) return false;
    if (auto fg = win.window_info(win.foreground_window())) {
        for (auto prefix : kKeyOwnerPrefixes)
            if (starts_with(fg->class_name, prefix)) return false;
    }
    for (auto cls : kKeyOwnerClasses)
        if (win.find_window(cls, std::nullopt)) return false;
    if (s.SkipKeys > 0) {
        s.LastKey = 0;
        --s.SkipKeys;
        trace(s, "Skipped: 0x%0X (%d)", unsigned(key.vk), int(s.SkipKeys.load()));
        return false;
    }
    switch (key.vk) {
        case kVkVolumeUp:
            if (s.LastKey == kVkVolumePrefix) {
                s.SkipKeys = 2;
                return false;
            }
            [[fallthrough]];
        case kVkVolumeDown: {
            Hwnd lumo = find_slide_window(s);
            const bool lumo_in_front = lumo && win.foreground_window() == lumo;
            if (!lumo || s.VolumeControlShown ||
                (!setting(s, Id::NoVolumeKeyLock) && lumo_in_front))
                return false;
            win.send(lumo, pr::WM_VolumeControl, 1, 0);
            ++s.SkipKeys;
            return true;
        }
        case 38:
        case 39:
        case 40:
        case kVkPower:
            return false;
        case kVkSkipNext:
            s.SkipKeys = 1;
            return true;
        default:
            s.LastKey = key.vk;
            return false;
    }
}

}  // namespace

void read_exception_list(State& s) {
    auto& reg = s.platform->registry();
    auto key = reg.create_key(Root::CurrentUser, pr::kExceptionsKey);
    std::array<std::u16string, catalogue::kExceptionCount> list;
    for (std::size_t n = 0; n < list.size(); ++n) {
        auto name = catalogue::exception_value_name(n);
        auto def = n < catalogue::kDefaultExceptions.size() ? catalogue::kDefaultExceptions[n]
                                                            : std::u16string_view{};
        auto value = reg.get_string(Root::CurrentUser, pr::kExceptionsKey, name);
        if (!value) {
            // A missing (or unreadable) entry gets its default, and keeps it from now on.
            value = std::u16string(def);
            if (key) reg.set_string(Root::CurrentUser, pr::kExceptionsKey, name, def);
        }
        if (value->size() > kExceptionNameMax) value->resize(kExceptionNameMax);
        list[n] = std::move(*value);
    }
    std::lock_guard lock(s.SettingsMutex);
    s.Exceptions = std::move(list);
}

bool exception_is_running(State& s) {
    trace(s, "ExceptionIsRunning ?");
    if (s.verbose) {
        trace(s, "Check if running %s", exceptions_joined(s, 0).c_str());
        trace(s, "Check if running %s", exceptions_joined(s, 10).c_str());
    }
    decltype(s.Exceptions) list;
    {
        std::lock_guard lock(s.SettingsMutex);
        list = s.Exceptions;
    }
    const bool front_only = setting(s, Id::ExceptionEXEisFG) != 0;
    auto& win = s.platform->windows();
    std::uint32_t front_pid = 0;
    if (front_only) {
        if (auto info = win.window_info(win.foreground_window())) front_pid = info->process_id;
    }
    for (const auto& process : s.platform->processes().snapshot()) {
        for (const auto& entry : list) {
            if (entry.empty() || !same_name(process.exe_file, entry)) continue;
            if (!front_only) {
                trace(s, "%s is running", to_utf8(entry).c_str());
                return true;
            }
            if (process.id == front_pid) {
                trace(s, "%s is running FG", to_utf8(entry).c_str());
                return true;
            }
        }
    }
    return false;
}

bool music_is_running(State& s) {
    auto& reg = s.platform->registry();
    trace(s, "MusicIsRunning ?");
    auto title = reg.get_string(Root::CurrentUser, pr::kZorpKey, kZorpTitle);
    if (title && !title->empty()) {
        trace(s, "Zorp is playing");
        return true;
    }
    if (reg.get_dword(Root::LocalMachine, kAudioManager3D, kAudioStatus) == kAudioPlaying) {
        trace(s, "AudioManager 3D is playing");
        return true;
    }
    if (reg.get_dword(Root::LocalMachine, kAudioManager2D, kAudioStatus) == kAudioPlaying) {
        trace(s, "AudioManager 2D is playing");
        return true;
    }
    for (const auto& process : s.platform->processes().snapshot()) {
        for (auto player : kPlayers) {
            if (same_name(process.exe_file, player)) {
                trace(s, "%s is running", to_utf8(player).c_str());
                return true;
            }
        }
    }
    trace(s, "No Music is running");
    return false;
}

void keyboard_hook_on(State& s) {
    if (setting(s, Id::NoKeyBoardHook) || s.KeyHookRefused) return;
    auto& win = s.platform->windows();
    if (s.KeyHook) {
        trace(s, "Already Key Hooked");
        return;
    }
    // The hook functions come from the system library; a phone without them has no hook, and
    // nothing is said about it.
    auto& proc = s.platform->processes();
    if (!s.HookLibrary) {
        s.HookLibrary = proc.load_library(u"coredll.dll");
        bool found = s.HookLibrary != 0;
        for (auto fn : {u"SetWindowsHookExW", u"UnhookWindowsHookEx", u"CallNextHookEx"})
            found = found && proc.library_function(s.HookLibrary, fn, false);
        if (!found) {
            trace(s, "No hook functions in coredll.dll");
            if (s.HookLibrary) proc.free_library(s.HookLibrary);
            s.HookLibrary = 0;
            return;
        }
    }
    s.SkipKeys = 0;
    s.LastKey = 0;
    s.KeyHook = win.set_keyboard_hook([&s](const KeyEvent& key) { return key_hook(s, key); });
    if (!s.KeyHook) {
        trace(s, "Turn on Key Hook failed");
        // Said once; the volume keys stay the system's for the rest of the run.
        s.KeyHookRefused = true;
        proc.free_library(s.HookLibrary);
        s.HookLibrary = 0;
        win.message_box(s.ServiceWindow, kKeyHookFailedText, kClosingCaption,
                        MB_OK | MB_SETFOREGROUND);
        return;
    }
    trace(s, "Turn on Key Hook %0X", unsigned(s.KeyHook));
}

void keyboard_hook_off(State& s) {
    if (!s.KeyHook) return;
    if (s.platform->windows().remove_keyboard_hook(s.KeyHook)) {
        trace(s, "Turn off Key Hook");
    } else {
        trace(s, "Turn off Key Hook failed");
    }
    s.KeyHook = 0;
    if (s.HookLibrary) s.platform->processes().free_library(s.HookLibrary);
    s.HookLibrary = 0;
}

LResult on_condition_change(State& s, std::uint32_t msg, WParam w, LParam) {
    forward_state(s, msg, w);
    switch (msg) {
        case pr::WM_CHANGE_HEADPHONE:
            on_headphone_change(s, msg, w);
            break;
        case pr::WM_CHANGE_STYLUS:
            if (!setting(s, Id::StylusOutUnlock)) break;
            if (w != 0) {
                delayed_unlock(s, 0);
            } else if (setting(s, Id::StylusInLock)) {
                lock_now_by_trigger(s);
            }
            break;
        case pr::WM_CHANGE_KEYBOARDSLIDE:
            if (!setting(s, Id::KeyboardOpenUnlock)) break;
            if (w != 0) {
                delayed_unlock(s, kKeyboardOpenExtraMs);
            } else if (setting(s, Id::KeyboardCloseLock)) {
                lock_now_by_trigger(s);
            }
            break;
        case pr::WM_CHANGE_CRADLE:
            if (w == 0) break;
            switch (setting(s, Id::ActionOnCradle)) {
                case 1: delayed_unlock(s, 0); break;
                case 2: lock_now_by_trigger(s); break;
                default: break;
            }
            break;
        default:
            break;
    }
    return 0;
}

void on_timer_hook_on(State& s) {
    keyboard_hook_on(s);
}

}  // namespace lumo::service
