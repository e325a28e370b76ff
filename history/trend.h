#pragma once
// What a trend draws of one instrument and quantity: the stored minutes or
// hours of a range gathered into buckets no narrower than a row (a few per
// pixel at most), each the spread of the rows in it; a bucket with nothing
// in it is a gap. The alarm periods come from the events.

#include "records.h"

#include <cstdint>
#include <vector>

namespace lumo::history {

// The quantities a trend can show: slots 0..3.
enum class Measured { Flow = 0, Velocity = 1, Percent = 2, Resistance = 3 };

struct TrendPoint {
    std::int64_t fromMs = 0, toMs = 0;
    Spread spread;

    bool operator==(const TrendPoint&) const = default;
};

struct Span {
    std::int64_t fromMs = 0, toMs = 0;

    bool operator==(const Span&) const = default;
};

struct TrendSeries {
    int instrument = 0;
    // In time order; two points whose times do not touch have a gap between
    // them (the instrument was silent, or the station did not run).
    std::vector<TrendPoint> points;
    std::vector<Span> alarms;
};

// Minutes are read for a range of up to three days that lies within the
// minutes kept (90 days back from now); hours otherwise.
Period periodFor(std::int64_t fromMs, std::int64_t toMs, std::int64_t nowMs);
std::int64_t lengthOf(Period period);

// The rows of one instrument (in time order) within [fromMs, toMs), in at
// most `buckets` buckets.
std::vector<TrendPoint> pointsOf(const std::vector<PeriodRow>& rows, Measured quantity, std::int64_t fromMs,
                                 std::int64_t toMs, int buckets);

// The alarm periods of an instrument among events, joined where they
// overlap; an alarm still raised ends at `openEndMs`.
std::vector<Span> alarmSpansOf(const std::vector<Event>& events, int instrument, std::int64_t openEndMs);

}  // namespace lumo::history
