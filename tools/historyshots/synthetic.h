#pragma once
// A made-up history, as a station would have kept it: for the pictures of
// the history's windows and for the benchmarks (a history of 39
// instruments over ten years). Flow swings with the time of day, totals
// rise with the flow exactly, an instrument may go silent or raise an
// alarm for a while.

#include "historyfile.h"
#include "recorder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumo::history {

struct SyntheticPlan {
    std::vector<int> instruments;
    std::int64_t fromMs = 0, toMs = 0;  // UTC, whole minutes
    // Minutes from here on (the last 90 days of a long history); before
    // it, hours only.
    std::int64_t minutesFromMs = 0;
    struct Window {
        int instrument = 0;
        std::int64_t fromMs = 0, toMs = 0;
        std::string alarm;  // "empty_pipe"...; empty for a silence
    };
    std::vector<Window> silences, alarms;
    // A total set back to zero (a reset, a replaced meter) at a moment.
    struct Reset {
        int instrument = 0;
        std::int64_t atMs = 0;
    };
    std::vector<Reset> resets;
};

// Writes the plan into `file`, a local day of every instrument per
// transaction; `progress` hears each day written.
std::optional<FileFault> writeSynthetic(HistoryFile& file, const SyntheticPlan& plan, const DayOf& dayOf,
                                        const std::function<void(const std::string& day)>& progress = {});

// One minute of the instruments as the recorder hands it over at the
// minute's close: their rows and what the minute adds to their days.
Batch syntheticMinute(const std::vector<int>& instruments, std::int64_t startMs, const DayOf& dayOf);

}  // namespace lumo::history
