#include "lumo/platform/fake/fake_notify.h"

#include "lumo/platform/clock.h"
#include "lumo/platform/sync.h"
#include "lumo/store/shell_notifications.h"

namespace lumo::platform::fake {

NotificationHandle FakeNotify::set_user_notification(const UserNotification& n) {
    std::lock_guard lock(mutex_);
    if (refuse) return 0;
    store_[next_] = n;
    return next_++;
}

std::optional<std::vector<NotificationHandle>> FakeNotify::user_notification_handles() {
    std::lock_guard lock(mutex_);
    std::vector<NotificationHandle> out;
    for (const auto& [h, n] : store_) out.push_back(h);
    return out;
}

std::optional<UserNotification> FakeNotify::user_notification(NotificationHandle h) {
    std::lock_guard lock(mutex_);
    auto it = store_.find(h);
    if (it == store_.end()) return std::nullopt;
    return it->second;
}

bool FakeNotify::clear_user_notification(NotificationHandle h) {
    std::lock_guard lock(mutex_);
    return store_.erase(h) == 1;
}

std::optional<std::uint32_t> FakeNotify::led_count() {
    std::lock_guard lock(mutex_);
    return leds_;
}

bool FakeNotify::set_led(std::uint32_t index, bool on) {
    const auto now = clock_.local_file_time();
    std::lock_guard lock(mutex_);
    if (!leds_ || index >= *leds_) return false;
    switches_.push_back({index, on, now});
    return true;
}

std::size_t FakeNotify::fire_due() {
    std::vector<std::u16string> events;
    {
        const auto now = clock_.local_file_time();
        std::lock_guard lock(mutex_);
        for (auto it = store_.begin(); it != store_.end();) {
            if (local_to_file_time(it->second.start) > now) {
                ++it;
                continue;
            }
            const auto& app = it->second.application;
            if (app.starts_with(kNamedEventPrefix))
                events.push_back(app.substr(kNamedEventPrefix.size()));
            it = store_.erase(it);
        }
    }
    for (const auto& name : events) {
        if (auto h = sync_.create_event(name, true, false)) {
            sync_.set_event(h);
            sync_.close(h);
        }
    }
    return events.size();
}

void FakeNotify::set_led_count(std::optional<std::uint32_t> n) {
    std::lock_guard lock(mutex_);
    leds_ = n;
}

std::vector<LedSwitch> FakeNotify::led_switches() const {
    std::lock_guard lock(mutex_);
    return switches_;
}

bool FakeNotify::remove_shell_notification(std::u16string_view class_id, std::uint32_t number) {
    std::lock_guard lock(mutex_);
    std::unique_lock<std::recursive_mutex> reg_lock;
    if (registry_guard_) reg_lock = std::unique_lock(*registry_guard_);
    bool found = registry_ && store::remove_shell_notification(*registry_, class_id, number);
    shell_requests_.push_back({std::u16string(class_id), number, false, found});
    return found;
}

bool FakeNotify::show_shell_notification(std::u16string_view class_id, std::uint32_t number) {
    std::lock_guard lock(mutex_);
    std::unique_lock<std::recursive_mutex> reg_lock;
    if (registry_guard_) reg_lock = std::unique_lock(*registry_guard_);
    bool found = registry_ && store::shell_notification_exists(*registry_, class_id, number);
    shell_requests_.push_back({std::u16string(class_id), number, true, found});
    return found;
}

std::uint32_t FakeNotify::add_shell_notification(std::u16string_view class_id) {
    std::lock_guard lock(mutex_);
    std::unique_lock<std::recursive_mutex> reg_lock;
    if (registry_guard_) reg_lock = std::unique_lock(*registry_guard_);
    return registry_ ? store::add_shell_notification(*registry_, class_id) : 0;
}

std::vector<ShellNotificationRequest> FakeNotify::shell_requests() const {
    std::lock_guard lock(mutex_);
    return shell_requests_;
}

}  // namespace lumo::platform::fake
