#include "stationrun.h"

#include "lumoscan12config.h"
#include "lumoscan13config.h"

namespace lumo::testing {

StationConfig stationConfig(Protocol protocol)
{
    return protocol == Protocol::Block ? lumoscan12Config() : lumoscan13Config();
}

}  // namespace lumo::testing
