// System overrides over the fake: the five notification options with their backups, the system
// lock flag, the HTC long-press end key, the Samsung mouse, recovery at start, the system device
// lock check, the 6.5 start-menu lock and the device switch-off.
#include "duties_harness.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;

constexpr std::u16string_view kBackup = u"Software\\Vesk\\Lumo\\Backup";
constexpr std::u16string_view kReminders =
    u"ControlPanel\\Notifications\\{15F11F90-8A5F-454c-89FC-BA9B7AAB0CAD}";
constexpr std::u16string_view kClasses[] = {
    kReminders,
    u"ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}",
    u"ControlPanel\\Notifications\\{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}",
    u"ControlPanel\\Notifications\\{A877D65A-239C-47a7-9304-0D347F580408}",
    u"ControlPanel\\Notifications\\{A877D660-239C-47a7-9304-0D347F580408}",
};
constexpr std::u16string_view kBackups[] = {u"LastReminderOption", u"LastSMSReminderOption",
                                            u"LastMMSReminderOption", u"LastEmailReminderOption",
                                            u"LastMissedCallOption"};
constexpr std::uint32_t kOriginal[] = {0x5, 0xD, 0xF, 0x9, 0x8};
constexpr std::u16string_view kLongPress = u"Software\\HTC\\LongPressEndKey";
constexpr std::u16string_view kMouse = u"System\\State\\Samsung\\Mouse";

class Overrides : public testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t i = 0; i < 5; ++i)
            h.put_dword(Root::CurrentUser, kClasses[i], u"Options", kOriginal[i]);
        h.set_byte(u"LockNotification", 1);
    }
    std::optional<std::uint32_t> option(std::size_t i) {
        return h.dword(Root::CurrentUser, kClasses[i], u"Options");
    }
    std::optional<std::uint32_t> backup(std::u16string_view name) {
        return h.dword(Root::CurrentUser, kBackup, name);
    }
    DutiesHarness h;
};

TEST_F(Overrides, ALockTurnsTheBubblesOffWithBackupsAndTheUnlockPutsThemBack) {
    h.boot();
    h.lock();
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(option(i), kOriginal[i] & ~0x8u) << i;
        // The reminders' saved value carries the bubble bit whatever it was.
        EXPECT_EQ(backup(kBackups[i]), i == 0 ? kOriginal[i] | 0x8 : kOriginal[i]) << i;
    }
    h.unlock();
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(option(i), i == 0 ? kOriginal[i] | 0x8 : kOriginal[i]) << i;
        EXPECT_FALSE(backup(kBackups[i])) << i;
    }
}

TEST_F(Overrides, LockingTwiceSavesTheUsersValuesOnce) {
    h.boot();
    h.lock();
    h.p.windows().post(h.service_window(), pr::WM_Locked, 0, 0);
    h.p.run_until_idle();
    EXPECT_EQ(backup(kBackups[1]), kOriginal[1]);
    h.unlock();
    EXPECT_EQ(option(1), kOriginal[1]);
}

TEST_F(Overrides, ALockAfterARunKilledWhileLockedKeepsTheBackup) {
    // An earlier run's backup that was not recovered (its values were changed since) still
    // holds the user's values: a new lock does not overwrite it with the disabled ones.
    h.boot();
    h.put_dword(Root::CurrentUser, kBackup, kBackups[2], 0xF);
    h.put_dword(Root::CurrentUser, kClasses[2], u"Options", 0x7);
    h.lock();
    EXPECT_EQ(backup(kBackups[2]), 0xFu);
    h.unlock();
    EXPECT_EQ(option(2), 0xFu);
}

