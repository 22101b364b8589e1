#pragma once
// The settings program: one full-screen window, one state record owned by the main thread,
// numbered timers, and handlers as plain functions over the record. The pages are arrays of
// generic item records built from the catalogue at start and copied back only by "Save".
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/gfx/kinetic_scroll.h"
#include "lumo/gfx/image.h"
#include "lumo/gfx/screen.h"
#include "lumo/gfx/text.h"
#include "lumo/lang/lang.h"
#include "lumo/log/log.h"
#include "lumo/platform/display.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/platform.h"

namespace lumo::settings {

using platform::Hwnd;
using platform::LParam;
using platform::WParam;

enum class ScreenState : std::uint8_t {
    MainMenu = 0,
    Page = 1,
    Password = 2,
    SleepTimer = 3,
    Theme = 4,
    Language = 5,
    Exceptions = 6,
};

enum Timer : std::uint32_t {
    kTimerDisplay = 1029,  // every 60 ms while a fling carries the list on
    kTimerExit = 1030,
    kTimerThemeProgress = 1031,  // redraws the theme page's bar while a worker runs
    kTimerStart = 1032,
    kTimerKeepAwake = 1033,      // resets the idle timer while a theme is saved or loaded
    kTimerSaveDone = 1034,       // a worker's completion, run on the window thread
    kTimerLoadDone = 1035,
};
inline constexpr std::uint32_t kThemeProgressPeriodMs = 100;
inline constexpr std::uint32_t kDisplayPeriodMs = 60;

// Messages that mean this only to the settings window.
inline constexpr std::uint32_t kMsgLockSoundChanged = 0x8028;
inline constexpr std::uint32_t kMsgUnlockSoundChanged = 0x8029;
inline constexpr std::uint32_t kMsgWallpaperChanged = 0x802A;
inline constexpr std::uint32_t kMsgWallpaperLChanged = 0x802B;
inline constexpr std::uint32_t kMsgUnlockRunExeChanged = 0x802D;
inline constexpr std::uint32_t kMsgExceptionPicked = 0x802E;
inline constexpr std::uint32_t kMsgBrowse = 0x8062;  // to LumoC: browse mode; from LumoC: theme

enum BrowseMode : std::uint32_t {
    kBrowsePortrait = 0,
    kBrowseLandscape = 1,
    kBrowseLockSound = 2,
    kBrowseUnlockSound = 3,
    kBrowseTheme = 4,
    kBrowseUnlockProgram = 5,
    kBrowseException = 6,
};

inline constexpr std::u16string_view kInstanceMutex = u"{6d1d6c1e-5a0b-4b7e-9d8e-2b8c5f1e4c31}";
inline constexpr std::u16string_view kVersionText = u"Lumo v2.30 by Vesk";
inline constexpr std::u16string_view kExportFile = u"lumo Settings.reg";
inline constexpr std::u16string_view kHomePage = u"https://lumo.vesk.dev/";
inline constexpr std::u16string_view kDonatePage = u"https://lumo.vesk.dev/donate";
inline constexpr std::u16string_view kBrowserExe = u"\\Windows\\iexplore.exe";
inline constexpr std::u16string_view kBrowserProgram = u"lumoc.exe";
inline constexpr std::u16string_view kThemeFile = u"theme.lumo";
inline constexpr std::u16string_view kLanguagePack = u"LumoLanguagePack.zip";

// Item kinds; the numbers are the pages' own.
enum Kind : std::uint8_t {
    kHeading = 0,
    kCheck = 1,
    kOffSeconds = 2,
    kPictureMode = 3,
    kThreeOnlyLocked = 4,
    kThreeCharging = 5,
    kHundreds = 6,
    kThreeLockUnlock = 7,
    kThreeZorp = 8,
    kPassword = 9,
    kSeconds = 10,
    kNumber11 = 11,
    kMinutes = 12,
    kNumber13 = 13,
    kDays = 14,
    kNumber15 = 15,
    kThreeGlow = 16,
    kNumber17 = 17,
    kCountryCode = 18,
    kThreeTask = 19,
    kDisplayModes = 20,
    kAlignment3 = 21,
    kTextSizes = 22,
    kThreeFloat = 23,
    kThreeBt = 24,
    kAlignment2 = 25,
    kExceptionList = 29,
    kDateFormat = 30,
    kTimeFormat = 31,
    kAptTimeFormat = 32,
    kAptDateFormat = 34,
    kTime2Format = 35,
    kWeather = 50,
    kClockFolder = 53,
    kPasswordDelay = 54,
    kClock2Folder = 55,
    kPortraitFile = 61,
    kLandscapeFile = 62,
    kLockSoundFile = 63,
    kUnlockSoundFile = 64,
    kSleepTimerItem = 65,
    kUnlockProgram = 66,
    kHomePageLink = 98,
    kDonate = 99,
};

inline constexpr std::uint8_t kNotOffered = 255;
inline constexpr int kPageCount = 14;
inline constexpr int kMaxItems = 20;
inline constexpr int kThemePage = 9, kLanguagePage = 10, kAboutPage = 13;

struct Item {
    std::u16string label;
    std::uint8_t kind = kHeading;
    std::int32_t value = 0;
    std::int32_t max = 0;
    std::uint8_t parent = 0;
    std::uint8_t separator = 0;
    // Where the value lives: a catalogue row, or -1 for items without one.
    int setting = -1;
    // The entries of a text choice (format lists, clock folders); the last one holds a stored
    // text that matches none, so that a save writes it back unchanged.
    std::vector<std::u16string> choices;
};

struct Page {
    std::u16string title;
    std::vector<Item> items;  // at most kMaxItems
};

// One step of a minus or plus tap for a kind; the value unchanged when the kind has no steps.
std::int32_t step_value(std::uint8_t kind, std::int32_t value, std::int32_t max, bool plus);
// Whether an item may be changed: its parent chain is on and it is offered.
bool item_active(const Page& page, std::size_t index);

// The list's finger scrolling: a drag notes distance and time, a lifted finger flings.
using Scroll = gfx::KineticScroll;

struct PasswordEntry {
    bool turning_on = false;
    bool second = false;      // the re-entry of a new password
    bool wrong = false;       // the last entry to turn it off was wrong
    std::u16string digits;
    std::u16string first;
    int item = -1;
};

struct SleepChoice {
    int hours = 0, minutes = 0;
};

struct ThemeWorkers;  // the two theme threads and what they share (themes.cpp)
struct ThemeWorkersDelete {
    void operator()(ThemeWorkers* t) const;
};

// What the theme page shows; the workers write it, the window thread draws it.
enum class ThemeState : int { Idle = 0, Saving = 1, Loading = 2, Invalid = 3 };

struct Context {
    Context(platform::Platform& platform, platform::Display& display);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Platform& p;
    platform::Display& display;
    std::u16string command_line;

