#pragma once
// A moment as the station's clock shows it: the local date and time and
// their offset from UTC. The conversion is the system's
// (platform/os/localclock.h); the texts are made here.

#include <cstdint>
#include <functional>
#include <string>

namespace lumo::history {

struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    int offsetSeconds = 0;  // east of UTC
};

using ToLocal = std::function<LocalTime(std::int64_t utcMs)>;

// Days since 1970-01-01 of a date (month 1..12; days past the month's end
// carry): the proleptic Gregorian calendar.
long daysOf(int year, int month, int day);
// Minutes past 59, hours past 23, months past 12 and days past the month's
// end carried into the next (and below their least, borrowed).
LocalTime normalised(LocalTime local);

// 2026-12-10T13:05:00+08:00 (seconds; an offset of zero is +00:00).
std::string isoText(const LocalTime& time);
// 2026-12-10
std::string dayText(const LocalTime& time);
// 13:05
std::string clockText(const LocalTime& time);

}  // namespace lumo::history
