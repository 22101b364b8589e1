#pragma once
// The phone's user notifications and notification LEDs. A user notification of the time kind
// signals a named event at a local time, also from a suspended phone, which it wakes: its
// application string names the event as "\\.\Notifications\NamedEvents\NAME". The LEDs are
// numbered from 0; on phones with a vibrator the last one drives it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/clock.h"

namespace lumo::platform {

using NotificationHandle = std::uint32_t;  // 0 is "none"

inline constexpr std::u16string_view kNamedEventPrefix = u"\\\\.\\Notifications\\NamedEvents\\";

struct UserNotification {
    std::u16string application;  // the named event to signal
    LocalTime start;             // when, in local time
};

class Notify {
  public:
    virtual ~Notify() = default;
    // Sets a time notification; its handle, or 0 when the phone refused it.
    virtual NotificationHandle set_user_notification(const UserNotification& n) = 0;
    // Every notification set and not yet cleared; nullopt when the store cannot be read.
    virtual std::optional<std::vector<NotificationHandle>> user_notification_handles() = 0;
    virtual std::optional<UserNotification> user_notification(NotificationHandle h) = 0;
    virtual bool clear_user_notification(NotificationHandle h) = 0;

    // The number of notification LEDs; nullopt when the phone cannot tell.
    virtual std::optional<std::uint32_t> led_count() = 0;
    // Switches an LED (or the vibrator behind it) on or off; false for a missing LED.
    virtual bool set_led(std::uint32_t index, bool on) = 0;

    // The shell's own notifications (the bubbles of new messages, reminders, ...): the shell
    // publishes each as a value named by its decimal number under HKEY_LOCAL_MACHINE
    // "System\State\Shell\Notifications\{class}". Removes one; false when there is none.
    virtual bool remove_shell_notification(std::u16string_view class_id, std::uint32_t number) = 0;
    // Shows one again (the reminder a lock kept from popping up); false when there is none.
    virtual bool show_shell_notification(std::u16string_view class_id, std::uint32_t number) = 0;
};

}  // namespace lumo::platform
