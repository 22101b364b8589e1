// The window procedure's generic routing over the fake phone: the touch rule for every stylus
// button (hit test, the system Lock value held at 0 for a moment unless NoSystemLock), the key
// routing by state (knob keys under DpadOn, keys of the input method, releases), the shell's
// full screen on lock and unlock, the box fade, the date change against a turn, and the small
// time.
#include <algorithm>

#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

constexpr std::uint32_t kLockChanged = WM_APP + 50;  // the stand-in service hears of System\State Lock

class Routing : public LockFixture {
protected:
    void start_locked() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        seen.clear();
    }
    LParam knob_point() const {
        const auto& s = ctx->slider;
        return point(s.knob_pos + s.knob_width / 2, s.knob_top + ctx->knob.height / 2);
    }
    // Every value Lock under System\State took, as the broker told the stand-in service.
    std::vector<WParam> lock_values() {
        std::vector<WParam> out;
        for (auto& s : service_seen())
            if (s.msg == kLockChanged) out.push_back(s.w);
        return out;
    }
    void watch_system_lock(std::uint32_t value) {
        auto& reg = fake.registry();
        reg.create_key(Root::LocalMachine, u"System\\State");
        reg.set_dword(Root::LocalMachine, u"System\\State", u"Lock", value);
        NotificationRequest r;
        r.root = Root::LocalMachine;
        r.key = u"System\\State";
        r.value = u"Lock";
        r.target = service;
        r.message = kLockChanged;
        auto scope = fake.as_process(77);
        ASSERT_NE(fake.broker().register_notification(r), 0u);
    }
    // A key as the phone delivers it to the window in front.
    void key(std::uint8_t vk, bool up, std::uint32_t flags = 0) {
        fake.windows().key_event(vk, flags | (up ? KEYEVENTF_KEYUP : 0));
        fake.run_until_idle();
    }
    Hwnd shell_window(std::u16string_view cls) {
        auto scope = fake.as_process(55);
        fake.windows().register_class(cls, [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = std::u16string(cls);
        cp.rect = {0, 0, 480, 52};
        Hwnd h = fake.windows().create_window(cp);
        fake.windows().show_window(h, SW_SHOWNA);
        return h;
    }
    bool visible(Hwnd h) { return fake.windows().window_info(h)->visible; }
};

struct TouchRow {
    std::uint32_t button;
    std::uint8_t no_system_lock;
};
class TouchRule : public Routing, public testing::WithParamInterface<TouchRow> {};

TEST_P(TouchRule, EveryStylusButtonRunsTheHitTestAndHoldsTheSystemLockAtZeroUnlessNoSystemLock) {
    const auto row = GetParam();
    set_byte(u"NoSystemLock", row.no_system_lock);
    start_locked();
    watch_system_lock(5);
    seen.clear();
    send(row.button, 1, knob_point());
    // The slider's hit test took the knob.
    EXPECT_TRUE(ctx->slider.dragging);
    if (row.no_system_lock) EXPECT_TRUE(lock_values().empty());
    else EXPECT_EQ(lock_values(), (std::vector<WParam>{0, 5}));
    EXPECT_EQ(fake.registry().get_dword(Root::LocalMachine, u"System\\State", u"Lock"), 5u);
}

INSTANTIATE_TEST_SUITE_P(Buttons, TouchRule,
                         testing::Values(TouchRow{WM_LBUTTONDOWN, 0}, TouchRow{WM_RBUTTONDOWN, 0},
                                         TouchRow{WM_MBUTTONDOWN, 0}, TouchRow{WM_LBUTTONDOWN, 1},
                                         TouchRow{WM_RBUTTONDOWN, 1}, TouchRow{WM_MBUTTONDOWN, 1}));

struct KeyRow {
    const char* name;
    std::uint8_t dpad;
    std::uint32_t open;  // a message that opens the state (0: Normal)
    std::uint8_t vk;
    bool moves;
};
class KnobKeys : public Routing, public testing::WithParamInterface<KeyRow> {};

TEST_P(KnobKeys, MoveTheKnobUnderDpadOnInTheLockScreenAndTheViewsOnly) {
    const auto& row = GetParam();
    set_byte(u"DpadOn", row.dpad);
    start_locked();
    if (row.open) {
        send(row.open, 1, 0);
        fake.run_for(500);
    }
    ASSERT_EQ(ctx->state == ScreenState::Normal, row.open == 0);
    key(row.vk, false);
    EXPECT_EQ(ctx->slider.key_drive, row.moves ? row.vk : 0);
    // A key release always stops a knob that a key drove.
    key(row.vk, true);
    EXPECT_EQ(ctx->slider.key_drive, 0);
}

INSTANTIATE_TEST_SUITE_P(
    States, KnobKeys,
    testing::Values(KeyRow{"RightInNormal", 1, 0, VK_RIGHT, true},
                    KeyRow{"LeftInNormal", 1, 0, VK_LEFT, true},
                    KeyRow{"EscapeInNormal", 1, 0, VK_ESCAPE, true},
                    KeyRow{"FourthKeyInNormal", 1, 0, kVkKnobKey, true},
                    KeyRow{"UpInNormal", 1, 0, 0x26, false},
                    KeyRow{"RightWithoutDpadOn", 0, 0, VK_RIGHT, false},
                    KeyRow{"RightInTheReminderView", 1, proto::WM_ShowNotification, VK_RIGHT, true},
                    KeyRow{"RightInTheVolumeControl", 1, proto::WM_VolumeControl, VK_RIGHT, false}),
    [](const testing::TestParamInfo<KeyRow>& p) { return std::string(p.param.name); });

TEST_F(Routing, AKeyOfTheInputMethodIsTakenAsTheRealKeyAndReleasesAreLoggedByState) {
    set_byte(u"DebugOn", 1);
    set_byte(u"DpadOn", 1);
    start_locked();
    const int rest = ctx->slider.knob_pos;
    key(VK_RIGHT, false, KEYEVENTF_INPUTMETHOD);
    EXPECT_EQ(ctx->slider.key_drive, VK_RIGHT);
    anim_ticks(3);
    EXPECT_GT(ctx->slider.knob_pos, rest);
    key(VK_RIGHT, true, KEYEVENTF_INPUTMETHOD);
    EXPECT_EQ(ctx->slider.key_drive, 0);
    auto log = log_text();
    EXPECT_NE(log.find("WM_KEYDOWN 27(E5)"), std::string::npos) << log;
    EXPECT_NE(log.find("WM_KEYUP 27(E5)"), std::string::npos);
    // In Normal the release keeps the screen awake; elsewhere it ends the state's press.
    EXPECT_EQ(log.find("CheckReleasedButton"), std::string::npos);
    send(proto::WM_ShowNotification, 1, 0);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    key(0x26, false);
    key(0x26, true);
    EXPECT_NE(log_text().find("CheckReleasedButton S=11 K=38"), std::string::npos);
}

TEST_F(Routing, TheLockTakesTheWholeScreenFromTheShellAndTheUnlockGivesTheBarAndStartIconBack) {
    Hwnd bar = shell_window(kShellTaskBarClass);
    Hwnd sip = shell_window(kShellSipButtonClass);
    Hwnd start_icon = shell_window(kShellStartIconClass);
    start_locked();
    EXPECT_FALSE(visible(bar));
    EXPECT_FALSE(visible(sip));
    EXPECT_FALSE(visible(start_icon));
    send(proto::WM_Unlock, 0, 0);
    ASSERT_FALSE(ctx->locked);
    EXPECT_TRUE(visible(bar));
    EXPECT_TRUE(visible(start_icon));
    // Leaving full screen brings back only the task bar and the start icon.
    EXPECT_FALSE(visible(sip));
}

TEST_F(Routing, AViewsBoxFadesInAndOutBySixAFrameAndGoesWhenFadedOut) {
    start_locked();
    send(proto::WM_ShowNotification, 1, 0);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    std::vector<int> alphas;
    for (int i = 0; i < 8; ++i) {
        anim_ticks(1);
        alphas.push_back(ctx->views.box_alpha);
    }
    EXPECT_EQ(alphas.front() % kBoxFadeStep, 0);
    EXPECT_EQ(alphas.back(), 32);
    for (std::size_t i = 1; i < alphas.size(); ++i)
        EXPECT_EQ(alphas[i], std::min(32, alphas[i - 1] + kBoxFadeStep)) << i;
    send(proto::WM_BACKLIGHT_OFF, 0, 0);
    ASSERT_EQ(ctx->state, ScreenState::Normal);
    send(WM_LBUTTONDOWN, 1, point(5, 5));  // keeps the frames coming
    alphas.clear();
    for (int i = 0; i < 7 && !ctx->views.box.empty(); ++i) {
        anim_ticks(1);
        alphas.push_back(ctx->views.box_alpha);
    }
    EXPECT_EQ(alphas, (std::vector<int>{26, 20, 14, 8, 2, 0}));
    EXPECT_TRUE(ctx->views.box.empty());
}

TEST_F(Routing, ADateChangeTellsTheServiceAndATurnDoesNot) {
    set_byte(u"ShowAppointment", 1);
    start_locked();
    fake.display().orientation = 90;
    send(WM_WINDOWPOSCHANGED, 0, 0);
    fake.display().orientation = 0;
    send(WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_EQ(count_seen(proto::WM_PoomItemChanged), 0);
    fake.set_local_time({2026, 12, 1, 23, 59, 59, 0, 0});
    fake.run_for(2500);
    EXPECT_EQ(count_seen(proto::WM_PoomItemChanged), 1);
}

TEST_F(Routing, TheSmallTimeIsMadeOnlyWhereAPanelCoversTheBigClock) {
    // The clock keeps ticking: no idle-off stops it.
    set_byte(u"OffLCD", 0);
    set_byte(u"ACOffLCD", 0);
    start_locked();
    fake.run_for(61000);
    EXPECT_TRUE(ctx->clock.small_time.empty());
    send(proto::WM_VolumeControl, 1, 0);
    ASSERT_EQ(ctx->state, ScreenState::VolumeControl);
    fake.run_for(1000);
    fake.set_local_time({2026, 12, 1, 7, 30, 0, 0, 0});
    fake.run_for(1000);
    EXPECT_FALSE(ctx->clock.small_time.empty());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
