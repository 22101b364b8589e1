// The password keypad and the emergency keypad fed messages over the fake: the code check with
// its wrong-code animation, delete, cancel, the shuffled digits, the grace time and the lock's
// conditions, hardware keys, the emergency number's validation and call through the service,
// call progress and its timer, leaving on the service's events, and the layout on both screen
// sizes in both orientations.
#include <algorithm>
#include <array>
#include <set>

#include "lock_fixture.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class Keypad : public LockFixture {
protected:
    void SetUp() override {
        set_byte(u"DebugOn", 1);
        set_byte(u"PasswordLock", 1);
        set_code("1234");
        set_number(u"PasswordTime", 0);
        // The phone program, which takes the tones of a connected call.
        auto scope = fake.as_process(78);
        fake.windows().register_class(u"MSCprog", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
            if (msg == kPhoneKeyToneMessage) tones_to_phone.push_back(char16_t(w));
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"MSCprog";
        cp.title = u"Phone";
        fake.windows().create_window(cp);
    }
    void set_code(std::string_view code) {
        auto key = catalogue::open_root(fake.registry());
        std::vector<std::byte> bytes;
        for (char ch : code) bytes.push_back(std::byte(ch));
        catalogue::write_blob(fake.registry(), key->key, u"SavedPassword", bytes);
    }
    void started() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        // Past the second of the lock: the grace time of 0 is over.
        fake.run_for(1500);
        seen.clear();
    }
    // The service's unlock request, as the slider's end makes it.
    void open_keypad() {
        send(proto::WM_Unlock);
        ASSERT_EQ(ctx->state, ScreenState::PasswordEntry);
    }
    LParam key_point(int index) {
        const auto& at = ctx->keypad.at;
        int col = index % 3, row = 3 - index / 3;
        return point(at.keys_x + col * at.key_w + at.key_w / 2, at.keys_top + row * at.key_h + at.key_h / 2);
    }
    int index_of(std::uint8_t value) {
        const auto& map = ctx->keypad.KeyMap;
        return int(std::find(map.begin(), map.end(), value) - map.begin());
    }
    void tap(LParam at, std::uint64_t hold_ms = 0) {
        send(WM_LBUTTONDOWN, 1, at);
        if (hold_ms) fake.run_for(hold_ms);
        send(WM_LBUTTONUP, 0, at);
    }
    void type(std::string_view digits) {
        for (char d : digits) tap(key_point(index_of(std::uint8_t(d - '0'))));
    }
    int entered() {
        int n = 0;
        for (char ch : ctx->keypad.EnteredDigits) n += ch != 0;
        return n;
    }
    LParam call_button() {
        const auto& at = ctx->keypad.at;
        return point(at.call_x + at.button_w / 2, at.button_y + at.button_h / 2);
    }
    LParam right_button() {
        const auto& at = ctx->keypad.at;
        return point(at.right_x + at.button_w / 2, at.button_y + at.button_h / 2);
    }
    LParam delete_arrow() {
        const auto& at = ctx->keypad.at;
        return point(at.arrow_x + ctx->keypad.arrow.width / 2, at.arrow_y + ctx->keypad.arrow.height / 2);
    }
    void open_emergency() {
        tap(key_point(index_of(kKeyEmergency)));
        ASSERT_EQ(ctx->state, ScreenState::EmergencyCall);
    }
    std::vector<WParam> seen_w(std::uint32_t msg) {
        std::vector<WParam> out;
        for (auto& s : service_seen())
            if (s.msg == msg) out.push_back(s.w);
        return out;
    }
    std::u16string dial_number() {
        auto v = fake.registry().get_string(Root::CurrentUser, proto::kRootKey, proto::mailbox::kDialNumber);
        return v.value_or(u"");
    }
    std::u16string header() { return ctx->keypad.header_text + (ctx->keypad.StatusShown ? ctx->keypad.status : u""); }

    std::vector<char16_t> tones_to_phone;
};

