#pragma once
// User notifications and LEDs for tests: the store lives in the fake; fire_due() signals the
// named events of the notifications whose time has come on the device's local clock, as the
// phone's notification service does at that time.
#include <map>
#include <mutex>
#include <vector>

#include "lumo/platform/notify.h"

namespace lumo::platform {
class Sync;
class Clock;
}  // namespace lumo::platform

namespace lumo::store {
class RegistryStore;
}

namespace lumo::platform::fake {

// What a program asked of the shell's notifications.
struct ShellNotificationRequest {
    std::u16string class_id;
    std::uint32_t number = 0;
    bool show = false;  // shown again, else removed
    bool found = false;
};

struct LedSwitch {
    std::uint32_t index = 0;
    bool on = false;
    std::uint64_t at_file_time = 0;
};

class FakeNotify final : public Notify {
  public:
    FakeNotify(Sync& sync, Clock& clock) : sync_(sync), clock_(clock) {}
    NotificationHandle set_user_notification(const UserNotification& n) override;
    std::optional<std::vector<NotificationHandle>> user_notification_handles() override;
    std::optional<UserNotification> user_notification(NotificationHandle h) override;
    bool clear_user_notification(NotificationHandle h) override;
    std::optional<std::uint32_t> led_count() override;
    bool set_led(std::uint32_t index, bool on) override;
    bool remove_shell_notification(std::u16string_view class_id, std::uint32_t number) override;
    bool show_shell_notification(std::u16string_view class_id, std::uint32_t number) override;

    // Signals every due notification's event and removes it; how many fired.
    std::size_t fire_due();
    // The phone's LEDs (default: it cannot tell, as a phone without the LED driver).
    void set_led_count(std::optional<std::uint32_t> n);
    std::vector<LedSwitch> led_switches() const;
    // The registry the shell publishes its notifications in (the fake's own).
    // `guard` is the lock the fake's registry is used under.
    void attach_registry(store::RegistryStore* reg, std::recursive_mutex* guard) {
        registry_ = reg;
        registry_guard_ = guard;
    }
    // Publishes a shell notification as the shell does for a new message or reminder; its number.
    std::uint32_t add_shell_notification(std::u16string_view class_id);
    std::vector<ShellNotificationRequest> shell_requests() const;
    // While set, new notifications are refused.
    bool refuse = false;

  private:
    Sync& sync_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::map<NotificationHandle, UserNotification> store_;
    NotificationHandle next_ = 1;
    std::optional<std::uint32_t> leds_;
    std::vector<LedSwitch> switches_;
    store::RegistryStore* registry_ = nullptr;
    std::recursive_mutex* registry_guard_ = nullptr;
    std::vector<ShellNotificationRequest> shell_requests_;
};

}  // namespace lumo::platform::fake
