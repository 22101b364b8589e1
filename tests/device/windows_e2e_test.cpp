// The window system across real processes of one device: this test is one program, the test
// program (lumo-testprog) plays the others.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

constexpr std::uint32_t kEcho = WM_APP + 2;
constexpr std::uint32_t kSinkAsk = WM_APP + 3;
constexpr std::uint32_t kSleep = WM_APP + 4;
constexpr std::uint32_t kSwallow = WM_APP + 5;
constexpr std::uint32_t kPostBurst = WM_APP + 6;
constexpr std::uint32_t kBurstItem = WM_APP + 7;
constexpr std::uint32_t kPing = WM_APP + 8;
constexpr std::uint32_t kPong = WM_APP + 9;

class WindowsAcrossProcesses : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.start()) << device_.last_error;
        std::string error;
        p_ = device::connect(device_.socket_path(), u"window-test", &error);
        ASSERT_TRUE(p_) << error;
        ASSERT_TRUE(win().register_class(u"TestSink", [this](Hwnd h, std::uint32_t msg, WParam w, LParam l) -> LResult {
            seen_.push_back({h, msg, w, l});
            if (msg == kSinkAsk) return static_cast<LResult>(w * 2);
            return 0;
        }));
        CreateWindowParams cp;
        cp.class_name = u"TestSink";
        cp.title = u"sink";
        cp.rect = {0, 0, 480, 800};
        sink_ = win().create_window(cp);
        ASSERT_NE(sink_, 0u);
    }
    void TearDown() override {
        for (auto pid : children_) {
            ::kill(pid, SIGKILL);
            wait_program(pid);
        }
    }
    Windows& win() { return p_->windows(); }

    // Starts the test program in a role and waits until its window says it is ready.
    pid_t start_role(const std::string& role, const std::string& arg) {
        auto pid = spawn_device_program("lumo-testprog", {role, arg}, device_.socket_path());
        children_.push_back(pid);
        auto title = to_u16(role + " ready");
        for (int i = 0; i < 500; ++i) {
            if (win().find_window(std::nullopt, title)) return pid;
            std::this_thread::sleep_for(Ms(10));
        }
        ADD_FAILURE() << "lumo-testprog " << role << " did not get ready";
        return pid;
    }
    void kill_child(pid_t pid) {
        ::kill(pid, SIGKILL);
        wait_program(pid);
        std::erase(children_, pid);
    }
    // Pumps this program's messages for a while.
    void pump(Ms how_long) {
        auto end = std::chrono::steady_clock::now() + how_long;
        win().set_timer(sink_, 999, 10);
        Message m;
        while (std::chrono::steady_clock::now() < end && win().get_message(m)) win().dispatch(m);
        win().kill_timer(sink_, 999);
    }

    DeviceProcess device_;
    std::unique_ptr<device::DevicePlatform> p_;
    Hwnd sink_ = 0;
    std::vector<Message> seen_;
    std::vector<pid_t> children_;
};

TEST_F(WindowsAcrossProcesses, PostsFromAnotherProgramArriveCompleteAndInOrder) {
    start_role("window", "Poster");
    Hwnd poster = win().find_window(u"poster", std::nullopt);
    ASSERT_NE(poster, 0u);
    ASSERT_TRUE(win().post(poster, kPostBurst, 2000, 0));
    std::vector<WParam> got;
    Message m;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < 2000 && std::chrono::steady_clock::now() < deadline) {
        if (!win().peek_message(m, true)) {
            std::this_thread::sleep_for(Ms(1));
            continue;
        }
        if (m.message == kBurstItem) got.push_back(m.wparam);
    }
    ASSERT_EQ(got.size(), 2000u);
    for (WParam i = 0; i < 2000; ++i) ASSERT_EQ(got[i], i);
}

TEST_F(WindowsAcrossProcesses, TwoProgramsSendingToEachOtherBothComplete) {
    start_role("window", "Echo");
    Hwnd echo = win().find_window(u"ECHO", std::nullopt);
    ASSERT_NE(echo, 0u);
    // Echo's procedure sends back to our sink while we wait for it.
    auto r = win().send(echo, kEcho, 5, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, 11);
    ASSERT_FALSE(seen_.empty());
    EXPECT_EQ(seen_.back().message, kSinkAsk);
}

