#include "lumo/platform/fake/fake_power.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace lumo::platform::fake {

// The queues live in a block shared with their handles, so a queue closed after the platform
// is gone still finds something to unregister from. The power thread reads while the test
// announces: one lock guards it all.
struct FakePower::Shared {
    struct Entry {
        std::uint32_t mask;
        std::deque<std::vector<std::byte>> records;
    };
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::shared_ptr<Entry>> entries;
    std::vector<std::uint32_t> system_states, video_states;
    int unattended = 0;
    int idle_resets = 0;
    PowerInfo status;
};

class FakePower::Queue final : public PowerQueue {
public:
    Queue(std::shared_ptr<Shared> shared, std::shared_ptr<Shared::Entry> entry)
        : shared_(std::move(shared)), entry_(std::move(entry)) {}
    ~Queue() override {
        std::lock_guard lock(shared_->mutex);
        std::erase(shared_->entries, entry_);
    }
    std::optional<std::vector<std::byte>> read(std::uint32_t timeout_ms) override {
        // Waits in real time: a reader on another thread must not spin while the test thinks.
        std::unique_lock lock(shared_->mutex);
        if (!shared_->arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [&] { return !entry_->records.empty(); }))
            return std::nullopt;
        auto r = std::move(entry_->records.front());
        entry_->records.pop_front();
        return r;
    }

private:
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<Shared::Entry> entry_;
};

FakePower::FakePower() : shared_(std::make_shared<Shared>()) {}
FakePower::~FakePower() = default;

std::unique_ptr<PowerQueue> FakePower::request_notifications(std::uint32_t mask) {
    if (refuse_requests || mask == 0) return nullptr;
    auto entry = std::make_shared<Shared::Entry>(Shared::Entry{mask, {}});
    std::lock_guard lock(shared_->mutex);
    shared_->entries.push_back(entry);
    return std::make_unique<Queue>(shared_, entry);
}

void FakePower::transition(std::uint32_t flags, std::u16string_view state_name) {
    deliver(kPowerTransition, encode_power_transition(flags, state_name));
}

void FakePower::power_info(const PowerInfo& info) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->status = info;
    }
    deliver(kPowerInfoChange, encode_power_info(info));
}

PowerInfo FakePower::status() {
    std::lock_guard lock(shared_->mutex);
    return shared_->status;
}

bool FakePower::set_system_power_state(std::uint32_t flags) {
    if (flags != kPowerStateOn && flags != kPowerStateIdle) return false;
    std::lock_guard lock(shared_->mutex);
    shared_->system_states.push_back(flags);
    return true;
}

bool FakePower::set_unattended(bool on) {
    std::lock_guard lock(shared_->mutex);
    if (!on && shared_->unattended == 0) return false;
    shared_->unattended += on ? 1 : -1;
    return true;
}

bool FakePower::set_video_power(std::uint32_t state) {
    if (!video_escape || (state != kVideoPowerOn && state != kVideoPowerOff)) return false;
    std::lock_guard lock(shared_->mutex);
    shared_->video_states.push_back(state);
    return true;
}

bool FakePower::reset_idle_timer() {
    std::lock_guard lock(shared_->mutex);
    ++shared_->idle_resets;
    return true;
}

int FakePower::idle_timer_resets() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->idle_resets;
}

std::vector<std::uint32_t> FakePower::system_states() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->system_states;
}

std::vector<std::uint32_t> FakePower::video_states() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->video_states;
}

int FakePower::unattended_held() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->unattended;
}

std::size_t FakePower::open_queues() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->entries.size();
}

void FakePower::button_held() { deliver(kPowerButtonHeld, encode_power_button_held()); }

void FakePower::deliver(std::uint32_t kind, const std::vector<std::byte>& record) {
    std::lock_guard lock(shared_->mutex);
    for (auto& e : shared_->entries)
        if (e->mask & kind) e->records.push_back(record);
    shared_->arrived.notify_all();
}

}  // namespace lumo::platform::fake