TEST_F(Overrides, WithoutLockNotificationOrOnAPhoneWithoutTheValuesNothingIsWritten) {
    h.set_byte(u"LockNotification", 0);
    h.boot();
    h.lock();
    EXPECT_EQ(option(0), kOriginal[0]);
    EXPECT_FALSE(backup(kBackups[0]));
    h.unlock();

    DutiesHarness bare;
    bare.set_byte(u"LockNotification", 1);
    bare.boot();
    bare.lock();
    bare.unlock();
    EXPECT_FALSE(bare.p.registry().open_key(Root::CurrentUser, kReminders));
    EXPECT_FALSE(bare.p.registry().get_dword(Root::LocalMachine, u"System\\State", u"Lock"));
    EXPECT_FALSE(bare.p.registry().get_dword(Root::CurrentUser, kLongPress, u"AutoExecute"));
}

TEST_F(Overrides, TheSystemLockFlagAndTheLongPressEndKeyFollowTheLock) {
    h.put_dword(Root::LocalMachine, u"System\\State", u"Lock", 2);
    h.put_dword(Root::CurrentUser, kLongPress, u"AutoExecute", 1);
    h.boot();
    h.lock();
    EXPECT_EQ(h.dword(Root::LocalMachine, u"System\\State", u"Lock"), 3u);
    EXPECT_EQ(h.dword(Root::CurrentUser, kLongPress, u"AutoExecute"), 255u);
    EXPECT_EQ(backup(u"LastHTCLongPressEnd"), 1u);
    h.unlock();
    EXPECT_EQ(h.dword(Root::LocalMachine, u"System\\State", u"Lock"), 0u);
    EXPECT_EQ(h.dword(Root::CurrentUser, kLongPress, u"AutoExecute"), 1u);
    EXPECT_FALSE(backup(u"LastHTCLongPressEnd"));
}

TEST_F(Overrides, WithNoSystemLockTheFlagStaysAndTheSamsungMouseIsSwitched) {
    h.set_byte(u"NoSystemLock", 1);
    h.set_byte(u"NoHTCLongEndLock", 1);
    h.put_dword(Root::LocalMachine, u"System\\State", u"Lock", 2);
    h.put_dword(Root::LocalMachine, kMouse, u"ActionMethod", 3001);
    h.put_dword(Root::CurrentUser, kLongPress, u"AutoExecute", 1);
    h.boot();
    h.lock();
    EXPECT_EQ(h.dword(Root::LocalMachine, u"System\\State", u"Lock"), 2u);
    EXPECT_EQ(h.dword(Root::LocalMachine, kMouse, u"ActionMethod"), 4001u);
    EXPECT_EQ(h.dword(Root::CurrentUser, kLongPress, u"AutoExecute"), 1u);
    h.unlock();
    EXPECT_EQ(h.dword(Root::LocalMachine, u"System\\State", u"Lock"), 2u);
    EXPECT_EQ(h.dword(Root::LocalMachine, kMouse, u"ActionMethod"), 3001u);
}

TEST_F(Overrides, AStartAfterACrashWhileLockedRestoresTheSixValues) {
    h.put_dword(Root::CurrentUser, kLongPress, u"AutoExecute", 255);
    for (std::size_t i = 0; i < 5; ++i) {
        h.put_dword(Root::CurrentUser, kClasses[i], u"Options", kOriginal[i] & ~0x8u);
        h.put_dword(Root::CurrentUser, kBackup, kBackups[i], kOriginal[i]);
    }
    h.put_dword(Root::CurrentUser, kBackup, u"LastHTCLongPressEnd", 4);
    h.boot();
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(option(i), kOriginal[i]) << i;
        EXPECT_FALSE(backup(kBackups[i])) << i;
    }
    EXPECT_EQ(h.dword(Root::CurrentUser, kLongPress, u"AutoExecute"), 4u);
    EXPECT_FALSE(backup(u"LastHTCLongPressEnd"));
}

// --- the system device lock and the 6.5 start menu -------------------------------------------

constexpr std::uint32_t kShellPid = 77;

Hwnd start_menu(DutiesHarness& h, std::u16string_view title = u"Start") {
    auto scope = h.p.as_process(kShellPid);
    Hwnd menu = h.outside_window(0, u"MSSTARTMENU", false);
    h.p.windows().set_window_text(menu, title);
    return menu;
}

