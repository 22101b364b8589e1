// The state subscriptions over the fake platform: which slots are registered for which options,
// a failed registration, the broker's batching, and what the service makes of each change
// before lumo and the listeners hear of it.
#include <algorithm>
#include <optional>

#include "../src/parts.h"
#include "service_harness.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;
constexpr Root kLM = Root::LocalMachine, kCU = Root::CurrentUser;

// A phone with every optional state value there, and the service running with lumo hidden.
struct Phone {
    explicit Phone(bool options_on, bool debug = false) {
        auto& reg = h.p.registry();
        reg.create_key(kCU, u"ControlPanel\\Keybd");
        reg.set_dword(kCU, u"ControlPanel\\Keybd", u"StylusOutStatus", 0);
        reg.create_key(kLM, u"System\\GDI\\Rotation");
        reg.set_dword(kLM, u"System\\GDI\\Rotation", u"SlideKey", 0);
        const std::uint8_t on = options_on ? 1 : 0;
        h.set_byte(u"ShowTask", on);
        h.set_byte(u"ShowWeather", options_on ? 5 : 0);
        h.set_byte(u"ShowAppointment", on);
        h.set_byte(u"ShowOwnerInfo", on);
        h.set_byte(u"ActionOnCradle", on);
        h.set_byte(u"CallerID", on);
        if (debug) h.set_byte(u"DebugOn", 1);
    }
    void start() {
        h.p.set_boot_age(120000);
        ASSERT_TRUE(h.start());
        h.p.run_for(kLaunchSettleMs);
        ASSERT_TRUE(h.lock_window);
        h.lock_received.clear();
    }
    void set(Root root, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        h.p.registry().create_key(root, key);
        h.p.registry().set_dword(root, key, name, v);
    }
    // What reached lumo of one message, in order.
    std::vector<Received> to_lock(std::uint32_t msg) {
        std::vector<Received> out;
        for (auto& r : h.lock_received)
            if (r.msg == msg) out.push_back(r);
        return out;
    }
    std::vector<std::size_t> registered() {
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < kSubscriptionSlots; ++i)
            if (h.s.Subscriptions[i]) out.push_back(i);
        return out;
    }
    ServiceHarness h;
};

std::vector<std::size_t> range(std::size_t a, std::size_t b) {
    std::vector<std::size_t> v;
    for (std::size_t i = a; i <= b; ++i) v.push_back(i);
    return v;
}

std::vector<std::size_t> join(std::initializer_list<std::vector<std::size_t>> parts) {
    std::vector<std::size_t> v;
    for (auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

TEST(ServiceSubscriptions, OptionalSlotsStayEmptyWithTheirOptionsOff) {
    Phone ph(false);
    ph.start();
    // 25 and 36 are never used; no FlexMail storage exists.
    EXPECT_EQ(ph.registered(),
              join({range(0, 12), range(14, 23), {37}, range(38, 40), {45}}));
}

TEST(ServiceSubscriptions, EveryOptionOnFillsEverySlotButTheUnusedOnes) {
    Phone ph(true);
    auto& reg = ph.h.p.registry();
    for (int i = 0; i < 12; ++i) {
        auto key = u"Software\\WebIS\\Mail2\\Storages\\S" + to_u16(std::to_string(i));
        reg.create_key(kCU, key);
        reg.set_dword(kCU, key, u"TotalUnreadMessages", std::uint32_t(i + 1));
    }
    ph.start();
    EXPECT_EQ(ph.registered(), join({range(0, 24), range(26, 35), range(37, 50)}));
    // Only the first ten storages count: 1 + ... + 10.
    EXPECT_EQ(ph.h.s.counters[kUnreadFlexMail], 55);
    // A change in the eleventh storage is not heard; one in the first is recounted.
    reg.set_dword(kCU, u"Software\\WebIS\\Mail2\\Storages\\S10", u"TotalUnreadMessages", 50);
    ph.h.p.run_until_idle();
    EXPECT_TRUE(ph.to_lock(pr::WM_CHANGE_FLEXMAILUNREAD).empty());
    reg.set_dword(kCU, u"Software\\WebIS\\Mail2\\Storages\\S0", u"TotalUnreadMessages", 11);
    ph.h.p.run_until_idle();
    auto got = ph.to_lock(pr::WM_CHANGE_FLEXMAILUNREAD);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].w, 65u);
}

