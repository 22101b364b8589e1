// Lock conditions over the fake: the exception list and its write-back, programs in front or
// behind, the four music tests, the volume-key hook and the hardware triggers.
#include "duties_harness.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;

std::optional<std::u16string> exception(DutiesHarness& h, int n) {
    return h.p.registry().get_string(Root::CurrentUser, pr::kExceptionsKey,
                                     catalogue::exception_value_name(std::size_t(n)));
}

TEST(ExceptionList, MissingEntriesAreWrittenWithTheirDefaultsAndOwnEntriesStay) {
    DutiesHarness h;
    h.p.registry().create_key(Root::CurrentUser, pr::kExceptionsKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kExceptionsKey, u"ExceptionEXE00",
                              u"opera.exe");
    // A number where a name belongs counts as missing.
    h.p.registry().set_dword(Root::CurrentUser, pr::kExceptionsKey, u"ExceptionEXE05", 7);
    h.boot();
    EXPECT_EQ(exception(h, 0), u"opera.exe");
    EXPECT_EQ(exception(h, 1), u"VoiceCommander.exe");
    EXPECT_EQ(exception(h, 5), u"wmplayer.exe");
    EXPECT_EQ(exception(h, 7), u"");
    EXPECT_EQ(exception(h, 19), u"");
    EXPECT_EQ(h.s.Exceptions[0], u"opera.exe");
    EXPECT_EQ(h.s.Exceptions[5], u"wmplayer.exe");
}

TEST(ExceptionList, AListedProgramCountsWhereverItRunsUnlessOnlyFrontCounts) {
    DutiesHarness h;
    h.set_byte(u"ExceptionEXEisFG", 0);
    h.boot();
    EXPECT_FALSE(exception_is_running(h.s));
    // Names compare as the phone's file system does, without regard to case.
    auto pid = h.p.add_process(u"\\Windows\\IEXPLORE.EXE");
    h.outside_window(pid, u"IExplore", false);
    EXPECT_TRUE(exception_is_running(h.s));
    h.p.add_process(u"\\Windows\\notes.exe");
    EXPECT_TRUE(exception_is_running(h.s));
}

TEST(ExceptionList, InFrontOnlyABackgroundProgramDoesNotCount) {
    DutiesHarness h;
    h.boot();  // ExceptionEXEisFG is on by default
    auto pid = h.p.add_process(u"\\Windows\\iexplore.exe");
    Hwnd browser = h.outside_window(pid, u"IExplore", true);
    Hwnd other = h.outside_window(0, u"Other", true);
    h.p.windows().set_foreground_window(other);
    EXPECT_FALSE(exception_is_running(h.s));
    h.p.windows().set_foreground_window(browser);
    EXPECT_TRUE(exception_is_running(h.s));
}

TEST(ExceptionList, TheBacklightGoingOffDoesNotLockOverAProgramInFront) {
    DutiesHarness h;
    h.boot();
    h.lock_screen_away();
    auto pid = h.p.add_process(u"\\Windows\\iexplore.exe");
    Hwnd browser = h.outside_window(pid, u"IExplore", true);
    h.p.windows().set_foreground_window(browser);
    h.transition(kPowerStateBacklightOff, u"backlightoff");
    EXPECT_FALSE(h.lock_in_front());
    // Sent to the back, it no longer holds the lock off.
    Hwnd other = h.outside_window(0, u"Other2", true);
    h.p.windows().set_foreground_window(other);
    h.transition(kPowerStateBacklightOff, u"backlightoff");
    EXPECT_TRUE(h.lock_in_front());
}

struct MusicCase {
    const char* name;
    std::function<void(DutiesHarness&)> make_playing;
    const char* line;
};

class MusicTest : public testing::TestWithParam<MusicCase> {};

