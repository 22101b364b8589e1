// The phone's calendar, tasks and message stores as the fake keeps them (the device host keeps
// the same store): the query texts they answer, recurrences, order, 1-based access, change
// notifications and what they publish.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"
#include "lumo/store/pim_store.h"

namespace lumo::platform {
namespace {

// 2026-12-07 12:00 as an automation date.
double day(int y, int m, int d, int h = 0, int mi = 0) { return variant_from_local({std::uint16_t(y), std::uint16_t(m), 0, std::uint16_t(d), std::uint16_t(h), std::uint16_t(mi), 0, 0}); }

store::CalendarItem item(std::u16string subject, double start, double end, bool all_day = false,
                         RecurrenceType r = RecurrenceType::None) {
    store::CalendarItem a;
    a.subject = std::move(subject);
    a.start = start;
    a.end = end;
    a.all_day = all_day;
    a.recurrence = r;
    return a;
}

PimQuery calendar_query(double end_after) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", end_after);
    std::u16string text = u"[End] > <";
    for (char* c = buf; *c; ++c) text.push_back(char16_t(*c));
    return {text + u" ", u"[Start]", true};
}

TEST(PimStoreQueries, OnlyTheProductsQueryTextsAreUnderstood) {
    fake::FakePlatform p;
    std::string error;
    EXPECT_TRUE(p.pim().appointments({u"", u"", false}, &error));
    EXPECT_TRUE(p.pim().appointments(calendar_query(46362), &error)) << error;
    EXPECT_TRUE(p.pim().tasks({u"[Complete] = FALSE", u"[DueDate]", true}, &error)) << error;
    EXPECT_TRUE(p.pim().tasks({u"[Complete] = FALSE AND [DueDate] = <46363", u"[DueDate]", true}, &error)) << error;
    for (auto bad : {u"[End] < <46362", u"[End] > 46362", u"[End] > <soon", u"[Start] > <1", u"[End] > <1 OR 1"}) {
        error.clear();
        EXPECT_FALSE(p.pim().appointments({bad, u"[Start]", true}, &error)) << platform::to_utf8(bad);
        EXPECT_NE(error.find("does not understand"), std::string::npos) << error;
    }
    EXPECT_FALSE(p.pim().appointments({u"", u"[Subject]", true}, &error));
    EXPECT_FALSE(p.pim().tasks({u"[Complete] = TRUE", u"", true}, &error));
    EXPECT_FALSE(p.pim().tasks({u"[Complete] = FALSE AND [DueDate] > <46363", u"", true}, &error));
    EXPECT_FALSE(p.pim().tasks({u"[Complete] = FALSE", u"[Start]", true}, &error));
}

TEST(PimStoreQueries, CalendarIsRestrictedByEndSortedByStartAndCountedFromOne) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    st.add_appointment(item(u"late", day(2026, 12, 7, 15), day(2026, 12, 7, 16)));
    st.add_appointment(item(u"gone", day(2026, 12, 1, 9), day(2026, 12, 1, 10)));
    st.add_appointment(item(u"early", day(2026, 12, 7, 8), day(2026, 12, 7, 9)));
    auto items = p.pim().appointments(calendar_query(day(2026, 12, 6)), nullptr);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->count(), 2u);
    EXPECT_EQ(items->item(1)->subject, u"early");
    EXPECT_EQ(items->item(2)->subject, u"late");
    EXPECT_EQ(items->item(0), nullptr);
    EXPECT_EQ(items->item(3), nullptr);
    // Unsorted, the store's own order is kept.
    auto unsorted = p.pim().appointments({u"", u"", false}, nullptr);
    ASSERT_EQ(unsorted->count(), 3u);
    EXPECT_EQ(unsorted->item(1)->subject, u"late");
}

TEST(PimStoreRecurrences, YearlyItemsExpandIntoOccurrencesWithTheirPattern) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    st.add_appointment(item(u"Ann's birthday", day(1990, 12, 8), day(1990, 12, 9), true, RecurrenceType::Yearly));
    st.add_appointment(item(u"Leap", day(2024, 2, 29), day(2024, 3, 1), true, RecurrenceType::Yearly));
    auto items = p.pim().appointments(calendar_query(day(2026, 12, 6)), nullptr);
    ASSERT_TRUE(items);
    ASSERT_GE(items->count(), 2u);
    const auto& first = *items->item(1);
    EXPECT_EQ(first.subject, u"Ann's birthday");
    EXPECT_DOUBLE_EQ(first.start, day(2026, 12, 8));
    EXPECT_DOUBLE_EQ(first.end, day(2026, 12, 9));
    EXPECT_TRUE(first.recurring);
    EXPECT_EQ(first.recurrence, RecurrenceType::Yearly);
    EXPECT_DOUBLE_EQ(first.pattern_start, day(1990, 12, 8));
    // The 29th of February comes only in leap years.
    int leap = 0;
    for (const auto& a : items->items)
        if (a.subject == u"Leap") {
            ++leap;
            EXPECT_DOUBLE_EQ(a.start, day(2028, 2, 29));
        }
    EXPECT_EQ(leap, 1);
    // Without recurrences the item is the pattern's first one.
    auto plain = p.pim().appointments({u"", u"", false}, nullptr);
    EXPECT_DOUBLE_EQ(plain->item(1)->start, day(1990, 12, 8));
}

