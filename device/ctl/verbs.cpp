// The table of verbs: every form lumo-devctl accepts, its help line and its handler.
#include "ctl.h"

namespace lumo::ctl {

const std::vector<Verb>& verbs() {
    static const std::vector<Verb> table = {
        {"status", nullptr, "", "what the device is and who is connected", verb_status},
        {"shutdown", nullptr, "", "end the device cleanly", verb_shutdown},

        {"reg", "get", "ROOT KEY [NAME]",
         "print a value: 'string TEXT', 'binary HEX' or 'dword DECIMAL' (exit status 1 when it "
         "is missing); without NAME list the key's values and sub-keys",
         verb_reg_get},
        {"reg", "set", "ROOT KEY NAME string|binary|dword VALUE",
         "binary is hex digits, dword decimal or 0x-prefixed hex", verb_reg_set},
        {"reg", "delete", "ROOT KEY [NAME]", "delete a value, or the key with all it holds",
         verb_reg_delete},
        {"reg", "export", "ROOT KEY", "print the key tree as a .reg file", verb_reg_export},
        {"settings", "reload", "",
         "make the lock service (Vardex2) read its settings again, after a 'reg set'",
         verb_settings},

        {"windows", nullptr, "",
         "top-level windows in z-order, one per line: handle, process id, executable, visible, "
         "foreground, class, title (tab-separated)",
         verb_windows},
        {"processes", nullptr, "", "running processes: id and executable path", verb_processes},
        {"start", nullptr, "DEVICE-PATH [ARGS...]",
         "start a program, e.g. '\\Program Files\\Lumo\\lumo.exe'; a bare name is one of "
         "\\Windows (the phone's own programs: iexplore.exe, wmplayer.exe, player.exe, "
         "camera.exe, fmradio.exe, ShutDown.exe)",
         verb_start},
        {"kill", nullptr, "PID", "end a process at once", verb_kill},
        {"lock", nullptr, "", "lock the phone now, as 'Vardex2 -slide' does", verb_lock},
        {"log", nullptr, "[lumo|Vardex2|LumoSettings|LumoC] [-f|--follow]",
         "print the device's log, or a program's log (DebugOn makes the programs log every "
         "event); -f keeps printing what is added until interrupted",
         verb_log},
        {"post", nullptr, "CLASS|HWND MSG WPARAM LPARAM",
         "post a message (numbers in decimal or 0x hex)", verb_post},
        {"send", nullptr, "CLASS|HWND MSG WPARAM LPARAM", "send a message and print the result",
         verb_send},
        {"wait", "window", "CLASS [--visible|--hidden|--foreground|--gone] [--timeout S]",
         "wait (default 10 s) until a window of the class exists, or is as asked; exit status 1 "
         "on timeout",
         verb_wait},
        {"dialogs", nullptr, "", "open message boxes: handle, process, caption, text",
         verb_dialogs},
        {"dialog", "press", "BUTTON [HWND]",
         "answer the newest (or the given) message box: ok, cancel, yes, no, abort, retry, "
         "ignore or a number",
         verb_dialog},
        {"key", "press|down|up", "VK [--silent]", "press and/or release a virtual key", verb_key},
        {"key", nullptr, "VK [press|down|up] [--silent]",
         "the same; a lone VK is pressed and released", verb_key},
        {"time", "boot-age", "MS", "say the device booted MS milliseconds ago", verb_time},
        {"time", "set", "YYYY-MM-DDTHH:MM[:SS]", "set the device's local clock", verb_time},

        {"screenshot", nullptr, "[FILE.png]",
         "save what the display shows (default: a new file in DIR/screenshots) and print where "
         "it went",
         verb_screenshot},
        {"touch", "down|move|up", "X Y", "the stylus at display pixel X, Y", verb_touch},
        {"tap", nullptr, "X Y", "stylus down and up at X, Y", verb_tap},
        {"drag", nullptr, "X1 Y1 X2 Y2 [MS] [--ms MS]",
         "stylus down at X1, Y1, moved in steps to X2, Y2 over MS milliseconds (default 300), "
         "then up",
         verb_drag},
        {"display", "lose-surface", "", "mark the shared DirectDraw surface lost", verb_display},
        {"rotate", nullptr, "0|90|180|270", "turn the display; every window hears of it",
         verb_rotate},

        {"power", "button", "", "press the power button (display off, or wake up)", verb_power},
        {"power", "on|backlight-off|idle|suspend", "", "put the phone in that power state",
         verb_power},
        {"power", "ac", "on|off", "connect or disconnect the charger", verb_power_ac},
        {"power", "capacity", "PERCENT", "set the battery level (0-100)", verb_power_capacity},
        {"power", "status", "",
         "print the power state, 'ac' 0|1, 'battery' PERCENT, 'display' off|dim|on, 'video' "
         "on|off (a program's display switch), 'unattended' requests held, one per line",
         verb_power_status},
        {"sound", "status", "",
         "print 'playing' 0|1, 'current' PATH, 'last' PATH (the last sound that played), "
         "'plays' COUNT, 'volume' HEX and 'output' audio|silent, one per line",
         verb_sound_status},
        {"sound", "play", "DEVICE-PATH [--nostop] [--nodefault]",
         "play a .wav file of the device; exit status 1 when it does not play", verb_sound_play},
        {"sound", "stop", "", "stop the sound that plays", verb_sound_stop},
        {"radio", nullptr, "", "list the radios: 'NAME on|off', one per line", verb_radio_list},
        {"radio", "bluetooth|wifi", "on|off",
         "switch a radio (the published hardware state follows)", verb_radio_set},
        {"notifications", nullptr, "",
         "user notifications set: handle, local time and the event they signal "
         "(tab-separated), one per line",
         verb_notifications},
        {"led", nullptr, "",
         "the last LED pulses, oldest first: LED index and how long it was on ('on' while it "
         "still is); the last LED is the vibrator",
         verb_led},
    };
    return table;
}

}  // namespace lumo::ctl
