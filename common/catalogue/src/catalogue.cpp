#include "lumo/catalogue/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "lumo/platform/text.h"

namespace lumo::catalogue {

using platform::Registry;
using platform::RegKey;
using platform::Root;
using platform::ValueInfo;
using platform::ValueType;

namespace {

constexpr bool reads(const Setting& s, Program p) {
    switch (p) {
        case Program::Service:
            return (s.readers & kV) != 0;
        case Program::LockScreen:
            return (s.readers & kL) != 0;
        case Program::Browser:
            return (s.readers & kC) != 0;
        case Program::Settings:
            return s.table <= 4 || (s.flags & kSettingsReads) != 0;
        case Program::Zorp:
            return false;
    }
    return false;
}

// Every row that fits a slot of the Values container; a blob above 8 bytes would not.
constexpr bool table_is_sound() {
    for (const auto& s : detail::kTable) {
        if (s.name.empty()) return false;
        if (s.shape == Shape::Blob && s.size > 8) return false;
        if (s.shape == Shape::Byte && s.def > 255) return false;
    }
    return true;
}
static_assert(table_is_sound());
static_assert(std::size(kSaveOptions) == 92);

std::u16string ascii(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace

std::optional<Id> find(std::u16string_view name) {
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        if (platform::equal_no_case(s.name, name) ||
            (!s.service_name.empty() && platform::equal_no_case(s.service_name, name)))
            return static_cast<Id>(i);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

Values Values::defaults(Program program, std::uint8_t vibration_led) {
    Values v;
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        v.num_[i] = s.def;
        v.text_[i] = std::u16string(s.def_text);
    }
    v.set_num(Id::VibrationLED, vibration_led);
    switch (program) {
        case Program::Settings:
            v.set_num(Id::ShowBattery, 0);
            break;
        case Program::LockScreen:
            v.set_num(Id::BatteryOnTop, 1);
            break;
        case Program::Browser:
            v.set_num(Id::DisplayMode, 1);
            break;
        case Program::Service:
        case Program::Zorp:
            break;
    }
    return v;
}

std::span<const std::byte> Values::blob(Id id) const {
    if (!present_.test(index(id))) return {};
    return std::span(blob_[index(id)]).first(setting(id).size);
}

void Values::set_blob(Id id, std::span<const std::byte> bytes) {
    auto& slot = blob_[index(id)];
    slot.fill(std::byte{0});
    std::copy_n(bytes.begin(), std::min(bytes.size(), slot.size()), slot.begin());
    present_.set(index(id));
}

std::uint8_t vibration_led_default(std::optional<std::uint32_t> led_count) {
    if (!led_count || *led_count == 0) return 255;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(*led_count - 1, 255));
}

// ---------------------------------------------------------------------------------------------

std::optional<OpenedRoot> open_root(Registry& reg) {
    bool created = false;
    auto key = reg.create_key(Root::CurrentUser, protocol::kRootKey, &created);
    if (!key) return std::nullopt;
    return OpenedRoot{*key, created};
}

bool read_byte(Registry& reg, const RegKey& key, std::u16string_view name, std::uint8_t& out) {
    std::byte b[1];
    ValueInfo info;
    if (!reg.read_value(key, name, b, &info, ValueType::Binary) || info.size != 1) return false;
    out = std::to_integer<std::uint8_t>(b[0]);
    return true;
}

bool read_number(Registry& reg, const RegKey& key, std::u16string_view name, std::uint32_t& out) {
    std::byte b[4];
    ValueInfo info;
    if (!reg.read_value(key, name, b, &info, ValueType::Dword) || info.size != 4) return false;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::to_integer<std::uint32_t>(b[i]);
    out = v;
    return true;
}

bool read_text(Registry& reg, const RegKey& key, std::u16string_view name, std::size_t buffer_chars,
               std::u16string& out) {
    if (buffer_chars == 0) return false;
    std::vector<std::byte> buf(buffer_chars * 2);
    ValueInfo info;
    if (!reg.read_value(key, name, buf, &info, ValueType::String)) return false;
    auto s = platform::decode_string_value(std::span(buf).first(info.size));
    // A text stored without its zero may fill the whole buffer; it is too long like any other
    // text that leaves no room for the terminator.
    if (s.size() >= buffer_chars) return false;
    out = std::move(s);
    return true;
}

bool read_blob(Registry& reg, const RegKey& key, std::u16string_view name,
               std::span<std::byte> out) {
    std::vector<std::byte> buf(out.size());
    ValueInfo info;
    if (!reg.read_value(key, name, buf, &info, ValueType::Binary) || info.size != out.size())
        return false;
    std::copy(buf.begin(), buf.end(), out.begin());
    return true;
}

bool write_byte(Registry& reg, const RegKey& key, std::u16string_view name, std::uint8_t v) {
    const std::byte b[1] = {std::byte{v}};
    return reg.write_value(key, name, ValueType::Binary, b);
}

bool write_number(Registry& reg, const RegKey& key, std::u16string_view name, std::uint32_t v) {
    const std::byte b[4] = {std::byte(v & 0xFF), std::byte((v >> 8) & 0xFF),
                            std::byte((v >> 16) & 0xFF), std::byte(v >> 24)};
    return reg.write_value(key, name, ValueType::Dword, b);
}

bool write_text(Registry& reg, const RegKey& key, std::u16string_view name, std::u16string_view v) {
    auto bytes = platform::encode_string_value(v);
    bytes.resize(v.size() * 2);  // without the terminating zero
    return reg.write_value(key, name, ValueType::String, bytes);
}

bool write_blob(Registry& reg, const RegKey& key, std::u16string_view name,
                std::span<const std::byte> v) {
    return reg.write_value(key, name, ValueType::Binary, v);
}

bool delete_value(Registry& reg, const RegKey& key, std::u16string_view name) {
    return reg.delete_value(key, name);
}

bool read(Registry& reg, const RegKey& key, Id id, Program program, Values& values) {
    const auto& s = setting(id);
    const auto name = s.name_for(program);
    switch (s.shape) {
        case Shape::Byte: {
            std::uint8_t v = 0;
            if (!read_byte(reg, key, name, v)) return false;
            values.set_num(id, v);
            return true;
        }
        case Shape::Number: {
            std::uint32_t v = 0;
            if (!read_number(reg, key, name, v)) return false;
            values.set_num(id, v);
            return true;
        }
        case Shape::Text: {
            std::u16string v;
            if (!read_text(reg, key, name, s.size, v)) {
                if (s.flags & kMissingEmpty) values.set_text(id, u"");
                return false;
            }
            values.set_text(id, v);
            return true;
        }
        case Shape::Blob: {
            std::array<std::byte, 8> v{};
            if (!read_blob(reg, key, name, std::span(v).first(s.size))) return false;
            values.set_blob(id, std::span(v).first(s.size));
            return true;
        }
    }
    return false;
}

bool write(Registry& reg, const RegKey& key, Id id, Program program, const Values& values) {
    const auto& s = setting(id);
    const auto name = s.name_for(program);
    switch (s.shape) {
        case Shape::Byte:
            return write_byte(reg, key, name, static_cast<std::uint8_t>(values.num(id)));
        case Shape::Number:
            return write_number(reg, key, name, values.num(id));
        case Shape::Text:
            return write_text(reg, key, name, values.text(id));
        case Shape::Blob: {
            auto b = values.blob(id);
            return !b.empty() && write_blob(reg, key, name, b);
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------

void write_defaults(Registry& reg, const RegKey& key, const Values& defaults) {
    for (std::size_t i = 0; i < kCount; ++i)
        if (detail::kTable[i].flags & kFirstStart)
            write(reg, key, static_cast<Id>(i), Program::Service, defaults);
}

std::u16string exception_value_name(std::size_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "ExceptionEXE%02zu", n);
    return ascii(buf);
}
std::u16string s2v_file_value_name(std::size_t n) {
    return ascii(std::to_string(n) + "File");
}
std::u16string s2v_parameters_value_name(std::size_t n) {
    return ascii(std::to_string(n) + "Parameters");
}

namespace {
void create_if_missing(Registry& reg, const RegKey& key, std::u16string_view name,
                       std::u16string_view def) {
    // Any existing value fits the largest buffer, whatever its type, and is left alone.
    std::vector<std::byte> buf(platform::kMaxValueBytes);
    if (reg.read_value(key, name, buf)) return;
    write_text(reg, key, name, def);
}
}  // namespace

void create_missing_subkey_values(Registry& reg) {
    if (auto key = reg.create_key(Root::CurrentUser, protocol::kExceptionsKey)) {
        for (std::size_t n = 0; n < kExceptionCount; ++n)
            create_if_missing(reg, *key, exception_value_name(n),
                              n < kDefaultExceptions.size() ? kDefaultExceptions[n] : u"");
    }
    if (auto key = reg.create_key(Root::CurrentUser, protocol::kS2VExeKey)) {
        for (std::size_t n = 0; n < kS2VExeCount; ++n) {
            create_if_missing(reg, *key, s2v_file_value_name(n), u"");
            create_if_missing(reg, *key, s2v_parameters_value_name(n), u"");
        }
    }
}

void load_service(Registry& reg, const RegKey& key, Values& values, const ServiceFacts& facts) {
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        const auto id = static_cast<Id>(i);
        if (!reads(s, Program::Service) || s.table == 6) continue;
        const bool ok = read(reg, key, id, Program::Service, values);
        // Repair covers the options the first start writes, so that a later start writes
        // nothing on an intact key.
        if (!ok && s.is_option() && (s.flags & kFirstStart)) {
            values.set_num(id, id == Id::VibrationLED ? values.num(id) : s.def);
            write(reg, key, id, Program::Service, values);
        }
    }
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        const auto id = static_cast<Id>(i);
        if (s.service_floor && values.num(id) < s.service_floor)
            values.set_num(id, s.service_floor);
        if ((s.flags & kServiceCeiling) && values.num(id) > s.max) values.set_num(id, s.max);
    }
    if (values.num(Id::CallerID) == 0) values.set_num(Id::DialedID, 0);
    if (values.num(Id::VolumeControl) == 0) values.set_num(Id::NoKeyBoardHook, 1);
    if (!facts.music_player_installed) {
        values.set_num(Id::HPstartZorp, 0);
        values.set_num(Id::HPcloseZorp, 0);
    }
    if (facts.os_major_version < 5) {
        values.set_num(Id::IdleStart, 0);
        values.set_num(Id::ACIdleStart, 0);
    }
    if (values.num(Id::LockNotification) == 0) {
        values.set_num(Id::ShowSMSPreview, 0);
        values.set_num(Id::ShowMMSPreview, 0);
        values.set_num(Id::ShowEmailPreview, 0);
    }
}

namespace {
bool is_digit_password(std::span<const std::byte> b) {
    return b.size() == 4 && std::all_of(b.begin(), b.end(), [](std::byte c) {
               auto v = std::to_integer<unsigned>(c);
               return v >= '0' && v <= '9';
           });
}
}  // namespace

bool load_program(Registry& reg, Program program, Values& values) {
    auto root = open_root(reg);
    if (!root) {
        for (Id id : kSaveTexts) {
            const auto& s = setting(id);
            values.set_text(id, (s.flags & kMissingEmpty) ? u"" : s.def_text);
        }
        return false;
    }
    const auto& key = root->key;
    // Step 2: the options, clamped while reading.
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        const auto id = static_cast<Id>(i);
        if (!s.is_option() || s.table == 6 || !reads(s, program)) continue;
        if (!read(reg, key, id, program, values)) continue;
        if (values.num(id) > s.max && s.over != Over::Keep)
            values.set_num(id, s.over == Over::Clamp ? s.max : 0);
    }
    // Step 3.
    if (values.num(Id::LockNotification) == 0) {
        for (Id id : {Id::ShowEmailPreview, Id::ShowSMSPreview, Id::ShowMMSPreview,
                      Id::AutoMarkReadSMS, Id::AutoMarkReadEmail, Id::Slide2Dismiss})
            values.set_num(id, 0);
    }
    // Step 4: 1 to 4 seconds is shorter than the page can offer.
    for (Id id : {Id::OffLCD, Id::ACOffLCD})
        if (values.num(id) >= 1 && values.num(id) <= 4) values.set_num(id, 5);
    // Step 5: the texts; a missing format or clock folder gets its default again.
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        const auto id = static_cast<Id>(i);
        if (s.shape != Shape::Text || s.table != 4 || !reads(s, program)) continue;
        if (!read(reg, key, id, program, values) && !s.choices.empty() &&
            !(s.flags & kMissingEmpty))
            values.set_text(id, s.def_text);
    }
    // Step 6: the password counts only when it is four digits.
    if (values.num(Id::PasswordLock) != 0) {
        if (!read(reg, key, Id::SavedPassword, program, values) ||
            !is_digit_password(values.blob(Id::SavedPassword)))
            values.set_num(Id::PasswordLock, 0);
    }
    if (values.num(Id::PasswordLock) == 0) {
        const std::byte zeros[4] = {};
        values.set_blob(Id::SavedPassword, zeros);
    }
    // Step 7.
    if (reads(setting(Id::SleepTimer), program)) read(reg, key, Id::SleepTimer, program, values);
    // Step 8: without soft keys the slider is the only way, so the pad unlocks instead.
    if (values.num(Id::NoSoftKey) != 0) {
        values.set_num(Id::DpadOn, 1);
        values.set_num(Id::Slide2Answer, 0);
        values.set_num(Id::Slide2End, 0);
    }
    return true;
}

