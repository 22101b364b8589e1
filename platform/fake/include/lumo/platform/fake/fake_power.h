#pragma once
// Power notifications for tests: the test announces transitions and power-information changes,
// and every queue that asked for that kind holds the record until it is read. A read waits up to
// its timeout in real time (the manual clock does not move meanwhile).
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "lumo/platform/power.h"

namespace lumo::platform::fake {

class FakePower final : public Power {
public:
    FakePower();
    ~FakePower() override;
    std::unique_ptr<PowerQueue> request_notifications(std::uint32_t mask) override;
    PowerInfo status() override;
    bool set_system_power_state(std::uint32_t flags) override;
    bool set_unattended(bool on) override;
    bool video_power_supported() override { return video_escape; }
    bool set_video_power(std::uint32_t state) override;
    bool reset_idle_timer() override;

    void transition(std::uint32_t flags, std::u16string_view state_name);
    // Announces a power-information change; status() reports it from then on.
    void power_info(const PowerInfo& info);
    // The power button held down.
    void button_held();
    // While set, requests fail as when the platform has no message queues.
    bool refuse_requests = false;
    // Queues open now.
    std::size_t open_queues() const;
    // Whether the display answers the video power escape (default: it does).
    bool video_escape = true;
    // What programs asked for, in order: system power states, and the video power states.
    std::vector<std::uint32_t> system_states() const;
    std::vector<std::uint32_t> video_states() const;
    // Unattended-mode requests held now.
    int unattended_held() const;
    // How often programs reset the idle timer.
    int idle_timer_resets() const;

private:
    struct Shared;
    class Queue;
    void deliver(std::uint32_t kind, const std::vector<std::byte>& record);
    std::shared_ptr<Shared> shared_;
};

}  // namespace lumo::platform::fake
