#include "localclock.h"

#include <ctime>

namespace lumo {

history::LocalTime localTimeOf(std::int64_t utcMs)
{
    const std::int64_t seconds = utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000;
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&time, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(utcMs - seconds * 1000), static_cast<int>(local.tm_gmtoff)};
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
    const std::time_t time = std::mktime(&local);
    if (time == static_cast<std::time_t>(-1) || local.tm_mday != day || local.tm_mon != month - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(time) * 1000;
}

}  // namespace lumo
