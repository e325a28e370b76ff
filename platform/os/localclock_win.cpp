#include "localclock.h"

#include <ctime>

namespace lumo {

history::LocalTime localTimeOf(std::int64_t utcMs)
{
    const std::int64_t seconds = utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000;
    const __time64_t time = seconds;
    std::tm local{};
    _localtime64_s(&local, &time);
    // The offset: the local fields read as if they were UTC, less the moment.
    std::tm asUtc = local;
    const std::int64_t offset = static_cast<std::int64_t>(_mkgmtime64(&asUtc)) - seconds;
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(utcMs - seconds * 1000), static_cast<int>(offset)};
}

std::optional<std::int64_t> utcOfLocal(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const __time64_t time = _mktime64(&local);
    if (time == -1 || local.tm_mday != day || local.tm_mon != month - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(time) * 1000;
}

}  // namespace lumo