TEST(ServiceSubscriptions, KeyboardSlotFollowsWhicheverSlideValueThePhoneHas) {
    Phone ph(false);
    ph.h.p.registry().delete_key(kLM, u"System\\GDI\\Rotation");
    ph.set(kLM, u"Software\\OEM\\Keyboard", u"SlidingOut", 0);
    ph.start();
    EXPECT_NE(ph.h.s.Subscriptions[37], 0u);
    ph.h.p.registry().delete_key(kLM, u"Software\\OEM\\Keyboard");
    ph.h.p.registry().delete_value(*ph.h.p.registry().open_key(kCU, u"ControlPanel\\Keybd"),
                                   u"StylusOutStatus");
    register_subscriptions(ph.h.s);
    EXPECT_EQ(ph.h.s.Subscriptions[37], 0u);
    EXPECT_EQ(ph.h.s.Subscriptions[6], 0u);
}

// A broker that refuses one registration and passes the rest to the fake's.
class RefusingBroker final : public StateBroker {
  public:
    RefusingBroker(StateBroker& real, std::u16string value) : real_(real), value_(std::move(value)) {}
    NotificationHandle register_notification(const NotificationRequest& r) override {
        return r.value == value_ ? 0 : real_.register_notification(r);
    }
    bool close_notification(NotificationHandle h) override { return real_.close_notification(h); }

  private:
    StateBroker& real_;
    std::u16string value_;
};

class RefusingPlatform final : public Platform {
  public:
    RefusingPlatform(fake::FakePlatform& p, std::u16string value) : p_(p), broker_(p.broker(), std::move(value)) {}
    Registry& registry() override { return p_.registry(); }
    StateBroker& broker() override { return broker_; }
    MessageQueue& messages() override { return p_.messages(); }
    Windows& windows() override { return p_.windows(); }
    Processes& processes() override { return p_.processes(); }
    Sync& sync() override { return p_.sync(); }
    Clock& clock() override { return p_.clock(); }
    Power& power() override { return p_.power(); }
    Sound& sound() override { return p_.sound(); }
    Wireless& wireless() override { return p_.wireless(); }
    Pim& pim() override { return p_.pim(); }
    Messaging& messaging() override { return p_.messaging(); }
    Telephony& telephony() override { return p_.telephony(); }
    Contacts& contacts() override { return p_.contacts(); }
    SimPhoneBook& sim() override { return p_.sim(); }
    CallLog& call_log() override { return p_.call_log(); }
    Notify& notify() override { return p_.notify(); }

  private:
    fake::FakePlatform& p_;
    RefusingBroker broker_;
};

TEST(ServiceSubscriptions, AFailedRegistrationStopsTheRestAndIsLoggedBySlot) {
    Phone ph(true, true);
    RefusingPlatform refusing(ph.h.p, u"Cellular System Connected");  // slot 9
    ph.h.p.set_boot_age(120000);
    ASSERT_TRUE(service::start(ph.h.s, refusing, u""));
    EXPECT_EQ(ph.registered(), range(0, 8));
    auto lines = ph.h.log_lines();
    auto at = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
    EXPECT_LT(at("Register SNAPI"), at("ERROR: can't register SNAPI 9"));
    EXPECT_LT(at("ERROR: can't register SNAPI 9"), at("Finsih Register SNAPI 0"));
    EXPECT_LT(at("Finsih Register SNAPI 0"), std::ptrdiff_t(lines.size()));
    // The service runs on with what it has: the slots before still deliver.
    ph.h.p.run_for(kLaunchSettleMs);
    ph.h.lock_received.clear();
    ph.set(kLM, u"System\\State\\Phone", u"Signal Strength Raw", 40);
    ph.h.p.run_until_idle();
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_PHONESIGNALSTRENGTH).size(), 1u);
    ph.h.p.windows().destroy_window(ph.h.service_window());
    EXPECT_TRUE(ph.registered().empty());
}

