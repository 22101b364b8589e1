// The password keypad on a headless phone running the service and the lock screen, driven with
// lumo-devctl as a person would: the code typed with taps, a wrong code, the grace time, a code
// that is no code, the shuffled digits, an emergency call through the phone's telephony, and a
// lock that holds against every other way in while the code is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"
#include "lumo/platform/winuser.h"
#include "lumo/protocol/protocol.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;
namespace proto = protocol;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

// Where the 480x800 portrait keypad's keys are: three columns of 160, rows of 112 from the
// bottom (the emergency keypad's 120 higher, over its button bar).
int column_x(int col) { return 80 + 160 * col; }
int row_y(int row, bool emergency = false) { return (emergency ? 232 : 352) + 56 + 112 * row; }
struct Point {
    int x, y;
};
Point digit(int d, bool emergency = false) {
    if (d == 0) return {column_x(1), row_y(3, emergency)};
    return {column_x((d - 1) % 3), row_y((d - 1) / 3, emergency)};
}

class KeypadOnDevice : public testing::Test {
protected:
    // The phone with its shell, the service and the hidden lock screen (no first-start boxes:
    // the settings key is there before the service's first start); then a code of 1234.
    using Values = std::vector<std::pair<std::string, std::string>>;
    void boot(const Values& extra = {}, const Values& options = {}) {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        for (auto& [name, value] : options) {
            auto space = value.find(' ');
            set(name, value.substr(0, space), value.substr(space + 1));
        }
        set("DebugOn", "binary", "01");
        set("WakeUpDelayMS", "dword", "300");
        set("CallerID", "binary", "01");
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Vardex2", "--hidden", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
        code_on(extra);
    }
    void code_on(const std::vector<std::pair<std::string, std::string>>& extra = {}) {
        set("PasswordLock", "binary", "01");
        set("SavedPassword", "binary", "31323334");
        set("PasswordTime", "dword", "0");
        for (auto& [name, value] : extra) {
            auto space = value.find(' ');
            set(name, value.substr(0, space), value.substr(space + 1));
        }
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string ok(const std::vector<std::string>& args) {
        auto r = d_.ctl(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        return r.out;
    }
    void tap(Point p) { ok({"tap", std::to_string(p.x), std::to_string(p.y)}); }
    std::string log() { return d_.ctl({"log", "lumo"}).out; }
    int count(const std::string& text) {
        auto l = log();
        int n = 0;
        for (auto at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
        return n;
    }
    bool log_shows(const std::string& text, int at_least = 1) {
        return wait_until([&] { return count(text) >= at_least; }, Ms(10000), Ms(50));
    }
    // Locks, waits past the second of the lock (a grace time of 0 is then over) and slides.
    void lock_and_slide() {
        ASSERT_EQ(d_.ctl({"lock"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "10"}).status, 0);
        std::this_thread::sleep_for(Ms(1300));
        ok({"drag", "88", "740", "440", "740", "400"});
    }
    bool lumo_in_front() { return d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "5"}).status == 0; }
    bool lumo_hidden() { return d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status == 0; }
    void type_code(const std::string& code) {
        for (char ch : code) tap(digit(ch - '0'));
    }
    std::vector<std::uint8_t> screenshot(const std::string& name) {
        auto file = d_.dir() / name;
        EXPECT_EQ(d_.ctl({"screenshot", file.string()}).status, 0);
        if (const char* keep = std::getenv("LUMO_SHOT_DIR"))
            std::filesystem::copy_file(file, std::filesystem::path(keep) / name,
                                       std::filesystem::copy_options::overwrite_existing);
        auto pic = make_sdl_imaging()->open(to_u16(file.string()));
        if (!pic) return {};
        std::vector<std::uint8_t> rgba(std::size_t(pic->width()) * pic->height() * 4);
        pic->read_rgba(pic->width(), pic->height(), rgba);
        return rgba;
    }
    static int differing(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int x0, int y0, int x1,
                         int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                std::size_t i = (std::size_t(y) * 480 + x) * 4;
                n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
            }
        return n;
    }
    DeviceProcess d_;
};

TEST_F(KeypadOnDevice, TheRightCodeTappedUnlocksAfterAWrongOneWasCleared) {
    ASSERT_NO_FATAL_FAILURE(boot());
    lock_and_slide();
    ASSERT_TRUE(log_shows("PasswordEntry"));
    auto keypad = screenshot("keypad.png");
    type_code("1235");
    ASSERT_TRUE(log_shows("PW Pressed 5(3)"));
    std::this_thread::sleep_for(Ms(800));
    EXPECT_TRUE(lumo_in_front()) << "a wrong code leaves the phone locked";
    EXPECT_EQ(count("UNLOCK"), 0);
    // The digit boxes are empty again: the keypad looks as it did when it opened, but for its
    // header.
    auto after = screenshot("wrong.png");
    ASSERT_FALSE(keypad.empty());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(differing(keypad, after, 0, 230, 480, 800), 0);
    EXPECT_GT(differing(keypad, after, 0, 0, 480, 130), 0) << "the header says the code was wrong";
    type_code("1234");
    EXPECT_TRUE(lumo_hidden());
    EXPECT_EQ(count("UNLOCK"), 1);
}

