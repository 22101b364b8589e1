// The browser's window procedure over the fake platform: a phone whose program folder holds the
// staged theme and whose pictures folder holds pictures the tests write, a stand-in settings
// window and service that record what reaches them, and taps where the browser draws.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "device_process.h"
#include "gif_file.h"
#include "lumo/browser/browser.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/files.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "pictures.h"

namespace lumo::browser::test {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using catalogue::Id;
namespace proto = protocol;

struct Seen {
    std::uint32_t msg;
    WParam w;
};

const std::u16string kPictures = u"\\My Documents\\My Pictures";
const std::u16string kFolder = u"\\Program Files\\Lumo";

class Browser : public ::testing::Test {
protected:
    Browser() {
        root = fs::temp_directory_path() / ("lumo-browser-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(root);
        auto folder = root / "Program Files" / "Lumo";
        fs::create_directories(folder);
        auto stage = fs::path(LUMO_STAGE_DIR) / "Program Files" / "Lumo";
        fs::copy(stage / "gfx", folder / "gfx", fs::copy_options::recursive);
        fs::copy_file(stage / "lang.ini", folder / "lang.ini");
        fs::create_directories(root / "My Documents" / "My Pictures");
        fake.set_host_root(root);
        fake.set_own_path(kFolder + u"\\LumoC.exe");
        settings_pid = fake.add_process(kFolder + u"\\LumoSettings.exe");
        {
            auto scope = fake.as_process(settings_pid);
            fake.windows().register_class(u"LumoSettings", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
                settings_seen.push_back({msg, w});
                return 0;
            });
            fake.windows().register_class(u"Vardex2", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
                service_seen.push_back({msg, w});
                return 0;
            });
            CreateWindowParams cp;
            cp.class_name = cp.title = u"LumoSettings";
            settings = fake.windows().create_window(cp);
            cp.class_name = cp.title = u"Vardex2";
            service = fake.windows().create_window(cp);
        }
        catalogue::open_root(fake.registry());
    }
    ~Browser() override {
        ctx.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    fs::path host(std::u16string_view device_path) { return *fake.processes().host_path(device_path); }
    fs::path picture(const std::string& name, int w, int h) {
        auto file = root / "My Documents" / "My Pictures" / name;
        EXPECT_TRUE(write_picture(file, w, h));
        return file;
    }
    EntryResult start(std::u16string_view argument = u"") {
        ctx = std::make_unique<Context>(fake, fake.display());
        auto r = enter(*ctx, argument);
        fake.run_until_idle();
        return r;
    }
    // Runs the loop until every thumbnail asked for has come back from the worker.
    bool thumbnails_settle() {
        return lumo::test::wait_until(
            [&] {
                fake.run_until_idle();
                for (auto& e : ctx->entries)
                    if (e.thumb == Entry::Thumb::Pending) return false;
                return true;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(5));
    }
    // At a point of the view, turned to the display's point as the finger would touch it.
    void tap(int x, int y) {
        view_to_screen(*ctx, x, y);
        LParam l = LParam(std::uint32_t(y) << 16 | std::uint32_t(x & 0xFFFF));
        fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, l);
        fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, l);
        fake.run_until_idle();
    }
    void drag(int x, int y1, int y2, int steps, int ms_per_step) {
        auto lp = [x](int y) { return LParam(std::uint32_t(y) << 16 | std::uint32_t(x & 0xFFFF)); };
        fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, lp(y1));
        for (int i = 1; i <= steps; ++i) {
            fake.advance(std::uint64_t(ms_per_step));
            fake.windows().send(ctx->main_window, WM_MOUSEMOVE, 1, lp(y1 + (y2 - y1) * i / steps));
        }
        fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, lp(y2));
    }
    void tap_entry(int i) {
        auto l = layout(*ctx);
        int x, y;
        if (ctx->listing == Listing::Pictures) {
            x = (i % l.columns) * l.cell + l.cell / 2;
            y = l.top + (i / l.columns) * l.cell + l.cell / 2 - ctx->scroll.offset;
        } else {
            x = ctx->screen_width / 2;
            y = l.top + i * l.row_h + l.row_h / 2 - ctx->scroll.offset;
        }
        ASSERT_EQ(entry_at(*ctx, x, y), i);
        tap(x, y);
    }
    void press_button(int index) {
        int n = int(bottom_labels(*ctx).size());
        int w = ctx->screen_width / n;
        tap(w * index + w / 2, ctx->screen_height - 5);
    }
    // Taps the menu row of `action`, opening the menu first when it is closed.
    void choose(int action) {
        if (!ctx->menu_open) press_button(ctx->view == View::Picture ? 2 : 1);
        ASSERT_TRUE(ctx->menu_open);
        int top, row_h, left, width;
        menu_geometry(*ctx, top, row_h, left, width);
        for (std::size_t i = 0; i < ctx->menu.size(); ++i)
            if (ctx->menu[i].action == action) {
                tap(left + width / 2, top + int(i) * row_h + row_h / 2);
                return;
            }
        FAIL() << "no menu row for action " << action;
    }
    std::vector<std::u16string> names() const {
        std::vector<std::u16string> n;
        for (auto& e : ctx->entries) n.push_back(e.name);
        return n;
    }
    int selected_named(std::u16string_view name) {
        for (std::size_t i = 0; i < ctx->entries.size(); ++i)
            if (ctx->entries[i].name == name) return int(i);
        return -1;
    }
    std::u16string reg_text(Id id) {
        std::u16string v;
        auto root_key = catalogue::open_root(fake.registry());
        catalogue::read_text(fake.registry(), root_key->key, catalogue::setting(id).name, 261, v);
        return v;
    }
    void write_text(Id id, std::u16string_view v) {
        auto root_key = catalogue::open_root(fake.registry());
        catalogue::write_text(fake.registry(), root_key->key, catalogue::setting(id).name, v);
    }
    int seen(const std::vector<Seen>& list, std::uint32_t msg) const {
        int n = 0;
        for (auto& s : list) n += s.msg == msg;
        return n;
    }
    std::string log_text() {
        std::ifstream in(host(kFolder + u"\\lumoc.log"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
        return to_utf8(text);
    }
    void debug_on() {
        std::byte one{1};
        fake.registry().set_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"DebugOn",
                                   std::span<const std::byte>(&one, 1));
    }
    fs::path cache_file(const fs::path& picture_host) {
        auto rel = fs::relative(picture_host, root).u16string();
        std::u16string device = u"\\" + rel;
        for (auto& ch : device)
            if (ch == u'/') ch = u'\\';
        return root / "Program Files" / "Lumo" / "s2v" / fs::path(cache_name(device));
    }

    fake::FakePlatform fake;
    fs::path root;
    std::unique_ptr<Context> ctx;
    std::uint32_t settings_pid = 0;
    Hwnd settings = 0, service = 0;
    std::vector<Seen> settings_seen, service_seen;
};

