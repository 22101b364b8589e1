// The top bar's indicators, the full-screen battery and the owner line, drawn over the fake
// display: what lights up where for each published value and each message of the service.
#include <filesystem>

#include "lock_fixture.h"
#include "lumo/gfx/pixel.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;
namespace fs = std::filesystem;
constexpr Root kLM = Root::LocalMachine, kCU = Root::CurrentUser;

class Status : public LockFixture {
  protected:
    void put(Root r, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        fake.registry().create_key(r, key);
        fake.registry().set_dword(r, key, name, v);
    }
    void put(Root r, std::u16string_view key, std::u16string_view name, std::u16string_view v) {
        fake.registry().create_key(r, key);
        fake.registry().set_string(r, key, name, v);
    }
    void operator_name(std::u16string_view name) {
        put(kLM, u"System\\State\\Phone", u"Current Operator Name", name);
    }
    void start_locked() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        anim_ticks(2);
    }
    static int u(int n) { return 2 * n; }  // the fake display is a 192-dpi phone
    std::uint16_t at(int x, int y) { return fake.display().pixel(x, y); }
    // A pixel of a light indicator on the dark top bar.
    bool lit(int x, int y) { return ((at(x, y) >> 5) & 63) > 40 || (at(x, y) >> 11) > 20; }
    // The colour fields of a pixel, each scaled to 0..255.
    struct Rgb {
        int r, g, b;
    };
    Rgb rgb(int x, int y) {
        auto p = at(x, y);
        return {(p >> 11) * 255 / 31, ((p >> 5) & 63) * 255 / 63, (p & 31) * 255 / 31};
    }
    // Columns of the top bar whose pixels differ between two frames.
    static std::vector<int> changed_columns(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b,
                                            int width, int rows) {
        std::vector<int> cols;
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < rows; ++y)
                if (a[std::size_t(y) * width + x] != b[std::size_t(y) * width + x]) {
                    cols.push_back(x);
                    break;
                }
        return cols;
    }
    std::vector<std::uint16_t> frame() {
        anim_ticks(1);
        return fake.display().memory;
    }
};

TEST_F(Status, SignalBarsLightByTheRawStrength) {
    EXPECT_EQ(signal_level_of(0), 0);
    EXPECT_EQ(signal_level_of(14), 0);
    EXPECT_EQ(signal_level_of(15), 1);
    EXPECT_EQ(signal_level_of(54), 2);
    EXPECT_EQ(signal_level_of(100), 5);
    operator_name(u"Lumo");
    put(kLM, u"System\\State\\Phone", u"Signal Strength Raw", 100);
    start_locked();
    // Just above where an unlit bar begins: lit bars reach up there, unlit ones do not.
    auto bars_lit = [&] {
        int n = 0;
        for (int i = 0; i < 5; ++i) n += lit(u(1) + i * u(4) + 1, u(11) - 1);
        return n;
    };
    EXPECT_EQ(bars_lit(), 5);
    for (auto [raw, bars] : {std::pair{14, 0}, {15, 1}, {40, 2}, {100, 5}}) {
        send(proto::WM_CHANGE_PHONESIGNALSTRENGTH, WParam(raw), 0);
        anim_ticks(2);
        EXPECT_EQ(bars_lit(), bars) << raw;
    }
    // Every bar keeps its one-unit stub at the bottom.
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(lit(u(1) + i * u(4) + 1, u(11) + 1)) << i;
}

TEST_F(Status, OperatorNamesAreCutToTheRoomLeftBesideADataMark) {
    operator_name(u"  ABCDEFGHIJKLM ");  // 13 letters once trimmed
    start_locked();
    EXPECT_TRUE(ctx->status.operator_named);
    EXPECT_EQ(ctx->status.operator_x, u(22));
    EXPECT_EQ(ctx->status.operator_text, u"ABCDEFGHIJ...");
    put(kLM, u"System\\State\\Connections", u"Count", 1);
    send(proto::WM_CHANGE_CONNECTIONSCOUNT, 1, 0);
    EXPECT_EQ(ctx->status.operator_text, u"ABCDEFG...");
    send(proto::WM_CHANGE_CONNECTIONSCOUNT, 0, 0);
    operator_name(u"ABCDEFGHIJKL");
    send(proto::WM_CHANGE_SN_PHONEOPERATORNAME, 0, 0);
    EXPECT_EQ(ctx->status.operator_text, u"ABCDEFGHIJKL");
    // A data connection type counts as a data mark too.
    send(proto::WM_CHANGE_CELLSYSTEMCONNECTED, 6, 0);
    EXPECT_EQ(ctx->status.connection_type, 6);
    EXPECT_EQ(ctx->status.operator_text, u"ABCDEFG...");
}

