#pragma once
// The lock screen program: one full-screen window that stays alive between locks, one state
// record owned by the main thread, numbered timers, and handlers as plain functions over the
// record. Drawing happens only in the animation timer's handler (and in the curtain animations,
// which draw their own frames). Everything reaches the phone through the platform layer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/gfx/image.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/screen.h"
#include "lumo/lang/lang.h"
#include "lumo/lockscreen/datetime_format.h"
#include "lumo/lockscreen/keypad.h"
#include "lumo/log/log.h"
#include "lumo/platform/display.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/platform.h"

namespace lumo::lockscreen {

using platform::Hwnd;
using platform::LParam;
using platform::WParam;

enum class ScreenState : std::uint8_t {
    Normal = 0,
    IncomingCall = 1,
    CallScreen = 2,
    VolumeControl = 3,
    InCallVolume = 4,
    PasswordEntry = 7,
    EmergencyCall = 8,
    BusySmsPrompt = 9,
    BusySmsPromptOverApp = 10,
    NotificationView = 11,
    MessageView = 12,
    ShutdownSlider = 13,
    MissedCallView = 14,
    TaskView = 18,
};

// Timer ids, named after what they do.
enum Timer : std::uint32_t {
    kTimerIdleBattery = 1025,
    kTimerIdleAC = 1027,
    kAnimTimer = 1029,
    kTimerGiveBack = 1030,
    kTimerClock = 1031,
    kTimerStarting = 1032,
    kTimerCallTime = 1034,
    kTimerResetLastCall = 1035,
    kTimerCloseVolume = 1037,
    kTimerAnswer = 1039,
    kTimerIgnore = 1040,
    kTimerBusySmsOpen = 1042,
    kTimerBusySmsEnd = 1043,
    kTimerNotifyView = 1044,
    kTimerNotifyLeave = 1045,
    kTimerMessageView = 1046,
    kTimerRepeatLock = 1048,
    kTimerRepeatCallerLock = 1049,
    kTimerEmergencyTime = 1050,
    kTimerCloseShutdown = 1051,
    kTimerWeather = 1052,
    kTimerInCall = 1054,
    kTimerSlidePause = 1055,
};

inline constexpr std::uint32_t kAnimPeriodMs = 66;
// The fourth key that moves the knob under DpadOn, beside left, right and escape.
inline constexpr std::uint8_t kVkKnobKey = 92;
// How long a touch holds the system's Lock value at 0.
inline constexpr std::uint32_t kSystemLockPulseMs = 60;
// A view's box and the busy-SMS question fade in and out by this much of 32 per frame.
inline constexpr int kBoxFadeStep = 6;
// RingerMode values.
inline constexpr std::uint8_t kRingerSilent = 1, kRingerSound = 2, kRingerVibrate = 3;
// The private message the weather worker hands its result back with.
inline constexpr std::uint32_t kWeatherResultMessage = 1053;
inline constexpr std::u16string_view kInstanceMutex = u"{1f50acce-07f6-4477-b01f-5a94f1c502e7}";
inline constexpr std::u16string_view kVersionText = u"lumo v2.30";
inline constexpr std::u16string_view kTaskBarClass = u"HHTaskBar";
inline constexpr std::u16string_view kDesktopClass = u"DesktopExplorerWindow";
inline constexpr std::uint32_t kFullScreenOn =
    platform::SHFS_HIDETASKBAR | platform::SHFS_HIDESIPBUTTON | platform::SHFS_HIDESTARTICON;  // 0x2A
inline constexpr std::uint32_t kFullScreenOff = platform::SHFS_SHOWTASKBAR | platform::SHFS_SHOWSTARTICON;  // 0x11

struct SliderState {
    int knob_pos = 0;
    int track_left = 0, track_right = 0, track_centre = 0;
    int knob_width = 0;
    int bar_top = 0, track_top = 0, track_x = 0, knob_top = 0;
    bool dragging = false;
    int last_x = 0;
    std::uint32_t last_move_tick = 0, move_interval = 0;
    double speed = 0, prev_speed = 0;
    double fling_distance = 0;
    std::uint32_t fling_time = 0;
    std::uint8_t key_drive = 0;
    bool slide_locked = false;
    bool slide_pause = false;
    bool dismiss_view_mode = false;
    int text_alpha = 32;
    int shine_phase = 0;
    int shine_runs = 0;
    int knob_alpha = 0;
};
// Which texts the slider shows: the lock screen's, a tapped panel row's, a reminder or message
// view's dismiss/view pair, or the shutdown slider's.
// The call screens have their own: slide to answer, answer/ignore (Slide2End), and the outgoing
// call's unlock/end pair.
enum class SliderTexts : std::uint8_t { Lock, View, DismissView, Shutdown, Answer, AnswerEnd, CallEnd };

inline constexpr int kShineStep = 112;
inline constexpr int kShineFrozen = 3360;
inline constexpr int kShineLast = 3248;
inline constexpr int kShineFrames = 30;

enum class ClockKind : std::uint8_t { Character, Plate, Analogue };
inline constexpr int kClockSlots = 15;
// Room kept free on each side of the big clock, in units.
inline constexpr int kClockMargin = 4;

struct ClockState {
    std::u16string folder;   // relative to gfx, ends in a backslash
    std::u16string format;   // the clock's own picture
    std::u16string time_format, time2_format, date_format;
    bool second = false;     // the second clock folder is in use
    ClockKind kind = ClockKind::Character;
    bool has_blank = false;
    gfx::Image slots[kClockSlots];  // each keeps its decoded picture, to be fitted again
    std::u16string slot_chars;  // mapped file character per slot, as loaded
    bool slot_failed[kClockSlots] = {};  // a picture the time cannot do without did not load
    // The character pictures are drawn at this share of their size, so that the widest time the
    // format makes fits the screen (12-hour formats with seconds are wider than any phone).
    double scale = 1.0;
    // A time that cannot be shown with its pictures is drawn as text instead, whole.
    bool text_mode = false;
    gfx::Image text;
    int text_x = 0;
    std::u16string last;        // the last string shown
    int x = 0, height = 0;
    gfx::Image plate, face, mark, second_hand, minute_hand, hour_hand;
    int plate_x = 0, face_x = 0;
    int last_minute = -1, last_hour = -1, last_hour_pos = -1;
    std::vector<std::u16string> loaded_files;  // every clock file loaded, for tests and logs
    int fade = 0;
    gfx::Image date;
    int date_x = 0;
    std::u16string last_date;
    gfx::Image small_time;
    std::u16string last_small;
    std::u16string last_hhmm;
    int press_x = -1, press_y = -1;
};

struct WallpaperSide {
    std::u16string setting;
    bool folder_mode = false;
    std::u16string folder;  // with its trailing backslash
    std::vector<std::u16string> files;  // the folder's *.jpg, in search order
    std::size_t index = 0;              // of the current file
    std::u16string current;
};

struct WallpaperState {
    WallpaperSide portrait, landscape;
    gfx::Image image;
    int frames = 0;
    int frame_width = 0;
    double position = 1.0;
    std::uint32_t last_step = 0;
    std::u16string loaded;  // the file the image came from
};

// The next alarm and the appointment list under the date.
inline constexpr int kAppointmentSlots = 6;
struct AppointmentPanel {
    gfx::Image alarm;
    int alarm_x = 0;
    std::u16string alarm_text;  // as rendered (time and suffix)
    gfx::Image subject[kAppointmentSlots], time[kAppointmentSlots];
    std::u16string subject_text[kAppointmentSlots], time_text[kAppointmentSlots];
    bool past[kAppointmentSlots] = {};
    int count = kAppointmentSlots;  // records the service said it wrote
    int fade = 0;
    // The four faces of the panel's text, made once for a text height: opening a face reads the
    // font files, which costs more than rendering every record.
    struct Fonts {
        const platform::FontEngine* engine = nullptr;
        int height = 0;
        std::unique_ptr<platform::Font> bold, bold_italic, regular, regular_italic;
    } fonts;
};

// The top bar's indicators, the full-screen battery and the owner line.
inline constexpr int kIconSlots = 5;  // sound mode, Bluetooth, Wi-Fi, headset, data connections
enum BatteryState : std::uint8_t { kOnBattery = 0, kCharging = 1, kFull = 2 };
struct StatusState {
    gfx::Image operator_image;  // logo, flight picture or rendered text
    std::u16string operator_text;  // the text shown, empty for a picture
    int operator_x = 0;
    bool operator_named = false;  // an operator name was read: the signal bars show
    int signal_level = 0;         // 0..5
    std::uint8_t icons[kIconSlots] = {};
    std::uint32_t headset_wired = 0, headset_bluetooth = 0;
    int connection_type = 0;  // 0..7, the frame of conicon.png + 1
    int connection_pulse = 29;
    bool syncing = false;
    gfx::Image diverted;
    std::uint8_t battery_state = kOnBattery;
    std::uint32_t battery_text_colour = 0xE6E6E6;
    gfx::Brush battery_brush;
    int battery_pulse = 29;
    gfx::Image battery_text;
    // The full-screen battery view: per-level pictures (battery0.png ... battery100.png) or the
    // three-part set with its fill and charging mark.
    bool per_level = false;
    int level_picture = -1;  // the per-level picture loaded
    gfx::Image level_image, left, body, right, fill, charge_mark;
    double fill_width = 0;
    int view_alpha = 0;
    bool view_shown = false;
    gfx::Image owner;
    int owner_x = 0, owner_y = 0;
    int banner_right = 0;  // right end of a banner text at the bottom left, 0 when none
};

// The caller screen, the outgoing-call screen, the in-call and last-call lines and the busy-SMS
// question.
struct CallState {
    std::uint8_t CallerState = 0;  // 1 locked, 2 unlocked, 3 call waiting, 4 dialing; 0 none
    bool AnswerPressed = false, IgnorePressed = false, EndPressed = false;
    bool NameKnown = false;      // the in-call name line came from WM_CHANGE_CALLERNAME
    bool NoNumber = false;       // unknown or out of area: no busy SMS possible
    bool BusySmsWanted = false;
    bool HasPicture = false;
    bool PropNameShown = false;  // the property name is shown once per call
    bool talking = false, dialing = false;
    bool answer_slider = false;  // the answer slider rather than the buttons
    bool knob_swapped = false;   // the lock knob waits in saved_knob
    Hwnd PhoneElapsedWindow = 0;
    std::uint8_t InCallLine = 0;  // 0 none, 1 last call, 2 in call
    int line_alpha = 32;
    bool line_fading = false;
    std::u16string name, number;  // as shown
    std::u16string raw_number;    // IncomingNumber as read, for the busy SMS
    std::u16string in_call_name;  // set by WM_CHANGE_CALLERNAME / _CALLERNUMBER
    std::u16string header;        // "dialing %s" on the outgoing-call screen
    gfx::Image picture, name_img, number_img, prop_img, time_img, header_img;
    std::u16string last_time;
    gfx::Image buttons, button_l, button_r;  // as loaded; the wide call-waiting faces below
    gfx::Image wait_faces[3];    // end-and-answer, hold-and-answer, ignore: 2 frames each
    gfx::Image button_text[3];
    gfx::Image saved_knob;
    int header_height = 0, bottom_height = 0;
    // The in-call / last-call line over the lock screen.
    gfx::Image line_title, line_time;
    // The busy-SMS question.
    gfx::Image ptbox, ptbutton, prompt_text, prompt_send, prompt_cancel, captured;
    int prompt_alpha = 0;
    Hwnd RestoreWindow = 0;
    bool prompt_send_down = false, prompt_cancel_down = false;
};

// What a weather reader found (plain data: the worker reads, the main thread makes pictures).
enum class WeatherIcons : std::uint8_t { Numbered, Strip, Htc };
// Where icon and text go: a 50-unit box; the strip's 6-unit inset with a 44-unit text box; the
// HTC sets' own places.
enum class WeatherLayout : std::uint8_t { Box, Strip, HtcHome, HtcManila };
struct WeatherReading {
    int code = 0;  // condition found; 0 = nothing
    WeatherIcons icons = WeatherIcons::Numbered;
    int icon = 0;             // numbered icon or strip cell
    std::u16string htc_icon;  // HH_WEATHER_<this>.png
    std::u16string text;      // "%d°/%d°" and the like
    std::u16string current;   // the current temperature shown before it, when asked for
    WeatherLayout layout = WeatherLayout::Box;
    int source = 0;
};
enum class WeatherOutcome : std::uint8_t { Unchanged, Nothing, Found };

struct WeatherState {
    // What the worker reads, copied by the main thread before it signals (settings may reload
    // on the main thread while the worker runs).
    std::atomic<int> source = 0;
    std::atomic<bool> current_on = false;
    std::atomic<int> fade = 0;  // 0..32, +4 per drawing
    // The worker's result waiting for message 1053, and the last code it handed over.
    std::mutex hand_over;
    std::optional<WeatherReading> pending;
    int last_code = 0;
    // Main thread: what is shown.
    WeatherReading shown;
    int code = 0;
    gfx::Image icon, text;
    int icon_x = 0, icon_y = 0, text_x = 0, text_y = 0;
    int refreshes = 0;  // hand-overs taken, for tests and logs
};

// The music player's panel: title in the date row, buttons, volume bar, album art.
enum MusicButton : int { kMusicPlay = 0, kMusicNext = 1, kMusicPrevious = 2, kMusicKnob = 3, kMusicButtons = 4 };
struct MusicState {
    bool open = false;     // a title is known: the date row shows it
    bool control = false;  // the control view (buttons, bar, artist and album)
    int control_fade = 0;
    std::uint32_t status = 0;  // the player's Status: 0 playing
    int volume = 0;            // 0..100
    std::u16string title, artist, album;  // as shown
    gfx::Image play, pause, forward, backward, knob, bar_on, bar_off;
    int play_x = 0, next_x = 0, previous_x = 0, row_y = 0, bar_x = 0, bar_y = 0, knob_y = 0;
    int pressed_alpha[kMusicButtons] = {};
    int down = -1;  // the button pressed, -1 none
    std::uint32_t down_tick = 0;
    bool repeated = false;  // a held next/previous button repeated: its release is no tap
    bool panel_hidden = false;
    int saved_count = 0;
    bool album_shown = false;
    gfx::Image album_background;  // screen-sized: the art and its reflection
    std::u16string album_file;
    std::vector<std::pair<std::uint32_t, std::int32_t>> sent;  // commands sent (wParam, lParam)
};

// The volume overlay: the system and ring bars with the silent and vibrate buttons, or the
// in-call bar with the telephony phone device it changes.
struct VolumeState {
    Hwnd RestoreWindow = 0;
    bool VolBarDrag = false, RingBarTouched = false, SilentPressed = false, VibratePressed = false;
    bool touch_down = false;
    platform::PhoneAppHandle phone_app = 0;
    platform::PhoneHandle phone = 0;
    std::uint32_t hook_switch_dev = 0;
    gfx::Image bar, button, ibar, background;
    gfx::Image label_system, label_ring, label_volume, label_silent, label_vibrate;
    // Geometry: one bar step, the bars' x, their top, the labels' row, the buttons.
    int step = 0, bar_w = 0, sys_x = 0, ring_x = 0, in_x = 0, y0 = 0, label_y = 0;
    int button_x = 0, silent_x = 0, vibrate_x = 0, silent_y = 0, vibrate_y = 0, button_w = 0, button_h = 0;
};

// The shutdown slider over a greyed screen, with its cancel button.
struct ShutdownState {
    ScreenState StateBeforeShutdown = ScreenState::Normal;
    Hwnd RestoreWindow = 0;
    bool CancelPressed = false;
    int CancelTop = 0;
    int cancel_x = 0, cancel_w = 0, cancel_h = 0;
    int top_travel = 0, cancel_travel = 0;  // how far the curtain animation moves them
    int top_offset = 0, cancel_offset = 0;
    gfx::Image background, cancel, cancel_text, saved_knob;
    bool knob_swapped = false;
    bool powering_off = false;
};

// The notification row above the slider and the pop-up views opened from it.
inline constexpr int kNoticeSlots = 9;
struct MissedCallLine {
    std::u16string name, time;  // as shown
    bool picture_found = false;  // a contact picture (else nopic.png / unknown.png)
};
struct ViewsState {
    std::uint32_t counts[kNoticeSlots] = {};
    int icon_fade[kNoticeSlots] = {};   // 0..24
    int badge_fade[kNoticeSlots] = {};  // 0..32
    int badge_half[kNoticeSlots] = {};  // the half of RedCircle.png last shown
    gfx::Image count_text[kNoticeSlots];
    // The box of the open view, its place, its fade, and the view that built it.
    gfx::Image box;
    int box_x = 0, box_y = 0, box_alpha = 0;
    ScreenState box_state = ScreenState::Normal;
    // What the open view shows, kept for the log and for tests.
    std::u16string reminder_name;  // the reminder shown (its key name under Reminders)
    std::u16string title, sender, time_line, body, account, hint;
    bool has_picture = false;
    std::vector<std::u16string> task_lines;
    std::vector<bool> task_bold;
    std::vector<MissedCallLine> missed;
    bool more = false;  // "..." below the list
    int text_lines = 0;  // lines of the message text or the reminder's description as shown
};

// What the program's context needs from outside: the phone and its display, and the clocks
// the curtain animations pace themselves with.
struct Context {
    Context(platform::Platform& platform, platform::Display& display);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Platform& p;
    platform::Display& display;
    gfx::FrameClock* frame_clock = nullptr;  // nullptr: the system's
    std::u16string command_line;