TEST(PimStoreRecurrences, DailyWeeklyAndMonthlyPatternsStepFromTheBound) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    st.add_appointment(item(u"standup", day(2020, 1, 6, 9), day(2020, 1, 6, 9, 15), false, RecurrenceType::Daily));
    st.add_appointment(item(u"rent", day(2026, 1, 31, 8), day(2026, 1, 31, 9), false, RecurrenceType::Monthly));
    auto items = p.pim().appointments(calendar_query(day(2026, 12, 6)), nullptr);
    ASSERT_TRUE(items);
    std::vector<double> standups, rents;
    for (const auto& a : items->items) (a.subject == u"standup" ? standups : rents).push_back(a.start);
    ASSERT_FALSE(standups.empty());
    EXPECT_DOUBLE_EQ(standups.front(), day(2026, 12, 6, 9));
    EXPECT_DOUBLE_EQ(standups[1], day(2026, 12, 7, 9));
    // Months without a 31st are skipped.
    ASSERT_GE(rents.size(), 3u);
    EXPECT_DOUBLE_EQ(rents[0], day(2026, 12, 31, 8));
    EXPECT_DOUBLE_EQ(rents[1], day(2027, 1, 31, 8));
    EXPECT_DOUBLE_EQ(rents[2], day(2027, 3, 31, 8));
    for (std::size_t i = 1; i < items->count(); ++i) EXPECT_LE(items->item(i)->start, items->item(i + 1)->start);
}

TEST(PimStoreTasks, OpenTasksDueTodayAndTheirOrder) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    st.add_task({0, u"no date", std::nullopt, 1, false});
    st.add_task({0, u"tomorrow", day(2026, 12, 8), 2, false});
    st.add_task({0, u"today", day(2026, 12, 7), 0, false});
    auto done = st.add_task({0, u"done", day(2026, 12, 7), 1, false});
    EXPECT_TRUE(st.complete_task(done));
    EXPECT_FALSE(st.complete_task(9999));
    auto open = p.pim().tasks({u"[Complete] = FALSE", u"[DueDate]", true}, nullptr);
    ASSERT_EQ(open->count(), 3u);
    EXPECT_EQ(open->item(1)->subject, u"today");
    EXPECT_EQ(open->item(2)->subject, u"tomorrow");
    EXPECT_EQ(open->item(3)->subject, u"no date");
    char q[64];
    std::snprintf(q, sizeof q, "[Complete] = FALSE AND [DueDate] = <%g", day(2026, 12, 7));
    std::u16string text;
    for (char* c = q; *c; ++c) text.push_back(char16_t(*c));
    auto due = p.pim().tasks({text, u"[DueDate]", true}, nullptr);
    ASSERT_EQ(due->count(), 1u);
    EXPECT_EQ(due->item(1)->subject, u"today");
}

TEST(PimStoreNotifications, FoldersTellTheWindowsThatAskedWhatChanged) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    p.windows().register_class(u"W", [&p](Hwnd h, std::uint32_t m, WParam w, LParam l) {
        return p.windows().default_proc(h, m, w, l);
    });
    CreateWindowParams cp;
    cp.class_name = u"W";
    const Hwnd calendar_window = p.windows().create_window(cp), tasks_window = p.windows().create_window(cp);
    EXPECT_TRUE(p.pim().notify_changes(kFolderCalendar, calendar_window));
    EXPECT_TRUE(p.pim().notify_changes(kFolderTasks, tasks_window));
    EXPECT_FALSE(p.pim().notify_changes(5, tasks_window));
    p.clear_posted();
    auto id = st.add_appointment(item(u"a", day(2026, 12, 7, 10), day(2026, 12, 7, 11)));
    st.delete_appointment(id);
    auto task = st.add_task({0, u"t", std::nullopt, 1, false});
    st.complete_task(task);
    std::vector<std::tuple<Hwnd, std::uint32_t, LParam>> got;
    for (const auto& m : p.posted()) got.emplace_back(m.hwnd, m.message, m.lparam);
    std::vector<std::tuple<Hwnd, std::uint32_t, LParam>> want = {
        {calendar_window, kPimItemCreated, 9},
        {calendar_window, kPimItemDeleted, 9},
        {tasks_window, kPimItemCreated, 13},
        {tasks_window, kPimItemChanged, 13}};
    EXPECT_EQ(got, want);
}

