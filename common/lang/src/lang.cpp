#include "lumo/lang/lang.h"

#include <algorithm>

#include "lumo/platform/files.h"

namespace lumo::lang {

namespace {
std::u16string_view up_to_zero(std::u16string_view s) {
    auto z = s.find(u'\0');
    return z == std::u16string_view::npos ? s : s.substr(0, z);
}
}  // namespace

LangFile LangFile::open(const std::filesystem::path& folder, std::string* why) {
    // lang.ini is a small file: one that is not a plain file of sane size (a pipe, a directory, a
    // runaway) counts as unreadable and every text keeps its default.
    auto bytes = platform::read_file(folder / "lang.ini", platform::kMaxLangBytes, why);
    if (!bytes) return {};
    return from_bytes(*bytes);
}

LangFile LangFile::from_bytes(std::span<const unsigned char> bytes) {
    LangFile f;
    f.present_ = true;
    std::u16string part;
    // Lines end after their LF (which stays in the line); a longer line comes in parts of 259.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        part.push_back(c);
        if (c == u'\n' || part.size() == kLineBuffer - 1) {
            f.lines_.push_back(std::move(part));
            part.clear();
        }
    }
    if (!part.empty()) f.lines_.push_back(std::move(part));
    return f;
}

std::u16string LangFile::lookup(std::u16string_view key, std::u16string_view default_text,
                                std::size_t max_len) const {
    const std::size_t limit = max_len == 0 ? 0 : max_len - 1;
    auto fallback = [&] { return std::u16string(up_to_zero(default_text).substr(0, limit)); };
    // A fixed text has no key; an empty key would match every line.
    if (!present_ || key.empty()) return fallback();
    for (const auto& line : lines_) {
        const auto visible = up_to_zero(line);
        const auto at = visible.find(key);
        if (at == std::u16string_view::npos) continue;
        std::u16string out;
        for (std::size_t i = at + key.size(); i < visible.size() && out.size() < limit; ++i) {
            if (visible[i] == u'\r') break;
            out.push_back(visible[i]);
        }
        return out;
    }
    return fallback();
}

Conditions conditions_from(const catalogue::Values& v, bool ringer_toggle) {
    using catalogue::Id;
    Conditions c;
    c.password_lock = v.num(Id::PasswordLock) != 0;
    c.slider_centre = v.num(Id::SliderPosition) != 0;
    c.caller_id = v.num(Id::CallerID) != 0;
    c.busy_sms = c.caller_id && v.num(Id::SendBusySMS) != 0;
    c.volume_control = v.num(Id::VolumeControl) != 0;
    c.ringer_toggle = ringer_toggle;
    return c;
}

bool applies(Condition c, const Conditions& k) {
    switch (c) {
        case Condition::Always:
            return true;
        case Condition::PasswordLock:
            return k.password_lock;
        case Condition::SliderCentre:
            return k.slider_centre;
        case Condition::SliderLeft:
            return !k.slider_centre;
        case Condition::CallerId:
            return k.caller_id;
        case Condition::BusySms:
            return k.busy_sms;
        case Condition::VolumeControl:
            return k.volume_control;
        case Condition::RingerToggle:
            return k.ringer_toggle;
    }
    return false;
}

Texts::Texts(std::span<const Key> keys, std::vector<std::u16string> texts, std::vector<bool> loaded)
    : keys_(keys), texts_(std::move(texts)), loaded_(std::move(loaded)) {}

const std::u16string& Texts::get(std::u16string_view key) const {
    static const std::u16string empty;
    for (std::size_t i = 0; i < keys_.size() && i < texts_.size(); ++i)
        if (!key.empty() && keys_[i].key == key) return texts_[i];
    return empty;
}

bool Texts::loaded(std::u16string_view key) const {
    for (std::size_t i = 0; i < keys_.size() && i < loaded_.size(); ++i)
        if (!key.empty() && keys_[i].key == key) return loaded_[i];
    return false;
}

Texts load(const LangFile& file, std::span<const Key> keys, const Conditions& conditions) {
    std::vector<std::u16string> texts(keys.size());
    std::vector<bool> loaded(keys.size(), false);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!applies(keys[i].condition, conditions)) continue;
        texts[i] = file.lookup(keys[i].key, keys[i].default_text, keys[i].max_len);
        loaded[i] = true;
    }
    return Texts(keys, std::move(texts), std::move(loaded));
}

}  // namespace lumo::lang
