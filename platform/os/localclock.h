#pragma once
// The station's own clock and calendar: a moment in local time with its
// offset from UTC, and a local date and time as a moment, as the operating
// system counts them (time zone, summer time); one side per system
// (localclock_posix.cpp, localclock_win.cpp).

#include "localtime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lumo {

history::LocalTime localTimeOf(std::int64_t utcMs);
// Nothing for a date or time that does not exist here.
std::optional<std::int64_t> utcOfLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
inline std::optional<std::int64_t> utcOfLocal(const history::LocalTime& local)
{
    return utcOfLocal(local.year, local.month, local.day, local.hour, local.minute, local.second);
}
std::int64_t utcNowMs();
// The local day of a moment, YYYY-MM-DD.
std::string localDayOf(std::int64_t utcMs);

}  // namespace lumo
