// The slider through the window procedure: grab, follow, the jump guard, release, snap back,
// fling, keys, and the unlock at the right end.
#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class Slider : public LockFixture {
protected:
    void start_locked(std::uint8_t inertia) {
        set_byte(u"SliderInertia", inertia);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        seen.clear();
    }
    SliderState& s() { return ctx->slider; }
    int knob_centre_x() { return s().knob_pos + s().knob_width / 2; }
    int knob_y() { return s().knob_top + ctx->knob.height / 2; }
    void down(int x, int y) { send(WM_LBUTTONDOWN, 1, point(x, y)); }
    void move(int x, int y, int after_ms) {
        fake.advance(after_ms);
        send(WM_MOUSEMOVE, 1, point(x, y));
    }
    void up(int x, int y, int after_ms) {
        fake.advance(after_ms);
        send(WM_LBUTTONUP, 0, point(x, y));
    }
};

TEST_F(Slider, GeometryFollowsTheScreenAndTheKnobPicture) {
    start_locked(0);
    // 480 wide at 192 dpi: units are doubled; the knob picture holds two 96-pixel frames.
    EXPECT_EQ(s().knob_width, 96);
    EXPECT_EQ(s().track_left, 240 - 200);
    EXPECT_EQ(s().track_right, 40 + 304);
    EXPECT_EQ(s().track_centre, 240 - 48);
    EXPECT_EQ(s().bar_top, 800 - 120);
    EXPECT_EQ(s().knob_pos, s().track_left);
}

// With an opaque curtain the bar is black to the screen's last column and row; the track, its
// texts and the knob stay clear of both.
TEST_F(Slider, TheBottomBarDarkensTheWholeBandToTheEdges) {
    set_byte(u"CurtainAlpha", 32);
    start_locked(0);
    anim_ticks(2);
    auto& d = fake.display();
    const int w = 480, h = 800;
    int lit_right = 0, lit_bottom = 0, lit_left = 0;
    for (int y = s().bar_top; y < h; ++y) {
        lit_right += d.seen(w - 1, y) != 0;
        lit_left += d.seen(0, y) != 0;
    }
    for (int x = 0; x < w; ++x) lit_bottom += d.seen(x, h - 1) != 0;
    EXPECT_EQ(lit_left, 0);
    EXPECT_EQ(lit_right, 0) << "the right column of the bar is not darkened";
    EXPECT_EQ(lit_bottom, 0) << "the bottom row of the bar is not darkened";
    // Just above the bar the wallpaper shows.
    EXPECT_NE(d.seen(w - 1, s().bar_top - 1), 0);
}

TEST_F(Slider, WithoutInertiaTheReleasedKnobSnapsBackThirtyTwoUnitsPerTick) {
    start_locked(0);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    ASSERT_TRUE(s().dragging);
    for (int i = 1; i <= 5; ++i) move(x + 40 * i, y, 20);
    EXPECT_EQ(s().knob_pos, s().track_left + 200);
    up(x + 200, y, 10);
    EXPECT_FALSE(s().dragging);
    EXPECT_EQ(s().fling_distance, 0);
    const int expected[] = {136, 72, 8, 0};  // 64 pixels (32 units) per 66 ms, stopping on the end
    for (int e : expected) {
        anim_ticks(1);
        EXPECT_EQ(s().knob_pos - s().track_left, e);
    }
    anim_ticks(3);
    EXPECT_EQ(s().knob_pos, s().track_left);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
}

TEST_F(Slider, SlowOrLateReleasesNeverFling) {
    start_locked(10);
    int x = knob_centre_x(), y = knob_y();
    // Slow: 5 pixels per 100 ms is 50 pixels per second.
    down(x, y);
    move(x + 5, y, 100);
    move(x + 10, y, 100);
    up(x + 10, y, 10);
    EXPECT_EQ(s().fling_distance, 0);
    EXPECT_EQ(s().fling_time, 0u);
    anim_ticks(3);
    EXPECT_EQ(s().knob_pos, s().track_left);
    // Fast moves, but the finger rests 200 ms before it lifts.
    down(knob_centre_x(), y);
    move(x + 30, y, 10);
    move(x + 60, y, 10);
    up(x + 60, y, 200);
    EXPECT_EQ(s().fling_distance, 0);
}

TEST_F(Slider, AFastReleaseFlingsTheKnobOnWithDecay) {
    start_locked(5);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    move(x + 20, y, 20);
    move(x + 40, y, 20);  // 1000 pixels per second to the right
    up(x + 40, y, 5);
    ASSERT_NE(s().fling_distance, 0);
    int before = s().knob_pos;
    anim_ticks(1);
    // step = trunc(5 × 100 × -40 / 40) = -500: beyond the jump guard, so the fling is dropped.
    EXPECT_EQ(s().knob_pos, before);
    EXPECT_EQ(s().fling_distance, 0);

    // A gentler throw: 12 pixels over 40 ms with inertia 1 gives steps of 30, 9, 2 pixels.
    ctx->settings.set_num(catalogue::Id::SliderInertia, 1);
    anim_ticks(10);
    down(knob_centre_x(), y);
    int gx = knob_centre_x();
    move(gx + 6, y, 20);
    move(gx + 12, y, 20);
    up(gx + 12, y, 5);
    int start_pos = s().knob_pos;
    anim_ticks(1);
    EXPECT_EQ(s().knob_pos - start_pos, 30);
    anim_ticks(1);
    EXPECT_EQ(s().knob_pos - start_pos, 39);
    anim_ticks(1);
    EXPECT_EQ(s().knob_pos - start_pos, 41);
}

