#pragma once
// History as CSV, for a spreadsheet: UTF-8 with a byte-order mark (so a
// spreadsheet on a Chinese Windows reads it right), a header row of Chinese
// names with their units, times in ISO 8601 with the UTC offset, numbers as
// the station keeps them.

#include "dayvolume.h"
#include "localtime.h"
#include "records.h"

#include <string>
#include <vector>

namespace lumo::history {

inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::string csvOfPeriods(const std::vector<PeriodRow>& rows, const ToLocal& toLocal);
std::string csvOfEvents(const std::vector<Event>& events, const ToLocal& toLocal);
std::string csvOfDays(const std::vector<DayVolume>& days);

// A float as the shortest text that reads back to it.
std::string floatText(float value);

}  // namespace lumo::history
