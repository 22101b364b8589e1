// System-state subscriptions: the broker's table of slots, the counters the service keeps from
// them, what it does with each change before passing it on, and the state listeners.
#include <algorithm>
#include <string>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::u16string_view kPhoneKey = u"System\\State\\Phone";
constexpr std::u16string_view kHardwareKey = u"System\\State\\Hardware";
constexpr std::u16string_view kSmsKey = u"System\\State\\Messages\\SMS\\Unread";
constexpr std::u16string_view kMmsKey = u"System\\State\\Messages\\MMS\\Unread";
constexpr std::u16string_view kVoiceMailKey = u"System\\State\\Messages\\VMail\\Total\\Unread";
constexpr std::u16string_view kEmailKey = u"System\\State\\Messages\\TotalEmail\\Unread";
constexpr std::u16string_view kMessagesKey = u"System\\State\\Messages";
constexpr std::u16string_view kTasksKey = u"System\\State\\Tasks";
constexpr std::u16string_view kZorpKey = u"Software\\Vesk\\Zorp";
constexpr std::u16string_view kImKey = u"Services\\Windows Live\\Plugins\\Messaging\\IMCall";
constexpr std::u16string_view kFlexMailKey = u"Software\\WebIS\\Mail2\\Storages";
constexpr std::u16string_view kFlexMailValue = u"TotalUnreadMessages";
constexpr std::u16string_view kRemindersKey = u"System\\State\\Shell\\Reminders";
constexpr std::u16string_view kActiveSyncKey = u"System\\State\\ActiveSync";
constexpr std::u16string_view kCount = u"Count";

constexpr std::size_t kSmsSlot = 2;
constexpr std::size_t kFlexMailFirstSlot = 26;
constexpr std::size_t kFlexMailStorages = 10;
constexpr std::size_t kKeyboardSlot = 37;
constexpr std::uint32_t kMaxReminders = 100;
constexpr std::uint32_t kBluetoothHeadsetBits = 0x14;

struct Row {
    std::size_t slot;
    Root root;
    std::u16string_view key, value;
    std::uint32_t message;
    std::uint32_t mask = 0;
    std::uint32_t batch_ms = 0;
};

