// The lock and unlock sounds over the fake phone: which file plays with which flags, when the
// vibrator stands in for it, and when nothing happens at all.
#include "lock_fixture.h"
#include "lumo/protocol/protocol.h"
#include "wave_file.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

constexpr std::u16string_view kLockWave = u"\\My Documents\\lock.wav";
constexpr std::u16string_view kUnlockWave = u"\\My Documents\\unlock.wav";
constexpr std::uint32_t kLockFlags = kSoundAsync | kSoundNoDefault | kSoundNoStop;
constexpr std::uint32_t kUnlockFlags = kSoundAsync | kSoundNoDefault;
constexpr std::uint8_t kVibrateMode = 3;

class LockSounds : public LockFixture {
  protected:
    // Both sounds chosen and present; `haptic` is HapticFeedback.
    void start_with_sounds(bool haptic) {
        test::write_file(host(kLockWave), test::pcm_wave(100));
        test::write_file(host(kUnlockWave), test::pcm_wave(100));
        set_text(u"LockSound", kLockWave);
        set_text(u"UnlockSound", kUnlockWave);
        set_byte(u"HapticFeedback", haptic ? 1 : 0);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        seen.clear();
        fake.sound().clear_requests();
        fake.sound().finish();
    }
    std::vector<std::uint32_t> vibrations() {
        std::vector<std::uint32_t> out;
        for (auto& s : service_seen())
            if (s.msg == proto::WM_Vibrate) out.push_back(s.w);
        return out;
    }
    std::vector<fake::PlayRequest> plays() { return fake.sound().requests(); }
};

TEST_F(LockSounds, ShowLockPlaysTheLockFileAsynchronouslyWithoutDefaultOrInterruption) {
    start_with_sounds(false);
    send(proto::WM_ShowLock);
    auto p = plays();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].path, kLockWave);
    EXPECT_EQ(p[0].flags, kLockFlags);
    EXPECT_TRUE(p[0].played);
    EXPECT_EQ(fake.sound().playing(), std::u16string(kLockWave));
    EXPECT_TRUE(vibrations().empty());
}

TEST_F(LockSounds, HapticFeedbackAddsAShortPulseToTheLockSound) {
    start_with_sounds(true);
    send(proto::WM_ShowLock);
    EXPECT_EQ(plays().size(), 1u);
    EXPECT_EQ(vibrations(), std::vector<std::uint32_t>{proto::kVibrateShortMs});
}

TEST_F(LockSounds, TheLockSoundDoesNotCutASoundAlreadyPlaying) {
    start_with_sounds(false);
    auto ring = u"\\My Documents\\ring.wav";
    test::write_file(host(ring), test::pcm_wave(100));
    ASSERT_TRUE(fake.sound().play(ring, kSoundAsync));
    send(proto::WM_ShowLock);
    auto p = plays();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].flags, kLockFlags);
    EXPECT_FALSE(p[1].played);
    EXPECT_FALSE(p[1].default_played);
    EXPECT_EQ(fake.sound().playing(), std::u16string(ring));
}

TEST_F(LockSounds, AMissingLockSoundFilePlaysNothingButKeepsTheHapticPulse) {
    start_with_sounds(true);
    std::filesystem::remove(host(kLockWave));
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    EXPECT_EQ(vibrations(), std::vector<std::uint32_t>{proto::kVibrateShortMs});
}

TEST_F(LockSounds, AnEmptyLockSoundValuePlaysNothingEvenInVibrateMode) {
    start_with_sounds(false);
    set_text(u"LockSound", u"");
    ctx->ringer_mode = kVibrateMode;
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    EXPECT_TRUE(vibrations().empty());
}

TEST_F(LockSounds, AMusicTitleOnTheScreenSilencesTheLockEntirely) {
    start_with_sounds(true);
    fake.registry().create_key(platform::Root::CurrentUser, proto::kZorpKey);
    fake.registry().set_string(platform::Root::CurrentUser, proto::kZorpKey, proto::zorp::kCurrentTitle, u"Song");
    send(proto::WM_CHANGE_ZORPTITLE);
    ASSERT_TRUE(music_title_shown(*ctx));
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    EXPECT_TRUE(vibrations().empty());
}

class LockSoundsHaptic : public LockSounds, public ::testing::WithParamInterface<bool> {};

TEST_P(LockSoundsHaptic, VibrateModeReplacesTheLockSoundWithOneLongPulse) {
    start_with_sounds(GetParam());
    ctx->ringer_mode = kVibrateMode;
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    EXPECT_EQ(vibrations(), std::vector<std::uint32_t>{proto::kVibrateLongMs});
}

