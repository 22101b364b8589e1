// The notification row and its views on a real headless phone with the service: missed calls
// and texts arrive through lumo-devctl, a tap on an icon opens its box, sliding unlocks, and the
// phone's programs say (in the device log) what they were asked to open.
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "device_process.h"

namespace lumo::test {
namespace {

using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";
// Where the row's icons stand on the 480 × 800 phone: the rightmost and the one left of it.
constexpr int kRowY = 650, kFirstIconX = 446, kSecondIconX = 383;

class ViewsOnDevice : public testing::Test {
protected:
    void boot(const std::vector<std::pair<std::string, std::string>>& bytes) {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        ASSERT_EQ(d_.ctl({"time", "set", "2026-12-07T09:00"}).status, 0);
        set("DebugOn", "01");
        for (auto& [name, value] : bytes) set(name, value);
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"lock"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "10"}).status, 0);
        // The service's start-up values have reached the lock screen.
        ASSERT_TRUE(log_shows("lumo", "Vardex Locked: 1"));
        std::this_thread::sleep_for(Ms(1000));
    }
    void set(const std::string& name, const std::string& byte) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, "binary", byte});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void ok(const std::vector<std::string>& args) {
        auto r = d_.ctl(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    }
    bool log_shows(const std::string& program, const std::string& text, Ms limit = Ms(10000)) {
        return wait_until(
            [&] {
                auto args = program.empty() ? std::vector<std::string>{"log"} : std::vector<std::string>{"log", program};
                return d_.ctl(args).out.find(text) != std::string::npos;
            },
            limit);
    }
    // Three missed calls: two from contacts (one with a picture), one from an unknown number.
    void missed_calls() {
        auto pictures = std::filesystem::path(d_.dir()) / "fs" / "My Documents" / "My Pictures";
        ok({"contact", "add", "Ada Lovelace", "5550101", "--picture", (pictures / "Dunes.jpg").string()});
        ok({"contact", "add", "Charles Babbage", "5550102"});
        for (auto number : {"5550101", "5550102", "5550199"}) {
            ok({"gsm", "call", number});
            std::this_thread::sleep_for(Ms(300));
            ok({"gsm", "cancel"});
        }
        // The calls are over: the lock screen is asked for again.
        ok({"lock"});
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "10"}).status, 0);
    }
    void tap(int x, int y) { ok({"tap", std::to_string(x), std::to_string(y)}); }
    // Slides the knob from its left rest place to the right end.
    void slide_right() { ok({"drag", "88", "740", "460", "740", "400"}); }
    void shot(const std::string& name) {
        std::this_thread::sleep_for(Ms(700));  // the box has faded in
        auto file = d_.dir() / name;
        EXPECT_EQ(d_.ctl({"screenshot", file.string()}).status, 0);
        if (const char* keep = std::getenv("LUMO_SHOT_DIR"))
            std::filesystem::copy_file(file, std::filesystem::path(keep) / name,
                                       std::filesystem::copy_options::overwrite_existing);
    }
    std::string value(const std::string& key, const std::string& name) {
        return d_.ctl({"reg", "get", "HKCU", key, name}).out;
    }

    DeviceProcess d_;
};

TEST_F(ViewsOnDevice, TextsAndMissedCallsOpenTheirViewsAndTheServiceOpensTheMessage) {
    ASSERT_NO_FATAL_FAILURE(boot({{"LockNotification", "01"}, {"ShowTask", "00"}}));
    ASSERT_NO_FATAL_FAILURE(missed_calls());
    for (int i = 1; i <= 11; ++i) ok({"sms", "send", "Bob", "Older message " + std::to_string(i)});
    ok({"sms", "send", "Ada Lovelace", std::string(2000, 'x').replace(0, 12, "Long news: ")});
    EXPECT_EQ(value("System\\State\\Phone", "Missed Call Count"), "dword 3\n");
    std::this_thread::sleep_for(Ms(1500));  // the counts reach the row
    shot("views-row.png");

    // The missed calls, newest first.
    tap(kSecondIconX, kRowY);
    ASSERT_TRUE(log_shows("lumo", "MissedCall loading gfx End 3")) << d_.ctl({"log", "lumo"}).out;
    shot("views-missed.png");
    // A tap on the box leaves it: the phone's count goes to 0.
    tap(240, 400);
    ASSERT_TRUE(log_shows("lumo", "MissedCall Unloading gfx"));
    EXPECT_TRUE(wait_until([&] { return value("System\\State\\Phone", "Missed Call Count") == "dword 0\n"; }, Ms(5000)));

    // The newest text, cut to fit.
    tap(kFirstIconX, kRowY);
    ASSERT_TRUE(log_shows("lumo", "Msg Ada Lovelace(")) << d_.ctl({"log", "lumo"}).out;
    shot("views-message.png");
    // Slide to view: unlocked, and the service has the mail program show the message.
    slide_right();
    ASSERT_TRUE(log_shows("lumo", "open pending 12(2)"));
    EXPECT_TRUE(log_shows("", "tmail.exe -service \"SMS\" -mid "));
    EXPECT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "5"}).status, 0);
}

