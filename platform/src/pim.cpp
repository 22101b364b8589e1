#include "lumo/platform/pim.h"

#include <cmath>

namespace lumo::platform {

namespace {

constexpr double kFileTicksPerDay = 864000000000.0;
constexpr double kDaysFrom1601To1899 = 109205.0;  // 1601-01-01 to 1899-12-30

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kVariantEpochFrom1970 = -25569;  // 1899-12-30

}  // namespace

double variant_from_file_time(std::uint64_t file_time) {
    return double(file_time) / kFileTicksPerDay - kDaysFrom1601To1899;
}

std::uint64_t file_time_from_variant(double date) {
    double ticks = (date + kDaysFrom1601To1899) * kFileTicksPerDay;
    if (!(ticks > 0)) return 0;
    // Whole milliseconds: the fraction of a day is not exact in binary.
    return std::uint64_t(std::llround(ticks / 10000.0)) * 10000u;
}

double variant_from_local(const LocalTime& t) {
    double day = double(days_from_civil(t.year, t.month, t.day) - kVariantEpochFrom1970);
    return day + (t.hour * 3600.0 + t.minute * 60.0 + t.second + t.milliseconds / 1000.0) / 86400.0;
}

LocalTime local_from_variant(double date) {
    return file_time_to_local(file_time_from_variant(date));
}

}  // namespace lumo::platform
