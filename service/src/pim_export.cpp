// The export of appointments, tasks and the newest unread messages into the registry keys the
// lock screen reads, and when each runs. Appointments are read on their own thread; tasks and
// messages on the main thread.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::uint32_t kAppointmentRefreshMs = 3000;
constexpr std::uint32_t kAppointmentItemRefreshMs = 3500;
constexpr std::uint32_t kSmsSettleMs = 300;
constexpr std::uint32_t kMmsSettleMs = 500;
constexpr std::uint32_t kEmailGrewMs = 3000;
constexpr std::uint32_t kEmailSameMs = 100;
constexpr std::uint32_t kEmailSyncingMs = 2000;
constexpr std::size_t kMaxTasks = 5;
// Message texts fit a 255-character buffer with its terminating zero.
constexpr std::size_t kMessageTextMax = 254;
// Longer appointment and task texts are cut to what one registry value holds, so that a long
// subject is shown cut instead of not at all.
constexpr std::size_t kValueTextMax = kMaxValueBytes / 2 - 1;

constexpr std::u16string_view kSmsStore = u"SMS";
constexpr std::u16string_view kMmsStore = u"MMS";
constexpr std::u16string_view kMessagesStateKey = u"System\\State\\Messages";
constexpr std::u16string_view kLastAccountValue = u"Last Received Account";

void write_string(Registry& reg, const RegKey& key, std::u16string_view name, std::u16string_view text,
                  std::size_t max) {
    reg.write_value(key, name, ValueType::String, encode_string_value(text.substr(0, max)));
}

void write_time(Registry& reg, const RegKey& key, std::u16string_view name, std::uint64_t file_time) {
    reg.write_value(key, name, ValueType::Binary, std::as_bytes(std::span(&file_time, 1)));
}

void write_dword(Registry& reg, const RegKey& key, std::u16string_view name, std::uint32_t v) {
    reg.write_value(key, name, ValueType::Dword, std::as_bytes(std::span(&v, 1)));
}

// "%g" of a date, as the store's query text takes it.
std::u16string date_text(double date) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", date);
    return to_u16(buf);
}

double now_date(State& s) { return variant_from_local(s.platform->clock().local_time()); }

int local_year(double date) { return local_from_variant(date).year; }

void write_appointment(State& s, int index, const PimAppointment& a) {
    auto& reg = s.platform->registry();
    std::u16string path = std::u16string(pr::kAppointmentsKey) + u"\\" + to_u16(std::to_string(index));
    auto key = reg.create_key(Root::CurrentUser, path);
    if (!key) return;
    write_string(reg, *key, u"Subject", a.subject, kValueTextMax);
    write_string(reg, *key, u"Location", a.location, kValueTextMax);
    write_time(reg, *key, u"StartTime", file_time_from_variant(a.start));
    write_time(reg, *key, u"EndTime", file_time_from_variant(a.end));
    // The store's true is -1; its low byte is what the record keeps.
    std::uint8_t all_day = a.all_day ? 0xFF : 0;
    reg.write_value(*key, u"AllDayEvent", ValueType::Binary, std::as_bytes(std::span(&all_day, 1)));
    if (a.all_day && a.recurring && a.recurrence == RecurrenceType::Yearly) {
        int times = local_year(a.start) - local_year(a.pattern_start);
        if (times != 0) write_dword(reg, *key, u"OccurredTimes", std::uint32_t(times));
    }
}

// The key a store's newest unread message goes to.
std::u16string_view message_key(std::u16string_view store) {
    if (store == kSmsStore) return pr::kSmsKey;
    if (store == kMmsStore) return pr::kMmsKey;
    return pr::kMessageKey;
}

std::optional<MessageStoreInfo> find_store(State& s, std::u16string_view name) {
    for (auto& st : s.platform->messaging().stores())
        if (st.display_name == name) return st;
    return std::nullopt;
}

// The newest unread row of a store, or nullopt.
std::optional<MessageRow> newest_unread(State& s, std::uint32_t store) {
    for (std::uint32_t i = 0;; ++i) {
        auto row = s.platform->messaging().read_row(store, i);
        if (!row) return std::nullopt;
        if (row->flags == 0) return row;
    }
}