TEST_F(Slider, AJumpFurtherThanTheTrackCancelsTheDragWithoutAction) {
    start_locked(0);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    move(x + 20, y, 20);
    int pos = s().knob_pos;
    move(x + 320, y, 20);  // 300 pixels in one move: more than the guard's 280
    EXPECT_FALSE(s().dragging);
    EXPECT_EQ(s().knob_pos, pos);
    move(x + 400, y, 20);
    EXPECT_EQ(s().knob_pos, pos) << "the cancelled drag must not follow the finger";
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
}

TEST_F(Slider, AFingerHighAboveTheTrackFreezesTheKnobUntilItComesBack) {
    start_locked(0);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    move(x + 50, y, 20);
    int pos = s().knob_pos;
    move(x + 100, s().track_top - ctx->knob.height - 10, 20);
    EXPECT_EQ(s().knob_pos, pos);
    EXPECT_TRUE(s().dragging);
    move(x + 100, y + 60, 20);  // below the track is fine
    EXPECT_EQ(s().knob_pos, s().track_left + 100);
}

TEST_F(Slider, APressBesideTheKnobDoesNotGrabIt) {
    start_locked(0);
    down(s().track_right, knob_y());
    EXPECT_FALSE(s().dragging);
    down(knob_centre_x(), s().knob_top - ctx->knob.height);
    EXPECT_FALSE(s().dragging);
}

TEST_F(Slider, SlidingToTheRightEndUnlocks) {
    start_locked(0);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    for (int dx = 50; dx <= 350; dx += 50) move(x + dx, y, 15);
    EXPECT_FALSE(ctx->locked);
    EXPECT_FALSE(main_visible());
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(read_last_lock_time(*ctx), 0u);
    EXPECT_EQ(s().knob_pos, s().track_left) << "the slider is reset for the next lock";
}

TEST_F(Slider, KeysDriveTheKnobWhenTheDpadIsOn) {
    set_byte(u"DpadOn", 1);
    start_locked(0);
    send(WM_KEYDOWN, 39, 0);
    anim_ticks(2);
    EXPECT_EQ(s().knob_pos, s().track_left + 96);  // 24 units per tick
    send(WM_KEYUP, 39, 0);
    anim_ticks(1);
    EXPECT_EQ(s().knob_pos, s().track_left + 32);  // snapping back
    send(WM_KEYDOWN, 39, 0);
    anim_ticks(7);
    EXPECT_FALSE(ctx->locked);
}

TEST_F(Slider, WithTheCentreSliderEitherEndUnlocks) {
    set_byte(u"SliderPosition", 1);
    start_locked(0);
    EXPECT_EQ(s().knob_pos, s().track_centre);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    for (int dx = 40; dx <= 200; dx += 40) move(x - dx, y, 15);
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
}

TEST_F(Slider, TheTextFadesOutWithinSixteenUnits) {
    start_locked(0);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    move(x + 8, y, 20);  // 4 units
    anim_ticks(1);
    EXPECT_EQ(s().text_alpha, 24);
    move(x + 32, y, 20);  // 16 units: 2d = 32 > 30
    anim_ticks(1);
    EXPECT_EQ(s().text_alpha, 0);
}

class DismissView : public Slider {
protected:
    void open_reminder(std::uint8_t auto_dismiss) {
        set_byte(u"LockNotification", 1);  // the view options count only with it
        set_byte(u"Slide2Dismiss", 1);
        set_byte(u"AutoDismissNotification", auto_dismiss);
        start_locked(0);
        send(proto::WM_ShowNotification, 1, 0);
        fake.run_for(600);
        ASSERT_EQ(ctx->state, ScreenState::NotificationView);
        ASSERT_TRUE(s().dismiss_view_mode);
        seen.clear();
    }
};

TEST_F(DismissView, TheKnobRestsInTheCentreWithDismissAndViewTexts) {
    open_reminder(1);
    EXPECT_EQ(s().knob_pos, s().track_centre);
    EXPECT_EQ(ctx->slider_left_text, u"dismiss");
    EXPECT_EQ(ctx->slider_right_text, u"view");
    EXPECT_FALSE(ctx->slider_text[0].empty());
}

TEST_F(DismissView, WithoutAutoDismissTheLeftEndOnlyCancels) {
    open_reminder(0);
    EXPECT_EQ(ctx->slider_left_text, u"cancel");
}

TEST_F(DismissView, TheLeftEndDismissesAndStaysLocked) {
    open_reminder(1);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    for (int dx = 40; dx <= 200; dx += 40) move(x - dx, y, 15);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->pending_action, 0);
    EXPECT_FALSE(s().dismiss_view_mode);
    EXPECT_EQ(ctx->slider_right_text, u"slide to unlock");
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
    up(x - 200, y, 10);
    anim_ticks(8);
    EXPECT_EQ(s().knob_pos, s().track_left);
}

TEST_F(DismissView, TheRightEndUnlocksAndOpensTheItem) {
    open_reminder(1);
    int x = knob_centre_x(), y = knob_y();
    down(x, y);
    for (int dx = 40; dx <= 200; dx += 40) move(x + dx, y, 15);
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(ctx->pending_action, 0) << "opened and cleared";
    EXPECT_EQ(ctx->state, ScreenState::Normal);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
