// Themes and languages on a booted headless phone (480x800), driven as a person and LumoC would:
// taps on the theme page, the pick written to LoadTheme and announced to the settings window.
// The archives are read with Python's zipfile, an implementation of its own; screenshots stay in
// the test's output folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::settings::test {
namespace {

using lumo::test::DeviceProcess;
using lumo::test::wait_until;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSettings = "\\Program Files\\Lumo\\LumoSettings.exe";

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::map<std::string, std::string> tree(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).generic_string()] = read_bytes(e.path());
    return out;
}

// The entry names of an archive, as Python's zipfile lists them.
std::set<std::string> zip_names(const fs::path& archive) {
    auto out = run("python3 -c 'import sys, zipfile; print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' '" +
                   archive.string() + "'");
    std::set<std::string> names;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.insert(line);
    return names;
}

class ThemesOnDevice : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.boot({"--auto-dismiss-dialogs"})) << device_.last_error;
        ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
        ASSERT_EQ(ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", "DebugOn", "binary", "01"}).status, 0);
        shots_ = fs::current_path() / "theme-shots";
        fs::create_directories(shots_);
        fs::create_directories(docs());
    }
    lumo::test::CommandResult ctl(const std::vector<std::string>& args) { return device_.ctl(args); }
    fs::path program() const { return device_.dir() / "fs" / "Program Files" / "Lumo"; }
    fs::path docs() const { return device_.dir() / "fs" / "My Documents"; }
    void tap(int x, int y) {
        ASSERT_EQ(ctl({"tap", std::to_string(x), std::to_string(y)}).status, 0);
        pause(400);
    }
    void reg_text(const std::string& name, const std::string& value) {
        ASSERT_EQ(ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", name, "string", value}).status, 0);
    }
    void reg_byte(const std::string& name, const std::string& hex) {
        ASSERT_EQ(ctl({"reg", "set", "HKCU", "Software\\Vesk\\Lumo", name, "binary", hex}).status, 0);
    }
    std::string reg(const std::string& name) { return ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", name}).out; }
    std::vector<std::uint8_t> shot(const std::string& name) {
        auto file = shots_ / name;
        EXPECT_EQ(ctl({"screenshot", file.string()}).status, 0);
        auto pic = platform::make_sdl_imaging()->open(platform::to_u16(file.string()));
        if (!pic) return {};
        std::vector<std::uint8_t> rgba(std::size_t(pic->width()) * pic->height() * 4);
        pic->read_rgba(pic->width(), pic->height(), rgba);
        return rgba;
    }
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
    // The menu's rows: the first eight from the top, the rest with the list at its end.
    void open_page(int page) {
        constexpr int top = 84, row = 76, end_offset = 14 * row - 636;
        if (page >= 8) {
            ASSERT_EQ(ctl({"drag", "240", "700", "240", "100", "100"}).status, 0);
            pause(1500);
        }
        tap(240, top + row * page + 36 - (page >= 8 ? end_offset : 0));
    }
    void save_on_theme_page() {
        std::error_code ec;
        fs::remove(program() / "theme.lumo", ec);
        tap(240, 152);  // Save Theme
        // Done once the archive is closed and the temporary theme.reg is gone again.
        ASSERT_TRUE(wait_until(
            [&] {
                return fs::exists(program() / "theme.lumo") && !fs::exists(program() / "theme.reg") &&
                       device_.program_log("lumo Settings.log").find("Theme created 0") != std::string::npos;
            },
            20s));
        pause(500);
    }
    void leave_settings() {
        tap(400, 780);  // Cancel
        ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--gone", "--timeout", "10"}).status, 0);
    }
    // LumoC's pick: the path first, then the message to the settings window.
    void pick(const std::string& device_path) {
        reg_text("LoadTheme", device_path);
        ASSERT_EQ(ctl({"post", "LumoSettings", "0x8062", "0", "0"}).status, 0);
    }
    // The lock screen at a fixed time, then unlocked again (a centre slider from its middle).
    std::vector<std::uint8_t> lock_shot(const std::string& name, bool centre = false) {
        EXPECT_EQ(ctl({"time", "set", "2026-12-08T10:00"}).status, 0);
        EXPECT_EQ(ctl({"lock"}).status, 0);
        pause(2500);
        auto s = shot(name);
        EXPECT_EQ(ctl({"drag", centre ? "240" : "88", "740", "460", "740"}).status, 0);
        EXPECT_EQ(ctl({"wait", "window", "Lumo", "--hidden"}).status, 0);
        return s;
    }

    DeviceProcess device_;
    fs::path shots_;
};

TEST_F(ThemesOnDevice, SaveLoadRoundTripRefusalsAndTheClockFolders) {
    // A save with no clock folders: theme.reg and the files of gfx, nothing more.
    reg_text("ClockPath", "");
    reg_text("Clock2Path", "");
    start_settings();
    open_page(9);
    save_on_theme_page();
    shot("theme-page-saved.png");
    std::set<std::string> expected{"theme.reg"};
    for (auto& e : fs::directory_iterator(program() / "gfx"))
        if (e.is_regular_file()) expected.insert("gfx/" + e.path().filename().string());
    EXPECT_EQ(zip_names(program() / "theme.lumo"), expected);
    // The phone was kept awake meanwhile.
    auto power = ctl({"power", "status"}).out;
    EXPECT_EQ(power.find("idle-timer-resets 0\n"), std::string::npos) << power;
    EXPECT_NE(power.find("idle-timer-resets "), std::string::npos) << power;
    leave_settings();

    // With both clock folders set, their files come along.
    reg_text("ClockPath", "clockH\\");
    reg_text("Clock2Path", "clockS\\");
    start_settings();
    open_page(9);
    save_on_theme_page();
    auto names = zip_names(program() / "theme.lumo");
    EXPECT_TRUE(names.count("gfx/clockH/0.png"));
    EXPECT_TRUE(names.count("gfx/clockS/0.png"));
    EXPECT_FALSE(names.count("gfx/clockA/0.png"));
    fs::copy_file(program() / "theme.lumo", docs() / "look.lumo");
    leave_settings();

    // The saved look, then another one: two appearance options and the wallpaper.
    ASSERT_EQ(ctl({"settings", "reload"}).status, 0);
    pause(1500);
    auto saved = lock_shot("lock-saved-look.png");
    auto gfx_before = tree(program() / "gfx");
    auto text_size = reg("TextSize"), slider = reg("SliderPosition"), wallpaper = reg("Wallpaper");
    reg_byte("TextSize", "04");
    reg_byte("SliderPosition", "01");
    reg_text("Wallpaper", "\\My Documents\\My Pictures\\Lagoon.jpg");
    ASSERT_EQ(ctl({"settings", "reload"}).status, 0);
    pause(1500);
    auto changed = lock_shot("lock-changed-look.png", true);
    EXPECT_GT(differ(saved, changed, 0, 800), 0.05);

    // A theme missing gfx/smenu.png is refused, naming it, and nothing changes.
    run("python3 -c 'import sys, zipfile\n"
        "src = zipfile.ZipFile(sys.argv[1]); dst = zipfile.ZipFile(sys.argv[2], \"w\", zipfile.ZIP_DEFLATED)\n"
        "[dst.writestr(i, src.read(i)) for i in src.infolist() if i.filename != \"gfx/smenu.png\"]\n"
        "dst.close()' '" + (docs() / "look.lumo").string() + "' '" + (docs() / "nomenu.lumo").string() + "'");
    // And one whose entry climbs out of the program folder.
    run("python3 -c 'import sys, zipfile, shutil\n"
        "shutil.copy(sys.argv[1], sys.argv[2]); z = zipfile.ZipFile(sys.argv[2], \"a\")\n"
        "z.writestr(\"../../evil.txt\", \"x\"); z.close()' '" + (docs() / "look.lumo").string() + "' '" +
        (docs() / "climb.lumo").string() + "'");
    auto changed_gfx = tree(program() / "gfx");
    start_settings();
    open_page(9);
    pick("\\My Documents\\nomenu.lumo");
    ASSERT_TRUE(wait_until(
        [&] { return device_.program_log("lumo Settings.log").find("Missed file: gfx/smenu.png") != std::string::npos; },
        20s));
    pause(800);
    auto refused = shot("theme-page-invalid.png");
    EXPECT_EQ(tree(program() / "gfx"), changed_gfx);
    EXPECT_EQ(reg("TextSize"), "binary 04\n");
    tap(240, 780);  // the cancel control
    pick("\\My Documents\\climb.lumo");
    ASSERT_TRUE(wait_until(
        [&] { return device_.program_log("lumo Settings.log").find("unsafe entry ../../evil.txt") != std::string::npos; },
        20s));
    pause(800);
    shot("theme-page-unsafe.png");
    EXPECT_EQ(tree(program() / "gfx"), changed_gfx);
    EXPECT_FALSE(fs::exists(device_.dir() / "evil.txt"));
    EXPECT_FALSE(fs::exists(device_.dir() / "fs" / "evil.txt"));
    tap(240, 780);

    // The saved look loads: the settings program ends, the service restarts, the lock screen
    // looks as it did.
    auto before = ctl({"processes"}).out;
    pick("\\My Documents\\look.lumo");
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--gone", "--timeout", "30"}).status, 0);
    EXPECT_EQ(reg("TextSize"), text_size);
    EXPECT_EQ(reg("SliderPosition"), slider);
    EXPECT_EQ(reg("Wallpaper"), wallpaper);
    EXPECT_EQ(tree(program() / "gfx"), gfx_before);
    ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
    EXPECT_NE(ctl({"processes"}).out, before);
    EXPECT_NE(device_.program_log("lumo Settings.log").find("Restart Vardex2"), std::string::npos);
    pause(2000);
    auto restored = lock_shot("lock-restored-look.png");
    EXPECT_LT(differ(saved, restored, 0, 800), 0.01);
    (void)refused;
}

TEST_F(ThemesOnDevice, GermanFromTheLanguagePageReachesTheLockScreen) {
    auto english = lock_shot("lock-english.png");
    start_settings();
    open_page(10);
    shot("language-page.png");
    // The page opens with the installed English (row 10) in the middle; German, row 14, is
    // four rows further down, at the list's lower edge.
    tap(240, 690);
    auto log = device_.program_log("lumo Settings.log");
    ASSERT_NE(log.find("Language 14 German"), std::string::npos) << log.substr(log.size() > 600 ? log.size() - 600 : 0);
    shot("language-page-german.png");
    tap(240, 780);  // Change Language
    ASSERT_EQ(ctl({"wait", "window", "LumoSettings", "--gone", "--timeout", "30"}).status, 0);
    auto german = run("python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(\"lang.German.ini\"))' '" +
                      (program() / "LumoLanguagePack.zip").string() + "'");
    ASSERT_FALSE(german.empty());
    EXPECT_EQ(read_bytes(program() / "lang.ini"), german);
    ASSERT_EQ(ctl({"wait", "window", "Lumo", "--timeout", "20"}).status, 0);
    pause(2500);
    auto shown = lock_shot("lock-german.png");
    // The slider's words changed; the rest of the lock screen did not.
    EXPECT_GT(differ(english, shown, 700, 800), 0.005);
    // The settings program itself speaks German from its next start.
    start_settings();
    shot("settings-menu-german.png");
}

}  // namespace
}  // namespace lumo::settings::test