TEST_F(Keypad, TheRightCodeUnlocksAWrongOneIsShownShakenAwayAndCleared) {
    started();
    open_keypad();
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(ctx->keypad.header_text, u"Enter Password");
    // Another unlock request while the keypad is up changes nothing.
    send(proto::WM_Unlock);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);

    type("123");
    EXPECT_EQ(entered(), 3);
    int before = ctx->frames_presented;
    type("5");
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(entered(), 0) << "a wrong code is cleared";
    EXPECT_TRUE(ctx->keypad.WrongShown);
    EXPECT_EQ(ctx->keypad.header_text, u"Wrong Password");
    EXPECT_GE(ctx->frames_presented - before, 10) << "five frames out, five in";
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
    // The red flash rises by 2 a frame up to 16.
    int flash = ctx->keypad.FlashAlpha;
    EXPECT_LT(flash, 16);
    anim_ticks(1);
    EXPECT_EQ(ctx->keypad.FlashAlpha, flash + 2);
    anim_ticks(10);
    EXPECT_EQ(ctx->keypad.FlashAlpha, 16);

    // The next key starts a new code, with the ordinary header back.
    type("1");
    EXPECT_EQ(entered(), 1);
    EXPECT_FALSE(ctx->keypad.WrongShown);
    type("234");
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_FALSE(main_visible());
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(read_last_lock_time(*ctx), 0u);
    EXPECT_FALSE(ctx->keypad.loaded) << "the keypad's pictures are released";
    auto log = log_text();
    EXPECT_NE(log.find("PW loading gfx"), std::string::npos);
    EXPECT_NE(log.find("PW Keys loading gfx"), std::string::npos);
    EXPECT_NE(log.find("PW Pressed 5(3)"), std::string::npos);
    EXPECT_NE(log.find("PW Unloading gfx"), std::string::npos);
}

TEST_F(Keypad, DeleteClearsOneDigitOnATapAllWhenHeldAndCancelLeaves) {
    started();
    open_keypad();
    const int corner = 2;  // bottom right: cancel, or delete once a digit is typed
    type("987");
    tap(key_point(corner));
    EXPECT_EQ(entered(), 2);
    EXPECT_EQ(ctx->keypad.EnteredDigits[0], '9');
    tap(key_point(corner), 250);
    EXPECT_EQ(entered(), 0);
    // A press that slides off its key does nothing.
    type("1");
    send(WM_LBUTTONDOWN, 1, key_point(corner));
    send(WM_LBUTTONUP, 0, key_point(5));
    EXPECT_EQ(entered(), 1);
    EXPECT_FALSE(std::any_of(ctx->keypad.PressedKey.begin(), ctx->keypad.PressedKey.end(), [](bool b) { return b; }));
    tap(key_point(corner));
    EXPECT_EQ(entered(), 0);
    // Empty: the same key cancels, back to the lock screen, still locked, the slider free.
    tap(key_point(corner));
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_TRUE(ctx->locked);
    EXPECT_TRUE(main_visible());
    EXPECT_FALSE(ctx->slider.slide_locked);
    EXPECT_EQ(ctx->slider.knob_pos, rest_pos(*ctx));
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
    // And the next unlock request asks again.
    open_keypad();
}

TEST_F(Keypad, ShuffledDigitsChangeEachOpeningAndEmergencyAndCancelStay) {
    set_byte(u"ShufflePassword", 1);
    started();
    std::set<std::array<std::uint8_t, kKeypadKeys>> orders;
    for (int i = 0; i < 3; ++i) {
        open_keypad();
        auto map = ctx->keypad.KeyMap;
        EXPECT_EQ(map[0], kKeyEmergency);
        EXPECT_EQ(map[2], kKeyCancel);
        std::set<int> digits = {map[1]};
        for (int k = 3; k < kKeypadKeys; ++k) digits.insert(map[std::size_t(k)]);
        EXPECT_EQ(digits.size(), 10u) << "every digit once";
        EXPECT_EQ(*digits.rbegin(), 9);
        orders.insert(map);
        tap(key_point(2));  // cancel
        ASSERT_EQ(ctx->state, ScreenState::Normal);
    }
    EXPECT_GE(orders.size(), 2u);
    // The code is typed by value wherever the digits stand.
    open_keypad();
    type("1234");
    EXPECT_FALSE(ctx->locked);
}