// The unlock's own haptic pulse comes first; the long pulse stands in for the sound only when
// that pulse was not given.
TEST_P(LockSoundsHaptic, VibrateModeUnlockGivesTheLongPulseOnlyWithoutHapticFeedback) {
    const bool haptic = GetParam();
    start_with_sounds(haptic);
    ctx->ringer_mode = kVibrateMode;
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    EXPECT_TRUE(plays().empty());
    EXPECT_EQ(vibrations(),
              std::vector<std::uint32_t>{haptic ? proto::kVibrateShortMs : proto::kVibrateLongMs});
}

INSTANTIATE_TEST_SUITE_P(HapticOffOn, LockSoundsHaptic, ::testing::Bool(),
                         [](const auto& i) { return i.param ? "HapticOn" : "HapticOff"; });

// The ringer as the shell's sound overrides hold it: read at start and whenever the service
// forwards a change.
class RingerModes : public LockSounds {
  protected:
    void set_mode(std::uint32_t mode) {
        fake.registry().set_dword(Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", mode);
    }
};

TEST_F(RingerModes, VibrateAtStartReplacesTheLockSoundWithTheLongPulse) {
    set_mode(1);
    start_with_sounds(false);
    EXPECT_EQ(ctx->ringer_mode, kRingerVibrate);
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    EXPECT_EQ(vibrations(), std::vector<std::uint32_t>{proto::kVibrateLongMs});
}

class SilentRinger : public RingerModes, public ::testing::WithParamInterface<std::tuple<std::uint32_t, bool>> {};

TEST_P(SilentRinger, PlaysNeitherSoundAndVibratesOnlyForHapticFeedback) {
    auto [mode, haptic] = GetParam();
    set_mode(mode);
    start_with_sounds(haptic);
    EXPECT_EQ(ctx->ringer_mode, kRingerSilent);
    send(proto::WM_ShowLock);
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    EXPECT_TRUE(plays().empty()) << "a sound played on a silent phone";
    // The haptic pulse of the lock sound and the one of the unlock, nothing longer.
    std::vector<std::uint32_t> pulses;
    if (haptic) pulses = {proto::kVibrateShortMs, proto::kVibrateShortMs};
    EXPECT_EQ(vibrations(), pulses);
}

INSTANTIATE_TEST_SUITE_P(ModeAndHaptic, SilentRinger,
                         ::testing::Combine(::testing::Values(2u, 7u), ::testing::Bool()),
                         [](const auto& i) {
                             return "Mode" + std::to_string(std::get<0>(i.param)) +
                                    (std::get<1>(i.param) ? "HapticOn" : "HapticOff");
                         });

TEST_F(RingerModes, AChangeOfTheRingerIsReadWhenTheServiceForwardsIt) {
    set_mode(0);
    start_with_sounds(false);
    EXPECT_EQ(ctx->ringer_mode, kRingerSound);
    set_mode(2);
    send(proto::WM_CHANGE_SN_PHONERINGER, 2, 0);
    send(proto::WM_ShowLock);
    EXPECT_TRUE(plays().empty());
    set_mode(1);
    send(proto::WM_CHANGE_SN_PHONERINGER, 1, 0);
    send(proto::WM_ShowLock);
    EXPECT_EQ(vibrations(), std::vector<std::uint32_t>{proto::kVibrateLongMs});
    set_mode(0);
    send(proto::WM_CHANGE_SN_PHONERINGER, 0, 0);
    send(proto::WM_ShowLock);
    ASSERT_EQ(plays().size(), 1u);
    EXPECT_EQ(plays()[0].path, kLockWave);
}

TEST_F(RingerModes, WithoutTheValueThePhoneRings) {
    start_with_sounds(false);
    EXPECT_EQ(ctx->ringer_mode, kRingerSound);
    send(proto::WM_ShowLock);
    EXPECT_EQ(plays().size(), 1u);
}

TEST_F(LockSounds, UnlockPlaysTheUnlockFileCuttingWhatStillPlays) {
    start_with_sounds(false);
    send(proto::WM_ShowLock);
    ASSERT_TRUE(fake.sound().playing());
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    auto p = plays();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].path, kUnlockWave);
    EXPECT_EQ(p[1].flags, kUnlockFlags);
    EXPECT_TRUE(p[1].played);
    EXPECT_EQ(fake.sound().playing(), std::u16string(kUnlockWave));
}

TEST_F(LockSounds, AMissingUnlockSoundIsSilentAndDoesNotVibrateEvenInVibrateMode) {
    start_with_sounds(false);
    set_text(u"UnlockSound", u"\\My Documents\\gone.wav");
    ctx->ringer_mode = kVibrateMode;
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    EXPECT_TRUE(plays().empty());
    EXPECT_TRUE(vibrations().empty());
}

TEST_F(LockSounds, UnlockWithTheCodeJustEnteredPlaysNoSound) {
    start_with_sounds(false);
    unlock(*ctx, false, false);
    fake.run_until_idle();
    EXPECT_FALSE(ctx->locked);
    EXPECT_TRUE(plays().empty());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
