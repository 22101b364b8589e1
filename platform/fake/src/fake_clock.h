#pragma once
// The fake's clocks, both running on the manual clock: the tick count (shifted by a settable boot
// age) and the local time (settable).
#include <mutex>

#include "lumo/platform/fake/fake_platform.h"

namespace lumo::platform::fake {

class FakePlatform::FakeClock final : public Clock {
public:
    explicit FakeClock(FakePlatform& p);

    std::uint32_t tick_count() override;
    std::uint64_t local_file_time() override;
    LocalTime local_time() override;

    void set_boot_age(std::uint64_t ms);
    void set_local_time(const LocalTime& t);

private:
    FakePlatform& p_;
    std::mutex mutex_;
    std::int64_t tick_shift_ = 0;  // tick count = manual clock + shift
    std::uint64_t time_base_ = 0;  // local file time when the manual clock read `time_base_ms_`
    std::uint64_t time_base_ms_ = 0;
};

}  // namespace lumo::platform::fake