// The fixed rows; the conditional ones (and those whose key depends on a setting) are made in
// register_subscriptions.
constexpr Row kFixedRows[] = {
    {0, Root::LocalMachine, kPhoneKey, u"Signal Strength Raw", pr::WM_CHANGE_PHONESIGNALSTRENGTH},
    {1, Root::CurrentUser, kPhoneKey, u"Missed Call Count", pr::WM_CHANGE_PHONEMISSEDCALLS},
    {3, Root::CurrentUser, kMmsKey, kCount, pr::WM_CHANGE_MESSAGINGMMSUNREAD},
    {4, Root::CurrentUser, kVoiceMailKey, kCount, pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD},
    {5, Root::CurrentUser, kEmailKey, kCount, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD},
    {7, Root::LocalMachine, kImKey, u"UnreadCount", pr::WM_CHANGE_WLMUNREAD},
    {8, Root::LocalMachine, kHardwareKey, u"Bluetooth", pr::WM_CHANGE_BLUETOOTHHEADSET,
     kBluetoothHeadsetBits, 1500},
    {9, Root::LocalMachine, kPhoneKey, u"Cellular System Connected",
     pr::WM_CHANGE_CELLSYSTEMCONNECTED},
    {10, Root::LocalMachine, kPhoneKey, u"Current Operator Name",
     pr::WM_CHANGE_SN_PHONEOPERATORNAME},
    {11, Root::CurrentUser, u"System\\State\\Shell\\Alarms", u"Next", pr::WM_CHANGE_NEXTALARM},
    {12, Root::LocalMachine, kPhoneKey, u"Status", pr::WM_CHANGE_SN_PHONEOPERATORNAME, 0x10},
    {14, Root::LocalMachine, kHardwareKey, u"Headset", pr::WM_CHANGE_HEADPHONE},
    {15, Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode",
     pr::WM_CHANGE_SN_PHONERINGER},
    {16, Root::LocalMachine, kHardwareKey, u"Bluetooth", pr::WM_CHANGE_SN_BLUETOOTH, 0x1},
    {17, Root::LocalMachine, kHardwareKey, u"Wifi", pr::WM_CHANGE_SN_WIFI, 0x2},
    {18, Root::LocalMachine, u"Drivers\\BuiltIn\\RIL", u"CFU_State", pr::WM_CHANGE_CFUSTATE},
    {19, Root::LocalMachine, u"System\\State\\Connections", kCount,
     pr::WM_CHANGE_CONNECTIONSCOUNT},
    {20, Root::CurrentUser, kZorpKey, u"CurrentTitle", pr::WM_CHANGE_ZORPTITLE},
    {21, Root::CurrentUser, kZorpKey, u"CurrentAlbum", pr::WM_CHANGE_ZORPALBUM, 0, 500},
    {22, Root::CurrentUser, kZorpKey, u"Status", pr::WM_CHANGE_ZORPSTATUS},
    {23, Root::CurrentUser, kZorpKey, u"MusicVolume", pr::WM_CHANGE_ZORPVOLUME},
    {38, Root::CurrentUser, pr::kRootKey, u"Wallpaper", pr::WM_CHANGE_WALLPAPER},
    {39, Root::CurrentUser, pr::kRootKey, u"WallpaperL", pr::WM_CHANGE_WALLPAPER},
    {40, Root::CurrentUser, kRemindersKey, u"Active", pr::WM_CHANGE_REMINDERACTIVE},
    {41, Root::CurrentUser, u"System\\State\\Appointments", u"Current",
     pr::WM_CHANGE_APPOINTMENTS},
    {42, Root::CurrentUser, u"System\\State\\Appointments\\HomeScreen", u"Subject",
     pr::WM_CHANGE_APPOINTMENTS},
    {43, Root::CurrentUser, u"ControlPanel\\Owner", u"Name", pr::WM_CHANGE_OWNERINFO},
    {44, Root::CurrentUser, u"ControlPanel\\Owner", u"Telephone", pr::WM_CHANGE_OWNERINFO},
    {45, Root::LocalMachine, kActiveSyncKey, u"Synchronizing", pr::WM_CHANGE_ACTIVESYNC},
    {46, Root::LocalMachine, kHardwareKey, u"Cradled", pr::WM_CHANGE_CRADLE},
    {47, Root::LocalMachine, kPhoneKey, u"Incoming Caller Name", pr::WM_CHANGE_INCOMINGNAME},
    {48, Root::LocalMachine, kPhoneKey, u"Incoming Caller PropName",
     pr::WM_CHANGE_INCOMINGPROPNAME},
    {49, Root::LocalMachine, kPhoneKey, u"Caller Number", pr::WM_CHANGE_CALLERNUMBER},
    {50, Root::LocalMachine, kPhoneKey, u"Caller Name", pr::WM_CHANGE_CALLERNAME},
};

// The status messages the state listeners (the settings program's and the browser's status
// bars) hear of, always with lParam 0.
constexpr std::uint32_t kListenerMessages[] = {
    pr::WM_CHANGE_PHONESIGNALSTRENGTH, pr::WM_CHANGE_SN_PHONEOPERATORNAME,
    pr::WM_CHANGE_SN_PHONERINGER,      pr::WM_CHANGE_SN_BLUETOOTH,
    pr::WM_CHANGE_SN_WIFI,             pr::WM_CHANGE_CONNECTIONSCOUNT,
    pr::WM_CHANGE_CELLSYSTEMCONNECTED, pr::WM_CHANGE_HEADPHONE,
    pr::WM_CHANGE_BT_MSHEADPHONE,
};

bool value_exists(Registry& reg, Root root, std::u16string_view key, std::u16string_view name) {
    auto k = reg.open_key(root, key);
    if (!k) return false;
    ValueInfo info;
    info.size = 0xFFFFFFFF;
    return reg.read_value(*k, name, {}, &info) || info.size != 0xFFFFFFFF;
}

std::int32_t read_count(State& s, Root root, std::u16string_view key, std::u16string_view name) {
    return std::int32_t(s.platform->registry().get_dword(root, key, name).value_or(0));
}

Root sms_root(State& s) {
    return s.settings.num(Id::KoreanSMSpatch) ? Root::LocalMachine : Root::CurrentUser;
}