// --- start ---------------------------------------------------------------------------------------

TEST_F(Browser, StartsOnlyBesideTheSettingsProgramAndOnlyOnce) {
    {
        auto scope = fake.as_process(settings_pid);
        fake.windows().destroy_window(settings);
    }
    EXPECT_EQ(start(u"\"\\My Documents\\My Pictures\\\""), EntryResult::Ended);
    EXPECT_FALSE(fake.windows().find_window(u"LumoC", u"LumoC"));
    ctx.reset();

    {
        auto scope = fake.as_process(settings_pid);
        CreateWindowParams cp;
        cp.class_name = cp.title = u"LumoSettings";
        settings = fake.windows().create_window(cp);
    }
    debug_on();
    ASSERT_EQ(start(u"\"\\My Documents\\My Pictures\\\""), EntryResult::Running);
    auto first = ctx->main_window;
    EXPECT_EQ(fake.windows().find_window(u"LumoC", u"LumoC"), first);
    EXPECT_EQ(seen(service_seen, proto::WM_AddStateListener), 1);
    EXPECT_EQ(seen(service_seen, proto::WM_GetBatteryFor), 1);
    EXPECT_NE(log_text().find("LumoC v2.26 by Vesk"), std::string::npos);

    // A second start shows the first window and ends.
    fake.windows().show_window(first, SW_MINIMIZE);
    Context second(fake, fake.display());
    EXPECT_EQ(enter(second, u""), EntryResult::Ended);
    EXPECT_FALSE(fake.windows().window_info(first)->minimized);
    EXPECT_EQ(fake.windows().foreground_window(), first);
}

TEST_F(Browser, TheArgumentChoosesTheFolderTheListingAndTheCursor) {
    picture("b.jpg", 64, 48);
    picture("a.png", 64, 48);
    fs::create_directories(root / "Program Files" / "Lumo" / "Sounds");
    std::ofstream(root / "Program Files" / "Lumo" / "lock.wav") << "x";
    std::ofstream(root / "Program Files" / "Lumo" / "Dark.lumo") << "x";
    std::ofstream(root / "Program Files" / "Tool.exe") << "x";
    std::ofstream(root / "Program Files" / "Tool.exec") << "x";
    std::ofstream(root / "Program Files" / "notes.txt") << "x";
    ASSERT_EQ(start(u"\"\\My Documents\\My Pictures\\b.jpg\""), EntryResult::Running);
    EXPECT_EQ(ctx->folder, kPictures);
    EXPECT_EQ(ctx->listing, Listing::Pictures);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"a.png", u"b.jpg"}));
    EXPECT_EQ(ctx->selected, 1);

    struct Case {
        std::u16string argument, folder;
        Listing listing;
        std::vector<std::u16string> names;
        int selected;
    };
    const Case cases[] = {
        // The default wallpaper lives among the program's files: pictures are browsed instead.
        {kFolder + u"\\gfx\\wallpaper.jpg", kPictures, Listing::Pictures, {u"a.png", u"b.jpg"}, -1},
        {kFolder + u"\\s2vp.bmp", kPictures, Listing::Pictures, {u"a.png", u"b.jpg"}, -1},
        {kPictures + u"\\", kPictures, Listing::Pictures, {u"a.png", u"b.jpg"}, -1},
        {kFolder + u"\\*.wav", kFolder, Listing::Sounds, {u"lock.wav"}, -1},
        {kFolder + u"\\lock.wav", kFolder, Listing::Sounds, {u"lock.wav"}, 0},
        {kFolder + u"\\*.lumo", kFolder, Listing::Themes, {u"Dark.lumo"}, -1},
        {u"\\Program Files\\*.exe", u"\\Program Files", Listing::Programs, {u"Tool.exe", u"Tool.exec"}, -1},
        {u"\\Program Files\\Tool.exec", u"\\Program Files", Listing::Programs, {u"Tool.exe", u"Tool.exec"}, 1},
        // A folder that is gone: the pictures folder.
        {u"\\Nowhere\\x.jpg", kPictures, Listing::Pictures, {u"a.png", u"b.jpg"}, -1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(to_utf8(k.argument));
        begin_browsing(*ctx, u"\"" + k.argument + u"\"");
        EXPECT_EQ(ctx->folder, k.folder);
        EXPECT_EQ(ctx->listing, k.listing);
        EXPECT_EQ(names(), k.names);
        EXPECT_EQ(ctx->selected, k.selected);
    }
}

