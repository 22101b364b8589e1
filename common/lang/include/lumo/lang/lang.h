#pragma once
// Language strings: the lookup in lang.ini (UTF-16, one "key=text" entry per line, first line
// that contains the key wins) and the key tables of the three programs with a screen, with their
// English defaults, maximum lengths, batch order and conditions.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/catalogue/catalogue.h"

namespace lumo::lang {

// When lumo loads a key at all; the other programs load every key of their batches.
enum class Condition : std::uint8_t {
    Always,
    PasswordLock,   // the password lock is in force
    SliderCentre,   // SliderPosition is not 0
    SliderLeft,     // SliderPosition is 0
    CallerId,       // CallerID is not 0
    BusySms,        // CallerID and SendBusySMS
    VolumeControl,  // VolumeControl is on
    RingerToggle,   // the centre slider's ringer-toggle mode is on
};

struct Key {
    std::u16string_view key;           // with its trailing '='; empty for a fixed text
    std::u16string_view default_text;  // the English default
    std::uint16_t max_len;             // destination size in characters, including the zero
    Condition condition = Condition::Always;
};

// LumoSettings: general texts and menu titles (first batch), page items (second batch), the
// Language page (third batch).
std::span<const Key> settings_general_keys();
std::span<const Key> settings_page_keys();
std::span<const Key> settings_language_keys();
// lumo's one batch at start, and LumoC's.
std::span<const Key> lockscreen_keys();
std::span<const Key> browser_keys();

// The 40 languages of the language pack, in list order.
struct Language {
    std::u16string_view list_name;     // names the archive entry "lang.%s.ini"
    std::u16string_view key;           // "l_%s=" with the list name
    std::u16string_view display_name;  // the default: the language's own name
};
std::span<const Language> languages();

inline constexpr std::size_t kLineBuffer = 260;  // one line is read in parts of 259 characters

// An opened lang.ini, read once into memory; an absent file gives every default.
class LangFile {
  public:
    LangFile() = default;  // absent
    // Reads "lang.ini" in the program folder; a file that cannot be read is absent, with the
    // reason in `why` when given.
    static LangFile open(const std::filesystem::path& folder, std::string* why = nullptr);
    // The raw bytes of a file (UTF-16LE); an odd last byte is ignored.
    static LangFile from_bytes(std::span<const unsigned char> bytes);

    bool present() const { return present_; }

    // The text after the first occurrence of `key` in the first line that contains it, up to a
    // zero, a CR, the end of the line part or max_len - 1 characters; else the default, cut to
    // max_len - 1. Never fails.
    std::u16string lookup(std::u16string_view key, std::u16string_view default_text,
                          std::size_t max_len) const;

  private:
    bool present_ = false;
    std::vector<std::u16string> lines_;  // parts as the 260-character buffer reads them
};

struct Conditions {
    bool password_lock = false;
    bool slider_centre = false;
    bool caller_id = false;
    bool busy_sms = false;
    bool volume_control = false;
    bool ringer_toggle = false;
};
// The lock screen's conditions from its settings.
Conditions conditions_from(const catalogue::Values& values, bool ringer_toggle);
bool applies(Condition c, const Conditions& conditions);

// One batch: a text per row of the table, in table order. Rows whose condition does not hold are
// not looked up and stay empty.
class Texts {
  public:
    Texts() = default;
    Texts(std::span<const Key> keys, std::vector<std::u16string> texts, std::vector<bool> loaded);
    // The text of a key of the table; empty for keys not in the table or not loaded.
    const std::u16string& get(std::u16string_view key) const;
    bool loaded(std::u16string_view key) const;
    std::size_t size() const { return texts_.size(); }
    const std::u16string& at(std::size_t row) const { return texts_.at(row); }

  private:
    std::span<const Key> keys_;
    std::vector<std::u16string> texts_;
    std::vector<bool> loaded_;
};

Texts load(const LangFile& file, std::span<const Key> keys, const Conditions& conditions = {});

}  // namespace lumo::lang