    catalogue::Values settings;
    lang::Texts texts;
    log::Log log;
    std::unique_ptr<log::Environment> log_env;
    DateTimeLocale system_locale;

    Hwnd main_window = 0;
    Hwnd task_bar = 0;
    std::u16string program_folder;
    int screen_width = 0, screen_height = 0;
    int orientation = 0;  // rotation code
    bool start_hidden = false;
    bool locked = false;
    bool starting_up = true;
    // A focus (a lock request of the service) that came while starting up, kept for its end.
    bool focus_during_startup = false;
    WParam startup_focus_w = 0;
    bool anim_armed = false;
    bool anim_starting = false;  // the animation timer was armed for an immediate first tick
    bool call_end_pending = false;
    bool vardex_locked = false;
    bool touched = false;
    ScreenState state = ScreenState::Normal;
    std::uint8_t pending_action = 0;
    std::uint8_t repeat_count = 0;
    std::uint8_t view_ticks = 0;
    std::uint8_t message_kind = 0;
    std::uint32_t idle_since = 0;
    std::uint32_t unlock_tick = 0;
    bool unlocked_once = false;
    bool on_ac = false;
    std::uint8_t ringer_mode = kRingerSound;
    std::uint32_t battery = 100;
    std::atomic<bool> weather_busy = false;

