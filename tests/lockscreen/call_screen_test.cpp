// The call screens fed the service's messages over the fake: the caller screen's slider, buttons
// and keys, call waiting, unknown callers, the end of a call with and without the lock, the
// busy-SMS question, the phone's own windows hidden, and the in-call and last-call lines.
#include <fstream>
#include <iterator>

#include "lock_fixture.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

// Contacts whose pictures are files of the staged theme.
class Pictures final : public gfx::ContactPictures {
public:
    std::optional<std::vector<std::uint8_t>> picture(std::u16string_view key, int kind) override {
        asked.emplace_back(key);
        if (kind != 1 || key != number) return std::nullopt;
        std::ifstream in(file, std::ios::binary);
        return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
    }
    std::u16string number;
    std::filesystem::path file;
    std::vector<std::u16string> asked;
};

class CallScreen : public LockFixture {
protected:
    void SetUp() override { set_byte(u"CallerID", 1); }

    void started(bool locked = true) {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        ctx->contacts = &pictures;
        if (locked) {
            lock_now();
            ASSERT_TRUE(ctx->locked);
        }
        seen.clear();
    }
    // What the service writes before it posts WM_RunCaller.
    void mailbox(std::u16string_view name, std::u16string_view number) {
        auto key = catalogue::open_root(fake.registry());
        catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingName, name);
        catalogue::write_text(fake.registry(), key->key, proto::mailbox::kIncomingNumber, number);
    }
    void ring(std::uint32_t caller_state, std::u16string_view name = u"Ada Lovelace",
              std::u16string_view number = u"5550101") {
        mailbox(name, number);
        send(proto::WM_RunCaller, service, caller_state);
    }
    int u(int n) { return gfx::ScaleUnit(ctx->screen, n); }
    // The centre of button i: the answer/ignore pair, or the three call-waiting buttons.
    LParam button(int i) {
        auto& call = ctx->call;
        if (call.CallerState == 3) {
            int y = ctx->screen_height - u(50) * (i + 1) + u(25);
            return point(ctx->screen_width / 2, y);
        }
        int y = ctx->screen_height - call.bottom_height / 2;
        return point(i == 0 ? ctx->screen_width / 4 : ctx->screen_width * 3 / 4, y);
    }
    void tap(LParam at) {
        send(WM_LBUTTONDOWN, 1, at);
        send(WM_LBUTTONUP, 0, at);
    }
    // Drags the knob from where it is to x, in small steps.
    void drag_knob_to(int x) {
        auto& s = ctx->slider;
        int y = s.knob_top + ctx->knob.height / 2;
        int from = s.knob_pos + s.knob_width / 2;
        send(WM_LBUTTONDOWN, 1, point(from, y));
        int step = from < x ? u(10) : -u(10);
        for (int p = from; (step > 0 ? p < x : p > x); p += step) {
            fake.run_for(20);
            send(WM_MOUSEMOVE, 1, point(p, y));
        }
        send(WM_MOUSEMOVE, 1, point(x, y));
        send(WM_LBUTTONUP, 0, point(x, y));
    }
    std::vector<WParam> phone_keys() {
        std::vector<WParam> keys;
        for (auto& s : service_seen())
            if (s.msg == proto::WM_PhoneKey) keys.push_back(s.w);
        return keys;
    }
    // A window of the phone application in another process.
    Hwnd phone_window(std::u16string_view cls, std::u16string_view title, std::uint32_t ex_style, Hwnd parent = 0) {
        auto scope = fake.as_process(91);
        fake.windows().register_class(cls, [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = std::u16string(cls);
        cp.title = std::u16string(title);
        cp.ex_style = ex_style;
        cp.parent = parent;
        cp.style = parent ? WS_CHILD : WS_POPUP;
        Hwnd h = fake.windows().create_window(cp);
        fake.windows().show_window(h, SW_SHOW);
        return h;
    }

    Pictures pictures;
};

TEST_F(CallScreen, ALockedPhoneShowsTheCallerAndSlidingRightAnswers) {
    set_byte(u"Slide2Answer", 1);
    started();
    ring(1);
    EXPECT_EQ(ctx->state, ScreenState::IncomingCall);
    EXPECT_TRUE(ctx->call.answer_slider);
    EXPECT_EQ(ctx->call.name, u"Ada Lovelace");
    EXPECT_EQ(ctx->call.number, u"5550101");
    EXPECT_FALSE(ctx->call.name_img.empty());
    EXPECT_FALSE(ctx->call.picture.empty());  // nopic.png: no contact picture
    EXPECT_TRUE(main_visible());
    EXPECT_TRUE(phone_keys().empty());
    drag_knob_to(ctx->slider.track_right + ctx->slider.knob_width);
    fake.run_until_idle();
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyAnswer});
    EXPECT_FALSE(ctx->slider.slide_locked);  // timer 1039 released it when it posted
}

