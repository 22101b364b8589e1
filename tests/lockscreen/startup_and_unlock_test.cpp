// Start-up over the fake phone: the command-line table, the single instance, the installation
// and picture checks, the hidden start, the first lock; then the lock entry, the unlock with its
// password grace time, and the repeat locks.
#include "lock_fixture.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace proto = protocol;

class StartUp : public LockFixture {};

TEST_F(StartUp, HiddenStartMakesTheWindowLoadsEverythingAndDrawsNothing) {
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    ASSERT_NE(ctx->main_window, 0u);
    EXPECT_EQ(fake.windows().find_window(u"Lumo", u"Lumo"), ctx->main_window);
    EXPECT_FALSE(main_visible());
    EXPECT_FALSE(ctx->locked);
    EXPECT_TRUE(ctx->screen.suspended);
    EXPECT_EQ(fake.display().frames_ready, 0);
    EXPECT_FALSE(ctx->knob.empty());
    EXPECT_FALSE(ctx->wallpaper.image.empty());
    EXPECT_EQ(count_seen(proto::WM_GetBattery), 1);
    EXPECT_EQ(count_seen(proto::WM_Locked), 0);
    for (auto& s : service_seen())
        if (s.msg == proto::WM_GetAllStates) {
            EXPECT_EQ(s.w, 480u);
            EXPECT_EQ(s.l, 800);
        }
}

TEST_F(StartUp, PlainStartLocksAtOnceWithACurtainAndTellsTheService) {
    ASSERT_EQ(start(u""), EntryResult::Running);
    EXPECT_TRUE(main_visible());
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    EXPECT_EQ(count_seen(proto::WM_Locked), 1);
    EXPECT_GE(ctx->frames_presented, 7);  // the closing curtain
    EXPECT_NE(read_last_lock_time(*ctx), 0u);
}

// The service shows the hidden window and gives it the focus while lumo is still loading its
// pictures: the lock it asks for is carried out once start-up ends.
TEST_F(StartUp, ALockAskedForWhileStartingUpIsCarriedOutWhenStartUpEnds) {
    bool asked = false;
    on_picture_open = [&](std::u16string_view path) {
        if (asked || !path.ends_with(u"\\arrows.png")) return;
        asked = true;
        Hwnd lumo = fake.windows().find_window(u"Lumo", u"Lumo");
        ASSERT_NE(lumo, 0u);
        auto scope = fake.as_process(77);
        fake.windows().show_window(lumo, SW_SHOW);
        fake.windows().set_foreground_window(lumo);
    };
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    ASSERT_TRUE(asked);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Locked), 1);
    EXPECT_NE(read_last_lock_time(*ctx), 0u);
    EXPECT_FALSE(ctx->screen.suspended);
    EXPECT_GE(ctx->frames_presented, 7) << "the lock screen was never drawn";
    // A drag now is a real unlock of a real lock.
    seen.clear();
    send(proto::WM_Unlock);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(read_last_lock_time(*ctx), 0u);
}

TEST_F(StartUp, ASecondStartBecomesAMessageToTheRunningWindow) {
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    struct Row {
        std::u16string_view line;
        std::vector<std::uint32_t> posted;
    };
    const Row rows[] = {
        {u"-vc", {proto::WM_VolumeControl}},
        {u"-PO", {proto::WM_ShutDown}},
        {u"-slide", {WM_ACTIVATE, WM_SETFOCUS, proto::WM_ShowLock}},
        {u"", {WM_ACTIVATE, WM_SETFOCUS, proto::WM_ShowLock}},
    };
    for (const auto& r : rows) {
        fake.clear_posted();
        Context second(fake, fake.display());
        EXPECT_EQ(enter(second, r.line), EntryResult::Ended);
        EXPECT_EQ(second.main_window, 0u);
        std::vector<std::uint32_t> got;
        for (auto& m : fake.posted()) {
            EXPECT_EQ(m.hwnd, ctx->main_window);
            got.push_back(m.message);
            if (m.message == proto::WM_VolumeControl) {
                EXPECT_EQ(m.wparam, 1u);
            }
            if (m.message == proto::WM_ShutDown) {
                EXPECT_EQ(m.wparam, 0u);
            }
        }
        EXPECT_EQ(got, r.posted);
    }
    fake.clear_posted();
}