    gfx::Screen screen;
    int display_mode = 0;  // the back-end actually opened
    std::unique_ptr<platform::Imaging> imaging;
    std::unique_ptr<platform::FontEngine> fonts;
    gfx::Image topbar, ftopbar, ppressed, system_icons, notice, red_circle, triangle, knob, track,
        conicon;
    gfx::Brush light_grey, blue, red;

    SliderState slider;
    gfx::Image slider_text[2];
    SliderTexts slider_texts = SliderTexts::Lock;
    std::u16string slider_left_text, slider_right_text;
    std::vector<gfx::Image> shine;
    ClockState clock;
    WallpaperState wallpaper;
    AppointmentPanel appointments;
    StatusState status;
    WeatherState weather;
    MusicState music;
    std::minstd_rand random;

    // The scene's offsets and alpha while a curtain animation runs.
    int top_offset = 0, bottom_offset = 0, scene_alpha = 32;
    int frames_presented = 0;

    CallState call;
    KeypadState keypad;
    VolumeState volume;
    ShutdownState shutdown;
    ViewsState views;
    // The contacts store the caller's picture comes from (none: no pictures): the phone's.
    std::unique_ptr<gfx::ContactPictures> phone_contacts;
    gfx::ContactPictures* contacts = nullptr;

    platform::SyncHandle quit_event = 0;
    std::atomic<platform::SyncHandle> worker_event = 0;  // made by the worker itself
    std::thread worker;
    std::atomic<bool> worker_done = false;
};

// --- start-up (main.cpp's whole job) ----------------------------------------------------------
enum class EntryResult { Ended, Running };
// Runs the entry steps: the running-instance messages, the mutex, the installation check, the
// service, the log and start-up. Running: the window exists and the message loop is next.
EntryResult enter(Context& c, std::u16string_view command_line);
// Start-up proper; false when the program is to end.
bool start_up(Context& c);
void on_create(Context& c);
void orderly_end(Context& c, std::uint32_t msg, WParam w);
// Dispatches until the quit message.
int message_loop(Context& c);
// What the executable does: enter, then loop.
int run_program(platform::Platform& p, platform::Display& display, std::u16string_view command_line);

// Pictures the lock screen cannot be left without (the knob, the track): when one cannot be
// loaded a drawn stand-in takes its place and the log says so. False when the stand-in is used.
using DrawnPicture = void (*)(Context&, gfx::Image&);
bool load_needed_picture(Context& c, gfx::Image& img, std::u16string_view file, DrawnPicture draw);
void draw_knob_picture(Context& c, gfx::Image& img);
void draw_track_picture(Context& c, gfx::Image& img);

// Files of the running phone as the program sees them.
bool device_file_exists(Context& c, std::u16string_view device_path);
std::u16string gfx_path(const Context& c, std::u16string_view file);
Hwnd service_window(Context& c);
void post_service(Context& c, std::uint32_t msg, WParam w, LParam l);

// --- window procedure and states -------------------------------------------------------------
platform::LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l);
void on_timer(Context& c, std::uint32_t id);
void set_off_lcd(Context& c, std::uint32_t battery_s, std::uint32_t ac_s);
void set_all_timer(Context& c);
void kill_all_timer(Context& c, bool release);
void reset_anim_lcd(Context& c);
void request_redraw(Context& c);
void full_screen(Context& c, bool on);
void fade_in_start(Context& c, bool fade);
void unlock_request(Context& c, bool skip_pending);
void unlock(Context& c, bool sound, bool skip_pending);
void all_to_normal(Context& c);
void play_lock_sound(Context& c);
// RingerMode from the shell's sound overrides (0 sound, 1 vibrate, else silent); kept when absent.
void read_ringer_mode(Context& c);
void haptic_pulse(Context& c);
void store_last_lock_time(Context& c, std::uint64_t seconds);
std::uint64_t read_last_lock_time(Context& c);
std::uint64_t now_seconds(Context& c);
void load_settings(Context& c);

