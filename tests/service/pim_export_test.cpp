// The service's export of appointments, tasks and the newest unread messages over the fake
// stores, driven through its window procedure: the registry layout the lock screen reads, the
// triggers and delays, and the previews.
#include <chrono>
#include <cstring>
#include <thread>

#include "lumo/platform/power.h"
#include "lumo/store/pim_store.h"
#include "service_harness.h"

namespace lumo::service::test {
namespace {

namespace pr = protocol;
using store::CalendarItem;

double at(int y, int m, int d, int h = 0, int mi = 0) {
    return variant_from_local({std::uint16_t(y), std::uint16_t(m), 0, std::uint16_t(d), std::uint16_t(h), std::uint16_t(mi), 0, 0});
}

std::u16string apt_key(int n) { return std::u16string(pr::kAppointmentsKey) + u"\\" + to_u16(std::to_string(n)); }
std::u16string task_key(int n) { return std::u16string(pr::kTasksKey) + u"\\" + to_u16(std::to_string(n)); }

class PimExport : public ::testing::Test {
  protected:
    PimExport() {
        // Monday 2026-12-07 12:00.
        h.p.set_local_time({2026, 12, 1, 7, 12, 0, 0, 0});
        h.p.set_boot_age(120000);
        h.set_byte(u"DebugOn", 1);
        h.s.sleep = [this](std::uint32_t ms) { slept.push_back(ms); };
    }

    void start() {
        ASSERT_TRUE(h.start());
        h.s.sleep = [this](std::uint32_t ms) { slept.push_back(ms); };
        h.p.run_for(kLaunchSettleMs);
        h.lock_received.clear();
    }

    std::uint32_t add(std::u16string subject, double start, double end, bool all_day = false,
                      RecurrenceType r = RecurrenceType::None, std::u16string location = u"") {
        CalendarItem a;
        a.subject = std::move(subject);
        a.location = std::move(location);
        a.start = start;
        a.end = end;
        a.all_day = all_day;
        a.recurrence = r;
        return h.p.pim_store().add_appointment(a);
    }