TEST_F(Keypad, GraceTimeAndTheLocksConditionsDecideWhetherTheCodeIsAsked) {
    set_number(u"PasswordTime", 300);
    started();
    store_last_lock_time(*ctx, now_seconds(*ctx) - 100);
    send(proto::WM_Unlock);
    EXPECT_FALSE(ctx->locked) << "within the grace time the slider unlocks";
    EXPECT_EQ(ctx->state, ScreenState::Normal);

    // A code with a byte that is not a digit turns the lock off.
    set_number(u"PasswordTime", 0);
    set_code("12a4");
    fake.run_for(2000);
    lock_now();
    fake.run_for(1500);
    send(proto::WM_Unlock);
    EXPECT_FALSE(ctx->locked);

    // A code of another length too.
    set_code("12345");
    fake.run_for(2000);
    lock_now();
    fake.run_for(1500);
    send(proto::WM_Unlock);
    EXPECT_FALSE(ctx->locked);

    // HintCounter under the system's password key: the touch no longer flips the system lock.
    set_code("4321");
    fake.registry().set_dword(Root::LocalMachine, u"ControlPanel\\Password", u"HintCounter", 0);
    fake.registry().set_dword(Root::LocalMachine, u"System\\State", u"Lock", 5);
    fake.run_for(2000);
    lock_now();
    fake.run_for(1500);
    EXPECT_EQ(ctx->settings.num(catalogue::Id::NoSystemLock), 0u);
    open_keypad();
    EXPECT_EQ(ctx->settings.num(catalogue::Id::NoSystemLock), 1u);
    type("4321");
    EXPECT_FALSE(ctx->locked);
}

TEST_F(Keypad, LockPasswordAsksForTheCodeFromTheNextSecondWithTheFullConditions) {
    set_number(u"PasswordTime", 600);
    started();
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    send(proto::WM_LOCK_PASSWORD);
    EXPECT_TRUE(ctx->locked);
    fake.run_for(1500);
    send(proto::WM_Unlock);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    type("1234");
    EXPECT_FALSE(ctx->locked);
    // Without a valid code WM_LOCK_PASSWORD locks nothing.
    set_code("");
    fake.run_for(2000);
    send(proto::WM_LOCK_PASSWORD);
    EXPECT_FALSE(ctx->locked);
}

TEST_F(Keypad, HardwareKeysTypeDeleteCancelAndOpenTheEmergencyKeypad) {
    started();
    open_keypad();
    auto key = [&](std::uint8_t vk, std::uint64_t hold = 0) {
        send(WM_KEYDOWN, vk, 0);
        if (hold) fake.run_for(hold);
        send(WM_KEYUP, vk, 0);
    };
    key('1');
    key(96 + 2);  // the number pad
    EXPECT_EQ(entered(), 2);
    key(8);  // backspace: one digit
    EXPECT_EQ(entered(), 1);
    key(115);  // end: the bottom-right key, delete now
    EXPECT_EQ(entered(), 0);
    key(119);  // star and hash have no key here
    key(120);
    EXPECT_EQ(entered(), 0);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    key(27);  // escape cancels
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_TRUE(ctx->locked);

    open_keypad();
    key(114);  // talk: the emergency keypad
    EXPECT_EQ(ctx->state, ScreenState::EmergencyCall);
    key('1');
    key('1');
    key(119);
    key(120);
    EXPECT_EQ(ctx->keypad.DialText, u"11*#");
    key(8);
    EXPECT_EQ(ctx->keypad.DialText, u"11*");
    key(12);  // clear
    EXPECT_EQ(ctx->keypad.DialText, u"");
    key(115);  // end while idle: back to the code
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    key('1');
    key('2');
    key('3');
    key(100);
    EXPECT_FALSE(ctx->locked);
    EXPECT_NE(log_text().find("PW Released Key 64"), std::string::npos);
}

