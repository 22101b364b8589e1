#pragma once
// The in-process, deterministic platform for unit tests: an in-memory registry with the same
// store and broker as the device host, a manual clock, and a recorded queue of posted messages.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "lumo/platform/platform.h"

namespace lumo::store {
class RegistryStore;
}

namespace lumo::platform::fake {

class FakePlatform final : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    Registry& registry() override;
    StateBroker& broker() override;
    MessageQueue& messages() override;

    // The manual clock, in milliseconds since the fake device booted.
    std::uint64_t now() const { return now_ms_; }
    // Moves the clock on and delivers whatever fell due meanwhile.
    void advance(std::uint64_t ms);

    // Every message posted so far and not yet taken, oldest first.
    const std::deque<Message>& posted() const { return posted_; }
    void clear_posted() { posted_.clear(); }

private:
    class FakeRegistry;
    class FakeBroker;
    class FakeMessages;
    friend class FakeRegistry;
    friend class FakeBroker;
    friend class FakeMessages;
    void deliver();  // moves the store's due deliveries to the posted queue

    std::mutex mutex_;  // worker threads of a program under test may touch the registry too
    std::uint64_t now_ms_ = 0;
    std::unique_ptr<store::RegistryStore> store_;
    std::deque<Message> posted_;
    std::unique_ptr<FakeRegistry> registry_;
    std::unique_ptr<FakeBroker> broker_;
    std::unique_ptr<FakeMessages> messages_;
};

}  // namespace lumo::platform::fake
