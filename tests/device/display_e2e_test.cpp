// The phone's display through a real host: a program presents a frame through the device display
// and the screenshot shows it; the stylus reaches the window under the point, and the window that
// took the button-down keeps it through a drag.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "device_process.h"
#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/screen.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

// The same formula as the test program's display role.
std::uint16_t pattern_pixel(int x, int y) {
    return std::uint16_t(((x * 7 + y) & 31) << 11 | ((y * 3) & 63) << 5 | ((x ^ y) & 31));
}

struct Seen {
    Hwnd hwnd;
    std::uint32_t msg;
    WParam w;
    LParam l;
};

int lx(LParam l) { return std::int16_t(std::uint32_t(l) & 0xFFFF); }
int ly(LParam l) { return std::int16_t(std::uint32_t(l) >> 16); }

class DisplayThroughHost : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start()) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"display-test", &error);
        ASSERT_TRUE(p_) << error;
        auto record = [this](Hwnd h, std::uint32_t msg, WParam w, LParam l) -> LResult {
            if (msg == WM_LBUTTONDOWN || msg == WM_MOUSEMOVE || msg == WM_LBUTTONUP)
                seen_.push_back({h, msg, w, l});
            if (msg == WM_SETTINGCHANGE || msg == WM_WINDOWPOSCHANGED) settings_.push_back({h, msg, w, l});
            return 0;
        };
        ASSERT_TRUE(win().register_class(u"TestSink", record));
        ASSERT_TRUE(win().register_class(u"TapTarget", record));
        CreateWindowParams cp;
        cp.class_name = u"TestSink";
        cp.title = u"sink";
        cp.rect = {0, 0, 1, 1};  // hidden: the stylus never lands on it
        sink_ = win().create_window(cp);
        ASSERT_NE(sink_, 0u);
        pid_ = spawn_device_program("lumo-testprog", {"display"}, device_.socket_path());
        for (int i = 0; i < 500 && !display_; ++i) {
            display_ = win().find_window(std::nullopt, u"display ready");
            if (!display_) std::this_thread::sleep_for(Ms(10));
        }
        ASSERT_NE(display_, 0u) << "the display program did not present";
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait_program(pid_);
        }
    }
    Windows& win() { return p_->windows(); }
    void pump(Ms how_long) {
        auto end = std::chrono::steady_clock::now() + how_long;
        win().set_timer(sink_, 999, 10);
        Message m;
        while (std::chrono::steady_clock::now() < end && win().get_message(m)) win().dispatch(m);
        win().kill_timer(sink_, 999);
    }
    void restart_display_program(const char* backend);
    Hwnd make_target(Rect r) {
        CreateWindowParams cp;
        cp.class_name = u"TapTarget";
        cp.title = u"target";
        cp.style = WS_VISIBLE;
        cp.rect = r;
        Hwnd h = win().create_window(cp);
        win().show_window(h, SW_SHOW);
        return h;
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
    Hwnd sink_ = 0, display_ = 0;
    pid_t pid_ = -1;
    std::vector<Seen> seen_;
    std::vector<Seen> settings_;  // what a turn of the display sent
};

// A message box is centred on the screen of either profile and tall enough for its text.
void expect_message_box_fits(const char* profile, int width, int height) {
    DeviceProcess d;
    ASSERT_TRUE(d.start({"--profile", profile})) << d.last_error;
    // The service's first start asks its licence question in a box with a long text.
    ASSERT_EQ(d.ctl({"start", "\\Program Files\\Lumo\\Vardex2.exe"}).status, 0);
    ASSERT_EQ(d.ctl({"wait", "window", "Dialog", "--visible", "--timeout", "10"}).status, 0);
    std::string error;
    auto p = device::connect(d.socket_path(), u"box-test", &error);
    ASSERT_TRUE(p) << error;
    auto info = p->windows().window_info(p->windows().find_window(u"Dialog", std::nullopt));
    ASSERT_TRUE(info);
    const auto& r = info->rect;
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.right, width);
    EXPECT_LE(r.bottom, height);
    EXPECT_EQ(r.left + r.right, width);
    EXPECT_NEAR(r.top + r.bottom, height, 1);
    // Taller than a short box: the licence needs more lines than three tenths of the screen.
    EXPECT_GT(r.height(), height * 3 / 10) << profile;
}

