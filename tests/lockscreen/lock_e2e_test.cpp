// The lock screen on a real headless device: the hidden start, the lock with its frame on the
// display, the unlock by dragging the knob, the snap back of a short drag, and a broken
// installation. The test itself stands in for the service with a window named Vardex2.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "wave_file.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;
namespace proto = protocol;

const std::string kLumo = "\\Program Files\\Lumo\\lumo.exe";

std::string read_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class LockOnDevice : public testing::Test {
protected:
    void boot(std::vector<std::string> extra = {}) {
        ASSERT_TRUE(device_.start(std::move(extra))) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"service-stand-in", &error);
        ASSERT_TRUE(p_) << error;
        ASSERT_TRUE(win().register_class(u"Vardex2", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
            if (msg >= WM_APP || msg == WM_CLOSE) seen_.push_back({msg, w});
            return 0;
        }));
        CreateWindowParams cp;
        cp.class_name = u"Vardex2";
        cp.title = u"Vardex2";
        cp.rect = {0, 0, 1, 1};
        service_ = win().create_window(cp);
        ASSERT_NE(service_, 0u);
    }
    Windows& win() { return p_->windows(); }
    void pump(Ms how_long) {
        auto end = std::chrono::steady_clock::now() + how_long;
        win().set_timer(service_, 999, 10);
        Message m;
        while (std::chrono::steady_clock::now() < end && win().get_message(m)) win().dispatch(m);
        win().kill_timer(service_, 999);
    }
    bool saw(std::uint32_t msg) const {
        for (auto& s : seen_)
            if (s.first == msg) return true;
        return false;
    }
    // Polls the window list until `pred` holds for the Lumo window's row.
    bool lumo_window(const std::string& want) {
        auto r = device_.ctl({"wait", "window", "Lumo", want, "--timeout", "10"});
        return r.status == 0;
    }
    Hwnd lumo() { return win().find_window(u"Lumo", u"Lumo"); }
    bool lumo_visible() {
        auto info = win().window_info(lumo());
        return info && info->visible;
    }
    // The screenshot's pixels as RGB565.
    std::vector<std::uint16_t> screenshot(const std::string& name) {
        auto file = device_.dir() / name;
        auto r = device_.ctl({"screenshot", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        if (const char* keep = std::getenv("LUMO_SHOT_DIR"))
            std::filesystem::copy_file(file, std::filesystem::path(keep) / name,
                                       std::filesystem::copy_options::overwrite_existing);
        auto imaging = make_sdl_imaging();
        auto pic = imaging->open(to_u16(file.string()));
        if (!pic) return {};
        width_ = pic->width();
        height_ = pic->height();
        std::vector<std::uint8_t> rgba(std::size_t(width_) * height_ * 4);
        pic->read_rgba(width_, height_, rgba);
        std::vector<std::uint16_t> out(std::size_t(width_) * height_);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = std::uint16_t((rgba[i * 4] >> 3) << 11 | (rgba[i * 4 + 1] >> 2) << 5 | (rgba[i * 4 + 2] >> 3));
        return out;
    }
    // Share of pixels in a band of rows that differ from the idle display's colour.
    double lit(const std::vector<std::uint16_t>& px, int y0, int y1) const {
        int n = 0, total = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < width_; ++x, ++total) n += px[std::size_t(y) * width_ + x] != idle_;
        return total ? double(n) / total : 0;
    }
    std::uint64_t last_lock_time() {
        auto r = device_.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "LastLockTime"});
        if (r.status != 0) return ~0ull;
        // "binary HEX": little-endian bytes.
        auto hex = r.out.substr(r.out.find(' ') + 1);
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | std::stoul(hex.substr(std::size_t(i) * 2, 2), nullptr, 16);
        return v;
    }
    // A drag over `ms` that unlocks: lumo hides and the service hears WM_Unlock.
    void drag_unlocks(int x1, int y1, int x2, int y2, int ms) {
        ASSERT_EQ(device_.ctl({"drag", std::to_string(x1), std::to_string(y1), std::to_string(x2),
                               std::to_string(y2), std::to_string(ms)})
                      .status,
                  0);
        ASSERT_TRUE(lumo_window("--hidden"));
        pump(Ms(300));
        ASSERT_TRUE(saw(proto::WM_Unlock));
    }
    void start_hidden_then_lock() {
        ASSERT_EQ(device_.ctl({"start", kLumo, "-hide"}).status, 0);
        ASSERT_TRUE(lumo_window("--hidden"));
        pump(Ms(300));
        EXPECT_FALSE(lumo_visible());
        EXPECT_FALSE(saw(proto::WM_Locked));
        ASSERT_EQ(device_.ctl({"start", kLumo}).status, 0);
        ASSERT_TRUE(lumo_window("--visible"));
        pump(Ms(900));
        ASSERT_TRUE(saw(proto::WM_Locked));
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
    Hwnd service_ = 0;
    std::vector<std::pair<std::uint32_t, WParam>> seen_;
    int width_ = 0, height_ = 0;
    std::uint16_t idle_ = 0;
};

