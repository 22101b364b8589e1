#include "fake_clock.h"

namespace lumo::platform::fake {
namespace {

// A fixed, ordinary weekday morning keeps tests that print the time repeatable.
constexpr LocalTime kStartTime{2010, 3, 1, 15, 9, 30, 0, 0};

}  // namespace

FakePlatform::FakeClock::FakeClock(FakePlatform& p) : p_(p) {
    time_base_ = local_to_file_time(kStartTime);
}

std::uint32_t FakePlatform::FakeClock::tick_count() {
    std::lock_guard lock(mutex_);
    // Wraps at 2^32 ms like the phone's.
    return std::uint32_t(std::int64_t(p_.now()) + tick_shift_);
}

std::uint64_t FakePlatform::FakeClock::local_file_time() {
    std::lock_guard lock(mutex_);
    return time_base_ + (p_.now() - time_base_ms_) * 10000;
}

LocalTime FakePlatform::FakeClock::local_time() { return file_time_to_local(local_file_time()); }

void FakePlatform::FakeClock::set_boot_age(std::uint64_t ms) {
    std::lock_guard lock(mutex_);
    tick_shift_ = std::int64_t(ms) - std::int64_t(p_.now());
}

void FakePlatform::FakeClock::set_local_time(const LocalTime& t) {
    std::lock_guard lock(mutex_);
    time_base_ = local_to_file_time(t);
    time_base_ms_ = p_.now();
}

}  // namespace lumo::platform::fake