// States whose own part is built later: these are the names the state machine calls.
void open_password_keypad(Context& c);
void leave_keypad(Context& c, bool animate);
void open_volume_control(Context& c);
void close_volume_control(Context& c);
void open_shutdown_slider(Context& c);
// Without `quick` the slider leaves with its closing animation.
void close_shutdown_slider(Context& c, bool quick = true);
void on_call_message(Context& c, std::uint32_t msg, WParam w, LParam l);
// The phone's contacts as the picture loader asks them.
std::unique_ptr<gfx::ContactPictures> make_contact_pictures(platform::Platform& p);
// --- the call screens ----------------------------------------------------------------------------
bool in_call_screen(const Context& c);
// The incoming-call screen shows the answer slider (else its buttons).
bool answer_slider_shown(const Context& c);
// Stylus and keys while a call screen or the busy-SMS question is up; false when not theirs.
bool call_touch(Context& c, std::uint32_t msg, int x, int y);
bool call_key(Context& c, std::uint32_t msg, std::uint8_t vk, LParam l);
// The slider's ends on the call screens; false when the slider is not a call screen's.
bool call_slider_end(Context& c, bool right);
void compose_call_screen(Context& c);
void compose_busy_prompt(Context& c);
// The busy-SMS question over the lock screen fades out after it ended.
bool busy_prompt_fading(const Context& c);
void draw_fading_busy_prompt(Context& c);
void release_busy_prompt(Context& c);
void draw_in_call_line(Context& c);
void hide_phone_windows(Context& c);
void relayout_call_screen(Context& c);
// The caller's number as shown: "unknown", "outofarea" and the canonical form.
std::u16string display_number(const Context& c, std::u16string_view number, bool* no_number);
void on_emergency_message(Context& c, std::uint32_t msg, WParam w, LParam l);
// --- the notification row and the views (notification_row.cpp, views.cpp) ------------------------
void open_reminder_view(Context& c);
void open_message_view(Context& c);
void open_missed_call_view(Context& c);
void open_task_view(Context& c);
// Returns a view to Normal. Leaving (the default) also does what leaving means for its item
// (dismiss, mark read, clear the missed calls); false only closes it to make room for another.
void close_views(Context& c, bool leaving = true);
void open_pending_action(Context& c);
// A count message of the row; false when the message is not one.
bool on_count_message(Context& c, std::uint32_t msg, WParam w, LParam l);
// A press in Normal or a view that the slider did not take: the row's icons and the box.
bool views_touch(Context& c, int x, int y);
void draw_notification_row(Context& c);
void draw_view_box(Context& c);
// After the screen turned: the open view's box built again for the new shape.
void relayout_view(Context& c);
// The row or a box still fades: the animation timer keeps running.
bool views_animating(const Context& c);
// Where the row stands (its top) and its left end as drawn now; for the owner line.
int notification_row_top(const Context& c);
int notification_row_left(const Context& c);
void refresh_panels(Context& c);
void on_panel_message(Context& c, std::uint32_t msg, WParam w, LParam l);
void refresh_weather(Context& c);
void refresh_alarm_line(Context& c);
// The alarm line and appointment panel (appointments.cpp).
void reload_appointments(Context& c, int count);
void draw_appointment_panel(Context& c);
// The alarm's suffix for the time left: " (in 1 day 3 hours)", or empty under a minute.
std::u16string alarm_suffix(const Context& c, std::int64_t seconds_left);
bool music_title_shown(Context& c);