    // Asks for an appointment export the way the state broker does and waits for the thread.
    int export_appointments() {
        h.lock_received.clear();
        h.p.windows().post(h.service_window(), pr::WM_CHANGE_APPOINTMENTS, 0, 0);
        h.p.run_for(3000);
        for (int i = 0; i < 400; ++i) {
            h.p.run_until_idle();
            for (auto& r : h.lock_received)
                if (r.msg == pr::WM_UPDATEAPPOINTMENT) return int(r.w);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "no WM_UPDATEAPPOINTMENT";
        return -1;
    }

    std::vector<std::u16string> exported_subjects() {
        std::vector<std::u16string> out;
        for (int n = 0;; ++n) {
            auto s = h.p.registry().get_string(Root::CurrentUser, apt_key(n), u"Subject");
            if (!s) return out;
            out.push_back(*s);
        }
    }

    std::optional<std::uint64_t> file_time(std::u16string_view key, std::u16string_view name) {
        auto v = h.p.registry().get_binary(Root::CurrentUser, key, name);
        if (!v || v->size() != 8) return std::nullopt;
        std::uint64_t ft;
        std::memcpy(&ft, v->data(), 8);
        return ft;
    }

    void post(std::uint32_t msg, WParam w, LParam l = 0) {
        h.p.windows().post(h.service_window(), msg, w, l);
        h.p.run_until_idle();
    }

    ServiceHarness h;
    std::vector<std::uint32_t> slept;
};

TEST_F(PimExport, ThreeOfFiveAppointmentsTodayAreWrittenWithTheirExactLayout) {
    h.set_byte(u"ShowAppointment", 3);
    add(u"Five", at(2026, 12, 7, 18), at(2026, 12, 7, 19));
    add(u"One", at(2026, 12, 7, 13), at(2026, 12, 7, 14), false, RecurrenceType::None, u"Room 4");
    add(u"Three", at(2026, 12, 7, 15), at(2026, 12, 7, 16));
    add(u"Two", at(2026, 12, 7, 14), at(2026, 12, 7, 15));
    add(u"Four", at(2026, 12, 7, 17), at(2026, 12, 7, 18));
    start();
    EXPECT_EQ(export_appointments(), 3);
    EXPECT_EQ(exported_subjects(), (std::vector<std::u16string>{u"One", u"Two", u"Three"}));
    auto& reg = h.p.registry();
    EXPECT_EQ(reg.get_string(Root::CurrentUser, apt_key(0), u"Location"), u"Room 4");
    EXPECT_EQ(reg.get_string(Root::CurrentUser, apt_key(1), u"Location"), u"");
    EXPECT_EQ(file_time(apt_key(0), u"StartTime"), local_to_file_time({2026, 12, 1, 7, 13, 0, 0, 0}));
    EXPECT_EQ(file_time(apt_key(0), u"EndTime"), local_to_file_time({2026, 12, 1, 7, 14, 0, 0, 0}));
    auto all_day = reg.get_binary(Root::CurrentUser, apt_key(0), u"AllDayEvent");
    ASSERT_TRUE(all_day);
    EXPECT_EQ(*all_day, std::vector<std::byte>{std::byte{0}});
    EXPECT_FALSE(reg.get_dword(Root::CurrentUser, apt_key(0), u"OccurredTimes"));
    // No count value: the reader stops at the first missing index.
    EXPECT_FALSE(reg.open_key(Root::CurrentUser, apt_key(3)));
    auto log = h.log_lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Start Get Apt"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "End Get Apt"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "Pulsed"), log.end());
}

TEST_F(PimExport, AllDayEventsPastEventsAndTheDaysAheadFollowTheSettings) {
    h.set_byte(u"ShowAppointment", 6);
    h.set_byte(u"AppointmentDays", 2);
    add(u"Yesterday", at(2026, 12, 6), at(2026, 12, 7), true);
    add(u"Weekend", at(2026, 12, 6), at(2026, 12, 8), true);
    add(u"Morning", at(2026, 12, 7, 8), at(2026, 12, 7, 9));
    add(u"Birthday", at(1990, 12, 8), at(1990, 12, 9), true, RecurrenceType::Yearly);
    add(u"Far", at(2026, 12, 10, 9), at(2026, 12, 10, 10));
    start();
    export_appointments();
    // Without ShowTodayPast the lower bound is now: what ended is gone, what runs on stays.
    EXPECT_EQ(exported_subjects(), (std::vector<std::u16string>{u"Weekend", u"Birthday"}));
    EXPECT_EQ(h.p.registry().get_dword(Root::CurrentUser, apt_key(1), u"OccurredTimes"), 36u);
    auto all_day = h.p.registry().get_binary(Root::CurrentUser, apt_key(1), u"AllDayEvent");
    EXPECT_EQ(*all_day, std::vector<std::byte>{std::byte{0xFF}});

    // With it, today's past timed items come back; an all-day item still needs to end after now.
    h.set_byte(u"ShowTodayPast", 1);
    post(pr::WM_RefreshSetting, 0);
    export_appointments();
    EXPECT_EQ(exported_subjects(), (std::vector<std::u16string>{u"Weekend", u"Morning", u"Birthday"}));

    h.set_byte(u"ShowAllDay", 0);
    post(pr::WM_RefreshSetting, 0);
    export_appointments();
    EXPECT_EQ(exported_subjects(), (std::vector<std::u16string>{u"Morning"}));
}

TEST_F(PimExport, CalendarChangesRefreshTheExportAfterThreeAndAHalfSeconds) {
    h.set_byte(u"ShowAppointment", 2);
    start();
    post(pr::WM_CHANGE_APPOINTMENTS, 0);
    h.p.run_for(3000);
    for (int i = 0; i < 200 && h.lock_messages().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        h.p.run_until_idle();
    }
    h.lock_received.clear();
    post(pr::WM_PoomItemCreated, 0, 9);
    add(u"New", at(2026, 12, 7, 20), at(2026, 12, 7, 21));
    h.p.run_for(3400);
    EXPECT_FALSE(h.p.registry().open_key(Root::CurrentUser, apt_key(0)));
    h.p.run_for(100);
    for (int i = 0; i < 400 && !h.p.registry().open_key(Root::CurrentUser, apt_key(0)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        h.p.run_until_idle();
    }
    EXPECT_EQ(exported_subjects(), std::vector<std::u16string>{u"New"});
    auto log = h.log_lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "POOM Msg:8105 9"), log.end());
}

TEST_F(PimExport, SevenOpenTasksExportFiveAndNoneAnEmptyKey) {
    h.set_byte(u"ShowTask", 1);
    for (int i = 7; i >= 1; --i)
        h.p.pim_store().add_task({0, u"Task " + to_u16(std::to_string(i)), at(2026, 12, 7 + i), std::uint32_t(i % 3), false});
    start();
    post(pr::WM_CHANGE_TASKSACTIVE, 7);
    auto& reg = h.p.registry();
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, pr::kTasksKey, u"TaskCount"), 5u);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(reg.get_string(Root::CurrentUser, task_key(n), u"Subject"), u"Task " + to_u16(std::to_string(n)));
        EXPECT_EQ(reg.get_dword(Root::CurrentUser, task_key(n), u"Importance"), std::uint32_t(n % 3));
    }
    EXPECT_EQ(file_time(task_key(1), u"DueDate"), local_to_file_time({2026, 12, 2, 8, 0, 0, 0, 0}));
    EXPECT_FALSE(reg.open_key(Root::CurrentUser, task_key(6)));
    // The count is passed on to lumo.
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{pr::WM_CHANGE_TASKSACTIVE});

    // A completed task is a changed item of folder 13: the export runs again with the last count.
    for (const auto& t : std::vector(h.p.pim_store().task_list())) h.p.pim_store().complete_task(t.id);
    post(pr::WM_PoomItemChanged, 0, 13);
    h.p.run_until_idle();
    EXPECT_TRUE(reg.open_key(Root::CurrentUser, pr::kTasksKey));
    EXPECT_FALSE(reg.open_key(Root::CurrentUser, task_key(1)));
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, pr::kTasksKey, u"TaskCount"), 0u);
}