TEST(MessageBoxOnScreen, FitsTheScreenOfEitherProfile) {
    expect_message_box_fits("vga", 480, 800);
    expect_message_box_fits("qvga", 240, 320);
}

TEST_F(DisplayThroughHost, TurningTheDisplayTellsEveryWindowAndTheOrientationQuery) {
    Hwnd target = make_target({0, 0, 480, 800});
    pump(Ms(50));
    settings_.clear();
    ASSERT_EQ(device_.ctl({"rotate", "90"}).status, 0);
    pump(Ms(200));
    EXPECT_EQ(p_->display().orientation_angle(), 90);
    std::vector<std::uint32_t> msgs;
    for (auto& m : settings_)
        if (m.hwnd == target) msgs.push_back(m.msg);
    EXPECT_EQ(msgs, (std::vector<std::uint32_t>{WM_SETTINGCHANGE, WM_WINDOWPOSCHANGED}));
    for (auto& m : settings_) {
        if (m.msg == WM_SETTINGCHANGE) {
            EXPECT_EQ(m.w, SETTINGCHANGE_RESET);
        }
    }
    EXPECT_EQ(device_.ctl({"rotate", "45"}).status, 2);
    ASSERT_EQ(device_.ctl({"rotate", "0"}).status, 0);
    EXPECT_EQ(p_->display().orientation_angle(), 0);
}