bool load_browser(Registry& reg, Values& values) {
    auto root = open_root(reg);
    if (!root) return false;
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        if (reads(s, Program::Browser) && s.table <= 4)
            read(reg, root->key, static_cast<Id>(i), Program::Browser, values);
    }
    return true;
}

bool save(Registry& reg, const Values& values) {
    auto root = open_root(reg);
    if (!root) return false;
    const auto& key = root->key;
    for (Id id : kSaveTexts) write(reg, key, id, Program::Settings, values);
    if (values.num(Id::PasswordLock) != 0 && is_digit_password(values.blob(Id::SavedPassword)))
        write(reg, key, Id::SavedPassword, Program::Settings, values);
    for (Id id : kSaveOptions) write(reg, key, id, Program::Settings, values);
    reg.flush(key);
    return true;
}

void reset_to_defaults(Registry& reg, Values& values, std::uint8_t vibration_led) {
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto& s = detail::kTable[i];
        const auto id = static_cast<Id>(i);
        if (s.is_option() && s.table <= 3 && id != Id::PasswordLock && id != Id::PasswordTime)
            values.set_num(id, s.def);
    }
    values.set_num(Id::VibrationLED, vibration_led);
    for (Id id : kSaveTexts) values.set_text(id, setting(id).choices.front());
    values.set_text(Id::Clock2Path, kClockPathChoices[1]);
    auto root = open_root(reg);
    for (Id id : {Id::LockSound, Id::UnlockSound, Id::UnlockRunEXE}) {
        values.set_text(id, u"");
        if (root) write(reg, root->key, id, Program::Settings, values);
    }
}

// ---------------------------------------------------------------------------------------------

std::size_t password_time_index(std::uint32_t seconds) {
    std::size_t index = 0;
    for (std::size_t i = 1; i < kPasswordTimes.size(); ++i)
        if (seconds >= kPasswordTimes[i]) index = i;
    return index;
}

std::uint32_t password_time_seconds(std::size_t index) {
    return kPasswordTimes[std::min(index, kPasswordTimes.size() - 1)];
}

std::size_t choice_index(Id id, std::u16string_view text) {
    const auto choices = setting(id).choices;
    if (choices.empty()) return 0;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i] == text) return i;
    return choices.size() - 1;
}

}  // namespace lumo::catalogue
