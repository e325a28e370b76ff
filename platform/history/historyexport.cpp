#include "historyexport.h"

#include "csv.h"
#include "dayvolume.h"

namespace lumo::history {

std::optional<ExportWhat> exportWhatNamed(const std::string& name)
{
    if (name == "minutes")
        return ExportWhat::Minutes;
    if (name == "hours")
        return ExportWhat::Hours;
    if (name == "events")
        return ExportWhat::Events;
    if (name == "days")
        return ExportWhat::Days;
    return std::nullopt;
}

Result<ExportResult> exportCsv(const HistoryFile& file, const ExportRequest& request, const ToLocal& toLocal)
{
    using Exported = Result<ExportResult>;
    ExportResult result;
    switch (request.what) {
    case ExportWhat::Minutes:
    case ExportWhat::Hours: {
        const auto rows = file.periods(request.what == ExportWhat::Minutes ? Period::Minutes : Period::Hours,
                                       request.instruments, request.fromMs, request.toMs);
        if (!rows.ok())
            return Exported::failure(rows.error());
        result.csv = csvOfPeriods(rows.value(), toLocal);
        result.rows = rows.value().size();
        break;
    }
    case ExportWhat::Events: {
        const auto events = file.events(request.instruments, request.fromMs, request.toMs);
        if (!events.ok())
            return Exported::failure(events.error());
        result.csv = csvOfEvents(events.value(), toLocal);
        result.rows = events.value().size();
        break;
    }
    case ExportWhat::Days: {
        const auto days = file.days(request.instruments, dayText(toLocal(request.fromMs)),
                                    dayText(toLocal(request.toMs - 1)));
        if (!days.ok())
            return Exported::failure(days.error());
        std::vector<DayVolume> volumes;
        for (const DayRow& day : days.value())
            volumes.push_back(volumeOf(day, toLocal));
        result.csv = csvOfDays(volumes);
        result.rows = volumes.size();
        break;
    }
    }
    return Exported::success(std::move(result));
}

}  // namespace lumo::history