TEST_F(LockOnDevice, HiddenStartDrawsNothingAndASecondStartLocksWithAFullFrame) {
    boot();
    ASSERT_EQ(device_.ctl({"start", kLumo, "-hide"}).status, 0);
    ASSERT_TRUE(lumo_window("--hidden"));
    // The window comes before the pictures; start-up has ended once the states are asked for.
    for (int i = 0; i < 50 && !saw(proto::WM_GetAllStates); ++i) pump(Ms(100));
    pump(Ms(200));
    auto before = screenshot("hidden.png");
    ASSERT_FALSE(before.empty());
    idle_ = before[0];
    EXPECT_EQ(lit(before, 0, height_), 0.0) << "a hidden start presented a frame";
    EXPECT_TRUE(saw(proto::WM_GetBattery));
    EXPECT_TRUE(saw(proto::WM_GetAllStates));
    EXPECT_FALSE(saw(proto::WM_Locked));

    ASSERT_EQ(device_.ctl({"start", kLumo}).status, 0);
    ASSERT_TRUE(lumo_window("--foreground"));
    pump(Ms(900));
    EXPECT_TRUE(saw(proto::WM_Locked));
    EXPECT_NE(last_lock_time(), 0u);
    auto shot = screenshot("locked.png");
    ASSERT_EQ(width_, 480);
    // Wallpaper everywhere; the clock band, the date row and the slider bar all drawn.
    EXPECT_GT(lit(shot, 100, 600), 0.9);
    EXPECT_GT(lit(shot, 680, 800), 0.5);
    // The knob's white arrow sits at the track's left end.
    int white = 0;
    for (int y = 700; y < 780; ++y)
        for (int x = 40; x < 136; ++x) white += shot[std::size_t(y) * 480 + x] == 0xFFFF;
    EXPECT_GT(white, 20);
}

TEST_F(LockOnDevice, DraggingTheKnobToTheEndUnlocksAndAShortDragSnapsBack) {
    boot();
    start_hidden_then_lock();
    // A short drag: the knob comes back and the phone stays locked.
    ASSERT_EQ(device_.ctl({"drag", "88", "740", "200", "740", "300"}).status, 0);
    pump(Ms(800));
    EXPECT_TRUE(lumo_visible());
    EXPECT_FALSE(saw(proto::WM_Unlock));
    auto shot = screenshot("snapped.png");
    int white = 0;
    for (int y = 700; y < 780; ++y)
        for (int x = 40; x < 136; ++x) white += shot[std::size_t(y) * 480 + x] == 0xFFFF;
    EXPECT_GT(white, 20) << "the knob did not return to its rest place";

    ASSERT_NO_FATAL_FAILURE(drag_unlocks(88, 740, 440, 740, 400));
    EXPECT_EQ(last_lock_time(), 0u);
}

TEST_F(LockOnDevice, TheLockTakesTheWholeScreenFromTheShellAndTheUnlockGivesTheBarAndStartIconBack) {
    boot({"--shell"});
    auto window = [&](const char* cls, const char* want) {
        return device_.ctl({"wait", "window", cls, want, "--timeout", "5"}).status == 0;
    };
    // The red square of the start icon's flag, at the left of the task bar.
    auto flag_shown = [&](const std::string& name) {
        auto px = screenshot(name);
        return !px.empty() && (px[std::size_t(16) * width_ + 21] >> 11) > 24 && (px[std::size_t(16) * width_ + 21] & 0x7FF) < 0x100;
    };
    ASSERT_TRUE(window("MS_STARTICON", "--visible"));
    EXPECT_TRUE(flag_shown("shell.png"));
    start_hidden_then_lock();
    EXPECT_TRUE(window("HHTaskBar", "--hidden"));
    EXPECT_TRUE(window("MS_SIPBUTTON", "--hidden"));
    EXPECT_TRUE(window("MS_STARTICON", "--hidden"));
    EXPECT_FALSE(flag_shown("locked.png"));
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(88, 740, 440, 740, 400));
    EXPECT_TRUE(window("HHTaskBar", "--visible"));
    EXPECT_TRUE(window("MS_STARTICON", "--visible"));
    EXPECT_TRUE(window("MS_SIPBUTTON", "--hidden"));
    EXPECT_TRUE(flag_shown("unlocked.png"));
}