std::u16string last_received_account(State& s) {
    auto account = s.platform->registry().get_string(Root::CurrentUser, kMessagesStateKey, kLastAccountValue);
    trace(s, "Last Email A/C:%s", to_utf8(account.value_or(u"")).c_str());
    return account.value_or(u"");
}

// The store a request of lumo names: 2 SMS, 3 MMS, 4 the account of the exported e-mail.
std::optional<std::u16string> requested_store(State& s, WParam w) {
    switch (pr::MessageKind(w)) {
        case pr::MessageKind::Sms: return std::u16string(kSmsStore);
        case pr::MessageKind::Mms: return std::u16string(kMmsStore);
        case pr::MessageKind::Email:
            return s.platform->registry().get_string(Root::CurrentUser, pr::kMessageKey, pr::mailbox::kAccount);
    }
    return std::nullopt;
}

// The phone wakes and lumo opens the preview of a new message.
void show_preview(State& s, pr::PreviewKind kind) {
    s.platform->power().set_system_power_state(kPowerStateOn);
    post_to_lock_screen(s, pr::WM_ShowMessage, WParam(kind));
}

std::int32_t unread_count(State& s, std::u16string_view key, Root root = Root::CurrentUser) {
    auto v = s.platform->registry().get_dword(root, key, u"Count");
    return v ? std::int32_t(*v) : 0;
}

}  // namespace

// --- appointments ----------------------------------------------------------------------------

int export_appointments(State& s) {
    const int max = int(setting(s, Id::ShowAppointment));
    const int days = int(setting(s, Id::AppointmentDays));
    const bool show_all_day = setting(s, Id::ShowAllDay) != 0;
    const bool today_past = setting(s, Id::ShowTodayPast) != 0;
    auto& reg = s.platform->registry();
    trace(s, "Start Get Apt");
    s.AppointmentBusy = true;
    s.AppointmentCancel = false;
    int written = 0;
    const double now = now_date(s);
    const double midnight = std::floor(now);
    const double lower = today_past ? midnight : now;
    const double upper = midnight + days;
    PimQuery q;
    q.sort = u"[Start]";
    q.include_recurrences = true;
    q.restriction = u"[End] > <" + date_text(midnight - 1) + u" ";
    std::string error;
    auto items = max > 0 ? s.platform->pim().appointments(q, &error) : std::nullopt;
    if (!items && max > 0) trace(s, "Get Apt failed: %s", error.c_str());
    reg.delete_key(Root::CurrentUser, pr::kAppointmentsKey);
    if (items) {
        for (std::size_t i = 1; i <= items->count(); ++i) {
            const auto& a = *items->item(i);
            if (a.start > upper) break;
            if (a.end >= lower && (show_all_day || !a.all_day) && (!today_past || !a.all_day || a.end > now))
                write_appointment(s, written++, a);
            if (written >= max || s.AppointmentCancel) break;
        }
    }
    s.AppointmentBusy = false;
    trace(s, "End Get Apt");
    post_to_lock_screen(s, pr::WM_UPDATEAPPOINTMENT, WParam(written));
    return written;
}

namespace {

// The event that wakes the appointment thread, made by whichever of the thread and the timer
// needs it first.
SyncHandle refresh_event(State& s) {
    SyncHandle h = s.AppointmentRefreshEvent;
    if (h) return h;
    SyncHandle made = s.platform->sync().create_event(u"", false, false);
    if (!made) return 0;
    if (s.AppointmentRefreshEvent.compare_exchange_strong(h, made)) return made;
    s.platform->sync().close(made);
    return h;
}

}  // namespace

void appointment_thread_main(State& s, SyncHandle stop_event) {
    auto& sync = s.platform->sync();
    SyncHandle refresh = refresh_event(s);
    if (!refresh) return;
    SyncHandle handles[] = {refresh, stop_event};
    for (;;) {
        auto r = sync.wait(handles, false, kInfinite);
        if (r != 0 || s.AppointmentStopping) break;
        export_appointments(s);
    }
}

void on_timer_appointments(State& s) {
    if (s.AppointmentBusy) {
        // The running export stops early and the timer brings a fresh one.
        trace(s, "stop refreshing apt");
        s.AppointmentCancel = true;
        return;
    }
    SyncHandle refresh = refresh_event(s);
    if (!refresh) return;  // no event to be had: the timer tries again
    s.platform->windows().kill_timer(s.ServiceWindow, kTimerAppointments);
    s.platform->sync().set_event(refresh);
    trace(s, "Pulsed");
}