TEST_F(Browser, TheBrowseMessageStartsOverInEachMode) {
    picture("sea.jpg", 64, 48);
    std::ofstream(root / "Program Files" / "Lumo" / "lock.wav") << "x";
    std::ofstream(root / "Program Files" / "Lumo" / "Dark.lumo") << "x";
    std::ofstream(root / "Program Files" / "Tool.exe") << "x";
    std::ofstream(root / "Program Files" / "Tool.exec") << "x";
    ASSERT_EQ(start(u""), EntryResult::Running);
    write_text(Id::Wallpaper, kPictures + u"\\sea.jpg");
    write_text(Id::LockSound, u"");
    write_text(Id::UnlockSound, kFolder + u"\\lock.wav");
    write_text(Id::UnlockRunEXE, u"");
    struct Case {
        std::uint32_t mode;
        std::u16string folder;
        Listing listing;
        int selected;
        std::vector<int> picks;  // the program actions the menu offers
    };
    const Case cases[] = {
        {kModePortrait, kPictures, Listing::Pictures, 0, {}},
        {kModeLandscape, kPictures, Listing::Pictures, -1, {}},  // gfx\wallpaperL.jpg: the pictures
        {kModeLockSound, kFolder, Listing::Sounds, -1, {}},
        {kModeUnlockSound, kFolder, Listing::Sounds, 0, {}},
        {kModeTheme, kFolder, Listing::Themes, -1, {}},
        {kModeUnlockProgram, u"\\Program Files", Listing::Programs, -1, {kActRunExe}},
        {kModeException, u"\\Program Files", Listing::Programs, -1, {kActException}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.mode);
        fake.windows().post(ctx->main_window, kMsgBrowse, k.mode, 0);
        fake.run_until_idle();
        EXPECT_EQ(ctx->folder, k.folder);
        EXPECT_EQ(ctx->listing, k.listing);
        EXPECT_EQ(ctx->selected, k.selected);
        if (ctx->listing == Listing::Programs) {
            ctx->selected = 0;
            auto menu = build_menu(*ctx);
            std::vector<int> picks;
            for (auto& m : menu)
                if (m.action == kActRunExe || m.action == kActException) picks.push_back(m.action);
            EXPECT_EQ(picks, k.picks);
            if (k.mode == kModeException) {
                EXPECT_EQ(names(), (std::vector<std::u16string>{u"Tool.exe", u"Tool.exec"}));
            }
        }
    }
}

// --- browsing --------------------------------------------------------------------------------------

TEST_F(Browser, FolderListOpensFoldersAndShowsSubFolders) {
    picture("top.jpg", 40, 30);
    write_picture(root / "My Documents" / "My Pictures" / "Trips" / "Rome" / "forum.jpg", 40, 30);
    write_picture(root / "My Documents" / "My Pictures" / "Trips" / "bus.bmp", 40, 30);
    fs::create_directories(root / "My Documents" / "My Pictures" / "Empty");
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"top.jpg"}));

    press_button(0);  // the folder list of the folder shown
    ASSERT_EQ(ctx->view, View::Folders);
    ASSERT_EQ(ctx->folders.size(), 3u);  // "..", Empty, Trips
    EXPECT_EQ(ctx->folders[1].name, u"Empty");
    auto l = layout(*ctx);
    auto row_y = [&](int i) {
        for (int y = l.top; y < l.bottom; ++y) {
            bool arrow;
            if (folder_at(*ctx, 5, y, &arrow) == i) return y + 4;
        }
        return -1;
    };
    // The arrow of "Trips" shows its sub-folders; the list stays.
    tap(ctx->screen_width - 10, row_y(2));
    ASSERT_EQ(ctx->view, View::Folders);
    EXPECT_EQ(ctx->folder_list, kPictures + u"\\Trips");
    ASSERT_EQ(ctx->folders.size(), 2u);
    EXPECT_EQ(ctx->folders[1].name, u"Rome");
    // A tap on the row opens the folder's pictures.
    tap(40, row_y(1));
    EXPECT_EQ(ctx->view, View::Files);
    EXPECT_EQ(ctx->folder, kPictures + u"\\Trips\\Rome");
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"forum.jpg"}));
    // ".." climbs; "Done" shows the folder the list is at.
    press_button(0);
    tap(40, row_y(0));
    EXPECT_EQ(ctx->folder_list, kPictures + u"\\Trips");
    press_button(0);
    EXPECT_EQ(ctx->folder, kPictures + u"\\Trips");
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"bus.bmp"}));
    // An empty folder says so.
    open_folder(*ctx, kPictures + u"\\Empty");
    EXPECT_TRUE(ctx->entries.empty());
    EXPECT_EQ(ctx->texts.get(u"s_NoPicture="), u"no picture here.");
    EXPECT_EQ(ctx->texts.get(u"s_BrowseHints="), u"tap folder to browse or arrow to view the sub-folder.");
}

TEST_F(Browser, SortsByNameAndTimeBothWays) {
    auto now = fs::file_time_type::clock::now();
    struct P {
        std::string name;
        int age_min;
    };
    for (auto p : {P{"b.jpg", 10}, P{"A.jpg", 5}, P{"c.jpg", 30}, P{"a2.jpg", 20}}) {
        auto f = picture(p.name, 20, 20);
        fs::last_write_time(f, now - std::chrono::minutes(p.age_min));
    }
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    using V = std::vector<std::u16string>;
    EXPECT_EQ(names(), (V{u"A.jpg", u"a2.jpg", u"b.jpg", u"c.jpg"}));
    tap_entry(2);
    EXPECT_EQ(ctx->selected, 2);
    choose(kActSortName);  // the same key again: the other way
    EXPECT_EQ(names(), (V{u"c.jpg", u"b.jpg", u"a2.jpg", u"A.jpg"}));
    EXPECT_EQ(ctx->entries[std::size_t(ctx->selected)].name, u"b.jpg");  // the cursor stays on its file
    choose(kActSortTime);  // oldest first
    EXPECT_EQ(names(), (V{u"c.jpg", u"a2.jpg", u"b.jpg", u"A.jpg"}));
    choose(kActSortTime);
    EXPECT_EQ(names(), (V{u"A.jpg", u"b.jpg", u"a2.jpg", u"c.jpg"}));
    // The menu marks the order in force.
    press_button(1);
    bool marked = false;
    for (auto& m : ctx->menu)
        if (m.action == kActSortTime)
            marked = m.label == ctx->texts.get(u"s_SortByTime=") + u" " + ctx->texts.get(u"s_DescendSymbol=");
    EXPECT_TRUE(marked);
    // Refresh finds a new file and keeps the order.
    ctx->menu_open = false;
    auto f = picture("new.jpg", 20, 20);
    fs::last_write_time(f, now + std::chrono::minutes(1));
    choose(kActRefresh);
    ASSERT_FALSE(names().empty()) << to_utf8(ctx->folder) << " view " << int(ctx->view) << " menu " << ctx->menu_open;
    EXPECT_EQ(names().front(), u"new.jpg");
}