TEST_F(LockOnDevice, AMissingPictureStopsStartUpNamingItAndClosesTheService) {
    boot();
    auto gfx = device_.dir() / "fs" / "Program Files" / "Lumo" / "gfx";
    ASSERT_TRUE(std::filesystem::remove(gfx / "stbox.png"));
    ASSERT_EQ(device_.ctl({"start", kLumo, "-hide"}).status, 0);
    std::string boxes;
    for (int i = 0; i < 100 && boxes.find("missed") == std::string::npos; ++i) {
        pump(Ms(50));
        boxes = device_.ctl({"dialogs"}).out;
    }
    EXPECT_NE(boxes.find("File (\\Program Files\\Lumo\\gfx\\stbox.png) is missed, please reinstall Lumo."),
              std::string::npos)
        << boxes;
    ASSERT_EQ(device_.ctl({"dialog", "press", "ok"}).status, 0);
    for (int i = 0; i < 40 && !saw(WM_CLOSE); ++i) pump(Ms(50));
    EXPECT_TRUE(saw(WM_CLOSE)) << "the service was not closed";
    auto r = device_.ctl({"wait", "window", "Lumo", "--gone", "--timeout", "5"});
    EXPECT_EQ(r.status, 0);
}

TEST_F(LockOnDevice, TheSmallProfileShowsTheWholeLockScreen) {
    boot({"--profile", "qvga"});
    // The device installed the 96-dpi pictures as its gfx folder: every picture is the 96-dpi
    // one, byte for byte, and some differ from their 192-dpi twins.
    auto installed = device_.dir() / "fs" / "Program Files" / "Lumo" / "gfx";
    auto stage =
        std::filesystem::path(bin_dir()).parent_path() / "stage" / "Program Files" / "Lumo";
    int pictures = 0, unlike_192 = 0;
    for (const auto& e : std::filesystem::directory_iterator(stage / "gfx96")) {
        if (!e.is_regular_file()) continue;
        ++pictures;
        auto name = e.path().filename();
        EXPECT_EQ(read_bytes(installed / name), read_bytes(e.path())) << name;
        unlike_192 += read_bytes(stage / "gfx" / name) != read_bytes(e.path());
    }
    EXPECT_GT(pictures, 10);
    EXPECT_GT(unlike_192, pictures / 2);
    start_hidden_then_lock();
    auto shot = screenshot("locked-qvga.png");
    ASSERT_EQ(width_, 240);
    ASSERT_EQ(height_, 320);
    // The knob (96-dpi picture, 48 wide) rests at the track's left end: 120 - 100 = 20.
    int white = 0;
    for (int y = 280; y < 320; ++y)
        for (int x = 20; x < 68; ++x) white += shot[std::size_t(y) * 240 + x] == 0xFFFF;
    EXPECT_GT(white, 5);
    // The clock's digits are white too, in the upper third.
    white = 0;
    for (int y = 20; y < 100; ++y)
        for (int x = 0; x < 240; ++x) white += shot[std::size_t(y) * 240 + x] == 0xFFFF;
    EXPECT_GT(white, 50);
}

TEST_F(LockOnDevice, TheCentreSliderRestsMidTrackWithTextOnBothSides) {
    boot();
    ASSERT_EQ(device_.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "SliderPosition", "binary", "01"}).status, 0);
    start_hidden_then_lock();
    auto shot = screenshot("locked-centre.png");
    ASSERT_EQ(width_, 480);
    // The knob's white arrow around the middle (240 - 48 .. 240 + 48), none at the left end.
    auto white_in = [&](int x0, int x1) {
        int n = 0;
        for (int y = 700; y < 780; ++y)
            for (int x = x0; x < x1; ++x) n += shot[std::size_t(y) * 480 + x] == 0xFFFF;
        return n;
    };
    EXPECT_GT(white_in(192, 288), 20);
    EXPECT_EQ(white_in(40, 100), 0);
    // Drag to the left end: with the centre slider that unlocks too.
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(240, 740, 20, 740, 300));
}

