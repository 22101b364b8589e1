// The volume overlay over the fake phone: the ringer stepped by the keys, the bars and buttons by
// touch with their mirrors, simple mode, the in-call bar on the phone device, and closing by
// itself to give the screen back.
#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

constexpr std::u16string_view kOverrides = u"ControlPanel\\Notifications\\ShellOverrides";
constexpr std::u16string_view kVolume = u"ControlPanel\\Volume";
constexpr std::u16string_view kRing = u"ControlPanel\\SoundCategories\\Ring";
constexpr std::uint8_t kVolUp = 0x75, kVolDown = 0x76;

class Volume : public LockFixture {
protected:
    void started(bool locked) {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        if (locked) {
            lock_now();
            ASSERT_TRUE(ctx->locked);
        }
        seen.clear();
    }
    void set_mode(std::uint32_t mode) {
        fake.registry().set_dword(Root::CurrentUser, kOverrides, u"Mode", mode);
        send(proto::WM_CHANGE_SN_PHONERINGER, mode, 0);
    }
    void set_wave(std::uint32_t v) { fake.sound().set_volume(v | v << 16); }
    std::uint32_t wave() {
        auto v = fake.sound().volume().value_or(0);
        return (v & 0xFFFF) | (v >> 16);
    }
    std::optional<std::uint32_t> dword(Root in, std::u16string_view key, std::u16string_view name) {
        return fake.registry().get_dword(in, key, name);
    }
    std::uint32_t mode() { return dword(Root::CurrentUser, kOverrides, u"Mode").value_or(99); }
    void key(std::uint8_t vk) {
        send(WM_KEYDOWN, vk, 0);
        send(WM_KEYUP, vk, 0);
    }
    void open() {
        send(proto::WM_VolumeControl, 1, 0);
        ASSERT_TRUE(ctx->state == ScreenState::VolumeControl || ctx->state == ScreenState::InCallVolume);
    }
    bool open_now() {
        return ctx->state == ScreenState::VolumeControl || ctx->state == ScreenState::InCallVolume;
    }
    // The middle of step p (0 at the top) of a bar.
    LParam on_bar(int x, int p) {
        auto& v = ctx->volume;
        return point(x + v.bar_w / 2, v.y0 + p * v.step + v.step / 2);
    }
    void tap(LParam at) {
        send(WM_LBUTTONDOWN, 1, at);
        send(WM_LBUTTONUP, 0, at);
    }
    LParam silent_button() {
        auto& v = ctx->volume;
        return point(v.button_x + v.button_w / 2, v.silent_y + v.button_h / 2);
    }
    LParam vibrate_button() {
        auto& v = ctx->volume;
        return point(v.button_x + v.button_w / 2, v.vibrate_y + v.button_h / 2);
    }
    std::size_t beeps() { return fake.sound().beeps().size(); }
    // A program of its own in front, as the home screen would be.
    Hwnd other_program() {
        auto scope = fake.as_process(93);
        fake.windows().register_class(u"Other", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"Other";
        cp.title = u"Other";
        cp.style = WS_POPUP;
        Hwnd h = fake.windows().create_window(cp);
        fake.windows().show_window(h, SW_SHOW);
        fake.windows().set_foreground_window(h);
        fake.run_until_idle();
        return h;
    }
};

TEST_F(Volume, TheKeysStepTheRingerThroughTheLevelsThenSilentThenVibrateAndBack) {
    started(true);
    set_mode(0);
    set_wave(0x6666);
    open();
    EXPECT_EQ(count_seen(proto::WM_VolumeControl), 1);
    EXPECT_EQ(service_seen().back().w, 1u);

    key(kVolDown);  // a sound level down, with a beep
    EXPECT_EQ(wave(), 0x3333u);
    EXPECT_EQ(mode(), 0u);
    EXPECT_EQ(beeps(), 1u);
    // The mirrors of the sound settings follow the wave-out volume.
    EXPECT_EQ(dword(Root::CurrentUser, kOverrides, u"SavedVolume"), 0x33333333u);
    EXPECT_EQ(dword(Root::CurrentUser, kVolume, u"Volume"), 0x33333333u);

    key(kVolDown);  // the lowest level: off and silent
    EXPECT_EQ(wave(), 0u);
    EXPECT_EQ(mode(), 2u);
    EXPECT_EQ(ctx->ringer_mode, kRingerSilent);

    key(kVolDown);  // silent to vibrate, which shakes the phone
    EXPECT_EQ(mode(), 1u);
    EXPECT_EQ(ctx->ringer_mode, kRingerVibrate);
    int vibrations = 0;
    for (auto& s : service_seen()) vibrations += s.msg == proto::WM_Vibrate && s.w == proto::kVibrateLongMs;
    EXPECT_EQ(vibrations, 1);

    key(kVolDown);  // nothing below vibrate
    EXPECT_EQ(mode(), 1u);
    EXPECT_EQ(wave(), 0u);

    key(kVolUp);  // vibrate up to silent
    EXPECT_EQ(mode(), 2u);
    std::size_t before = beeps();
    key(kVolUp);  // silent up to the lowest level plus one step
    EXPECT_EQ(mode(), 0u);
    EXPECT_EQ(wave(), 0x6666u);
    EXPECT_EQ(beeps(), before + 1);
    EXPECT_TRUE(fake.sound().beeps().back().audible);

    for (int i = 0; i < 5; ++i) key(kVolUp);
    EXPECT_EQ(wave(), 0xFFFFu) << "capped at the top";
    EXPECT_EQ(fake.sound().volume(), 0xFFFFFFFFu) << "both channels alike";
    EXPECT_TRUE(open_now());
}

TEST_F(Volume, EveryKeyKeepsItOpenThreeSecondsMoreAndTheStartKeyCloses) {
    started(true);
    open();
    fake.run_for(2900);
    key(0x26);  // the up arrow counts as volume up
    fake.run_for(2900);
    EXPECT_TRUE(open_now());
    fake.run_for(200);
    EXPECT_FALSE(open_now());
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(service_seen().back().msg, proto::WM_VolumeControl);
    EXPECT_EQ(service_seen().back().w, 0u);

    open();
    key(0x5B);
    fake.run_until_idle();
    EXPECT_FALSE(open_now());
    // Over the lock screen, the lock screen stays.
    EXPECT_TRUE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
}

TEST_F(Volume, OverAnotherProgramItClosesAfterThreeSecondsAndGivesThatProgramBack) {
    started(false);
    Hwnd other = other_program();
    ASSERT_FALSE(main_visible());
    open();
    EXPECT_TRUE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    EXPECT_EQ(ctx->volume.RestoreWindow, other);
    fake.run_for(2999);
    EXPECT_TRUE(open_now());
    fake.run_for(10);
    EXPECT_FALSE(open_now());
    EXPECT_FALSE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), other);
    EXPECT_TRUE(ctx->screen.suspended);
}