// --- tasks -----------------------------------------------------------------------------------

int export_tasks(State& s) {
    const auto show = s.settings.num(Id::ShowTask);
    auto& reg = s.platform->registry();
    PimQuery q;
    q.include_recurrences = true;
    q.restriction = u"[Complete] = FALSE";
    if (show == 2) q.restriction += u" AND [DueDate] = <" + date_text(std::floor(now_date(s)));
    q.sort = u"[DueDate]";
    std::string error;
    auto items = s.platform->pim().tasks(q, &error);
    if (!items) {
        trace(s, "Get Task failed: %s", error.c_str());
        return -1;
    }
    reg.delete_key(Root::CurrentUser, pr::kTasksKey);
    auto root = reg.create_key(Root::CurrentUser, pr::kTasksKey);
    if (!root) return -1;
    const std::size_t n = std::min(items->count(), kMaxTasks);
    for (std::size_t i = 1; i <= n; ++i) {
        const auto& t = *items->item(i);
        auto key = reg.create_key(Root::CurrentUser, std::u16string(pr::kTasksKey) + u"\\" + to_u16(std::to_string(i)));
        if (!key) return -1;
        write_string(reg, *key, u"Subject", t.subject, kValueTextMax);
        // A task without a due date has no DueDate value.
        if (t.due) write_time(reg, *key, u"DueDate", file_time_from_variant(*t.due));
        write_dword(reg, *key, u"Importance", t.importance);
    }
    write_dword(reg, *root, u"TaskCount", std::uint32_t(n));
    return int(n);
}

// --- messages --------------------------------------------------------------------------------

bool export_messages(State& s, std::u16string_view store_name) {
    auto store = find_store(s, store_name);
    if (!store) return false;
    auto& reg = s.platform->registry();
    auto key_path = message_key(store_name);
    reg.delete_key(Root::CurrentUser, key_path);
    auto row = newest_unread(s, store->entry_id);
    if (!row) return true;
    auto key = reg.create_key(Root::CurrentUser, key_path);
    if (!key) return false;
    if (key_path == pr::kMessageKey) write_string(reg, *key, pr::mailbox::kAccount, store->display_name, kMessageTextMax);
    write_string(reg, *key, u"Sender", row->sender, kMessageTextMax);
    write_string(reg, *key, u"Subject", row->subject, kMessageTextMax);
    write_time(reg, *key, u"Time", row->delivery_time);
    if (key_path == pr::kMessageKey && !row->sender_email.empty())
        write_string(reg, *key, u"Email", row->sender_email, kMessageTextMax);
    reg.flush(*key);
    return true;
}

bool open_newest_unread(State& s, std::u16string_view store_name) {
    auto store = find_store(s, store_name);
    if (!store) return false;
    auto row = newest_unread(s, store->entry_id);
    return row && s.platform->messaging().display_message(store->entry_id, row->entry_id);
}

bool mark_newest_read(State& s, std::u16string_view store_name) {
    auto store = find_store(s, store_name);
    if (!store) return false;
    auto row = newest_unread(s, store->entry_id);
    return row && s.platform->messaging().set_flags(store->entry_id, row->entry_id, kMessageRead);
}

bool export_for_count(State& s, std::uint32_t msg, std::int32_t previous, std::int32_t count) {
    if (s.settings.num(Id::LockNotification) == 0 || count <= 0) return false;
    const bool sms = msg == pr::WM_CHANGE_MESSAGINGSMSUNREAD;
    // The store has the message a moment after the count says so.
    s.sleep(sms ? kSmsSettleMs : kMmsSettleMs);
    export_messages(s, sms ? kSmsStore : kMmsStore);
    const bool preview = s.settings.num(sms ? Id::ShowSMSPreview : Id::ShowMMSPreview) != 0;
    if (!preview || !s.Locked || count <= previous || in_call(s)) return false;
    show_preview(s, sms ? pr::PreviewKind::Sms : pr::PreviewKind::Mms);
    return true;
}