TEST_F(KeypadOnDevice, TurnedToLandscapeTheKeysBesideTheBoxesTakeTheTappedCode) {
    ASSERT_NO_FATAL_FAILURE(boot());
    ok({"rotate", "90"});
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_TRUE(lumo_in_front());
    std::this_thread::sleep_for(Ms(1300));
    // 800x480: the track is 200 units wide around the centre.
    ok({"drag", "248", "420", "740", "420", "400"});
    ASSERT_TRUE(log_shows("PasswordEntry"));
    screenshot("keypad-landscape.png");
    // Keys of 128 x 112 from x 408, the bottom row at the bottom of the screen.
    auto key = [](int d) {
        int col = d == 0 ? 1 : (d - 1) % 3, row = d == 0 ? 3 : (d - 1) / 3;
        return Point{408 + 64 + 128 * col, 32 + 56 + 112 * row};
    };
    for (int d : {1, 2, 3, 4}) tap(key(d));
    EXPECT_TRUE(lumo_hidden());
    EXPECT_EQ(count("UNLOCK"), 1);
}

TEST_F(KeypadOnDevice, WithinTheGraceTimeOrWithABadCodeTheSliderUnlocks) {
    ASSERT_NO_FATAL_FAILURE(boot({{"PasswordTime", "dword 300"}}));
    lock_and_slide();
    EXPECT_TRUE(lumo_hidden());
    EXPECT_EQ(count("PasswordEntry"), 0);
    // A code with a byte that is no digit: no code at all.
    set("PasswordTime", "dword", "0");
    set("SavedPassword", "binary", "31326134");
    std::this_thread::sleep_for(Ms(1500));  // past the wake-up window of the last unlock
    lock_and_slide();
    EXPECT_TRUE(lumo_hidden());
    EXPECT_EQ(count("PasswordEntry"), 0);
    EXPECT_EQ(count("UNLOCK"), 2);
}

TEST_F(KeypadOnDevice, ShuffledDigitsMoveBetweenOpeningsWhileEmergencyAndCancelStay) {
    // The lock screen reads its options as it starts.
    ASSERT_NO_FATAL_FAILURE(boot({}, {{"ShufflePassword", "binary 01"}}));
    lock_and_slide();
    ASSERT_TRUE(log_shows("PasswordEntry"));
    auto first = screenshot("shuffle1.png");
    tap({column_x(2), row_y(3)});  // cancel
    ASSERT_TRUE(log_shows("Keypad2Normal 1"));
    std::this_thread::sleep_for(Ms(800));
    ok({"drag", "88", "740", "440", "740", "400"});
    ASSERT_TRUE(log_shows("PasswordEntry", 2));
    auto second = screenshot("shuffle2.png");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_GT(differing(first, second, 0, 352, 480, 688), 1000) << "the digit rows differ";
    EXPECT_EQ(differing(first, second, 0, 688, 160, 800), 0) << "the emergency key stays";
    EXPECT_EQ(differing(first, second, 320, 688, 480, 800), 0) << "the cancel key stays";
    EXPECT_TRUE(lumo_in_front());
}

TEST_F(KeypadOnDevice, AnEmergencyNumberIsDialledAndANumberThatIsNoneIsNot) {
    ASSERT_NO_FATAL_FAILURE(boot());
    lock_and_slide();
    ASSERT_TRUE(log_shows("PasswordEntry"));
    tap({column_x(0), row_y(3)});
    ASSERT_TRUE(log_shows("Emergency keypad"));
    std::this_thread::sleep_for(Ms(600));
    for (int d : {1, 1, 2}) tap(digit(d, true));
    tap({120, 740});  // the call button
    ASSERT_TRUE(wait_until([&] { return ok({"gsm", "list"}).find("\tdialing\toutbound\t112\t") != std::string::npos; },
                           Ms(5000)))
        << ok({"gsm", "list"});
    EXPECT_TRUE(log_shows("Validate EC 1"));
    EXPECT_TRUE(log_shows("EC Dialing"));
    screenshot("emergency-calling.png");
    ok({"gsm", "accept"});
    EXPECT_TRUE(log_shows("EC Talking"));
    std::this_thread::sleep_for(Ms(2200));
    screenshot("emergency-connected.png");
    // A key on a connected call is the phone program's tone to send.
    tap(digit(5, true));
    EXPECT_TRUE(wait_until([&] { return ok({"log"}).find("phone: key tone 5") != std::string::npos; }, Ms(5000)));
    EXPECT_TRUE(lumo_in_front()) << "the emergency keypad stays over the phone's own screens";
    tap({360, 740});  // hang up
    EXPECT_TRUE(wait_until([&] { return ok({"gsm", "list"}).empty(); }, Ms(5000)));
    EXPECT_TRUE(log_shows("EC Ended"));
    // 555 is no emergency number: refused, nothing dialled.
    ok({"drag", "436", "160", "437", "160", "400"});  // the delete arrow held: all of it
    for (int d : {5, 5, 5}) tap(digit(d, true));
    tap({120, 740});
    EXPECT_TRUE(log_shows("Validate EC 0"));
    std::this_thread::sleep_for(Ms(300));
    EXPECT_EQ(ok({"gsm", "list"}), "");
    // Back to the code, which still unlocks.
    std::this_thread::sleep_for(Ms(3500));
    tap({360, 740});
    ASSERT_TRUE(log_shows("Emergency keypad closed"));
    std::this_thread::sleep_for(Ms(600));
    type_code("1234");
    EXPECT_TRUE(lumo_hidden());
}

