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
        {"key", "press|down|up", "VK [--silent] [--ime]",
         "press and/or release a virtual key (--ime: through the input method, as VK_PROCESSKEY)",
         verb_key},
        {"key", nullptr, "VK [press|down|up] [--silent] [--ime]",
         "the same; a lone VK is pressed and released", verb_key},
        {"fullscreen", "on|off", "",
         "the shell's full-screen service for the window in front: on hides the task bar, the "
         "input-panel button and the start icon, off shows the bar and the start icon; prints "
         "the work area left to programs",
         verb_fullscreen},
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
        {"power", "hold", "",
         "hold the power button down: the phone asks whether to switch off (the lock screen's "
         "shutdown slider when Lumo runs)",
         verb_power_hold},
        {"power", "ac", "on|off", "connect or disconnect the charger", verb_power_ac},
        {"power", "capacity", "PERCENT", "set the battery level (0-100)", verb_power_capacity},
        {"power", "status", "",
         "print the power state, 'ac' 0|1, 'battery' PERCENT, 'display' off|dim|on, 'video' "
         "on|off (a program's display switch), 'unattended' requests held, 'idle-timer-resets' "
         "(programs keeping the phone awake), one per line",
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

        {"sms", "send", "FROM TEXT", "an SMS arrives from FROM; prints its id", verb_message_send},
        {"mms", "send", "FROM SUBJECT", "an MMS arrives; prints its id", verb_message_send},
        {"email", "send", "ACCOUNT FROM SUBJECT [--address ADDR]",
         "an e-mail arrives in the account's store (made on first use); prints its id",
         verb_message_send},
        {"voicemail", nullptr, "N", "say N voice mails are waiting", verb_voicemail},
        {"appointment", "add", "SUBJECT START END [--location L] [--all-day] [--yearly]",
         "add to the calendar; START and END are YYYY-MM-DD[THH:MM[:SS]] in the device's local "
         "time (--all-day: whole days from START's to END's, both included); prints its id",
         verb_appointment_add},
        {"appointment", "list", "",
         "the calendar by start: id, start, end, all-day|timed[,yearly], subject, location "
         "(tab-separated)",
         verb_appointment_list},
        {"appointment", "delete", "ID", "remove an appointment", verb_appointment_delete},
        {"task", "add", "SUBJECT [--due DATE] [--importance IMPORTANCE]",
         "add an open task (DATE YYYY-MM-DD; IMPORTANCE 0 low, 1 normal, 2 high); prints its id",
         verb_task_add},
        {"task", "complete", "ID", "mark a task complete", verb_task_complete},
        {"alarm", "set", "TIME|off",
         "set the next alarm (TIME YYYY-MM-DDTHH:MM[:SS], local) or clear it", verb_alarm},
        {"reminder", "fire", "SUBJECT [--location L]", "a reminder becomes active", verb_reminder},
        {"reminder", "dismiss", "", "the active reminder goes away", verb_reminder},
        {"radio", "flight", "on|off", "flight mode: the radio-off bit of the phone's Status",
         verb_radio_flight},

        {"gsm", "signal", "PERCENT", "the signal strength, 0-100 (15 lights one bar, 95 all five)",
         verb_gsm_network},
        {"gsm", "operator", "NAME", "the network operator's name; \"\" for no service", verb_gsm_network},
        {"gsm", "data", "none|gprs|edge|umts|hsdpa|hsupa|hspa", "the cellular data connection",
         verb_gsm_network},
        {"gsm", "forward", "on|off", "unconditional call forwarding", verb_gsm_network},
        {"network", "connections", "N", "the number of open data connections", verb_network},
        {"ringer", nullptr, "sound|vibrate|silent", "the sound mode", verb_ringer},
        {"headset", nullptr, "wired|bt-handsfree|bt-stereo|none", "plug in or take out a headset",
         verb_headset},
        {"cradle", nullptr, "on|off", "put the phone in its cradle or take it out", verb_cradle},
        {"stylus", nullptr, "in|out", "the stylus in its silo or out", verb_stylus},
        {"keyboard", nullptr, "open|close",
         "slide the keyboard out or in (a phone made with --oem htc-pro has one)", verb_keyboard},
        {"sync", nullptr, "on|off", "ActiveSync synchronizing or not", verb_sync},
        {"sensor", "orientation", "0|1|2|3",
         "the G-sensor's orientation in quarter turns (a phone made with --oem htc* has one)", verb_sensor},
        {"owner", nullptr, "NAME [PHONE]", "the owner's name and telephone", verb_owner},
        {"state", nullptr, "",
         "every published state value: ROOT, KEY, NAME, VALUE (tab-separated), one per line",
         verb_state},
        {"gsm", "call", "NUMBER [--name NAME] [--no-caller-id|--out-of-area] [--prop TEXT] [--id-after MS]",
         "a call arrives from NUMBER (with the network's NAME); its caller id withheld, out of area, or "
         "arriving MS milliseconds after the ring; prints the call's id",
         verb_gsm},
        {"gsm", "accept|busy|cancel|hold", "[CALL]",
         "the other end answers a dialled call (or the phone's user answers a ringing one), is busy, "
         "hangs up, or the call goes on hold or back; without CALL the call it fits",
         verb_gsm},
        {"gsm", "list", "",
         "the calls: id, incoming|dialing|connected|onhold|..., inbound|outbound, number, name, "
         "caller-id flags, seconds connected (tab-separated)",
         verb_gsm_list},
        {"gsm", "volume", "[handset|speaker|headset] [VOLUME] [--use]",
         "without arguments print the hook-switch device in use ('in-use' NAME) and each one's "
         "in-call volume (NAME 0xHHHH), one per line; with VOLUME (0-65535) set that device's "
         "volume; --use puts the device in use, as plugging a headset or the speaker button does",
         verb_gsm_volume},
        {"gsm", "dial", "NUMBER", "the phone's user dials NUMBER from the phone application", verb_gsm},
        {"contact", "add", "NAME NUMBER [--email ADDR] [--picture FILE]",
         "add a contact (FILE: a PNG, JPEG, GIF or BMP of at most 60000 bytes); prints its id", verb_contact},
        {"contact", "list", "", "the contacts: id, name, numbers, e-mail, picture|- (tab-separated)",
         verb_contact},
        {"contact", "delete", "ID", "delete a contact", verb_contact},
        {"sim", "add", "NAME NUMBER", "store an entry on the SIM card (texts cut to 30 characters)", verb_sim},
        {"sim", "list", "", "the SIM phone book: index, name, number (tab-separated)", verb_sim},
        {"calllog", nullptr, "[--max COUNT]",
         "the newest calls (default 50): time, flags, missed|incoming|outgoing, number, name, label "
         "(tab-separated; missed is flags & 3 = 0)",
         verb_calllog},
        {"notifications", nullptr, "",
         "user notifications set: handle, local time and the event they signal "
         "(tab-separated), one per line",
         verb_notifications},
        {"led", nullptr, "",
         "the last LED pulses, oldest first: LED index and how long it was on ('on' while it "
         "still is); the last LED is the vibrator",
         verb_led},
        {"weather", "clear", "", "remove every weather program's forecast", verb_weather_clear},
        {"weather", nullptr,
         "spb|weather-panel|pocket|htc-home|user|manila-2d|manila [--icon CODE] [--high DEG] [--low DEG] "
         "[--unit c|f] [--city NAME]",
         "(--icon, --high and --low are needed) that weather program fetched today's forecast: its condition CODE (the program's own, 0-99), "
         "the high and the low in degrees Celsius (or --unit f), written in the program's own format "
         "(registry, forecast file or databases); the lock screen reads the source ShowWeather names",
         verb_weather},
        {"music", "play", "[DEVICE-PATH...]",
         "the music player Zorp plays these .wav files (default: \\My Documents\\My Music), "
         "starting it when it is not running; without files a paused player goes on",
         verb_music},
        {"music", "pause|next|stop", "",
         "press pause or next in the player, or close it (its title goes)", verb_music},
        {"music", "status", "",
         "print 'running', 'state' playing|paused|stopped, 'volume', 'title', 'artist', 'album', "
         "'picture', 'track' N/COUNT and every 'command' the player received, one per line",
         verb_music_status},
    };
    return table;
}

}  // namespace lumo::ctl
