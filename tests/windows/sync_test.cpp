// Named mutexes and events shared by the device's programs, and waits on them from real threads.
#include <atomic>
#include <chrono>
#include <thread>

#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;
using namespace std::chrono_literals;

class SyncObjects : public testing::TestWithParam<Impl> {
protected:
    void SetUp() override { h = make_harness(GetParam()); }
    Sync& s() { return h->sync(); }
    std::uint32_t wait_one(SyncHandle e, std::uint32_t ms) {
        SyncHandle one[]{e};
        return s().wait(one, false, ms);
    }
    std::unique_ptr<WindowHarness> h;
};

TEST_P(SyncObjects, SecondInstanceSeesTheMutex) {
    bool existed = true;
    SyncHandle first = s().create_mutex(u"LumoSingleInstance", &existed);
    ASSERT_NE(first, 0u);
    EXPECT_FALSE(existed);

    SyncHandle second = 0;
    h->as_second([&] { second = s().create_mutex(u"LumoSingleInstance", &existed); });
    ASSERT_NE(second, 0u);
    EXPECT_TRUE(existed);
    EXPECT_NE(second, first);

    // Gone with its last handle.
    EXPECT_TRUE(s().close(first));
    h->as_second([&] { EXPECT_TRUE(s().close(second)); });
    SyncHandle again = s().create_mutex(u"LumoSingleInstance", &existed);
    EXPECT_FALSE(existed);
    s().close(again);
}

TEST_P(SyncObjects, MutexGoesWhenItsProgramEnds) {
    h->as_second([&] { s().create_mutex(u"TheirMutex", nullptr); });
    bool existed = false;
    SyncHandle mine = s().create_mutex(u"TheirMutex", &existed);
    EXPECT_TRUE(existed);
    s().close(mine);

    h->as_second([&] { s().create_mutex(u"TheirMutex", nullptr); });
    h->end_second();
    mine = s().create_mutex(u"TheirMutex", &existed);
    EXPECT_FALSE(existed);
    s().close(mine);
}

TEST_P(SyncObjects, AutoEventReleasesOneWaitManualEventStaysSet) {
    SyncHandle autoe = s().create_event(u"", false, false);
    SyncHandle manual = s().create_event(u"", true, false);
    EXPECT_EQ(wait_one(autoe, 0), kWaitTimeout);
    EXPECT_EQ(wait_one(manual, 0), kWaitTimeout);

    EXPECT_TRUE(s().set_event(autoe));
    EXPECT_TRUE(s().set_event(manual));
    EXPECT_EQ(wait_one(autoe, 0), 0u);
    EXPECT_EQ(wait_one(autoe, 0), kWaitTimeout);  // the wait reset it
    EXPECT_EQ(wait_one(manual, 0), 0u);
    EXPECT_EQ(wait_one(manual, 0), 0u);

    EXPECT_TRUE(s().reset_event(manual));
    EXPECT_EQ(wait_one(manual, 0), kWaitTimeout);

    bool existed = true;
    SyncHandle initially = s().create_event(u"", true, true, &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(wait_one(initially, 0), 0u);
}

TEST_P(SyncObjects, NamedEventIsOneObjectForEveryProgram) {
    bool existed = true;
    SyncHandle mine = s().create_event(u"LumoStop", false, false, &existed);
    EXPECT_FALSE(existed);
    SyncHandle theirs = 0;
    h->as_second([&] {
        theirs = s().create_event(u"LumoStop", true, true, &existed);  // kind and state stay
        EXPECT_TRUE(s().set_event(theirs));
    });
    EXPECT_TRUE(existed);
    EXPECT_EQ(wait_one(mine, 0), 0u);
    // Auto reset: the first wait took it. Handles belong to the program that opened them.
    h->as_second([&] { EXPECT_EQ(wait_one(theirs, 0), kWaitTimeout); });
    // Names differing in case are different objects.
    SyncHandle other = s().create_event(u"lumostop", false, false, &existed);
    EXPECT_FALSE(existed);
    s().close(other);
}

TEST_P(SyncObjects, PulseReleasesOnlyWaitersPresentNow) {
    SyncHandle manual = s().create_event(u"", true, false);
    SyncHandle autoe = s().create_event(u"", false, false);

    // Nobody waiting: the pulse is lost.
    EXPECT_TRUE(s().pulse_event(manual));
    EXPECT_EQ(wait_one(manual, 0), kWaitTimeout);

    auto run_waiters = [&](SyncHandle e) {
        std::atomic<int> released = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i)
            threads.emplace_back([&] {
                if (wait_one(e, 1500) == 0) ++released;
            });
        std::this_thread::sleep_for(200ms);  // both are waiting by now
        EXPECT_TRUE(s().pulse_event(e));
        for (auto& t : threads) t.join();
        return released.load();
    };
    EXPECT_EQ(run_waiters(manual), 2);
    EXPECT_EQ(run_waiters(autoe), 1);
    EXPECT_EQ(wait_one(manual, 0), kWaitTimeout);  // left reset
    EXPECT_EQ(wait_one(autoe, 0), kWaitTimeout);
}

TEST_P(SyncObjects, WaitAnyGivesTheFirstSetEvent) {
    SyncHandle e[3]{s().create_event(u"", true, false), s().create_event(u"", true, false),
                    s().create_event(u"", true, false)};
    s().set_event(e[2]);
    EXPECT_EQ(s().wait(e, false, 0), 2u);
    s().set_event(e[1]);
    EXPECT_EQ(s().wait(e, false, 0), 1u);
}

TEST_P(SyncObjects, WaitAllNeedsEveryEvent) {
    SyncHandle e[2]{s().create_event(u"", false, false), s().create_event(u"", true, false)};
    s().set_event(e[0]);
    EXPECT_EQ(s().wait(e, true, 30), kWaitTimeout);
    // The auto event was not taken by the wait that failed.
    s().set_event(e[1]);
    EXPECT_EQ(s().wait(e, true, 0), 0u);
    // Now it was.
    EXPECT_EQ(s().wait(e, true, 0), kWaitTimeout);
}

TEST_P(SyncObjects, WaitEndsWhenAnotherThreadSetsTheEventOrTheTimeRunsOut) {
    SyncHandle e = s().create_event(u"", false, false);
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        s().set_event(e);
    });
    EXPECT_EQ(wait_one(e, kInfinite), 0u);
    setter.join();

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_one(e, 60), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
}

TEST_P(SyncObjects, BadHandlesFail) {
    SyncHandle bad[]{0xDEAD};
    EXPECT_EQ(s().wait(bad, false, 0), kWaitFailed);
    EXPECT_EQ(s().wait({}, false, 0), kWaitFailed);
    SyncHandle e = s().create_event(u"", true, true);
    SyncHandle mixed[]{e, 0xDEAD};
    EXPECT_EQ(s().wait(mixed, false, 0), kWaitFailed);
    EXPECT_FALSE(s().set_event(0xDEAD));
    EXPECT_FALSE(s().reset_event(0xDEAD));
    EXPECT_FALSE(s().pulse_event(0xDEAD));
    EXPECT_TRUE(s().close(e));
    EXPECT_FALSE(s().close(e));
    EXPECT_FALSE(s().set_event(e));
}

INSTANTIATE_TEST_SUITE_P(Impls, SyncObjects, testing::Values(Impl::Fake, Impl::Device), impl_name);

}  // namespace
}  // namespace lumo::test