// White pixels (the knob's arrow) in a box of the last screenshot.
int white_in(const std::vector<std::uint16_t>& shot, int width, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += shot[std::size_t(y) * width + x] == 0xFFFF;
    return n;
}

TEST_F(LockOnDevice, TurningTheDisplayLaysTheLockScreenOutForLandscapeAndTheLandscapeSliderUnlocks) {
    boot();
    start_hidden_then_lock();
    auto portrait = screenshot("locked-portrait.png");
    ASSERT_EQ(width_, 480);
    ASSERT_EQ(device_.ctl({"rotate", "90"}).status, 0);
    pump(Ms(800));
    auto shot = screenshot("locked-landscape.png");
    ASSERT_EQ(width_, 800);
    ASSERT_EQ(height_, 480);
    EXPECT_TRUE(lumo_visible());
    // The landscape wallpaper fills the turned screen: no black bands above or below it.
    EXPECT_NE(shot[std::size_t(5) * width_ + width_ / 2], 0);
    EXPECT_NE(shot[std::size_t(300) * width_ + 5], 0);
    // The slider is centred on the landscape width, in the bar at its bottom: the knob rests at
    // the track's left end, 200 pixels left of the centre.
    EXPECT_GT(white_in(shot, width_, 200, 380, 296, 460), 20);
    EXPECT_EQ(white_in(shot, width_, 40, 380, 136, 460), 0);
    // A drag along the landscape track unlocks.
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(248, 420, 640, 420, 400));
    // Turned back, the next lock is portrait again (after the unlock's grace for giving the
    // screen back).
    ASSERT_EQ(device_.ctl({"rotate", "0"}).status, 0);
    pump(Ms(2000));
    ASSERT_EQ(device_.ctl({"start", kLumo}).status, 0);
    ASSERT_TRUE(lumo_window("--visible"));
    pump(Ms(900));
    shot = screenshot("locked-portrait-again.png");
    ASSERT_EQ(width_, 480);
    ASSERT_EQ(height_, 800);
    EXPECT_GT(white_in(shot, width_, 40, 700, 136, 780), 20);
}

TEST_F(LockOnDevice, IgnoringRotationKeepsThePortraitPictureOnThePanel) {
    boot();
    ASSERT_EQ(device_.ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "IgnoreScreenRotation",
                           "binary", "01"})
                  .status,
              0);
    start_hidden_then_lock();
    ASSERT_EQ(device_.ctl({"rotate", "90"}).status, 0);
    pump(Ms(800));
    auto shot = screenshot("ignored-landscape.png");
    ASSERT_EQ(width_, 800);
    ASSERT_EQ(height_, 480);
    // Seen turned, the portrait slider bar lies along the left edge, its knob near the top.
    EXPECT_GT(white_in(shot, width_, 19, 40, 100, 137), 20);
    EXPECT_EQ(white_in(shot, width_, 200, 380, 296, 460), 0);
    // Dragging the knob along it, down the turned screen, unlocks.
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(59, 88, 59, 440, 400));
}

TEST_F(LockOnDevice, TheSmallProfileLaysTheLockScreenOutForLandscape) {
    boot({"--profile", "qvga"});
    start_hidden_then_lock();
    ASSERT_EQ(device_.ctl({"rotate", "270"}).status, 0);
    pump(Ms(800));
    auto shot = screenshot("locked-qvga-landscape.png");
    ASSERT_EQ(width_, 320);
    ASSERT_EQ(height_, 240);
    // The knob (48 wide) rests at the track's left end, 160 - 100 = 60, in the bar at the bottom.
    EXPECT_GT(white_in(shot, width_, 60, 190, 108, 240), 5);
    EXPECT_EQ(white_in(shot, width_, 20, 190, 56, 240), 0);
    // The clock's digits in the upper part, within the screen.
    EXPECT_GT(white_in(shot, width_, 0, 20, 320, 100), 50);
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(84, 215, 300, 215, 300));
}

