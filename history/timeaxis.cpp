#include "timeaxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumo::history {

namespace {

enum class Unit { Minute, Hour, Day, Month, Year };

struct Step {
    Unit unit;
    int count;
};

// From the finest to the coarsest.
constexpr Step kSteps[] = {
    {Unit::Minute, 1}, {Unit::Minute, 2}, {Unit::Minute, 5}, {Unit::Minute, 10}, {Unit::Minute, 15},
    {Unit::Minute, 30}, {Unit::Hour, 1},  {Unit::Hour, 2},   {Unit::Hour, 3},    {Unit::Hour, 6},
    {Unit::Hour, 12},  {Unit::Day, 1},    {Unit::Day, 2},    {Unit::Day, 7},     {Unit::Month, 1},
    {Unit::Month, 3},  {Unit::Month, 6},  {Unit::Year, 1},   {Unit::Year, 2},    {Unit::Year, 5},
    {Unit::Year, 10},
};

// About how long a step is, to pick one.
std::int64_t roughMs(Step step)
{
    constexpr std::int64_t minute = 60'000, day = 24 * 60 * minute;
    switch (step.unit) {
    case Unit::Minute: return step.count * minute;
    case Unit::Hour: return step.count * 60 * minute;
    case Unit::Day: return step.count * day;
    case Unit::Month: return step.count * 30 * day;
    case Unit::Year: return step.count * 365 * day;
    }
    return day;
}

// The first local moment at or before `local` that is a whole step (a
// quarter hour, a midnight, the first of a month...). Steps of days count
// from 1970-01-05, a Monday, so a week starts on a Monday.
LocalTime floorOf(LocalTime local, Step step)
{
    local.second = local.millisecond = 0;
    switch (step.unit) {
    case Unit::Minute: local.minute -= local.minute % step.count; break;
    case Unit::Hour:
        local.minute = 0;
        local.hour -= local.hour % step.count;
        break;
    case Unit::Day: {
        local.minute = local.hour = 0;
        const long days = daysOf(local.year, local.month, local.day) - 4;
        local.day -= static_cast<int>(((days % step.count) + step.count) % step.count);
        break;
    }
    case Unit::Month:
        local.minute = local.hour = 0;
        local.day = 1;
        local.month -= (local.month - 1) % step.count;
        break;
    case Unit::Year:
        local.minute = local.hour = 0;
        local.day = local.month = 1;
        local.year -= local.year % step.count;
        break;
    }
    return normalised(local);
}

LocalTime advanced(LocalTime local, Step step)
{
    switch (step.unit) {
    case Unit::Minute: local.minute += step.count; break;
    case Unit::Hour: local.hour += step.count; break;
    case Unit::Day: local.day += step.count; break;
    case Unit::Month: local.month += step.count; break;
    case Unit::Year: local.year += step.count; break;
    }
    return normalised(local);
}

std::string labelOf(const LocalTime& local, Step step)
{
    char text[24];
    switch (step.unit) {
    case Unit::Minute:
    case Unit::Hour:
        if (local.hour == 0 && local.minute == 0)
            std::snprintf(text, sizeof text, "%02d-%02d", local.month, local.day);
        else
            return clockText(local);
        break;
    case Unit::Day: std::snprintf(text, sizeof text, "%02d-%02d", local.month, local.day); break;
    case Unit::Month: std::snprintf(text, sizeof text, "%04d-%02d", local.year, local.month); break;
    case Unit::Year: std::snprintf(text, sizeof text, "%04d", local.year); break;
    }
    return text;
}

}  // namespace

std::vector<TimeTick> timeTicks(std::int64_t fromMs, std::int64_t toMs, int most, const ToLocal& toLocal,
                                const FromLocal& fromLocal)
{
    std::vector<TimeTick> ticks;
    if (toMs <= fromMs || most < 1)
        return ticks;
    const std::int64_t span = toMs - fromMs;
    const Step* step = &kSteps[std::size(kSteps) - 1];
    for (const Step& candidate : kSteps) {
        if (span / roughMs(candidate) + 1 <= most) {
            step = &candidate;
            break;
        }
    }
    // Local steps: a tick is a round local time, so an hour that summer
    // time skips has no tick and one it repeats has two.
    LocalTime local = floorOf(toLocal(fromMs), *step);
    std::int64_t last = fromMs - 1;
    for (int guard = 0; guard < 4 * most + 8; ++guard) {
        const std::optional<std::int64_t> at = fromLocal(local);
        if (at && *at > toMs)
            break;
        if (at && *at >= fromMs && *at > last) {
            // The label of the moment as it is shown here (a normalised date).
            ticks.push_back({*at, labelOf(toLocal(*at), *step)});
            last = *at;
        }
        local = advanced(local, *step);
    }
    return ticks;
}

ValueTicks valueTicks(double low, double high, int most)
{
    ValueTicks ticks;
    if (!std::isfinite(low) || !std::isfinite(high))
        low = high = 0;
    if (high < low)
        std::swap(low, high);
    if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
        const double around = std::fabs(low) > 0 ? std::fabs(low) * 0.1 : 1.0;
        low -= around;
        high += around;
    }
    most = std::max(2, most);
    const double rough = (high - low) / (most - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if ((std::ceil(high / step) - std::floor(low / step)) + 1 <= most)
            break;
    }
    ticks.step = step;
    ticks.low = std::floor(low / step) * step;
    ticks.high = std::ceil(high / step) * step;
    for (double value = ticks.low; value <= ticks.high + step * 0.5; value += step)
        ticks.values.push_back(std::fabs(value) < step * 1e-6 ? 0.0 : value);
    ticks.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    return ticks;
}

}  // namespace lumo::history
