// Posting, sending, the message loop and timers.
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class MessageLoop : public WindowSuite {
protected:
    // Takes messages with peek until none is left, dispatching nothing.
    std::vector<std::string> drain() {
        std::vector<std::string> out;
        Message m;
        while (w().peek_message(m, true))
            out.push_back(rec.role_of(m.hwnd) + " " + message_name(m.message) + "(" +
                          std::to_string(m.wparam) + ", " + std::to_string(m.lparam) + ")");
        return out;
    }
    // The timers recorded since the last call, as "A:id".
    std::vector<std::string> fired() {
        std::vector<std::string> out;
        for (auto& line : rec.take()) {
            auto at = line.find(" WM_TIMER(");
            if (at == std::string::npos) continue;
            auto id = line.substr(at + 10, line.find(',', at) - at - 10);
            out.push_back(line.substr(0, at) + ":" + id);
        }
        return out;
    }
};

TEST_P(MessageLoop, PostsArriveInTheOrderTheyWerePosted) {
    Hwnd a = make("A");
    Hwnd b = make("B");
    rec.clear();
    EXPECT_TRUE(w().post(a, WM_USER + 1, 1, -1));
    EXPECT_TRUE(w().post(b, WM_USER + 2, 2, 0));
    EXPECT_TRUE(w().post(a, WM_USER + 3, 3, 0x7FFFFFFF));
    EXPECT_TRUE(w().post(b, WM_USER + 1, 4, 0));
    // Nothing runs before the loop takes them.
    EXPECT_TRUE(rec.take().empty());

    std::vector<Row> expected{
        {"A", WM_USER + 1, 1, -1},
        {"B", WM_USER + 2, 2, 0},
        {"A", WM_USER + 3, 3, 0x7FFFFFFF},
        {"B", WM_USER + 1, 4, 0},
    };
    Message m;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(w().get_message(m));
        w().dispatch(m);
    }
    EXPECT_EQ(rec.take(), rec.render(expected));
}

TEST_P(MessageLoop, SendRunsTheProcedureAndReturnsItsResult) {
    Hwnd a = make("A");
    rec.handler = [](Hwnd, std::uint32_t msg, WParam wparam, LParam) -> std::optional<LResult> {
        if (msg == WM_USER + 7) return LResult(wparam * 2);
        return std::nullopt;
    };
    rec.clear();
    EXPECT_EQ(w().send(a, WM_USER + 7, 21, 0), std::optional<LResult>(42));
    EXPECT_EQ(w().send(a, WM_USER + 7, 5, 0, 1000), std::optional<LResult>(10));
    // A sent message is handled before send returns, not queued.
    EXPECT_EQ(rec.take(), rec.render({{"A", WM_USER + 7, 21, 0}, {"A", WM_USER + 7, 5, 0}}));
    EXPECT_TRUE(drain().empty());
}

TEST_P(MessageLoop, QuitEndsTheLoopAfterWhatWasPostedBeforeIt) {
    Hwnd a = make("A");
    w().post(a, WM_USER, 1, 0);
    w().post_quit(3);
    Message m;
    ASSERT_TRUE(w().get_message(m));
    EXPECT_EQ(m.message, WM_USER);
    EXPECT_FALSE(w().get_message(m));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wparam, 3u);
}

TEST_P(MessageLoop, PeekWithoutRemovingLeavesTheMessage) {
    Hwnd a = make("A");
    Message m;
    EXPECT_FALSE(w().peek_message(m, false));
    w().post(a, WM_USER + 9, 0, 0);
    ASSERT_TRUE(w().peek_message(m, false));
    EXPECT_EQ(m.message, WM_USER + 9);
    ASSERT_TRUE(w().peek_message(m, true));
    EXPECT_EQ(m.message, WM_USER + 9);
    EXPECT_FALSE(w().peek_message(m, true));
}

TEST_P(MessageLoop, TimersFireInTheOrderTheyFallDue) {
    Hwnd a = make("A");
    Hwnd b = make("B");
    rec.clear();
    ASSERT_TRUE(w().set_timer(a, 1030, 30));
    ASSERT_TRUE(w().set_timer(b, 1010, 10));
    ASSERT_TRUE(w().set_timer(a, 1020, 20));
    h->let_time_pass(35);
    h->pump();
    EXPECT_EQ(fired(), (std::vector<std::string>{"B:1010", "A:1020", "A:1030"}));
}

