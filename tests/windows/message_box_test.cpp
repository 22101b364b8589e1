// Modal message boxes: the "Dialog" window while open, the caller's timers meanwhile, and how
// the box is answered.
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class MessageBox : public WindowSuite {
protected:
    // Runs `on_tick` on each tick of a 10 ms timer of a visible window while a box is shown.
    int show_box(std::uint32_t flags, std::function<void(int tick)> on_tick) {
        Hwnd a = make("A", WS_VISIBLE);
        EXPECT_TRUE(w().set_timer(a, 1, 10));
        int tick = 0;
        rec.handler = [&, on_tick](Hwnd, std::uint32_t msg, WParam, LParam) -> std::optional<LResult> {
            if (msg != WM_TIMER) return std::nullopt;
            on_tick(++tick);
            return 0;
        };
        int answer = w().message_box(a, u"Really lock?", u"Question", flags);
        rec.handler = nullptr;
        w().kill_timer(a, 1);
        ticks = tick;
        return answer;
    }
    int ticks = 0;
};

TEST_P(MessageBox, DialogWindowIsThereWhileTheBoxIsOpenAndTimersKeepFiring) {
    Hwnd box = 0;
    int answer = show_box(MB_YESNO | MB_ICONQUESTION, [&](int tick) {
        if (tick == 1) {
            box = w().find_window(u"dialog", u"question");
            ASSERT_NE(box, 0u);
            auto info = w().window_info(box);
            EXPECT_EQ(info->class_name, u"Dialog");
            EXPECT_EQ(info->title, u"Question");
            EXPECT_TRUE(info->visible);
            EXPECT_NE(info->ex_style & WS_EX_TOPMOST, 0u);
            EXPECT_EQ(info->process_id, h->processes().own_id());
            EXPECT_EQ(w().foreground_window(), box);
        }
        if (tick == 3) {
            EXPECT_TRUE(h->press_dialog(IDNO));
        }
    });
    EXPECT_EQ(answer, IDNO);
    EXPECT_GE(ticks, 3);
    EXPECT_FALSE(w().is_window(box));
    EXPECT_EQ(w().find_window(u"Dialog", std::nullopt), 0u);
    // The box's window is gone and the caller's window is in front again.
    EXPECT_EQ(foreground(), "A");
}

TEST_P(MessageBox, ButtonsTheBoxDoesNotHaveAreRefused) {
    int answer = show_box(MB_OKCANCEL, [&](int tick) {
        if (tick != 1) return;
        EXPECT_FALSE(h->press_dialog(IDYES));
        EXPECT_FALSE(h->press_dialog(IDRETRY));
        EXPECT_TRUE(h->press_dialog(IDCANCEL));
    });
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_FALSE(h->press_dialog(IDOK));  // nothing is open any more
}

TEST_P(MessageBox, ClosingTheBoxAnswersWithItsCancelButton) {
    struct Case {
        std::uint32_t flags;
        int answer;
    };
    const Case cases[]{
        {MB_OK, IDOK},
        {MB_OKCANCEL, IDCANCEL},
        {MB_ABORTRETRYIGNORE, IDCANCEL},
        {MB_YESNOCANCEL, IDCANCEL},
        {MB_YESNO, IDNO},
        {MB_RETRYCANCEL, IDCANCEL},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.flags);
        int answer = show_box(c.flags, [&](int tick) {
            if (tick == 1) {
                EXPECT_TRUE(w().post(w().find_window(u"Dialog", u"Question"), WM_CLOSE, 0, 0));
            }
        });
        EXPECT_EQ(answer, c.answer);
        w().destroy_window(rec.hwnd_of("A"));
    }
}

TEST_P(MessageBox, SentCloseAnswersToo) {
    int answer = show_box(MB_YESNOCANCEL | MB_DEFBUTTON2, [&](int tick) {
        if (tick == 2) w().send(w().find_window(u"Dialog", std::nullopt), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(answer, IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(Impls, MessageBox, testing::Values(Impl::Fake, Impl::Device), impl_name);

}  // namespace
}  // namespace lumo::test
