// What only the in-process fake offers tests: its manual clock driving the loop, scripted
// programs and message boxes, and several programs inside one.
#include <thread>

#include "lumo/platform/fake/fake_platform.h"
#include "window_harness.h"

namespace lumo::test {
namespace {

using namespace platform;
using platform::fake::DialogInfo;
using platform::fake::FakePlatform;

class FakeOnly : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(w().register_class(u"Rec", rec.proc(w()))); }
    Windows& w() { return fake.windows(); }
    Hwnd make(const std::string& role, std::uint32_t style = 0) {
        rec.expect_create(role);
        Hwnd h = w().create_window({u"Rec", std::u16string(role.begin(), role.end()), style, 0,
                                    {0, 0, 10, 10}, 0});
        return h;
    }
    FakePlatform fake;
    Recorder rec;
};

TEST_F(FakeOnly, GetMessageRunsTheClockToTheNextTimerAndEndsWhenNothingIsLeft) {
    Hwnd a = make("A");
    ASSERT_TRUE(w().set_timer(a, 7, 250));
    Message m;
    ASSERT_TRUE(w().get_message(m));
    EXPECT_EQ(m, (Message{a, WM_TIMER, 7, 0}));
    EXPECT_EQ(fake.now(), 250u);
    w().kill_timer(a, 7);
    // Nothing can ever arrive: the loop ends instead of hanging, and it is not a quit.
    EXPECT_FALSE(w().get_message(m));
    EXPECT_EQ(m, (Message{0, WM_NULL, 0, 0}));
}

TEST_F(FakeOnly, RegistryNotificationsReachTheLoopAndDispatchToNothing) {
    constexpr Hwnd kSink = 0x5150;  // not a window: a notification sink
    ASSERT_TRUE(fake.registry().create_key(Root::LocalMachine, u"State"));
    NotificationRequest r;
    r.root = Root::LocalMachine;
    r.key = u"State";
    r.value = u"Unread";
    r.target = kSink;
    r.message = WM_USER + 50;
    r.batch_ms = 300;
    ASSERT_NE(fake.broker().register_notification(r), 0u);
    ASSERT_TRUE(fake.registry().set_dword(Root::LocalMachine, u"State", u"Unread", 4));
    Message m;
    ASSERT_TRUE(w().get_message(m));  // waits out the batch on the manual clock
    EXPECT_EQ(m.hwnd, kSink);
    EXPECT_EQ(m.message, WM_USER + 50);
    EXPECT_EQ(m.wparam, 4u);
    EXPECT_GE(fake.now(), 300u);
    EXPECT_EQ(w().dispatch(m), 0);
}

TEST_F(FakeOnly, RunForDispatchesTimersAtTheirDueTimes) {
    Hwnd a = make("A");
    std::vector<std::uint64_t> at;
    rec.handler = [&](Hwnd, std::uint32_t msg, WParam, LParam) -> std::optional<LResult> {
        if (msg == WM_TIMER) at.push_back(fake.now());
        return std::nullopt;
    };
    w().set_timer(a, 1, 40);
    fake.run_for(130);
    EXPECT_EQ(at, (std::vector<std::uint64_t>{40, 80, 120}));
    EXPECT_EQ(fake.now(), 130u);
}

TEST_F(FakeOnly, WorkerThreadPostsArriveCompleteAndInOrder) {
    Hwnd a = make("A");
    constexpr int kCount = 2000;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) w().post(a, WM_USER, WParam(i), 0);
    });
    int expected = 0;
    Message m;
    while (expected < kCount) {
        if (!w().peek_message(m, true)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(m.wparam, WParam(expected));
        ++expected;
    }
    worker.join();
}

