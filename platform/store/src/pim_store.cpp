#include "lumo/store/pim_store.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "lumo/platform/registry.h"
#include "lumo/platform/text.h"

namespace lumo::store {

using platform::PimAppointment;
using platform::PimItems;
using platform::PimQuery;
using platform::PimTask;
using platform::RecurrenceType;
using platform::Root;
using platform::ValueType;

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kVariantEpochFrom1970 = -25569;  // 1899-12-30

bool valid_date(int y, unsigned m, unsigned d) {
    if (m < 1 || m > 12 || d < 1) return false;
    int yy;
    unsigned mm, dd;
    civil_from_days(days_from_civil(y, m, d), yy, mm, dd);
    return yy == y && mm == m && dd == d;
}

// The date `n` steps of the pattern after `base` (a day number), or nullopt when that month or
// year has no such day (the 31st, the 29th of February).
std::optional<double> step_date(double base, RecurrenceType type, int n) {
    double day = std::floor(base);
    switch (type) {
        case RecurrenceType::Daily: return day + n;
        case RecurrenceType::Weekly: return day + 7.0 * n;
        case RecurrenceType::Monthly:
        case RecurrenceType::Yearly: {
            int y;
            unsigned m, d;
            civil_from_days(static_cast<std::int64_t>(day) + kVariantEpochFrom1970, y, m, d);
            if (type == RecurrenceType::Yearly) {
                y += n;
            } else {
                int months = int(m) - 1 + n;
                y += months / 12;
                m = unsigned(months % 12) + 1;
            }
            if (!valid_date(y, m, d)) return std::nullopt;
            return double(days_from_civil(y, m, d) - kVariantEpochFrom1970);
        }
        case RecurrenceType::None: break;
    }
    return std::nullopt;
}

std::u16string trim(std::u16string_view s) {
    auto b = s.find_first_not_of(u' ');
    if (b == std::u16string_view::npos) return {};
    auto e = s.find_last_not_of(u' ');
    return std::u16string(s.substr(b, e - b + 1));
}

// A date operand of the query text: '<' and the date as a number ("<46363"), as the product
// writes it with "%g".
std::optional<double> date_operand(std::u16string_view s) {
    auto t = trim(s);
    if (t.size() < 2 || t[0] != u'<') return std::nullopt;
    std::string digits = platform::to_utf8(std::u16string_view(t).substr(1));
    char* end = nullptr;
    double v = std::strtod(digits.c_str(), &end);
    if (!end || *end != '\0' || digits.empty() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool starts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string refused(std::u16string_view what, std::u16string_view text) {
    return "the store does not understand the " + platform::to_utf8(what) + " \"" +
           platform::to_utf8(text) + "\"";
}

void write_dword(RegistryStore& reg, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
    reg.create_key(Root::CurrentUser, key);
    reg.write_value(Root::CurrentUser, key, name, ValueType::Dword, std::as_bytes(std::span(&v, 1)));
}

void write_string(RegistryStore& reg, std::u16string_view key, std::u16string_view name,
                  std::u16string_view v) {
    reg.create_key(Root::CurrentUser, key);
    auto bytes = platform::encode_string_value(v);
    reg.write_value(Root::CurrentUser, key, name, ValueType::String, bytes);
}

void write_time(RegistryStore& reg, std::u16string_view key, std::u16string_view name, std::uint64_t ft) {
    reg.create_key(Root::CurrentUser, key);
    reg.write_value(Root::CurrentUser, key, name, ValueType::Binary, std::as_bytes(std::span(&ft, 1)));
}

}  // namespace

PimStore::PimStore() {
    store_for(MessageKind::Sms, u"");
    store_for(MessageKind::Mms, u"");
}

std::uint32_t PimStore::add_appointment(CalendarItem item) {
    item.id = next_id++;
    if (item.recurrence != RecurrenceType::None && item.pattern_start == 0)
        item.pattern_start = std::floor(item.start);
    calendar_.push_back(std::move(item));
    changed(platform::kFolderCalendar, platform::kPimItemCreated);
    return calendar_.back().id;
}

bool PimStore::delete_appointment(std::uint32_t id) {
    auto it = std::find_if(calendar_.begin(), calendar_.end(), [id](auto& a) { return a.id == id; });
    if (it == calendar_.end()) return false;
    calendar_.erase(it);
    changed(platform::kFolderCalendar, platform::kPimItemDeleted);
    return true;
}

std::uint32_t PimStore::add_task(PimTask task) {
    task.id = next_id++;
    tasks_.push_back(std::move(task));
    changed(platform::kFolderTasks, platform::kPimItemCreated);
    return tasks_.back().id;
}

bool PimStore::complete_task(std::uint32_t id) {
    for (auto& t : tasks_) {
        if (t.id != id) continue;
        t.complete = true;
        changed(platform::kFolderTasks, platform::kPimItemChanged);
        return true;
    }
    return false;
}

std::optional<PimItems<PimAppointment>> PimStore::query_appointments(const PimQuery& q,
                                                                     std::string* error) const {
    std::optional<double> end_after;
    auto restriction = trim(q.restriction);
    if (!restriction.empty()) {
        constexpr std::u16string_view kEnd = u"[End] >";
        auto bound = starts_with(restriction, kEnd) ? date_operand(std::u16string_view(restriction).substr(kEnd.size()))
                                                    : std::nullopt;
        if (!bound) {
            if (error) *error = refused(u"restriction", q.restriction);
            return std::nullopt;
        }
        end_after = bound;
    }
    auto sort = trim(q.sort);
    if (!sort.empty() && sort != u"[Start]") {
        if (error) *error = refused(u"sort", q.sort);
        return std::nullopt;
    }
    PimItems<PimAppointment> out;
    auto keep = [&](const PimAppointment& a) {
        if (!end_after || a.end > *end_after) out.items.push_back(a);
    };
    for (const auto& item : calendar_) {
        PimAppointment a;
        a.id = item.id;
        a.subject = item.subject;
        a.location = item.location;
        a.start = item.start;
        a.end = item.end;
        a.all_day = item.all_day;
        if (item.recurrence == RecurrenceType::None || !q.include_recurrences) {
            a.recurring = item.recurrence != RecurrenceType::None;
            a.recurrence = item.recurrence;
            a.pattern_start = item.pattern_start;
            keep(a);
            continue;
        }
        a.recurring = true;
        a.recurrence = item.recurrence;
        a.pattern_start = item.pattern_start;
        const double length = item.end - item.start;
        const double time_of_day = item.start - std::floor(item.start);
        const double from = end_after ? *end_after - length - 1 : item.start;
        const double until = (end_after ? *end_after : item.start) + kRecurrenceHorizonDays;
        // Occurrences before `from` are skipped by stepping, not listed: a daily item from long
        // ago costs only arithmetic.
        int first = 0;
        if (from > item.start) {
            double span_days = from - item.start;
            switch (item.recurrence) {
                case RecurrenceType::Daily: first = int(span_days); break;
                case RecurrenceType::Weekly: first = int(span_days / 7); break;
                case RecurrenceType::Monthly: first = std::max(0, int(span_days / 31) - 1); break;
                case RecurrenceType::Yearly: first = std::max(0, int(span_days / 366) - 1); break;
                case RecurrenceType::None: break;
            }
        }
        for (int n = first; n < first + 5000; ++n) {
            auto day = step_date(item.start, item.recurrence, n);
            if (!day) continue;
            double start = *day + time_of_day;
            if (start >= until) break;
            a.start = start;
            a.end = start + length;
            keep(a);
        }
    }
    if (!sort.empty())
        std::stable_sort(out.items.begin(), out.items.end(),
                         [](const auto& x, const auto& y) { return x.start < y.start; });
    return out;
}

std::optional<PimItems<PimTask>> PimStore::query_tasks(const PimQuery& q, std::string* error) const {
    auto restriction = trim(q.restriction);
    constexpr std::u16string_view kOpen = u"[Complete] = FALSE";
    constexpr std::u16string_view kDue = u" AND [DueDate] =";
    bool open_only = false;
    std::optional<double> due_on;
    if (!restriction.empty()) {
        bool ok = starts_with(restriction, kOpen);
        if (ok) {
            open_only = true;
            auto rest = std::u16string_view(restriction).substr(kOpen.size());
            if (!rest.empty()) {
                ok = starts_with(rest, kDue);
                if (ok) {
                    due_on = date_operand(rest.substr(kDue.size()));
                    ok = due_on.has_value();
                }
            }
        }
        if (!ok) {
            if (error) *error = refused(u"restriction", q.restriction);
            return std::nullopt;
        }
    }
    auto sort = trim(q.sort);
    if (!sort.empty() && sort != u"[DueDate]") {
        if (error) *error = refused(u"sort", q.sort);
        return std::nullopt;
    }
    PimItems<PimTask> out;
    for (const auto& t : tasks_) {
        if (open_only && t.complete) continue;
        if (due_on && (!t.due || std::floor(*t.due) != std::floor(*due_on))) continue;
        out.items.push_back(t);
    }
    // Tasks without a due date come last.
    if (!sort.empty())
        std::stable_sort(out.items.begin(), out.items.end(), [](const auto& x, const auto& y) {
            if (x.due.has_value() != y.due.has_value()) return x.due.has_value();
            return x.due && *x.due < *y.due;
        });
    return out;
}

MessageStore& PimStore::store_for(MessageKind kind, std::u16string_view account) {
    std::u16string name = kind == MessageKind::Sms   ? u"SMS"
                          : kind == MessageKind::Mms ? u"MMS"
                                                     : std::u16string(account);
    for (auto& s : stores_)
        if (s.kind == kind && s.name == name) return s;
    MessageStore s;
    s.id = next_id++;
    s.kind = kind;
    s.name = std::move(name);
    stores_.push_back(std::move(s));
    return stores_.back();
}

std::uint32_t PimStore::deliver(MessageKind kind, std::u16string_view account, MessageItem message) {
    auto& store = store_for(kind, account);
    message.id = next_id++;
    store.messages.push_back(std::move(message));
    if (kind == MessageKind::Email) last_received_account = store.name;
    return store.messages.back().id;
}

std::optional<platform::MessageRow> PimStore::read_row(std::uint32_t store, std::uint32_t index) const {
    for (const auto& s : stores_) {
        if (s.id != store) continue;
        if (index >= s.messages.size()) return std::nullopt;
        std::vector<const MessageItem*> order;
        for (const auto& m : s.messages) order.push_back(&m);
        std::stable_sort(order.begin(), order.end(),
                         [](auto* a, auto* b) { return a->delivery_time > b->delivery_time; });
        const auto& m = *order[index];
        return platform::MessageRow{m.id, m.sender, m.subject, m.sender_email, m.delivery_time, m.flags};
    }
    return std::nullopt;
}

const MessageItem* PimStore::find_message(std::uint32_t store, std::uint32_t entry) const {
    for (const auto& s : stores_)
        if (s.id == store)
            for (const auto& m : s.messages)
                if (m.id == entry) return &m;
    return nullptr;
}

bool PimStore::set_flags(std::uint32_t store, std::uint32_t entry, std::uint32_t flags) {
    auto* m = const_cast<MessageItem*>(find_message(store, entry));
    if (!m) return false;
    m->flags = flags;
    return true;
}

void PimStore::subscribe(std::uint32_t folder, platform::Hwnd window) {
    for (auto& s : subscribers_)
        if (s.first == folder && s.second == window) return;
    subscribers_.emplace_back(folder, window);
}

void PimStore::unsubscribe_window(platform::Hwnd window) {
    std::erase_if(subscribers_, [window](auto& s) { return s.second == window; });
}

void PimStore::changed(std::uint32_t folder, std::uint32_t msg) {
    if (!poster_) return;
    for (auto& s : subscribers_)
        if (s.first == folder) poster_(s.second, msg, folder);
}

void PimStore::publish(RegistryStore& reg, double now) const {
    auto unread = [&](MessageKind kind) {
        std::uint32_t n = 0;
        for (const auto& s : stores_)
            if (s.kind == kind)
                for (const auto& m : s.messages) n += m.flags == 0;
        return n;
    };
    write_dword(reg, kSmsUnreadKey, u"Count", unread(MessageKind::Sms));
    write_dword(reg, kMmsUnreadKey, u"Count", unread(MessageKind::Mms));
    write_dword(reg, kEmailUnreadKey, u"Count", unread(MessageKind::Email));
    write_dword(reg, kVMailUnreadKey, u"Count", voicemail);
    if (!last_received_account.empty())
        write_string(reg, kMessagesKey, u"Last Received Account", last_received_account);

    std::uint32_t active = 0, due_today = 0;
    const double today = std::floor(now);
    for (const auto& t : tasks_) {
        if (t.complete) continue;
        ++active;
        // Overdue tasks are due today too, as the phone counts them.
        if (t.due && std::floor(*t.due) <= today) ++due_today;
    }
    write_dword(reg, kTasksStateKey, u"Active", active);
    write_dword(reg, kTasksStateKey, u"Due Today", due_today);

    // The appointment in progress and the next one to come.
    PimQuery q{u"[End] > <" + platform::to_u16(std::to_string(now)), u"[Start]", true};
    std::u16string current, next;
    if (auto items = query_appointments(q, nullptr)) {
        for (const auto& a : items->items) {
            if (a.start <= now && current.empty()) current = a.subject;
            if (a.start > now && next.empty()) next = a.subject;
        }
    }
    write_string(reg, kAppointmentsStateKey, u"Current", current);
    write_string(reg, kHomeScreenKey, u"Subject", next);

    if (next_alarm) {
        write_time(reg, kAlarmsKey, u"Next", *next_alarm);
    } else {
        reg.delete_value(Root::CurrentUser, kAlarmsKey, u"Next");
    }

    std::u16string path = std::u16string(kRemindersKey) + u"\\" + std::u16string(kReminderName);
    if (reminder) {
        write_time(reg, path, u"Time", reminder->time);
        write_string(reg, path, u"Location", reminder->location);
        write_string(reg, path, u"Description", reminder->subject);
        write_string(reg, kRemindersKey, u"Active", kReminderName);
    } else {
        reg.delete_key(Root::CurrentUser, path);
        write_string(reg, kRemindersKey, u"Active", u"");
    }
}

}  // namespace lumo::store
