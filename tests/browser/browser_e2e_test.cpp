// The browser on a booted headless phone, started from the settings program's items as a person
// would: thumbnails made and then read from the cache, a 320-pixel picture zoomed and set as the
// wallpaper (the bitmap is what the screen framed, and the lock screen shows it), a sound played,
// stopped and picked, and the browser refusing to run on its own. Screenshots are kept in the
// test's output folder ("browser-shots").
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "device_process.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::browser::test {
namespace {

using lumo::test::DeviceProcess;
using lumo::test::wait_until;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSettings = "\\Program Files\\Lumo\\LumoSettings.exe";

struct Shot {
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgba;
    const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4]; }
};

Shot load(const fs::path& file) {
    Shot s;
    auto pic = platform::make_sdl_imaging()->open(platform::to_u16(file.string()));
    if (!pic) return s;
    s.w = pic->width();
    s.h = pic->height();
    s.rgba.resize(std::size_t(s.w) * std::size_t(s.h) * 4);
    pic->read_rgba(s.w, s.h, s.rgba);
    return s;
}

// Share of pixels of rows y0..y1 that are the same in both.
double same(const Shot& a, const Shot& b, int y0, int y1) {
    if (a.w != b.w || a.h != b.h || a.rgba.empty()) return 0;
    long n = 0, total = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < a.w; ++x, ++total) {
            auto *p = a.at(x, y), *q = b.at(x, y);
            n += p[0] == q[0] && p[1] == q[1] && p[2] == q[2];
        }
    return total ? double(n) / double(total) : 0;
}

class BrowserOnDevice : public testing::Test {
protected:
    void boot(std::vector<std::string> extra = {}) {
        extra.push_back("--auto-dismiss-dialogs");
        ASSERT_TRUE(device_.boot(extra)) << device_.last_error;
        ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
        ASSERT_EQ(ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "DebugOn", "binary", "01"}).status, 0);
        shots_ = fs::current_path() / "browser-shots";
        fs::create_directories(shots_);
    }
    lumo::test::CommandResult ctl(const std::vector<std::string>& args) { return device_.ctl(args); }
    void tap(int x, int y) { ASSERT_EQ(ctl({"tap", std::to_string(x), std::to_string(y)}).status, 0); }
    fs::path fs_path(const std::string& rel) { return device_.dir() / "fs" / rel; }
    std::string log() { return device_.program_log("lumoc.log"); }
    std::size_t count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    bool log_has(const std::string& what, std::size_t times = 1) {
        return wait_until([&] { return count(log(), what) >= times; }, 15s);
    }
    std::string reg(const std::string& name) {
        return ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", name}).out;
    }
    // A screenshot once the screen has stopped changing.
    Shot shot(const std::string& name) {
        auto file = shots_ / name;
        Shot last;
        wait_until(
            [&] {
                if (ctl({"screenshot", file.string()}).status != 0) return false;
                auto now = load(file);
                bool still = !last.rgba.empty() && now.rgba == last.rgba;
                last = std::move(now);
                return still;
            },
            10s, 150ms);
        return last;
    }
    void start_settings() {
        ASSERT_EQ(ctl({"start", kSettings}).status, 0);
        ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);
    }
    std::map<std::string, fs::file_time_type> cache_times() {
        std::map<std::string, fs::file_time_type> out;
        std::error_code ec;
        // Only finished files: one being written is a ".part" beside it until it is renamed.
        for (auto& e : fs::directory_iterator(fs_path("Program Files/Lumo/s2v"), ec))
            if (e.path().extension() == ".s2v") out[e.path().filename().string()] = e.last_write_time();
        return out;
    }

    DeviceProcess device_;
    fs::path shots_;
};