TEST_F(WindowsAcrossProcesses, SendsBothWaysGoStraightBetweenTheProgramsEvenWithTheHostStopped) {
    start_role("window", "Echo");
    Hwnd echo = win().find_window(u"ECHO", std::nullopt);
    ASSERT_NE(echo, 0u);
    // The first sends open the link between the two programs (and Echo finds our sink).
    ASSERT_EQ(win().send(echo, kEcho, 5, 0), 11);
    // With the host frozen nothing could pass through it; the sends and the send back inside
    // them still complete.
    ASSERT_EQ(::kill(device_.pid(), SIGSTOP), 0);
    std::optional<LResult> results[3];
    for (int i = 0; i < 3; ++i) results[i] = win().send(echo, kEcho, WParam(i), 0, 5000);
    ::kill(device_.pid(), SIGCONT);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(results[i], 2 * i + 1) << i;
    EXPECT_EQ(seen_.back().message, kSinkAsk);
}

TEST_F(WindowsAcrossProcesses, PostsGoStraightBetweenTheProgramsInOrderFromEveryThreadWithTheHostStopped) {
    start_role("window", "Echo");
    Hwnd echo = win().find_window(u"ECHO", std::nullopt);
    ASSERT_NE(echo, 0u);
    auto pongs = [&] {
        std::vector<WParam> got;
        for (auto& m : seen_)
            if (m.message == kPong) got.push_back(m.wparam);
        return got;
    };
    auto open_files = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    const auto files_before = open_files();
    // A first ping and its pong open the link (each side asks the host once).
    ASSERT_TRUE(win().post(echo, kPing, 0, 0));
    for (int i = 0; i < 100 && pongs().empty(); ++i) pump(Ms(20));
    ASSERT_EQ(pongs(), std::vector<WParam>{0});
    // With the host frozen only the links carry anything. The window thread's posts, then a
    // worker's made after them: the pongs come back in that order.
    ASSERT_EQ(::kill(device_.pid(), SIGSTOP), 0);
    // A post that went to the host would wait for it: the host is let go after a while, and
    // that counts as a failure.
    std::promise<void> finished;
    std::atomic<bool> resumed{false};
    std::thread watchdog([&, done = finished.get_future()] {
        if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            resumed = true;
            ::kill(device_.pid(), SIGCONT);
        }
    });
    bool posted = true;
    for (WParam i = 1; i <= 3; ++i) posted &= win().post(echo, kPing, i, 0);
    std::thread worker([&] {
        for (WParam i = 4; i <= 6; ++i) posted &= win().post(echo, kPing, i, 0);
    });
    worker.join();
    for (int i = 0; i < 100 && pongs().size() < 7; ++i) pump(Ms(20));
    finished.set_value();
    watchdog.join();
    ::kill(device_.pid(), SIGCONT);
    EXPECT_FALSE(resumed) << "the posts waited for the host";
    EXPECT_TRUE(posted);
    EXPECT_EQ(pongs(), (std::vector<WParam>{0, 1, 2, 3, 4, 5, 6}));
    // The program gone, a post to its window fails as through the host.
    kill_child(children_.front());
    EXPECT_TRUE(wait_until([&] { return !win().is_window(echo); }, Ms(3000)));
    EXPECT_FALSE(win().post(echo, kPing, 7, 0));
    // And its end of the link is closed here as the loop goes on.
    pump(Ms(50));
    EXPECT_EQ(open_files(), files_before);
}

TEST_F(WindowsAcrossProcesses, AWindowSubclassedAfterSendsWentStraightGetsTheNextThroughItsSubclass) {
    start_role("window", "Target");
    Hwnd target = win().find_window(u"Target", std::nullopt);
    ASSERT_NE(target, 0u);
    EXPECT_EQ(win().send(target, kSwallow, 0, 0), 0);  // the window's own procedure, over the link
    auto subclasser = start_role("subclass", "Target");
    EXPECT_EQ(win().send(target, kSwallow, 0, 0), 77);
    EXPECT_EQ(win().send(target, kSinkAsk, 0, 0), 1000);
    // Its subclass gone with its program, the window answers for itself again.
    kill_child(subclasser);
    LResult answer = -1;
    for (int i = 0; i < 200 && answer != 0; ++i) {
        answer = win().send(target, kSwallow, 0, 0).value_or(-1);
        if (answer != 0) std::this_thread::sleep_for(Ms(10));
    }
    EXPECT_EQ(answer, 0);
}

