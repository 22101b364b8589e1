// The messages the window manager sends when windows are created, shown, placed, activated and
// destroyed, compared whole with tables.
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class WindowSequence : public WindowSuite {};

TEST_P(WindowSequence, CreatingHiddenAndVisibleWindows) {
    make("A");
    expect_sequence({{"A", WM_CREATE}});
    EXPECT_EQ(foreground(), "0");

    make("B", WS_VISIBLE);
    expect_sequence({
        {"B", WM_CREATE},
        {"B", WM_SHOWWINDOW, 1, 0},
        {"B", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_ACTIVE, 0},
        {"B", WM_SETFOCUS, 0, 0},
    });

    make("C", WS_VISIBLE);
    expect_sequence({
        {"C", WM_CREATE},
        {"C", WM_SHOWWINDOW, 1, 0},
        {"C", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_INACTIVE, "C"},
        {"C", WM_ACTIVATE, WA_ACTIVE, "B"},
        {"C", WM_SETFOCUS, "B", 0},
    });
    // New windows go on top, hidden ones too.
    EXPECT_EQ(z_order(), (std::vector<std::string>{"C", "B", "A"}));
    EXPECT_EQ(foreground(), "C");
}

TEST_P(WindowSequence, CreateAnsweredWithMinusOneDestroysTheWindowAgain) {
    make("A", WS_VISIBLE);
    rec.clear();
    rec.create_result["X"] = -1;
    EXPECT_EQ(make("X", WS_VISIBLE, 0, {0, 0, 10, 10}, 0, u"Refused"), 0u);
    // The refused window got no role from its handle; its messages name it by WM_CREATE.
    expect_sequence({{"X", WM_CREATE}, {"X", WM_DESTROY}});
    EXPECT_EQ(w().find_window(u"LumoTest", u"Refused"), 0u);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(foreground(), "A");
}

TEST_P(WindowSequence, VisibleChildIsShownWithoutActivation) {
    Hwnd a = make("A", WS_VISIBLE);
    rec.clear();
    make("C", WS_VISIBLE | WS_CHILD, 0, {0, 0, 10, 10}, a);
    expect_sequence({{"C", WM_CREATE}, {"C", WM_SHOWWINDOW, 1, 0}, {"C", WM_WINDOWPOSCHANGED}});
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(foreground(), "A");
}

