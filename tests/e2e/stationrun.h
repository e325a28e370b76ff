#pragma once
// A whole station in this process: the real start-up, settings file, Qt
// serial layer, poll timer and windows (offscreen), in a temporary program
// directory. Message boxes go to a fake, so nothing waits for a click.

#include "fakeshell.h"
#include "programdir.h"
#include "station.h"
#include "statsjson.h"

#include <QFile>

#include <functional>

#include <memory>

namespace lumo::testing {

enum class Protocol { Block, Modbus };

StationConfig stationConfig(Protocol protocol);

class StationRun {
public:
    // adjust: changes to the program's configuration (a shorter period of
    // the line statistics, say).
    StationRun(ProgramDir& dir, Protocol protocol, const std::function<void(StationConfig&)>& adjust = {})
    {
        // The guard is keyed on the program's path: give each run its own.
        const QString program = dir.file(protocol == Protocol::Block ? "lumoscan12" : "lumoscan13");
        QFile f(program);
        f.open(QIODevice::WriteOnly);
        StationConfig config = stationConfig(protocol);
        // Never the machine's data directory: a settings file of an
        // installed station must not stand in for a missing one here.
        config.dataDirectory = dir.file("data");
        if (adjust)
            adjust(config);
        station = std::make_unique<Station>(config, program, &dialogs);
    }

    GridModel& grid() { return station->grid(); }
    std::string cell(int n, int r) { return station->grid().cellText(n, r); }
    // What the station counted on the line for an instrument: for a test's
    // message when an instrument did not show what it should.
    std::string lineReport(int instrument)
    {
        const LineStats& stats = station->pollCycle().lineStats();
        return instrumentStatsPayload(instrument, stats.instrument(instrument), 0, std::chrono::steady_clock::now()) +
               "\n" + linePayload(stats, 0);
    }

    FakeDialogs dialogs;
    std::unique_ptr<Station> station;
};

}  // namespace lumo::testing
