// Turning the display under the lock screen: the layout follows the turned screen (slider, clock,
// date, landscape wallpaper) on both device sizes and comes back in portrait; with
// IgnoreScreenRotation the layout stays and only a half turn turns the drawing.
#include "lock_fixture.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/gfx/image.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

struct Profile {
    const char* name;
    int width, height, dpi;
};
const Profile kProfiles[] = {{"vga", 480, 800, 192}, {"qvga", 240, 320, 96}};

class Rotation : public LockFixture, public ::testing::WithParamInterface<Profile> {
  protected:
    void SetUp() override {
        auto p = GetParam();
        fake.display().screen = {p.width, p.height, p.dpi, p.dpi};
        fake.display().pitch_pixels = p.width;
        fake.display().resize();
        if (p.dpi < 192) {
            // A 96-dpi phone is installed with the 96-dpi pictures.
            auto gfx = root / "Program Files" / "Lumo" / "gfx";
            std::filesystem::remove(gfx);
            std::filesystem::create_directory_symlink(
                stage_dir() / "Program Files" / "Lumo" / "gfx96", gfx);
        }
    }
    void start_locked() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        anim_ticks(2);
    }
    void turn(int degrees) {
        fake.display().orientation = degrees;
        send(WM_SETTINGCHANGE, 0x3002, 0);
        send(WM_WINDOWPOSCHANGED, 0, 0);
        anim_ticks(2);
    }
    int u(int n) const { return GetParam().dpi >= 192 ? 2 * n : n; }
    const SliderState& s() const { return ctx->slider; }

    // Everything the layout places lies on the screen, the texts above the bottom bar.
    void expect_layout_fits(int w, int h) {
        EXPECT_EQ(ctx->screen_width, w);
        EXPECT_EQ(ctx->screen_height, h);
        EXPECT_EQ(ctx->screen.logical_width, w);
        EXPECT_EQ(ctx->screen.logical_height, h);
        EXPECT_EQ(s().track_left, w / 2 - u(100));
        EXPECT_EQ(s().track_right, s().track_left + u(152));
        EXPECT_EQ(s().bar_top, h - u(60));
        EXPECT_EQ(s().track_x, (w - ctx->track.width) / 2);
        EXPECT_GE(s().track_left, 0);
        EXPECT_LE(s().track_right + s().knob_width, w);
        EXPECT_GT(ctx->clock.height, 0);
        EXPECT_GE(ctx->clock.x, 0);
        EXPECT_EQ(ctx->clock.date_x, (w - ctx->clock.date.width) / 2);
        int date_bottom = u(28) + ctx->clock.height + ctx->clock.date.height;
        EXPECT_LE(date_bottom, s().bar_top) << "the date runs into the slider";
    }
    // The person sees exactly the back buffer as the program laid it out.
    void expect_display_shows_the_layout() {
        gfx::Image seen_by_program;
        ASSERT_TRUE(gfx::ImageFromBackBuffer(seen_by_program, ctx->screen));
        auto& d = fake.display();
        auto m = d.metrics();
        ASSERT_EQ(seen_by_program.width, m.width);
        ASSERT_EQ(seen_by_program.height, m.height);
        int wrong = 0;
        for (int y = 0; y < m.height; ++y)
            for (int x = 0; x < m.width; ++x) wrong += d.seen(x, y) != seen_by_program.row(y)[x];
        EXPECT_EQ(wrong, 0);
    }
    std::u16string wallpaper() const { return ctx->wallpaper.loaded; }
    void expect_rotation_ignored(std::uint8_t display_mode);
    void expect_caller_screen_through_a_turn(std::uint8_t ignore);
};

TEST_P(Rotation, AQuarterTurnLaysTheLockScreenOutForLandscapeAndBack) {
    auto p = GetParam();
    start_locked();
    expect_layout_fits(p.width, p.height);
    auto portrait_wallpaper = wallpaper();
    EXPECT_NE(portrait_wallpaper.find(u"wallpaper.jpg"), std::u16string::npos);
    for (int degrees : {90, 270}) {
        SCOPED_TRACE(degrees);
        turn(degrees);
        expect_layout_fits(p.height, p.width);
        EXPECT_NE(wallpaper().find(u"wallpaperL.jpg"), std::u16string::npos);
        EXPECT_EQ(ctx->wallpaper.image.width, p.height);
        EXPECT_EQ(ctx->wallpaper.image.height, p.width);
        EXPECT_EQ(s().knob_pos, s().track_left);  // the knob rests at the new track's end
        expect_display_shows_the_layout();
    }
    turn(0);
    expect_layout_fits(p.width, p.height);
    EXPECT_EQ(wallpaper(), portrait_wallpaper);
    expect_display_shows_the_layout();
}

TEST_P(Rotation, DraggingAlongTheLandscapeSliderUnlocks) {
    start_locked();
    turn(90);
    seen.clear();
    int y = s().knob_top + ctx->knob.height / 2;
    int x = s().knob_pos + s().knob_width / 2;
    send(WM_LBUTTONDOWN, 1, point(x, y));
    ASSERT_TRUE(s().dragging);
    for (int step = 1; step <= 8; ++step) {
        fake.advance(20);
        send(WM_MOUSEMOVE, 1, point(x + step * u(20), y));
    }
    fake.advance(20);
    send(WM_LBUTTONUP, 0, point(x + 8 * u(20), y));
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_FALSE(ctx->locked);
}