TEST_F(WindowsAcrossProcesses, ASendToAProgramKilledMidSendFailsPromptly) {
    auto pid = start_role("window", "Sleepy");
    Hwnd sleepy = win().find_window(u"Sleepy", std::nullopt);
    ASSERT_NE(sleepy, 0u);
    auto killer = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(Ms(200));
        ::kill(pid, SIGKILL);
    });
    auto start = std::chrono::steady_clock::now();
    auto r = win().send(sleepy, kSleep, 0, 0);
    auto took = std::chrono::steady_clock::now() - start;
    killer.get();
    EXPECT_FALSE(r);
    EXPECT_LT(took, std::chrono::seconds(5));
    // And its window is gone with it.
    for (int i = 0; i < 100 && win().find_window(u"Sleepy", std::nullopt); ++i) std::this_thread::sleep_for(Ms(10));
    EXPECT_EQ(win().find_window(u"Sleepy", std::nullopt), 0u);
    EXPECT_FALSE(win().is_window(sleepy));
    EXPECT_FALSE(win().post(sleepy, WM_APP, 0, 0));
}

TEST_F(WindowsAcrossProcesses, ASendWithATimeoutGivesUp) {
    start_role("window", "Sleepy");
    Hwnd sleepy = win().find_window(u"Sleepy", std::nullopt);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(win().send(sleepy, kSleep, 0, 0, 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(WindowsAcrossProcesses, ASubclassOfAnotherProgramSwallowsAndPassesOnUntilItsOwnerEnds) {
    auto pid = start_role("subclass", "TestSink");
    auto swallowed = win().send(sink_, kSwallow, 0, 0);
    ASSERT_TRUE(swallowed);
    EXPECT_EQ(*swallowed, 77);
    for (auto& m : seen_) EXPECT_NE(m.message, kSwallow);
    auto passed = win().send(sink_, kSinkAsk, 4, 0);
    ASSERT_TRUE(passed);
    EXPECT_EQ(*passed, 1008);
    // A posted message goes through the subclass too.
    ASSERT_TRUE(win().post(sink_, kSwallow, 0, 0));
    pump(Ms(200));
    for (auto& m : seen_) EXPECT_NE(m.message, kSwallow);

    kill_child(pid);
    pump(Ms(100));
    auto after = win().send(sink_, kSinkAsk, 4, 0);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, 8);
}

TEST_F(WindowsAcrossProcesses, AHookSwallowsItsKeyAndLetsOthersReachTheForegroundWindow) {
    ASSERT_TRUE(win().show_window(sink_, SW_SHOW) == false);
    EXPECT_EQ(win().foreground_window(), sink_);
    auto pid = start_role("hook", "0x41");
    seen_.clear();
    win().key_event(0x41, 0);
    win().key_event(0x41, KEYEVENTF_KEYUP);
    win().key_event(0x42, 0);
    win().key_event(0x42, KEYEVENTF_KEYUP);
    pump(Ms(300));
    std::vector<std::pair<std::uint32_t, WParam>> keys;
    for (auto& m : seen_)
        if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) keys.push_back({m.message, m.wparam});
    std::vector<std::pair<std::uint32_t, WParam>> expected = {{WM_KEYDOWN, 0x42}, {WM_KEYUP, 0x42}};
    EXPECT_EQ(keys, expected);

    // Once the hooking program is gone the key comes through.
    kill_child(pid);
    pump(Ms(100));
    seen_.clear();
    win().key_event(0x41, 0);
    pump(Ms(200));
    keys.clear();
    for (auto& m : seen_)
        if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) keys.push_back({m.message, m.wparam});
    expected = {{WM_KEYDOWN, 0x41}};
    EXPECT_EQ(keys, expected);
}

TEST_F(WindowsAcrossProcesses, ASecondInstanceSeesTheNamedMutex) {
    bool existed = true;
    auto h = p_->sync().create_mutex(u"{test-single-instance}", &existed);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(existed);
    auto pid = spawn_device_program("lumo-testprog", {"mutex", "{test-single-instance}"}, device_.socket_path());
    EXPECT_EQ(wait_program(pid), 10);
    p_->sync().close(h);
    pid = spawn_device_program("lumo-testprog", {"mutex", "{test-single-instance}"}, device_.socket_path());
    EXPECT_EQ(wait_program(pid), 11);
}

TEST_F(WindowsAcrossProcesses, NamedEventsReachAcrossPrograms) {
    std::string error;
    auto other = device::connect(device_.socket_path(), u"other", &error);
    ASSERT_TRUE(other);
    bool existed = false;
    auto mine = p_->sync().create_event(u"Lumo.Test.Event", false, false, &existed);
    auto theirs = other->sync().create_event(u"Lumo.Test.Event", false, false, &existed);
    EXPECT_TRUE(existed);
    SyncHandle hs[] = {mine};
    EXPECT_EQ(p_->sync().wait(hs, false, 50), kWaitTimeout);
    auto waiter = std::async(std::launch::async, [&] { return p_->sync().wait(hs, false, 5000); });
    std::this_thread::sleep_for(Ms(100));
    ASSERT_TRUE(other->sync().set_event(theirs));
    EXPECT_EQ(waiter.get(), 0u);
    // Auto reset: the wait took it.
    EXPECT_EQ(p_->sync().wait(hs, false, 0), kWaitTimeout);
    SyncHandle bad[] = {0x7777};
    EXPECT_EQ(p_->sync().wait(bad, false, 0), kWaitFailed);
}

