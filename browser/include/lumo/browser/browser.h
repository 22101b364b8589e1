#pragma once
// The picture and file browser: one full-screen window, one state record owned by the main
// thread, numbered timers, handlers as plain functions over the record, and one worker thread
// that makes thumbnails. The worker and the window thread meet only in ThumbJobs (a mutex, an
// atomic stop flag and two events); everything else belongs to the window thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
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

namespace lumo::browser {

using platform::Hwnd;
using platform::LParam;
using platform::WParam;

enum Timer : std::uint32_t {
    kTimerFling = 1029,      // every 60 ms while a fling carries the list on
    kTimerExit = 1030,       // zero delay: the exit after a pick or "Cancel"
    kTimerSlide = 1031,      // the exit's slide-out frames, 50 ms apart
    kTimerStart = 1032,      // zero delay: the display (re)starts
    kTimerWallpaper = 1033,  // 100 ms after the empty wallpaper value: the path
};
inline constexpr std::uint32_t kFlingPeriodMs = 60;
inline constexpr std::uint32_t kSlidePeriodMs = 50;
inline constexpr int kSlideFrames = 5;
inline constexpr std::uint32_t kWallpaperDelayMs = 100;

// Messages of the settings window and of this one.
inline constexpr std::uint32_t kMsgBrowse = 0x8062;           // from LumoSettings: mode; to it: theme
inline constexpr std::uint32_t kMsgExceptionPicked = 0x802E;  // to LumoSettings
inline constexpr std::uint32_t kMsgGSensor = 0x803C;          // EventChanged changed
inline constexpr std::uint32_t kMsgThumbsReady = 0x8070;      // from the worker: results wait

enum BrowseMode : std::uint32_t {
    kModePortrait = 0,
    kModeLandscape = 1,
    kModeLockSound = 2,
    kModeUnlockSound = 3,
    kModeTheme = 4,
    kModeUnlockProgram = 5,
    kModeException = 6,
    kModeNone = 0xFF,  // only known from the argument
};

inline constexpr std::u16string_view kVersionText = u"LumoC v2.26 by Vesk";
inline constexpr std::u16string_view kCacheFolder = u"s2v";
inline constexpr std::u16string_view kPortraitCrop = u"s2vp.bmp";
inline constexpr std::u16string_view kLandscapeCrop = u"s2vl.bmp";
inline constexpr std::u16string_view kGSensorKey = u"Software\\HTC\\HTCSensor\\GSensor";
inline constexpr std::u16string_view kGSensorValue = u"EventChanged";
// A zoom buffer larger than this is refused: a huge picture times the zoom factor would take
// the phone's memory.
inline constexpr std::size_t kZoomBufferLimit = std::size_t(64) << 20;

// --- files -------------------------------------------------------------------------------------
enum class FileClass : std::uint8_t { None, Picture, Sound, Theme, Program, Shortcut };
FileClass classify(std::u16string_view name);

// What the browser lists: pictures (as thumbnails) or the files of one class (as rows).
enum class Listing : std::uint8_t { Pictures, Sounds, Themes, Programs };
bool listed(Listing listing, FileClass cls);
// A name ending in f (a .gif) is an animation the lock screen plays itself: never cropped.
bool is_gif_name(std::u16string_view path);

// The first view an argument asks for.
struct StartView {
    std::u16string folder;  // device path, no trailing separator
    std::u16string file;    // the file to put the cursor on (name only); may be empty
    Listing listing = Listing::Pictures;
};
// `program_folder` and `pictures_folder` decide where a picture of the program's own files
// (the default wallpaper, the crops) opens: the pictures folder.
StartView start_view(std::u16string_view argument, std::u16string_view program_folder,
                     std::u16string_view pictures_folder, const std::function<bool(std::u16string_view)>& is_folder);
// The argument a browse message's mode stands for.
std::u16string mode_argument(std::uint32_t mode, const catalogue::Values& settings, std::u16string_view program_folder,
                             std::u16string_view program_files);

struct Entry {
    std::u16string name;
    bool folder = false;
    std::filesystem::file_time_type time{};
    // Thumbnail state of a picture: not asked yet, asked, made, or failed to decode.
    enum class Thumb : std::uint8_t { None, Pending, Ready, Corrupt } thumb = Thumb::None;
    gfx::Image image;
};

enum class SortKey : std::uint8_t { Name, Time };
struct SortOrder {
    SortKey key = SortKey::Name;
    bool descending = false;
};
// Names compare without regard to case, then as written; equal times fall back to the name.
void sort_entries(std::vector<Entry>& entries, SortOrder order);

// --- thumbnail cache ---------------------------------------------------------------------------
// The cache file's name for a picture: its path with ".s2v" appended and every separator made
// "_"; it never holds a separator, and a name too long for the file system keeps its end with a
// hash of the whole in front.
std::u16string cache_name(std::u16string_view picture_path);
// The cache's file format: "S2V" and the pixel format's mark ('6' for 565, '5' for 555), width
// and height (16 bits, little-endian), then the pixels, row by row.
inline constexpr int kMaxThumbSide = 512;
std::vector<std::uint8_t> encode_thumbnail(const gfx::Image& img, const gfx::PixelFormat& f);
// False, with `out` untouched or resized, for anything that is not exactly such a file.
bool decode_thumbnail(std::span<const std::uint8_t> bytes, const gfx::PixelFormat& f, gfx::Image& out);
// .png pictures keep no cache file.
bool cacheable(std::u16string_view picture_name);

// A thumbnail for one picture: read from a cache file newer than the picture, or made from the
// picture (scaled into side × side) and stored. False when the picture cannot be decoded.
enum class ThumbSource : std::uint8_t { Cache, Made, Failed };
ThumbSource make_thumbnail(platform::Imaging& imaging, const std::filesystem::path& picture,
                           const std::filesystem::path& cache_file, bool store, int side,
                           const gfx::PixelFormat& f, gfx::Image& out);

// Writes a 24-bit bitmap file, whole or not at all (written aside, then renamed into place).
bool save_bitmap(const std::filesystem::path& path, const gfx::Image& img, const gfx::PixelFormat& f,
                 std::string* why = nullptr);

// --- the worker --------------------------------------------------------------------------------
struct ThumbJob {
    std::size_t index = 0;       // entry index in the listing of `generation`
    std::filesystem::path picture;
    std::filesystem::path cache;
    bool store = false;
};
struct ThumbResult {
    std::uint64_t generation = 0;
    std::size_t index = 0;
    ThumbSource source = ThumbSource::Failed;
    gfx::Image image;
};
struct ThumbJobs {
    std::mutex mutex;
    std::vector<ThumbJob> pending;  // guarded by mutex
    std::vector<ThumbResult> done;  // guarded by mutex
    std::uint64_t generation = 0;   // guarded by mutex: the listing the jobs belong to
    int side = 0;                   // guarded by mutex
    gfx::PixelFormat format = gfx::kRgb565;  // guarded by mutex
    std::atomic<bool> stop{false};  // the current walk is to end at once
    std::atomic<bool> quit{false};  // the thread is to end
    std::atomic<bool> finished{false};
    std::atomic<std::uint64_t> made{0}, from_cache{0}, failed{0};
};

// --- zoom --------------------------------------------------------------------------------------
struct Zoom {
    int pw = 0, ph = 0;        // the picture as the view decoded it
    int z = 2;                 // zoom factor limit, 2..5
    int maxw = 0, maxh = 0;    // the zoom buffer's size
    int zw = 0, zh = 0;        // shown size
    int px = 0, py = 0;        // top-left corner relative to the screen's
    bool buffered = false;     // the zoom buffer exists
    int min_x = 0, max_x = 0, min_y = 0, max_y = 0;  // pan limits
};

// --- screens -----------------------------------------------------------------------------------
enum class View : std::uint8_t { Files, Folders, Picture };

struct MenuItem {
    std::u16string label;
    int action = 0;
};

using Scroll = gfx::KineticScroll;

struct Context {
    Context(platform::Platform& platform, platform::Display& display);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Platform& p;
    platform::Display& display;