TEST_F(Volume, TheBarsAreSetByTouchAndATapElsewhereCloses) {
    started(true);
    set_mode(0);
    set_wave(0xFFFF);
    fake.registry().set_dword(Root::CurrentUser, kRing, u"InitVol", 5);
    open();
    auto& v = ctx->volume;
    tap(on_bar(v.sys_x, 5));
    EXPECT_EQ(wave(), 0xFFFFu - 5 * 4369);
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 5u) << "no simple mode: the ring volume stays";
    EXPECT_TRUE(open_now()) << "a bar touch does not close";

    std::size_t before = beeps();
    tap(on_bar(v.ring_x, 9));  // the fourth third from the top: ring volume 2
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 2u);
    EXPECT_EQ(dword(Root::CurrentUser, kOverrides, u"SavedRingerVolume"), 2u * 0x33333333u);
    EXPECT_EQ(dword(Root::CurrentUser, kVolume, u"Ringer"), 2u * 0x33333333u);
    // Lifting the finger plays a sample at the ring volume, and the system volume comes back.
    ASSERT_EQ(beeps(), before + 1);
    EXPECT_EQ(fake.sound().beeps().back().volume, 2u * 13107 * 0x10001u);
    EXPECT_EQ(wave(), 0xFFFFu - 5 * 4369);

    // Above the bar by more than its touch area, and off the buttons: the overlay closes.
    tap(point(2, 2));
    fake.run_until_idle();
    EXPECT_FALSE(open_now());
}