TEST_F(Keypad, AnEmergencyNumberIsDialledThroughTheServiceAndItsCallFollowed) {
    started();
    open_keypad();
    type("12");
    open_emergency();
    EXPECT_EQ(seen_w(proto::WM_SlideDialing), std::vector<WParam>{1});
    EXPECT_EQ(entered(), 0);
    EXPECT_EQ(ctx->keypad.at.keys_top + 4 * ctx->keypad.at.key_h, ctx->screen_height - gfx::ScaleUnit(ctx->screen, 60))
        << "the keys leave room for the buttons";
    type("112");
    EXPECT_EQ(ctx->keypad.DialText, u"112");
    EXPECT_EQ(seen_w(proto::WM_PlayDTMF), (std::vector<WParam>{'1', '1', '2'}));
    tap(call_button());
    EXPECT_EQ(dial_number(), u"112");
    EXPECT_EQ(seen_w(proto::WM_MakeCall), std::vector<WParam>{proto::kMakeCallDial});
    EXPECT_TRUE(ctx->keypad.DialingOwn);
    auto log = log_text();
    EXPECT_NE(log.find("EC list 911"), std::string::npos);
    EXPECT_NE(log.find("Validate EC 1"), std::string::npos);

    // The service's call progress.
    send(proto::WM_DialingChanged);
    EXPECT_EQ(ctx->keypad.EmergencyCallPhase, kPhaseDialing);
    EXPECT_EQ(header(), u"Emergency Call - calling...");
    // Keys are ignored while dialling.
    type("5");
    EXPECT_EQ(ctx->keypad.DialText, u"112");
    send(proto::WM_TalkingChanged);
    EXPECT_EQ(ctx->keypad.EmergencyCallPhase, kPhaseConnected);
    EXPECT_EQ(header(), u"Emergency Call - connected");
    fake.run_for(3050);
    EXPECT_EQ(ctx->keypad.CallSeconds, 3u);
    EXPECT_EQ(header(), u"Emergency Call - 00:03");
    // A key during the call goes to the phone program as its tone, not to the service.
    seen.clear();
    type("9");
    send(WM_KEYDOWN, 119, 0);
    send(WM_KEYUP, 119, 0);
    EXPECT_EQ(tones_to_phone, (std::vector<char16_t>{u'9', proto::kDtmfStar}));
    EXPECT_TRUE(seen_w(proto::WM_PlayDTMF).empty());
    // Nothing takes the screen from the call: the backlight, idle-off, the service's auto lock.
    send(proto::WM_BACKLIGHT_OFF);
    send(proto::WM_AutoStartLocked);
    fake.run_for(2 * 1000 * std::uint64_t(ctx->settings.num(catalogue::Id::OffLCD)) + 100);
    EXPECT_EQ(ctx->state, ScreenState::EmergencyCall);
    // Hang up with the right-hand button; the call ends and its time stays four ticks.
    tap(right_button());
    EXPECT_EQ(seen_w(proto::WM_MakeCall), std::vector<WParam>{proto::kMakeCallHangUp});
    std::uint32_t seconds = ctx->keypad.CallSeconds;
    send(proto::WM_CallEnded);
    EXPECT_EQ(ctx->keypad.EmergencyCallPhase, kPhaseIdle);
    EXPECT_TRUE(ctx->keypad.StatusShown);
    fake.run_for(3000);
    EXPECT_TRUE(ctx->keypad.StatusShown);
    EXPECT_EQ(ctx->keypad.CallSeconds, seconds) << "the time stops with the call";
    fake.run_for(1100);
    EXPECT_FALSE(ctx->keypad.StatusShown);
    EXPECT_EQ(header(), u"Emergency Call");
    // Back to the code.
    seen.clear();
    tap(right_button());
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_EQ(seen_w(proto::WM_SlideDialing), std::vector<WParam>{0});
    EXPECT_TRUE(ctx->locked);
}

TEST_F(Keypad, ANumberThatIsNoEmergencyNumberIsRefusedAndABusyLineShown) {
    started();
    open_keypad();
    open_emergency();
    type("555");
    tap(call_button());
    EXPECT_TRUE(seen_w(proto::WM_MakeCall).empty());
    EXPECT_EQ(header(), u"Emergency Call - invalid");
    auto log = log_text();
    EXPECT_NE(log.find("EC list 112"), std::string::npos);
    EXPECT_NE(log.find("Validate EC 0"), std::string::npos);
    // The next touch takes the status away; a prefix or a longer number is no emergency number.
    tap(delete_arrow());
    EXPECT_EQ(header(), u"Emergency Call");
    EXPECT_EQ(ctx->keypad.DialText, u"55");
    tap(delete_arrow(), 250);
    EXPECT_EQ(ctx->keypad.DialText, u"");
    type("1120");
    tap(call_button());
    tap(delete_arrow(), 250);
    type("11");
    tap(call_button());
    EXPECT_TRUE(seen_w(proto::WM_MakeCall).empty());
    // The list is the phone's: changed there, it holds.
    fake.telephony().set_emergency_numbers({u"11"});
    tap(call_button());
    EXPECT_EQ(dial_number(), u"11");
    EXPECT_EQ(seen_w(proto::WM_MakeCall), std::vector<WParam>{proto::kMakeCallDial});
    send(proto::WM_DialingChanged);
    send(proto::WM_CallBusy);
    EXPECT_EQ(header(), u"Emergency Call - busy");
    send(proto::WM_CallEnded);
    EXPECT_FALSE(ctx->keypad.StatusShown) << "a call that never connected leaves no status";
}