TEST_F(FakeOnly, InstalledProgramsStartInTheirOwnProcess) {
    std::uint32_t started = 0;
    std::u16string args;
    fake.install_program(u"\\Program Files\\Lumo\\lumo.exe", [&](std::uint32_t pid, std::u16string_view a) {
        started = pid;
        args = a;
        EXPECT_EQ(fake.current_process(), pid);
        ASSERT_TRUE(w().register_class(u"Lumo", rec.proc(w())));
        w().create_window({u"Lumo", u"Lumo", 0, 0, {}, 0});
    });
    auto pid = fake.processes().shell_execute(u"\\program files\\LUMO\\lumo.exe", u"-hide", false);
    ASSERT_TRUE(pid);
    EXPECT_EQ(*pid, started);
    EXPECT_EQ(args, u"-hide");
    EXPECT_EQ(fake.current_process(), fake.processes().own_id());
    EXPECT_FALSE(fake.processes().shell_execute(u"\\Windows\\tmail.exe", u"", true));

    auto launches = fake.launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].path, u"\\program files\\LUMO\\lumo.exe");
    EXPECT_EQ(launches[0].arguments, u"-hide");
    EXPECT_FALSE(launches[0].shown);
    EXPECT_EQ(launches[0].process_id, pid);
    EXPECT_TRUE(launches[1].shown);
    EXPECT_FALSE(launches[1].process_id);

    Hwnd lumo = w().find_window(u"lumo", u"lumo");
    ASSERT_NE(lumo, 0u);
    EXPECT_EQ(w().window_info(lumo)->process_id, *pid);
    auto snapshot = fake.processes().snapshot();
    EXPECT_TRUE(std::any_of(snapshot.begin(), snapshot.end(), [&](const ProcessEntry& e) {
        return e.id == *pid && e.exe_file == u"lumo.exe";
    }));
}

TEST_F(FakeOnly, EndingAProcessRemovesEverythingItOwned) {
    auto pid = fake.add_process(u"\\Windows\\other.exe");
    Hwnd mine = make("M", WS_VISIBLE);
    Hwnd theirs = 0;
    SyncHandle event = 0;
    {
        auto scope = fake.as_process(pid);
        ASSERT_TRUE(w().register_class(u"Rec", rec.proc(w())));
        theirs = make("T", WS_VISIBLE);
        ASSERT_TRUE(w().set_timer(theirs, 1, 10));
        w().subclass(mine, [](Hwnd, std::uint32_t, WParam, LParam) { return LResult(77); });
        w().set_keyboard_hook([](const KeyEvent&) { return true; });
        event = fake.sync().create_event(u"TheirEvent", true, true);
    }
    EXPECT_EQ(w().send(mine, WM_USER, 0, 0), std::optional<LResult>(77));
    EXPECT_FALSE(fake.processes().terminate(fake.processes().own_id()));
    EXPECT_TRUE(fake.processes().terminate(pid));
    EXPECT_FALSE(fake.processes().terminate(pid));
    EXPECT_FALSE(fake.is_running(pid));
    EXPECT_TRUE(fake.processes().wait_process(pid, 0));

    EXPECT_FALSE(w().is_window(theirs));
    EXPECT_EQ(w().foreground_window(), mine);
    EXPECT_EQ(w().send(mine, WM_USER, 0, 0), std::optional<LResult>(0));
    SyncHandle one[]{event};
    EXPECT_EQ(fake.sync().wait(one, false, 0), kWaitFailed);
    bool existed = true;
    fake.sync().create_event(u"TheirEvent", true, false, &existed);
    EXPECT_FALSE(existed);
    fake.run_for(100);  // its timer is gone with its window
    fake.clear_posted();
    w().key_event(0x30, 0);
    ASSERT_EQ(fake.posted().size(), 1u);
    EXPECT_EQ(fake.posted().front(), (Message{mine, WM_KEYDOWN, 0x30, 0}));
    // Its classes went too.
    auto scope = fake.as_process(pid);
    EXPECT_TRUE(w().register_class(u"Rec", rec.proc(w())));
}