TEST_F(PimExport, OnlyTheNewestUnreadSmsIsExportedAndItsTextsAreCut) {
    h.set_byte(u"LockNotification", 1);
    start();
    auto& st = h.p.pim_store();
    st.deliver(store::MessageKind::Sms, u"", {0, u"Ann", u"", u"first", 100, 0});
    st.deliver(store::MessageKind::Sms, u"", {0, std::u16string(300, u'B'), u"", std::u16string(400, u'x'), 300, 0});
    st.deliver(store::MessageKind::Sms, u"", {0, u"Old", u"", u"read", 400, kMessageRead});
    post(pr::WM_CHANGE_MESSAGINGSMSUNREAD, 2);
    EXPECT_EQ(slept, std::vector<std::uint32_t>{300});
    auto& reg = h.p.registry();
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kSmsKey, u"Sender"), std::u16string(254, u'B'));
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kSmsKey, u"Subject"), std::u16string(254, u'x'));
    auto key = reg.open_key(Root::CurrentUser, pr::kSmsKey);
    ValueInfo info;
    std::vector<std::byte> buf(2048);
    ASSERT_TRUE(reg.read_value(*key, u"Subject", buf, &info));
    EXPECT_EQ(info.size, 255u * 2);  // 254 characters and the terminating zero
    EXPECT_EQ(file_time(pr::kSmsKey, u"Time"), 300u);
    // Not locked: the count goes on to lumo and no preview is asked for.
    EXPECT_EQ(h.lock_messages(), std::vector<std::uint32_t>{pr::WM_CHANGE_MESSAGINGSMSUNREAD});

    // Marking read from lumo takes the newest unread one; the next export shows the older.
    post(pr::WM_MarkReadMessage, WParam(pr::MessageKind::Sms));
    post(pr::WM_CHANGE_MESSAGINGSMSUNREAD, 1);
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kSmsKey, u"Sender"), u"Ann");
    post(pr::WM_OpenMessage, WParam(pr::MessageKind::Sms));
    ASSERT_EQ(h.p.displayed_messages().size(), 1u);
    EXPECT_EQ(h.p.messaging().read_row(h.p.displayed_messages()[0].first, 2)->entry_id,
              h.p.displayed_messages()[0].second);
}

