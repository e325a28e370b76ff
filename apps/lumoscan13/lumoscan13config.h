#pragma once
// lumoscan13: the monitoring station as a Modbus RTU master.

#include "modbuspoller.h"
#include "station.h"

namespace lumo {

inline StationConfig lumoscan13Config()
{
    StationConfig config;
    config.programName = QStringLiteral("lumoscan13");
    config.mainTitle = QStringLiteral("LUMO-QSPAR-MODBUS Ver1.3");
    config.pageTitle = QStringLiteral("LUMO-QSPAR-MODBUS");
    config.makePollCycle = [](SerialPort& port, GridModel& grid, const ValueFields& fields,
                              const StationSettings& settings, OneShotTimer& chain) {
        return std::make_unique<modbus::ModbusPoller>(port, grid, fields, settings, chain);
    };
    return config;
}

}  // namespace lumo