TEST_P(MusicTest, EachTestKeepsThePhoneRunningAtThePowerButton) {
    DutiesHarness h;
    h.set_byte(u"DebugOn", 1);
    h.set_byte(u"BlankStart", 1);
    h.boot();
    EXPECT_FALSE(music_is_running(h.s));
    GetParam().make_playing(h);
    EXPECT_TRUE(music_is_running(h.s));
    EXPECT_TRUE(h.logged(GetParam().line));
    h.lock_screen_away();
    h.transition(kPowerStateUnattended, u"unattended");
    auto states = h.p.power().system_states();
    EXPECT_NE(std::find(states.begin(), states.end(), kPowerStateIdle), states.end());
    // The phone announces the idle state it was asked for: still no lock.
    h.transition(kPowerStateIdle, u"useridle");
    h.p.run_for(3000);
    EXPECT_FALSE(h.lock_in_front());
}

INSTANTIATE_TEST_SUITE_P(
    FourTests, MusicTest,
    testing::Values(
        MusicCase{"Zorp",
                  [](DutiesHarness& h) {
                      h.p.registry().create_key(Root::CurrentUser, pr::kZorpKey);
                      h.p.registry().set_string(Root::CurrentUser, pr::kZorpKey,
                                                u"CurrentTitle", u"Song");
                  },
                  "Zorp is playing"},
        MusicCase{"AudioManager3D",
                  [](DutiesHarness& h) {
                      h.put_dword(Root::LocalMachine, u"Software\\HTC\\AudioManager_Eng\\information",
                                  u"status", 4);
                  },
                  "AudioManager 3D is playing"},
        MusicCase{"AudioManager2D",
                  [](DutiesHarness& h) {
                      h.put_dword(Root::LocalMachine, u"Software\\HTC\\AudioManager\\information",
                                  u"status", 4);
                  },
                  "AudioManager 2D is playing"},
        MusicCase{"PlayerProgram",
                  [](DutiesHarness& h) { h.p.add_process(u"\\Windows\\Player.exe"); },
                  "player.exe is running"}),
    [](const testing::TestParamInfo<MusicCase>& p) { return std::string(p.param.name); });

TEST(MusicTest, ADisplayThatTimesOutLocksAlsoWithMusic) {
    DutiesHarness h;
    h.set_byte(u"BlankStart", 1);
    h.boot();
    h.p.add_process(u"\\Windows\\wmplayer.exe");
    h.lock_screen_away();
    h.transition(kPowerStateIdle, u"useridle");
    EXPECT_TRUE(h.lock_in_front());
}

TEST(MusicTest, AStoppedAudioManagerIsNoMusic) {
    DutiesHarness h;
    h.boot();
    h.put_dword(Root::LocalMachine, u"Software\\HTC\\AudioManager\\information", u"status", 3);
    h.p.registry().create_key(Root::CurrentUser, pr::kZorpKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kZorpKey, u"CurrentTitle", u"");
    EXPECT_FALSE(music_is_running(h.s));
}

// --- the volume keys ------------------------------------------------------------------------

class VolumeKeys : public testing::Test {
  protected:
    void SetUp() override {
        h.set_byte(u"VolumeControl", 1);
        h.set_byte(u"NoKeyBoardHook", 0);
        h.boot();
        h.p.run_for(1000);  // the delayed start-up turns the hook on
        ASSERT_NE(h.s.KeyHook, 0u);
        h.lock_screen_away();
        front = h.p.windows().foreground_window();
        h.p.run_until_idle();
        h.p.clear_posted();
    }
    // The key events that reached the window in front.
    int keys_in_front() {
        int n = 0;
        for (const auto& m : h.p.posted())
            if (m.hwnd == front && (m.message == WM_KEYDOWN || m.message == WM_KEYUP)) ++n;
        return n;
    }
    void press(std::uint8_t vk) {
        h.p.windows().key_event(vk, 0);
        h.p.windows().key_event(vk, KEYEVENTF_KEYUP);
    }
    DutiesHarness h;
    Hwnd front = 0;
};

TEST_F(VolumeKeys, VolumeDownWhileUnlockedShowsTheControlAndTheNextKeyPasses) {
    press(118);
    EXPECT_EQ(h.count(pr::WM_VolumeControl, 1), 1);
    // The press is swallowed; its release is skipped over and passes.
    EXPECT_EQ(keys_in_front(), 1);
    h.p.clear_posted();
    press(65);
    EXPECT_EQ(keys_in_front(), 2);
    EXPECT_EQ(h.count(pr::WM_VolumeControl, 1), 1);
}