TEST(SystemDeviceLock, AnActiveDeviceLockIsTurnedOffAndTheServiceDoesNotStart) {
    DutiesHarness h;
    start_menu(h);
    h.put_dword(Root::CurrentUser, u"ControlPanel\\Keybd", u"DeviceLockWhenSuspend", 1);
    h.put_dword(Root::CurrentUser, u"ControlPanel\\BackLight", u"AutoDeviceLockEnable", 1);
    h.p.set_boot_age(120000);
    EXPECT_FALSE(h.start());
    EXPECT_EQ(h.dword(Root::CurrentUser, u"ControlPanel\\Keybd", u"DeviceLockWhenSuspend"), 0u);
    EXPECT_EQ(h.dword(Root::CurrentUser, u"ControlPanel\\BackLight", u"AutoDeviceLockEnable"),
              0u);
    auto boxes = h.p.dialogs();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, kDeviceLockText);
    EXPECT_EQ(boxes.back().caption, u"Lumo v2.30 by Vesk");
}

TEST(SystemDeviceLock, AnOffDeviceLockLetsTheServiceStart) {
    DutiesHarness h;
    start_menu(h);
    h.put_dword(Root::CurrentUser, u"ControlPanel\\Keybd", u"DeviceLockWhenSuspend", 0);
    h.boot();
    EXPECT_FALSE(h.dword(Root::CurrentUser, u"ControlPanel\\BackLight", u"AutoDeviceLockEnable"));
}

class StartMenuLock : public testing::Test {
  protected:
    void SetUp() override {
        menu = start_menu(h);
        worker = h.outside_window(kShellPid, u"menu_worker", false);
        // Another program's window of that class is not the start menu's.
        h.outside_window(0, u"menu_worker", false);
        h.put_dword(Root::CurrentUser, u"ControlPanel\\Keybd", u"DeviceLockWhenSuspend", 0);
        {
            auto scope = h.p.as_process(kShellPid);
            prev = *h.p.windows().subclass(worker, [this](Hwnd w, std::uint32_t m, WParam wp,
                                                          LParam lp) {
                if (m == WM_COMMAND) commands.push_back(std::uint32_t(wp));
                return h.p.windows().call_previous(prev, w, m, wp, lp);
            });
        }
        h.p.set_boot_age(1000);
        ASSERT_TRUE(h.start());
        h.p.run_until_idle();
    }
    DutiesHarness h;
    Hwnd menu = 0, worker = 0;
    PrevProc prev = 0;
    std::vector<std::uint32_t> commands;
};

TEST_F(StartMenuLock, TheStartMenusLockCommandBringsTheLockScreen) {
    EXPECT_EQ(h.p.registry().get_string(Root::CurrentUser, pr::kRootKey, u"StartText"), u"Start");
    ASSERT_NE(h.s.StartMenuWorker.window, 0u);
    EXPECT_EQ(h.s.StartMenuWorker.window, worker);
    h.p.run_for(kLaunchSettleMs);
    h.lock_screen_away();
    h.p.windows().send(worker, WM_COMMAND, 22561, 0);
    h.p.run_until_idle();
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(h.p.windows().window_info(h.lock_window)->visible);
    EXPECT_TRUE(h.p.windows().window_info(menu)->minimized);
    // Other commands, and the lock command once the caption no longer matches, go on.
    h.p.windows().send(worker, WM_COMMAND, 100, 0);
    h.p.windows().set_window_text(menu, u"Other");
    h.p.windows().send(worker, WM_COMMAND, 22561, 0);
    EXPECT_EQ(commands, (std::vector<std::uint32_t>{100, 22561}));
}