TEST_F(PimExport, ANewSmsWhileLockedWakesThePhoneAndAsksForThePreview) {
    h.set_byte(u"LockNotification", 1);
    h.set_byte(u"ShowSMSPreview", 1);
    h.set_byte(u"ShowMMSPreview", 1);
    start();
    h.s.Locked = true;
    h.p.pim_store().deliver(store::MessageKind::Sms, u"", {0, u"Ann", u"", u"hi", 100, 0});
    post(pr::WM_CHANGE_MESSAGINGSMSUNREAD, 1);
    ASSERT_FALSE(h.p.power().system_states().empty());
    EXPECT_EQ(h.p.power().system_states().back(), kPowerStateOn);
    bool preview = false, repeat = false;
    for (auto& r : h.lock_received) {
        preview |= r.msg == pr::WM_ShowMessage && r.w == 0;
        repeat |= r.msg == pr::WM_REPEAT_LOCK;
    }
    EXPECT_TRUE(preview);
    EXPECT_FALSE(repeat);
    // The same count again is no new message: no preview.
    h.lock_received.clear();
    post(pr::WM_CHANGE_MESSAGINGSMSUNREAD, 1);
    for (auto& r : h.lock_received) EXPECT_NE(r.msg, pr::WM_ShowMessage);
    // An MMS waits 500 ms and previews as kind 1.
    h.p.pim_store().deliver(store::MessageKind::Mms, u"", {0, u"Bob", u"", u"pic", 200, 0});
    post(pr::WM_CHANGE_MESSAGINGMMSUNREAD, 1);
    EXPECT_EQ(slept.back(), 500u);
    EXPECT_EQ(h.p.registry().get_string(Root::CurrentUser, pr::kMmsKey, u"Subject"), u"pic");
    bool mms_preview = false;
    for (auto& r : h.lock_received) mms_preview |= r.msg == pr::WM_ShowMessage && r.w == 1;
    EXPECT_TRUE(mms_preview);
}

TEST_F(PimExport, EmailWaitsForTimer1044AndExportsTheLastReceivedAccount) {
    h.set_byte(u"LockNotification", 1);
    h.set_byte(u"ShowEmailPreview", 1);
    start();
    h.s.Locked = true;
    h.p.pim_store().deliver(store::MessageKind::Email, u"Work", {0, u"Cy", u"cy@example.org", u"report", 100, 0});
    h.p.pim_store().deliver(store::MessageKind::Email, u"Home", {0, u"Di", u"", u"dinner", 200, 0});
    h.p.publish_pim();
    // The broker brings the new count; lumo hears of it only when the timer has run.
    h.p.run_until_idle();
    for (auto& r : h.lock_received) EXPECT_NE(r.msg, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD);
    h.p.run_for(2900);
    EXPECT_FALSE(h.p.registry().open_key(Root::CurrentUser, pr::kMessageKey));
    h.p.run_for(200);
    auto& reg = h.p.registry();
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kMessageKey, u"Account"), u"Home");
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kMessageKey, u"Subject"), u"dinner");
    EXPECT_FALSE(reg.get_string(Root::CurrentUser, pr::kMessageKey, u"Email"));
    bool forwarded = false, preview = false;
    for (auto& r : h.lock_received) {
        forwarded |= r.msg == pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD && r.w == 2;
        preview |= r.msg == pr::WM_ShowMessage && r.w == 2;
    }
    EXPECT_TRUE(forwarded);
    EXPECT_TRUE(preview);
    // lumo's "open" of the exported e-mail reaches the account named in the export.
    post(pr::WM_OpenMessage, WParam(pr::MessageKind::Email));
    ASSERT_EQ(h.p.displayed_messages().size(), 1u);
    auto stores = h.p.messaging().stores();
    EXPECT_EQ(stores.back().display_name, u"Home");
    EXPECT_EQ(h.p.displayed_messages()[0].first, stores.back().entry_id);
    // The sender's address is written when the message has one.
    h.p.pim_store().deliver(store::MessageKind::Email, u"Work", {0, u"Cy", u"cy@example.org", u"again", 300, 0});
    h.p.publish_pim();
    h.p.run_for(3000);
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kMessageKey, u"Email"), u"cy@example.org");
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kMessageKey, u"Account"), u"Work");
}

TEST_F(PimExport, StartUpExportsWhatArrivedBeforeTheService) {
    h.set_byte(u"LockNotification", 1);
    h.set_byte(u"ShowTask", 1);
    h.p.pim_store().deliver(store::MessageKind::Sms, u"", {0, u"Ann", u"", u"early", 100, 0});
    h.p.pim_store().add_task({0, u"Pay", std::nullopt, 2, false});
    h.p.publish_pim();
    start();
    h.p.run_for(100);  // the delayed start-up
    auto& reg = h.p.registry();
    EXPECT_EQ(reg.get_string(Root::CurrentUser, pr::kSmsKey, u"Subject"), u"early");
    EXPECT_EQ(reg.get_string(Root::CurrentUser, task_key(1), u"Subject"), u"Pay");
    // A task without a due date has no DueDate value.
    EXPECT_FALSE(reg.get_binary(Root::CurrentUser, task_key(1), u"DueDate"));
    EXPECT_FALSE(reg.open_key(Root::CurrentUser, pr::kMmsKey));
}

}  // namespace
}  // namespace lumo::service::test