// The conditional rows whose presence depends on a setting or on what the phone has.
bool wanted(State& s, std::size_t slot) {
    const auto& cfg = s.settings;
    switch (slot) {
        case 41: case 42: return cfg.num(Id::ShowAppointment) != 0;
        case 43: case 44: return cfg.num(Id::ShowOwnerInfo) != 0;
        case 46: return cfg.num(Id::ActionOnCradle) != 0;
        case 47: case 48: case 49: case 50: return cfg.num(Id::CallerID) != 0;
        default: return true;
    }
}

NotificationHandle register_row(State& s, const Row& row) {
    NotificationRequest r;
    r.root = row.root;
    r.key = std::u16string(row.key);
    r.value = std::u16string(row.value);
    r.target = s.ServiceWindow;
    r.message = row.message;
    r.mask = row.mask;
    r.batch_ms = row.batch_ms;
    return s.platform->broker().register_notification(r);
}

// The first 10 FlexMail storages, in the registry's order.
std::vector<std::u16string> flexmail_storages(State& s) {
    std::vector<std::u16string> out;
    auto& reg = s.platform->registry();
    auto key = reg.open_key(Root::CurrentUser, kFlexMailKey);
    if (!key) return out;
    for (std::uint32_t i = 0; i < kFlexMailStorages; ++i) {
        auto name = reg.enum_subkey(*key, i);
        if (!name) break;
        out.push_back(std::u16string(kFlexMailKey) + u"\\" + *name);
    }
    return out;
}

std::int32_t flexmail_total(State& s) {
    std::int32_t sum = 0;
    for (const auto& path : flexmail_storages(s))
        if (auto n = s.platform->registry().get_dword(Root::CurrentUser, path, kFlexMailValue))
            sum += std::int32_t(*n);
    return sum;
}

std::uint32_t count_reminders(State& s) {
    auto& reg = s.platform->registry();
    trace(s, "Get Reminder");
    std::uint32_t n = 0;
    if (auto key = reg.open_key(Root::CurrentUser, kRemindersKey))
        while (n < kMaxReminders) {
            auto name = reg.enum_subkey(*key, n);
            if (!name) break;
            ++n;
            trace(s, "Found Reminder %d Path:%s", int(n), to_utf8(*name).c_str());
        }
    trace(s, "Get Reminder %d", int(n));
    return n;
}

std::u16string_view tasks_value(State& s) {
    switch (s.settings.num(Id::ShowTask)) {
        case 1: return u"Active";
        case 2: return u"Due Today";
        default: return {};
    }
}

void post_to_listeners(State& s, std::uint32_t msg, WParam w) {
    for (auto& listener : s.StateListeners)
        if (Hwnd h = listener) s.platform->windows().post(h, msg, w, 0);
}

void on_message_count(State& s, std::uint32_t msg, std::int32_t count) {
    const auto index = msg == pr::WM_CHANGE_MESSAGINGSMSUNREAD   ? kUnreadSms
                       : msg == pr::WM_CHANGE_MESSAGINGMMSUNREAD ? kUnreadMms
                       : msg == pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD ? kUnreadVoiceMail
                                                                            : kUnreadEmail;
    const std::int32_t previous = s.counters[index].exchange(count);
    if (msg == pr::WM_CHANGE_MESSAGINGSMSUNREAD || msg == pr::WM_CHANGE_MESSAGINGMMSUNREAD) {
        // A preview shown for the new message stands in for the repeated lock.
        if (export_for_count(s, msg, previous, count)) {
            forward_state(s, msg, WParam(count));
            return;
        }
    }
    if (msg == pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD && s.settings.num(Id::LockNotification)) {
        if (s.LcdOff) {
            start_unattended(s);
            stop_unattended_later(s, kCountStopUnattendedMs);
        }
        delay_email_count(s, previous, count);
        return;
    }
    if (count < 0 && (msg == pr::WM_CHANGE_MESSAGINGMMSUNREAD ||
                      msg == pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD))
        return;
    forward_state(s, msg, WParam(count));
    on_count_changed(s, count);
}

}  // namespace

std::uint32_t cellular_system_level(std::uint32_t flags) {
    for (int bit = 6; bit >= 0; --bit)
        if (flags & (1u << bit)) return std::uint32_t(bit + 1);
    return 0;
}