TEST_P(MessageLoop, PeriodicTimerHasAtMostOnePendingTick) {
    Hwnd a = make("A");
    rec.clear();
    ASSERT_TRUE(w().set_timer(a, 1, 10));
    h->let_time_pass(55);  // five periods, nobody taking them
    h->pump();
    EXPECT_EQ(fired(), (std::vector<std::string>{"A:1"}));
    h->let_time_pass(12);
    h->pump();
    EXPECT_EQ(fired(), (std::vector<std::string>{"A:1"}));
}

TEST_P(MessageLoop, RearmingReplacesTheTimer) {
    Hwnd a = make("A");
    rec.clear();
    ASSERT_TRUE(w().set_timer(a, 1, 100));
    h->let_time_pass(60);
    h->pump();
    ASSERT_TRUE(w().set_timer(a, 1, 100));  // counted again from now
    h->let_time_pass(60);
    h->pump();
    EXPECT_TRUE(fired().empty());
    h->let_time_pass(50);
    h->pump();
    EXPECT_EQ(fired(), (std::vector<std::string>{"A:1"}));
}

TEST_P(MessageLoop, ZeroTimerFiresOnTheNextPass) {
    Hwnd a = make("A");
    ASSERT_TRUE(w().set_timer(a, 2, 0));
    Message m;
    ASSERT_TRUE(w().get_message(m));
    EXPECT_EQ(m, (Message{a, WM_TIMER, 2, 0}));
    EXPECT_TRUE(w().kill_timer(a, 2));
}

TEST_P(MessageLoop, PostedMessagesGoBeforeTimers) {
    Hwnd a = make("A");
    ASSERT_TRUE(w().set_timer(a, 5, 0));
    w().post(a, WM_USER, 0, 0);
    Message m;
    ASSERT_TRUE(w().get_message(m));
    EXPECT_EQ(m.message, WM_USER);
    ASSERT_TRUE(w().get_message(m));
    EXPECT_EQ(m.message, WM_TIMER);
    w().kill_timer(a, 5);
}

TEST_P(MessageLoop, KilledTimerNeverFires) {
    Hwnd a = make("A");
    rec.clear();
    ASSERT_TRUE(w().set_timer(a, 1, 10));
    ASSERT_TRUE(w().set_timer(a, 2, 500));
    h->let_time_pass(20);  // timer 1 is due, not yet taken
    EXPECT_TRUE(w().kill_timer(a, 1));
    EXPECT_TRUE(w().kill_timer(a, 2));  // not yet due
    EXPECT_FALSE(w().kill_timer(a, 2));
    h->let_time_pass(600);
    h->pump();
    EXPECT_TRUE(fired().empty());
    EXPECT_TRUE(drain().empty());
}

TEST_P(MessageLoop, DestroyingAWindowKillsItsTimers) {
    Hwnd a = make("A");
    ASSERT_TRUE(w().set_timer(a, 1, 10));
    w().destroy_window(a);
    h->let_time_pass(20);
    EXPECT_TRUE(drain().empty());
    EXPECT_FALSE(w().kill_timer(a, 1));
}

TEST_P(MessageLoop, TimersOnlyOnTheProgramsOwnWindows) {
    Hwnd theirs = 0;
    h->as_second([&] {
        ASSERT_TRUE(w().register_class(u"Theirs", rec.proc(w())));
        theirs = w().create_window({u"Theirs", u"", 0, 0, {}, 0});
        EXPECT_TRUE(w().set_timer(theirs, 1, 1000));
    });
    ASSERT_NE(theirs, 0u);
    EXPECT_FALSE(w().set_timer(theirs, 2, 10));
    // Posting to another program's window is fine.
    EXPECT_TRUE(w().post(theirs, WM_USER, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Impls, MessageLoop, testing::Values(Impl::Fake), impl_name);

}  // namespace
}  // namespace lumo::test