// The panel's memory above the slider bar, where nothing moves while the knob rests.
std::vector<std::uint16_t> panel_above(const fake::FakeDisplay& d, int rows) {
    return {d.memory.begin(), d.memory.begin() + std::ptrdiff_t(rows) * d.pitch_pixels};
}

void Rotation::expect_rotation_ignored(std::uint8_t display_mode) {
    auto p = GetParam();
    set_byte(u"IgnoreScreenRotation", 1);
    set_byte(u"DisplayMode", display_mode);
    start_locked();
    auto portrait_wallpaper = wallpaper();
    auto before = panel_above(fake.display(), s().bar_top);
    turn(90);
    // A portrait layout cannot be drawn upright on a landscape screen: it stays whole where it
    // was on the panel.
    EXPECT_EQ(ctx->screen_width, p.width);
    EXPECT_EQ(ctx->screen_height, p.height);
    EXPECT_EQ(s().bar_top, p.height - u(60));
    EXPECT_EQ(wallpaper(), portrait_wallpaper);
    EXPECT_TRUE(panel_above(fake.display(), s().bar_top) == before)
        << "the picture moved on the panel";
    // Half turns keep the shape: the drawing turns and the person sees the layout upright.
    turn(180);
    EXPECT_EQ(ctx->screen_width, p.width);
    EXPECT_EQ(ctx->screen.logical_width, p.width);
    expect_display_shows_the_layout();
    turn(0);
    expect_display_shows_the_layout();
    // A quarter turn again: the person drags along the slider where it lies, across the turned
    // screen (a layout point x, y is seen at height - 1 - y, x).
    turn(90);
    seen.clear();
    int kx = s().knob_pos + s().knob_width / 2, ky = s().knob_top + ctx->knob.height / 2;
    auto seen_at = [&](int x, int y) { return point(p.height - 1 - y, x); };
    send(WM_LBUTTONDOWN, 1, seen_at(kx, ky));
    ASSERT_TRUE(s().dragging);
    for (int step = 1; step <= 8; ++step) {
        fake.advance(20);
        send(WM_MOUSEMOVE, 1, seen_at(kx + step * u(20), ky));
    }
    fake.advance(20);
    send(WM_LBUTTONUP, 0, seen_at(kx + 8 * u(20), ky));
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
}

TEST_P(Rotation, IgnoringRotationKeepsTheLayoutThroughGdi) {
    expect_rotation_ignored(2);
}

TEST_P(Rotation, IgnoringRotationKeepsTheLayoutThroughTheFrameBuffer) {
    expect_rotation_ignored(0);
    EXPECT_EQ(ctx->screen.backend, gfx::Backend::RawFrameBuffer);
}

// The caller screen over a turned phone: laid out again for the new shape, or, with
// IgnoreScreenRotation, kept where it was, its buttons answering where the person sees them.
void Rotation::expect_caller_screen_through_a_turn(std::uint8_t ignore) {
    auto p = GetParam();
    set_byte(u"CallerID", 1);
    set_byte(u"Slide2Answer", 0);
    set_byte(u"IgnoreScreenRotation", ignore);
    start_locked();
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingName, u"Ada Lovelace");
    catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingNumber, u"5550101");
    send(proto::WM_RunCaller, service, 1);
    ASSERT_EQ(ctx->state, ScreenState::IncomingCall);
    turn(90);
    EXPECT_EQ(ctx->state, ScreenState::IncomingCall);
    const int w = ignore ? p.width : p.height, h = ignore ? p.height : p.width;
    EXPECT_EQ(ctx->screen_width, w);
    EXPECT_EQ(ctx->screen_height, h);
    if (!ignore) expect_display_shows_the_layout();
    // The answer button: the left half of the bottom band in layout coordinates, seen turned
    // on the panel when the layout stayed.
    int bx = w / 4, by = h - ctx->call.bottom_height / 2;
    LParam at = ignore ? point(p.height - 1 - by, bx) : point(bx, by);
    seen.clear();
    send(WM_LBUTTONDOWN, 1, at);
    send(WM_LBUTTONUP, 0, at);
    fake.run_for(100);
    int answers = 0;
    for (auto& m : service_seen()) answers += m.msg == proto::WM_PhoneKey && m.w == 112;
    EXPECT_EQ(answers, 1);
}

TEST_P(Rotation, TheCallerScreenIsLaidOutAgainAfterATurn) { expect_caller_screen_through_a_turn(0); }

TEST_P(Rotation, IgnoringRotationKeepsTheCallerScreenAndItsButtonsWhereTheyAre) {
    expect_caller_screen_through_a_turn(1);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Rotation, ::testing::ValuesIn(kProfiles),
                         [](const ::testing::TestParamInfo<Profile>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
}  // namespace lumo::lockscreen::testing_support