void register_subscriptions(State& s) {
    trace(s, "Register SNAPI");
    unregister_subscriptions(s);
    auto& reg = s.platform->registry();
    const auto& cfg = s.settings;

    // Every row in slot order, the conditional ones made from the settings and the phone.
    std::vector<Row> rows;
    std::vector<std::u16string> keep;  // the storage paths the FlexMail rows point into
    keep.reserve(kFlexMailStorages);
    auto fixed = [&](std::size_t slot) {
        for (const auto& r : kFixedRows)
            if (r.slot == slot && wanted(s, slot)) rows.push_back(r);
    };
    fixed(0);
    fixed(1);
    rows.push_back({kSmsSlot, sms_root(s), kSmsKey, kCount, pr::WM_CHANGE_MESSAGINGSMSUNREAD});
    for (std::size_t slot = 3; slot <= 5; ++slot) fixed(slot);
    if (value_exists(reg, Root::CurrentUser, u"ControlPanel\\Keybd", u"StylusOutStatus"))
        rows.push_back({6, Root::CurrentUser, u"ControlPanel\\Keybd", u"StylusOutStatus",
                        pr::WM_CHANGE_STYLUS});
    for (std::size_t slot = 7; slot <= 12; ++slot) fixed(slot);
    if (auto v = tasks_value(s); !v.empty())
        rows.push_back({13, Root::CurrentUser, kTasksKey, v, pr::WM_CHANGE_TASKSACTIVE});
    for (std::size_t slot = 14; slot <= 23; ++slot) fixed(slot);
    if (cfg.num(Id::ShowWeather) == 7)
        rows.push_back({24, Root::CurrentUser, u"Software\\HTC\\Manila", u"Weather.LastUpdateTime",
                        pr::WM_CHANGE_WEATHER});
    else if (cfg.num(Id::ShowWeather) == 5)
        rows.push_back({24, Root::CurrentUser, pr::kRootKey, u"UserWeather", pr::WM_CHANGE_WEATHER});
    std::size_t fm = kFlexMailFirstSlot;
    for (auto& path : flexmail_storages(s)) {
        keep.push_back(std::move(path));
        trace(s, "Found FM %d Path:%s", int(fm - kFlexMailFirstSlot), to_utf8(keep.back()).c_str());
        rows.push_back({fm++, Root::CurrentUser, keep.back(), kFlexMailValue,
                        pr::WM_CHANGE_FLEXMAILUNREAD});
    }
    if (value_exists(reg, Root::LocalMachine, u"System\\GDI\\Rotation", u"SlideKey"))
        rows.push_back({kKeyboardSlot, Root::LocalMachine, u"System\\GDI\\Rotation", u"SlideKey",
                        pr::WM_CHANGE_KEYBOARDSLIDE});
    else if (value_exists(reg, Root::LocalMachine, u"Software\\OEM\\Keyboard", u"SlidingOut"))
        rows.push_back({kKeyboardSlot, Root::LocalMachine, u"Software\\OEM\\Keyboard",
                        u"SlidingOut", pr::WM_CHANGE_KEYBOARDSLIDE});
    for (std::size_t slot = 38; slot < kSubscriptionSlots; ++slot) fixed(slot);

    // A failed registration ends the registration: the later slots stay empty.
    NotificationHandle last = 0;
    for (const auto& row : rows) {
        last = register_row(s, row);
        if (!last) {
            trace(s, "ERROR: can't register SNAPI %d", int(row.slot));
            break;
        }
        s.Subscriptions[row.slot] = last;
    }
    trace(s, "Finsih Register SNAPI %d", int(last != 0));
}

void unregister_subscriptions(State& s) {
    for (auto& handle : s.Subscriptions)
        if (handle) {
            s.platform->broker().close_notification(handle);
            handle = 0;
        }
}

void reregister_sms_subscription(State& s) {
    auto& handle = s.Subscriptions[kSmsSlot];
    if (handle) s.platform->broker().close_notification(handle);
    handle = register_row(
        s, {kSmsSlot, sms_root(s), kSmsKey, kCount, pr::WM_CHANGE_MESSAGINGSMSUNREAD});
    if (!handle) trace(s, "ERROR: can't register SNAPI %d", int(kSmsSlot));
    s.counters[kUnreadSms] = read_count(s, sms_root(s), kSmsKey, kCount);
}