TEST_F(CallScreen, AWindowMessageThatMovesNothingDoesNotDropTheSlideHalfWay) {
    set_byte(u"Slide2Answer", 1);
    started();
    ring(1);
    ASSERT_TRUE(ctx->call.answer_slider);
    auto& s = ctx->slider;
    const int y = s.knob_top + ctx->knob.height / 2;
    int x = s.knob_pos + s.knob_width / 2;
    send(WM_LBUTTONDOWN, 1, point(x, y));
    // The phone's windows hidden, the lock screen made full screen: its position is told again
    // while the finger is down.
    send(WM_WINDOWPOSCHANGED, 0, 0);
    for (; x < s.track_right + s.knob_width; x += u(10)) {
        fake.run_for(20);
        send(WM_MOUSEMOVE, 1, point(x, y));
        if (x > s.track_left + u(60) && x <= s.track_left + u(70)) send(WM_WINDOWPOSCHANGED, 0, 0);
    }
    send(WM_LBUTTONUP, 0, point(x, y));
    fake.run_until_idle();
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyAnswer});
}

TEST_F(CallScreen, WithSlideToEndTheKnobRestsInTheMiddleAndRightIgnores) {
    set_byte(u"Slide2Answer", 1);
    set_byte(u"Slide2End", 1);
    started();
    ring(1);
    ASSERT_TRUE(ctx->call.answer_slider);
    EXPECT_EQ(ctx->slider.knob_pos, ctx->slider.track_centre);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::AnswerEnd);
    drag_knob_to(ctx->slider.track_right + ctx->slider.knob_width);
    fake.run_until_idle();
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyReject});
}

TEST_F(CallScreen, WithSlideToEndLeftAnswers) {
    set_byte(u"Slide2Answer", 1);
    set_byte(u"Slide2End", 1);
    started();
    ring(1);
    drag_knob_to(ctx->slider.track_left);
    fake.run_until_idle();
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyAnswer});
}

TEST_F(CallScreen, TheTalkKeyAnswersOnlyWithoutTheSliderOrWithTheAnswerKeySetting) {
    set_byte(u"Slide2Answer", 1);
    started();
    ring(1);
    ASSERT_TRUE(ctx->call.answer_slider);
    send(WM_KEYDOWN, 0x72);
    send(WM_KEYUP, 0x72);
    EXPECT_TRUE(phone_keys().empty());
    // Unlocked with Slide2Answer 1: the buttons, and the talk key answers.
    send(proto::WM_EndCaller, 0);
    ring(2);
    ASSERT_FALSE(ctx->call.answer_slider);
    send(WM_KEYDOWN, 0x72);
    send(WM_KEYUP, 0x72);
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyAnswer});
}

