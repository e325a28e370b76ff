// lumoscan12: the monitoring station on the instruments' own block protocol.

#include "blockpoller.h"
#include "station.h"

int main(int argc, char** argv)
{
    lumo::StationConfig config;
    config.programName = QStringLiteral("lumoscan12");
    config.mainTitle = QStringLiteral("LUMO-QSPAR  Ver1.2");
    config.pageTitle = QStringLiteral("LUMO-QSPAR");
    config.makePollCycle = [](lumo::SerialPort& port, lumo::GridModel& grid, const lumo::ValueFields& fields,
                              lumo::OneShotTimer&) { return std::make_unique<lumo::BlockPoller>(port, grid, fields); };
    return lumo::runStation(argc, argv, config);
}