TEST_F(Browser, DeleteRemovesTheFileAndItsThumbnailOrSaysWhyNot) {
    debug_on();
    auto a = picture("a.jpg", 40, 30);
    auto b = picture("b.jpg", 40, 30);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    ASSERT_TRUE(thumbnails_settle());
    ASSERT_TRUE(fs::exists(cache_file(a)));
    tap_entry(0);
    choose(kActDelete);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(cache_file(a)));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"b.jpg"}));
    EXPECT_NE(log_text().find("Delete:\\My Documents\\My Pictures\\a.jpg 1(0)"), std::string::npos);

    // A file gone behind the browser's back cannot be deleted: a box says why.
    tap_entry(0);
    fs::remove(b);
    choose(kActDelete);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Message");
    EXPECT_EQ(boxes[0].text.rfind(u"Deletion Failed - ", 0), 0u);
    EXPECT_GT(boxes[0].text.size(), std::u16string(u"Deletion Failed - ").size());
    EXPECT_NE(log_text().find("Delete:\\My Documents\\My Pictures\\b.jpg 0("), std::string::npos);
}

// --- thumbnails ------------------------------------------------------------------------------------

TEST_F(Browser, ThumbnailCacheIsMadeReusedAndRefreshedButNeverForPng) {
    auto jpg = picture("sea.jpg", 800, 600);
    auto bmp = picture("map.bmp", 90, 200);
    auto png = picture("icon.png", 300, 300);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    ASSERT_TRUE(thumbnails_settle());
    auto l = layout(*ctx);
    for (auto& e : ctx->entries) {
        SCOPED_TRACE(to_utf8(e.name));
        ASSERT_EQ(e.thumb, Entry::Thumb::Ready);
        EXPECT_LE(e.image.width, l.thumb);
        EXPECT_LE(e.image.height, l.thumb);
    }
    // Fitted into the cell, never enlarged.
    auto& sea = ctx->entries[std::size_t(selected_named(u"sea.jpg"))].image;
    EXPECT_EQ(sea.width, l.thumb);
    EXPECT_EQ(sea.height, l.thumb * 600 / 800);
    auto& map = ctx->entries[std::size_t(selected_named(u"map.bmp"))].image;
    EXPECT_EQ(map.width, gfx::FitInside(90, 200, l.thumb, l.thumb).width);
    EXPECT_EQ(map.height, l.thumb);
    EXPECT_TRUE(fs::exists(cache_file(jpg)));
    EXPECT_TRUE(fs::exists(cache_file(bmp)));
    EXPECT_FALSE(fs::exists(cache_file(png)));
    EXPECT_EQ(ctx->jobs.made.load(), 3u);
    auto jpg_cache_time = fs::last_write_time(cache_file(jpg));

    // A second visit reads the cache; the png is made again.
    open_folder(*ctx, kPictures);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->jobs.from_cache.load(), 2u);
    EXPECT_EQ(ctx->jobs.made.load(), 4u);
    EXPECT_EQ(fs::last_write_time(cache_file(jpg)), jpg_cache_time);
    // The cached pixels are the ones made.
    auto& again = ctx->entries[std::size_t(selected_named(u"sea.jpg"))].image;
    EXPECT_EQ(again.width, l.thumb);

    // A picture newer than its thumbnail is made again; a damaged cache file too.
    write_picture(jpg, 600, 600);
    fs::last_write_time(jpg, jpg_cache_time + std::chrono::seconds(5));
    std::ofstream(cache_file(bmp), std::ios::binary | std::ios::trunc) << "S2V6 broken";
    open_folder(*ctx, kPictures);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->jobs.made.load(), 7u);
    auto& square = ctx->entries[std::size_t(selected_named(u"sea.jpg"))].image;
    EXPECT_EQ(square.width, square.height);
    EXPECT_GT(fs::last_write_time(cache_file(jpg)), jpg_cache_time);
    gfx::Image reread;
    auto bytes = platform::read_file(cache_file(bmp), 1 << 20);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(decode_thumbnail(*bytes, gfx::kRgb565, reread));
}