TEST_F(StartUp, AnExistingMutexEndsTheProgramSilently) {
    {
        auto scope = fake.as_process(90);
        bool existed = false;
        fake.sync().create_mutex(kInstanceMutex, &existed);
    }
    EXPECT_EQ(start(u"-hide"), EntryResult::Ended);
    EXPECT_EQ(fake.windows().find_window(u"Lumo", u"Lumo"), 0u);
    EXPECT_TRUE(fake.dialogs().empty());
}

TEST_F(StartUp, WithoutTheServiceItStartsTheServiceAndEnds) {
    fake.windows().destroy_window(service);
    EXPECT_EQ(start(u""), EntryResult::Ended);
    auto launches = fake.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].path, u"\\Program Files\\Lumo\\Vardex2.exe");
    EXPECT_EQ(launches[0].arguments, u"-show");
    EXPECT_TRUE(launches[0].shown);
    EXPECT_EQ(fake.windows().find_window(u"Lumo", u"Lumo"), 0u);
}

TEST_F(StartUp, AProgramOutsideProgramFilesAsksForReinstallAndClosesTheService) {
    fake.set_own_path(u"\\Storage Card\\Lumo\\lumo.exe");
    EXPECT_EQ(start(u""), EntryResult::Ended);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Please reinstall Lumo to device.");
    EXPECT_EQ(boxes[0].caption, u"Lumo");
    EXPECT_EQ(boxes[0].flags & 0xF0, MB_ICONEXCLAMATION);
    EXPECT_EQ(count_seen(WM_CLOSE), 1);
}

class MissingPicture : public LockFixture, public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(MissingPicture, StopsStartUpNamingTheFileAndClosesTheService) {
    use_copied_theme();
    std::filesystem::remove(host(std::u16string(u"\\Program Files\\Lumo\\gfx\\") + GetParam()));
    EXPECT_EQ(start(u"-hide"), EntryResult::Ended);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"File (\\Program Files\\Lumo\\gfx\\" + std::u16string(GetParam()) +
                                 u") is missed, please reinstall Lumo.");
    EXPECT_EQ(boxes[0].caption, u"Lumo");
    EXPECT_EQ(count_seen(WM_CLOSE), 1);
}

// A picture's name without its ending, as a test name.
std::string stem(std::u16string_view file) {
    std::string out;
    for (char16_t c : file.substr(0, file.find(u'.'))) out += char(c);
    return out;
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, MissingPicture,
                         ::testing::Values(u"topbar.png", u"stbox.png", u"pbutton.png"),
                         [](const auto& i) { return stem(i.param); });

// With two pictures gone the message names the one the start-up checks first (its order runs
// topbar, system, arrows, the volume, call and key-pad pictures, then the settings pages',
// ppressed, the pop-up and password pictures, and the browser's).
struct TwoGone {
    const char16_t* first;
    const char16_t* later;
};
class TwoMissingPictures : public LockFixture, public ::testing::WithParamInterface<TwoGone> {};

TEST_P(TwoMissingPictures, NameTheOneCheckedFirst) {
    use_copied_theme();
    for (auto* file : {GetParam().first, GetParam().later})
        std::filesystem::remove(host(std::u16string(u"\\Program Files\\Lumo\\gfx\\") + file));
    EXPECT_EQ(start(u"-hide"), EntryResult::Ended);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"File (\\Program Files\\Lumo\\gfx\\" + std::u16string(GetParam().first) +
                                 u") is missed, please reinstall Lumo.");
}

INSTANTIATE_TEST_SUITE_P(Pairs, TwoMissingPictures,
                         ::testing::Values(TwoGone{u"stbox.png", u"ppressed.png"},
                                           TwoGone{u"stbg.png", u"buttonG.png"},
                                           TwoGone{u"arrows.png", u"ppressed.png"},
                                           TwoGone{u"sback.png", u"pwbox.png"}),
                         [](const auto& i) { return stem(i.param.first) + "And" + stem(i.param.later); });