// --- input and scenes of the states with parts of their own -----------------------------------
// Stylus messages (button down, move, up) of the keypad, the volume control, the shutdown
// slider, the views and the panels; false when the current state has nothing there for them.
bool route_to_state_touch(Context& c, std::uint32_t msg, int x, int y);
// Key down and up of the keypad, the volume control, the shutdown slider and the music keys of
// the lock screen (their release too); false when the current state does not take the key.
bool route_to_state_keys(Context& c, std::uint32_t msg, std::uint8_t vk, LParam l);
// --- weather and the music panel (weather.cpp, music.cpp) ----------------------------------------
// Copies what the weather worker reads from the settings; the main thread calls it.
void snapshot_weather_settings(Context& c);
// One reader run for a source, on any thread; fills `out` when something was found.
WeatherOutcome read_weather(Context& c, int source, bool current_on, WeatherReading& out);
// Message 1053: the worker's result becomes the shown weather.
void take_weather(Context& c, WParam fade);
void draw_weather(Context& c);
// The player's messages and the weather's; false when the message is none of them.
bool on_music_weather_message(Context& c, std::uint32_t msg, WParam w, LParam l);
void update_music_title(Context& c);
void update_music_album(Context& c);
// After a turn of the screen: the panel's texts, places and album art, and the weather's
// places, laid out again.
void relayout_music(Context& c);
void relayout_weather(Context& c);
// Keys and touches in Normal while the panel is open; true when they were the panel's.
bool music_key(Context& c, unsigned vk, bool down);
bool music_touch(Context& c, std::uint32_t msg, int x, int y);
void draw_music_controls(Context& c);
// The appointment panel gives way to the control view.
bool appointments_hidden_by_music(const Context& c);
// The unlock brings a playing player forward.
void bring_music_player_forward(Context& c);
// Posts a command to the player's window (dropped when there is none).
void music_command(Context& c, std::uint32_t command, std::int32_t l = 0);
// --- the volume overlay and the shutdown slider ---------------------------------------------------
// Stylus and keys in the volume states and the shutdown slider; false when not theirs.
bool volume_touch(Context& c, std::uint32_t msg, int x, int y);
bool volume_key(Context& c, std::uint32_t msg, std::uint8_t vk);
bool shutdown_touch(Context& c, std::uint32_t msg, int x, int y);
void compose_volume(Context& c);
void compose_shutdown(Context& c);
// The shutdown slider's knob reached an end: the phone is switched off.
void shutdown_slider_end(Context& c);
// Both lay themselves out again after the screen turned.
void relayout_volume(Context& c);
void relayout_shutdown(Context& c);
void relayout_overlays(Context& c);