TEST_F(CallScreen, ButtonsAnswerAndIgnoreOnlyWhenReleasedOnTheSameButton) {
    started(false);
    ring(2);
    ASSERT_FALSE(ctx->call.answer_slider);
    // Pressed on answer, released on ignore: nothing.
    send(WM_LBUTTONDOWN, 1, button(0));
    EXPECT_TRUE(ctx->call.AnswerPressed);
    send(WM_LBUTTONUP, 0, button(1));
    EXPECT_TRUE(phone_keys().empty());
    tap(button(1));
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyReject});
}

TEST_F(CallScreen, AnUnknownCallerShowsTheUnknownTextAndNeverOffersABusySms) {
    set_byte(u"SendBusySMS", 1);
    started(false);
    for (auto [number, shown] : {std::pair{u"unknown", u"unknown"}, std::pair{u"outofarea", u"Out of Area"}}) {
        ring(2, u"", number);
        EXPECT_EQ(ctx->call.number, shown);
        EXPECT_TRUE(ctx->call.NoNumber);
        EXPECT_TRUE(ctx->call.name_img.empty());
        tap(button(1));
        EXPECT_FALSE(ctx->call.BusySmsWanted) << platform::to_utf8(number);
        send(proto::WM_EndCaller, 0);
    }
    fake.run_for(2000);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    // The contact store is not asked about a number that is none.
    EXPECT_TRUE(pictures.asked.empty());
}

TEST_F(CallScreen, RejectedWhileUnlockedTheBusySmsQuestionComesOverTheProgramAndSendsTheMessage) {
    set_byte(u"SendBusySMS", 1);
    fake.install_program(u"\\Windows\\tmail.exe");
    started(false);
    ring(2, u"Ada Lovelace", u"5550101");
    tap(button(1));
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyReject});
    EXPECT_TRUE(ctx->call.BusySmsWanted);
    send(proto::WM_EndCaller, 0);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_FALSE(main_visible());
    EXPECT_GE(count_seen(proto::WM_UnhideTaskBar), 1);
    fake.run_for(1400);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    fake.run_for(200);
    ASSERT_EQ(ctx->state, ScreenState::BusySmsPromptOverApp);
    EXPECT_TRUE(main_visible());
    // Send is the left button in the lower part of the centred box.
    int bx = (ctx->screen_width - ctx->call.ptbox.width) / 2;
    int by = (ctx->screen_height - ctx->call.ptbox.height) / 2;
    LParam send_at = point(bx + ctx->call.ptbox.width / 4,
                           by + ctx->call.ptbox.height - u(10) - ctx->call.ptbutton.height / 2);
    tap(send_at);
    fake.run_until_idle();
    auto launches = fake.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().path, u"\\Windows\\tmail.exe");
    EXPECT_EQ(launches.back().arguments,
              u"-service \"SMS\" -to \"5550101\" -body \"I'm busy right now. I'll call you back later.\"");
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_FALSE(main_visible());
}

TEST_F(CallScreen, TheBusySmsQuestionStaysAwayWhenThePhoneRingsAgain) {
    set_byte(u"SendBusySMS", 1);
    started(false);
    ring(2);
    tap(button(1));
    send(proto::WM_EndCaller, 0);
    fake.registry().create_key(Root::LocalMachine, u"System\\State\\Phone");
    fake.registry().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status", 0x10000);
    fake.run_for(2000);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
}

TEST_F(CallScreen, RejectedWhileLockedTheQuestionComesOverTheLockScreenAfterTheLockEntry) {
    set_byte(u"SendBusySMS", 1);
    set_byte(u"Slide2Answer", 0);
    started();
    ring(1);
    tap(button(1));
    seen.clear();
    send(proto::WM_EndCaller, 1);
    EXPECT_EQ(ctx->state, ScreenState::BusySmsPrompt);
    EXPECT_TRUE(main_visible());
    fake.run_until_idle();
    EXPECT_EQ(count_seen(proto::WM_Locked), 1);
    EXPECT_TRUE(ctx->locked);
    // Cancel: back to the lock screen, still locked.
    int bx = (ctx->screen_width - ctx->call.ptbox.width) / 2;
    int by = (ctx->screen_height - ctx->call.ptbox.height) / 2;
    tap(point(bx + ctx->call.ptbox.width * 3 / 4, by + ctx->call.ptbox.height - u(10) - ctx->call.ptbutton.height / 2));
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
}