TEST_F(VolumeKeys, WithTheControlShownOrTheDisplayOffOrACameraUpKeysPass) {
    h.s.VolumeControlShown = true;
    press(118);
    EXPECT_EQ(keys_in_front(), 2);
    h.s.VolumeControlShown = false;
    h.s.LcdOff = true;
    press(118);
    EXPECT_EQ(keys_in_front(), 4);
    h.s.LcdOff = false;
    h.outside_window(0, u"camera", false);
    press(117);
    EXPECT_EQ(keys_in_front(), 6);
    EXPECT_EQ(h.count(pr::WM_VolumeControl), 0);
}

TEST_F(VolumeKeys, ThePrefixKeyAndKey200ShiftTheSkipCounter) {
    // 92 then volume up: the up key and the two after it are the device's own sequence.
    press(92);
    EXPECT_EQ(keys_in_front(), 2);
    h.p.windows().key_event(117, 0);
    EXPECT_EQ(h.s.SkipKeys.load(), 2u);
    EXPECT_EQ(h.count(pr::WM_VolumeControl), 0);
    h.p.clear_posted();
    h.p.windows().key_event(200, 0);  // skipped (counter 2 -> 1)
    h.p.windows().key_event(200, 0);  // skipped (1 -> 0)
    h.p.windows().key_event(200, 0);  // swallowed, skip the next one
    EXPECT_EQ(keys_in_front(), 2);
    EXPECT_EQ(h.s.SkipKeys.load(), 1u);
}

TEST_F(VolumeKeys, TheHookIsOffAfterTheServiceEnds) {
    h.p.windows().destroy_window(h.service_window());
    EXPECT_EQ(h.s.KeyHook, 0u);
    press(118);
    EXPECT_EQ(keys_in_front(), 2);
}

TEST_F(VolumeKeys, TheHookHoldsTheSystemLibraryOnlyWhileItIsOn) {
    EXPECT_EQ(h.p.libraries_loaded(), 1u);
    // A call takes the hook off (without InCallVolumeControl) and lets the library go.
    keyboard_hook_off(h.s);
    EXPECT_EQ(h.p.libraries_loaded(), 0u);
    press(118);
    EXPECT_EQ(keys_in_front(), 2);
    keyboard_hook_on(h.s);
    EXPECT_NE(h.s.KeyHook, 0u);
    EXPECT_EQ(h.p.libraries_loaded(), 1u);
}

// A phone whose system library lacks the hook functions, or whose hook call fails.
TEST(KeyHookFailures, WithoutTheLibraryThereIsNoHookAndNothingIsSaid) {
    DutiesHarness h;
    h.p.set_library(u"coredll.dll", std::vector<std::u16string>{u"SetWindowsHookExW"});
    h.set_byte(u"VolumeControl", 1);
    h.set_byte(u"NoKeyBoardHook", 0);
    h.boot();
    h.p.run_for(1000);
    EXPECT_EQ(h.s.KeyHook, 0u);
    EXPECT_EQ(h.p.libraries_loaded(), 0u);
    EXPECT_TRUE(h.p.dialogs().empty());
    // The library comes back (a later try finds it).
    h.p.set_library(u"coredll.dll", std::vector<std::u16string>{u"SetWindowsHookExW", u"UnhookWindowsHookEx",
                                                                 u"CallNextHookEx"});
    keyboard_hook_on(h.s);
    EXPECT_NE(h.s.KeyHook, 0u);
}

TEST(KeyHookFailures, ARefusedHookIsReportedOnceAndNotTriedAgain) {
    DutiesHarness h;
    h.p.refuse_keyboard_hook = true;
    h.set_byte(u"VolumeControl", 1);
    h.set_byte(u"NoKeyBoardHook", 0);
    h.boot();
    h.p.run_for(1000);
    EXPECT_EQ(h.s.KeyHook, 0u);
    auto boxes = [&] {
        int n = 0;
        for (const auto& d : h.p.dialogs())
            n += d.text == u"Cannot hook the keyboard. Some of the functions will be disabled." &&
                 d.caption == u"Vardex2 Message";
        return n;
    };
    EXPECT_EQ(boxes(), 1);
    EXPECT_EQ(h.p.libraries_loaded(), 0u);
    // The hook timer after a call, and the phone refusing no longer: no second box, no hook.
    h.p.refuse_keyboard_hook = false;
    keyboard_hook_on(h.s);
    h.p.run_for(2000);
    EXPECT_EQ(h.s.KeyHook, 0u);
    EXPECT_EQ(boxes(), 1);
}