// --- drawing ------------------------------------------------------------------------------------
// The lock screen's own scene: wallpaper (or battery view), panels, slider.
void compose_lock_scene(Context& c);
// Composes the current state's frame into the back buffer.
void compose_frame(Context& c);
// Composes and presents; the AnimTimer handler's drawing step.
void draw_frame(Context& c);
// The closing (lock) and opening (unlock) curtains.
void closing_curtain(Context& c);
void opening_curtain(Context& c, bool fade, int frames);

// --- slider --------------------------------------------------------------------------------------
void layout_slider(Context& c);
int rest_pos(const Context& c);
void set_knob_position(Context& c, int x);
void guarded_move(Context& c, int x);
void start_drag(Context& c, int x, int y);
void drag_to(Context& c, int x, int y);
void end_drag(Context& c, int x, int y);
void slide_tick(Context& c);
void fling_step(Context& c);
void reset_slider(Context& c);
void set_slider_texts(Context& c, SliderTexts kind);
void make_slider_texts(Context& c);
void draw_slider(Context& c);
bool slider_animating(const Context& c);

// --- clock and date ------------------------------------------------------------------------------
void load_clock(Context& c);
void update_clock(Context& c, bool reload = false);
void update_date_only(Context& c);
void draw_clock(Context& c);
void switch_clock(Context& c);
// The clock file that shows a character of the formatted time ("C" for ':', "S" for others).
char16_t clock_file_char(char16_t ch);
// The share of their size the character pictures get so that the clock format's widest time
// fits between the margins (1 when it fits as drawn).
double clock_fit_scale(Context& c);
// Left and right end of what the big clock draws, in screen pixels.
std::pair<int, int> clock_extent(const Context& c);