TEST_F(Volume, InSimpleModeTheTwoBarsMoveTogether) {
    fake.registry().set_dword(Root::LocalMachine, u"Software\\HTC\\VolumeOverlay", u"SimpleMode", 1);
    started(true);
    set_mode(0);
    open();
    auto& v = ctx->volume;
    tap(on_bar(v.sys_x, 5));  // ten segments of fifteen
    EXPECT_EQ(wave(), 10u * 4369);
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 3u);
    tap(on_bar(v.sys_x, 13));  // two segments: quiet, but not silent
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 1u);
    tap(on_bar(v.ring_x, 0));  // the ring bar's top: the loudest, and the system follows
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 5u);
    EXPECT_EQ(wave(), 0xFFFFu);
}

TEST_F(Volume, DraggingTheSystemBarStepsOneSegmentAtATime) {
    started(true);
    set_mode(0);
    set_wave(8 * 4369);
    open();
    auto& v = ctx->volume;
    send(WM_LBUTTONDOWN, 1, on_bar(v.sys_x, 7));  // the top of the fill: unchanged
    EXPECT_EQ(wave(), 8u * 4369);
    send(WM_MOUSEMOVE, 1, on_bar(v.sys_x, 11));
    EXPECT_EQ(wave(), 7u * 4369) << "one step per move";
    send(WM_MOUSEMOVE, 1, on_bar(v.sys_x, 11));
    send(WM_MOUSEMOVE, 1, on_bar(v.sys_x, 11));
    send(WM_MOUSEMOVE, 1, on_bar(v.sys_x, 11));
    EXPECT_EQ(wave(), 5u * 4369) << "and it stops next to the finger";
    send(WM_MOUSEMOVE, 1, on_bar(v.sys_x, 2));
    EXPECT_EQ(wave(), 6u * 4369);
    send(WM_LBUTTONUP, 0, on_bar(v.sys_x, 2));
    EXPECT_TRUE(open_now());
    // A finger that leaves both bars closes the overlay.
    send(WM_LBUTTONDOWN, 1, on_bar(v.sys_x, 7));
    send(WM_MOUSEMOVE, 1, point(v.sys_x + v.bar_w + (v.ring_x - v.sys_x - v.bar_w) / 2, v.y0 + 3 * v.step));
    fake.run_until_idle();
    EXPECT_FALSE(open_now());
}

TEST_F(Volume, TheButtonsToggleSilentAndVibrateOnlyWhenReleasedOnThem) {
    started(true);
    set_mode(0);
    set_wave(0x3333);
    open();
    tap(silent_button());
    EXPECT_EQ(mode(), 2u);
    EXPECT_FALSE(fake.sound().beeps().back().audible) << "a silent phone's beep is not heard";
    tap(silent_button());
    EXPECT_EQ(mode(), 0u);
    EXPECT_TRUE(fake.sound().beeps().back().audible);
    tap(vibrate_button());
    EXPECT_EQ(mode(), 1u);
    EXPECT_EQ(ctx->ringer_mode, kRingerVibrate);
    tap(vibrate_button());
    EXPECT_EQ(mode(), 0u);
    // Pressed on one, let go elsewhere: nothing toggles, and the overlay closes.
    send(WM_LBUTTONDOWN, 1, vibrate_button());
    send(WM_LBUTTONUP, 0, point(2, 2));
    fake.run_until_idle();
    EXPECT_EQ(mode(), 0u);
    EXPECT_FALSE(open_now());
}