TEST_F(BrowserOnDevice, WallpaperFromTheSettingsItemThroughZoomAndCropToTheLockScreen) {
    boot();
    start_settings();
    tap(240, 495);  // the Wallpaper page
    tap(200, 120);  // its portrait item
    ASSERT_EQ(ctl({"wait", "window", "LumoC", "--foreground"}).status, 0);
    // The pictures folder's thumbnails, made by the worker and kept, except the PNG's.
    ASSERT_TRUE(wait_until([&] { return cache_times().size() == 3; }, 20s));
    auto made = cache_times();
    EXPECT_TRUE(made.count("_My Documents_My Pictures_Lagoon.jpg.s2v"));
    EXPECT_TRUE(made.count("_My Documents_My Pictures_Orbit.gif.s2v"));
    EXPECT_FALSE(made.count("_My Documents_My Pictures_Mosaic.png.s2v"));
    auto grid = shot("grid-480x800.png");

    // The album, through the folder list.
    tap(80, 760);
    ASSERT_TRUE(log_has("Folder \\My Documents\\My Pictures (4)"));
    shot("folders-480x800.png");
    tap(120, 84 + 60 + 72 + 36);  // the hint, "..", then Album
    ASSERT_TRUE(log_has("Folder \\My Documents\\My Pictures\\Album (3)"));
    // Harbour.bmp, 320 pixels wide, is the second picture: selected, then opened.
    tap(180, 144);
    ASSERT_TRUE(log_has("Select TN:1 (3)"));
    tap(180, 144);
    ASSERT_TRUE(log_has("View \\My Documents\\My Pictures\\Album\\Harbour.bmp"));
    for (int i = 0; i < 4; ++i) tap(180, 760);  // zoom in
    ASSERT_EQ(ctl({"drag", "240", "400", "200", "400", "300"}).status, 0);  // pan
    auto framed = shot("picture-zoomed-480x800.png");
    ASSERT_TRUE(log_has("Zoom buffered"));

    tap(300, 760);  // the menu
    tap(240, 298);  // Set as Lumo Wallpaper
    tap(240, 332);  // Portrait
    ASSERT_TRUE(wait_until([&] { return reg("Wallpaper") == "string \\Program Files\\Lumo\\s2vp.bmp\n"; }, 10s));
    ASSERT_TRUE(log_has("Minimized"));
    EXPECT_NE(log().find("Harbour.bmp zw=392 zh=294"), std::string::npos) << log();
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);
    shot("settings-after-pick-480x800.png");
    // The bitmap is the screen as framed, above the zoom controls.
    auto bmp = load(fs_path("Program Files/Lumo/s2vp.bmp"));
    ASSERT_EQ(bmp.w, 480);
    ASSERT_EQ(bmp.h, 800);
    EXPECT_EQ(same(bmp, framed, 0, 720), 1.0);

    // A second visit reads the thumbnails from the cache.
    tap(200, 120);
    ASSERT_EQ(ctl({"wait", "window", "LumoC", "--foreground"}).status, 0);
    ASSERT_TRUE(log_has("Folder \\My Documents\\My Pictures (4)", 2));
    auto again = shot("grid-again-480x800.png");
    auto now = cache_times();
    for (auto& [name, time] : made) EXPECT_EQ(now[name], time) << name;
    EXPECT_GT(same(grid, again, 84, 720), 0.99);
    tap(400, 760);  // Cancel
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);

    // The lock screen shows the framed picture.
    ASSERT_EQ(ctl({"lock"}).status, 0);
    ASSERT_EQ(ctl({"wait", "window", "Lumo", "--foreground"}).status, 0);
    auto lock = shot("lock-480x800.png");
    EXPECT_GT(same(bmp, lock, 0, 800), 0.5);
}

TEST_F(BrowserOnDevice, SoundsPlayStopAndBecomeTheLockSound) {
    boot();
    start_settings();
    // The Feedback page from the menu's end, then its lock-sound check box.
    ASSERT_EQ(ctl({"drag", "240", "700", "240", "100", "100"}).status, 0);
    shot("settings-menu-end.png");
    tap(240, 300);
    tap(200, 140);
    ASSERT_EQ(ctl({"wait", "window", "LumoC", "--foreground"}).status, 0);
    ASSERT_TRUE(log_has("Folder \\Program Files\\Lumo (2)"));
    shot("sounds-480x800.png");
    tap(240, 84 + 36);  // lock.wav
    ASSERT_TRUE(log_has("Select TN:0 (2)"));
    tap(240, 760);      // the menu: Set as, Play, Stop, two sorts, Refresh, Delete, Cancel
    int top = (800 - 8 * 68) / 2;
    tap(240, top + 68 + 34);  // Play
    ASSERT_TRUE(log_has("Play \\Program Files\\Lumo\\lock.wav"));
    auto status = ctl({"sound", "status"}).out;
    EXPECT_NE(status.find("last \\Program Files\\Lumo\\lock.wav"), std::string::npos) << status;
    tap(240, 760);
    tap(240, top + 2 * 68 + 34);  // Stop
    ASSERT_TRUE(wait_until([&] { return ctl({"sound", "status"}).out.find("playing 0") != std::string::npos; }, 5s));
    tap(240, 760);
    tap(240, top + 34);  // Set as Lock/Unlock Sound
    tap(240, (800 - 3 * 68) / 2 + 34);  // Lock
    ASSERT_TRUE(wait_until([&] { return reg("LockSound") == "string \\Program Files\\Lumo\\lock.wav\n"; }, 10s));
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);
    shot("settings-lock-sound-480x800.png");
}