// --- hardware triggers ----------------------------------------------------------------------

struct TriggerCase {
    const char* name;
    std::uint32_t msg;
    std::vector<std::pair<const char16_t*, std::uint8_t>> settings;
    WParam unlock_value;
    std::uint32_t unlock_extra_ms;
};

class Triggers : public testing::TestWithParam<TriggerCase> {};

TEST_P(Triggers, OneWayUnlocksAfterItsDelayAndTheOtherLocks) {
    const auto& c = GetParam();
    DutiesHarness h;
    for (auto [name, v] : c.settings) h.set_byte(name, v);
    h.boot();
    h.lock();
    h.p.windows().post(h.service_window(), c.msg, c.unlock_value, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.DelayUnlocking);
    // WakeupDelayMS + 1000 ms + the trigger's own extra.
    const auto delay = h.s.settings.num(catalogue::Id::WakeupDelayMS) + 1000 + c.unlock_extra_ms;
    h.p.run_for(delay - 10);
    EXPECT_EQ(h.count(pr::WM_Unlock), 0);
    h.p.run_for(20);
    EXPECT_EQ(h.count(pr::WM_Unlock), 1);
    h.unlock();
    h.lock_screen_away();
    h.p.windows().post(h.service_window(), c.msg, 0, 0);
    h.p.run_until_idle();
    if (c.msg == pr::WM_CHANGE_CRADLE) {
        // A cradle's lock comes with ActionOnCradle 2, tested on its own.
        EXPECT_FALSE(h.lock_in_front());
        return;
    }
    EXPECT_TRUE(h.lock_in_front());
    EXPECT_EQ(h.count(pr::WM_ShowLock), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Hardware, Triggers,
    testing::Values(
        TriggerCase{"Stylus", pr::WM_CHANGE_STYLUS, {{u"StylusOutUnlock", 1}, {u"StylusInLock", 1}},
                    1, 0},
        TriggerCase{"KeyboardSlide", pr::WM_CHANGE_KEYBOARDSLIDE,
                    {{u"KeyboardOpenUnlock", 1}, {u"KeyboardCloseLock", 1}}, 1, 1000},
        TriggerCase{"Cradle", pr::WM_CHANGE_CRADLE, {{u"ActionOnCradle", 1}}, 1, 0}),
    [](const testing::TestParamInfo<TriggerCase>& p) { return std::string(p.param.name); });

TEST(Triggers, WithoutTheirSettingsTheyDoNothingAndACradleCanLock) {
    DutiesHarness h;
    h.set_byte(u"StylusOutUnlock", 0);
    h.set_byte(u"StylusInLock", 1);
    h.set_byte(u"ActionOnCradle", 2);
    h.boot();
    h.lock_screen_away();
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_STYLUS, 0, 0);
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_KEYBOARDSLIDE, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.lock_in_front());
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_CRADLE, 1, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(h.lock_in_front());
}

TEST(Triggers, ALockByTriggerWaitsForAProgramOfTheListInFront) {
    DutiesHarness h;
    h.set_byte(u"StylusInLock", 1);
    h.boot();
    h.lock_screen_away();
    auto pid = h.p.add_process(u"\\Windows\\iexplore.exe");
    Hwnd browser = h.outside_window(pid, u"IExplore", true);
    h.p.windows().set_foreground_window(browser);
    h.p.windows().post(h.service_window(), pr::WM_CHANGE_STYLUS, 0, 0);
    h.p.run_until_idle();
    EXPECT_FALSE(h.lock_in_front());
}

}  // namespace
}  // namespace lumo::service::test
