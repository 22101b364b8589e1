// The shell's controls through a real host: the full-screen service hiding and showing the task
// bar, the input-panel button and the start icon (seen in the window list, the work area and the
// screenshot), and the start menu opened by a tap on the start icon, starting the program of a
// tapped row, at both screen sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

struct Shot {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    bool red(int x, int y) const {
        const auto* p = &rgba[(std::size_t(y) * width + x) * 4];
        return p[0] > 200 && p[1] < 60 && p[2] < 60;
    }
};

struct Screen {
    const char* profile;
    int width, height, bar;
};

class ShellControls : public testing::TestWithParam<Screen> {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start({"--shell", "--profile", GetParam().profile})) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"shell-controls-test", &error);
        ASSERT_TRUE(p_) << error;
    }
    Windows& win() { return p_->windows(); }

    Shot shot() {
        auto file = device_.dir() / ("shot" + std::to_string(shots_++) + ".png");
        auto r = device_.ctl({"screenshot", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        Shot s;
        auto pic = make_sdl_imaging()->open(to_u16(file.string()));
        if (!pic) {
            ADD_FAILURE() << "no screenshot at " << file;
            return s;
        }
        s.width = pic->width();
        s.height = pic->height();
        s.rgba.resize(std::size_t(s.width) * s.height * 4);
        EXPECT_TRUE(pic->read_rgba(s.width, s.height, s.rgba));
        return s;
    }
    // Whether `lumo-devctl windows` shows a window of the class, and visible.
    int shown(const std::string& cls) {
        auto out = device_.ctl({"windows"}).out;
        auto at = out.find("\t" + cls + "\t");
        if (at == std::string::npos) return -1;
        auto begin = out.rfind('\n', at);
        begin = begin == std::string::npos ? 0 : begin + 1;
        // handle, pid, exe, visible, ...
        std::size_t field = begin;
        for (int i = 0; i < 3; ++i) field = out.find('\t', field) + 1;
        return out[field] - '0';
    }
    // The middle of the start icon's red square.
    std::pair<int, int> flag_point() const {
        int h = GetParam().bar, side = h / 3, gap = std::max(1, side / 6);
        return {h / 4 + side / 2, (h - 2 * side - gap) / 2 + side / 2};
    }
    bool tap(int x, int y) {
        return device_.ctl({"tap", std::to_string(x), std::to_string(y)}).status == 0;
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
    int shots_ = 0;
};

TEST_P(ShellControls, FullScreenHidesTheThreeElementsAndOffShowsTheTaskBarAndTheStartIcon) {
    const auto screen = GetParam();
    EXPECT_EQ(shown("HHTaskBar"), 1);
    EXPECT_EQ(shown("MS_SIPBUTTON"), 1);
    EXPECT_EQ(shown("MS_STARTICON"), 1);
    EXPECT_EQ(win().work_area(), (Rect{0, screen.bar, screen.width, screen.height}));
    auto [fx, fy] = flag_point();
    EXPECT_TRUE(shot().red(fx, fy));

    ASSERT_TRUE(win().register_class(u"Covering", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; }));
    CreateWindowParams cp;
    cp.class_name = u"Covering";
    cp.style = WS_POPUP;
    Hwnd covering = win().create_window(cp);
    ASSERT_NE(covering, 0u);

    ASSERT_TRUE(win().full_screen(covering, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON));
    EXPECT_EQ(shown("HHTaskBar"), 0);
    EXPECT_EQ(shown("MS_SIPBUTTON"), 0);
    EXPECT_EQ(shown("MS_STARTICON"), 0);
    EXPECT_EQ(win().work_area(), (Rect{0, 0, screen.width, screen.height}));
    EXPECT_FALSE(shot().red(fx, fy));
    // Nothing of the shell answers a tap where the start icon was.
    EXPECT_NE(win().window_from_point(fx, fy), win().find_window(u"MS_STARTICON", std::nullopt));

    ASSERT_TRUE(win().full_screen(covering, SHFS_SHOWTASKBAR | SHFS_SHOWSTARTICON));
    EXPECT_EQ(shown("HHTaskBar"), 1);
    EXPECT_EQ(shown("MS_STARTICON"), 1);
    EXPECT_EQ(shown("MS_SIPBUTTON"), 0);
    EXPECT_EQ(win().work_area(), (Rect{0, screen.bar, screen.width, screen.height}));
    EXPECT_TRUE(shot().red(fx, fy));

    // The same through the control tool, for the window in front.
    ASSERT_TRUE(win().set_foreground_window(covering));
    auto on = device_.ctl({"fullscreen", "on"});
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out, "work area 0 0 " + std::to_string(screen.width) + " " + std::to_string(screen.height) + "\n");
    EXPECT_EQ(shown("MS_STARTICON"), 0);
    auto off = device_.ctl({"fullscreen", "off"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out, "work area 0 " + std::to_string(screen.bar) + " " + std::to_string(screen.width) + " " +
                           std::to_string(screen.height) + "\n");
    EXPECT_EQ(shown("MS_STARTICON"), 1);

    // A window that is not there is refused.
    EXPECT_FALSE(win().full_screen(0x7FFFFFF0, SHFS_HIDETASKBAR));
    EXPECT_EQ(shown("HHTaskBar"), 1);
}

TEST_P(ShellControls, TheStartIconOpensTheMenuWhoseRowsStartTheirPrograms) {
    const auto screen = GetParam();
    auto [fx, fy] = flag_point();
    EXPECT_EQ(shown("StartMenu"), 0);
    ASSERT_TRUE(tap(fx, fy));
    ASSERT_TRUE(wait_until([&] { return shown("StartMenu") == 1; }, Ms(3000))) << device_.ctl({"windows"}).out;
    // A second tap on the icon closes it, a third opens it again.
    ASSERT_TRUE(tap(fx, fy));
    ASSERT_TRUE(wait_until([&] { return shown("StartMenu") == 0; }, Ms(3000)));
    ASSERT_TRUE(tap(fx, fy));
    ASSERT_TRUE(wait_until([&] { return shown("StartMenu") == 1; }, Ms(3000)));
    auto menu = win().window_info(win().find_window(u"StartMenu", std::nullopt));
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->rect.top, screen.bar);
    EXPECT_LE(menu->rect.bottom, screen.height);

    // The first row is the settings program; the second the browser.
    const int row = screen.width >= 480 ? 60 : 30, margin = row / 5;
    ASSERT_TRUE(tap(menu->rect.left + 3 * row, menu->rect.top + margin + row / 2));
    ASSERT_TRUE(wait_until([&] { return shown("LumoSettings") == 1; }, Ms(8000))) << device_.ctl({"windows"}).out;
    EXPECT_EQ(shown("StartMenu"), 0);
    EXPECT_NE(device_.ctl({"processes"}).out.find("LumoSettings.exe"), std::string::npos);
    EXPECT_NE(device_.ctl({"log"}).out.find("start menu: \\Program Files\\Lumo\\LumoSettings.exe"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ShellControls,
                         testing::Values(Screen{"vga", 480, 800, 52}, Screen{"qvga", 240, 320, 26}),
                         [](const testing::TestParamInfo<Screen>& p) { return std::string(p.param.profile); });

}  // namespace
}  // namespace lumo::test