TEST(ServiceSubscriptions, AReloadMovesTheSmsSlotToTheRootKoreanSMSpatchNames) {
    Phone ph(false);
    ph.set(kLM, u"System\\State\\Messages\\SMS\\Unread", u"Count", 0);
    ph.start();
    ph.h.set_byte(u"KoreanSMSpatch", 1);
    ph.set(kLM, u"System\\State\\Messages\\SMS\\Unread", u"Count", 4);
    ph.h.p.windows().post(ph.h.service_window(), pr::WM_RefreshSetting, 0, 0);
    ph.h.p.run_until_idle();
    EXPECT_EQ(ph.h.s.counters[kUnreadSms], 4);
    ph.h.lock_received.clear();
    ph.set(kCU, u"System\\State\\Messages\\SMS\\Unread", u"Count", 9);  // the old root: not heard
    ph.set(kLM, u"System\\State\\Messages\\SMS\\Unread", u"Count", 5);
    ph.h.p.run_for(kRestartLockScreenMs + kLaunchSettleMs);
    EXPECT_EQ(ph.h.s.counters[kUnreadSms], 5);
}

TEST(ServiceSubscriptions, BluetoothHeadsetChangesAreBatchedAndMasked) {
    Phone ph(false);
    ph.start();
    auto& reg = ph.h.p.registry();
    // A radio switch alone (bit 0x1) is no headset change.
    ph.set(kLM, u"System\\State\\Hardware", u"Bluetooth", 1);
    ph.h.p.run_for(2000);
    EXPECT_TRUE(ph.to_lock(pr::WM_CHANGE_BT_MSHEADPHONE).empty());
    EXPECT_TRUE(ph.h.s.BluetoothOn);
    // 50 headset changes within a second.
    std::vector<std::uint64_t> arrivals;
    std::size_t seen = 0;
    for (int i = 0; i < 50; ++i) {
        reg.set_dword(kLM, u"System\\State\\Hardware", u"Bluetooth", 1 | (i % 2 ? 0x4 : 0x10));
        ph.h.p.run_for(20);
        auto got = ph.to_lock(pr::WM_CHANGE_BT_MSHEADPHONE).size();
        for (; seen < got; ++seen) arrivals.push_back(ph.h.p.now());
    }
    for (int i = 0; i < 100; ++i) {
        ph.h.p.run_for(20);
        auto got = ph.to_lock(pr::WM_CHANGE_BT_MSHEADPHONE).size();
        for (; seen < got; ++seen) arrivals.push_back(ph.h.p.now());
    }
    ASSERT_FALSE(arrivals.empty());
    EXPECT_LE(arrivals.size(), 2u);
    for (std::size_t i = 1; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i] - arrivals[i - 1], 1500u);
    // lumo hears the headset bits only.
    for (auto& r : ph.to_lock(pr::WM_CHANGE_BT_MSHEADPHONE)) EXPECT_EQ(r.w & ~WParam(0x14), 0u);
    // The Bluetooth-on flag follows the radio.
    ph.set(kLM, u"System\\State\\Hardware", u"Bluetooth", 0x4);
    ph.h.p.run_for(2000);
    EXPECT_FALSE(ph.h.s.BluetoothOn);
}

TEST(ServiceSubscriptions, ConversionsAndTheirRoutes) {
    Phone ph(false);
    ph.start();
    auto& win = ph.h.p.windows();
    CreateWindowParams cp;
    cp.class_name = u"Listener";
    std::vector<Received> heard;
    win.register_class(u"Listener", [&](Hwnd h, std::uint32_t m, WParam w, LParam l) -> LResult {
        if (m >= WM_APP) heard.push_back({m, w, l});
        return win.default_proc(h, m, w, l);
    });
    Hwnd listener = win.create_window(cp);
    win.post(ph.h.service_window(), pr::WM_AddStateListener, listener, 0);
    win.post(ph.h.service_window(), pr::WM_AddStateListener, listener, 0);  // listed once
    ph.h.p.run_until_idle();
    EXPECT_EQ(std::count(ph.h.s.StateListeners.begin(), ph.h.s.StateListeners.end(), listener), 1);

    ph.h.s.LcdOff = true;  // lumo hears LcdOff in lParam, the listeners 0
    ph.set(kLM, u"System\\State\\Phone", u"Cellular System Connected", 0x24);
    ph.set(kLM, u"System\\State\\ActiveSync", u"Synchronizing", 1);
    ph.set(kLM, u"System\\State\\Phone", u"Signal Strength Raw", 77);
    ph.set(kCU, u"System\\State\\Shell\\Alarms", u"Next", 5);
    ph.h.p.run_until_idle();
    ph.h.s.LcdOff = false;
    auto cell = ph.to_lock(pr::WM_CHANGE_CELLSYSTEMCONNECTED);
    ASSERT_EQ(cell.size(), 1u);
    EXPECT_EQ(cell[0].w, 6u);
    EXPECT_EQ(cell[0].l, 1);
    EXPECT_EQ(ph.h.s.CellSystem, 6u);
    EXPECT_EQ(ph.h.s.SyncState, 1);
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_ACTIVESYNC).size(), 1u);
    std::vector<std::uint32_t> listener_msgs;
    for (auto& r : heard) {
        listener_msgs.push_back(r.msg);
        EXPECT_EQ(r.l, 0);
    }
    // The sync state and the alarm stay with lumo.
    EXPECT_EQ(listener_msgs, (std::vector<std::uint32_t>{pr::WM_CHANGE_CELLSYSTEMCONNECTED,
                                                         pr::WM_CHANGE_PHONESIGNALSTRENGTH}));
    EXPECT_EQ(heard[0].w, 6u);
    EXPECT_EQ(cellular_system_level(0), 0u);
    EXPECT_EQ(cellular_system_level(0x1), 1u);
    EXPECT_EQ(cellular_system_level(0x7F), 7u);
    EXPECT_EQ(cellular_system_level(0x180), 0u);  // bits above 0x40 mean nothing here
}

