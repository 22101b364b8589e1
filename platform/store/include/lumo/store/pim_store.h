#pragma once
// The phone's calendar, tasks and message stores, and the state it publishes about them. The
// device host keeps one (saved in its own database) and the fake another, so the two answer the
// same queries alike by construction.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/clock.h"
#include "lumo/platform/pim.h"
#include "lumo/store/registry_store.h"

namespace lumo::store {

using platform::file_time_from_variant;
using platform::local_from_variant;
using platform::variant_from_file_time;
using platform::variant_from_local;

struct CalendarItem {
    std::uint32_t id = 0;
    std::u16string subject, location;
    double start = 0, end = 0;
    bool all_day = false;
    platform::RecurrenceType recurrence = platform::RecurrenceType::None;
    double pattern_start = 0;  // the date the pattern starts on (the first start's day)
};

struct MessageItem {
    std::uint32_t id = 0;
    std::u16string sender, sender_email, subject;
    std::uint64_t delivery_time = 0;
    std::uint32_t flags = 0;
};

enum class MessageKind : std::uint8_t { Sms = 1, Mms = 2, Email = 3 };

struct MessageStore {
    std::uint32_t id = 0;
    MessageKind kind = MessageKind::Sms;
    std::u16string name;
    std::vector<MessageItem> messages;  // in arrival order
};

struct Reminder {
    std::u16string subject, location;
    std::uint64_t time = 0;
};

class PimStore {
public:
    // How a change reaches the windows that asked: (window, message, folder).
    using Poster = std::function<void(platform::Hwnd, std::uint32_t, std::uint32_t)>;
    PimStore();

    // --- calendar and tasks ------------------------------------------------------------------
    std::uint32_t add_appointment(CalendarItem item);
    bool delete_appointment(std::uint32_t id);
    std::uint32_t add_task(platform::PimTask task);
    bool complete_task(std::uint32_t id);
    const std::vector<CalendarItem>& calendar() const { return calendar_; }
    const std::vector<platform::PimTask>& task_list() const { return tasks_; }

    // Only the query texts the product uses are understood; anything else is refused with a
    // message naming the text. Recurring items are expanded from the restriction's bound (or
    // their pattern's start) over kRecurrenceHorizonDays.
    static constexpr double kRecurrenceHorizonDays = 800;
    std::optional<platform::PimItems<platform::PimAppointment>> query_appointments(
        const platform::PimQuery& q, std::string* error) const;
    std::optional<platform::PimItems<platform::PimTask>> query_tasks(const platform::PimQuery& q,
                                                                     std::string* error) const;

    // --- messages ----------------------------------------------------------------------------
    // The store of that kind ("SMS", "MMS", or the e-mail account, made on first use).
    MessageStore& store_for(MessageKind kind, std::u16string_view account);
    std::uint32_t deliver(MessageKind kind, std::u16string_view account, MessageItem message);
    const std::vector<MessageStore>& message_stores() const { return stores_; }
    std::optional<platform::MessageRow> read_row(std::uint32_t store, std::uint32_t index) const;
    bool set_flags(std::uint32_t store, std::uint32_t entry, std::uint32_t flags);
    const MessageItem* find_message(std::uint32_t store, std::uint32_t entry) const;
    std::u16string last_received_account;

    // --- alarms, voice mail, reminders ---------------------------------------------------------
    std::optional<std::uint64_t> next_alarm;
    std::uint32_t voicemail = 0;
    std::optional<Reminder> reminder;

    // --- notifications -------------------------------------------------------------------------
    void subscribe(std::uint32_t folder, platform::Hwnd window);
    // Drops a window's subscriptions (it went away).
    void unsubscribe_window(platform::Hwnd window);
    void set_poster(Poster poster) { poster_ = std::move(poster); }

    // Writes the counts and the alarm, reminder and appointment state the phone publishes; `now`
    // is the local time as an automation date.
    void publish(RegistryStore& reg, double now) const;

    // Ids are handed out from here; a loaded store sets them past its rows.
    std::uint32_t next_id = 1;

private:
    void changed(std::uint32_t folder, std::uint32_t msg);
    std::vector<CalendarItem> calendar_;
    std::vector<platform::PimTask> tasks_;
    std::vector<MessageStore> stores_;
    std::vector<std::pair<std::uint32_t, platform::Hwnd>> subscribers_;
    Poster poster_;
};

// Registry places the phone publishes.
inline constexpr std::u16string_view kMessagesKey = u"System\\State\\Messages";
inline constexpr std::u16string_view kSmsUnreadKey = u"System\\State\\Messages\\SMS\\Unread";
inline constexpr std::u16string_view kMmsUnreadKey = u"System\\State\\Messages\\MMS\\Unread";
inline constexpr std::u16string_view kVMailUnreadKey = u"System\\State\\Messages\\VMail\\Total\\Unread";
inline constexpr std::u16string_view kEmailUnreadKey = u"System\\State\\Messages\\TotalEmail\\Unread";
inline constexpr std::u16string_view kTasksStateKey = u"System\\State\\Tasks";
inline constexpr std::u16string_view kAppointmentsStateKey = u"System\\State\\Appointments";
inline constexpr std::u16string_view kHomeScreenKey = u"System\\State\\Appointments\\HomeScreen";
inline constexpr std::u16string_view kAlarmsKey = u"System\\State\\Shell\\Alarms";
inline constexpr std::u16string_view kRemindersKey = u"System\\State\\Shell\\Reminders";
// The one reminder the device fires is published under this sub-key name.
inline constexpr std::u16string_view kReminderName = u"Reminder1";

}  // namespace lumo::store