TEST_F(LockOnDevice, TheLockAndUnlockSoundsPlayFromTheDeviceFolder) {
    boot();
    const std::string lock_wav = "\\My Documents\\locked.wav";
    const std::string unlock_wav = "\\My Documents\\unlocked.wav";
    write_file(device_.dir() / "fs" / "My Documents" / "locked.wav", pcm_wave(200));
    write_file(device_.dir() / "fs" / "My Documents" / "unlocked.wav", pcm_wave(200, 44100, 2));
    const std::string key = "Software\\Vesk\\Lumo";
    ASSERT_EQ(device_.ctl({"reg", "set", "HKCU", key, "LockSound", "string", lock_wav}).status, 0);
    ASSERT_EQ(device_.ctl({"reg", "set", "HKCU", key, "UnlockSound", "string", unlock_wav}).status,
              0);
    auto sound = [this] {
        std::map<std::string, std::string> out;
        std::istringstream in(device_.ctl({"sound", "status"}).out);
        for (std::string line; std::getline(in, line);) {
            auto sp = line.find(' ');
            if (sp != std::string::npos) out[line.substr(0, sp)] = line.substr(sp + 1);
        }
        return out;
    };
    start_hidden_then_lock();
    auto s = sound();
    EXPECT_EQ(s["last"], lock_wav);
    EXPECT_EQ(s["plays"], "1");

    ASSERT_NO_FATAL_FAILURE(drag_unlocks(88, 740, 440, 740, 400));
    s = sound();
    EXPECT_EQ(s["last"], unlock_wav);
    EXPECT_EQ(s["plays"], "2");
}

TEST_F(LockOnDevice, ACorruptKnobIsDrawnInsteadAndDraggingItUnlocks) {
    boot();
    {
        std::ofstream out(device_.dir() / "fs" / "Program Files" / "Lumo" / "gfx" / "arrows.png",
                          std::ios::binary | std::ios::trunc);
        out << "\x89PNG\r\n\x1a\n not a picture";
    }
    start_hidden_then_lock();
    auto shot = screenshot("corrupt-knob.png");
    ASSERT_EQ(width_, 480);
    // The drawn knob's white chevron at the track's left end.
    EXPECT_GT(white_in(shot, width_, 40, 700, 136, 780), 20);
    ASSERT_NO_FATAL_FAILURE(drag_unlocks(88, 740, 440, 740, 400));
    EXPECT_EQ(last_lock_time(), 0u);
}

// A whole phone: the start-up folder starts the service, which starts the lock screen hidden;
// a lock asked for at once, while the lock screen may still be loading its pictures, must lock
// for real on every boot.
TEST(LockAtBoot, ALockAskedForAtOnceAfterBootLocksEveryTime) {
    constexpr int kBoots = 8;
    for (int boot = 0; boot < kBoots; ++boot) {
        SCOPED_TRACE("boot " + std::to_string(boot));
        DeviceProcess d;
        ASSERT_TRUE(d.boot({"--auto-dismiss-dialogs"})) << d.last_error;
        ASSERT_EQ(d.ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
        ASSERT_EQ(d.ctl({"start", "\\Program Files\\Lumo\\Vardex2.exe", "-slide"}).status, 0);
        ASSERT_EQ(d.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "10"}).status, 0);
        // The lock is recorded once its entry has run.
        std::string lock_time;
        for (int i = 0; i < 100; ++i) {
            auto r = d.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "LastLockTime"});
            if (r.status == 0 && r.out.find("binary 0000000000000000") == std::string::npos) {
                lock_time = r.out;
                break;
            }
            std::this_thread::sleep_for(Ms(30));
        }
        ASSERT_FALSE(lock_time.empty()) << "the lock screen came up without locking";
        std::this_thread::sleep_for(Ms(600));  // the closing curtain
        auto file = d.dir() / "boot.png";
        ASSERT_EQ(d.ctl({"screenshot", file.string()}).status, 0);
        auto imaging = make_sdl_imaging();
        auto pic = imaging->open(to_u16(file.string()));
        ASSERT_TRUE(pic);
        int w = pic->width(), h = pic->height();
        std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
        ASSERT_TRUE(pic->read_rgba(w, h, rgba));
        int dark = 0;
        for (std::size_t i = 0; i < rgba.size(); i += 4) dark += rgba[i] + rgba[i + 1] + rgba[i + 2] < 24;
        EXPECT_LT(dark, w * h / 2) << "a black lock screen";
        // A drag unlocks the real lock.
        ASSERT_EQ(d.ctl({"drag", "88", "740", "440", "740", "400"}).status, 0);
        ASSERT_EQ(d.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "5"}).status, 0);
        EXPECT_EQ(d.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "LastLockTime"}).out,
                  "binary 0000000000000000\n");
    }
}

}  // namespace
}  // namespace lumo::test
