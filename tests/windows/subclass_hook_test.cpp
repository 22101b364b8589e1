// Subclass chains in front of a window's procedure, and the low-level keyboard hook.
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class SubclassHook : public WindowSuite {
protected:
    // A subclass that notes its name, swallows `swallow` with 99 and passes the rest on.
    PrevProc add(Hwnd target, std::string name, std::uint32_t swallow = 0) {
        auto token = std::make_shared<PrevProc>(0);
        auto prev = w().subclass(target, [this, name, swallow, token](Hwnd hwnd, std::uint32_t msg,
                                                                      WParam wp, LParam lp) {
            if (msg < WM_USER) return w().call_previous(*token, hwnd, msg, wp, lp);
            calls.push_back(name);
            if (msg == swallow) return LResult(99);
            return w().call_previous(*token, hwnd, msg, wp, lp);
        });
        EXPECT_TRUE(prev);
        *token = prev.value_or(0);
        return *token;
    }
    void SetUp() override {
        WindowSuite::SetUp();
        rec.handler = [this](Hwnd, std::uint32_t msg, WParam, LParam) -> std::optional<LResult> {
            if (msg < WM_USER) return std::nullopt;
            calls.push_back("class");
            return 5;
        };
    }
    std::vector<std::string> take_calls() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;
};

TEST_P(SubclassHook, ChainPassesFromNewestToTheClassProcedure) {
    Hwnd a = make("A");
    add(a, "S1");
    add(a, "S2");
    EXPECT_EQ(w().send(a, WM_USER, 0, 0), std::optional<LResult>(5));
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"S2", "S1", "class"}));

    // Posted messages go through the chain when dispatched.
    w().post(a, WM_USER + 1, 0, 0);
    h->pump();
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"S2", "S1", "class"}));
}

TEST_P(SubclassHook, SubclassSwallowsWhatItDoesNotPassOn) {
    Hwnd a = make("A");
    add(a, "S1");
    add(a, "S2", WM_USER + 3);
    EXPECT_EQ(w().send(a, WM_USER + 3, 0, 0), std::optional<LResult>(99));
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"S2"}));
}

TEST_P(SubclassHook, RemovingFromTheMiddleKeepsTheRestOfTheChain) {
    Hwnd a = make("A");
    add(a, "S1");
    PrevProc s2 = add(a, "S2");
    add(a, "S3");
    EXPECT_TRUE(w().remove_subclass(a, s2));
    EXPECT_FALSE(w().remove_subclass(a, s2));
    w().send(a, WM_USER, 0, 0);
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"S3", "S1", "class"}));
}

TEST_P(SubclassHook, SubclassingAnotherProgramsWindow) {
    Hwnd theirs = 0;
    h->as_second([&] {
        ASSERT_TRUE(w().register_class(u"LumoTest", rec.proc(w())));
        rec.expect_create("T");
        theirs = w().create_window({u"LumoTest", u"Theirs", 0, 0, {}, 0});
    });
    ASSERT_NE(theirs, 0u);
    add(theirs, "mine", WM_USER + 1);
    EXPECT_EQ(w().send(theirs, WM_USER + 1, 0, 0), std::optional<LResult>(99));
    EXPECT_EQ(w().send(theirs, WM_USER + 2, 0, 0), std::optional<LResult>(5));
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"mine", "mine", "class"}));
}

TEST_P(SubclassHook, SubclassGoesWhenTheSubclassingProgramEnds) {
    Hwnd a = make("A");
    h->as_second([&] { add(a, "theirs", WM_USER); });
    EXPECT_EQ(w().send(a, WM_USER, 0, 0), std::optional<LResult>(99));
    take_calls();
    h->end_second();
    EXPECT_EQ(w().send(a, WM_USER, 0, 0), std::optional<LResult>(5));
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"class"}));
}

TEST_P(SubclassHook, HookSwallowsAKey) {
    Hwnd a = make("A", WS_VISIBLE);
    std::vector<KeyEvent> seen;
    HookHandle hook = w().set_keyboard_hook([&](const KeyEvent& e) {
        seen.push_back(e);
        return e.vk == 0x70;
    });
    ASSERT_NE(hook, 0u);
    rec.clear();
    w().key_event(0x70, 0);
    w().key_event(0x70, KEYEVENTF_KEYUP | KEYEVENTF_SILENT);
    expect_sequence({});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].up);
    EXPECT_TRUE(seen[0].injected);
    EXPECT_TRUE(seen[1].up);
    EXPECT_EQ(seen[1].flags, KEYEVENTF_KEYUP | KEYEVENTF_SILENT);
    EXPECT_EQ(w().foreground_window(), a);
}

TEST_P(SubclassHook, UnswallowedKeysReachTheForegroundWindow) {
    make("A", WS_VISIBLE);
    make("B", WS_VISIBLE);
    int seen = 0;
    w().set_keyboard_hook([&](const KeyEvent&) {
        ++seen;
        return false;
    });
    rec.clear();
    w().key_event(0x71, 0);
    w().key_event(0x71, KEYEVENTF_KEYUP);
    expect_sequence({{"B", WM_KEYDOWN, 0x71, 0}, {"B", WM_KEYUP, 0x71, 0}});
    EXPECT_EQ(seen, 2);
}

TEST_P(SubclassHook, NewestHookSeesKeysFirst) {
    make("A", WS_VISIBLE);
    std::vector<std::string> order;
    HookHandle old_hook = w().set_keyboard_hook([&](const KeyEvent&) {
        order.push_back("old");
        return false;
    });
    HookHandle new_hook = w().set_keyboard_hook([&](const KeyEvent&) {
        order.push_back("new");
        return true;
    });
    w().key_event(0x20, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"new"}));

    EXPECT_TRUE(w().remove_keyboard_hook(new_hook));
    EXPECT_FALSE(w().remove_keyboard_hook(new_hook));
    order.clear();
    rec.clear();
    w().key_event(0x20, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"old"}));
    expect_sequence({{"A", WM_KEYDOWN, 0x20, 0}});
    EXPECT_TRUE(w().remove_keyboard_hook(old_hook));
}

TEST_P(SubclassHook, KeysWithoutAForegroundWindowAreDropped) {
    make("A");  // hidden, never activated
    rec.clear();
    w().key_event(0x41, 0);
    expect_sequence({});
    Message m;
    EXPECT_FALSE(w().peek_message(m, false));
}

TEST_P(SubclassHook, HookOfAnEndedProgramIsSkipped) {
    make("A", WS_VISIBLE);
    h->as_second([&] { w().set_keyboard_hook([](const KeyEvent&) { return true; }); });
    rec.clear();
    w().key_event(0x42, 0);
    expect_sequence({});
    h->end_second();
    w().key_event(0x42, 0);
    expect_sequence({{"A", WM_KEYDOWN, 0x42, 0}});
}

INSTANTIATE_TEST_SUITE_P(Impls, SubclassHook, testing::Values(Impl::Fake), impl_name);

}  // namespace
}  // namespace lumo::test
