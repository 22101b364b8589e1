#pragma once
// Power notifications for tests: the test announces transitions and power-information changes,
// and every queue that asked for that kind holds the record until it is read. Reads never wait
// (the fake's time only moves when the test moves it).
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

    void transition(std::uint32_t flags, std::u16string_view state_name);
    void power_info(const PowerInfo& info);
    // While set, requests fail as when the platform has no message queues.
    bool refuse_requests = false;
    // Queues open now.
    std::size_t open_queues() const;

private:
    struct Shared;
    class Queue;
    void deliver(std::uint32_t kind, const std::vector<std::byte>& record);
    std::shared_ptr<Shared> shared_;
};

}  // namespace lumo::platform::fake