TEST(Thumbnails, ALargeJpegIsDecodedShrunkAndLooksLikeTheWholeDecode) {
    auto dir = fs::temp_directory_path() / ("lumo-thumbs-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto jpeg = dir / "big.jpg", png = dir / "big.png";
    ASSERT_TRUE(write_picture(jpeg, 1600, 1200));
    ASSERT_TRUE(write_picture(png, 800, 600));
    auto imaging = make_sdl_imaging();
    // 1/4 keeps the longer side at 400, at least the 216 asked for; 1/8 would leave 200.
    auto reduced = imaging->open_reduced(to_u16(jpeg.string()), 216);
    ASSERT_TRUE(reduced);
    EXPECT_EQ(reduced->width(), 400);
    EXPECT_EQ(reduced->height(), 300);
    auto whole_png = imaging->open_reduced(to_u16(png.string()), 216);
    ASSERT_TRUE(whole_png);
    EXPECT_EQ(whole_png->width(), 800);  // only JPEGs shrink while decoding

    // The thumbnail made that way has the size and, nearly, the colours of one from the whole
    // picture.
    gfx::Image thumb;
    ASSERT_EQ(make_thumbnail(*imaging, jpeg, {}, false, 108, gfx::kRgb565, thumb), ThumbSource::Made);
    ASSERT_EQ(thumb.width, 108);
    ASSERT_EQ(thumb.height, 81);
    auto whole = imaging->open(to_u16(jpeg.string()));
    ASSERT_TRUE(whole);
    std::vector<std::uint8_t> rgba(108 * 81 * 4);
    ASSERT_TRUE(whole->read_rgba(108, 81, rgba));
    long difference = 0;
    for (int y = 0; y < 81; ++y)
        for (int x = 0; x < 108; ++x) {
            int r, g, b;
            gfx::PixelToRGB(gfx::kRgb565, thumb.at(x, y), r, g, b);
            const auto* p = &rgba[(std::size_t(y) * 108 + std::size_t(x)) * 4];
            difference += std::abs(r - p[0]) + std::abs(g - p[1]) + std::abs(b - p[2]);
        }
    EXPECT_LT(double(difference) / (108 * 81 * 3), 6.0);
    int r, g, b;
    gfx::PixelToRGB(gfx::kRgb565, thumb.at(5, 5), r, g, b);
    EXPECT_GT(b, 200);  // the blue block of the top-left quarter
    EXPECT_LT(r, 40);

    // A damaged JPEG is refused as a whole decode refuses it.
    std::ofstream(dir / "cut.jpg", std::ios::binary) << "\xFF\xD8\xFF\xE0 cut short";
    EXPECT_FALSE(imaging->open_reduced(to_u16((dir / "cut.jpg").string()), 216));
    fs::remove_all(dir);
}

TEST_F(Browser, CacheNamesStayInTheCacheFolder) {
    for (std::u16string path : std::vector<std::u16string>{u"\\My Documents\\a.jpg", u"C:/x/../../etc/passwd.jpg", u"..\\..\\up.jpg",
                                u"rel/a\\b:c.jpg", std::u16string(300, u'\u00e9') + u".jpg"}) {
        auto name = cache_name(path);
        SCOPED_TRACE(to_utf8(name));
        EXPECT_EQ(name.find_first_of(u"\\/:"), std::u16string::npos);
        EXPECT_NE(name, u"..");
        EXPECT_LE(to_utf8(name).size(), 200u);
        EXPECT_EQ(fs::path(name).filename().u16string(), name);
    }
    EXPECT_EQ(cache_name(u"\\My Documents\\a.jpg"), u"_My Documents_a.jpg.s2v");
    EXPECT_NE(cache_name(std::u16string(300, u'a') + u"1.jpg"), cache_name(std::u16string(300, u'a') + u"2.jpg"));
    EXPECT_NE(cache_name(std::u16string(300, u'b') + u"x.jpg"), cache_name(std::u16string(301, u'b') + u"x.jpg"));
}

TEST_F(Browser, CacheFilesAreReadOnlyWhenExactlyRight) {
    gfx::Image img;
    ASSERT_TRUE(gfx::ResizeBuffers(img, 3, 2, false));
    for (int i = 0; i < 6; ++i) img.pixels[std::size_t(i)] = std::uint16_t(0x1234 + i);
    auto bytes = encode_thumbnail(img, gfx::kRgb565);
    gfx::Image back;
    ASSERT_TRUE(decode_thumbnail(bytes, gfx::kRgb565, back));
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.at(2, 1), 0x1239);
    EXPECT_FALSE(decode_thumbnail(bytes, gfx::kRgb555, back));  // another pixel format
    auto bad = bytes;
    bad.pop_back();
    EXPECT_FALSE(decode_thumbnail(bad, gfx::kRgb565, back));
    bad = bytes;
    bad.push_back(0);
    EXPECT_FALSE(decode_thumbnail(bad, gfx::kRgb565, back));
    bad = bytes;
    bad[4] = 0, bad[5] = 0;  // no width
    EXPECT_FALSE(decode_thumbnail(bad, gfx::kRgb565, back));
    bad = bytes;
    bad[4] = 0xFF, bad[5] = 0xFF;  // a width the pixels do not have
    EXPECT_FALSE(decode_thumbnail(bad, gfx::kRgb565, back));
    EXPECT_FALSE(decode_thumbnail(std::span<const std::uint8_t>(), gfx::kRgb565, back));
    ASSERT_TRUE(gfx::ResizeBuffers(img, kMaxThumbSide + 1, 1, false));
    EXPECT_TRUE(encode_thumbnail(img, gfx::kRgb565).empty());
}

TEST_F(Browser, CorruptPicturesSayFileCorruptedAndNeverCrop) {
    picture("good.jpg", 60, 40);
    std::ofstream(root / "My Documents" / "My Pictures" / "bad.jpg", std::ios::binary) << "\xFF\xD8\xFF garbage";
    std::ofstream(root / "My Documents" / "My Pictures" / "empty.png", std::ios::binary);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->entries[std::size_t(selected_named(u"bad.jpg"))].thumb, Entry::Thumb::Corrupt);
    EXPECT_EQ(ctx->entries[std::size_t(selected_named(u"empty.png"))].thumb, Entry::Thumb::Corrupt);
    EXPECT_EQ(ctx->entries[std::size_t(selected_named(u"good.jpg"))].thumb, Entry::Thumb::Ready);
    EXPECT_EQ(ctx->texts.get(u"s_FileCorrupt="), u"file corrupted.");
    // Opened full screen it says so, and the wallpaper pick is refused with the crop's box.
    int bad = selected_named(u"bad.jpg");
    tap_entry(bad);
    tap_entry(bad);
    ASSERT_EQ(ctx->view, View::Picture);
    EXPECT_TRUE(ctx->picture_corrupt);
    EXPECT_FALSE(zoom_in(*ctx));
    ctx->view = View::Files;
    ctx->selected = bad;
    choose(kActWallpaper);
    choose(kActPortrait);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind(u"Image Crop Failed - ", 0), 0u);
    EXPECT_EQ(boxes[0].caption, u"Message");
    EXPECT_FALSE(fs::exists(root / "Program Files" / "Lumo" / "s2vp.bmp"));
    fake.run_for(500);
    EXPECT_EQ(reg_text(Id::Wallpaper), u"");
}

TEST_F(Browser, TheWorkerStopsAtOnceWhenAsked) {
    for (int i = 0; i < 40; ++i) picture("p" + std::to_string(100 + i) + ".jpg", 1600, 1200);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    // Every picture is asked for; the end comes before the worker is through.
    fake.windows().send(ctx->main_window, WM_CLOSE, 0, 0);
    fake.run_until_idle();
    EXPECT_TRUE(ctx->ended);
    EXPECT_TRUE(ctx->jobs.finished.load());
    EXPECT_FALSE(ctx->worker.joinable());
    // Every picture was asked for; the worker left off at the next one.
    EXPECT_LT(ctx->jobs.made.load(), 40u);
    EXPECT_EQ(seen(service_seen, proto::WM_RemoveStateListener), 1);
}

// --- scrolling -------------------------------------------------------------------------------------

