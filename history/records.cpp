#include "records.h"

#include "decimal.h"

#include <algorithm>

namespace lumo::history {

AlarmBits bitsOf(const AlarmFlags& flags)
{
    AlarmBits bits = 0;
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        if (flags[i])
            bits = static_cast<AlarmBits>(bits | (1u << i));
    return bits;
}

Spread merged(const Spread& a, const Spread& b)
{
    if (a.count == 0)
        return b;
    if (b.count == 0)
        return a;
    const double total = static_cast<double>(a.count) + b.count;
    return {std::min(a.min, b.min),
            static_cast<float>((static_cast<double>(a.mean) * a.count + static_cast<double>(b.mean) * b.count) / total),
            std::max(a.max, b.max), a.count + b.count};
}

PeriodRow mergedPeriod(const PeriodRow& before, const PeriodRow& added)
{
    PeriodRow row = added;
    for (std::size_t i = 0; i < row.measured.size(); ++i)
        if (before.measured[i])
            row.measured[i] = added.measured[i] ? merged(*before.measured[i], *added.measured[i]) : before.measured[i];
    if (!row.forwardTotal)
        row.forwardTotal = before.forwardTotal;
    if (!row.reverseTotal)
        row.reverseTotal = before.reverseTotal;
    if (!row.pipeDiameter)
        row.pipeDiameter = before.pipeDiameter;
    row.alarms = static_cast<AlarmBits>(before.alarms | added.alarms);
    row.answers = before.answers + added.answers;
    row.blankSeconds = std::min(before.blankSeconds + added.blankSeconds, static_cast<double>(row.lengthMs) / 1000.0);
    return row;
}

DayRow mergedDay(const DayRow& before, const DayRow& added)
{
    DayRow day = before;
    const auto join = [](std::optional<std::string>& first, std::optional<std::string>& last,
                         std::optional<TotalDrop>& drop, const DayRow& a, const std::optional<std::string>& addedFirst,
                         const std::optional<std::string>& addedLast, const std::optional<TotalDrop>& addedDrop) {
        if (!drop && last && addedFirst) {
            const auto previous = Decimal::of(*last), next = Decimal::of(*addedFirst);
            if (previous && next && *next < *previous)
                drop = TotalDrop{*last, *addedFirst, a.firstAnswerMs};
        }
        if (!drop)
            drop = addedDrop;
        if (!first)
            first = addedFirst;
        if (addedLast)
            last = addedLast;
    };
    join(day.firstForward, day.lastForward, day.forwardDrop, added, added.firstForward, added.lastForward,
         added.forwardDrop);
    join(day.firstReverse, day.lastReverse, day.reverseDrop, added, added.firstReverse, added.lastReverse,
         added.reverseDrop);
    if (added.firstAnswerMs != 0 && (day.firstAnswerMs == 0 || added.firstAnswerMs < day.firstAnswerMs))
        day.firstAnswerMs = added.firstAnswerMs;
    day.lastAnswerMs = std::max(day.lastAnswerMs, added.lastAnswerMs);
    day.answeredSeconds += added.answeredSeconds;
    day.alarms = static_cast<AlarmBits>(day.alarms | added.alarms);
    return day;
}

namespace {

constexpr std::pair<EventKind, const char*> kKindNames[] = {
    {EventKind::Alarm, "alarm"},
    {EventKind::Silence, "silence"},
    {EventKind::StationRun, "station"},
    {EventKind::SettingsChange, "settings"},
};

}  // namespace

std::string kindName(EventKind kind)
{
    for (const auto& [k, name] : kKindNames)
        if (k == kind)
            return name;
    return "?";
}

std::optional<EventKind> kindNamed(const std::string& name)
{
    for (const auto& [kind, n] : kKindNames)
        if (name == n)
            return kind;
    return std::nullopt;
}

}  // namespace lumo::history
