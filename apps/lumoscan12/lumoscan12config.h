#pragma once
// lumoscan12: the monitoring station on the instruments' own block protocol.

#include "blockpoller.h"
#include "station.h"

namespace lumo {

inline StationConfig lumoscan12Config()
{
    StationConfig config;
    config.programName = QStringLiteral("lumoscan12");
    config.mainTitle = QStringLiteral("LUMO-QSPAR  Ver1.2");
    config.pageTitle = QStringLiteral("LUMO-QSPAR");
    config.makePollCycle = [](SerialPort& port, GridModel& grid, const ValueFields& fields, const StationSettings&,
                              OneShotTimer&) {
        return std::make_unique<BlockPoller>(port, grid, fields);
    };
    return config;
}

}  // namespace lumo
