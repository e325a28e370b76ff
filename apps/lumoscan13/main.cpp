// lumoscan13: the monitoring station as a Modbus RTU master.

#include "modbuspoller.h"
#include "station.h"

int main(int argc, char** argv)
{
    lumo::StationConfig config;
    config.programName = QStringLiteral("lumoscan13");
    config.mainTitle = QStringLiteral("LUMO-QSPAR-MODBUS Ver1.3");
    config.pageTitle = QStringLiteral("LUMO-QSPAR-MODBUS");
    config.makePollCycle = [](lumo::SerialPort& port, lumo::GridModel& grid, const lumo::ValueFields& fields,
                              lumo::OneShotTimer& chainTimer) {
        return std::make_unique<lumo::modbus::ModbusPoller>(port, grid, fields, chainTimer);
    };
    return lumo::runStation(argc, argv, config);
}
