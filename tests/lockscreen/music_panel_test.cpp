// The music player's panel over the fake platform: a stand-in player window records the commands
// that reach it; the player's values are written as the player writes them and announced with
// the service's messages.
#include "lock_fixture.h"
#include "lumo/gfx/load.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace pr = protocol;

class MusicPanelTest : public LockFixture {
protected:
    void SetUp() override {
        auto scope = fake.as_process(88);
        fake.windows().register_class(u"Zorp", [this](Hwnd, std::uint32_t msg, WParam w, LParam l) -> LResult {
            if (msg == 0x111) commands.push_back({w, l});
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"Zorp";
        cp.title = u"Zorp";
        player = fake.windows().create_window(cp);
        set_byte(u"DebugOn", 1);
    }
    void started() { ASSERT_EQ(start(u"-hide"), EntryResult::Running); }
    void publish(std::u16string_view title, std::u16string_view artist = u"Ann Lee",
                 std::u16string_view album = u"Blue Hours") {
        auto& reg = fake.registry();
        reg.create_key(Root::CurrentUser, pr::kZorpKey);
        reg.set_string(Root::CurrentUser, pr::kZorpKey, u"CurrentArtist", artist);
        reg.set_string(Root::CurrentUser, pr::kZorpKey, u"CurrentAlbumName", album);
        reg.set_string(Root::CurrentUser, pr::kZorpKey, pr::zorp::kCurrentTitle, title);
        send(pr::WM_CHANGE_ZORPTITLE);
    }
    void tap(int x, int y) {
        send(WM_LBUTTONDOWN, 0, point(x, y));
        send(WM_LBUTTONUP, 0, point(x, y));
    }
    void key(std::uint8_t vk) {
        send(WM_KEYDOWN, vk);
        send(WM_KEYUP, vk);
    }
    std::vector<std::uint32_t> command_codes() {
        fake.run_until_idle();
        std::vector<std::uint32_t> out;
        for (auto& [w, l] : commands) out.push_back(std::uint32_t(w));
        return out;
    }
    std::optional<std::uint8_t> last_control() {
        auto v = fake.registry().get_binary(Root::CurrentUser, pr::kRootKey, pr::mailbox::kLastZorpControl);
        if (!v || v->size() != 1) return std::nullopt;
        return std::uint8_t((*v)[0]);
    }
    const MusicState& m() { return ctx->music; }

    Hwnd player = 0;
    std::vector<std::pair<WParam, LParam>> commands;
};

TEST_F(MusicPanelTest, TitleArtistAndAlbumTakeTheDatesRowAndTheAppointmentsGiveWay) {
    started();
    const int date_height = ctx->clock.date.height;
    ASSERT_GT(date_height, 0);
    publish(u"Morning Tide");
    EXPECT_TRUE(music_title_shown(*ctx));
    EXPECT_TRUE(m().control);
    // Three stacked lines where the date was, centred.
    EXPECT_GE(ctx->clock.date.height, 3 * date_height - 4);
    EXPECT_EQ(ctx->clock.date_x, (ctx->screen_width - ctx->clock.date.width) / 2);
    EXPECT_TRUE(appointments_hidden_by_music(*ctx));
    EXPECT_NE(log_text().find("ShowWMPControl 1(-1)"), std::string::npos);
    // A title of one space keeps an empty line between artist and album.
    const int three = ctx->clock.date.height;
    publish(u" ");
    EXPECT_TRUE(music_title_shown(*ctx));
    EXPECT_EQ(ctx->clock.date.height, three);
    // A title wider than the screen is cut with an ellipsis to the row.
    publish(std::u16string(40, u'W') + u" and the long way home through the hills");
    EXPECT_LE(ctx->clock.date.width, ctx->screen_width - gfx::ScaleUnit(ctx->screen, 6));

    // The title goes: the date, the appointment panel and the remembered control view.
    publish(u"");
    EXPECT_FALSE(music_title_shown(*ctx));
    EXPECT_EQ(ctx->clock.date.height, date_height);
    EXPECT_FALSE(appointments_hidden_by_music(*ctx));
    EXPECT_EQ(last_control(), 1);
}

TEST_F(MusicPanelTest, WithoutTheControlViewOnlyTheTitleShows) {
    set_byte(u"LastZorpControl", 0);
    started();
    const int date_height = ctx->clock.date.height;
    publish(u"Morning Tide");
    EXPECT_TRUE(music_title_shown(*ctx));
    EXPECT_FALSE(m().control);
    EXPECT_EQ(ctx->clock.date.height, date_height);
    EXPECT_FALSE(appointments_hidden_by_music(*ctx));
    EXPECT_TRUE(command_codes().empty());
    // A tap where the buttons would be does nothing to the player.
    tap(ctx->screen_width / 2, m().row_y + 10);
    EXPECT_TRUE(command_codes().empty());
    publish(u"");
    EXPECT_EQ(last_control(), 0);
}

TEST_F(MusicPanelTest, ButtonTapsAndHeldButtonsSendTheirCommands) {
    started();
    lock_now();
    publish(u"Morning Tide");
    ASSERT_FALSE(m().pause.empty());
    ASSERT_FALSE(m().forward.empty());
    const int grow = gfx::ScaleUnit(ctx->screen, 10);
    const int row = m().row_y + m().pause.height / 2;
    tap(m().play_x + m().pause.width / 2, row);
    tap(m().next_x + m().forward.width + grow - 1, row);                 // inside the enlarged edge
    tap(m().previous_x - grow, m().row_y - grow);                           // its top-left corner
    tap(m().next_x + m().forward.width + grow + 1, row);                    // just outside: nothing
    int knob_x = m().bar_x + m().volume * m().bar_off.width / 100;
    tap(knob_x, m().knob_y + m().knob.height / 2);
    EXPECT_EQ(command_codes(), (std::vector<std::uint32_t>{301, 302, 303, 305}));
    // Pressed on one button and released on another: no command.
    commands.clear();
    send(WM_LBUTTONDOWN, 0, point(m().play_x + 2, row));
    send(WM_LBUTTONUP, 0, point(m().next_x + 2, row));
    EXPECT_TRUE(command_codes().empty()) << ::testing::PrintToString(command_codes());
    // Held, next repeats 108 on the animation frames after half a second, and its release is
    // no tap.
    send(WM_LBUTTONDOWN, 0, point(m().next_x + 2, row));
    anim_ticks(4);
    EXPECT_TRUE(command_codes().empty()) << ::testing::PrintToString(command_codes());
    anim_ticks(6);
    auto held = command_codes();
    ASSERT_GE(held.size(), 2u);
    for (auto code : held) EXPECT_EQ(code, 108u);
    send(WM_LBUTTONUP, 0, point(m().next_x + 2, row));
    EXPECT_EQ(command_codes().back(), 108u);
    commands.clear();
    send(WM_LBUTTONDOWN, 0, point(m().previous_x + 2, row));
    anim_ticks(10);
    send(WM_LBUTTONUP, 0, point(m().previous_x + 2, row));
    EXPECT_EQ(command_codes().front(), 109u);
}

TEST_F(MusicPanelTest, KeysComeToThePlayerFirstAndTheVolumeStaysWithinItsRange) {
    set_byte(u"DpadOn", 1);
    started();
    // No title: the arrow keys drive the slider's knob.
    send(WM_KEYDOWN, 39);
    EXPECT_EQ(ctx->slider.key_drive, 39);
    send(WM_KEYUP, 39);
    publish(u"Morning Tide");
    send(pr::WM_CHANGE_ZORPVOLUME, 98);
    key(13);
    key(39);
    key(37);
    EXPECT_EQ(ctx->slider.key_drive, 0);
    key(38);
    EXPECT_EQ(m().volume, 100);
    send(pr::WM_CHANGE_ZORPVOLUME, 2);
    key(40);
    key(117);
    key(118);
    EXPECT_EQ(command_codes(), (std::vector<std::uint32_t>{301, 302, 303, 304, 304, 304, 304}));
    EXPECT_EQ(commands[3].second, 100);
    EXPECT_EQ(commands[4].second, 0);
    EXPECT_EQ(commands[5].second, 6);
    EXPECT_EQ(commands[6].second, 2);
}

TEST_F(MusicPanelTest, ControlsBarAndStatusAreDrawnUnderTheTitle) {
    started();
    lock_now();
    publish(u"Morning Tide");
    auto frame = [&](int volume, std::uint32_t status) {
        send(pr::WM_CHANGE_ZORPVOLUME, WParam(volume));
        send(pr::WM_CHANGE_ZORPSTATUS, status);
        for (int i = 0; i < 9; ++i) compose_frame(*ctx);
        gfx::Image img;
        gfx::ImageFromBackBuffer(img, ctx->screen);
        return img;
    };
    auto changed = [](const gfx::Image& a, const gfx::Image& b, int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < a.width; ++x) n += a.at(x, y) != b.at(x, y);
        return n;
    };
    auto empty_bar = frame(0, 0), full_bar = frame(100, 0), paused = frame(100, 1);
    const int bar_top = m().bar_y, bar_bottom = m().knob_y + m().knob.height;
    EXPECT_GT(changed(empty_bar, full_bar, bar_top, bar_bottom), 50) << "the volume bar did not fill";
    EXPECT_EQ(changed(empty_bar, full_bar, 0, m().row_y), 0);
    const int row_bottom = m().row_y + m().play.height;
    EXPECT_GT(changed(full_bar, paused, m().row_y, row_bottom), 50) << "play and pause look alike";
    // The controls lie between the music text and the slider's bar.
    EXPECT_GE(m().row_y, gfx::ScaleUnit(ctx->screen, 28) + ctx->clock.height + ctx->clock.date.height);
    EXPECT_LE(bar_bottom, ctx->slider.bar_top);
}

TEST_F(MusicPanelTest, TheAlbumArtWithItsReflectionBecomesTheBackground) {
    started();
    lock_now();
    ASSERT_FALSE(ctx->wallpaper.image.empty());
    auto& reg = fake.registry();
    reg.create_key(Root::CurrentUser, pr::kZorpKey);
    reg.set_string(Root::CurrentUser, pr::kZorpKey, pr::zorp::kCurrentAlbum, u"\\My Documents\\My Pictures\\Mosaic.png");
    send(pr::WM_CHANGE_ZORPALBUM);
    ASSERT_TRUE(m().album_shown);
    const auto& bg = m().album_background;
    ASSERT_EQ(bg.width, ctx->screen_width);
    ASSERT_EQ(bg.height, ctx->screen_height);
    // The art is the screen's width, its bottom on the slider's bar; the reflection under it is
    // the art's last rows mirrored and darkened, so the rows next to the edge look alike.
    const int side = std::min(ctx->screen_width, ctx->screen_height);
    const int bottom = ctx->screen_height - gfx::ScaleUnit(ctx->screen, 60);
    auto lit = [&](int y) {
        int n = 0;
        for (int x = 0; x < bg.width; ++x) n += bg.at(x, y) != 0;
        return n;
    };
    EXPECT_EQ(lit(bottom - side - 2), 0) << "black above the art";
    EXPECT_GT(lit(bottom - side / 2), side / 2);
    EXPECT_GT(lit(bottom + 2), side / 2) << "no reflection";
    EXPECT_TRUE(ctx->wallpaper.image.empty());
    // The album goes (ZorpAlbum off): the wallpaper is back.
    set_byte(u"ZorpAlbum", 0);
    load_settings(*ctx);
    send(pr::WM_CHANGE_ZORPALBUM);
    EXPECT_FALSE(m().album_shown);
    EXPECT_FALSE(ctx->wallpaper.image.empty());
    // A missing picture: the wallpaper.
    set_byte(u"ZorpAlbum", 1);
    load_settings(*ctx);
    reg.set_string(Root::CurrentUser, pr::kZorpKey, pr::zorp::kCurrentAlbum, u"\\My Documents\\none.png");
    send(pr::WM_CHANGE_ZORPALBUM);
    EXPECT_FALSE(m().album_shown);
}

TEST_F(MusicPanelTest, UnlockingWhileMusicPlaysBringsThePlayerForward) {
    started();
    lock_now();
    publish(u"Morning Tide");
    send(pr::WM_Unlock, 1);
    EXPECT_EQ(fake.windows().foreground_window(), player);
    // Without a player window the commands are dropped.
    fake.windows().destroy_window(player);
    fake.run_until_idle();
    lock_now();
    key(13);
    EXPECT_TRUE(command_codes().empty());
    EXPECT_EQ(m().sent.size(), 1u);
}

TEST_F(MusicPanelTest, AfterATurnTheControlsAndTheWeatherFitTheScreen) {
    set_byte(u"ShowWeather", 5);
    set_text(u"UserWeather", u"W|1|21|12");
    started();
    lock_now();
    publish(u"Morning Tide");
    ASSERT_EQ(ctx->weather.code, 1);
    fake.display().orientation = 90;
    send(WM_SETTINGCHANGE, 0x3002, 0);
    send(WM_WINDOWPOSCHANGED, 0, 0);
    ASSERT_GT(ctx->screen_width, ctx->screen_height);
    const int u60 = gfx::ScaleUnit(ctx->screen, 60);
    EXPECT_EQ(ctx->weather.icon_y, ctx->screen_height - u60 - ctx->weather.icon.height);
    // Too short for artist and album over the buttons: the title alone, nothing overlapping.
    const int text_bottom = gfx::ScaleUnit(ctx->screen, 28) + ctx->clock.height + ctx->clock.date.height;
    EXPECT_GE(m().row_y, text_bottom);
    EXPECT_LE(m().knob_y + m().knob.height, ctx->screen_height - u60);
    EXPECT_TRUE(m().control);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
