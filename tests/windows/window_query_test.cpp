// Finding windows, walking children, the window at a point, window facts, and what other
// programs' windows allow.
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;

class WindowQuery : public WindowSuite {};

TEST_P(WindowQuery, FindWindowIgnoresCaseOfClassAndTitle) {
    Hwnd lock = make("L", 0, 0, {}, 0, u"Lock Screen");
    Hwnd cyr = make("C", 0, 0, {}, 0, u"Блокировка");
    EXPECT_EQ(w().find_window(u"lumotest", u"LOCK SCREEN"), lock);
    EXPECT_EQ(w().find_window(std::nullopt, u"lock screen"), lock);
    EXPECT_EQ(w().find_window(u"LUMOTEST", u"БЛОКИРОВКА"), cyr);
    // Any title: the top-most window of the class.
    EXPECT_EQ(w().find_window(u"LumoTest", std::nullopt), cyr);
    EXPECT_EQ(w().find_window(u"Other", std::nullopt), 0u);
    EXPECT_EQ(w().find_window(u"LumoTest", u"Lock"), 0u);

    // Titles change; children are never found.
    EXPECT_TRUE(w().set_window_text(lock, u"Unlocked"));
    EXPECT_EQ(w().find_window(std::nullopt, u"unlocked"), lock);
    make("K", WS_CHILD, 0, {}, lock, u"Child");
    EXPECT_EQ(w().find_window(std::nullopt, u"Child"), 0u);
    EXPECT_FALSE(w().set_window_text(0xBAD0, u"x"));
}

TEST_P(WindowQuery, ClassesBelongToTheirProgram) {
    EXPECT_FALSE(w().register_class(u"lumotest", rec.proc(w())));  // same name, other case
    EXPECT_EQ(w().create_window({u"NoSuchClass", u"", 0, 0, {}, 0}), 0u);
    // A parent that is not a window refuses the child.
    EXPECT_EQ(w().create_window({u"LumoTest", u"", WS_CHILD, 0, {}, 0xBAD0}), 0u);

    Hwnd theirs = 0;
    h->as_second([&] {
        EXPECT_TRUE(w().register_class(u"LumoTest", rec.proc(w())));
        rec.expect_create("S");
        theirs = w().create_window({u"LumoTest", u"Theirs", 0, 0, {}, 0});
    });
    ASSERT_NE(theirs, 0u);
    Hwnd mine = make("M");
    EXPECT_EQ(w().window_info(theirs)->process_id, h->second_id());
    EXPECT_EQ(w().window_info(mine)->process_id, h->processes().own_id());
    EXPECT_NE(h->second_id(), h->processes().own_id());
}

TEST_P(WindowQuery, ChildWalkFollowsCreationOrder) {
    Hwnd p = make("P");
    Hwnd c1 = make("C1", WS_CHILD, 0, {}, p);
    Hwnd c2 = make("C2", WS_CHILD, 0, {}, p);
    Hwnd c3 = make("C3", WS_CHILD, 0, {}, p);
    make("G", WS_CHILD, 0, {}, c2);

    std::vector<std::string> walk;
    for (Hwnd c = w().get_window(p, Relation::FirstChild); c; c = w().get_window(c, Relation::Next))
        walk.push_back(rec.role_of(c));
    EXPECT_EQ(walk, (std::vector<std::string>{"C1", "C2", "C3"}));
    EXPECT_EQ(w().get_window(c2, Relation::Previous), c1);
    EXPECT_EQ(w().get_window(c1, Relation::Previous), 0u);
    EXPECT_EQ(w().get_window(c3, Relation::Parent), p);
    EXPECT_EQ(w().get_window(p, Relation::Parent), 0u);
    EXPECT_EQ(rec.role_of(w().get_window(c2, Relation::FirstChild)), "G");
    EXPECT_EQ(w().get_window(c3, Relation::FirstChild), 0u);

    w().destroy_window(c2);
    EXPECT_EQ(w().get_window(c1, Relation::Next), c3);
    EXPECT_EQ(z_order(), (std::vector<std::string>{"P"}));  // children are not top-level
    EXPECT_EQ(w().get_window(0xBAD0, Relation::FirstChild), 0u);
}

TEST_P(WindowQuery, WindowFromPointIsTheTopMostVisibleWindowThere) {
    Hwnd a = make("A", WS_VISIBLE, 0, {0, 0, 100, 100});
    Hwnd b = make("B", WS_VISIBLE, 0, {50, 50, 150, 150});
    make("H", 0, 0, {0, 0, 200, 200});  // hidden: never there
    EXPECT_EQ(w().window_from_point(60, 60), b);
    EXPECT_EQ(w().window_from_point(10, 10), a);
    EXPECT_EQ(w().window_from_point(149, 149), b);
    EXPECT_EQ(w().window_from_point(150, 150), 0u);  // right and bottom edges are outside
    EXPECT_EQ(w().window_from_point(-1, 0), 0u);

    w().set_foreground_window(a);
    EXPECT_EQ(w().window_from_point(60, 60), a);
    // A topmost window is above the foreground one.
    w().set_window_pos(b, HWND_TOPMOST, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(w().window_from_point(60, 60), b);
    w().show_window(b, SW_HIDE);
    EXPECT_EQ(w().window_from_point(60, 60), a);
}

TEST_P(WindowQuery, WindowInfoReportsWhatWasSet) {
    Hwnd a = make("A", WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST, {1, 2, 3, 4}, 0, u"Title");
    auto info = w().window_info(a);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->class_name, u"LumoTest");
    EXPECT_EQ(info->title, u"Title");
    EXPECT_EQ(info->style, WS_POPUP | WS_VISIBLE);
    EXPECT_EQ(info->ex_style, WS_EX_TOPMOST);
    EXPECT_EQ(info->rect, (Rect{1, 2, 3, 4}));
    EXPECT_EQ(info->parent, 0u);
    EXPECT_TRUE(info->visible);
    EXPECT_FALSE(info->minimized);

    w().show_window(a, SW_HIDE);
    EXPECT_EQ(w().window_info(a)->style, WS_POPUP);
    EXPECT_TRUE(w().set_style(a, WS_BORDER));
    EXPECT_EQ(w().window_info(a)->style, WS_BORDER);
    EXPECT_FALSE(w().window_info(0xBAD0));
}

