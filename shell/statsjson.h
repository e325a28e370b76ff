#pragma once
// The line statistics as the plant network gets them (JSON):
//   lumoscan/<station>/instrument/<N>/stats
//     {"instrument":17,"time":"2026-12-09T05:40:12.345Z","requests":1234,"answers":1200,
//      "unanswered":34,"rejected":{"length":2,"check":1,"echo":0,"foreign":1},
//      "last_answer":"2026-12-09T05:40:10.123Z","answer_ms":{"median":71.4,"max":118.0,"of":100}}
//   lumoscan/<station>/line
//     {"time":"2026-12-09T05:40:12.345Z","bytes_received":123456,"bytes_thrown_away":321}
// "last_answer" and "answer_ms" are null before the first answer taken.

#include "linestats.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace lumo {

// utcMs and steadyNow: the same moment on the two clocks, to date the last
// answer, which the statistics keep on the steady one.
std::string instrumentStatsPayload(int instrument, const InstrumentStats& stats, std::int64_t utcMs,
                                   std::chrono::steady_clock::time_point steadyNow);
std::string linePayload(const LineStats& stats, std::int64_t utcMs);

}  // namespace lumo