TEST_F(CallScreen, TheBusySmsQuestionOverTheLockScreenFadesOutAfterCancel) {
    set_byte(u"SendBusySMS", 1);
    set_byte(u"Slide2Answer", 0);
    started();
    ring(1);
    tap(button(1));
    send(proto::WM_EndCaller, 1);
    ASSERT_EQ(ctx->state, ScreenState::BusySmsPrompt);
    fake.run_for(1000);
    ASSERT_EQ(ctx->call.prompt_alpha, 32);
    const auto& scr = ctx->screen;
    int bx = (ctx->screen_width - ctx->call.ptbox.width) / 2;
    int by = (ctx->screen_height - ctx->call.ptbox.height) / 2;
    const int px = bx + ctx->call.ptbox.width / 2, py = by + ctx->call.ptbox.height / 2;
    auto box_pixel = [&, x = px, y = py] {
        return scr.back_buffer[std::size_t(scr.origin + y * (scr.ystep / 2) + x * (scr.xstep / 2))];
    };
    const auto shown = box_pixel();
    tap(point(bx + ctx->call.ptbox.width * 3 / 4, by + ctx->call.ptbox.height - u(10) - ctx->call.ptbutton.height / 2));
    ASSERT_EQ(ctx->state, ScreenState::Normal);
    // Alpha falls 6 a frame: the box is still there, fainter, for the next few frames.
    std::vector<int> alphas;
    for (int i = 0; i < 12 && ctx->call.prompt_alpha > 0; ++i) {
        fake.run_for(kAnimPeriodMs);
        alphas.push_back(ctx->call.prompt_alpha);
    }
    ASSERT_GE(alphas.size(), 4u);
    for (std::size_t i = 1; i < alphas.size(); ++i) EXPECT_LT(alphas[i], alphas[i - 1]);
    EXPECT_EQ(alphas.back(), 0);
    EXPECT_TRUE(ctx->call.ptbox.empty());
    fake.run_for(200);
    // Gone from the picture.
    EXPECT_NE(box_pixel(), shown);
}

TEST_F(CallScreen, TheQuestionOverAProgramEndsAfterItsTimeAndGivesTheProgramBackWithoutATrace) {
    set_byte(u"SendBusySMS", 1);
    Hwnd program = 0;
    {
        auto scope = fake.as_process(91);
        fake.windows().register_class(u"IExplore", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"IExplore";
        program = fake.windows().create_window(cp);
    }
    started(false);
    fake.windows().show_window(program, SW_SHOW);
    ring(2, u"Ada Lovelace", u"5550101");
    tap(button(1));
    send(proto::WM_EndCaller, 0);
    fake.windows().set_foreground_window(program);
    fake.run_for(1600);
    ASSERT_EQ(ctx->state, ScreenState::BusySmsPromptOverApp);
    EXPECT_EQ(ctx->call.RestoreWindow, program);
    fake.run_for(12000);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_FALSE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), program);
    EXPECT_EQ(ctx->call.prompt_alpha, 0);
    EXPECT_TRUE(ctx->call.prompt_text.empty());
}

TEST_F(CallScreen, CallWaitingShowsThreeButtonsAndNoSlider) {
    set_byte(u"Slide2Answer", 2);
    started();
    ring(3);
    EXPECT_FALSE(ctx->call.answer_slider);
    EXPECT_EQ(ctx->call.bottom_height, u(160));
    for (auto& face : ctx->call.wait_faces) EXPECT_FALSE(face.empty());
    tap(button(0));
    EXPECT_EQ(phone_keys(), std::vector<WParam>{proto::kPhoneKeyEnd});
    // The end key on call waiting is end-and-answer too; volume keys do not mute it.
    send(WM_KEYDOWN, 0x73);
    send(WM_KEYUP, 0x73);
    EXPECT_EQ(phone_keys(), (std::vector<WParam>{proto::kPhoneKeyEnd, proto::kPhoneKeyEnd}));
    tap(button(1));
    EXPECT_EQ(phone_keys().back(), proto::kPhoneKeyAnswer);
}

