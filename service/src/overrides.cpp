// Overrides of system behaviour while locked, each with its backup under Backup so that a service
// killed while locked puts everything back at its next start; the system device lock check, the
// 6.5 start-menu lock and the device switch-off.
#include <filesystem>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::u16string_view kBackupKey = u"Software\\Vesk\\Lumo\\Backup";
constexpr std::u16string_view kOptions = u"Options";
constexpr std::uint32_t kBubbleBit = 0x8;

struct ReminderRow {
    std::u16string_view key;
    std::u16string_view backup;
};
// In the order the saved values are kept: reminders, SMS, MMS, e-mail, missed calls.
constexpr ReminderRow kReminderRows[] = {
    {u"ControlPanel\\Notifications\\{15F11F90-8A5F-454c-89FC-BA9B7AAB0CAD}",
     u"LastReminderOption"},
    {u"ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}",
     u"LastSMSReminderOption"},
    {u"ControlPanel\\Notifications\\{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}",
     u"LastMMSReminderOption"},
    {u"ControlPanel\\Notifications\\{A877D65A-239C-47a7-9304-0D347F580408}",
     u"LastEmailReminderOption"},
    {u"ControlPanel\\Notifications\\{A877D660-239C-47a7-9304-0D347F580408}",
     u"LastMissedCallOption"},
};
enum { kReminders, kSms, kMms, kEmail, kMissedCalls };

constexpr std::u16string_view kSystemStateKey = u"System\\State";
constexpr std::u16string_view kLockValue = u"Lock";
constexpr std::u16string_view kLongPressKey = u"Software\\HTC\\LongPressEndKey";
constexpr std::u16string_view kAutoExecute = u"AutoExecute";
constexpr std::u16string_view kLongPressBackup = u"LastHTCLongPressEnd";
constexpr std::uint32_t kLongPressNothing = 255;
constexpr std::u16string_view kSamsungMouseKey = u"System\\State\\Samsung\\Mouse";
constexpr std::u16string_view kActionMethod = u"ActionMethod";
constexpr std::uint32_t kSamsungMouseOn = 3001;
constexpr std::uint32_t kSamsungMouseOff = 4001;

constexpr std::u16string_view kStartMenuClass = u"MSSTARTMENU";
constexpr std::u16string_view kMenuWorkerClass = u"menu_worker";
constexpr WParam kStartMenuLockCommand = 22561;
constexpr std::uint32_t kShowLockWaitMs = 200;

constexpr std::u16string_view kKeybdKey = u"ControlPanel\\Keybd";
constexpr std::u16string_view kDeviceLockWhenSuspend = u"DeviceLockWhenSuspend";
constexpr std::u16string_view kBackLightKey = u"ControlPanel\\BackLight";
constexpr std::u16string_view kAutoDeviceLockEnable = u"AutoDeviceLockEnable";

constexpr std::u16string_view kHtcUtilPath = u"\\Windows\\HtcUtil.dll";
constexpr std::u16string_view kShutDownExe = u"ShutDownEXE";
constexpr std::size_t kPathMax = 260;
constexpr std::uint32_t kShutDownWaitMs = 500;

Registry& reg(State& s) {
    return s.platform->registry();
}

bool delete_value(State& s, Root root, std::u16string_view key, std::u16string_view name) {
    auto k = reg(s).open_key(root, key);
    return k && reg(s).delete_value(*k, name);
}

bool write_backup(State& s, std::u16string_view name, std::uint32_t value) {
    return reg(s).create_key(Root::CurrentUser, kBackupKey) &&
           reg(s).set_dword(Root::CurrentUser, kBackupKey, name, value);
}

std::optional<std::uint32_t> read_backup(State& s, std::u16string_view name) {
    return reg(s).get_dword(Root::CurrentUser, kBackupKey, name);
}

// Writes a system value only where the phone has it: options a phone lacks stay absent.
bool write_existing(State& s, Root root, std::u16string_view key, std::u16string_view name,
                    std::uint32_t value) {
    if (!reg(s).get_dword(root, key, name)) return false;
    return reg(s).set_dword(root, key, name, value);
}

bool no_system_lock(State& s) {
    return setting(s, Id::NoSystemLock) != 0;
}

std::string hex_of(const std::optional<std::uint32_t>& v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v.value_or(0));
    return buf;
}

// --- reminder options ---------------------------------------------------------------------

void save_reminder_option(State& s) {
    // Once per lock: a second WM_Locked (a relock, lumo coming back) must not take the
    // disabled values for the user's.
    if (s.RemindersSaved) return;
    for (std::size_t i = 0; i < std::size(kReminderRows); ++i) {
        const auto& row = kReminderRows[i];
        // A backup left by a run that ended while locked holds the user's values, whatever
        // the options say now.
        auto v = read_backup(s, row.backup);
        if (!v) v = reg(s).get_dword(Root::CurrentUser, row.key, kOptions);
        if (v && i == kReminders) *v |= kBubbleBit;
        s.SavedReminders[i] = v;
        if (v) write_backup(s, row.backup, *v);
    }
    s.RemindersSaved = true;
    const auto& r = s.SavedReminders;
    trace(s, "SaveReminderOption R=%s S=%s C=%s M=%s E=%s", hex_of(r[kReminders]).c_str(),
          hex_of(r[kSms]).c_str(), hex_of(r[kMissedCalls]).c_str(),
          hex_of(r[kMms]).c_str(), hex_of(r[kEmail]).c_str());
}