    catalogue::Values settings;
    lang::Texts texts;
    log::Log log;
    std::unique_ptr<log::Environment> log_env;

    Hwnd main_window = 0;
    std::u16string program_folder;
    std::u16string argument;
    std::uint32_t mode = kModeNone;
    int screen_width = 0, screen_height = 0;
    int rotation = 0;  // quarter turns of the view, clockwise, on top of the display's
    bool ended = false;
    bool shown = true;

    // Browse state.
    View view = View::Files;
    Listing listing = Listing::Pictures;
    std::u16string folder;        // the files' folder
    std::u16string folder_list;   // the folder list's folder
    std::vector<Entry> entries;   // files of `folder` (folders first in the folder list)
    std::vector<Entry> folders;   // sub-folders of `folder_list`
    int selected = -1;            // index into entries
    SortOrder sort;
    Scroll scroll;
    std::uint64_t generation = 0;
    bool menu_open = false;
    int submenu = 0;              // 0 none, else the action whose choice is asked
    std::vector<MenuItem> menu;

    // The full-screen picture.
    std::u16string picture_path;
    bool picture_corrupt = false;
    gfx::Image picture;           // pw × ph
    gfx::Image zoom_buffer;       // maxw × maxh
    gfx::Image zoom_scaled;       // zw × zh when not 1:1
    Zoom zoom;
    std::size_t zoom_limit = kZoomBufferLimit;

