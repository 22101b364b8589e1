// The settings program on a booted headless phone (480x800): every page opened by a tap and
// kept as a screenshot in the test's output folder, a fling on a long page, and a save that
// writes the export, restarts the service and brings a lock with the new clock.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::settings::test {
namespace {

using lumo::test::DeviceProcess;
namespace fs = std::filesystem;

const std::string kSettings = "\\Program Files\\Lumo\\LumoSettings.exe";

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class SettingsOnDevice : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.boot({"--auto-dismiss-dialogs"})) << device_.last_error;
        ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
        shots_ = fs::current_path() / "settings-shots";
        fs::create_directories(shots_);
    }
    lumo::test::CommandResult ctl(const std::vector<std::string>& args) { return device_.ctl(args); }
    void tap(int x, int y) {
        ASSERT_EQ(ctl({"tap", std::to_string(x), std::to_string(y)}).status, 0);
        pause(400);
    }
    void drag(int y1, int y2, int ms) {
        ASSERT_EQ(ctl({"drag", "240", std::to_string(y1), "240", std::to_string(y2), std::to_string(ms)}).status, 0);
    }
    // The screenshot's pixels (RGBA), kept under `name` in the output folder.
    std::vector<std::uint8_t> shot(const std::string& name) {
        auto file = shots_ / name;
        EXPECT_EQ(ctl({"screenshot", file.string()}).status, 0);
        auto pic = platform::make_sdl_imaging()->open(platform::to_u16(file.string()));
        if (!pic) return {};
        std::vector<std::uint8_t> rgba(std::size_t(pic->width()) * pic->height() * 4);
        pic->read_rgba(pic->width(), pic->height(), rgba);
        return rgba;
    }
    // Share of pixels that differ between two shots in rows y0..y1 of a 480-wide screen.
    static double differ(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int y0, int y1) {
        if (a.size() != b.size() || a.empty()) return 1.0;
        int n = 0, total = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < 480; ++x, ++total) {
                std::size_t i = (std::size_t(y) * 480 + std::size_t(x)) * 4;
                n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
            }
        return double(n) / total;
    }
    void start_settings() {
        ASSERT_EQ(ctl({"start", kSettings}).status, 0);
        ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground"}).status, 0);
        pause(800);
    }
    // From anywhere in the program to the main menu, its list at the top or at its end.
    void menu(bool at_end) {
        tap(20, 58);
        tap(20, 58);
        if (at_end) drag(700, 100, 100);
        else drag(100, 700, 100);
        pause(1500);
    }
    // The menu row of a page: the first eight from the top, the rest from the end.
    void open_page(int page) {
        constexpr int top = 84, row = 76, end_offset = 14 * row - 636;
        menu(page >= 8);
        tap(240, top + row * page + 36 - (page >= 8 ? end_offset : 0));
    }

    DeviceProcess device_;
    fs::path shots_;
};

TEST_F(SettingsOnDevice, EveryPageOpensAndALongPageFlings) {
    start_settings();
    auto menu_shot = shot("settings-menu.png");
    std::vector<std::uint8_t> previous = menu_shot;
    for (int page = 0; page < 14; ++page) {
        open_page(page);
        auto s = shot("settings-page" + std::to_string(page) + ".png");
        // The title bar names another page each time; the list below differs from the menu.
        EXPECT_GT(differ(s, previous, 32, 84), 0.01) << "page " << page;
        EXPECT_GT(differ(s, menu_shot, 84, 720), 0.05) << "page " << page;
        previous = s;
    }
    open_page(0);
    auto before = shot("settings-general-top.png");
    drag(650, 250, 150);
    pause(2500);
    auto after = shot("settings-general-flung.png");
    EXPECT_GT(differ(before, after, 84, 720), 0.2);
    // Settled: nothing moves any more.
    auto later = shot("settings-general-settled.png");
    EXPECT_LT(differ(after, later, 84, 720), 0.001);
}

TEST_F(SettingsOnDevice, TheAboutRowsOpenTheHomePageAndTheDonationPageInTheBrowser) {
    start_settings();
    open_page(13);
    // Under the about text (150 units): the home-page row, then the donate row.
    tap(40, 84 + 300 + 20);
    ASSERT_EQ(ctl({"wait", "window", "IExplore", "--foreground", "--timeout", "5"}).status, 0);
    EXPECT_NE(ctl({"windows"}).out.find("https://lumo.vesk.dev/ - Internet Explorer"), std::string::npos)
        << ctl({"windows"}).out;
    shot("settings-home-page.png");
    ASSERT_EQ(ctl({"start", kSettings}).status, 0);  // the single instance comes to the front
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--foreground", "--timeout", "5"}).status, 0);
    pause(500);
    tap(40, 84 + 300 + 88 + 4 + 20);
    EXPECT_TRUE(lumo::test::wait_until(
        [&] { return ctl({"windows"}).out.find("https://lumo.vesk.dev/donate - Internet Explorer") != std::string::npos; },
        std::chrono::milliseconds(5000)))
        << ctl({"windows"}).out;
}

TEST_F(SettingsOnDevice, SaveWritesTheExportRestartsTheServiceAndTheLockShowsTheNewClock) {
    ASSERT_EQ(ctl({"lock"}).status, 0);
    pause(2000);
    auto old_lock = shot("lock-before-save.png");
    ASSERT_EQ(ctl({"drag", "88", "740", "440", "740"}).status, 0);
    ASSERT_EQ(ctl({"wait", "window", "Lumo", "--hidden"}).status, 0);
    auto before = ctl({"processes"}).out;

    start_settings();
    open_page(2);
    tap(432, 390);  // Clock Font Folder, plus: clockH
    shot("save-clock-folder.png");
    open_page(6);
    drag(650, 100, 100);  // to the page's end
    pause(2000);
    tap(432, 600);  // Text Size, plus
    shot("save-text-size.png");
    tap(80, 760);  // Save
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--gone", "--timeout", "20"}).status, 0);

    EXPECT_EQ(ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "ClockPath"}).out, "string clockH\\\n");
    EXPECT_EQ(ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "TextSize"}).out, "binary 03\n");
    std::ifstream in(device_.dir() / "fs" / "Program Files" / "Lumo" / "lumo Settings.reg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    EXPECT_NE(text.find(u"\"ClockPath\"=\"clockH\\\"\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"\"TextSize\"=hex:03\r\n"), std::u16string::npos);

    // A new service, which starts a new lock screen.
    ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
    auto after = ctl({"processes"}).out;
    auto pid_of = [](const std::string& list, const std::string& exe) {
        auto at = list.find(exe);
        if (at == std::string::npos) return std::string();
        auto start = list.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        return list.substr(start, list.find('\t', start) - start);
    };
    EXPECT_FALSE(pid_of(after, "Vardex2.exe").empty());
    EXPECT_NE(pid_of(before, "Vardex2.exe"), pid_of(after, "Vardex2.exe"));
    pause(1500);
    ASSERT_EQ(ctl({"lock"}).status, 0);
    pause(2000);
    auto new_lock = shot("lock-after-save.png");
    // The clock's band shows the other font.
    EXPECT_GT(differ(old_lock, new_lock, 100, 330), 0.01);
}

}  // namespace
}  // namespace lumo::settings::test