    catalogue::Values settings;
    bool caller_id_at_load = false;
    std::array<std::byte, 4> password{};  // the password held for "Save"
    bool has_password = false;
    lang::Texts general, page_texts;
    log::Log log;
    std::unique_ptr<log::Environment> log_env;

    Hwnd main_window = 0;
    std::u16string program_folder;
    int screen_width = 0, screen_height = 0;
    int display_mode = 0;
    bool ended = false;
    bool ended_by_save = false;
    std::uint8_t vibration_led = 255;
    bool has_stylus = false, has_keyboard = false, has_manila = false, has_65_menu = false;

    ScreenState state = ScreenState::MainMenu;
    int page = -1;
    std::array<Page, kPageCount> pages;
    Scroll scroll;
    PasswordEntry password_entry;
    SleepChoice sleep_choice;
    std::vector<std::u16string> exceptions;  // the list page's rows
    int selected_exception = -1;
    // The language page: the display names in list order and the button's text.
    std::vector<std::u16string> language_rows;
    std::u16string change_language_text;
    int selected_language = -1;
    std::unique_ptr<ThemeWorkers, ThemeWorkersDelete> themes;
    // Sees every step of a theme's progress, on the thread that makes it (tests watch the steps).
    std::function<void(double percent)> theme_progress_observer;

    // The top bar's state from the service's messages.
    std::uint32_t signal = 0, battery = 100, connections = 0;
    bool on_ac = false, bluetooth = false, wifi = false, headphone = false;
    std::uint32_t ringer = 0;
    std::u16string operator_name;

    std::array<platform::NotificationHandle, 5> notifications{};

    gfx::Screen screen;
    std::unique_ptr<platform::Imaging> imaging;
    std::unique_ptr<platform::FontEngine> fonts;
    gfx::Image background, background_fit, topbar, arrow, onoff, minus_plus, button, button_wide, row_first, row_mid,
        row_last, back, exit, add_button, delete_mark, status_icons, keypad_key, keypad_box, tbar_on, tbar_off;
    int frames_presented = 0;
    gfx::TextCache text_cache;
    // How the restart waits between its looks at the service (tests replace it).
    std::function<void(std::uint32_t ms)> sleep;
};

// --- start-up and end ------------------------------------------------------------------------
enum class EntryResult { Ended, Running };
EntryResult enter(Context& c, std::u16string_view command_line);
int message_loop(Context& c);
int run_program(platform::Platform& p, platform::Display& display, std::u16string_view command_line);
platform::LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l);
// Shows the CallerID note when due and arms the exit timer; its tick ends the program.
void start_exit(Context& c);
// Signal, operator, ringer, radios, headset and connections for the top bar, read at start.
void read_status_values(Context& c);
void finish(Context& c);
bool open_display(Context& c);

