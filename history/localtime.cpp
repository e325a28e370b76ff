#include "localtime.h"

#include <cstdio>
#include <cstdlib>

namespace lumo::history {

// Days since 1970-01-01 of a date (month 1..12, any day, carried), and
// back: the proleptic Gregorian calendar.
long daysOf(int year, int month, int day)
{
    const int y = year - (month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long>(era) * 146097 + doe - 719468;
}

namespace {

void setDate(LocalTime& local, long days)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    local.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    local.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    local.year = static_cast<int>(yoe + era * 400 + (local.month <= 2));
}

}  // namespace

LocalTime normalised(LocalTime local)
{
    const auto carry = [](int& value, int& next, int base) {
        const int over = value >= 0 ? value / base : -((base - 1 - value) / base);
        value -= over * base;
        next += over;
    };
    int days = 0;
    carry(local.minute, local.hour, 60);
    carry(local.hour, days, 24);
    int month0 = local.month - 1;
    carry(month0, local.year, 12);
    setDate(local, daysOf(local.year, month0 + 1, 1) + local.day - 1 + days);
    return local;
}

std::string dayText(const LocalTime& t)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

std::string clockText(const LocalTime& t)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", t.hour, t.minute);
    return text;
}

std::string isoText(const LocalTime& t)
{
    const int offset = std::abs(t.offsetSeconds) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%sT%s:%02d%c%02d:%02d", dayText(t).c_str(), clockText(t).c_str(), t.second,
                  t.offsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

}  // namespace lumo::history
