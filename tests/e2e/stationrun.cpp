#include "stationrun.h"

#include "blockpoller.h"
#include "modbuspoller.h"

namespace lumo::testing {

StationConfig stationConfig(Protocol protocol)
{
    StationConfig config;
    if (protocol == Protocol::Block) {
        config.programName = "lumoscan12";
        config.mainTitle = "LUMO-QSPAR  Ver1.2";
        config.pageTitle = "LUMO-QSPAR";
        config.makePollCycle = [](SerialPort& port, GridModel& grid, const ValueFields& fields, OneShotTimer&) {
            return std::make_unique<BlockPoller>(port, grid, fields);
        };
    } else {
        config.programName = "lumoscan13";
        config.mainTitle = "LUMO-QSPAR-MODBUS Ver1.3";
        config.pageTitle = "LUMO-QSPAR-MODBUS";
        config.makePollCycle = [](SerialPort& port, GridModel& grid, const ValueFields& fields,
                                  OneShotTimer& chain) {
            return std::make_unique<modbus::ModbusPoller>(port, grid, fields, chain);
        };
    }
    return config;
}

}  // namespace lumo::testing
