#pragma once
// The phone's personal store as the call screens read it: contacts with their pictures, the SIM
// card's phone book, and the call log. Everything here is read-only for the programs; the phone
// itself (its phone application and telephony) writes them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::platform {

// What a contact lookup compares the key with.
enum class ContactMatch : std::uint32_t { PhoneNumber = 1, Email = 2, FileAs = 4 };

struct ContactNumber {
    std::u16string label;  // "Mobile", "Work", "Home", ...
    std::u16string number;
};

struct Contact {
    std::uint32_t id = 0;
    std::u16string file_as;  // the name as the contact list shows it
    std::vector<ContactNumber> numbers;
    std::u16string email;
    bool has_picture = false;
};

class Contacts {
  public:
    virtual ~Contacts() = default;
    // The first contact matching `key`: a phone number matches when its digits (and a leading
    // "+") equal the key's, ignoring blanks, dashes and brackets, or, when both have at least 7
    // digits, when the shorter ends the longer; an e-mail address and a file-as name match
    // without regard to case. nullopt when none matches or the store cannot be read.
    virtual std::optional<Contact> find(ContactMatch match, std::u16string_view key) = 0;
    // The contact's picture as stored (a PNG, JPEG, GIF or BMP file's bytes); nullopt when it
    // has none or there is no such contact.
    virtual std::optional<std::vector<std::uint8_t>> picture(std::uint32_t contact_id) = 0;
    // Every contact, in the order of their names.
    virtual std::vector<Contact> all() = 0;
};

// The SIM card's phone book.
inline constexpr std::uint32_t kSimStorageSim = 0x10;  // the phone book on the card itself
// Notification codes of SimCallback.
inline constexpr std::uint32_t kSimNotifyPhoneBookStored = 260;
inline constexpr std::uint32_t kSimNotifyPhoneBookDeleted = 261;
// The longest name and number a SIM entry holds; longer ones were cut when stored.
inline constexpr std::size_t kSimTextMaxChars = 30;
inline constexpr std::size_t kSimMaxEntries = 255;

struct SimEntry {
    std::uint32_t index = 0;  // 1-based place on the card
    std::u16string number;
    std::u16string name;
};
// Called with a kSimNotify* code (and the entry's index) when the phone book changed.
using SimCallback = std::function<void(std::uint32_t code, std::uint32_t index)>;

class SimPhoneBook {
  public:
    virtual ~SimPhoneBook() = default;
    // Starts SIM access; `on_change` (may be empty) runs on the calling thread from its message
    // loop, like the telephony callback. False when the phone has no SIM access.
    virtual bool initialize(SimCallback on_change) = 0;
    // The entries of a storage in card order, at most kSimMaxEntries; nullopt when it cannot be
    // read (no access, no card, unknown storage).
    virtual std::optional<std::vector<SimEntry>> read(std::uint32_t storage) = 0;
    virtual void deinitialize() = 0;
};

// Call log flags: the low two bits tell the direction; both clear is a missed call.
inline constexpr std::uint32_t kCallLogIncoming = 0x1;  // answered
inline constexpr std::uint32_t kCallLogOutgoing = 0x2;
inline constexpr std::uint32_t kCallLogDirectionMask = 0x3;
inline constexpr std::uint32_t kCallLogRoaming = 0x4;
inline constexpr std::uint32_t kCallLogEnded = 0x8;  // the call has ended (always, once logged)
inline constexpr bool call_log_missed(std::uint32_t flags) {
    return (flags & kCallLogDirectionMask) == 0;
}

struct CallLogEntry {
    std::uint64_t time = 0;      // when the call began: local file time (100 ns since 1601)
    std::uint64_t end_time = 0;  // when it ended, likewise
    std::uint32_t flags = 0;
    std::u16string number;
    std::u16string name;          // the contact's or the network's, may be empty
    std::u16string number_label;  // "Mobile", "Work", ... when a contact matched, may be empty
};

class CallLog {
  public:
    virtual ~CallLog() = default;
    // The newest `max` calls, newest first; nullopt when the log cannot be opened.
    virtual std::optional<std::vector<CallLogEntry>> newest(std::size_t max) = 0;
};

}  // namespace lumo::platform