TEST_F(WindowsAcrossProcesses, TimersFireInDueOrderAndAKilledOneNever) {
    seen_.clear();
    ASSERT_TRUE(win().set_timer(sink_, 3, 90));
    ASSERT_TRUE(win().set_timer(sink_, 1, 30));
    ASSERT_TRUE(win().set_timer(sink_, 2, 60));
    ASSERT_TRUE(win().set_timer(sink_, 4, 40));
    ASSERT_TRUE(win().kill_timer(sink_, 4));
    std::vector<WParam> fired;
    Message m;
    while (fired.size() < 3 && win().get_message(m)) {
        if (m.message == WM_TIMER) {
            fired.push_back(m.wparam);
            win().kill_timer(sink_, static_cast<std::uint32_t>(m.wparam));
        }
    }
    EXPECT_EQ(fired, (std::vector<WParam>{1, 2, 3}));
    EXPECT_FALSE(win().set_timer(0x7777, 1, 10));  // not our window
}

TEST_F(WindowsAcrossProcesses, AMessageBoxIsAnsweredFromOutsideAndClosedByItsOwnTimer) {
    auto answer = std::async(std::launch::async, [&] {
        for (int i = 0; i < 200; ++i) {
            auto list = device_.ctl({"dialogs"});
            if (list.out.find("Question") != std::string::npos) return device_.ctl({"dialog", "press", "no"}).status;
            std::this_thread::sleep_for(Ms(10));
        }
        return -1;
    });
    EXPECT_EQ(win().message_box(sink_, u"Really?", u"Question", MB_YESNO), IDNO);
    EXPECT_EQ(answer.get(), 0);
    EXPECT_EQ(win().find_window(u"Dialog", u"Question"), 0u);

    // The owner's timers run during the box; one of them closes it as the service does.
    win().register_class(u"Closer", [this](Hwnd h, std::uint32_t msg, WParam w, LParam) -> LResult {
        if (msg == WM_TIMER && w == 1033) {
            win().kill_timer(h, 1033);
            win().post(win().find_window(u"Dialog", u"Closing"), WM_CLOSE, 0, 0);
        }
        return 0;
    });
    CreateWindowParams cp;
    cp.class_name = u"Closer";
    Hwnd closer = win().create_window(cp);
    ASSERT_TRUE(win().set_timer(closer, 1033, 200));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(win().message_box(closer, u"closing...", u"Closing", MB_OKCANCEL), IDCANCEL);
    EXPECT_GE(std::chrono::steady_clock::now() - start, Ms(150));
}

TEST_F(WindowsAcrossProcesses, AMessageBoxOnTheScreenAnswersATapEnterAndEscape) {
    // What a person does in the device window: tap the box, or press Enter or Escape.
    const std::vector<std::pair<std::vector<std::string>, int>> ways = {
        {{"tap", "240", "400"}, IDYES},           // the default button
        {{"key", "press", "0x0D"}, IDYES},
        {{"key", "press", "0x1B"}, IDCANCEL},
    };
    for (auto& [verb, expected] : ways) {
        auto act = std::async(std::launch::async, [&, v = verb] {
            for (int i = 0; i < 200; ++i) {
                if (device_.ctl({"dialogs"}).out.find("Asking") != std::string::npos) return device_.ctl(v).status;
                std::this_thread::sleep_for(Ms(10));
            }
            return -1;
        });
        EXPECT_EQ(win().message_box(sink_, u"Go on?", u"Asking", MB_YESNOCANCEL), expected) << verb[0];
        EXPECT_EQ(act.get(), 0);
    }
}

TEST_F(WindowsAcrossProcesses, ActivationMessagesReachTheOtherProgram) {
    start_role("window", "Other");
    Hwnd other = win().find_window(u"Other", std::nullopt);
    ASSERT_TRUE(win().set_foreground_window(other));
    EXPECT_EQ(win().foreground_window(), other);
    seen_.clear();
    ASSERT_TRUE(win().set_foreground_window(sink_));
    // Our own window hears of it before the call returns.
    std::vector<std::uint32_t> msgs;
    for (auto& m : seen_) msgs.push_back(m.message);
    EXPECT_EQ(msgs, (std::vector<std::uint32_t>{WM_ACTIVATE, WM_SETFOCUS}));
    EXPECT_EQ(seen_[0].wparam, WA_ACTIVE);
    EXPECT_EQ(seen_[0].lparam, LParam(other));
    auto info = win().window_info(other);
    ASSERT_TRUE(info);
    EXPECT_NE(info->process_id, p_->processes().own_id());
}