TEST(ServiceSubscriptions, ListenersHearTheRingerBluetoothAndWifiWithTheirValues) {
    Phone ph(false);
    ph.start();
    auto& win = ph.h.p.windows();
    std::vector<Received> heard;
    win.register_class(u"Listener", [&](Hwnd h, std::uint32_t m, WParam w, LParam l) -> LResult {
        if (m >= WM_APP) heard.push_back({m, w, l});
        return win.default_proc(h, m, w, l);
    });
    CreateWindowParams cp;
    cp.class_name = u"Listener";
    Hwnd listener = win.create_window(cp);
    win.post(ph.h.service_window(), pr::WM_AddStateListener, listener, 0);
    ph.h.p.run_until_idle();
    ph.set(kCU, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", 1);
    ph.set(kLM, u"System\\State\\Hardware", u"Wifi", 0x3);
    ph.h.p.run_for(100);
    ph.set(kLM, u"System\\State\\Hardware", u"Bluetooth", 0x1);
    ph.h.p.run_for(2000);
    auto find = [&](std::uint32_t msg) -> std::optional<WParam> {
        for (auto& r : heard)
            if (r.msg == msg) return r.w;
        return std::nullopt;
    };
    ASSERT_TRUE(find(pr::WM_CHANGE_SN_PHONERINGER));
    EXPECT_EQ(*find(pr::WM_CHANGE_SN_PHONERINGER), 1u);
    ASSERT_TRUE(find(pr::WM_CHANGE_SN_WIFI));
    EXPECT_NE(*find(pr::WM_CHANGE_SN_WIFI) & 0x2, 0u);
    ASSERT_TRUE(find(pr::WM_CHANGE_SN_BLUETOOTH));
    EXPECT_EQ(*find(pr::WM_CHANGE_SN_BLUETOOTH) & 0x1, 1u);
    // And lumo hears the same.
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_SN_PHONERINGER).size(), 1u);
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_SN_WIFI).size(), 1u);
}

TEST(ServiceSubscriptions, MissedCallsRepeatTheLockOnlyWhileLockedAndNotTalking) {
    Phone ph(false);
    ph.start();
    ph.h.s.Locked = true;
    ph.set(kCU, u"System\\State\\Phone", u"Missed Call Count", 2);
    ph.h.p.run_until_idle();
    EXPECT_EQ(ph.h.lock_messages(),
              (std::vector<std::uint32_t>{pr::WM_CHANGE_PHONEMISSEDCALLS, pr::WM_REPEAT_LOCK}));
    EXPECT_EQ(ph.h.s.counters[kMissedCalls], 2);
    ph.h.lock_received.clear();
    ph.h.s.Talking = true;
    ph.set(kCU, u"System\\State\\Phone", u"Missed Call Count", 3);
    ph.h.p.run_until_idle();
    ph.h.s.Talking = false;
    ph.set(kCU, u"System\\State\\Phone", u"Missed Call Count", 0);
    ph.h.p.run_until_idle();
    EXPECT_EQ(ph.h.lock_messages(), (std::vector<std::uint32_t>{pr::WM_CHANGE_PHONEMISSEDCALLS,
                                                                pr::WM_CHANGE_PHONEMISSEDCALLS}));
}

