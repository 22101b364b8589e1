// Theme packages and the language page over the fake platform: the settings window fed taps and
// LumoC's pick message, the two theme workers running for real, and the archives checked with
// minizip itself.
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>

#include "device_process.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/lang/lang.h"
#include "lumo/platform/text.h"
#include "lumo/settings/theme_archive.h"
#include "settings_fixture.h"

namespace lumo::settings::testing_support {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using catalogue::Id;
using namespace std::chrono_literals;

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_bytes(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// Every file below `folder`, by relative path, with its content.
std::map<std::string, std::string> tree(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).generic_string()] = read_bytes(e.path());
    return out;
}

std::vector<std::string> zip_names(const fs::path& archive) {
    std::vector<std::string> names;
    unzFile uf = unzOpen64(archive.c_str());
    if (!uf) return names;
    for (int r = unzGoToFirstFile(uf); r == UNZ_OK; r = unzGoToNextFile(uf)) {
        char name[512] = {};
        unzGetCurrentFileInfo64(uf, nullptr, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        names.push_back(name);
    }
    unzClose(uf);
    return names;
}

std::map<std::string, std::string> zip_contents(const fs::path& archive) {
    std::map<std::string, std::string> out;
    unzFile uf = unzOpen64(archive.c_str());
    if (!uf) return out;
    for (int r = unzGoToFirstFile(uf); r == UNZ_OK; r = unzGoToNextFile(uf)) {
        char name[512] = {};
        unz_file_info64 info{};
        unzGetCurrentFileInfo64(uf, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        std::string data(info.uncompressed_size, '\0');
        unzOpenCurrentFile(uf);
        unzReadCurrentFile(uf, data.data(), unsigned(data.size()));
        unzCloseCurrentFile(uf);
        out[name] = data;
    }
    unzClose(uf);
    return out;
}

struct Entry {
    std::string name, data;
};

// An archive of the given entries, deflated.
void make_zip(const fs::path& path, const std::vector<Entry>& entries) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zf, nullptr);
    for (const auto& e : entries) {
        zip_fileinfo zi{};
        ASSERT_EQ(zipOpenNewFileInZip64(zf, e.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0),
                  ZIP_OK);
        zipWriteInFileInZip(zf, e.data.data(), unsigned(e.data.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
}

// UTF-16LE with its byte-order mark and CR LF lines, as the settings program writes theme.reg.
std::string reg_file(const std::vector<std::u16string>& lines) {
    std::string out = "\xFF\xFE";
    for (const auto& l : lines) {
        for (char16_t ch : l + u"\r\n") {
            out.push_back(char(ch & 0xFF));
            out.push_back(char(ch >> 8));
        }
    }
    return out;
}

class ThemeTest : public SettingsFixture {
protected:
    void SetUp() override {
        write_first_start_defaults();
        fs::create_directories(root / "My Documents");
    }
    fs::path program() { return host(program_folder()); }
    fs::path gfx() { return program() / "gfx"; }
    void start_on_theme_page() {
        ASSERT_EQ(start(), EntryResult::Running);
        open_page(kThemePage);
        ASSERT_EQ(ctx->state, ScreenState::Theme);
    }
    void tap_theme_button(int which) {
        auto t = theme_layout(*ctx);
        tap((which == 0 ? t.save_x : t.load_x) + t.button_w / 2, (which == 0 ? t.save_y : t.load_y) + t.button_h / 2);
    }
    // Runs the window's messages until no theme operation is left (or the program ended).
    bool settle() {
        return lumo::test::wait_until(
            [&] {
                fake.run_until_idle();
                return ctx->ended || !theme_busy(*ctx);
            },
            30s, 2ms);
    }
    void set_text(Id id, std::u16string_view v) {
        auto r = catalogue::open_root(fake.registry());
        catalogue::write_text(fake.registry(), r->key, catalogue::setting(id).name, v);
    }
    void set_byte(Id id, std::uint8_t v) {
        auto r = catalogue::open_root(fake.registry());
        catalogue::write_byte(fake.registry(), r->key, catalogue::setting(id).name, v);
    }
    std::u16string get_text(Id id) {
        auto r = catalogue::open_root(fake.registry());
        std::u16string v;
        catalogue::read_text(fake.registry(), r->key, catalogue::setting(id).name, 261, v);
        return v;
    }
    int get_byte(Id id) {
        auto r = catalogue::open_root(fake.registry());
        std::uint8_t v = 0;
        if (!catalogue::read_byte(fake.registry(), r->key, catalogue::setting(id).name, v)) return -1;
        return v;
    }
    // LumoC's pick: LoadTheme written first, then the message to the settings window.
    void pick(std::u16string_view device_path) {
        set_text(Id::LoadTheme, device_path);
        fake.windows().send(ctx->main_window, kMsgBrowse, 0, 0);
    }
    // Saves the current look and keeps a copy of the archive in My Documents.
    fs::path save_copy(const std::string& name = "saved.lumo") {
        tap_theme_button(0);
        EXPECT_TRUE(settle());
        auto copy = root / "My Documents" / name;
        fs::copy_file(program() / "theme.lumo", copy, fs::copy_options::overwrite_existing);
        return copy;
    }
    // A valid theme made of the installed gfx files plus `extra` entries (replacing same names).
    void make_theme(const fs::path& path, std::vector<Entry> extra, const std::string& drop = "") {
        std::map<std::string, std::string> entries;
        for (auto& [rel, data] : tree(gfx()))
            if (rel.find('/') == std::string::npos) entries["gfx/" + rel] = data;
        entries["theme.reg"] = reg_file({u"Windows Registry Editor Version 5.00", u"",
                                         u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]", u"\"TextSize\"=hex:04"});
        std::vector<Entry> list;
        for (auto& e : extra) entries[e.name] = e.data;
        for (auto& [n, d] : entries)
            if (n != drop) list.push_back({n, d});
        make_zip(path, list);
    }
    bool restarted() { return service_closed && fake.launches().size() >= 1; }
};

TEST_F(ThemeTest, SaveHoldsTheGfxFilesAndThemeRegWithTheProgressStepsAndKeepsThePhoneAwake) {
    set_text(Id::ClockPath, u"");
    set_text(Id::Clock2Path, u"");
    set_text(Id::Wallpaper, u"\\My Documents\\My Pictures\\sea.jpg");
    set_byte(Id::CurtainAlpha, 17);
    start_on_theme_page();
    std::mutex m;
    std::vector<double> steps;
    ctx->theme_progress_observer = [&](double p) {
        std::lock_guard held(m);
        steps.push_back(p);
    };
    tap_theme_button(0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(theme_state(*ctx), ThemeState::Idle);
    EXPECT_DOUBLE_EQ(theme_progress(*ctx), 100.0);
    EXPECT_GE(fake.power().idle_timer_resets(), 1);

    // Every gfx file directly in the folder, theme.reg, and nothing else: no clock folders.
    auto names = zip_names(program() / "theme.lumo");
    std::set<std::string> expected{"theme.reg"};
    for (auto& e : fs::directory_iterator(gfx()))
        if (e.is_regular_file()) expected.insert("gfx/" + e.path().filename().string());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
    EXPECT_EQ(names.size(), expected.size());
    auto contents = zip_contents(program() / "theme.lumo");
    EXPECT_EQ(contents["gfx/smenu.png"], read_bytes(gfx() / "smenu.png"));
    // The temporary theme.reg is gone from the program folder; the archive's one has the 18
    // values in their order.
    EXPECT_FALSE(fs::exists(program() / "theme.reg"));
    auto reg = contents["theme.reg"];
    std::u16string text;
    for (std::size_t i = 2; i + 1 < reg.size(); i += 2) text.push_back(char16_t(std::uint8_t(reg[i]) | std::uint8_t(reg[i + 1]) << 8));
    EXPECT_EQ(text.rfind(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]\r\n", 0), 0u);
    std::vector<std::size_t> at;
    for (auto n : {u"\"TimeFormat\"=\"", u"\"ClockPath\"=\"\"", u"\"Time2Format\"=", u"\"Clock2Path\"=\"\"",
                   u"\"Wallpaper\"=\"\\My Documents\\My Pictures\\sea.jpg\"", u"\"WallpaperL\"=", u"\"SliderPosition\"=hex:",
                   u"\"SlideTextMirror\"=", u"\"TopmostCurtain\"=", u"\"TopCurtain\"=", u"\"BottomCurtain\"=",
                   u"\"CurtainAlpha\"=hex:11", u"\"TextShadow\"=", u"\"TextSize\"=", u"\"AppointmentLine\"=",
                   u"\"AlignAppointment\"=", u"\"LockSound\"=", u"\"UnlockSound\"="}) {
        at.push_back(text.find(n));
        EXPECT_NE(at.back(), std::u16string::npos) << to_utf8(n);
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));

    // 0, up to 89 by files, 89, 93, 97, 98 and 100, never going back.
    std::lock_guard held(m);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    for (double p : {89.0, 93.0, 97.0, 98.0, 100.0})
        EXPECT_NE(std::find(steps.begin(), steps.end(), p), steps.end()) << p;
    EXPECT_NE(log_text().find("Theme created 0"), std::string::npos);
}

TEST_F(ThemeTest, SaveWithBothClockFoldersTakesTheirFilesAndACancelledSaveLeavesNoArchive) {
    set_text(Id::ClockPath, u"clockH\\");
    set_text(Id::Clock2Path, u"clockS\\");
    start_on_theme_page();
    tap_theme_button(0);
    ASSERT_TRUE(settle());
    auto names = zip_names(program() / "theme.lumo");
    std::set<std::string> set(names.begin(), names.end());
    for (auto& e : fs::directory_iterator(gfx() / "clockH"))
        EXPECT_TRUE(set.count("gfx/clockH/" + e.path().filename().string())) << e.path();
    for (auto& e : fs::directory_iterator(gfx() / "clockS"))
        EXPECT_TRUE(set.count("gfx/clockS/" + e.path().filename().string())) << e.path();
    EXPECT_FALSE(set.count("gfx/clockA/" + fs::directory_iterator(gfx() / "clockA")->path().filename().string()));

    // A second save, held at its first files until the cancel control is tapped.
    std::mutex m;
    std::condition_variable cv;
    bool reached = false, released = false;
    ctx->theme_progress_observer = [&](double p) {
        std::unique_lock held(m);
        if (p > 5 && !reached) {
            reached = true;
            cv.notify_all();
            cv.wait(held, [&] { return released; });
        }
    };
    tap_theme_button(0);
    {
        std::unique_lock held(m);
        ASSERT_TRUE(cv.wait_for(held, 10s, [&] { return reached; }));
    }
    EXPECT_TRUE(theme_busy(*ctx));
    EXPECT_EQ(bottom_labels(*ctx).size(), 1u);  // the cancel control
    press_bottom(0, 1);
    {
        std::lock_guard held(m);
        released = true;
    }
    cv.notify_all();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(fs::exists(program() / "theme.lumo"));
    EXPECT_FALSE(fs::exists(program() / "theme.reg"));
    EXPECT_EQ(theme_progress(*ctx), 0.0);
    EXPECT_EQ(theme_state(*ctx), ThemeState::Idle);
    EXPECT_FALSE(ctx->ended);
}

TEST_F(ThemeTest, AnExitDuringASaveWaitsForTheWorkerReportsTheOverrunAndLeavesNoArchive) {
    start_on_theme_page();
    std::mutex m;
    std::condition_variable cv;
    bool reached = false;
    ctx->theme_progress_observer = [&](double p) {
        std::unique_lock held(m);
        if (p > 5 && !reached) {
            reached = true;
            cv.notify_all();
            // Busy for longer than the exit waits: the worker overruns, and is waited for.
            cv.wait_for(held, 1500ms);
        }
    };
    tap_theme_button(0);
    {
        std::unique_lock held(m);
        ASSERT_TRUE(cv.wait_for(held, 10s, [&] { return reached; }));
    }
    fake.windows().send(ctx->main_window, WM_CLOSE, 0, 0);
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    EXPECT_FALSE(fs::exists(program() / "theme.lumo"));
    EXPECT_FALSE(fs::exists(program() / "theme.reg"));
    auto log = log_text();
    EXPECT_NE(log.find("SaveThemeEvent overran its 500 ms"), std::string::npos);
    EXPECT_NE(log.find("Quit: SaveThemeEvent"), std::string::npos);
    EXPECT_EQ(log.find("Theme created 0"), std::string::npos);
}

TEST_F(ThemeTest, LoadingASavedThemeBringsBackTheFilesAndSettingsRestartsTheServiceAndEnds) {
    set_text(Id::Wallpaper, u"\\My Documents\\My Pictures\\sea.jpg");
    set_byte(Id::TextSize, 1);
    set_byte(Id::SliderPosition, 0);
    start_on_theme_page();
    auto saved_gfx = tree(gfx());
    auto theme = save_copy();

    // The look changes: two appearance options, the wallpaper, one picture, one new picture.
    set_text(Id::Wallpaper, u"\\My Documents\\My Pictures\\other.jpg");
    set_byte(Id::TextSize, 4);
    set_byte(Id::SliderPosition, 1);
    write_bytes(gfx() / "stbg.png", "not the old picture");
    write_bytes(gfx() / "extra.png", "a picture the theme does not have");

    std::mutex m;
    std::vector<double> steps;
    ctx->theme_progress_observer = [&](double p) {
        std::lock_guard held(m);
        steps.push_back(p);
    };
    pick(u"\\My Documents\\saved.lumo");
    ASSERT_TRUE(settle());
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    EXPECT_TRUE(restarted());
    EXPECT_EQ(get_text(Id::Wallpaper), u"\\My Documents\\My Pictures\\sea.jpg");
    EXPECT_EQ(get_byte(Id::TextSize), 1);
    EXPECT_EQ(get_byte(Id::SliderPosition), 0);
    auto now = tree(gfx());
    EXPECT_FALSE(now.count("extra.png"));
    for (auto& [rel, data] : saved_gfx) {
        // The clock folder of the saved look comes back; other sub-folders stay as they were.
        EXPECT_TRUE(now.count(rel)) << rel;
        EXPECT_EQ(now[rel], data) << rel;
    }
    EXPECT_FALSE(fs::exists(program() / ".theme-staging"));
    auto log = log_text();
    EXPECT_NE(log.find("Start: LoadThemeEvent \\My Documents\\saved.lumo"), std::string::npos);
    EXPECT_NE(log.find("LoadThemeReg TimeFormat="), std::string::npos);
    EXPECT_NE(log.find("LoadThemeReg TextSize=1"), std::string::npos);
    EXPECT_NE(log.find("Theme loaded 0"), std::string::npos);
    std::lock_guard held(m);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    for (double p : {1.0, 20.0, 98.0, 100.0})
        EXPECT_NE(std::find(steps.begin(), steps.end(), p), steps.end()) << p;
}

TEST_F(ThemeTest, ThemeEntriesAreFoundWithoutRegardToCaseAndALongWallpaperLineIsCutTo48) {
    ASSERT_EQ(start(), EntryResult::Running);
    // Every name upper-cased; a wallpaper path of 70 characters.
    std::u16string wall = u"\\My Documents\\My Pictures\\" + std::u16string(40, u'w') + u".jpg";
    std::vector<Entry> entries;
    for (auto& [rel, data] : tree(gfx())) {
        if (rel.find('/') != std::string::npos) continue;
        std::string upper = "GFX/" + rel;
        for (auto& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        entries.push_back({upper, rel == "stbg.png" ? std::string("replaced") : data});
    }
    entries.push_back({"THEME.REG", reg_file({u"Windows Registry Editor Version 5.00", u"",
                                              u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]",
                                              u"\"Wallpaper\"=\"" + wall + u"\"", u"\"ClockPath\"=\"\"",
                                              u"\"TextShadow\"=hex:02"})});
    auto path = root / "My Documents" / "upper.lumo";
    make_zip(path, entries);
    pick(u"\\My Documents\\upper.lumo");
    ASSERT_TRUE(settle());
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    EXPECT_EQ(get_text(Id::Wallpaper), wall.substr(0, 48));
    EXPECT_EQ(get_text(Id::ClockPath), u"");
    EXPECT_EQ(get_byte(Id::TextShadow), 2);
    // The upper-case names landed on the installed files, as the phone finds names.
    EXPECT_EQ(read_bytes(*fake.processes().host_path(u"\\Program Files\\Lumo\\gfx\\stbg.png")), "replaced");
    EXPECT_FALSE(fs::exists(program() / "GFX") && fs::exists(program() / "gfx") &&
                 !fs::equivalent(program() / "GFX", program() / "gfx"));
}

TEST_F(ThemeTest, AThemeMissingAPictureIsRefusedNamingItAndChangesNothing) {
    start_on_theme_page();
    auto path = root / "My Documents" / "nomenu.lumo";
    make_theme(path, {}, "gfx/smenu.png");
    set_byte(Id::TextSize, 1);
    auto before = tree(program());
    pick(u"\\My Documents\\nomenu.lumo");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(ctx->ended);
    EXPECT_FALSE(service_closed);
    EXPECT_EQ(theme_state(*ctx), ThemeState::Invalid);
    EXPECT_EQ(theme_texts(*ctx).first, u"Invalid theme, missed file gfx/smenu.png");
    EXPECT_EQ(theme_progress(*ctx), 0.0);
    EXPECT_EQ(get_byte(Id::TextSize), 1);
    EXPECT_NE(log_text().find("Missed file: gfx/smenu.png"), std::string::npos);
    auto after = tree(program());
    after.erase("lumo Settings.log");
    before.erase("lumo Settings.log");
    EXPECT_EQ(after, before);
    // The cancel control turns the refusal back to idle; a good theme then loads.
    ASSERT_EQ(bottom_labels(*ctx).size(), 1u);
    press_bottom(0, 1);
    EXPECT_EQ(theme_state(*ctx), ThemeState::Idle);
    EXPECT_EQ(bottom_labels(*ctx).size(), 3u);
    make_theme(path, {});
    pick(u"\\My Documents\\nomenu.lumo");
    ASSERT_TRUE(settle());
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    EXPECT_EQ(get_byte(Id::TextSize), 4);
}

// Hostile archives: each refused with a clear text, nothing written outside the program folder
// and the installed theme left as it was.
TEST_F(ThemeTest, HostileArchivesAreRefusedBeforeAnythingChanges) {
    start_on_theme_page();
    auto docs = root / "My Documents";
    struct Case {
        std::string file;
        std::function<void(const fs::path&)> make;
        std::string text;  // what the page says
    };
    auto bomb = [&](const fs::path& p, std::uint64_t claimed) {
        // One entry of 1 GiB of zeros: a deflate block of zeros repeated, made without
        // ever holding the gigabyte.
        std::vector<unsigned char> zeros(1 << 20, 0), block(1 << 16);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        z.next_in = zeros.data();
        z.avail_in = unsigned(zeros.size());
        z.next_out = block.data();
        z.avail_out = unsigned(block.size());
        deflate(&z, Z_FULL_FLUSH);
        std::size_t seg = block.size() - z.avail_out;
        deflateEnd(&z);
        const unsigned char last[] = {0x03, 0x00};  // an empty final block
        uLong crc = crc32(0, zeros.data(), unsigned(zeros.size())), total = crc;
        for (int i = 1; i < 1024; ++i) total = crc32_combine(total, crc, long(zeros.size()));
        make_theme(p, {});
        zipFile zf = zipOpen64(p.c_str(), APPEND_STATUS_ADDINZIP);
        zip_fileinfo zi{};
        zipOpenNewFileInZip2(zf, "gfx/bomb.png", &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1);
        for (int i = 0; i < 1024; ++i) zipWriteInFileInZip(zf, block.data(), unsigned(seg));
        zipWriteInFileInZip(zf, last, 2);
        zipCloseFileInZipRaw64(zf, claimed, total);
        zipClose(zf, nullptr);
    };
    std::vector<Case> cases = {
        {"climb.lumo", [&](const fs::path& p) { make_theme(p, {{"../../evil.txt", "x"}}); },
         "Invalid theme, unsafe entry ../../evil.txt"},
        {"climb2.lumo", [&](const fs::path& p) { make_theme(p, {{"gfx/..\\..\\evil.txt", "x"}}); },
         "Invalid theme, unsafe entry gfx/..\\..\\evil.txt"},
        {"absolute.lumo", [&](const fs::path& p) { make_theme(p, {{"/tmp/evil.txt", "x"}}); },
         "Invalid theme, unsafe entry /tmp/evil.txt"},
        {"drive.lumo", [&](const fs::path& p) { make_theme(p, {{"C:/Windows/evil.txt", "x"}}); },
         "Invalid theme, unsafe entry C:/Windows/evil.txt"},
        {"bomb.lumo", [&](const fs::path& p) { bomb(p, std::uint64_t(1) << 30); },
         "Invalid theme, file too large gfx/bomb.png"},
        {"lying-bomb.lumo", [&](const fs::path& p) { bomb(p, 4096); }, "Invalid theme, damaged file gfx/bomb.png"},
        {"truncated.lumo",
         [&](const fs::path& p) {
             make_theme(p, {});
             auto bytes = read_bytes(p);
             write_bytes(p, bytes.substr(0, bytes.size() / 2));
         },
         "Invalid theme, not a theme archive"},
        {"random.lumo",
         [&](const fs::path& p) {
             std::string bytes;
             std::uint32_t x = 12345;
             for (int i = 0; i < 50000; ++i) bytes.push_back(char((x = x * 1103515245u + 12345u) >> 24));
             write_bytes(p, bytes);
         },
         "Invalid theme, not a theme archive"},
        {"crc.lumo",
         [&](const fs::path& p) {
             // A whole theme plus one stored picture whose bytes changed after it was added.
             make_theme(p, {});
             zipFile zf = zipOpen64(p.c_str(), APPEND_STATUS_ADDINZIP);
             zip_fileinfo zi{};
             std::string data(3000, 'A');
             zipOpenNewFileInZip(zf, "gfx/zz.png", &zi, nullptr, 0, nullptr, 0, nullptr, 0, 0);
             zipWriteInFileInZip(zf, data.data(), unsigned(data.size()));
             zipCloseFileInZip(zf);
             zipClose(zf, nullptr);
             auto bytes = read_bytes(p);
             bytes[bytes.find(data) + 100] = 'B';
             write_bytes(p, bytes);
         },
         "Invalid theme, damaged file gfx/zz.png"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto path = docs / c.file;
        c.make(path);
        auto before = tree(program());
        before.erase("lumo Settings.log");
        pick(u"\\My Documents\\" + to_u16(c.file));
        ASSERT_TRUE(settle());
        EXPECT_FALSE(ctx->ended);
        EXPECT_FALSE(service_closed);
        EXPECT_EQ(theme_state(*ctx), ThemeState::Invalid);
        if (!c.text.empty()) {
            EXPECT_EQ(to_utf8(theme_texts(*ctx).first), c.text);
        }
        auto after = tree(program());
        after.erase("lumo Settings.log");
        EXPECT_EQ(after.size(), before.size());
        EXPECT_TRUE(after == before);
        EXPECT_FALSE(fs::exists(root / "evil.txt"));
        EXPECT_FALSE(fs::exists(root / "Program Files" / "evil.txt"));
        EXPECT_FALSE(fs::exists("/tmp/evil.txt") && read_bytes("/tmp/evil.txt") == "x");
        press_bottom(0, 1);  // cancel the refusal
        ASSERT_EQ(theme_state(*ctx), ThemeState::Idle);
    }
}

TEST_F(ThemeTest, EntryNamesThatLeaveTheFolderAreRecognised) {
    for (auto bad : {"../x", "gfx/../../x", "/abs", "\\abs", "C:x", "gfx/a:b", "gfx/. ./x", "gfx/.../x", "", "/",
                     "a/\x01/b"})
        EXPECT_FALSE(theme::safe_entry_path(bad)) << bad;
    bool folder = false;
    EXPECT_EQ(theme::safe_entry_path("gfx\\clockH\\0.png")->generic_string(), "gfx/clockH/0.png");
    EXPECT_EQ(theme::safe_entry_path("./gfx//a.png")->generic_string(), "gfx/a.png");
    EXPECT_TRUE(theme::safe_entry_path("gfx/clockH/", &folder));
    EXPECT_TRUE(folder);
    EXPECT_FALSE(theme::safe_entry_path(std::string(300, 'a')));
}

TEST_F(ThemeTest, TheLanguagePageInstallsTheChosenLanguageSavesAndRestarts) {
    fs::copy_file(stage_dir() / "Program Files" / "Lumo" / "LumoLanguagePack.zip",
                  program() / "LumoLanguagePack.zip");
    ASSERT_EQ(start(), EntryResult::Running);
    open_page(kLanguagePage);
    ASSERT_EQ(ctx->state, ScreenState::Language);
    ASSERT_EQ(ctx->language_rows.size(), 40u);
    EXPECT_EQ(ctx->language_rows[14], u"Deutsch");
    EXPECT_EQ(ctx->language_rows[38], u"Украї́нська");
    EXPECT_EQ(bottom_labels(*ctx), std::vector<std::u16string>{u"Change Language"});
    EXPECT_EQ(ctx->selected_language, 10) << "the installed English file is marked";
    // Row 14, German.
    bring_into_view(14);
    auto l = layout(*ctx);
    int y = l.top;
    while (y < l.bottom && item_at(*ctx, y) != 14) ++y;
    tap(ctx->screen_width / 2, y + 5);
    EXPECT_EQ(ctx->selected_language, 14);
    press_bottom(0, 1);
    EXPECT_TRUE(ctx->ended);
    EXPECT_TRUE(restarted());
    // lang.ini is the pack's German file, and the settings were saved and exported.
    auto pack = zip_contents(program() / "LumoLanguagePack.zip");
    EXPECT_EQ(read_bytes(program() / "lang.ini"), pack["lang.German.ini"]);
    EXPECT_TRUE(fs::exists(program() / "lumo Settings.reg"));
    EXPECT_NE(log_text().find("ChangeLanguage lang.German.ini 14"), std::string::npos);

    // The next start shows German titles and the language rows' names from the new file. It is
    // a new process, with its own window class bound to its own state.
    ctx.reset();
    service_closed = false;
    auto next_process = fake.as_process(4242);
    ASSERT_EQ(start(), EntryResult::Running);
    auto file = lang::LangFile::open(program());
    EXPECT_EQ(ctx->pages[kThemePage].title, file.lookup(u"m_Theme=", u"", 50));
    EXPECT_NE(ctx->pages[kThemePage].title, u"Theme");
    open_page(kLanguagePage);
    EXPECT_EQ(ctx->selected_language, 14);
}

TEST_F(ThemeTest, ALanguageMissingFromThePackChangesNothingButStillSavesAndRestarts) {
    // A pack holding only French, with its name in another case.
    auto pack = zip_contents(stage_dir() / "Program Files" / "Lumo" / "LumoLanguagePack.zip");
    make_zip(program() / "LumoLanguagePack.zip", {{"LANG.FRENCH.INI", pack["lang.French.ini"]}});
    auto old = read_bytes(program() / "lang.ini");
    ASSERT_EQ(start(), EntryResult::Running);
    open_page(kLanguagePage);
    ctx->selected_language = 14;  // German
    press_bottom(0, 1);
    EXPECT_TRUE(ctx->ended);
    EXPECT_TRUE(restarted());
    EXPECT_EQ(read_bytes(program() / "lang.ini"), old);
    EXPECT_TRUE(fs::exists(program() / "lumo Settings.reg"));
    EXPECT_NE(log_text().find("ChangeLanguage lang.German.ini -1"), std::string::npos);

    // French is found whatever the case of its entry (the next start is a new process).
    ctx.reset();
    service_closed = false;
    auto next_process = fake.as_process(4242);
    ASSERT_EQ(start(), EntryResult::Running);
    open_page(kLanguagePage);
    ctx->selected_language = 12;  // French
    press_bottom(0, 1);
    EXPECT_EQ(read_bytes(program() / "lang.ini"), pack["lang.French.ini"]);
}

TEST_F(ThemeTest, WithoutTheLanguagePackThePageSaysSoAndStaysOnTheMenu) {
    ASSERT_EQ(start(), EntryResult::Running);
    open_page(kLanguagePage);
    EXPECT_EQ(ctx->state, ScreenState::MainMenu);
    auto boxes = fake.dialogs();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, u"Language Pack (LumoLanguagePack.zip) does not exist. Please reinstall Lumo.");
}

TEST_F(ThemeTest, LoadThemeStartsLumoCWithThePatternAndAnExitStopsTheWorkers) {
    start_on_theme_page();
    set_text(Id::LoadTheme, u"\\old.lumo");
    tap_theme_button(1);
    EXPECT_EQ(get_text(Id::LoadTheme), u"");
    auto launches = fake.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().path, u"\\Program Files\\Lumo\\lumoc.exe");
    EXPECT_EQ(launches.back().arguments, u"\"\\Program Files\\Lumo\\*.lumo\"");
    // A pick naming no file starts nothing.
    pick(u"\\My Documents\\none.lumo");
    EXPECT_FALSE(theme_busy(*ctx));
    press_bottom(2);  // Cancel: the program ends and both threads quit
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    auto log = log_text();
    EXPECT_NE(log.find("Quit: SaveThemeEvent"), std::string::npos);
    EXPECT_NE(log.find("Quit: LoadThemeEvent"), std::string::npos);
}

}  // namespace
}  // namespace lumo::settings::testing_support