TEST_F(CallScreen, AVolumeKeyMutesTheRingThroughTheTaskBarsHotKey) {
    std::vector<Seen> bar_seen;
    {
        auto scope = fake.as_process(5);
        fake.windows().register_class(u"HHTaskBar", [&](Hwnd, std::uint32_t m, WParam w, LParam l) -> LResult {
            bar_seen.push_back({m, w, l});
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"HHTaskBar";
        fake.windows().create_window(cp);
    }
    started(false);
    ring(2);
    bar_seen.clear();
    send(WM_KEYDOWN, 0x75);
    send(WM_KEYUP, 0x75);
    std::vector<std::pair<WParam, LParam>> hot;
    for (auto& s : bar_seen)
        if (s.msg == 0x312) hot.emplace_back(s.w, s.l);
    EXPECT_EQ(hot, (std::vector<std::pair<WParam, LParam>>{{2, 0x750000}, {2, 0x751000}}));
    EXPECT_TRUE(phone_keys().empty());
}

TEST_F(CallScreen, ThePhonesOwnTopmostWindowsAreHiddenWhileItRings) {
    started();
    Hwnd incoming = phone_window(u"Dialog", u"Phone - Incoming...", WS_EX_TOPMOST);
    Hwnd sip = phone_window(u"MS_SIPBUTTON", u"", WS_EX_TOPMOST);
    Hwnd plain = phone_window(u"menu_worker", u"", 0);
    ring(1);
    auto visible = [&](Hwnd h) { return fake.windows().window_info(h)->visible; };
    EXPECT_FALSE(visible(incoming));
    EXPECT_FALSE(visible(sip));
    EXPECT_TRUE(visible(plain));  // not topmost: not in the way
    // Shown again by the phone, hidden again by the next tick of the repeat timer.
    fake.windows().show_window(incoming, SW_SHOW);
    fake.run_for(200);
    EXPECT_FALSE(visible(incoming));
}

class ContactPicture : public CallScreen, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(ContactPicture, IsUsedInTheSizeOfTheLayout) {
    const std::uint8_t layout = GetParam();
    set_byte(u"CallerID", layout);
    pictures.number = u"5550101";
    for (auto& e : std::filesystem::directory_iterator(stage_dir() / "My Documents" / "My Pictures"))
        if (e.path().extension() == ".jpg" || e.path().extension() == ".png") {
            pictures.file = e.path();
            break;
        }
    ASSERT_TRUE(std::filesystem::is_regular_file(pictures.file));
    started();
    ring(1);
    ASSERT_FALSE(ctx->call.picture.empty());
    EXPECT_TRUE(ctx->call.HasPicture);
    EXPECT_EQ(pictures.asked.back(), u"5550101");
    const auto& pic = ctx->call.picture;
    if (layout == 1) {
        EXPECT_TRUE(pic.width == ctx->screen_width || pic.height == ctx->screen_height);
    }
    if (layout == 2) {
        EXPECT_EQ(std::max(pic.width, pic.height), u(60));
        EXPECT_GE(ctx->call.header_height, u(68));
    }
    if (layout == 3) {
        EXPECT_TRUE(pic.width == ctx->screen_width / 2 || pic.height == ctx->screen_height / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ContactPicture, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<std::uint8_t>& p) {
                             return "Layout" + std::to_string(int(p.param));
                         });

TEST_F(CallScreen, TheEndOfACallWhileLockedLocksAgainWithoutUnlocking) {
    set_byte(u"Slide2Answer", 1);
    started();
    ring(1);
    send(proto::WM_EndCaller, 1);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->call.CallerState, 0);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::Lock);
    EXPECT_TRUE(main_visible());
    fake.run_until_idle();
    EXPECT_EQ(count_seen(proto::WM_Locked), 1);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
    EXPECT_EQ(count_seen(proto::WM_UnhideTaskBar), 0);
    EXPECT_TRUE(ctx->locked);
}

TEST_F(CallScreen, TheOutgoingCallScreenReadsThePhoneAndItsRightEndDropsTheCall) {
    started();
    Hwnd dialog = phone_window(u"Dialog", u"Phone", 0);
    phone_window(u"MS_PHONE_CALLERIDINFO", u"Grace Hopper\r\n5550199", 0, dialog);
    send(proto::WM_RunCaller, dialog, 4);
    EXPECT_EQ(ctx->state, ScreenState::CallScreen);
    EXPECT_EQ(ctx->call.name, u"Grace Hopper");
    EXPECT_EQ(ctx->call.header, u"dialing 5550199");
    drag_knob_to(ctx->slider.track_right + ctx->slider.knob_width);
    EXPECT_EQ(count_seen(proto::WM_DropConnectedCall), 1);
    EXPECT_TRUE(ctx->slider.slide_pause);
    fake.run_for(600);
    EXPECT_FALSE(ctx->slider.slide_pause);
}

TEST_F(CallScreen, InCallAndLastCallLinesFollowThePhonesCallTime) {
    started();
    Hwnd dialog = phone_window(u"Dialog", u"Phone", 0);
    Hwnd elapsed = phone_window(u"MS_PHONE_ELAPSEDTIME", u"0:05", 0, dialog);
    fake.registry().create_key(Root::LocalMachine, u"System\\State\\Phone");
    fake.registry().set_string(Root::LocalMachine, u"System\\State\\Phone", u"Caller Name", u"Ada Lovelace");
    send(proto::WM_CHANGE_CALLERNAME, 0);
    EXPECT_TRUE(ctx->call.NameKnown);
    send(proto::WM_UpdateInCall, dialog);
    EXPECT_EQ(ctx->call.InCallLine, 2);
    EXPECT_FALSE(ctx->call.line_time.empty());
    int before = ctx->call.line_time.width;
    fake.windows().set_window_text(elapsed, u"10:00:05");
    fake.run_for(1000);
    EXPECT_GT(ctx->call.line_time.width, before);
    seen.clear();
    send(proto::WM_UpdateLastCall, dialog);
    EXPECT_EQ(ctx->call.InCallLine, 1);
    fake.run_for(4900);
    EXPECT_EQ(ctx->call.InCallLine, 1);
    fake.run_for(200);
    EXPECT_TRUE(ctx->call.line_fading);
    anim_ticks(20);
    EXPECT_EQ(ctx->call.InCallLine, 0);
}

TEST_F(CallScreen, NamesLongerThanTheMailboxAreCutAndDrawnWithinTheScreen) {
    started();
    std::u16string long_name(400, u'W');
    ring(1, long_name, u"5550101");
    EXPECT_EQ(ctx->call.name.size(), 260u);
    EXPECT_LE(ctx->call.name_img.width, ctx->screen_width);
}

TEST_F(CallScreen, CanonicalFormatPutsTheCountryCodeInFront) {
    set_byte(u"CanonicalFormat", 1);
    set_number(u"CanonicalPrefix", 49);
    started(false);
    struct Row {
        std::u16string_view in, out;
    };
    for (auto r : {Row{u"0301234567", u"+49 301234567"}, Row{u"00493012345", u"+49 3012345"},
                   Row{u"00441234567", u"+441234567"}, Row{u"5550101", u"+49 5550101"},
                   Row{u"+15550101", u"+15550101"}, Row{u"unknown", u"unknown"}})
        EXPECT_EQ(display_number(*ctx, r.in, nullptr), r.out) << platform::to_utf8(r.in);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
