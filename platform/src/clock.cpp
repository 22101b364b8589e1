#include "lumo/platform/clock.h"

#include <chrono>

namespace lumo::platform {
namespace {

using namespace std::chrono;
// 1601-01-01 to 1970-01-01 in 100 ns units.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

LocalTime file_time_to_local(std::uint64_t file_time) {
    auto since_unix = std::int64_t(file_time) - std::int64_t(kUnixEpochAsFileTime);
    // Floor, not truncation: times before 1970 must not round up into the next millisecond.
    auto ms = since_unix >= 0 ? since_unix / 10000 : -((-since_unix + 9999) / 10000);
    sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(ms)));
    year_month_day ymd(day);
    auto in_day = milliseconds(ms) - day.time_since_epoch();
    hh_mm_ss hms(duration_cast<milliseconds>(in_day));
    LocalTime t;
    t.year = std::uint16_t(int(ymd.year()));
    t.month = std::uint16_t(unsigned(ymd.month()));
    t.day = std::uint16_t(unsigned(ymd.day()));
    t.day_of_week = std::uint16_t(weekday(day).c_encoding());
    t.hour = std::uint16_t(hms.hours().count());
    t.minute = std::uint16_t(hms.minutes().count());
    t.second = std::uint16_t(hms.seconds().count());
    t.milliseconds = std::uint16_t(hms.subseconds().count());
    return t;
}

std::uint64_t local_to_file_time(const LocalTime& t) {
    sys_days day = year_month_day(year(t.year), month(t.month), std::chrono::day(t.day));
    auto ms = duration_cast<milliseconds>(day.time_since_epoch()).count() +
              ((t.hour * 60 + t.minute) * 60 + t.second) * 1000ll + t.milliseconds;
    return std::uint64_t(ms) * 10000 + kUnixEpochAsFileTime;
}

}  // namespace lumo::platform
