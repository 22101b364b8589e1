#pragma once
// The phone's personal-information stores (calendar and tasks) and its messaging stores, as the
// programs ask them. Dates of the object model are automation dates: days since 1899-12-30 in
// local time, the fraction being the time of day. Message times are file times.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/clock.h"
#include "lumo/platform/types.h"

namespace lumo::platform {

// Automation dates and the device's other clocks. File times are whole milliseconds here.
double variant_from_file_time(std::uint64_t file_time);
std::uint64_t file_time_from_variant(double date);
double variant_from_local(const LocalTime& t);
LocalTime local_from_variant(double date);

// The default folders the service opens.
inline constexpr std::uint32_t kFolderCalendar = 9;
inline constexpr std::uint32_t kFolderTasks = 13;
// What a folder asked for change notifications posts (lParam: the folder).
inline constexpr std::uint32_t kPimItemCreated = 33029;
inline constexpr std::uint32_t kPimItemDeleted = 33030;
inline constexpr std::uint32_t kPimItemChanged = 33031;

enum class RecurrenceType : std::uint8_t { None = 0, Daily = 1, Weekly = 2, Monthly = 3, Yearly = 4 };

struct PimAppointment {
    std::uint32_t id = 0;
    std::u16string subject, location;
    double start = 0, end = 0;
    bool all_day = false;
    // An occurrence of a recurring item: the pattern's type and the date it starts on.
    bool recurring = false;
    RecurrenceType recurrence = RecurrenceType::None;
    double pattern_start = 0;
};

struct PimTask {
    std::uint32_t id = 0;
    std::u16string subject;
    std::optional<double> due;  // none: the task has no due date
    std::uint32_t importance = 1;  // 0 low, 1 normal, 2 high
    bool complete = false;
};

// What the service asks of a folder's items: a restriction in the store's query text, a sort
// field ("[Start]", "[DueDate]" or none) and whether recurring items are expanded into their
// occurrences.
struct PimQuery {
    std::u16string restriction;
    std::u16string sort;
    bool include_recurrences = false;
};

// A folder's items after a query; `item` counts from 1, as the object model does.
template <class T>
struct PimItems {
    std::vector<T> items;
    std::size_t count() const { return items.size(); }
    const T* item(std::size_t one_based) const {
        return one_based >= 1 && one_based <= items.size() ? &items[one_based - 1] : nullptr;
    }
};

class Pim {
public:
    virtual ~Pim() = default;
    // Nullopt, with `error` saying why, for a query text the store does not understand or a
    // store that cannot be reached.
    virtual std::optional<PimItems<PimAppointment>> appointments(const PimQuery& query,
                                                                 std::string* error) = 0;
    virtual std::optional<PimItems<PimTask>> tasks(const PimQuery& query, std::string* error) = 0;
    // The folder posts kPimItemCreated/Deleted/Changed with its number to `window` from now on.
    virtual bool notify_changes(std::uint32_t folder, Hwnd window) = 0;
};

// Message flags: 0 unread, 1 read.
inline constexpr std::uint32_t kMessageRead = 1;

struct MessageStoreInfo {
    std::uint32_t entry_id = 0;
    std::u16string display_name;  // "SMS", "MMS" or an e-mail account's name
};

struct MessageRow {
    std::uint32_t entry_id = 0;
    std::u16string sender, subject, sender_email;
    std::uint64_t delivery_time = 0;  // file time
    std::uint32_t flags = 0;
};

class Messaging {
public:
    virtual ~Messaging() = default;
    virtual std::vector<MessageStoreInfo> stores() = 0;
    // Row `index` (from 0) of the store's receive folder sorted by delivery time, newest first;
    // nullopt past the end or for an unknown store.
    virtual std::optional<MessageRow> read_row(std::uint32_t store, std::uint32_t index) = 0;
    virtual bool set_flags(std::uint32_t store, std::uint32_t entry, std::uint32_t flags) = 0;
    // Shows the message in the phone's mail program.
    virtual bool display_message(std::uint32_t store, std::uint32_t entry) = 0;
};

}  // namespace lumo::platform