TEST_F(Volume, OutsideSoundModeTheSystemBarSwitchesTheRingerOnInstead) {
    started(true);
    set_mode(2);
    set_wave(0);
    open();
    tap(on_bar(ctx->volume.sys_x, 0));
    EXPECT_EQ(mode(), 0u);
    EXPECT_EQ(wave(), 13107u) << "a ringer switched on is never left at volume 0";
    tap(on_bar(ctx->volume.sys_x, 0));
    EXPECT_EQ(wave(), 0xFFFFu);
}

TEST_F(Volume, ValuesOutOfRangeAreReadAsTheirNearestMeaning) {
    fake.registry().set_dword(Root::CurrentUser, kRing, u"InitVol", 99);
    started(true);
    set_mode(7);
    EXPECT_EQ(ctx->ringer_mode, kRingerSilent);
    open();
    anim_ticks(2);
    // The ring bar full, not beyond: a move on it cannot step above the top.
    auto& v = ctx->volume;
    send(WM_LBUTTONDOWN, 1, on_bar(v.ring_x, 14));
    EXPECT_EQ(mode(), 0u) << "silent: the touch switches the ringer on";
    send(WM_MOUSEMOVE, 1, on_bar(v.ring_x, 0));
    send(WM_LBUTTONUP, 0, on_bar(v.ring_x, 0));
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 99u) << "the top of the scale already";
    tap(on_bar(v.ring_x, 0));
    EXPECT_EQ(dword(Root::CurrentUser, kRing, u"InitVol"), 5u);
    anim_ticks(2);
}

TEST_F(Volume, DuringACallOnlyTheInCallBarShowsAndChangesThePhoneDevice) {
    started(true);
    auto& tel = fake.telephony();
    tel.set_hook_switch_in_use(kHookSwitchSpeaker);
    auto call = tel.offer_call({u"5550101", u"Ada", true, false, false, u""});
    ASSERT_TRUE(call);
    ASSERT_TRUE(tel.answer(*call));
    fake.run_until_idle();
    send(proto::WM_Talking, 1, 0);
    std::uint32_t speaker = tel.volume(kHookSwitchSpeaker), handset = tel.volume(kHookSwitchHandset);
    set_wave(0x3333);
    open();
    ASSERT_EQ(ctx->state, ScreenState::InCallVolume);
    key(kVolUp);
    EXPECT_EQ(tel.volume(kHookSwitchSpeaker), std::min(speaker + 13107, 0xFFFFu));
    EXPECT_EQ(tel.volume(kHookSwitchHandset), handset) << "only the device in use";
    EXPECT_EQ(wave(), 0x3333u) << "the system volume is not the call's";
    key(kVolDown);
    key(kVolDown);
    EXPECT_EQ(tel.volume(kHookSwitchSpeaker), speaker > 13107 ? speaker - 13107 : 0u);
    auto& v = ctx->volume;
    tap(on_bar(v.in_x, 0));
    EXPECT_EQ(tel.volume(kHookSwitchSpeaker), 0xFFFFu);
    EXPECT_TRUE(open_now());
    tap(point(2, 2));
    fake.run_until_idle();
    EXPECT_FALSE(open_now());
    EXPECT_EQ(ctx->volume.phone, 0u) << "the phone device is closed again";
}

TEST_F(Volume, NeitherTheShutdownSliderNorASecondOpenReopensIt) {
    started(true);
    open();
    auto opened = count_seen(proto::WM_VolumeControl);
    send(proto::WM_VolumeControl, 1, 0);
    EXPECT_EQ(count_seen(proto::WM_VolumeControl), opened);
    // The shutdown slider closes it first, and then ignores it.
    send(proto::WM_ShutDown, proto::kShutDownOpened, 0);
    EXPECT_EQ(ctx->state, ScreenState::ShutdownSlider);
    send(proto::WM_VolumeControl, 1, 0);
    EXPECT_EQ(ctx->state, ScreenState::ShutdownSlider);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