class Unlocking : public LockFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        lock_now();
        ASSERT_TRUE(ctx->locked);
        seen.clear();
    }
    void backdate_lock(std::uint64_t seconds) { store_last_lock_time(*ctx, now_seconds(*ctx) - seconds); }
    // The password lock with a code: it counts only with four digits.
    void password_on(std::uint32_t seconds) {
        set_byte(u"PasswordLock", 1);
        set_number(u"PasswordTime", seconds);
        auto key = catalogue::open_root(fake.registry());
        const std::byte code[4] = {std::byte('1'), std::byte('2'), std::byte('3'), std::byte('4')};
        catalogue::write_blob(fake.registry(), key->key, u"SavedPassword", code);
    }
};

TEST_F(Unlocking, FocusToTheHiddenWindowLocksWithFadeIn) {
    EXPECT_TRUE(main_visible());
    EXPECT_EQ(fake.windows().foreground_window(), ctx->main_window);
    EXPECT_FALSE(ctx->screen.suspended);
    EXPECT_GE(fake.display().frames_ready, 7);
}

TEST_F(Unlocking, UnlockHidesPostsToTheServiceAndClearsTheLockTime) {
    send(proto::WM_Unlock);
    EXPECT_FALSE(ctx->locked);
    EXPECT_FALSE(main_visible());
    EXPECT_TRUE(ctx->screen.suspended);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 1);
    EXPECT_EQ(read_last_lock_time(*ctx), 0u);
    EXPECT_EQ(ctx->slider.knob_pos, ctx->slider.track_left);
    EXPECT_FALSE(ctx->slider.slide_locked);
}

TEST_F(Unlocking, PasswordGraceIsThreeHundredSecondsInclusive) {
    password_on(300);
    backdate_lock(300);
    unlock_request(*ctx, false);
    EXPECT_FALSE(ctx->locked) << "300 s after the lock needs no code";
    EXPECT_EQ(ctx->state, ScreenState::Normal);

    fake.run_for(2000);  // past the wake-up window in which focus gives the screen back
    lock_now();
    ASSERT_TRUE(ctx->locked);
    backdate_lock(301);
    seen.clear();
    unlock_request(*ctx, false);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_EQ(count_seen(proto::WM_Unlock), 0);
}

TEST_F(Unlocking, ALockTimeInTheFutureAsksForTheCode) {
    password_on(300);
    store_last_lock_time(*ctx, now_seconds(*ctx) + 100);
    unlock_request(*ctx, false);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_TRUE(ctx->locked);
}

TEST_F(Unlocking, LockPasswordBackdatesSoTheNextUnlockAsksForTheCode) {
    password_on(300);
    send(proto::WM_Unlock);
    ASSERT_FALSE(ctx->locked);
    send(proto::WM_LOCK_PASSWORD);
    EXPECT_TRUE(ctx->locked);
    EXPECT_EQ(read_last_lock_time(*ctx), now_seconds(*ctx) - 300);
    fake.advance(1000);
    unlock_request(*ctx, false);
    EXPECT_EQ(ctx->state, ScreenState::PasswordEntry);
}

TEST_F(Unlocking, RepeatLockRunsTheLockEntryNineTimesOnlyWhileLocked) {
    int before = count_seen(proto::WM_Locked);
    send(proto::WM_REPEAT_LOCK);
    fake.run_for(400 * 12);
    EXPECT_EQ(count_seen(proto::WM_Locked) - before, 9);

    send(proto::WM_Unlock);
    before = count_seen(proto::WM_Locked);
    send(proto::WM_REPEAT_LOCK);
    fake.run_for(400 * 3);
    EXPECT_EQ(count_seen(proto::WM_Locked), before);
}

TEST_F(Unlocking, FocusJustAfterAnUnlockGivesTheScreenBackInsteadOfLocking) {
    send(proto::WM_Unlock);
    int locks = count_seen(proto::WM_Locked);
    fake.windows().post(ctx->main_window, WM_SETFOCUS, 0, 0);
    fake.run_for(200);
    EXPECT_FALSE(main_visible());
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(count_seen(proto::WM_Locked), locks);
}

TEST_F(Unlocking, CloseStopsTheWorkerAndQuits) {
    send(WM_CLOSE);
    EXPECT_EQ(ctx->quit_event, 0u);
    EXPECT_FALSE(ctx->worker.joinable());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