TEST_F(Keypad, TheTypedNumberStopsAtFiftyAndItsFontShrinksToFit) {
    started();
    open_keypad();
    open_emergency();
    const int start = ctx->keypad.DialFontSize;
    for (int i = 0; i < 55; ++i) send(WM_KEYUP, '0' + i % 10, 0);
    EXPECT_EQ(ctx->keypad.DialText.size(), 50u);
    EXPECT_EQ(seen_w(proto::WM_PlayDTMF).size(), 55u) << "further keys only sound";
    EXPECT_EQ(ctx->keypad.DialFontSize, ctx->keypad.label_size) << "never below the labels' size";
    // Deleting grows the font back by five units at a time, not past its start.
    send(WM_KEYUP, 12, 0);
    EXPECT_EQ(ctx->keypad.DialFontSize, start);
    // A number of fourteen digits is made smaller until it fits beside the delete arrow.
    for (int i = 0; i < 14; ++i) send(WM_KEYUP, '1' + i % 9, 0);
    const auto& at = ctx->keypad.at;
    int shrunk = ctx->keypad.DialFontSize;
    EXPECT_LT(shrunk, start);
    EXPECT_GT(shrunk, ctx->keypad.label_size);
    EXPECT_LE(ctx->keypad.labels[14].width, at.side_w - ctx->keypad.arrow.width);
    send(WM_KEYUP, 8, 0);
    EXPECT_EQ(ctx->keypad.DialText.size(), 13u);
    EXPECT_GT(ctx->keypad.DialFontSize, shrunk);
    EXPECT_LE(ctx->keypad.DialFontSize, shrunk + gfx::ScaleUnit(ctx->screen, 5));
}

TEST_F(Keypad, ServiceEventsLeaveTheKeypadAndTheServiceHearsTheEmergencyKeypadClose) {
    started();
    open_keypad();
    type("12");
    int before = ctx->frames_presented;
    send(proto::WM_BACKLIGHT_OFF);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_GE(ctx->frames_presented - before, 8) << "the closing animation";
    EXPECT_TRUE(ctx->locked);

    open_keypad();
    open_emergency();
    seen.clear();
    send(proto::WM_AutoStartLocked);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(seen_w(proto::WM_SlideDialing), std::vector<WParam>{0}) << "the service would ignore later dialling";

    // The emergency keypad with its own call going: the caller screen hangs it up.
    ctx->settings.set_num(catalogue::Id::CallerID, 1);
    open_keypad();
    open_emergency();
    type("112");
    tap(call_button());
    send(proto::WM_DialingChanged);
    seen.clear();
    send(proto::WM_RunCaller, 0, 1);
    EXPECT_NE(ctx->state, ScreenState::EmergencyCall);
    auto calls = seen_w(proto::WM_MakeCall);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), proto::kMakeCallHangUp);
    EXPECT_EQ(seen_w(proto::WM_SlideDialing), std::vector<WParam>{0});
    EXPECT_TRUE(ctx->locked);
}

TEST_F(Keypad, IdleOffAndAViewLeaveTheKeypadButNeverUnlock) {
    started();
    open_keypad();
    type("1");
    fake.run_for(1000 * std::uint64_t(ctx->settings.num(catalogue::Id::OffLCD)) + 100);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_TRUE(ctx->locked);
    EXPECT_GE(count_seen(proto::WM_IdleOff) + count_seen(proto::WM_OffDisplay), 1);
    lock_now();
    open_keypad();
    send(proto::WM_ShowNotification, 1);
    fake.run_for(600);
    EXPECT_EQ(ctx->state, ScreenState::NotificationView);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
}