TEST_F(Browser, ScrollingFollowsTheFingerAndFlingsDecay) {
    for (int i = 0; i < 80; ++i) picture("p" + std::to_string(100 + i) + ".bmp", 16, 16);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    ASSERT_GT(max_scroll(*ctx), 400);
    // Slowly: the list follows the finger and barely moves on.
    drag(100, 600, 500, 10, 100);
    EXPECT_EQ(ctx->scroll.offset, 100);
    // Quickly: 60 pixels in 90 ms flings on, each 60 ms step 0.85 times the last.
    drag(100, 600, 540, 3, 30);
    int base = ctx->scroll.offset;
    EXPECT_EQ(base, 160);
    std::vector<int> steps;
    int last = base;
    for (int tick = 0; tick < 60 && ctx->scroll.flinging; ++tick) {
        fake.advance(kFlingPeriodMs);
        fake.run_until_idle();
        steps.push_back(ctx->scroll.offset - last);
        last = ctx->scroll.offset;
    }
    EXPECT_FALSE(ctx->scroll.flinging);
    ASSERT_GE(steps.size(), 5u);
    double distance = 60;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i, distance *= 0.85) EXPECT_EQ(steps[i], int(distance * 200 / 90));
    EXPECT_EQ(steps.back(), 0);
    for (std::size_t i = 1; i < steps.size(); ++i) EXPECT_LE(steps[i], steps[i - 1]);
    EXPECT_LE(ctx->scroll.offset, max_scroll(*ctx));
    EXPECT_EQ(ctx->scroll.distance, 0);
    EXPECT_EQ(ctx->scroll.time, 0u);
    // A fling against the end stops there.
    drag(100, 200, 700, 2, 10);
    for (int tick = 0; tick < 60 && ctx->scroll.flinging; ++tick) fake.run_for(kFlingPeriodMs);
    EXPECT_EQ(ctx->scroll.offset, 0);
    // What came into view was asked of the worker.
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->entries.front().thumb, Entry::Thumb::Ready);
}

TEST_F(Browser, AFolderOfManyPicturesKeepsOnlyThumbnailsNearTheView) {
    for (int i = 0; i < 240; ++i) picture("p" + std::to_string(1000 + i) + ".bmp", 8, 8);
    ASSERT_EQ(start(kPictures + u"\\"), EntryResult::Running);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->entries.front().thumb, Entry::Thumb::Ready);
    EXPECT_EQ(ctx->entries.back().thumb, Entry::Thumb::None);  // far below: not asked yet
    // At the end the first rows are let go and the last ones made.
    ctx->scroll.offset = max_scroll(*ctx);
    request_thumbnails(*ctx);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->entries.back().thumb, Entry::Thumb::Ready);
    EXPECT_EQ(ctx->entries.front().thumb, Entry::Thumb::None);
    EXPECT_TRUE(ctx->entries.front().image.empty());
    // Back at the top they come again, from the cache.
    auto cached = ctx->jobs.from_cache.load();
    ctx->scroll.offset = 0;
    request_thumbnails(*ctx);
    ASSERT_TRUE(thumbnails_settle());
    EXPECT_EQ(ctx->entries.front().thumb, Entry::Thumb::Ready);
    EXPECT_GT(ctx->jobs.from_cache.load(), cached);
}

TEST_F(Browser, TheFuzzSeedsOfTheCacheReaderAreReadOrRefused) {
    int read = 0, refused = 0;
    for (auto& e : fs::directory_iterator(fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus" / "s2v_thumbnail")) {
        auto bytes = platform::read_file(e.path(), 1 << 20);
        ASSERT_TRUE(bytes);
        gfx::Image img;
        bool ok = decode_thumbnail(*bytes, gfx::kRgb565, img) || decode_thumbnail(*bytes, gfx::kRgb555, img);
        (ok ? read : refused)++;
        if (ok) {
            auto f = (*bytes)[3] == '5' ? gfx::kRgb555 : gfx::kRgb565;
            EXPECT_EQ(encode_thumbnail(img, f), *bytes) << e.path();
        }
    }
    EXPECT_EQ(read, 3);
    EXPECT_EQ(refused, 4);
}

// --- zoom and crop --------------------------------------------------------------------------------

TEST_F(Browser, ZoomStepsFrom320To640AndCropsTheFramedPart) {
    debug_on();
    picture("small.jpg", 320, 240);
    write_text(Id::Wallpaper, u"old");
    ASSERT_EQ(start(kPictures + u"\\small.jpg"), EntryResult::Running);
    tap_entry(0);
    ASSERT_EQ(ctx->view, View::Picture);
    auto& z = ctx->zoom;
    EXPECT_EQ(z.zw, 320);
    EXPECT_EQ(z.px, (480 - 320) / 2);
    std::vector<int> widths;
    for (int i = 0; i < 20; ++i) {
        fake.windows().send(ctx->main_window, WM_KEYDOWN, 0x26, 0);  // the up key
        widths.push_back(z.zw);
        if (z.zw == z.maxw) break;
    }
    EXPECT_EQ(widths, (std::vector<int>{330, 350, 370, 392, 416, 442, 468, 496, 526, 558, 592, 628, 640}));
    EXPECT_EQ(z.zh, 480);
    EXPECT_EQ(z.maxw, 640);
    EXPECT_FALSE(zoom_in(*ctx));  // at the top
    // Centred, then dragged: the picture moves within its limits.
    EXPECT_EQ(z.px, -80);
    EXPECT_EQ(z.py, (800 - 480) / 2);
    drag(240, 400, 100, 5, 50);
    EXPECT_EQ(z.py, (800 - 480) / 2);  // the screen is taller: it stays centred
    fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, LParam(400 << 16 | 200));
    fake.windows().send(ctx->main_window, WM_MOUSEMOVE, 1, LParam(400 << 16 | 260));
    fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, LParam(400 << 16 | 260));
    EXPECT_EQ(z.px, -20);
    fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, LParam(400 << 16 | 200));
    fake.windows().send(ctx->main_window, WM_MOUSEMOVE, 1, LParam(400 << 16 | 400));
    fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, LParam(400 << 16 | 400));
    EXPECT_EQ(z.px, 0);  // not past the left edge

    // The crop at 1:1 is the buffer's pixels where the screen frames them.
    gfx::Image expected;
    ASSERT_TRUE(gfx::FillImage(expected, ctx->screen, 480, 800, 0, false, 0));
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 480; ++x) {
            int bx = x - z.px, by = y - z.py;
            if (bx >= 0 && by >= 0 && bx < z.maxw && by < z.maxh) expected.at(x, y) = ctx->zoom_buffer.at(bx, by);
        }
    choose(kActWallpaper);
    choose(kActPortrait);
    auto bmp = root / "Program Files" / "Lumo" / "s2vp.bmp";
    ASSERT_TRUE(fs::exists(bmp));
    EXPECT_EQ(reg_text(Id::Wallpaper), u"");  // empty first ...
    fake.run_for(kWallpaperDelayMs);
    EXPECT_EQ(reg_text(Id::Wallpaper), kFolder + u"\\s2vp.bmp");  // ... the path 100 ms later
    auto pic = make_sdl_imaging()->open(to_u16(bmp.string()));
    ASSERT_TRUE(pic);
    ASSERT_EQ(pic->width(), 480);
    ASSERT_EQ(pic->height(), 800);
    std::vector<std::uint8_t> rgba(480 * 800 * 4);
    ASSERT_TRUE(pic->read_rgba(480, 800, rgba));
    int differ = 0;
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 480; ++x) {
            int r, g, b;
            gfx::PixelToRGB(gfx::kRgb565, expected.at(x, y), r, g, b);
            const auto* p = &rgba[(std::size_t(y) * 480 + std::size_t(x)) * 4];
            differ += p[0] != r || p[1] != g || p[2] != b;
        }
    EXPECT_EQ(differ, 0);
    EXPECT_NE(log_text().find("small.jpg zw=640 zh=480 px=0 py=160"), std::string::npos);
    EXPECT_NE(log_text().find("Zoom buffered"), std::string::npos);

    // The exit: the service forgets the listener, the settings window comes forward, the browser
    // stays, minimized.
    fake.run_for(1000);
    EXPECT_EQ(seen(service_seen, proto::WM_RemoveStateListener), 1);
    EXPECT_TRUE(fake.windows().window_info(ctx->main_window)->minimized);
    EXPECT_EQ(fake.windows().foreground_window(), settings);
    EXPECT_NE(log_text().find("KillAllTimer"), std::string::npos);
    EXPECT_FALSE(ctx->ended);
}