TEST(PimStoreMessages, ContentsAreNewestFirstAndFlagsAndDisplayAreKept) {
    fake::FakePlatform p;
    auto& st = p.pim_store();
    st.deliver(store::MessageKind::Sms, u"", {0, u"Ann", u"", u"old", 100, 0});
    st.deliver(store::MessageKind::Sms, u"", {0, u"Bob", u"", u"new", 200, 0});
    auto stores = p.messaging().stores();
    ASSERT_GE(stores.size(), 2u);
    EXPECT_EQ(stores[0].display_name, u"SMS");
    EXPECT_EQ(stores[1].display_name, u"MMS");
    auto first = p.messaging().read_row(stores[0].entry_id, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->sender, u"Bob");
    EXPECT_EQ(p.messaging().read_row(stores[0].entry_id, 1)->sender, u"Ann");
    EXPECT_FALSE(p.messaging().read_row(stores[0].entry_id, 2));
    EXPECT_FALSE(p.messaging().read_row(4242, 0));
    EXPECT_TRUE(p.messaging().set_flags(stores[0].entry_id, first->entry_id, kMessageRead));
    EXPECT_EQ(p.messaging().read_row(stores[0].entry_id, 0)->flags, kMessageRead);
    EXPECT_FALSE(p.messaging().set_flags(stores[0].entry_id, 4242, kMessageRead));
    EXPECT_TRUE(p.messaging().display_message(stores[0].entry_id, first->entry_id));
    EXPECT_FALSE(p.messaging().display_message(stores[1].entry_id, first->entry_id));
    ASSERT_EQ(p.displayed_messages().size(), 1u);
    EXPECT_EQ(p.displayed_messages()[0].second, first->entry_id);
}

TEST(PimStorePublished, CountsAlarmAndReminderFollowTheStores) {
    fake::FakePlatform p;
    p.set_local_time({2026, 12, 1, 7, 12, 0, 0, 0});
    auto& st = p.pim_store();
    auto& reg = p.registry();
    st.deliver(store::MessageKind::Sms, u"", {0, u"Ann", u"", u"hi", 100, 0});
    st.deliver(store::MessageKind::Sms, u"", {0, u"Bob", u"", u"yo", 200, kMessageRead});
    st.deliver(store::MessageKind::Email, u"Work", {0, u"Cy", u"cy@example.org", u"report", 300, 0});
    st.voicemail = 2;
    st.add_task({0, u"overdue", day(2026, 12, 5), 1, false});
    st.add_task({0, u"later", day(2026, 12, 20), 1, false});
    st.next_alarm = 1234567890123ull;
    st.reminder = store::Reminder{u"Dentist", u"Main St", 99};
    p.publish_pim();
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Messages\\SMS\\Unread", u"Count"), 1u);
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Messages\\MMS\\Unread", u"Count"), 0u);
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Messages\\TotalEmail\\Unread", u"Count"), 1u);
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Messages\\VMail\\Total\\Unread", u"Count"), 2u);
    EXPECT_EQ(reg.get_string(Root::CurrentUser, u"System\\State\\Messages", u"Last Received Account"), u"Work");
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Tasks", u"Active"), 2u);
    EXPECT_EQ(reg.get_dword(Root::CurrentUser, u"System\\State\\Tasks", u"Due Today"), 1u);
    auto next = reg.get_binary(Root::CurrentUser, u"System\\State\\Shell\\Alarms", u"Next");
    ASSERT_TRUE(next);
    ASSERT_EQ(next->size(), 8u);
    std::uint64_t ft;
    std::memcpy(&ft, next->data(), 8);
    EXPECT_EQ(ft, 1234567890123ull);
    auto active = reg.get_string(Root::CurrentUser, u"System\\State\\Shell\\Reminders", u"Active");
    ASSERT_TRUE(active);
    auto path = u"System\\State\\Shell\\Reminders\\" + *active;
    EXPECT_EQ(reg.get_string(Root::CurrentUser, path, u"Description"), u"Dentist");
    EXPECT_EQ(reg.get_string(Root::CurrentUser, path, u"Location"), u"Main St");
    EXPECT_TRUE(reg.get_binary(Root::CurrentUser, path, u"Time"));
    // Gone again: the alarm value and the reminder's key go too.
    st.next_alarm.reset();
    st.reminder.reset();
    p.publish_pim();
    EXPECT_FALSE(reg.get_binary(Root::CurrentUser, u"System\\State\\Shell\\Alarms", u"Next"));
    EXPECT_FALSE(reg.open_key(Root::CurrentUser, path));
    EXPECT_EQ(reg.get_string(Root::CurrentUser, u"System\\State\\Shell\\Reminders", u"Active"), u"");
}

TEST(PimDates, AutomationDatesAndFileTimesAgree) {
    const LocalTime t{2026, 12, 0, 7, 10, 30, 15, 0};
    const double d = variant_from_local(t);
    EXPECT_DOUBLE_EQ(std::floor(d), 46363.0);
    auto back = local_from_variant(d);
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.day, 7);
    EXPECT_EQ(back.hour, 10);
    EXPECT_EQ(back.minute, 30);
    EXPECT_EQ(back.second, 15);
    EXPECT_EQ(file_time_from_variant(d), local_to_file_time(t));
    EXPECT_DOUBLE_EQ(variant_from_file_time(local_to_file_time(t)), d);
}

}  // namespace
}  // namespace lumo::platform
