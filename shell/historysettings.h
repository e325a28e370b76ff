#pragma once
// The station's history, as the settings file configures it: an optional
// table "history", first row, fields enabled (1, or 0 for none) and
// keep_years (how long hourly rows, days and events are kept; minutes are
// kept 90 days). No table, no row or a field missing: the defaults, so a
// settings file without it keeps working as it did.

#include "status.h"

#include <optional>
#include <string>

namespace lumo {

struct HistoryRow {
    std::optional<std::string> enabled, keepYears;
};

struct HistorySettings {
    bool enabled = true;
    int keepYears = 10;
};

// A failure says which field is wrong and why.
Result<HistorySettings> historySettingsOf(const HistoryRow& row);

}  // namespace lumo