TEST_F(Browser, ZoomOutStopsAtItsLimitAndLargePicturesAreRefused) {
    picture("wide.jpg", 600, 300);  // fitted to 480 wide
    ASSERT_EQ(start(kPictures + u"\\wide.jpg"), EntryResult::Running);
    ASSERT_TRUE(open_picture(*ctx, 0));
    auto& z = ctx->zoom;
    EXPECT_EQ(z.pw, 480);
    EXPECT_EQ(z.ph, 240);
    ASSERT_TRUE(zoom_out(*ctx));
    EXPECT_EQ(z.zw, 480 - 2 * (480 >> 6));
    EXPECT_EQ(z.zh, 240 - 2 * (240 >> 6));
    int steps = 0;
    while (zoom_out(*ctx) && steps < 200) ++steps;
    EXPECT_LE(z.zw, 238);  // 119 doubled on a high-resolution screen
    EXPECT_GT(z.zw, 200);
    EXPECT_EQ(z.zh, 240 * z.zw / 480);
    EXPECT_EQ(z.px, (480 - z.zw) / 2);  // smaller than the screen: centred
    // A crop below full size draws the picture as shown.
    gfx::Image out;
    std::string why;
    ASSERT_TRUE(crop(*ctx, out, &why));
    EXPECT_EQ(out.width, 480);
    EXPECT_EQ(out.at(0, 0), 0);                                // outside the picture: black
    EXPECT_NE(out.at(z.px + z.zw / 8, z.py + z.zh / 8), 0);   // the blue block
    // A zoom buffer past the limit is refused before anything is taken.
    close_picture(*ctx);
    ctx->zoom_limit = 480 * 240 * 6 * 4 - 1;
    ASSERT_TRUE(open_picture(*ctx, 0));
    EXPECT_FALSE(zoom_in(*ctx));
    EXPECT_FALSE(ctx->zoom.buffered);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Image Crop Failed - the picture is too large to zoom");
}

TEST_F(Browser, TurnedViewsCropToTheDisplaysShape) {
    picture("tall.jpg", 300, 600);
    ASSERT_EQ(start(kPictures + u"\\tall.jpg"), EntryResult::Running);
    ASSERT_TRUE(open_picture(*ctx, 0));
    choose(kActRotateCw);
    EXPECT_EQ(ctx->screen_width, 800);
    EXPECT_EQ(ctx->screen_height, 480);
    EXPECT_EQ(ctx->zoom.pw, 300 * 480 / 600);  // fitted to the turned screen
    gfx::Image out;
    std::string why;
    ASSERT_TRUE(crop(*ctx, out, &why));
    EXPECT_EQ(out.width, 480);
    EXPECT_EQ(out.height, 800);
    // The blue block, top-left in the turned view, lies top-right on the display.
    auto blue = gfx::RGBTo565(gfx::kRgb565, 0, 0, 255);
    int bx = ctx->zoom.px + 10, by = ctx->zoom.py + 10;  // inside the block in view coordinates
    EXPECT_EQ(out.at(479 - by, bx), blue);
    // ... where the person sees it now: the bitmap is what the display shows.
    draw(*ctx);
    EXPECT_EQ(fake.display().seen(479 - by, bx), blue);
    EXPECT_EQ(fake.display().seen(479 - by, ctx->zoom.px + ctx->zoom.zw - 10), out.at(479 - by, ctx->zoom.px + ctx->zoom.zw - 10));
    choose(kActRotateCcw);
    EXPECT_EQ(ctx->screen_width, 480);
}