TEST_P(WindowSequence, HidingPassesActivationToTheTopMostVisibleWindow) {
    Hwnd a = make("A", WS_VISIBLE);
    Hwnd b = make("B", WS_VISIBLE);
    make("H");  // hidden, above both: never chosen
    rec.clear();

    EXPECT_TRUE(w().show_window(b, SW_HIDE));
    expect_sequence({
        {"B", WM_SHOWWINDOW, 0, 0},
        {"B", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
        {"A", WM_ACTIVATE, WA_ACTIVE, "B"},
        {"A", WM_SETFOCUS, "B", 0},
    });
    EXPECT_EQ(foreground(), "A");

    // Hiding a hidden window sends nothing.
    EXPECT_FALSE(w().show_window(b, SW_HIDE));
    expect_sequence({});

    // The last visible window leaves nobody in front.
    EXPECT_TRUE(w().show_window(a, SW_HIDE));
    expect_sequence({
        {"A", WM_SHOWWINDOW, 0, 0},
        {"A", WM_WINDOWPOSCHANGED},
        {"A", WM_ACTIVATE, WA_INACTIVE, 0},
    });
    EXPECT_EQ(foreground(), "0");
    EXPECT_FALSE(w().window_info(a)->visible);
}

TEST_P(WindowSequence, ShowingActivatesAndRaisesUnlessAskedNotTo) {
    Hwnd a = make("A", WS_VISIBLE);
    Hwnd c = make("C");
    Hwnd d = make("D");
    w().set_foreground_window(a);
    rec.clear();
    ASSERT_EQ(z_order(), (std::vector<std::string>{"A", "D", "C"}));

    // Without activation: visible, but neither raised nor activated.
    EXPECT_FALSE(w().show_window(c, SW_SHOWNA));
    expect_sequence({{"C", WM_SHOWWINDOW, 1, 0}, {"C", WM_WINDOWPOSCHANGED}});
    EXPECT_FALSE(w().show_window(d, SW_SHOWNOACTIVATE));
    expect_sequence({{"D", WM_SHOWWINDOW, 1, 0}, {"D", WM_WINDOWPOSCHANGED}});
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A", "D", "C"}));
    EXPECT_EQ(foreground(), "A");

    // Showing a visible window again: no WM_SHOWWINDOW, but raised and activated.
    EXPECT_TRUE(w().show_window(c, SW_SHOW));
    expect_sequence({
        {"C", WM_WINDOWPOSCHANGED},
        {"A", WM_ACTIVATE, WA_INACTIVE, "C"},
        {"C", WM_ACTIVATE, WA_ACTIVE, "A"},
        {"C", WM_SETFOCUS, "A", 0},
    });
    EXPECT_EQ(z_order(), (std::vector<std::string>{"C", "A", "D"}));
}

TEST_P(WindowSequence, MinimisingSendsTheWindowDownAndRestoringBringsItBack) {
    Hwnd a = make("A", WS_VISIBLE);
    Hwnd b = make("B", WS_VISIBLE);
    rec.clear();

    w().show_window(b, SW_MINIMIZE);
    expect_sequence({
        {"B", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
        {"A", WM_ACTIVATE, WA_ACTIVE, "B"},
        {"A", WM_SETFOCUS, "B", 0},
    });
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(w().window_info(b)->minimized);

    w().show_window(b, SW_RESTORE);
    expect_sequence({
        {"B", WM_WINDOWPOSCHANGED},
        {"A", WM_ACTIVATE, WA_INACTIVE, "B"},
        {"B", WM_ACTIVATE, WA_ACTIVE, "A"},
        {"B", WM_SETFOCUS, "A", 0},
    });
    EXPECT_EQ(z_order(), (std::vector<std::string>{"B", "A"}));
    EXPECT_FALSE(w().window_info(b)->minimized);

    // A minimised window is not chosen when the foreground one hides.
    w().show_window(a, SW_SHOWMINIMIZED);
    rec.clear();
    w().show_window(b, SW_HIDE);
    expect_sequence({
        {"B", WM_SHOWWINDOW, 0, 0},
        {"B", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_INACTIVE, 0},
    });
    EXPECT_EQ(foreground(), "0");
}

TEST_P(WindowSequence, SettingTheForegroundWindow) {
    Hwnd a = make("A", WS_VISIBLE);
    make("B", WS_VISIBLE);
    Hwnd hidden = make("H");
    rec.clear();

    EXPECT_TRUE(w().set_foreground_window(a));
    expect_sequence({
        {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
        {"A", WM_ACTIVATE, WA_ACTIVE, "B"},
        {"A", WM_SETFOCUS, "B", 0},
    });
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A", "H", "B"}));

    // Already in front: nothing.
    EXPECT_TRUE(w().set_foreground_window(a));
    expect_sequence({});

    // A hidden window can be made the foreground window; it stays hidden.
    EXPECT_TRUE(w().set_foreground_window(hidden));
    expect_sequence({
        {"A", WM_ACTIVATE, WA_INACTIVE, "H"},
        {"H", WM_ACTIVATE, WA_ACTIVE, "A"},
        {"H", WM_SETFOCUS, "A", 0},
    });
    EXPECT_EQ(foreground(), "H");
    EXPECT_FALSE(w().window_info(hidden)->visible);

    // A child activates its top-level window.
    Hwnd child = make("C", WS_CHILD | WS_VISIBLE, 0, {0, 0, 5, 5}, a);
    rec.clear();
    EXPECT_TRUE(w().set_foreground_window(child));
    expect_sequence({
        {"H", WM_ACTIVATE, WA_INACTIVE, "A"},
        {"A", WM_ACTIVATE, WA_ACTIVE, "H"},
        {"A", WM_SETFOCUS, "H", 0},
    });
    EXPECT_FALSE(w().set_foreground_window(0xBAD0));
}

TEST_P(WindowSequence, BringingToTop) {
    Hwnd a = make("A", WS_VISIBLE);
    make("B", WS_VISIBLE);
    rec.clear();

    EXPECT_TRUE(w().bring_to_top(a));
    expect_sequence({
        {"A", WM_WINDOWPOSCHANGED},
        {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
        {"A", WM_ACTIVATE, WA_ACTIVE, "B"},
        {"A", WM_SETFOCUS, "B", 0},
    });
    EXPECT_EQ(z_order(), (std::vector<std::string>{"A", "B"}));

    // A hidden window is raised but not activated.
    Hwnd hidden = make("H");
    w().set_foreground_window(a);
    rec.clear();
    EXPECT_TRUE(w().bring_to_top(hidden));
    expect_sequence({{"H", WM_WINDOWPOSCHANGED}});
    EXPECT_EQ(z_order(), (std::vector<std::string>{"H", "A", "B"}));
    EXPECT_EQ(foreground(), "A");
}

TEST_P(WindowSequence, MovingSendsOnePositionChange) {
    Hwnd a = make("A");
    rec.clear();
    EXPECT_TRUE(w().move_window(a, {10, 20, 110, 220}));
    expect_sequence({{"A", WM_WINDOWPOSCHANGED}});
    EXPECT_EQ(w().window_info(a)->rect, (Rect{10, 20, 110, 220}));
    EXPECT_FALSE(w().move_window(0xBAD0, {}));
}

// Each case starts from A and B visible (B in front) and H hidden on top of them, with every
// window 100 x 100 at the origin.
struct PosCase {
    const char* name;
    const char* target;
    Arg after;
    Rect rect;
    std::uint32_t flags;
    std::vector<Row> messages;
    Rect expected_rect;
    std::vector<std::string> z;
    std::string foreground;
};

TEST_P(WindowSequence, SetWindowPosAppliesEachFlag) {
    constexpr auto kKeep = SWP_NOMOVE | SWP_NOSIZE;
    const Rect start{0, 0, 100, 100};
    const std::vector<PosCase> cases{
        {"nothing but the notice", "A", HWND_TOP, {5, 5, 6, 6}, kKeep | SWP_NOZORDER | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, start, {"H", "B", "A"}, "B"},
        {"move keeps the size", "A", HWND_TOP, {5, 6, 7, 8}, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, {5, 6, 105, 106}, {"H", "B", "A"}, "B"},
        {"size keeps the place", "A", HWND_TOP, {30, 30, 80, 90}, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, {0, 0, 50, 60}, {"H", "B", "A"}, "B"},
        {"move and size", "A", HWND_TOP, {1, 2, 3, 4}, SWP_NOZORDER | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, {1, 2, 3, 4}, {"H", "B", "A"}, "B"},
        {"to the top, activated", "A", HWND_TOP, {}, kKeep,
         {{"A", WM_WINDOWPOSCHANGED}, {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
          {"A", WM_ACTIVATE, WA_ACTIVE, "B"}, {"A", WM_SETFOCUS, "B", 0}},
         start, {"A", "H", "B"}, "A"},
        {"to the top, not activated", "A", HWND_TOP, {}, kKeep | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, start, {"A", "H", "B"}, "B"},
        {"activated in place", "A", HWND_TOP, {}, kKeep | SWP_NOZORDER,
         {{"A", WM_WINDOWPOSCHANGED}, {"B", WM_ACTIVATE, WA_INACTIVE, "A"},
          {"A", WM_ACTIVATE, WA_ACTIVE, "B"}, {"A", WM_SETFOCUS, "B", 0}},
         start, {"H", "B", "A"}, "A"},
        {"to the bottom", "B", HWND_BOTTOM, {}, kKeep | SWP_NOACTIVATE,
         {{"B", WM_WINDOWPOSCHANGED}}, start, {"H", "A", "B"}, "B"},
        {"below a window", "A", "H", {}, kKeep | SWP_NOACTIVATE,
         {{"A", WM_WINDOWPOSCHANGED}}, start, {"H", "A", "B"}, "B"},
        {"into the topmost band", "B", HWND_TOPMOST, {}, kKeep | SWP_NOACTIVATE,
         {{"B", WM_WINDOWPOSCHANGED}}, start, {"B", "H", "A"}, "B"},
        {"hidden window is not activated", "H", HWND_TOP, {}, kKeep | SWP_NOZORDER,
         {{"H", WM_WINDOWPOSCHANGED}}, start, {"H", "B", "A"}, "B"},
        {"show and activate", "H", HWND_TOP, {}, kKeep | SWP_NOZORDER | SWP_SHOWWINDOW,
         {{"H", WM_SHOWWINDOW, 1, 0}, {"H", WM_WINDOWPOSCHANGED},
          {"B", WM_ACTIVATE, WA_INACTIVE, "H"}, {"H", WM_ACTIVATE, WA_ACTIVE, "B"},
          {"H", WM_SETFOCUS, "B", 0}},
         start, {"H", "B", "A"}, "H"},
        {"show without activation", "H", HWND_TOP, {}, kKeep | SWP_NOZORDER | SWP_SHOWWINDOW | SWP_NOACTIVATE,
         {{"H", WM_SHOWWINDOW, 1, 0}, {"H", WM_WINDOWPOSCHANGED}}, start, {"H", "B", "A"}, "B"},
        {"hide passes activation on", "B", HWND_TOP, {}, kKeep | SWP_NOZORDER | SWP_HIDEWINDOW,
         {{"B", WM_SHOWWINDOW, 0, 0}, {"B", WM_WINDOWPOSCHANGED},
          {"B", WM_ACTIVATE, WA_INACTIVE, "A"}, {"A", WM_ACTIVATE, WA_ACTIVE, "B"},
          {"A", WM_SETFOCUS, "B", 0}},
         start, {"H", "B", "A"}, "A"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Hwnd a = make("A", WS_VISIBLE, 0, start);
        Hwnd b = make("B", WS_VISIBLE, 0, start);
        Hwnd hidden = make("H", 0, 0, start);
        rec.clear();
        Hwnd after = c.after.role ? rec.hwnd_of(c.after.role) : c.after.value;
        EXPECT_TRUE(w().set_window_pos(rec.hwnd_of(c.target), after, c.rect, c.flags));
        expect_sequence(c.messages);
        EXPECT_EQ(w().window_info(rec.hwnd_of(c.target))->rect, c.expected_rect);
        EXPECT_EQ(z_order(), c.z);
        EXPECT_EQ(foreground(), c.foreground);
        for (Hwnd x : {a, b, hidden}) w().destroy_window(x);
        h->pump();
        rec.clear();
    }
}

TEST_P(WindowSequence, TopmostWindowsStayAboveTheOthers) {
    Hwnd a = make("A", WS_VISIBLE);
    Hwnd t = make("T", WS_VISIBLE, WS_EX_TOPMOST);
    Hwnd b = make("B", WS_VISIBLE);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"T", "B", "A"}));
    EXPECT_EQ(foreground(), "B");  // in front of the normal band, but below T

    w().set_foreground_window(a);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"T", "A", "B"}));

    // Changing the topmost bit moves the window to the top of its new band.
    EXPECT_TRUE(w().set_ex_style(b, WS_EX_TOPMOST));
    EXPECT_EQ(z_order(), (std::vector<std::string>{"B", "T", "A"}));
    EXPECT_TRUE(w().set_ex_style(b, 0));
    EXPECT_EQ(z_order(), (std::vector<std::string>{"T", "B", "A"}));

    // Bottom of the topmost band is still above the normal band.
    Hwnd u = make("U", WS_VISIBLE, WS_EX_TOPMOST);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"U", "T", "B", "A"}));
    w().set_window_pos(u, HWND_BOTTOM, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"T", "U", "B", "A"}));
    w().show_window(t, SW_MINIMIZE);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"U", "T", "B", "A"}));

    // Leaving the band puts it on top of the normal windows.
    w().set_window_pos(t, HWND_NOTOPMOST, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"U", "T", "B", "A"}));
    EXPECT_EQ(w().window_info(t)->ex_style & WS_EX_TOPMOST, 0u);
    // Placing a normal window "below" a topmost one keeps it in its own band.
    w().set_window_pos(a, u, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"U", "A", "T", "B"}));
}

