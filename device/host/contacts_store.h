#pragma once
// The phone's contacts, SIM phone book and call log, kept in SQLite in the device folder beside
// the registry: DIR/pim/contacts.db (contacts with their numbers and pictures, and the SIM card)
// and DIR/pim/clog.db (the call log). A store that cannot be opened leaves the phone without
// contacts and call log; it never stops the phone from booting.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/contacts.h"

namespace lumo::host {

class ContactsStore {
  public:
    ~ContactsStore();
    // Opens (creating) both databases under `dir`/pim; false with `error` set. `fresh`: a new
    // device, which gets the sample contacts.
    bool open(const std::string& dir, bool fresh, std::string* error);
    bool is_open() const { return contacts_ != nullptr; }

    // --- contacts -------------------------------------------------------------------------------
    std::optional<platform::Contact> find(platform::ContactMatch match, std::u16string_view key);
    std::optional<std::vector<std::uint8_t>> picture(std::uint32_t id);
    std::vector<platform::Contact> all();
    // Adds a contact with one number ("Mobile"); its id, or nullopt on a storage failure.
    std::optional<std::uint32_t> add_contact(const std::u16string& name, const std::u16string& number,
                                             const std::u16string& email,
                                             const std::vector<std::uint8_t>& picture);
    bool delete_contact(std::uint32_t id);

    // --- SIM ------------------------------------------------------------------------------------
    std::vector<platform::SimEntry> sim_entries();
    // Stores an entry (name and number cut to what the card holds); its index, or nullopt when
    // the card is full or the store failed.
    std::optional<std::uint32_t> sim_add(const std::u16string& name, const std::u16string& number);

    // --- call log -------------------------------------------------------------------------------
    bool log_call(const platform::CallLogEntry& e);
    std::optional<std::vector<platform::CallLogEntry>> calls(std::size_t max);

    const std::string& last_error() const { return last_error_; }

  private:
    bool seed_samples();
    sqlite3* contacts_ = nullptr;
    sqlite3* log_ = nullptr;
    std::string last_error_;
};

// A small portrait (a head and shoulders on a coloured ground) as PNG bytes, for the sample
// contacts; empty when it cannot be made.
std::vector<std::uint8_t> sample_portrait(std::uint32_t seed, const std::string& scratch_dir);

}  // namespace lumo::host