// --- status indicators ---------------------------------------------------------------------------
// Everything the top bar shows, read from the phone's published state (start-up).
void read_status(Context& c);
// A state message of the service that changes an indicator; false when it is not one.
bool on_status_message(Context& c, std::uint32_t msg, WParam w, LParam l);
// WM_UpdateBattery: level and external power.
void update_battery(Context& c, std::uint32_t level, bool external_power);
void read_operator(Context& c);
void make_owner_line(Context& c);
// Signal bars lit for a raw strength of 0..100.
int signal_level_of(std::uint32_t raw);
// The connection type shown for the cellular system's flags (the highest set bit, 1..7, or 0).
int connection_type_of(std::uint32_t flags);
// The full-screen battery view is drawn in place of the wallpaper.
bool battery_view_covers(const Context& c);
void draw_battery_view(Context& c);
void draw_status_bar(Context& c);
void draw_owner_line(Context& c);
// One frame of the pulses, the fill sweep and the view's fade.
void step_status(Context& c);
// Something of the status moves: the animation timer keeps running.
bool status_animating(const Context& c);

// --- wallpaper -----------------------------------------------------------------------------------
void choose_wallpapers(Context& c);
void load_wallpaper(Context& c);
void change_wallpaper(Context& c);
void draw_wallpaper(Context& c, int alpha);
bool is_landscape(int rotation);

}  // namespace lumo::lockscreen