TEST_F(ViewsOnDevice, WithoutLockNotificationTheUnlockStartsThePrograms) {
    ASSERT_NO_FATAL_FAILURE(boot({{"ShowTask", "00"}}));
    ASSERT_NO_FATAL_FAILURE(missed_calls());
    ok({"sms", "send", "Bob", "Hello"});
    std::this_thread::sleep_for(Ms(1500));
    // Missed calls: the phone program opens its call history after the unlock.
    tap(kSecondIconX, kRowY);
    ASSERT_TRUE(log_shows("lumo", "MissedCall loading gfx End 3"));
    slide_right();
    EXPECT_TRUE(log_shows("", "phone: call history opened"));

    // A text without LockNotification: no view, the mail program's inbox after the unlock. (Right
    // after an unlock a lock request only hands the screen back.)
    std::this_thread::sleep_for(Ms(3000));
    ok({"lock"});
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "10"}).status, 0);
    std::this_thread::sleep_for(Ms(800));
    tap(kFirstIconX, kRowY);
    ASSERT_TRUE(log_shows("lumo", "UnreadAction 2")) << d_.ctl({"log", "lumo"}).out;
    slide_right();
    EXPECT_TRUE(log_shows("", "tmail.exe -service \"SMS\" -open \"inbox\"")) << d_.ctl({"log"}).out << d_.ctl({"log", "lumo"}).out;

    // The user's own program for texts comes first.
    ok({"reg", "set", "HKCU", kRoot + "\\S2VEXE", "2File", "string", "\\Windows\\tasks.exe"});
    ok({"reg", "set", "HKCU", kRoot + "\\S2VEXE", "2Parameters", "string", "inbox=mine"});
    std::this_thread::sleep_for(Ms(3000));
    ok({"lock"});
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "10"}).status, 0);
    std::this_thread::sleep_for(Ms(800));
    tap(kFirstIconX, kRowY);
    slide_right();
    EXPECT_TRUE(log_shows("", "tasks.exe inbox=mine"));
}

TEST_F(ViewsOnDevice, AFiredReminderOpensItsViewAndDismissingItDismissesItInTheShell) {
    ASSERT_NO_FATAL_FAILURE(
        boot({{"LockNotification", "01"}, {"AutoDismissNotification", "01"}, {"ShowTask", "01"}}));
    ok({"task", "add", "Buy milk"});
    ok({"task", "add", "File the tax return", "--due", "2026-12-09", "--importance", "2"});
    ok({"reminder", "fire", "Dentist", "--location", "High Street"});
    ASSERT_TRUE(log_shows("lumo", "Nt loading gfx")) << d_.ctl({"log", "lumo"}).out;
    shot("views-reminder.png");
    tap(240, 400);
    EXPECT_TRUE(log_shows("", "reminder dismissed"));
    EXPECT_TRUE(wait_until([&] { return value("System\\State\\Shell\\Reminders", "Active") == "string \n"; }, Ms(5000)));
    // The task list from the rightmost icon; tasks.exe after the unlock.
    std::this_thread::sleep_for(Ms(800));
    tap(kFirstIconX, kRowY);
    ASSERT_TRUE(log_shows("lumo", "Task loading gfx"));
    shot("views-tasks.png");
    slide_right();
    EXPECT_TRUE(log_shows("", "started simulated tasks.exe")) << d_.ctl({"log"}).out << d_.ctl({"log", "lumo"}).out;
}

}  // namespace
}  // namespace lumo::test
