#pragma once
// What an operator or a scheduled job asks of the history, as typed:
// instruments as "1,3-5" and moments as "2026-12-10", "2026-12-10T08:00"
// (local time) or with an offset, "2026-12-10T08:00+08:00".

#include "status.h"
#include "timeaxis.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace lumo::history {

// Empty text: all (an empty list). Numbers 1..39, ranges "3-5"; sorted,
// each once. A failure names what is wrong.
Result<std::vector<int>> instrumentsOf(std::string_view text);

// A date alone is its local midnight, or with `endOfDay` the next one (so
// "--to 2026-12-09" takes in the whole 9th). Seconds are optional.
Result<std::int64_t> momentOf(std::string_view text, bool endOfDay, const FromLocal& fromLocal);

}  // namespace lumo::history
