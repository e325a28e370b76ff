#pragma once
// The ticks of a trend's axes: times at round local moments (whole minutes,
// hours, local midnights, the first of a month or a year) and values at
// round numbers (1, 2 or 5 times a power of ten).

#include "localtime.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumo::history {

// A local date and time as a moment; nothing for one that does not exist
// there (skipped by a change to summer time).
using FromLocal = std::function<std::optional<std::int64_t>(const LocalTime& local)>;

struct TimeTick {
    std::int64_t atMs = 0;
    std::string label;  // "13:05", "12-10", "2026-12"

    bool operator==(const TimeTick&) const = default;
};

// At most `most` ticks within [fromMs, toMs], the finest round step that
// keeps to it.
std::vector<TimeTick> timeTicks(std::int64_t fromMs, std::int64_t toMs, int most, const ToLocal& toLocal,
                                const FromLocal& fromLocal);

struct ValueTicks {
    double low = 0, high = 1;  // the axis, widened to whole steps
    double step = 1;
    std::vector<double> values;
    int decimals = 0;  // for the labels
};

// Round ticks over [low, high], at most `most`; an empty or flat range gets
// an axis around it.
ValueTicks valueTicks(double low, double high, int most);

}  // namespace lumo::history