TEST(DeviceProcesses, InstalledProgramsRunSimulatedOnesExistOthersFail) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    // Put the test program into the phone as a program of its own.
    auto folder = d.dir() / "fs" / "Windows";
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(bin_dir() + "/lumo-testprog", folder / "TestProg.exe");
    std::string error;
    auto p = device::connect(d.socket_path(), u"launcher", &error);
    ASSERT_TRUE(p);
    auto& procs = p->processes();
    auto pid = procs.shell_execute(u"\\windows\\testprog.EXE", u"window Launched", true);
    ASSERT_TRUE(pid);
    Hwnd launched = 0;
    for (int i = 0; i < 300 && !launched; ++i) {
        launched = p->windows().find_window(u"Launched", std::nullopt);
        std::this_thread::sleep_for(Ms(10));
    }
    ASSERT_NE(launched, 0u);
    EXPECT_EQ(p->windows().window_info(launched)->process_id, *pid);
    bool listed = false;
    for (auto& e : procs.snapshot()) listed |= e.id == *pid && e.exe_file == u"testprog.EXE";
    EXPECT_TRUE(listed);

    EXPECT_FALSE(procs.wait_process(*pid, 50));
    ASSERT_TRUE(procs.terminate(*pid));
    EXPECT_TRUE(procs.wait_process(*pid, 3000));
    for (int i = 0; i < 100 && p->windows().is_window(launched); ++i) std::this_thread::sleep_for(Ms(10));
    EXPECT_FALSE(p->windows().is_window(launched));

    auto mail = procs.shell_execute(u"\\Windows\\tmail.exe", u"", true);
    ASSERT_TRUE(mail);
    EXPECT_NE(p->windows().find_window(u"tmail", std::nullopt), 0u);
    EXPECT_TRUE(procs.terminate(*mail));
    EXPECT_EQ(p->windows().find_window(u"tmail", std::nullopt), 0u);

    EXPECT_FALSE(procs.shell_execute(u"\\Windows\\nothing.exe", u"", true));
    EXPECT_FALSE(procs.shell_execute(u"\\..\\..\\etc\\passwd", u"", true));
    EXPECT_EQ(procs.host_path(u"\\Windows\\TESTPROG.exe"), folder / "TestProg.exe");
    EXPECT_FALSE(procs.host_path(u"\\Windows\\..\\..\\x"));
}

TEST(DeviceClock, BootAgeAndLocalTimeFollowTheControlTool) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto p = device::connect(d.socket_path(), u"clock", &error);
    ASSERT_TRUE(p);
    EXPECT_LT(p->clock().tick_count(), 60000u);
    ASSERT_EQ(d.ctl({"time", "boot-age", "600000"}).status, 0);
    auto tick = p->clock().tick_count();
    EXPECT_GE(tick, 600000u);
    EXPECT_LT(tick, 610000u);
    ASSERT_EQ(d.ctl({"time", "set", "2024-02-29T23:59:30"}).status, 0);
    auto t = p->clock().local_time();
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.day_of_week, 4);  // a Thursday
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(d.ctl({"time", "set", "2024-13-01T00:00"}).status, 2);
}

TEST(DevctlWindows, ListsPostsAndWaits) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    ASSERT_EQ(d.ctl({"start", "\\Windows\\tmail.exe"}).status, 0);
    EXPECT_EQ(d.ctl({"wait", "window", "tmail", "--foreground", "--timeout", "2"}).status, 0);
    EXPECT_EQ(d.ctl({"wait", "window", "nothing", "--timeout", "0.2"}).status, 1);
    auto list = d.ctl({"windows"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("\ttmail.exe\t1\t1\ttmail\tMessaging\n"), std::string::npos) << list.out;
    EXPECT_EQ(d.ctl({"post", "tmail", "0x10", "0", "0"}).status, 0);  // WM_CLOSE
    EXPECT_EQ(d.ctl({"wait", "window", "tmail", "--gone", "--timeout", "2"}).status, 0);
    EXPECT_EQ(d.ctl({"post", "0x1234", "1", "0", "0"}).status, 1);
    EXPECT_EQ(d.ctl({"dialog", "press", "ok"}).status, 1);
    EXPECT_EQ(d.ctl({"start", "\\Windows\\missing.exe"}).status, 1);
}

}  // namespace
}  // namespace lumo::test