TEST(ServiceSubscriptions, RemindersAreCountedASecondAfterTheyChange) {
    Phone ph(false, true);
    ph.start();
    auto& reg = ph.h.p.registry();
    for (int i = 0; i < 3; ++i)
        reg.create_key(kCU, u"System\\State\\Shell\\Reminders\\R" + to_u16(std::to_string(i)));
    reg.set_string(kCU, u"System\\State\\Shell\\Reminders", u"Active", u"R0");
    ph.h.p.run_for(900);
    EXPECT_TRUE(ph.to_lock(pr::WM_CHANGE_REMINDER).empty());
    ph.h.p.run_for(200);
    auto got = ph.to_lock(pr::WM_CHANGE_REMINDER);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].w, 3u);
    EXPECT_NE(ph.h.s.ReminderWakeTick, 0u);
    // The same count again is not passed on twice.
    reg.set_string(kCU, u"System\\State\\Shell\\Reminders", u"Active", u"R1");
    ph.h.p.run_for(1100);
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_REMINDER).size(), 1u);
    auto lines = ph.h.log_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Get Reminder 3"), lines.end());
}

TEST(ServiceSubscriptions, GetAllStatesRepostsTheCountersInOrder) {
    Phone ph(false);
    ph.set(kCU, u"System\\State\\Phone", u"Missed Call Count", 1);
    ph.set(kCU, u"Software\\Vesk\\Zorp", u"MusicVolume", 7);
    ph.start();
    ph.h.s.counters[kUnreadEmail] = -1;  // still unknown: left out
    ph.h.p.windows().post(ph.h.service_window(), pr::WM_GetAllStates, 480, 800);
    ph.h.p.run_until_idle();
    EXPECT_EQ(ph.h.lock_messages(),
              (std::vector<std::uint32_t>{pr::WM_CHANGE_TASKSACTIVE, pr::WM_CHANGE_PHONEMISSEDCALLS,
                                          pr::WM_CHANGE_MESSAGINGSMSUNREAD, pr::WM_CHANGE_MESSAGINGMMSUNREAD,
                                          pr::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD,
                                          pr::WM_CHANGE_FLEXMAILUNREAD, pr::WM_CHANGE_WLMUNREAD,
                                          pr::WM_CHANGE_REMINDER, pr::WM_CHANGE_ACTIVESYNC,
                                          pr::WM_CHANGE_ZORPVOLUME}));
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_PHONEMISSEDCALLS)[0].w, 1u);
    EXPECT_EQ(ph.to_lock(pr::WM_CHANGE_ZORPVOLUME)[0].w, 7u);
}

}  // namespace
}  // namespace lumo::service::test

namespace lumo::service::test {
namespace {

TEST(ServiceBattery, TheSlideToViewProgramInFrontGetsTheBattery) {
    Phone ph(false);
    ph.start();
    auto& win = ph.h.p.windows();
    std::vector<Received> heard;
    win.register_class(u"Viewer", [&](Hwnd h, std::uint32_t m, WParam w, LParam l) -> LResult {
        if (m >= WM_APP) heard.push_back({m, w, l});
        return win.default_proc(h, m, w, l);
    });
    CreateWindowParams cp;
    cp.class_name = u"Viewer";
    Hwnd viewer = win.create_window(cp);
    win.show_window(viewer, SW_SHOW);
    win.set_foreground_window(viewer);
    ph.h.s.BatteryPercent = 42;
    ph.h.s.OnAC = true;
    win.post(ph.h.service_window(), pr::WM_GetBatteryS2V, 0, 0);
    ph.h.p.run_until_idle();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].msg, pr::WM_UpdateBattery);
    EXPECT_EQ(heard[0].w, 42u);
    EXPECT_EQ(heard[0].l, 1);
    // With the lock screen in front nobody else is asking.
    win.show_window(ph.h.lock_window, SW_SHOW);
    win.set_foreground_window(ph.h.lock_window);
    ph.h.s.SlideWindow = ph.h.lock_window;
    ph.h.lock_received.clear();
    win.post(ph.h.service_window(), pr::WM_GetBatteryS2V, 0, 0);
    ph.h.p.run_until_idle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_TRUE(ph.to_lock(pr::WM_UpdateBattery).empty());
}

}  // namespace
}  // namespace lumo::service::test