// The screenshot must equal the pattern the display program presented, at the screen's size as
// the programs see it.
void expect_screenshot_is_pattern(DeviceProcess& device, int w = 480, int h = 800) {
    auto file = device.dir() / "shot.png";
    auto r = device.ctl({"screenshot", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file.string() + "\n");
    auto imaging = make_sdl_imaging();
    auto pic = imaging->open(to_u16(file.string()));
    ASSERT_TRUE(pic);
    ASSERT_EQ(pic->width(), w);
    ASSERT_EQ(pic->height(), h);
    std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
    ASSERT_TRUE(pic->read_rgba(w, h, rgba));
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto* px = &rgba[(std::size_t(y) * w + x) * 4];
            unsigned got = unsigned(px[0] >> 3) << 11 | unsigned(px[1] >> 2) << 5 | unsigned(px[2] >> 3);
            if (got != pattern_pixel(x, y) && wrong++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got
                              << ", presented " << pattern_pixel(x, y);
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DisplayThroughHost, ScreenshotHoldsExactlyThePresentedFrame) { expect_screenshot_is_pattern(device_); }

// Restarts the display program with a back-end switch ("" for the frame buffer) after a black
// frame, so a back-end that presents nothing cannot pass.
void DisplayThroughHost::restart_display_program(const char* backend) {
    ::kill(pid_, SIGKILL);
    wait_program(pid_);
    for (int i = 0; i < 200 && win().find_window(std::nullopt, u"display ready"); ++i)
        std::this_thread::sleep_for(Ms(10));
    std::filesystem::remove(device_.dir() / "shot.png");
    {
        auto imaging = make_sdl_imaging();
        gfx::Screen blank;
        int raw = 1;
        ASSERT_TRUE(gfx::OpenScreen(blank, p_->display(), sink_, raw, imaging.get()));
        std::fill_n(blank.back_buffer.get(), blank.pixel_count, std::uint16_t(0));
        ASSERT_TRUE(gfx::PresentScreen(blank));
    }
    ::setenv("LUMO_TEST_SWITCH", backend, 1);
    pid_ = spawn_device_program("lumo-testprog", {"display"}, device_.socket_path());
    ::unsetenv("LUMO_TEST_SWITCH");
    display_ = 0;
    for (int i = 0; i < 500 && !display_; ++i) {
        display_ = win().find_window(std::nullopt, u"display ready");
        if (!display_) std::this_thread::sleep_for(Ms(10));
    }
    ASSERT_NE(display_, 0u) << backend << " did not present";
}

TEST_F(DisplayThroughHost, EveryBackEndPresentsTheSameFrame) {
    for (const char* backend : {"-ddraw", "-gdi"}) {
        SCOPED_TRACE(backend);
        restart_display_program(backend);
        expect_screenshot_is_pattern(device_);
    }
}

TEST_F(DisplayThroughHost, TurnedDisplayReportsTheTurnedScreenAndEveryBackEndShowsItUpright) {
    ASSERT_EQ(device_.ctl({"rotate", "90"}).status, 0);
    auto m = p_->display().metrics();
    EXPECT_EQ(m.width, 800);
    EXPECT_EQ(m.height, 480);
    // The escape addresses the turned screen: stepping right and down from its pointer stays
    // inside the panel's memory and reaches every pixel once.
    auto raw = p_->display().raw_frame_buffer();
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->width, 800);
    EXPECT_EQ(raw->height, 480);
    auto* origin = static_cast<std::uint8_t*>(raw->pointer);
    auto* lowest = origin + std::min(0, raw->xstride * 799) + std::min(0, raw->ystride * 479);
    auto* highest = origin + std::max(0, raw->xstride * 799) + std::max(0, raw->ystride * 479);
    EXPECT_EQ(highest - lowest, std::ptrdiff_t(480 * 800 - 1) * 2);
    EXPECT_EQ(std::abs(raw->xstride) * std::abs(raw->ystride), 2 * 960);
    for (const char* backend : {"", "-ddraw", "-gdi"}) {
        SCOPED_TRACE(std::string("back-end ") + backend);
        restart_display_program(backend);
        expect_screenshot_is_pattern(device_, 800, 480);
    }
    ASSERT_EQ(device_.ctl({"rotate", "270"}).status, 0);
    restart_display_program("");
    expect_screenshot_is_pattern(device_, 800, 480);
    ASSERT_EQ(device_.ctl({"rotate", "0"}).status, 0);
    m = p_->display().metrics();
    EXPECT_EQ(m.width, 480);
    EXPECT_EQ(m.height, 800);
    restart_display_program("");
    expect_screenshot_is_pattern(device_);
}

TEST_F(DisplayThroughHost, TurnedDisplayDeliversTapsAtTheTurnedPoint) {
    // A full-screen window follows the turn; a window near the old bottom edge is moved back on.
    Hwnd full = make_target({0, 0, 480, 800});
    ASSERT_EQ(device_.ctl({"rotate", "90"}).status, 0);
    pump(Ms(100));
    auto info = win().window_info(full);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rect.right, 800);
    EXPECT_EQ(info->rect.bottom, 480);
    Hwnd small = make_target({700, 400, 780, 460});
    ASSERT_EQ(device_.ctl({"tap", "710", "450"}).status, 0);
    ASSERT_EQ(device_.ctl({"tap", "760", "30"}).status, 0);
    pump(Ms(300));
    std::vector<Seen> on_small, on_full;
    for (auto& s : seen_) {
        if (s.hwnd == small) on_small.push_back(s);
        if (s.hwnd == full) on_full.push_back(s);
    }
    ASSERT_EQ(on_small.size(), 2u);
    EXPECT_EQ(lx(on_small[0].l), 10);
    EXPECT_EQ(ly(on_small[0].l), 50);
    ASSERT_EQ(on_full.size(), 2u);  // beyond the portrait width, on the stretched window
    EXPECT_EQ(lx(on_full[0].l), 760);
    EXPECT_EQ(ly(on_full[0].l), 30);
    // Off the turned screen nothing is hit, though it was on the portrait one.
    EXPECT_EQ(device_.ctl({"tap", "100", "700"}).status, 1);
}