TEST_F(Status, NoNameIsNoServiceAndTheRadioOffBitIsFlightMode) {
    start_locked();
    EXPECT_FALSE(ctx->status.operator_named);
    EXPECT_EQ(ctx->status.operator_text, u"No Service");
    EXPECT_EQ(ctx->status.operator_x, u(1));
    operator_name(u"Lumo");
    put(kLM, u"System\\State\\Phone", u"Status", 0x10 | 0x10000);
    send(proto::WM_CHANGE_SN_PHONEOPERATORNAME, 0x10, 0);
    anim_ticks(2);
    // The flight picture, and no signal bars where they would stand.
    EXPECT_FALSE(ctx->status.operator_named);
    EXPECT_TRUE(ctx->status.operator_text.empty());
    EXPECT_EQ(ctx->status.operator_image.width, u(14));
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(lit(u(1) + i * u(4) + 1, u(11) + 1)) << i;
    // Without the picture the text says it.
    use_copied_theme();
    fs::remove(root / "Program Files" / "Lumo" / "gfx" / "flight.png");
    send(proto::WM_CHANGE_SN_PHONEOPERATORNAME, 0x10, 0);
    EXPECT_EQ(ctx->status.operator_text, u"Flight Mode");
    // An operator logo stands for the name.
    fs::create_directories(root / "Program Files" / "Lumo" / "gfx" / "operator");
    fs::copy_file(root / "Program Files" / "Lumo" / "gfx" / "diverted.png",
                  root / "Program Files" / "Lumo" / "gfx" / "operator" / "Lumo.png");
    put(kLM, u"System\\State\\Phone", u"Status", 0);
    send(proto::WM_CHANGE_SN_PHONEOPERATORNAME, 0, 0);
    EXPECT_TRUE(ctx->status.operator_named);
    EXPECT_TRUE(ctx->status.operator_text.empty());
    EXPECT_EQ(ctx->status.operator_image.width, u(16));
}

