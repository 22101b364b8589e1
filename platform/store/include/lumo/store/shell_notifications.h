#pragma once
// The shell's notifications (the bubbles of new messages and reminders) as the shell publishes
// them: one value per notification, named by its decimal number, under HKEY_LOCAL_MACHINE
// "System\State\Shell\Notifications\{class}". The host's shell and the fake keep them alike.
#include <cstdint>
#include <string>
#include <string_view>

#include "lumo/store/registry_store.h"

namespace lumo::store {

inline constexpr std::u16string_view kShellNotificationsKey = u"System\\State\\Shell\\Notifications";
inline constexpr std::u16string_view kSmsNotificationClass = u"{A877D65B-239C-47a7-9304-0D347F580408}";
inline constexpr std::u16string_view kMmsNotificationClass = u"{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}";
inline constexpr std::u16string_view kEmailNotificationClass = u"{A877D65A-239C-47a7-9304-0D347F580408}";
inline constexpr std::u16string_view kReminderNotificationClass = u"{15F11F90-8A5F-454C-89FC-BA9B7AAB0CAD}";

// Publishes a new notification of the class; its number (from 1, above every published one),
// or 0 when the registry refused it. A class is a braced GUID; anything else is refused.
std::uint32_t add_shell_notification(RegistryStore& reg, std::u16string_view class_id);
// Removes a published notification; false when there is none of that class and number.
bool remove_shell_notification(RegistryStore& reg, std::u16string_view class_id, std::uint32_t number);
bool shell_notification_exists(const RegistryStore& reg, std::u16string_view class_id, std::uint32_t number);
// Removes every notification of the class; how many went.
std::size_t clear_shell_notifications(RegistryStore& reg, std::u16string_view class_id);

}  // namespace lumo::store
