#include "lumo/store/shell_notifications.h"

#include <algorithm>
#include <vector>

namespace lumo::store {
namespace {

using platform::Root;
using platform::ValueType;

// Only a braced GUID names a class: a class can never climb to another key.
bool valid_class(std::u16string_view id) {
    if (id.size() != 38 || id.front() != u'{' || id.back() != u'}') return false;
    for (std::size_t i = 1; i + 1 < id.size(); ++i) {
        char16_t ch = id[i];
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? ch != u'-' : !((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F')))
            return false;
    }
    return true;
}

std::u16string key_of(std::u16string_view class_id) {
    return std::u16string(kShellNotificationsKey) + u"\\" + std::u16string(class_id);
}

std::u16string name_of(std::uint32_t number) {
    std::u16string out;
    for (char ch : std::to_string(number)) out.push_back(char16_t(ch));
    return out;
}

std::uint32_t number_of(std::u16string_view name) {
    if (name.empty() || name.size() > 9) return 0;
    std::uint32_t n = 0;
    for (char16_t ch : name) {
        if (ch < u'0' || ch > u'9') return 0;
        n = n * 10 + std::uint32_t(ch - u'0');
    }
    return n;
}

}  // namespace

std::uint32_t add_shell_notification(RegistryStore& reg, std::u16string_view class_id) {
    if (!valid_class(class_id)) return 0;
    // Numbers run on across every class, as the shell hands them out.
    std::uint32_t highest = 0;
    for (std::uint32_t k = 0;; ++k) {
        auto sub = reg.enum_subkey(Root::LocalMachine, kShellNotificationsKey, k);
        if (!sub) break;
        for (std::uint32_t i = 0;; ++i) {
            auto v = reg.enum_value(Root::LocalMachine, key_of(*sub), i);
            if (!v) break;
            highest = std::max(highest, number_of(v->first));
        }
    }
    const std::uint32_t number = highest + 1;
    auto key = key_of(class_id);
    if (!reg.create_key(Root::LocalMachine, key)) return 0;
    const std::uint32_t flags = 0;
    if (!reg.write_value(Root::LocalMachine, key, name_of(number), ValueType::Dword, std::as_bytes(std::span(&flags, 1))))
        return 0;
    return number;
}

bool shell_notification_exists(const RegistryStore& reg, std::u16string_view class_id, std::uint32_t number) {
    return number != 0 && valid_class(class_id) &&
           reg.find_value(Root::LocalMachine, key_of(class_id), name_of(number)).has_value();
}

bool remove_shell_notification(RegistryStore& reg, std::u16string_view class_id, std::uint32_t number) {
    if (!shell_notification_exists(reg, class_id, number)) return false;
    return reg.delete_value(Root::LocalMachine, key_of(class_id), name_of(number));
}

std::size_t clear_shell_notifications(RegistryStore& reg, std::u16string_view class_id) {
    if (!valid_class(class_id)) return 0;
    std::vector<std::u16string> names;
    for (std::uint32_t i = 0;; ++i) {
        auto v = reg.enum_value(Root::LocalMachine, key_of(class_id), i);
        if (!v) break;
        names.push_back(v->first);
    }
    std::size_t n = 0;
    for (auto& name : names) n += reg.delete_value(Root::LocalMachine, key_of(class_id), name);
    return n;
}

}  // namespace lumo::store