TEST_F(Status, StateIconsGoRightToLeftInSlotOrder) {
    put(kCU, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", 1);  // vibrate
    start_locked();
    EXPECT_EQ(ctx->ringer_mode, kRingerVibrate);
    const int w = ctx->screen_width, rows = u(16);
    auto before = frame();
    send(proto::WM_CHANGE_SN_BLUETOOTH, 1, 0);
    send(proto::WM_CHANGE_SN_WIFI, 2, 0);
    send(proto::WM_CHANGE_BT_MSHEADPHONE, 0x4, 0);
    auto after = frame();
    EXPECT_EQ(ctx->status.icons[1], 4);
    EXPECT_EQ(ctx->status.icons[2], 5);
    EXPECT_EQ(ctx->status.icons[3], 9);
    // Sound mode (18 wide) is first from the right, then Bluetooth (13), Wi-Fi (21), headset (17).
    int x = w - u(21);
    std::vector<std::pair<int, int>> spans;
    for (int width : {18, 13, 21, 17}) {
        x -= u(width + u(1));
        spans.push_back({x, x + u(width)});
    }
    auto cols = changed_columns(before, after, w, rows);
    ASSERT_FALSE(cols.empty());
    EXPECT_GE(cols.front(), spans.back().first);
    EXPECT_LT(cols.back(), spans[1].second);  // the sound icon did not move
    for (std::size_t i = 1; i < spans.size(); ++i) {
        bool drawn = false;
        for (int c : cols) drawn |= c >= spans[i].first && c < spans[i].second;
        EXPECT_TRUE(drawn) << i;
    }
    // A wired headset gives its own icon; a hands-free one another.
    send(proto::WM_CHANGE_BT_MSHEADPHONE, 0, 0);
    send(proto::WM_CHANGE_HEADPHONE, 1, 0);
    EXPECT_EQ(ctx->status.icons[3], 6);
    send(proto::WM_CHANGE_HEADPHONE, 0, 0);
    send(proto::WM_CHANGE_BT_MSHEADPHONE, 0x10, 0);
    EXPECT_EQ(ctx->status.icons[3], 8);
}

TEST_F(Status, DigitalBatteryIsRedAtTwentyGreyAboveAndGreenWhileCharging) {
    set_byte(u"DigitalBattery", 1);
    set_byte(u"ShowBattery", 0);
    start_locked();
    const int w = ctx->screen_width;
    auto strongest = [&] {
        // The most saturated pixel of the percentage text.
        Rgb best{0, 0, 0};
        int score = -1;
        for (int y = u(2); y < u(16); ++y)
            for (int x = w - ctx->status.battery_text.width; x < w; ++x) {
                auto p = rgb(x, y);
                int s = std::max({p.r, p.g, p.b}) + std::abs(p.r - p.g) + std::abs(p.g - p.b);
                if (s > score) score = s, best = p;
            }
        return best;
    };
    send(proto::WM_UpdateBattery, 20, 0);
    anim_ticks(2);
    EXPECT_EQ(ctx->status.battery_text_colour, 0x0000E6u);
    auto red = strongest();
    EXPECT_GT(red.r, 150);
    EXPECT_LT(red.g, 60);
    send(proto::WM_UpdateBattery, 21, 0);
    anim_ticks(2);
    EXPECT_EQ(ctx->status.battery_text_colour, 0xE6E6E6u);
    auto grey = strongest();
    EXPECT_GT(grey.g, 150);
    EXPECT_NEAR(grey.r, grey.g, 30);
    send(proto::WM_UpdateBattery, 5, 1);
    anim_ticks(2);
    EXPECT_EQ(ctx->status.battery_state, kCharging);
    EXPECT_EQ(ctx->status.battery_text_colour, 0x14E600u);
    auto green = strongest();
    EXPECT_GT(green.g, 120);
    EXPECT_LT(green.r, 60);
    // Charging pulses the text; on battery it stands still.
    std::vector<int> pulses;
    for (int i = 0; i < 50; ++i) {
        anim_ticks(1);
        pulses.push_back(ctx->status.battery_pulse);
    }
    EXPECT_EQ(*std::min_element(pulses.begin(), pulses.end()), 3);
    EXPECT_EQ(*std::max_element(pulses.begin(), pulses.end()), 45);
    send(proto::WM_UpdateBattery, 100, 1);
    EXPECT_EQ(ctx->status.battery_state, kFull);
    send(proto::WM_UpdateBattery, 90, 0);
    EXPECT_EQ(ctx->status.battery_pulse, 29);
}

TEST_F(Status, TheGaugeFillsByTheLevel) {
    start_locked();
    send(proto::WM_UpdateBattery, 48, 0);
    anim_ticks(2);
    const int x0 = ctx->screen_width - u(18);
    const int end = x0 + 50 * u(7) / 50;
    const int y = u(8);
    EXPECT_TRUE(lit(x0, y));
    EXPECT_TRUE(lit(end - 1, y));
    EXPECT_FALSE(lit(end + 1, y));
}

TEST_F(Status, AnEmptyGaugeStillShowsTheBatteryCase) {
    start_locked();
    send(proto::WM_UpdateBattery, 0, 0);
    anim_ticks(2);
    const int w = ctx->screen_width;
    // Left and right walls, top and bottom edges, and the terminal nub.
    EXPECT_TRUE(lit(w - u(19), u(8)));
    EXPECT_TRUE(lit(w - u(3), u(8)));
    EXPECT_TRUE(lit(w - u(10), u(4)));
    EXPECT_TRUE(lit(w - u(10), u(12) - 1));
    EXPECT_TRUE(lit(w - u(2), u(8)));
    // Empty inside: nothing between the fill's sliver and the right wall.
    EXPECT_FALSE(lit(w - u(10), u(8)));
}

TEST_F(Status, ChargingSweepsTheFillAndAFullBatteryStandsStill) {
    set_byte(u"ShowBattery", 1);
    start_locked();
    EXPECT_FALSE(battery_view_covers(*ctx));
    send(proto::WM_UpdateBattery, 60, 1);
    EXPECT_TRUE(ctx->status.view_shown);
    EXPECT_FALSE(ctx->status.per_level);  // the theme ships the three-part set
    const int body = ctx->status.body.width;
    ASSERT_GT(body, 0);
    std::vector<double> fills;
    for (int i = 0; i < 80; ++i) {
        anim_ticks(1);
        fills.push_back(ctx->status.fill_width);
    }
    EXPECT_EQ(ctx->status.view_alpha, 32);
    // It grows and starts again from nothing, never past the level.
    EXPECT_LT(*std::min_element(fills.begin(), fills.end()), 3.0);
    EXPECT_LE(*std::max_element(fills.begin(), fills.end()), 0.6 * body);
    EXPECT_GT(*std::max_element(fills.begin(), fills.end()), 0.5 * body);
    auto a = fake.display().memory;
    anim_ticks(1);
    EXPECT_NE(a, fake.display().memory);
    // Full: the fill grows on to the whole body and stays there.
    send(proto::WM_UpdateBattery, 100, 1);
    anim_ticks(body / u(2) + 2);
    EXPECT_EQ(int(ctx->status.fill_width), body);
    EXPECT_FALSE(status_animating(*ctx));
    // Unplugged: the view fades out in four frames and lets its pictures go.
    send(proto::WM_UpdateBattery, 100, 0);
    anim_ticks(5);
    EXPECT_FALSE(ctx->status.view_shown);
    EXPECT_TRUE(ctx->status.body.empty());
}

TEST_F(Status, APerLevelPictureSetShowsTheLevelsPicture) {
    use_copied_theme();
    auto gfx = root / "Program Files" / "Lumo" / "gfx";
    for (int d = 0; d <= 100; d += 10)
        fs::copy_file(gfx / (d == 40 ? "battery2.png" : "battery1.png"),
                      gfx / ("battery" + std::to_string(d) + ".png"));
    set_byte(u"ShowBattery", 2);
    start_locked();
    send(proto::WM_UpdateBattery, 47, 0);
    EXPECT_TRUE(ctx->status.per_level);
    EXPECT_EQ(ctx->status.level_picture, 40);
    EXPECT_EQ(ctx->status.level_image.width, u(160));
    anim_ticks(10);
    EXPECT_EQ(ctx->status.view_alpha, 32);
    // Drawn centred on the screen.
    const int top = (ctx->screen_height - u(80)) / 2;
    const int left = (ctx->screen_width - u(160)) / 2;
    int inside = 0, beside = 0;
    for (int y = top; y < top + u(80); ++y)
        for (int x = 0; x < ctx->screen_width; ++x)
            (x >= left && x < left + u(160) ? inside : beside) += lit(x, y) ? 1 : 0;
    EXPECT_GT(inside, u(160));
    EXPECT_EQ(beside, 0);
    send(proto::WM_UpdateBattery, 93, 0);
    EXPECT_EQ(ctx->status.level_picture, 90);
    EXPECT_EQ(ctx->status.level_image.width, u(12));
    // ShowBattery 2 keeps the view on battery.
    anim_ticks(10);
    EXPECT_TRUE(ctx->status.view_shown);
}

TEST_F(Status, OwnerLineAtTheBottomRight) {
    set_byte(u"ShowOwnerInfo", 1);
    put(kCU, u"ControlPanel\\Owner", u"Name", u"Ann Lee");
    put(kCU, u"ControlPanel\\Owner", u"Telephone", u"555-0100");
    start_locked();
    const auto& st = ctx->status;
    ASSERT_FALSE(st.owner.empty());
    EXPECT_EQ(st.owner_x, ctx->screen_width - st.owner.width);
    EXPECT_EQ(st.owner_y, ctx->screen_height - st.owner.height);
    auto with_phone = st.owner.width;
    put(kCU, u"ControlPanel\\Owner", u"Telephone", u"");
    send(proto::WM_CHANGE_OWNERINFO, 0, 0);
    EXPECT_LT(st.owner.width, with_phone);
    put(kCU, u"ControlPanel\\Owner", u"Name", u"");
    send(proto::WM_CHANGE_OWNERINFO, 0, 0);
    EXPECT_TRUE(st.owner.empty());
}

TEST_F(Status, ForwardingMarkComesAndGoesWithTheMessage) {
    operator_name(u"Lumo");
    start_locked();
    EXPECT_TRUE(ctx->status.diverted.empty());
    send(proto::WM_CHANGE_CFUSTATE, 1, 0);
    EXPECT_EQ(ctx->status.diverted.width, u(16));
    send(proto::WM_CHANGE_CFUSTATE, 0, 0);
    EXPECT_TRUE(ctx->status.diverted.empty());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