TEST_F(DisplayThroughHost, ScreenshotWithoutANameGoesToTheScreenshotsFolder) {
    auto r1 = device_.ctl({"screenshot"});
    auto r2 = device_.ctl({"screenshot"});
    ASSERT_EQ(r1.status, 0) << r1.err;
    ASSERT_EQ(r2.status, 0) << r2.err;
    EXPECT_NE(r1.out, r2.out);
    for (auto& out : {r1.out, r2.out}) {
        std::filesystem::path p(out.substr(0, out.size() - 1));
        EXPECT_EQ(p.parent_path(), device_.dir() / "screenshots");
        EXPECT_GT(std::filesystem::file_size(p), 0u);
    }
}

TEST_F(DisplayThroughHost, TapReachesTheWindowUnderThePointInItsClientCoordinates) {
    Hwnd target = make_target({300, 300, 400, 400});
    ASSERT_EQ(device_.ctl({"tap", "350", "320"}).status, 0);
    ASSERT_EQ(device_.ctl({"tap", "10", "20"}).status, 0);
    pump(Ms(300));
    // Each window got its own tap; the display program passes its messages on to the sink.
    std::vector<Seen> on_target, on_sink;
    for (auto& s : seen_) (s.hwnd == target ? on_target : on_sink).push_back(s);
    ASSERT_EQ(on_target.size(), 2u);
    EXPECT_EQ(on_target[0].msg, WM_LBUTTONDOWN);
    EXPECT_EQ(on_target[0].w, 1u);
    EXPECT_EQ(lx(on_target[0].l), 50);
    EXPECT_EQ(ly(on_target[0].l), 20);
    EXPECT_EQ(on_target[1].msg, WM_LBUTTONUP);
    EXPECT_EQ(on_target[1].w, 0u);
    ASSERT_EQ(on_sink.size(), 2u);
    EXPECT_EQ(on_sink[0].msg, WM_LBUTTONDOWN);
    EXPECT_EQ(lx(on_sink[0].l), 10);
    EXPECT_EQ(ly(on_sink[0].l), 20);
    EXPECT_EQ(on_sink[1].msg, WM_LBUTTONUP);
}

TEST_F(DisplayThroughHost, TheWindowThatTookTheDownKeepsTheStylusThroughADrag) {
    Hwnd target = make_target({300, 300, 400, 400});
    ASSERT_EQ(device_.ctl({"drag", "100", "100", "350", "350", "--ms", "64"}).status, 0);
    pump(Ms(300));
    ASSERT_GE(seen_.size(), 3u);
    for (auto& s : seen_) EXPECT_NE(s.hwnd, target) << "message " << s.msg << " escaped the capture";
    EXPECT_EQ(seen_.front().msg, WM_LBUTTONDOWN);
    EXPECT_EQ(lx(seen_.front().l), 100);
    for (std::size_t i = 1; i + 1 < seen_.size(); ++i) {
        EXPECT_EQ(seen_[i].msg, WM_MOUSEMOVE);
        EXPECT_EQ(seen_[i].w, 1u);
    }
    EXPECT_EQ(seen_.back().msg, WM_LBUTTONUP);
    EXPECT_EQ(lx(seen_.back().l), 350);
    EXPECT_EQ(ly(seen_.back().l), 350);
    // After the up, the point belongs to whoever is under it again.
    ASSERT_EQ(device_.ctl({"touch", "down", "350", "350"}).status, 0);
    ASSERT_EQ(device_.ctl({"touch", "up", "350", "350"}).status, 0);
    pump(Ms(200));
    EXPECT_EQ(seen_.back().hwnd, target);
}

TEST_F(DisplayThroughHost, StylusVerbsRejectBadInputAndReportMisses) {
    EXPECT_EQ(device_.ctl({"touch", "press", "1", "1"}).status, 2);
    EXPECT_EQ(device_.ctl({"tap", "1"}).status, 2);
    EXPECT_EQ(device_.ctl({"tap", "x", "1"}).status, 2);
    EXPECT_EQ(device_.ctl({"drag", "1", "2", "3"}).status, 2);
    // Off the display nothing is hit.
    EXPECT_EQ(device_.ctl({"tap", "-5", "900"}).status, 1);
    EXPECT_EQ(device_.ctl({"status"}).status, 0);
}

}  // namespace
}  // namespace lumo::test
