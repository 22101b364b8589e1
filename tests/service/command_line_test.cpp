// The command-line table and the single-instance rules, through run() on the fake platform.
#include "service_harness.h"

namespace lumo::service::test {
namespace {

TEST(ServiceCommandLine, PrefixesAreComparedInTheTableOrder) {
    EXPECT_EQ(classify(u"-slide", true), Command::Slide);
    EXPECT_EQ(classify(u"-slideshow", false), Command::Slide);
    EXPECT_EQ(classify(u"-reset", true), Command::Reset);
    EXPECT_EQ(classify(u"-unlock", false), Command::Unlock);
    EXPECT_EQ(classify(u"-password", true), Command::Password);
    EXPECT_EQ(classify(u"-password", false), Command::Start);
    EXPECT_EQ(classify(u"", true), Command::Stop);
    EXPECT_EQ(classify(u"-nomsg", true), Command::Stop);
    EXPECT_EQ(classify(u"-show", false), Command::Start);
    EXPECT_EQ(classify(u"-show", true), Command::Stop);
    EXPECT_EQ(classify(u" -slide", false), Command::Start);
}

// A running service: its window in another process, recording what reaches it.
struct RunningService {
    explicit RunningService(ServiceHarness& h) {
        auto scope = h.p.as_process(400);
        h.p.windows().register_class(
            u"Vardex2", [&h, this](Hwnd w, std::uint32_t m, WParam wp, LParam lp) -> LResult {
                if (m == WM_CLOSE || m >= WM_APP) got.push_back({m, wp, lp});
                return h.p.windows().default_proc(w, m, wp, lp);
            });
        CreateWindowParams cp;
        cp.class_name = u"Vardex2";
        cp.title = u"Vardex2";
        h.p.windows().create_window(cp);
    }
    std::vector<Received> got;
};

TEST(ServiceCommandLine, ASecondStartClosesLumoThenTheServiceWithTheBox) {
    ServiceHarness h;
    RunningService running(h);
    {
        auto scope = h.p.as_process(kLockPid);
        h.open_lock_screen(false);
    }
    EXPECT_EQ(run(h.p, u""), 0);
    h.p.run_until_idle();
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{WM_CLOSE});
    ASSERT_EQ(running.got.size(), 1u);
    EXPECT_EQ(running.got[0].msg, WM_CLOSE);
    EXPECT_EQ(running.got[0].w, 1u);
    EXPECT_TRUE(h.p.launches().empty());
}

TEST(ServiceCommandLine, NoMessageClosesWithZero) {
    ServiceHarness h;
    RunningService running(h);
    run(h.p, u"-nomsg");
    h.p.run_until_idle();
    ASSERT_EQ(running.got.size(), 1u);
    EXPECT_EQ(running.got[0].w, 0u);
}

TEST(ServiceCommandLine, PasswordWithARunningServiceLocksLumoWithTheKeypad) {
    ServiceHarness h;
    RunningService running(h);
    {
        auto scope = h.p.as_process(kLockPid);
        h.open_lock_screen(false);
    }
    run(h.p, u"-password");
    h.p.run_until_idle();
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{protocol::WM_LOCK_PASSWORD});
    EXPECT_TRUE(running.got.empty());
}

TEST(ServiceCommandLine, UnlockWithoutLumoDoesNothing) {
    ServiceHarness h;
    run(h.p, u"-unlock");
    EXPECT_TRUE(h.p.posted().empty());
    EXPECT_TRUE(h.p.launches().empty());
    EXPECT_EQ(h.service_window(), 0u);
}

TEST(ServiceCommandLine, UnlockPostsToARunningLumo) {
    ServiceHarness h;
    {
        auto scope = h.p.as_process(kLockPid);
        h.open_lock_screen(true);
    }
    run(h.p, u"-unlock");
    h.p.run_until_idle();
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{protocol::WM_Unlock});
}

TEST(ServiceCommandLine, ResetZeroesTheFourUnreadCounters) {
    ServiceHarness h;
    const std::u16string_view keys[] = {
        u"System\\State\\Messages\\VMail\\Total\\Unread", u"System\\State\\Messages\\SMS\\Unread",
        u"System\\State\\Messages\\MMS\\Unread", u"System\\State\\Messages\\TotalEmail\\Unread"};
    for (auto k : keys) {
        h.p.registry().create_key(Root::CurrentUser, k);
        h.p.registry().set_dword(Root::CurrentUser, k, u"Count", 7);
    }
    run(h.p, u"-reset");
    for (auto k : keys) EXPECT_EQ(h.p.registry().get_dword(Root::CurrentUser, k, u"Count"), 0u);
    EXPECT_EQ(h.service_window(), 0u);
}

TEST(ServiceCommandLine, SlideStartsLumoShownAndEnds) {
    ServiceHarness h;
    run(h.p, u"-slide");
    ASSERT_EQ(h.p.launches().size(), 1u);
    EXPECT_TRUE(h.p.launches()[0].shown);
    EXPECT_EQ(h.service_window(), 0u);
}

TEST(ServiceCommandLine, PasswordWithoutAServiceStartsItPlainly) {
    ServiceHarness h;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start(u"-password"));
    EXPECT_NE(h.service_window(), 0u);
    ASSERT_EQ(h.p.launches().size(), 1u);
    EXPECT_EQ(h.p.launches()[0].arguments, u"-hide");
}

}  // namespace
}  // namespace lumo::service::test
