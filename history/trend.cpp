#include "trend.h"

#include <algorithm>

namespace lumo::history {

Period periodFor(std::int64_t fromMs, std::int64_t toMs, std::int64_t nowMs)
{
    constexpr std::int64_t kLongestInMinutes = 3 * 24 * kHourMs;
    return toMs - fromMs <= kLongestInMinutes && fromMs >= nowMs - kMinutesKeptMs ? Period::Minutes : Period::Hours;
}

std::int64_t lengthOf(Period period) { return period == Period::Minutes ? kMinuteMs : kHourMs; }

std::vector<TrendPoint> pointsOf(const std::vector<PeriodRow>& rows, Measured quantity, std::int64_t fromMs,
                                 std::int64_t toMs, int buckets)
{
    std::vector<TrendPoint> points;
    if (rows.empty() || toMs <= fromMs)
        return points;
    const std::int64_t rowLength = rows.front().lengthMs;
    // A bucket spans whole rows, so that a row never falls in two of them.
    std::int64_t width = std::max<std::int64_t>(1, (toMs - fromMs) / std::max(1, buckets));
    width = std::max(rowLength, (width + rowLength - 1) / rowLength * rowLength);
    const std::int64_t origin = fromMs - ((fromMs % rowLength) + rowLength) % rowLength;
    const auto slot = static_cast<std::size_t>(quantity);
    for (const PeriodRow& row : rows) {
        if (row.startMs + row.lengthMs <= fromMs || row.startMs >= toMs || !row.measured[slot])
            continue;
        const std::int64_t bucketStart = origin + (row.startMs - origin) / width * width;
        if (!points.empty() && points.back().fromMs == bucketStart) {
            points.back().spread = merged(points.back().spread, *row.measured[slot]);
            points.back().toMs = row.startMs + row.lengthMs;
        } else {
            points.push_back({bucketStart, row.startMs + row.lengthMs, *row.measured[slot]});
            points.back().fromMs = std::max(bucketStart, row.startMs);
        }
    }
    return points;
}

std::vector<Span> alarmSpansOf(const std::vector<Event>& events, int instrument, std::int64_t openEndMs)
{
    std::vector<Span> spans;
    for (const Event& event : events)
        if (event.kind == EventKind::Alarm && event.instrument == instrument)
            spans.push_back({event.fromMs, event.toMs.value_or(openEndMs)});
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.fromMs < b.fromMs; });
    std::vector<Span> joined;
    for (const Span& span : spans) {
        if (!joined.empty() && span.fromMs <= joined.back().toMs)
            joined.back().toMs = std::max(joined.back().toMs, span.toMs);
        else
            joined.push_back(span);
    }
    return joined;
}

}  // namespace lumo::history
