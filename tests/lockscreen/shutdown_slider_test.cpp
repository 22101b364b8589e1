// The shutdown slider over the fake phone: opening over the lock screen or a program, the grey
// background and the curtain, the 20 s timeout and what restarts it, the cancel button, the
// slider's ends, the service's close and the incoming-call screen that keeps it away.
#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class Shutdown : public LockFixture {
protected:
    void started(bool locked) {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        if (locked) {
            lock_now();
            ASSERT_TRUE(ctx->locked);
        }
        seen.clear();
    }
    void open() {
        send(proto::WM_ShutDown, proto::kShutDownOpened, 0);
        ASSERT_EQ(ctx->state, ScreenState::ShutdownSlider);
    }
    bool shown() { return ctx->state == ScreenState::ShutdownSlider; }
    std::vector<WParam> shutdown_reports() {
        std::vector<WParam> out;
        for (auto& s : service_seen())
            if (s.msg == proto::WM_ShutDown) out.push_back(s.w);
        return out;
    }
    int u(int n) { return gfx::ScaleUnit(ctx->screen, n); }
    LParam cancel_point() {
        auto& sd = ctx->shutdown;
        return point(sd.cancel_x + sd.cancel_w / 2, sd.CancelTop + sd.cancel_h / 2);
    }
    void tap(LParam at) {
        send(WM_LBUTTONDOWN, 1, at);
        send(WM_LBUTTONUP, 0, at);
    }
    void drag_knob_to(int x) {
        auto& s = ctx->slider;
        int y = s.knob_top + ctx->knob.height / 2;
        int from = s.knob_pos + s.knob_width / 2;
        send(WM_LBUTTONDOWN, 1, point(from, y));
        int step = from < x ? u(10) : -u(10);
        for (int p = from; (step > 0 ? p < x : p > x) && shown(); p += step) {
            fake.run_for(20);
            send(WM_MOUSEMOVE, 1, point(p, y));
        }
        if (shown()) send(WM_MOUSEMOVE, 1, point(x, y));
        send(WM_LBUTTONUP, 0, point(x, y));
    }
    Hwnd other_program() {
        auto scope = fake.as_process(93);
        fake.windows().register_class(u"Other", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"Other";
        cp.title = u"Other";
        cp.style = WS_POPUP;
        Hwnd h = fake.windows().create_window(cp);
        fake.windows().show_window(h, SW_SHOW);
        fake.windows().set_foreground_window(h);
        fake.run_until_idle();
        return h;
    }
};

TEST_F(Shutdown, ItGreysTheScreenSlidesInAndReturnsAfterTwentySeconds) {
    started(true);
    anim_ticks(2);
    int shown_before = 0;
    for (int y = 0; y < ctx->screen_height; y += 3)
        for (int x = 0; x < ctx->screen_width; x += 3) shown_before += fake.display().seen(x, y) != 0;
    ASSERT_GT(shown_before, 0);
    int frames_before = ctx->frames_presented;
    std::uint32_t clock_before = frames.now;
    open();
    EXPECT_EQ(shutdown_reports(), std::vector<WParam>{proto::kShutDownOpened});
    // Six curtain frames, at least 60 ms apart.
    EXPECT_GE(ctx->frames_presented - frames_before, 6);
    EXPECT_GE(frames.now - clock_before, 5u * 60);
    EXPECT_EQ(ctx->shutdown.top_offset, 0);
    EXPECT_EQ(ctx->scene_alpha, 32);
    EXPECT_FALSE(ctx->slider.slide_locked) << "the slider takes input once it is in";
    // The background is the screen in grey: every pixel's three fields alike.
    const auto& bg = ctx->shutdown.background;
    ASSERT_EQ(bg.width, ctx->screen_width);
    ASSERT_EQ(bg.height, ctx->screen_height);
    int coloured = 0, lit = 0;
    for (int y = 0; y < bg.height; ++y)
        for (int x = 0; x < bg.width; ++x) {
            std::uint16_t p = bg.at(x, y);
            coloured += (p >> 11) != (p & 0x1F);
            lit += p != 0;
        }
    EXPECT_EQ(coloured, 0);
    EXPECT_GT(lit, 0) << "the lock screen shows through, darkened";
    // The power knob on the left, the slider at the top, the cancel button at the bottom.
    EXPECT_EQ(ctx->slider.knob_pos, ctx->slider.track_left);
    EXPECT_LT(ctx->slider.track_top, ctx->screen_height / 4);
    EXPECT_EQ(ctx->shutdown.CancelTop, ctx->screen_height - u(47));
    fake.run_for(19900);
    EXPECT_TRUE(shown());
    fake.run_for(200);
    EXPECT_FALSE(shown());
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(shutdown_reports(), (std::vector<WParam>{proto::kShutDownOpened, proto::kShutDownClosed}));
    // Back on the lock screen, with its own knob on its own track.
    EXPECT_TRUE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    EXPECT_EQ(ctx->slider.track_top, ctx->slider.bar_top + (u(60) - ctx->track.height) / 2);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::Lock);
    EXPECT_FALSE(ctx->shutdown.knob_swapped);
}