void read_initial_counters(State& s) {
    const Root cu = Root::CurrentUser, lm = Root::LocalMachine;
    s.counters[kMissedCalls] = read_count(s, cu, kPhoneKey, u"Missed Call Count");
    s.counters[kUnreadVoiceMail] = read_count(s, cu, kVoiceMailKey, kCount);
    s.counters[kUnreadSms] = read_count(s, sms_root(s), kSmsKey, kCount);
    s.counters[kUnreadMms] = read_count(s, cu, kMmsKey, kCount);
    s.counters[kUnreadEmail] = read_count(s, cu, kEmailKey, kCount);
    auto tasks = tasks_value(s);
    s.counters[kActiveTasks] = tasks.empty() ? 0 : read_count(s, cu, kTasksKey, tasks);
    s.ZorpStatus = read_count(s, cu, kZorpKey, u"Status");
    s.ZorpVolume = read_count(s, cu, kZorpKey, u"MusicVolume");
    s.counters[kUnreadFlexMail] = flexmail_total(s);
    s.counters[kUnreadInstantMessages] = read_count(s, lm, kImKey, u"UnreadCount");
    s.CellSystem = cellular_system_level(
        std::uint32_t(read_count(s, lm, kPhoneKey, u"Cellular System Connected")));
    s.counters[kReminders] = std::int32_t(count_reminders(s));
    s.SyncState = std::uint8_t(read_count(s, lm, kActiveSyncKey, u"Synchronizing"));
    if (auto bt = s.platform->registry().get_dword(lm, kHardwareKey, u"Bluetooth"))
        s.BluetoothOn = (*bt & 1) != 0;

}

void forward_state(State& s, std::uint32_t msg, WParam w) {
    const auto* row = protocol::find_message(msg);
    if (!row) return;
    if (row->routes & protocol::kServiceToLock) post_to_lock_screen(s, msg, w);
    if (std::find(std::begin(kListenerMessages), std::end(kListenerMessages), msg) !=
        std::end(kListenerMessages))
        post_to_listeners(s, msg, w);
}

LResult on_state_change(State& s, std::uint32_t msg, WParam w, LParam) {
    auto& win = s.platform->windows();
    switch (msg) {
        case pr::WM_CHANGE_PHONEMISSEDCALLS:
            s.counters[kMissedCalls] = std::int32_t(w);
            forward_state(s, msg, w);
            if (w != 0 && s.Locked && !s.Talking) post_to_lock_screen(s, pr::WM_REPEAT_LOCK, 0);
            return 0;
        case pr::WM_CHANGE_MESSAGINGSMSUNREAD:
        case pr::WM_CHANGE_MESSAGINGMMSUNREAD:
        case pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD:
        case pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD:
            on_message_count(s, msg, std::int32_t(w));
            return 0;
        case pr::WM_CHANGE_TASKSACTIVE:
            s.counters[kActiveTasks] = std::int32_t(w);
            if (w != 0) export_tasks(s);
            break;
        case pr::WM_CHANGE_SN_BLUETOOTH:
            s.BluetoothOn = (w & 1) != 0;
            break;
        case pr::WM_CHANGE_FLEXMAILUNREAD:
            s.counters[kUnreadFlexMail] = flexmail_total(s);
            w = WParam(s.counters[kUnreadFlexMail].load());
            break;
        case pr::WM_CHANGE_WLMUNREAD:
            s.counters[kUnreadInstantMessages] = std::int32_t(w);
            break;
        case pr::WM_CHANGE_CELLSYSTEMCONNECTED:
            s.CellSystem = cellular_system_level(std::uint32_t(w));
            w = s.CellSystem;
            break;
        case pr::WM_CHANGE_ACTIVESYNC:
            s.SyncState = std::uint8_t(w);
            post_to_lock_screen(s, msg, w);
            return 0;
        case pr::WM_CHANGE_ZORPSTATUS:
            s.ZorpStatus = std::int32_t(w);
            break;
        case pr::WM_CHANGE_ZORPVOLUME:
            s.ZorpVolume = std::int32_t(w);
            break;
        case pr::WM_CHANGE_BLUETOOTHHEADSET:
            // Only the headset bits matter; the own message carries them on.
            trace(s, "BT headset %0X", unsigned(w));
            win.post(s.ServiceWindow, pr::WM_CHANGE_BT_MSHEADPHONE, w & kBluetoothHeadsetBits, 0);
            return 0;
        case pr::WM_CHANGE_BT_MSHEADPHONE:
            forward_state(s, msg, w);
            on_headphone_change(s, msg, w);
            return 0;
        default:
            break;
    }
    forward_state(s, msg, w);
    return 0;
}