TEST_F(BrowserOnDevice, AnExceptionProgramPickedReachesTheSettingsExceptionList) {
    boot();
    start_settings();
    // As the exception list's "+" starts it.
    ASSERT_EQ(ctl({"start", "\\Program Files\\Lumo\\LumoC.exe", "\\Program Files\\Lumo\\*.exe"}).status, 0);
    ASSERT_EQ(ctl({"wait", "window", "LumoC", "--foreground"}).status, 0);
    ASSERT_TRUE(log_has("Folder \\Program Files\\Lumo (4)"));
    shot("programs-480x800.png");
    tap(240, 84 + 36);  // lumo.exe, the first by name
    ASSERT_TRUE(log_has("Select TN:0 (4)"));
    tap(240, 760);  // the menu: both program picks, two sorts, Refresh, Delete, Cancel
    tap(240, (800 - 7 * 68) / 2 + 68 + 34);  // Add this EXE to Exception
    ASSERT_TRUE(wait_until([&] { return reg("TempExceptionEXE") == "string lumo.exe\n"; }, 10s));
    // The settings program puts it into the first free slot after the six defaults.
    ASSERT_TRUE(wait_until(
        [&] {
            return ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo\\Exceptions", "ExceptionEXE06"}).out ==
                   "string lumo.exe\n";
        },
        10s));
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);
    // The browser stays, minimized, until the settings program ends it at its own end.
    EXPECT_EQ(ctl({"wait", "window", "LumoC", "--timeout", "1"}).status, 0);
    shot("settings-after-exception-480x800.png");
    tap(400, 760);  // the settings program's Cancel
    EXPECT_EQ(ctl({"wait", "window", "LumoC", "--gone"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return ctl({"processes"}).out.find("LumoC.exe") == std::string::npos; }, 5s));
    // This phone has no G-sensor to turn.
    EXPECT_EQ(ctl({"sensor", "orientation", "1"}).status, 1);
}

TEST_F(BrowserOnDevice, AloneItDoesNothingAndOnASmallScreenItStillBrowses) {
    boot({"--profile", "qvga", "--oem", "htc"});
    // Without the settings program the browser ends at once.
    ASSERT_EQ(ctl({"start", "\\Program Files\\Lumo\\LumoC.exe", "\\My Documents\\My Pictures\\"}).status, 0);
    EXPECT_NE(ctl({"wait", "window", "LumoC", "--timeout", "2"}).status, 0);
    EXPECT_TRUE(wait_until([&] { return ctl({"processes"}).out.find("LumoC.exe") == std::string::npos; }, 5s));

    start_settings();
    ASSERT_EQ(ctl({"start", "\\Program Files\\Lumo\\LumoC.exe", "\\My Documents\\My Pictures\\"}).status, 0);
    ASSERT_EQ(ctl({"wait", "window", "LumoC", "--foreground"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return cache_times().size() == 3; }, 20s));
    auto grid = shot("grid-240x320.png");
    ASSERT_EQ(grid.w, 240);
    tap(40, 300);  // the folder list
    ASSERT_TRUE(log_has("Folder \\My Documents\\My Pictures (4)"));
    shot("folders-240x320.png");
    tap(40, 300);  // Done: back to the grid
    tap(40, 42 + 40);  // the first picture: selected, then opened
    tap(40, 42 + 40);
    ASSERT_TRUE(log_has("View \\My Documents\\My Pictures\\"));
    for (int i = 0; i < 3; ++i) tap(90, 310);  // zoom in
    ASSERT_TRUE(log_has("Zoom buffered"));
    shot("picture-zoomed-240x320.png");
    // The phone turned a quarter: the picture turns with it, and back.
    ASSERT_TRUE(log_has("Init GSensor 1"));
    ASSERT_EQ(ctl({"sensor", "orientation", "1"}).status, 0);
    ASSERT_TRUE(log_has("GSensor 1 1"));
    ASSERT_TRUE(log_has("ReStretch Screen"));
    shot("picture-turned-240x320.png");
    ASSERT_EQ(ctl({"sensor", "orientation", "0"}).status, 0);
    ASSERT_TRUE(log_has("GSensor 0 0"));
    // A corrupt picture says so.
    {
        std::ofstream(fs_path("My Documents/My Pictures/Broken.jpg"), std::ios::binary) << "\xFF\xD8\xFF not a picture";
    }
    tap(210, 310);  // Done
    tap(100, 300);  // the menu
    int rows = 7, top = (320 - rows * 34) / 2;  // the picture is still selected
    tap(120, top + 4 * 34 + 17);  // Refresh
    ASSERT_TRUE(log_has("Folder \\My Documents\\My Pictures (5)"));
    shot("grid-corrupt-240x320.png");
}

}  // namespace
}  // namespace lumo::browser::test