void disable_reminder_option(State& s) {
    if (!s.RemindersSaved || s.RemindersDisabled) return;
    for (std::size_t i = 0; i < std::size(kReminderRows); ++i) {
        if (auto v = s.SavedReminders[i])
            write_existing(s, Root::CurrentUser, kReminderRows[i].key, kOptions,
                           *v & ~kBubbleBit);
    }
    s.RemindersDisabled = true;
    trace(s, "DisableReminderOption");
}

// --- system lock flag, long-press end key, Samsung mouse -----------------------------------

void system_lock_on(State& s) {
    if (no_system_lock(s) || !s.Locked) return;
    if (auto v = reg(s).get_dword(Root::LocalMachine, kSystemStateKey, kLockValue))
        reg(s).set_dword(Root::LocalMachine, kSystemStateKey, kLockValue, *v | 1);
}

void long_press_end_off(State& s) {
    if (setting(s, Id::NoHTCLongEndLock) || s.SavedLongPressEnd) return;
    auto v = reg(s).get_dword(Root::CurrentUser, kLongPressKey, kAutoExecute);
    if (!v) return;
    // The backup first: a kill between the two writes must still find the user's value.
    if (!write_backup(s, kLongPressBackup, *v)) return;
    reg(s).set_dword(Root::CurrentUser, kLongPressKey, kAutoExecute, kLongPressNothing);
    s.SavedLongPressEnd = *v;
}

void long_press_end_restore(State& s) {
    if (!s.SavedLongPressEnd) return;
    write_existing(s, Root::CurrentUser, kLongPressKey, kAutoExecute, *s.SavedLongPressEnd);
    delete_value(s, Root::CurrentUser, kBackupKey, kLongPressBackup);
    s.SavedLongPressEnd.reset();
}

void samsung_mouse_off(State& s) {
    if (!no_system_lock(s) || s.SavedSamsungAction) return;
    if (reg(s).get_dword(Root::LocalMachine, kSamsungMouseKey, kActionMethod) != kSamsungMouseOn)
        return;
    reg(s).set_dword(Root::LocalMachine, kSamsungMouseKey, kActionMethod, kSamsungMouseOff);
    s.SavedSamsungAction = kSamsungMouseOn;
}

void samsung_mouse_restore(State& s) {
    if (!s.SavedSamsungAction) return;
    write_existing(s, Root::LocalMachine, kSamsungMouseKey, kActionMethod, s.SavedSamsungAction);
    s.SavedSamsungAction = 0;
}

// --- the 6.5 start menu ---------------------------------------------------------------------

Hwnd start_menu(State& s) {
    return s.platform->windows().find_window(kStartMenuClass, std::nullopt);
}

void update_start_text(State& s, Hwnd menu) {
    auto info = s.platform->windows().window_info(menu);
    if (!info) return;
    auto text = info->title.substr(0, pr::mailbox::kStartTextMax);
    s.StartMenuText = text;
    if (reg(s).create_key(Root::CurrentUser, pr::kRootKey))
        reg(s).set_string(Root::CurrentUser, pr::kRootKey, pr::mailbox::kStartText, text);
    trace(s, "UpdateStartText %s", to_utf8(text).c_str());
}

LResult start_menu_guard(State& s, Hwnd h, std::uint32_t m, WParam w, LParam l) {
    auto& win = s.platform->windows();
    if (m == WM_COMMAND && w == kStartMenuLockCommand && !s.StartMenuText.empty()) {
        Hwnd menu = start_menu(s);
        auto info = menu ? win.window_info(menu) : std::nullopt;
        if (info && info->title.starts_with(s.StartMenuText)) {
            win.show_window(menu, SW_MINIMIZE);
            wake_lock_screen(s, 0);
            s.sleep(kShowLockWaitMs);
            post_to_lock_screen(s, pr::WM_ShowLock, 0);
            return 0;
        }
    }
    return win.call_previous(s.StartMenuWorker.prev, h, m, w, l);
}

}  // namespace

void overrides_on_lock(State& s) {
    if (setting(s, Id::LockNotification)) {
        save_reminder_option(s);
        disable_reminder_option(s);
    }
    system_lock_on(s);
    long_press_end_off(s);
    samsung_mouse_off(s);
}

void overrides_on_unlock(State& s) {
    restore_reminder_options(s);
    system_lock_off(s);
    long_press_end_restore(s);
    samsung_mouse_restore(s);
}