TEST_F(StartMenuLock, TheSubclassComesOffAtTheEnd) {
    h.p.windows().destroy_window(h.service_window());
    EXPECT_EQ(h.s.StartMenuWorker.window, 0u);
    h.p.windows().send(worker, WM_COMMAND, 22561, 0);
    EXPECT_EQ(commands, (std::vector<std::uint32_t>{22561}));
}

// --- switching the device off -----------------------------------------------------------------

TEST_F(Overrides, SwitchingOffRunsTheShutDownProgramWithEverythingPutBack) {
    h.put_dword(Root::CurrentUser, kLongPress, u"AutoExecute", 1);
    h.put_file(u"\\Windows\\PowerOff.exe");
    h.p.install_program(u"\\Windows\\PowerOff.exe");
    h.p.registry().create_key(Root::CurrentUser, pr::kRootKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kRootKey, u"ShutDownEXE",
                              u"\\Windows\\PowerOff.exe");
    h.boot();
    h.lock();
    h.p.windows().send(h.service_window(), pr::WM_DeviceShutDown, 0, 0);
    EXPECT_FALSE(h.s.Locked);
    auto launches = h.p.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().path, u"\\Windows\\PowerOff.exe");
    EXPECT_EQ(option(1), kOriginal[1]);
    EXPECT_FALSE(backup(kBackups[1]));
    EXPECT_EQ(h.dword(Root::CurrentUser, kLongPress, u"AutoExecute"), 1u);
    EXPECT_FALSE(backup(u"LastHTCLongPressEnd"));
}

TEST_F(Overrides, WithoutAShutDownProgramTheDeviceStaysOnAndLocked) {
    h.p.registry().create_key(Root::CurrentUser, pr::kRootKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kRootKey, u"ShutDownEXE",
                              u"\\Windows\\Missing.exe");
    h.boot();
    h.lock();
    const auto before = h.p.launches().size();
    h.p.windows().send(h.service_window(), pr::WM_DeviceShutDown, 0, 0);
    EXPECT_TRUE(h.s.Locked);
    EXPECT_EQ(h.p.launches().size(), before);
    EXPECT_EQ(option(1), kOriginal[1] & ~0x8u);
}

TEST_F(Overrides, OnAnHtcPhoneItsUtilityLibrarySwitchesOffInsteadOfTheProgram) {
    h.put_file(u"\\Windows\\HtcUtil.dll");
    int offs = 0;
    h.p.set_library(u"HtcUtil.dll", std::vector<std::u16string>{u"HTCUtilDeviceOff"},
                    [&](std::u16string_view) { ++offs; });
    h.put_file(u"\\Windows\\PowerOff.exe");
    h.p.install_program(u"\\Windows\\PowerOff.exe");
    h.p.registry().create_key(Root::CurrentUser, pr::kRootKey);
    h.p.registry().set_string(Root::CurrentUser, pr::kRootKey, u"ShutDownEXE", u"\\Windows\\PowerOff.exe");
    h.boot();
    const auto before = h.p.launches().size();
    h.p.windows().send(h.service_window(), pr::WM_DeviceShutDown, 0, 0);
    EXPECT_EQ(offs, 1);
    EXPECT_EQ(h.p.library_calls(), (std::vector<std::u16string>{u"HtcUtil.dll!HTCUtilDeviceOff"}));
    EXPECT_EQ(h.p.launches().size(), before);
}

TEST_F(Overrides, AnHtcLibraryWithoutItsFunctionLeavesThePhoneOn) {
    h.put_file(u"\\Windows\\HtcUtil.dll");
    h.p.set_library(u"HtcUtil.dll", std::vector<std::u16string>{u"SomethingElse"});
    h.boot();
    h.lock();
    const auto before = h.p.launches().size();
    h.p.windows().send(h.service_window(), pr::WM_DeviceShutDown, 0, 0);
    EXPECT_TRUE(h.p.library_calls().empty());
    EXPECT_EQ(h.p.launches().size(), before);
    EXPECT_TRUE(h.s.Locked);
}

}  // namespace
}  // namespace lumo::service::test
