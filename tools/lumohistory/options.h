#pragma once
// lumohistory's command line:
//   lumohistory export --what minutes|hours|events|days --from TIME --to TIME
//                      [--instruments 1,3-5] [--dir DIR]

#include "historyexport.h"
#include "timeaxis.h"

#include <optional>
#include <string>
#include <vector>

namespace lumo::history {

struct HistoryOptions {
    ExportRequest request;
    std::optional<std::string> directory;  // of history.db
};

// A failure says what is wrong with the command line.
Result<HistoryOptions> parseHistoryOptions(const std::vector<std::string>& arguments, const FromLocal& fromLocal);

inline constexpr char kHistoryUsage[] =
    "usage: lumohistory export --what minutes|hours|events|days --from TIME --to TIME\n"
    "                          [--instruments 1,3-5] [--dir DIR]\n"
    "TIME: 2026-12-10 (a date alone: --from its start, --to its end), 2026-12-10T08:00[:SS] in local time,\n"
    "or with an offset (Z, +08:00). DIR: the directory holding history.db (the station's settings directory).\n";

}  // namespace lumo::history