// --- pages -----------------------------------------------------------------------------------
// Builds every page from the settings and the texts.
void build_pages(Context& c);
// Copies the items back into the settings (and the password).
void items_to_settings(Context& c);
// Taps on an item's row: x relative to the row's width; the item's own rule.
void tap_item(Context& c, int index, int x, int row_width);
std::u16string item_value_text(Context& c, const Item& item);
void refresh_file_item(Context& c, std::uint32_t msg);
void save_and_exit(Context& c);
void read_device_facts(Context& c);
void set_defaults(Context& c);
std::u16string sleep_timer_text(Context& c);

// --- drawing and layout ----------------------------------------------------------------------
struct Layout {
    int top = 0;       // first pixel below the title bar
    int bottom = 0;    // first pixel of the button bar
    int row_gap = 0;
};
Layout layout(const Context& c);
// The height of an item's row.
int item_height(const Context& c, const Item& item);
struct StepAreas {
    int minus_left, minus_right, plus_left, plus_right;  // x within the row
};
StepAreas step_areas(const Context& c, int row_width);
bool has_step_areas(std::uint8_t kind);
// The list's full height and the largest scroll offset.
int content_height(const Context& c);
int max_scroll(const Context& c);
// Which item lies at a screen y (-1: none) and its top.
int item_at(const Context& c, int y, int* top = nullptr);
void draw(Context& c);
int keypad_key_at(const Context& c, int x, int y);
// The theme page: its two buttons, the caption and the progress bar.
struct ThemeLayout {
    int x = 0, width = 0;  // the caption's and the bar's band
    int button_w = 0, button_h = 0, save_x = 0, save_y = 0, load_x = 0, load_y = 0;
    int caption_y = 0, bar_y = 0;
};
ThemeLayout theme_layout(const Context& c);
// 0 "Save Theme", 1 "Load Theme", -1 neither.
int theme_button_at(const Context& c, int x, int y);
int sleep_row_at(const Context& c, int y);
std::vector<std::u16string> bottom_labels(const Context& c);

// --- scrolling -------------------------------------------------------------------------------
void on_finger_down(Context& c, int x, int y);
void on_finger_move(Context& c, int x, int y);
void on_finger_up(Context& c, int x, int y);
void on_display_timer(Context& c);

// --- export ----------------------------------------------------------------------------------
// A registry-export text file: UTF-16LE with its byte-order mark, CR LF lines of at most 258
// characters. A file that cannot be created leaves the writer closed; its lines are dropped.
class RegWriter {
  public:
    bool open(const std::filesystem::path& host_path);
    bool is_open() const { return file_ != nullptr; }
    void line(std::u16string_view text);
    void byte_option(std::u16string_view name, std::uint8_t v);
    void number(std::u16string_view name, std::uint32_t v);
    void text(std::u16string_view name, std::u16string_view v);
    void close();
    ~RegWriter() { close(); }

  private:
    std::FILE* file_ = nullptr;
};
// The name as the writer takes it: relative to the program folder unless it looks absolute.
std::u16string export_path(std::u16string_view program_folder, std::u16string_view name);
// Writes the export of `values` and the two sub-keys; false when nothing was written.
bool export_settings(platform::Platform& p, std::u16string_view program_folder,
                     const catalogue::Values& values, std::u16string_view name = kExportFile);

// --- exception list and restart --------------------------------------------------------------
void build_exception_list(Context& c);
void add_exception(Context& c);
void delete_exception(Context& c);
// Closes lumo and Vardex2 and starts Vardex2 again. `wait_ms` waits between looks.
void restart_service(Context& c);
void start_browser(Context& c, std::uint32_t mode, std::u16string_view argument);

// --- themes ----------------------------------------------------------------------------------
// Starts the two worker threads, each waiting on its start and quit events.
void start_theme_workers(Context& c);
// Cancels what runs, tells both threads to quit and waits for them; an overrun is logged.
void stop_theme_workers(Context& c);
void save_theme(Context& c);                 // the "Save Theme" button
void browse_theme(Context& c);               // the "Load Theme" button: LumoC picks a .lumo
void on_theme_picked(Context& c);            // LumoC's pick message: LoadTheme names the file
void cancel_theme(Context& c);               // the cancel control
void on_theme_timer(Context& c, std::uint32_t id);
ThemeState theme_state(const Context& c);
double theme_progress(const Context& c);
// The caption and the file name the page shows under the buttons.
std::pair<std::u16string, std::u16string> theme_texts(const Context& c);
bool theme_busy(const Context& c);

// --- languages -------------------------------------------------------------------------------
// The page's rows from the current lang.ini (the third batch).
void build_language_page(Context& c);
// Installs the selected row's language file as lang.ini, saves, restarts the service and ends.
void change_language(Context& c);

}  // namespace lumo::settings