TEST_P(WindowQuery, HandlesThatAreNotWindowsFailEverywhere) {
    const Hwnd bad = 0xBAD0;
    EXPECT_FALSE(w().is_window(bad));
    EXPECT_FALSE(w().is_window(0));
    EXPECT_FALSE(w().post(bad, WM_USER, 0, 0));
    EXPECT_FALSE(w().send(bad, WM_USER, 0, 0));
    EXPECT_FALSE(w().send(bad, WM_USER, 0, 0, 100));
    EXPECT_FALSE(w().show_window(bad, SW_SHOW));
    EXPECT_FALSE(w().destroy_window(bad));
    EXPECT_FALSE(w().bring_to_top(bad));
    EXPECT_FALSE(w().set_window_pos(bad, HWND_TOP, {}, 0));
    EXPECT_FALSE(w().set_ex_style(bad, 0));
    EXPECT_FALSE(w().set_timer(bad, 1, 10));
    EXPECT_FALSE(w().kill_timer(bad, 1));
    EXPECT_FALSE(w().subclass(bad, [](Hwnd, std::uint32_t, WParam, LParam) { return 0; }));
    EXPECT_EQ(w().dispatch({bad, WM_USER, 1, 2}), 0);
}

TEST_P(WindowQuery, AnEndedProgramLeavesNoWindows) {
    h->as_second([&] {
        ASSERT_TRUE(w().register_class(u"Theirs", rec.proc(w())));
        rec.expect_create("S");
        Hwnd s = w().create_window({u"Theirs", u"Second", WS_VISIBLE, 0, {0, 0, 10, 10}, 0});
        ASSERT_NE(s, 0u);
        rec.expect_create("SC");
        w().create_window({u"Theirs", u"", WS_CHILD, 0, {}, s});
    });
    Hwnd mine = make("M", WS_VISIBLE);
    Hwnd s = w().find_window(u"theirs", u"second");
    ASSERT_NE(s, 0u);
    w().set_foreground_window(s);
    ASSERT_EQ(foreground(), "S");
    h->pump();
    rec.clear();

    h->end_second();
    h->pump();
    EXPECT_EQ(w().find_window(u"Theirs", std::nullopt), 0u);
    EXPECT_FALSE(w().is_window(s));
    EXPECT_FALSE(w().is_window(rec.hwnd_of("SC")));
    EXPECT_FALSE(w().post(s, WM_USER, 0, 0));
    EXPECT_FALSE(w().send(s, WM_USER, 0, 0));
    // The foreground passes on; the dead window's procedure hears nothing.
    EXPECT_EQ(w().foreground_window(), mine);
    EXPECT_EQ(rec.take(), rec.render({{"M", WM_ACTIVATE, WA_ACTIVE, 0}, {"M", WM_SETFOCUS, 0, 0}}));
}

TEST_P(WindowQuery, FocusTakenFromAnotherProgramsWindowNamesNoWindow) {
    Hwnd theirs = 0;
    h->as_second([&] {
        ASSERT_TRUE(w().register_class(u"Theirs", rec.proc(w())));
        rec.expect_create("S");
        theirs = w().create_window({u"Theirs", u"Second", WS_VISIBLE, 0, {0, 0, 10, 10}, 0});
    });
    Hwnd mine = make("M", WS_VISIBLE);
    Hwnd other = make("N", WS_VISIBLE);
    w().set_foreground_window(theirs);
    h->pump();
    rec.clear();
    // From the other program's window: none; from a window of its own program: that window.
    w().set_foreground_window(mine);
    h->pump();
    EXPECT_EQ(rec.take(), rec.render({{"S", WM_ACTIVATE, WA_INACTIVE, "M"},
                                      {"M", WM_ACTIVATE, WA_ACTIVE, "S"},
                                      {"M", WM_SETFOCUS, 0, 0}}));
    w().set_foreground_window(other);
    h->pump();
    EXPECT_EQ(rec.take(), rec.render({{"M", WM_ACTIVATE, WA_INACTIVE, "N"},
                                      {"N", WM_ACTIVATE, WA_ACTIVE, "M"},
                                      {"N", WM_SETFOCUS, "M", 0}}));
}

INSTANTIATE_TEST_SUITE_P(Impls, WindowQuery, testing::Values(Impl::Fake), impl_name);

}  // namespace
}  // namespace lumo::test