TEST_F(Keypad, ATurnWhileTheKeypadIsUpKeepsItAndItsKeysWork) {
    started();
    open_keypad();
    type("12");
    fake.display().orientation = 90;
    send(WM_SETTINGCHANGE, 0x3002, 0);
    send(WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_EQ(ctx->screen_width, 800);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_EQ(entered(), 2);
    EXPECT_TRUE(ctx->locked);
    type("34");
    EXPECT_FALSE(ctx->locked);
}

TEST_F(Keypad, AProgramThatComesInFrontWhileTheCodeIsNeededIsCoveredAgain) {
    started();
    auto other = [&] {
        auto scope = fake.as_process(90);
        fake.windows().register_class(u"IExplore", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"IExplore";
        cp.title = u"Internet Explorer";
        Hwnd h = fake.windows().create_window(cp);
        fake.windows().show_window(h, SW_SHOW);
        fake.windows().set_foreground_window(h);
        return h;
    };
    other();
    fake.run_for(4000);  // the repeat lock has run its course
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    EXPECT_TRUE(ctx->locked);
    // Also over the keypad.
    open_keypad();
    type("12");
    other();
    fake.run_for(4000);  // the repeat lock has run its course
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    // A call's own windows are left in front.
    fake.registry().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status", 0x10000);
    Hwnd ringing = other();
    fake.run_for(4000);  // the repeat lock has run its course
    EXPECT_EQ(fake.windows().foreground_window(), ringing);
    fake.registry().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status", 0);
    // Within the grace time nothing is guarded: the phone opens without a code anyway.
    set_byte(u"PasswordLock", 0);
    Hwnd browser = other();
    fake.run_for(4000);  // the repeat lock has run its course
    EXPECT_EQ(fake.windows().foreground_window(), browser);
}

// --- the layout on both screens -------------------------------------------------------------------

struct Screen {
    const char* name;
    int width, height, dpi, degrees;
};

class KeypadLayoutTest : public Keypad, public ::testing::WithParamInterface<Screen> {
protected:
    void SetUp() override {
        Keypad::SetUp();
        auto p = GetParam();
        auto& d = fake.display();
        d.screen = {p.width, p.height, p.dpi, p.dpi};
        d.pitch_pixels = p.width;
        d.orientation = p.degrees;
        d.resize();
        if (p.dpi < 192) {
            auto gfx = root / "Program Files" / "Lumo" / "gfx";
            std::filesystem::remove(gfx);
            std::filesystem::create_directory_symlink(stage_dir() / "Program Files" / "Lumo" / "gfx96", gfx);
        }
    }
    // Everything lies on the screen, in order, without overlapping.
    void expect_fits() {
        const auto& at = ctx->keypad.at;
        const int W = ctx->screen_width, H = ctx->screen_height;
        const bool ec = ctx->state == ScreenState::EmergencyCall;
        EXPECT_GE(at.keys_x, 0);
        EXPECT_LE(at.keys_x + 3 * at.key_w, W);
        EXPECT_GE(at.key_w, gfx::ScaleUnit(ctx->screen, 40)) << "a finger's width";
        EXPECT_GE(at.key_h, gfx::ScaleUnit(ctx->screen, 30));
        EXPECT_EQ(at.keys_top + 4 * at.key_h, ec ? at.bar_top : H);
        EXPECT_GE(at.header_y, 0);
        const int header_bottom = at.header_y + ctx->keypad.labels[13].height;
        const bool beside = at.side_w < W;
        if (!beside) {
            EXPECT_LE(header_bottom, ec ? at.dial_top : at.boxes_y);
        }
        if (!ec) {
            EXPECT_GE(at.boxes_x, 0);
            EXPECT_LE(at.boxes_x + 4 * at.box_w + 3 * at.box_gap, at.side_x + at.side_w);
            if (!beside) {
                EXPECT_LE(at.boxes_y + at.box_h, at.keys_top);
            }
            EXPECT_LE(at.boxes_y + at.box_h, H);
            EXPECT_LE(header_bottom, at.boxes_y);
        } else {
            EXPECT_GE(at.dial_bottom - at.dial_top, ctx->keypad.label_size) << "room for the number";
            EXPECT_LE(at.call_x + at.button_w, W / 2);
            EXPECT_LE(at.right_x + at.button_w, W);
            EXPECT_LE(at.button_y + at.button_h, H);
            EXPECT_GE(at.button_y, at.bar_top);
        }
    }
};

TEST_P(KeypadLayoutTest, BothKeypadsFitAndAnswerTheirKeys) {
    started();
    open_keypad();
    expect_fits();
    // Every key answers where it is drawn: the bottom-right one cancels, the rest type.
    for (int i : {1, 3, 4, 5, 6, 7, 8, 9}) tap(key_point(i));
    EXPECT_EQ(entered(), 0) << "two wrong codes of four digits each";
    EXPECT_NE(log_text().find("PW Pressed 1(3)"), std::string::npos);
    open_emergency();
    expect_fits();
    type("112");
    tap(call_button());
    EXPECT_EQ(dial_number(), u"112");
    tap(right_button());  // hangs up
    send(proto::WM_CallEnded);
    tap(right_button());  // back
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    expect_fits();
    type("1234");
    EXPECT_FALSE(ctx->locked);
}

INSTANTIATE_TEST_SUITE_P(Screens, KeypadLayoutTest,
                         ::testing::Values(Screen{"VgaPortrait", 480, 800, 192, 0},
                                           Screen{"VgaLandscape", 480, 800, 192, 90},
                                           Screen{"QvgaPortrait", 240, 320, 96, 0},
                                           Screen{"QvgaLandscape", 240, 320, 96, 270}),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace lumo::lockscreen::testing_support
