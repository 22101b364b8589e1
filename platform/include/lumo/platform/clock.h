#pragma once
// The device's clocks: the tick count since boot and the local wall-clock time, both of which
// the device can move (a test may say the phone booted a minute ago, or set the date).
#include <cstdint>

namespace lumo::platform {

// A broken-down local time, as the phone's SYSTEMTIME.
struct LocalTime {
    std::uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
    std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
    friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the device booted (wraps after 49.7 days, as the phone's does).
    virtual std::uint32_t tick_count() = 0;
    // Local time as a file time: 100 ns units since 1601-01-01.
    virtual std::uint64_t local_file_time() = 0;
    virtual LocalTime local_time() = 0;
};

LocalTime file_time_to_local(std::uint64_t file_time);
std::uint64_t local_to_file_time(const LocalTime& t);

}  // namespace lumo::platform
