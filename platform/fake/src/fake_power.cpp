#include "lumo/platform/fake/fake_power.h"

#include <algorithm>

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
    std::vector<std::shared_ptr<Entry>> entries;
};

class FakePower::Queue final : public PowerQueue {
public:
    Queue(std::shared_ptr<Shared> shared, std::shared_ptr<Shared::Entry> entry)
        : shared_(std::move(shared)), entry_(std::move(entry)) {}
    ~Queue() override {
        std::lock_guard lock(shared_->mutex);
        std::erase(shared_->entries, entry_);
    }
    std::optional<std::vector<std::byte>> read(std::uint32_t) override {
        std::lock_guard lock(shared_->mutex);
        if (entry_->records.empty()) return std::nullopt;
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

void FakePower::power_info(const PowerInfo& info) { deliver(kPowerInfoChange, encode_power_info(info)); }

std::size_t FakePower::open_queues() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->entries.size();
}

void FakePower::deliver(std::uint32_t kind, const std::vector<std::byte>& record) {
    std::lock_guard lock(shared_->mutex);
    for (auto& e : shared_->entries)
        if (e->mask & kind) e->records.push_back(record);
}

}  // namespace lumo::platform::fake