void delay_email_count(State& s, std::int32_t previous, std::int32_t count) {
    trace(s, "WM_CHANGE_MESSAGINGTOTALEMAILUNREAD %d(%d)", int(count), int(previous));
    auto& win = s.platform->windows();
    if (count < 1) {
        win.kill_timer(s.ServiceWindow, kTimerEmail);
        forward_state(s, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, WParam(count));
        return;
    }
    win.set_timer(s.ServiceWindow, kTimerEmail, count > previous ? kEmailGrewMs : kEmailSameMs);
}

void on_timer_email(State& s) {
    if (syncing(s)) {
        s.platform->windows().set_timer(s.ServiceWindow, kTimerEmail, kEmailSyncingMs);
        return;
    }
    const std::int32_t count = s.counters[kUnreadEmail];
    if (count == 0) {
        on_state_change(s, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, WParam(count), 0);
        return;
    }
    export_messages(s, last_received_account(s));
    if (s.settings.num(Id::ShowEmailPreview) && s.Locked && !in_call(s)) {
        forward_state(s, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, WParam(count));
        show_preview(s, pr::PreviewKind::Email);
        return;
    }
    on_state_change(s, pr::WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, WParam(count), 0);
}

// --- the session and its notifications ---------------------------------------------------------

void open_appointment_store(State& s) {
    if (s.PimOpen) return;
    s.PimOpen = true;
    // The exports of what arrived while the service was not running.
    const Root sms_root = s.settings.num(Id::KoreanSMSpatch) ? Root::LocalMachine : Root::CurrentUser;
    if (s.settings.num(Id::LockNotification)) {
        if (unread_count(s, u"System\\State\\Messages\\SMS\\Unread", sms_root)) export_messages(s, kSmsStore);
        if (unread_count(s, u"System\\State\\Messages\\MMS\\Unread")) export_messages(s, kMmsStore);
        if (unread_count(s, u"System\\State\\Messages\\TotalEmail\\Unread"))
            export_messages(s, last_received_account(s));
    }
    const auto show = s.settings.num(Id::ShowTask);
    if (show == 1 || show == 2) {
        auto active = s.platform->registry().get_dword(Root::CurrentUser, u"System\\State\\Tasks",
                                                       show == 2 ? u"Due Today" : u"Active");
        if (active.value_or(0) != 0) export_tasks(s);
    }
}

void release_appointment_store(State& s) { s.PimOpen = false; }

// The log shows the result as the object model's status: 0 for done, E_FAIL otherwise.
constexpr int kFailed = int(0x80004005);

void subscribe_appointments(State& s) {
    bool ok = s.platform->pim().notify_changes(kFolderCalendar, s.ServiceWindow);
    trace(s, "SubNotifyApt %d", ok ? 0 : kFailed);
}

void subscribe_tasks(State& s) {
    bool ok = s.platform->pim().notify_changes(kFolderTasks, s.ServiceWindow);
    trace(s, "SubNotifyTask %d", ok ? 0 : kFailed);
}

LResult on_pim_event(State& s, std::uint32_t msg, WParam w, LParam l) {
    auto& win = s.platform->windows();
    switch (msg) {
        case pr::WM_CHANGE_APPOINTMENTS:
            win.set_timer(s.ServiceWindow, kTimerAppointments, kAppointmentRefreshMs);
            return 0;
        case pr::WM_PoomItemCreated:
        case pr::WM_PoomItemDeleted:
        case pr::WM_PoomItemChanged:
            trace(s, "POOM Msg:%0X %d", msg, int(l));
            if (std::uint32_t(l) == kFolderTasks) {
                // A changed task (completed, moved) is counted again; new and deleted ones come
                // with the task count's own change.
                if (msg == pr::WM_PoomItemChanged) {
                    std::int32_t last = s.counters[kActiveTasks];
                    win.post(s.ServiceWindow, pr::WM_CHANGE_TASKSACTIVE, WParam(last < 0 ? 0 : last), 0);
                }
                return 0;
            }
            win.set_timer(s.ServiceWindow, kTimerAppointments, kAppointmentItemRefreshMs);
            return 0;
        case pr::WM_OpenMessage:
            if (auto store = requested_store(s, w)) open_newest_unread(s, *store);
            return 0;
        case pr::WM_MarkReadMessage:
            if (auto store = requested_store(s, w)) mark_newest_read(s, *store);
            return 0;
        default: return 0;
    }
}

}  // namespace lumo::service
