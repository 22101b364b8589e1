// The device's window on the desktop, drawn under SDL's dummy video driver and read back: the
// line saying what the phone does, the labelled buttons, the power key and the window's place.
#include <gtest/gtest.h>

#include <SDL.h>

#include <filesystem>

#include "device_process.h"
#include "display_service.h"
#include "display_window.h"
#include "host.h"
#include "power_service.h"
#include "services.h"

namespace lumo::test {
namespace {

using host::DisplayWindow;

// A display showing a grey screen, with a state line of the test's choosing.
class Sink final : public host::DisplaySink {
  public:
    int frame_width() const override { return 480; }
    int frame_height() const override { return 800; }
    const std::uint16_t* frame() override { return pixels_.data(); }
    void touch(Touch, int, int) override {}
    void key(std::uint8_t vk, bool up) override { keys.push_back({vk, up}); }
    std::string status_line() override { return line; }
    std::string line;
    std::vector<std::pair<std::uint8_t, bool>> keys;

  private:
    std::vector<std::uint16_t> pixels_ = std::vector<std::uint16_t>(480 * 800, 0x8410);
};

struct Shot {
    std::vector<std::uint32_t> px;
    int w = 0, h = 0;
    // Pixels in a box given in display pixels (the window's logical layout), by a test.
    int count(int x0, int y0, int x1, int y1, bool (*test)(std::uint32_t)) const {
        const double scale =
            double(h) / (800 + DisplayWindow::kStatusStrip + DisplayWindow::kButtonStrip);
        const int ox = (w - int(480 * scale)) / 2;
        int n = 0;
        for (int y = int(y0 * scale); y < int(y1 * scale) && y < h; ++y)
            for (int x = ox + int(x0 * scale); x < ox + int(x1 * scale) && x < w; ++x)
                n += test(px[std::size_t(y) * w + x]);
        return n;
    }
};

bool amber(std::uint32_t p) {
    return ((p >> 16) & 255) > 150 && (p & 255) < 120;
}
bool light(std::uint32_t p) {
    return ((p >> 16) & 255) > 150 && ((p >> 8) & 255) > 150 && (p & 255) > 150;
}

class DeviceWindow : public testing::Test {
  protected:
    void SetUp() override {
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        dir_ = DeviceProcess().dir().string() + "-window";
        std::filesystem::create_directories(dir_);
        std::string error;
        ASSERT_TRUE(window_.open(dir_, &error)) << error;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Shot shot() {
        Shot s;
        EXPECT_TRUE(window_.snapshot(s.px, s.w, s.h));
        return s;
    }
    std::string dir_;
    DisplayWindow window_;
};

TEST_F(DeviceWindow, TheLineUnderTheScreenSaysWhatThePhoneDoes) {
    Sink sink;
    window_.attach(&sink);
    const int strip = 800, strip_end = 800 + DisplayWindow::kStatusStrip;
    EXPECT_EQ(shot().count(0, strip, 480, strip_end, amber), 0);
    sink.line = "display off \u2014 press the power button (P)";
    auto dark = shot();
    EXPECT_GT(dark.count(0, strip, 480, strip_end, amber), 40);
    // Nothing of it spills onto the screen.
    EXPECT_EQ(dark.count(0, 0, 480, 800, amber), 0);
    window_.attach(nullptr);
}

TEST_F(DeviceWindow, TheButtonsAreLabelledAndPIsThePowerButton) {
    Sink sink;
    window_.attach(&sink);
    // The power key is the first third of the strip; its label stands right of the symbol.
    const int top = 800 + DisplayWindow::kStatusStrip + 10,
              bottom = top + DisplayWindow::kButtonStrip - 20;
    EXPECT_GT(shot().count(100, top, 150, bottom, light), 20);

    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = SDLK_p;
    SDL_PushEvent(&e);
    e.type = SDL_KEYUP;
    SDL_PushEvent(&e);
    window_.pump();
    ASSERT_EQ(sink.keys.size(), 2u);
    EXPECT_EQ(sink.keys[0], std::make_pair(std::uint8_t(0xDF), false));
    EXPECT_EQ(sink.keys[1], std::make_pair(std::uint8_t(0xDF), true));
    window_.attach(nullptr);
}

// Shrunk to fit a desktop lower than the phone, the window stays on it, title bar included.
TEST_F(DeviceWindow, AShrunkWindowStaysOnTheDesktop) {
    auto usable = window_.usable();
    auto place = window_.place();
    ASSERT_GT(usable.height, 0);
    EXPECT_GE(place.y, usable.y);
    EXPECT_GE(place.x, usable.x);
    EXPECT_LE(place.y + place.height, usable.y + usable.height);
    EXPECT_LE(place.x + place.width, usable.x + usable.width);
}

// The device's own line follows its power state.
TEST(DeviceStateLine, FollowsThePowerState) {
    DeviceProcess folder;
    host::Options options;
    options.dir = folder.dir().string();
    options.headless = true;
    options.startup = false;
    options.shell = false;
    host::Host h(options);
    std::string error;
    ASSERT_TRUE(h.start(&error)) << error;
    host::Services services(h);
    auto& display = services.display();
    auto& power = services.power();
    EXPECT_EQ(display.status_line().rfind("on ", 0), 0u) << display.status_line();
    power.go(host::PowerState::BacklightOff);
    EXPECT_EQ(display.status_line().rfind("backlight off", 0), 0u) << display.status_line();
    power.go(host::PowerState::DisplayIdle);
    EXPECT_EQ(display.status_line(), "display off \u2014 press the power button (P)");
    power.go(host::PowerState::Suspend);
    EXPECT_EQ(display.status_line(), "suspended \u2014 press the power button (P)");
    power.button();
    EXPECT_EQ(display.status_line().find("press the power button"), std::string::npos)
        << display.status_line();
}

}  // namespace
}  // namespace lumo::test