TEST_F(FakeOnly, DefaultResponderPressesTheDefaultButton) {
    struct Case {
        std::uint32_t flags;
        int answer;
    };
    const Case cases[]{
        {MB_OK, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2 | MB_ICONHAND, IDRETRY},
        {MB_RETRYCANCEL, IDRETRY},
    };
    for (auto& c : cases) EXPECT_EQ(w().message_box(0, u"text", u"caption", c.flags), c.answer) << c.flags;
    auto shown = fake.dialogs();
    ASSERT_EQ(shown.size(), std::size(cases));
    EXPECT_EQ(shown[3].text, u"text");
    EXPECT_EQ(shown[3].caption, u"caption");
    EXPECT_EQ(shown[3].flags, MB_YESNO | MB_DEFBUTTON2);
    EXPECT_EQ(shown[3].answer, IDNO);
    EXPECT_EQ(shown[3].process_id, fake.processes().own_id());
}

TEST_F(FakeOnly, ResponderSeesTheBoxAndMayWait) {
    Hwnd a = make("A", WS_VISIBLE);
    w().set_timer(a, 1, 100);
    int asked = 0;
    fake.set_dialog_responder([&](const DialogInfo& box) -> std::optional<int> {
        ++asked;
        EXPECT_FALSE(box.answer);
        EXPECT_TRUE(w().is_window(box.hwnd));
        EXPECT_EQ(box.owner, a);
        if (fake.now() < 300) return std::nullopt;
        return IDYES;  // not on an OK/Cancel box: refused, the box stays open
    });
    rec.handler = [&](Hwnd, std::uint32_t msg, WParam, LParam) -> std::optional<LResult> {
        if (msg == WM_TIMER && fake.now() >= 500) fake.press_dialog(IDOK);
        return std::nullopt;
    };
    EXPECT_EQ(w().message_box(a, u"t", u"c", MB_OKCANCEL | MB_DEFBUTTON2), IDOK);
    EXPECT_EQ(fake.now(), 500u);
    EXPECT_GT(asked, 3);
}

TEST_F(FakeOnly, BoxWithNothingLeftToWaitForTakesItsDefault) {
    fake.set_dialog_responder([](const DialogInfo&) { return std::nullopt; });
    EXPECT_EQ(w().message_box(0, u"t", u"c", MB_YESNO | MB_DEFBUTTON2), IDNO);
}

TEST_F(FakeOnly, QuitDuringABoxClosesItAndStillEndsTheLoop) {
    Hwnd a = make("A");
    fake.set_dialog_responder([](const DialogInfo&) { return std::nullopt; });
    w().post_quit(9);
    w().post(a, WM_USER, 0, 0);  // after the quit: never reached by the box
    EXPECT_EQ(w().message_box(a, u"t", u"c", MB_YESNOCANCEL), IDCANCEL);
    Message m;
    ASSERT_TRUE(w().peek_message(m, true));
    EXPECT_EQ(m.message, WM_USER);
    EXPECT_FALSE(w().get_message(m));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wparam, 9u);
}

TEST_F(FakeOnly, ClocksFollowBootAgeAndLocalTimeSettings) {
    fake.advance(1000);
    EXPECT_EQ(fake.clock().tick_count(), 1000u);
    fake.set_boot_age(60000);
    EXPECT_EQ(fake.clock().tick_count(), 60000u);
    fake.advance(500);
    EXPECT_EQ(fake.clock().tick_count(), 60500u);
    // The tick count wraps like the phone's after 49.7 days.
    fake.set_boot_age(0xFFFFFFFFull);
    fake.advance(2);
    EXPECT_EQ(fake.clock().tick_count(), 1u);

    fake.set_local_time({2012, 2, 0, 29, 23, 59, 59, 500});
    fake.advance(600);
    EXPECT_EQ(fake.clock().local_time(), (LocalTime{2012, 3, 4, 1, 0, 0, 0, 100}));
}

}  // namespace
}  // namespace lumo::test