LResult on_reminder_count(State& s, std::uint32_t, WParam, LParam) {
    const std::uint32_t count = count_reminders(s);
    s.counters[kReminders] = std::int32_t(count);
    if (count != 0) {
        if (!s.settings.num(Id::LockNotification))
            s.ReminderWakeTick = s.platform->clock().tick_count();
        else if (s.Locked && !in_call(s))
            post_to_lock_screen(s, pr::WM_ShowNotification, count);
    }
    trace(s, "Change_Reminder %d(%d) LCD=%d", int(count), int(s.ReminderForwarded),
          int(s.LcdOff.load()));
    if (std::int32_t(count) != s.ReminderForwarded) {
        s.ReminderForwarded = std::int32_t(count);
        post_to_lock_screen(s, pr::WM_CHANGE_REMINDER, count);
    }
    return 0;
}

bool switch_bluetooth_off(State& s) {
    auto& wireless = s.platform->wireless();
    for (const auto& radio : wireless.devices())
        if (radio.type == platform::RadioType::Bluetooth)
            return wireless.set_radio(platform::RadioType::Bluetooth, false);
    return false;
}

LResult on_get_all_states(State& s, std::uint32_t, WParam, LParam) {
    auto post = [&s](std::uint32_t msg, std::int32_t v) { post_to_lock_screen(s, msg, WParam(v)); };
    post(pr::WM_CHANGE_TASKSACTIVE, s.counters[kActiveTasks]);
    post(pr::WM_CHANGE_PHONEMISSEDCALLS, s.counters[kMissedCalls]);
    post(pr::WM_CHANGE_MESSAGINGSMSUNREAD, s.counters[kUnreadSms]);
    // Counters still unknown are left out.
    const std::pair<std::uint32_t, Counter> maybe[] = {
        {pr::WM_CHANGE_MESSAGINGMMSUNREAD, kUnreadMms},
        {pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, kUnreadVoiceMail},
        {pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, kUnreadEmail}};
    for (auto [msg, counter] : maybe)
        if (s.counters[counter] >= 0) post(msg, s.counters[counter]);
    post(pr::WM_CHANGE_FLEXMAILUNREAD, s.counters[kUnreadFlexMail]);
    post(pr::WM_CHANGE_WLMUNREAD, s.counters[kUnreadInstantMessages]);
    post(pr::WM_CHANGE_REMINDER, s.counters[kReminders]);
    post(pr::WM_CHANGE_ACTIVESYNC, s.SyncState);
    auto zorp = protocol::window_name(protocol::Program::Zorp);
    if (s.platform->windows().find_window(zorp, zorp)) {
        post(pr::WM_CHANGE_ZORPTITLE, 0);
        post(pr::WM_CHANGE_ZORPALBUM, 0);
        post(pr::WM_CHANGE_ZORPSTATUS, s.ZorpStatus);
    }
    post(pr::WM_CHANGE_ZORPVOLUME, s.ZorpVolume);
    return 0;
}

LResult on_add_state_listener(State& s, std::uint32_t, WParam w, LParam) {
    if (!w) return 0;
    // A window already listed is not listed twice (it would hear everything twice).
    for (auto& h : s.StateListeners)
        if (h == w) return 0;
    for (auto& h : s.StateListeners) {
        Hwnd expected = 0;
        if (h.compare_exchange_strong(expected, w)) return 0;
    }
    return 0;
}

LResult on_remove_state_listener(State& s, std::uint32_t, WParam w, LParam) {
    for (auto& h : s.StateListeners)
        if (h == w) h = 0;
    return 0;
}

LResult on_battery_for_s2v(State& s, std::uint32_t, WParam, LParam) {
    // The slide-to-view program is the one lumo just brought to the front, the one asking.
    Hwnd fg = s.platform->windows().foreground_window();
    if (fg && fg != s.SlideWindow && fg != s.ServiceWindow)
        s.platform->windows().post(fg, pr::WM_UpdateBattery, s.BatteryPercent, s.OnAC ? 1 : 0);
    return 0;
}

}  // namespace lumo::service