TEST_P(WindowSequence, DestroyingReachesChildrenDepthFirstAndPassesActivationOn) {
    make("B", WS_VISIBLE);
    Hwnd p = make("P", WS_VISIBLE);
    Hwnd c1 = make("C1", WS_CHILD, 0, {}, p);
    Hwnd g = make("G", WS_CHILD, 0, {}, c1);
    Hwnd c2 = make("C2", WS_CHILD, 0, {}, p);
    rec.clear();

    EXPECT_TRUE(w().destroy_window(p));
    expect_sequence({
        {"P", WM_DESTROY},
        {"C1", WM_DESTROY},
        {"G", WM_DESTROY},
        {"C2", WM_DESTROY},
        {"B", WM_ACTIVATE, WA_ACTIVE, 0},
        {"B", WM_SETFOCUS, 0, 0},
    });
    for (Hwnd x : {p, c1, g, c2}) EXPECT_FALSE(w().is_window(x));
    EXPECT_EQ(foreground(), "B");
    EXPECT_EQ(z_order(), (std::vector<std::string>{"B"}));
    EXPECT_FALSE(w().destroy_window(p));
}

TEST_P(WindowSequence, DestroyingAChildLeavesActivationAlone) {
    Hwnd p = make("P", WS_VISIBLE);
    Hwnd c1 = make("C1", WS_CHILD | WS_VISIBLE, 0, {}, p);
    make("C2", WS_CHILD, 0, {}, p);
    rec.clear();
    EXPECT_TRUE(w().destroy_window(c1));
    expect_sequence({{"C1", WM_DESTROY}});
    EXPECT_EQ(foreground(), "P");
    EXPECT_EQ(rec.role_of(w().get_window(p, Relation::FirstChild)), "C2");
}

TEST_P(WindowSequence, CloseThroughTheDefaultProcedureDestroysTheWindow) {
    make("A", WS_VISIBLE);
    Hwnd b = make("B", WS_VISIBLE);
    rec.clear();
    EXPECT_EQ(w().send(b, WM_CLOSE, 0, 0), std::optional<LResult>(0));
    expect_sequence({
        {"B", WM_CLOSE},
        {"B", WM_DESTROY},
        {"A", WM_ACTIVATE, WA_ACTIVE, 0},
        {"A", WM_SETFOCUS, 0, 0},
    });
    EXPECT_FALSE(w().is_window(b));

    // Posted, it closes when dispatched.
    Hwnd a = rec.hwnd_of("A");
    EXPECT_TRUE(w().post(a, WM_CLOSE, 0, 0));
    expect_sequence({{"A", WM_CLOSE}, {"A", WM_DESTROY}});
    EXPECT_FALSE(w().is_window(a));
    EXPECT_EQ(foreground(), "0");
}

INSTANTIATE_TEST_SUITE_P(Impls, WindowSequence, testing::Values(Impl::Fake, Impl::Device), impl_name);

}  // namespace
}  // namespace lumo::test
