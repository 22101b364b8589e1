// The state machine's timers: drawing only from the animation timer, idle-off by power source,
// activation and deactivation, the service's lock confirmations, and the views' re-locks.
#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class States : public LockFixture {
protected:
    void locked_with(std::uint8_t off_lcd, std::uint8_t ac_off_lcd) {
        set_byte(u"OffLCD", off_lcd);
        set_byte(u"ACOffLCD", ac_off_lcd);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        seen.clear();
    }
};

TEST_F(States, FramesArePresentedOnlyByTheAnimationTimer) {
    locked_with(0, 0);
    int shown = fake.display().frames_ready;
    send(proto::WM_UpdateBattery, 50, 0);
    send(WM_LBUTTONDOWN, 1, point(10, 300));
    send(WM_LBUTTONUP, 0, point(10, 300));
    EXPECT_EQ(fake.display().frames_ready, shown);
    fake.run_for(kAnimPeriodMs);
    EXPECT_EQ(fake.display().frames_ready, shown + 1);
}

TEST_F(States, TheAnimationTimerRestsOnceTheShineHasRunAndWakesOnATouch) {
    locked_with(0, 0);
    fake.run_for(kAnimPeriodMs * 30 * 7);
    EXPECT_FALSE(ctx->anim_armed);
    int shown = fake.display().frames_ready;
    fake.run_for(1000);
    EXPECT_LE(fake.display().frames_ready, shown + 1);  // at most the clock's redraw
    send(WM_LBUTTONDOWN, 1, point(10, 300));
    EXPECT_TRUE(ctx->anim_armed);
}

TEST_F(States, AWakeUpPresentsItsFirstFrameWithoutWaitingAPeriod) {
    locked_with(0, 0);
    // A lock request to the locked screen starts the animation again; the activation the service
    // sends when the display comes on only asks for one frame. Each draws at once, on the clock
    // as it stands, and the animation goes on at its period.
    for (bool lock_request : {true, false}) {
        fake.run_for(kAnimPeriodMs * 30 * 7);
        ASSERT_FALSE(ctx->anim_armed);
        const int shown = fake.display().frames_ready;
        const auto now = fake.now();
        if (lock_request) lock_now();
        else send(WM_ACTIVATE, WA_ACTIVE, 0);
        EXPECT_EQ(fake.now(), now);
        EXPECT_EQ(fake.display().frames_ready, shown + 1) << "lock request " << lock_request;
        fake.run_for(kAnimPeriodMs - 1);
        EXPECT_EQ(fake.display().frames_ready, shown + 1) << "lock request " << lock_request;
        fake.run_for(1);
        EXPECT_EQ(fake.display().frames_ready, shown + (lock_request ? 2 : 1))
            << "lock request " << lock_request;
        EXPECT_EQ(ctx->anim_armed, lock_request);
    }
}

TEST_F(States, IdleOffOnBatteryAsksTheServiceToSwitchTheDisplayOff) {
    locked_with(5, 0);
    fake.run_for(4900);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0);
    fake.run_for(200);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 1);
    EXPECT_FALSE(ctx->anim_armed);
}

TEST_F(States, IdleOffWithBlankScreenAsksForTheDisplayOffMessage) {
    set_byte(u"BlankScreen", 1);
    locked_with(5, 0);
    fake.run_for(5100);
    EXPECT_EQ(count_seen(proto::WM_OffDisplay), 1);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0);
}

TEST_F(States, IdleOffIsOffWithZeroAndOnTheWrongPowerSource) {
    locked_with(0, 5);
    fake.run_for(8000);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0) << "on battery, only OffLCD counts";
    send(proto::WM_UpdateBattery, 80, 1);  // external power
    send(WM_LBUTTONDOWN, 1, point(ctx->slider.knob_pos + 48, ctx->slider.knob_top + 40));
    send(WM_LBUTTONUP, 0, point(ctx->slider.knob_pos + 48, ctx->slider.knob_top + 40));
    fake.run_for(5100);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 1);
}

TEST_F(States, IdleOffDoesNothingInTheVolumeControl) {
    locked_with(5, 0);
    ctx->state = ScreenState::VolumeControl;
    fake.run_for(2900);
    ctx->state = ScreenState::VolumeControl;
    fake.run_for(2200);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0);
}

TEST_F(States, DeactivationReleasesTheScreenAndStopsTheTimers) {
    locked_with(5, 0);
    send(WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_TRUE(ctx->screen.suspended);
    EXPECT_FALSE(ctx->anim_armed);
    fake.run_for(6000);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0);
}

TEST_F(States, ServiceConfirmationWithDisplayOffStopsTheTimers) {
    locked_with(5, 0);
    send(proto::WM_VardexLocked, 1, 1);
    EXPECT_TRUE(ctx->vardex_locked);
    EXPECT_FALSE(ctx->anim_armed);
    fake.run_for(6000);
    EXPECT_EQ(count_seen(proto::WM_IdleOff), 0);
}

TEST_F(States, ANotificationWithoutViewOnlyReassertsTheLockSixTimes) {
    locked_with(0, 0);
    send(proto::WM_ShowNotification, 0, 0);
    fake.run_for(500 * 10);
    EXPECT_EQ(count_seen(proto::WM_Locked), 6);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
}

TEST_F(States, BacklightOffReturnsEveryViewToNormal) {
    locked_with(0, 0);
    send(proto::WM_ShowNotification, 1, 0);
    fake.run_for(600);
    EXPECT_EQ(ctx->state, ScreenState::NotificationView);
    EXPECT_EQ(ctx->pending_action, 11);
    send(proto::WM_BACKLIGHT_OFF);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->pending_action, 0);
}

TEST_F(States, HideIncomingSetsAndClearsTheLockFlag) {
    locked_with(0, 0);
    send(proto::WM_HideIncoming, 0);
    EXPECT_FALSE(ctx->locked);
    send(proto::WM_HideIncoming, 1);
    EXPECT_TRUE(ctx->locked);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