TEST_F(Browser, GifsKeepTheirPathAndFoldersGetASeparator) {
    lumo::test::GifSpec spec;
    spec.width = spec.height = 8;
    spec.palette = {0xFF0000, 0x00FF00};
    for (int f = 0; f < 2; ++f) {
        lumo::test::GifFrame frame;
        frame.width = frame.height = 8;
        frame.indices.assign(64, std::uint8_t(f));
        frame.delay_cs = 10;
        spec.frames.push_back(frame);
    }
    auto bytes = lumo::test::write_gif(spec);
    std::ofstream(root / "My Documents" / "My Pictures" / "spin.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_EQ(start(kPictures + u"\\spin.gif"), EntryResult::Running);
    ASSERT_EQ(ctx->selected, 0);
    choose(kActWallpaper);
    choose(kActLandscape);
    EXPECT_EQ(reg_text(Id::WallpaperL), u"");
    fake.run_for(kWallpaperDelayMs);
    EXPECT_EQ(reg_text(Id::WallpaperL), kPictures + u"\\spin.gif");
    EXPECT_FALSE(fs::exists(root / "Program Files" / "Lumo" / "s2vl.bmp"));

    // Back through the browse message: the folder as the portrait wallpaper.
    fake.run_for(1000);
    fake.windows().post(ctx->main_window, kMsgBrowse, kModePortrait, 0);
    fake.run_until_idle();
    EXPECT_FALSE(fake.windows().window_info(ctx->main_window)->minimized);
    EXPECT_EQ(seen(service_seen, proto::WM_AddStateListener), 2);
    choose(kActWallpaperFolder);
    choose(kActPortrait);
    fake.run_for(kWallpaperDelayMs);
    EXPECT_EQ(reg_text(Id::Wallpaper), kPictures + u"\\");
}

// --- the other picks -------------------------------------------------------------------------------

TEST_F(Browser, SoundsPlayStopAndArePickedForLockOrUnlock) {
    debug_on();
    std::ofstream(root / "Program Files" / "Lumo" / "lock.wav") << "RIFF";
    ASSERT_EQ(start(kFolder + u"\\*.wav"), EntryResult::Running);
    tap_entry(0);
    choose(kActPlay);
    auto requests = fake.sound().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, kFolder + u"\\lock.wav");
    EXPECT_TRUE(fake.sound().playing().has_value());
    EXPECT_NE(log_text().find("Play \\Program Files\\Lumo\\lock.wav"), std::string::npos);
    choose(kActStop);
    EXPECT_FALSE(fake.sound().playing().has_value());
    // The row's play mark plays too.
    auto l = layout(*ctx);
    tap(gfx::ScaleUnit(ctx->screen, 10), l.top + l.row_h / 2);
    EXPECT_EQ(fake.sound().requests().size(), 2u);
    EXPECT_TRUE(fake.sound().playing().has_value());
    choose(kActSound);
    choose(kActLock);
    EXPECT_EQ(reg_text(Id::LockSound), kFolder + u"\\lock.wav");
    EXPECT_EQ(reg_text(Id::UnlockSound), u"");
}

TEST_F(Browser, ThemesAndProgramsAreHandedToTheSettingsWindow) {
    std::ofstream(root / "Program Files" / "Lumo" / "Dark.lumo") << "x";
    std::ofstream(root / "Program Files" / "Tool.exe") << "x";
    ASSERT_EQ(start(kFolder + u"\\*.lumo"), EntryResult::Running);
    tap_entry(0);
    choose(kActTheme);
    EXPECT_EQ(reg_text(Id::LoadTheme), kFolder + u"\\Dark.lumo");
    EXPECT_EQ(seen(settings_seen, kMsgBrowse), 1);

    fake.run_for(1000);
    fake.windows().post(ctx->main_window, kMsgBrowse, kModeException, 0);
    fake.run_until_idle();
    begin_browsing(*ctx, u"\\Program Files\\*.exe");
    tap_entry(0);
    choose(kActException);
    EXPECT_EQ(reg_text(Id::TempExceptionEXE), u"Tool.exe");
    EXPECT_EQ(seen(settings_seen, kMsgExceptionPicked), 1);

    fake.run_for(1000);
    fake.windows().post(ctx->main_window, kMsgBrowse, kModeUnlockProgram, 0);
    fake.run_until_idle();
    tap_entry(0);
    choose(kActRunExe);
    EXPECT_EQ(reg_text(Id::UnlockRunEXE), u"\\Program Files\\Tool.exe");
    // Cancel ends the browsing and writes nothing.
    fake.run_for(1000);
    fake.windows().post(ctx->main_window, kMsgBrowse, kModeTheme, 0);
    fake.run_until_idle();
    press_button(2);
    fake.run_for(1000);
    EXPECT_TRUE(fake.windows().window_info(ctx->main_window)->minimized);
    EXPECT_EQ(seen(settings_seen, kMsgBrowse), 1);
}

TEST_F(Browser, TheGSensorTurnsTheFullScreenPicture) {
    debug_on();
    fake.registry().set_dword(Root::LocalMachine, kGSensorKey, kGSensorValue, 0);
    picture("tall.jpg", 200, 400);
    ASSERT_EQ(start(kPictures + u"\\tall.jpg"), EntryResult::Running);
    EXPECT_TRUE(ctx->gsensor);
    // In the grid nothing turns.
    fake.registry().set_dword(Root::LocalMachine, kGSensorKey, kGSensorValue, 1);
    fake.run_for(100);
    EXPECT_EQ(ctx->rotation, 0);
    tap_entry(0);
    tap_entry(0);
    ASSERT_EQ(ctx->view, View::Picture);
    fake.registry().set_dword(Root::LocalMachine, kGSensorKey, kGSensorValue, 0x13);
    fake.run_for(100);
    EXPECT_EQ(ctx->rotation, 3);
    EXPECT_EQ(ctx->screen_width, 800);
    fake.registry().set_dword(Root::LocalMachine, kGSensorKey, kGSensorValue, 0);
    fake.run_for(100);
    EXPECT_EQ(ctx->rotation, 0);
    auto log = log_text();
    EXPECT_NE(log.find("Init GSensor 1"), std::string::npos);
    EXPECT_NE(log.find("GSensor 13 3"), std::string::npos);
    EXPECT_NE(log.find("ReStretch Screen"), std::string::npos);
    fake.windows().send(ctx->main_window, WM_CLOSE, 0, 0);
    EXPECT_NE(log_text().find("Close GSensor 1"), std::string::npos);
}

}  // namespace
}  // namespace lumo::browser::test
