#pragma once
// History as CSV for chosen instruments and a range: the minutes or hours,
// the events, or the daily volumes. The same for the windows' "导出…" and
// for lumohistory.

#include "historyfile.h"
#include "localtime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::history {

enum class ExportWhat { Minutes, Hours, Events, Days };

struct ExportRequest {
    ExportWhat what = ExportWhat::Minutes;
    std::int64_t fromMs = 0, toMs = 0;  // [from, to); days: the local days touched
    std::vector<int> instruments;       // empty: all
};

struct ExportResult {
    std::string csv;
    std::size_t rows = 0;
};

// A failure is the file's (a damaged file, say).
Result<ExportResult> exportCsv(const HistoryFile& file, const ExportRequest& request, const ToLocal& toLocal);

// "minutes", "hours", "events", "days".
std::optional<ExportWhat> exportWhatNamed(const std::string& name);

}  // namespace lumo::history