    // The pick in progress: the value written after the empty one.
    catalogue::Id pending_id = catalogue::Id::Wallpaper;
    std::u16string pending_value;
    int slide_frame = 0;

    // Sensors.
    bool gsensor = false;
    platform::NotificationHandle gsensor_notification = 0;

    // The top bar's state from the service's messages.
    std::uint32_t signal = 0, battery = 100, connections = 0;
    bool on_ac = false, bluetooth = false, wifi = false, headphone = false;
    std::u16string operator_name;

    gfx::Screen screen;
    gfx::Screen turned;  // the view's own screen while it is turned (rotation != 0)
    std::unique_ptr<platform::Imaging> imaging;
    std::unique_ptr<platform::FontEngine> fonts;
    gfx::Image background, background_fit, topbar, folder_icon, zoom_icons, menu_icon, play_stop, arrow, back;
    gfx::TextCache text_cache;
    int frames_presented = 0;

    // The worker.
    ThumbJobs jobs;
    platform::SyncHandle start_event = 0, quit_event = 0;
    std::thread worker;
};

// --- start-up and end --------------------------------------------------------------------------
enum class EntryResult { Ended, Running };
EntryResult enter(Context& c, std::u16string_view command_line);
int message_loop(Context& c);
int run_program(platform::Platform& p, platform::Display& display, std::u16string_view command_line);
platform::LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l);
// Reads the argument and shows its first view.
void begin_browsing(Context& c, std::u16string_view argument);
// The orderly end: the worker stopped, the display closed, the window gone.
void finish(Context& c);
bool open_display(Context& c);
void stop_worker(Context& c);

// --- browsing ----------------------------------------------------------------------------------
void open_folder(Context& c, std::u16string_view folder, std::u16string_view select = {});
void open_folder_list(Context& c, std::u16string_view folder);
void refresh(Context& c);
// Asks the worker for the thumbnails of the rows in view (and a screen beyond).
void request_thumbnails(Context& c);
void take_thumbnails(Context& c);
void delete_selected(Context& c);
void set_sort(Context& c, SortKey key);
std::u16string entry_path(const Context& c, int index);

// --- actions and picks -------------------------------------------------------------------------
enum Action : int {
    kActWallpaper = 1,
    kActWallpaperFolder,
    kActSound,
    kActPlay,
    kActStop,
    kActTheme,
    kActRunExe,
    kActException,
    kActSortName,
    kActSortTime,
    kActRefresh,
    kActDelete,
    kActCancel,
    kActRotateCw,
    kActRotateCcw,
    kActView,
    kActPortrait = 100,
    kActLandscape,
    kActLock,
    kActUnlock,
};
std::vector<MenuItem> build_menu(Context& c);
void run_action(Context& c, int action);
void start_exit(Context& c);
void pick_text(Context& c, catalogue::Id id, std::u16string_view value, bool twice);

// --- the full-screen picture and its zoom --------------------------------------------------------
bool open_picture(Context& c, int index);
void close_picture(Context& c);
bool zoom_in(Context& c);
bool zoom_out(Context& c);
void pan(Context& c, int dx, int dy);
// The framed part at screen size, turned back to the display's orientation; false with `why`.
bool crop(Context& c, gfx::Image& out, std::string* why);
bool set_wallpaper(Context& c, bool portrait);
void rotate_view(Context& c, int quarters);
// A point of the turned view to the display's point and back; the same point without a turn.
void view_to_screen(const Context& c, int& x, int& y);
void screen_to_view(const Context& c, int& x, int& y);
// The image turn (gfx rotation code) of a number of clockwise quarter turns.
int turn_code(int quarters);

// --- drawing and layout ------------------------------------------------------------------------
struct Layout {
    int top = 0;     // below the status and title bars
    int bottom = 0;  // the button bar's top
    int cell = 0;    // thumbnail cell side
    int columns = 1;
    int row_h = 0;   // list row height
    int thumb = 0;   // thumbnail side
};
Layout layout(const Context& c);
int content_height(const Context& c);
int max_scroll(const Context& c);
// The entry at a point of the list or grid; -1 for none.
int entry_at(const Context& c, int x, int y);
// The folder row at y; `arrow` tells whether the row's arrow was hit.
int folder_at(const Context& c, int x, int y, bool* arrow);
std::vector<std::u16string> bottom_labels(const Context& c);
// The menu's rows on screen: top and row height.
void menu_geometry(const Context& c, int& top, int& row_h, int& left, int& width);
void draw(Context& c);

// --- input -------------------------------------------------------------------------------------
void on_finger_down(Context& c, int x, int y);
void on_finger_move(Context& c, int x, int y);
void on_finger_up(Context& c, int x, int y);
void on_fling_timer(Context& c);

}  // namespace lumo::browser