void restore_reminder_options(State& s) {
    if (!s.RemindersSaved) return;
    trace(s, "RestoreReminderOption");
    for (std::size_t i = 0; i < std::size(kReminderRows); ++i) {
        const auto& row = kReminderRows[i];
        if (auto v = s.SavedReminders[i]) write_existing(s, Root::CurrentUser, row.key, kOptions, *v);
        delete_value(s, Root::CurrentUser, kBackupKey, row.backup);
    }
    s.SavedReminders = {};
    s.RemindersSaved = false;
    s.RemindersDisabled = false;
}

void system_lock_off(State& s) {
    if (no_system_lock(s)) return;
    write_existing(s, Root::LocalMachine, kSystemStateKey, kLockValue, 0);
}

void restore_overrides(State& s) {
    for (const auto& row : kReminderRows) {
        auto v = read_backup(s, row.backup);
        if (!v) continue;
        write_existing(s, Root::CurrentUser, row.key, kOptions, *v);
        delete_value(s, Root::CurrentUser, kBackupKey, row.backup);
    }
    if (auto v = read_backup(s, kLongPressBackup)) {
        write_existing(s, Root::CurrentUser, kLongPressKey, kAutoExecute, *v);
        delete_value(s, Root::CurrentUser, kBackupKey, kLongPressBackup);
    }
}

bool turn_system_lock_off(State& s) {
    if (!start_menu(s)) return false;
    auto lock = reg(s).get_dword(Root::CurrentUser, kKeybdKey, kDeviceLockWhenSuspend);
    if (lock == 0u) return false;
    reg(s).create_key(Root::CurrentUser, kKeybdKey);
    reg(s).set_dword(Root::CurrentUser, kKeybdKey, kDeviceLockWhenSuspend, 0);
    write_existing(s, Root::CurrentUser, kBackLightKey, kAutoDeviceLockEnable, 0);
    s.platform->windows().message_box(0, kDeviceLockText, kLicenceCaption,
                                      MB_OK | MB_SETFOREGROUND);
    return true;
}

void replace_65_lock(State& s) {
    if (!setting(s, Id::Replace65Lock) || s.StartMenuTried) return;
    Hwnd menu = start_menu(s);
    if (!menu) return;
    auto& win = s.platform->windows();
    if (s.StartMenuText.empty()) update_start_text(s, menu);
    s.StartMenuTried = true;
    auto menu_info = win.window_info(menu);
    Hwnd worker = 0;
    for (Hwnd h : win.top_level_windows()) {
        if (h <= menu) continue;
        auto info = win.window_info(h);
        if (info && menu_info && info->class_name == kMenuWorkerClass &&
            info->process_id == menu_info->process_id) {
            worker = h;
            break;
        }
    }
    std::optional<PrevProc> prev;
    if (worker)
        prev = win.subclass(worker, [&s](Hwnd h, std::uint32_t m, WParam w, LParam l) {
            return start_menu_guard(s, h, m, w, l);
        });
    if (!prev) {
        trace(s, "6.5 Lock SC fail:%d", 1400);
        return;
    }
    s.StartMenuWorker = {worker, *prev};
    trace(s, "6.5 Lock SC OK %0X %s", unsigned(worker), to_utf8(s.StartMenuText).c_str());
}

void release_start_menu(State& s) {
    if (s.StartMenuWorker.window)
        s.platform->windows().remove_subclass(s.StartMenuWorker.window, s.StartMenuWorker.prev);
    s.StartMenuWorker = {};
}

void on_timer_start_menu(State& s) {
    if (!setting(s, Id::Replace65Lock)) return;
    if (Hwnd menu = start_menu(s)) update_start_text(s, menu);
    replace_65_lock(s);
}

LResult on_override_request(State& s, std::uint32_t msg, WParam, LParam) {
    if (msg != pr::WM_DeviceShutDown) return 0;
    auto& proc = s.platform->processes();
    auto exists = [&](std::u16string_view path) {
        auto host = proc.host_path(path);
        std::error_code ec;
        return host && std::filesystem::is_regular_file(*host, ec);
    };
    if (exists(kHtcUtilPath)) {
        // A library without the function (or one that does not load) leaves the phone on.
        if (auto lib = proc.load_library(u"HTCUtil.dll")) {
            if (proc.library_function(lib, u"HTCUtilDeviceOff", false)) {
                trace(s, "HTCUtilDeviceOff");
                proc.library_function(lib, u"HTCUtilDeviceOff", true);
            }
            proc.free_library(lib);
        }
    } else {
        auto exe = reg(s).get_string(Root::CurrentUser, pr::kRootKey, kShutDownExe);
        if (exe && exe->size() > kPathMax) exe->resize(kPathMax);
        if (exe && !exe->empty() && exists(*exe)) {
            s.Locked = false;
            give_shell_back(s);
            // Everything the lock changed goes back, so the phone starts clean.
            overrides_on_unlock(s);
            close_call_handle(s);
            trace(s, "Shut Down");
            proc.shell_execute(*exe, u"", true);
        }
    }
    s.sleep(kShutDownWaitMs);
    return 0;
}

}  // namespace lumo::service