// With the code needed, nothing but the code opens the phone.
TEST_F(KeypadOnDevice, TheLockHoldsAgainstEveryOtherWayIn) {
    // A phone with a code locks as it boots, the code asked for from the next second.
    ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
    set("DebugOn", "binary", "01");
    set("CallerID", "binary", "01");
    code_on();
    ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
    // After the boot delay (DelayBootUpMS, 5 s).
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "20"}).status, 0);
    ASSERT_TRUE(log_shows("WM_LOCK_PASSWORD 1"));
    std::this_thread::sleep_for(Ms(1300));
    auto still_locked = [&](const char* what) {
        EXPECT_TRUE(lumo_in_front()) << what;
        EXPECT_EQ(count("UNLOCK"), 0) << what;
    };
    // Every key, over the lock screen and over the keypad.
    for (int vk = 1; vk < 255; ++vk) {
        if (vk == 0xDF) continue;  // the power key, below
        d_.ctl({"key", std::to_string(vk)});
    }
    still_locked("keys");
    // Taps and drags anywhere (the slider's drags open the keypad).
    for (int y = 20; y < 800; y += 90)
        for (int x = 20; x < 480; x += 110) d_.ctl({"tap", std::to_string(x), std::to_string(y)});
    ok({"drag", "0", "0", "479", "799", "300"});
    ok({"drag", "88", "740", "440", "740", "400"});
    still_locked("taps and drags");
    for (int vk = 1; vk < 255; ++vk)
        if (vk != 0xDF) d_.ctl({"key", std::to_string(vk)});
    still_locked("keys over the keypad");
    // A turn while the keypad is up, and back.
    ok({"drag", "88", "740", "440", "740", "400"});
    ok({"rotate", "90"});
    for (int x = 420; x < 800; x += 128)
        for (int y = 40; y < 480; y += 112) d_.ctl({"tap", std::to_string(x), std::to_string(y)});
    ok({"rotate", "0"});
    still_locked("rotation");
    // The power button off and on.
    ok({"power", "button"});
    std::this_thread::sleep_for(Ms(500));
    ok({"power", "button"});
    still_locked("power button");
    // A call answered and ended.
    ok({"gsm", "call", "5551234"});
    std::this_thread::sleep_for(Ms(800));
    ok({"gsm", "accept"});
    std::this_thread::sleep_for(Ms(800));
    ok({"gsm", "cancel"});
    std::this_thread::sleep_for(Ms(1500));
    still_locked("a call");
    // A second start of the lock screen with a command line of its own.
    ok({"start", "\\Program Files\\Lumo\\lumo.exe", "-unlock"});
    std::this_thread::sleep_for(Ms(500));
    still_locked("lumo -unlock");
    // Another program started while locked is covered again.
    ok({"start", "iexplore.exe"});
    std::this_thread::sleep_for(Ms(1500));
    still_locked("a program started");
    // Messages any program can post: the unlock request only asks for the code.
    std::string error;
    auto p = device::connect(d_.socket_path(), u"intruder", &error);
    ASSERT_TRUE(p) << error;
    Hwnd lumo = p->windows().find_window(u"Lumo", u"Lumo");
    ASSERT_NE(lumo, 0u);
    p->windows().post(lumo, proto::WM_Unlock, 0, 0);
    p->windows().post(lumo, proto::WM_Unlock, 1, 0);
    for (WParam id = 0; id < 64; ++id) p->windows().post(lumo, WM_COMMAND, id, 0);
    std::this_thread::sleep_for(Ms(800));
    still_locked("posted messages");
    // The code itself still works: the checks above would have seen an unlock.
    ok({"key", "27"});
    std::this_thread::sleep_for(Ms(600));
    ok({"drag", "88", "740", "440", "740", "400"});
    ASSERT_TRUE(log_shows("PasswordEntry"));
    std::this_thread::sleep_for(Ms(600));
    type_code("1234");
    EXPECT_TRUE(lumo_hidden());
    EXPECT_EQ(count("UNLOCK"), 1);
}

}  // namespace
}  // namespace lumo::test