TEST_F(Shutdown, ATouchOutsideCancelRestartsTheTwentySeconds) {
    started(true);
    open();
    fake.run_for(15000);
    tap(point(ctx->screen_width / 2, ctx->screen_height / 2));
    fake.run_for(15000);
    EXPECT_TRUE(shown());
    fake.run_for(5100);
    EXPECT_FALSE(shown());
}

TEST_F(Shutdown, CancelClosesOnlyWhenReleasedOnTheButton) {
    started(true);
    open();
    send(WM_LBUTTONDOWN, 1, cancel_point());
    EXPECT_TRUE(ctx->shutdown.CancelPressed);
    send(WM_MOUSEMOVE, 1, point(ctx->screen_width / 2, ctx->screen_height / 2));
    send(WM_LBUTTONUP, 0, point(ctx->screen_width / 2, ctx->screen_height / 2));
    fake.run_for(1000);
    EXPECT_TRUE(shown());
    EXPECT_FALSE(ctx->shutdown.CancelPressed);
    int frames_before = ctx->frames_presented;
    tap(cancel_point());
    fake.run_until_idle();
    EXPECT_FALSE(shown());
    EXPECT_GE(ctx->frames_presented - frames_before, 6) << "the closing curtain";
}

TEST_F(Shutdown, SlidingToTheEndAsksTheServiceToSwitchTheDeviceOff) {
    started(true);
    open();
    drag_knob_to(ctx->slider.track_right + ctx->slider.knob_width);
    int asked = 0;
    for (auto& s : service_seen()) asked += s.msg == proto::WM_DeviceShutDown;
    EXPECT_EQ(asked, 1);
    // This stand-in service leaves the phone on: the screen is given back rather than left
    // black and deaf.
    EXPECT_FALSE(shown());
    EXPECT_NE(log_text().find("Shut Down did not switch the phone off"), std::string::npos);
    EXPECT_FALSE(ctx->slider.slide_locked);
    EXPECT_FALSE(ctx->screen.suspended);
}

TEST_F(Shutdown, TheLeftEndPowersOffOnlyWithTheCentreSlider) {
    started(true);
    open();
    auto& s = ctx->slider;
    // The left-rest knob cannot go further left: nothing happens.
    drag_knob_to(s.track_left - u(40));
    EXPECT_TRUE(shown());
    send(proto::WM_ShutDown, proto::kShutDownClosed, 0);

    set_byte(u"SliderPosition", 1);
    load_settings(*ctx);
    open();
    EXPECT_EQ(s.knob_pos, s.track_centre);
    drag_knob_to(s.track_left - u(40));
    int asked = 0;
    for (auto& m : service_seen()) asked += m.msg == proto::WM_DeviceShutDown;
    EXPECT_EQ(asked, 1);
}

TEST_F(Shutdown, TheServiceClosesItAtOnceAndLosingTheFrontClosesIt) {
    started(true);
    open();
    int frames_before = ctx->frames_presented;
    send(proto::WM_ShutDown, proto::kShutDownClosed, 0);
    EXPECT_FALSE(shown());
    EXPECT_LT(ctx->frames_presented - frames_before, 6) << "no closing curtain";

    Hwnd other = other_program();
    open();
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    fake.run_for(2500);  // past the two seconds it holds the front
    fake.windows().set_foreground_window(other);
    fake.run_until_idle();
    EXPECT_FALSE(shown());
}

TEST_F(Shutdown, OverAProgramItReturnsToThatProgram) {
    started(false);
    Hwnd other = other_program();
    open();
    EXPECT_TRUE(main_visible());
    fake.run_for(20100);
    EXPECT_FALSE(shown());
    EXPECT_FALSE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), other);
}

TEST_F(Shutdown, NeverOverTheIncomingCallScreen) {
    set_byte(u"CallerID", 1);
    started(true);
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingName, u"Ada");
    catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingNumber, u"5550101");
    send(proto::WM_RunCaller, service, 1);
    ASSERT_EQ(ctx->state, ScreenState::IncomingCall);
    send(proto::WM_ShutDown, proto::kShutDownOpened, 0);
    EXPECT_EQ(ctx->state, ScreenState::IncomingCall);
    EXPECT_TRUE(shutdown_reports().empty());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
