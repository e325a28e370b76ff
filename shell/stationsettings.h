#pragma once
// The settings as start-up took them from the value fields, parsed once into
// the form the serial layer and the poll cycles use. The value fields keep
// showing the stored texts; the instrument count is read afresh from its
// field wherever it is needed, as the station always has.

#include "linesettings.h"

#include <optional>

namespace lumo {

struct StationSettings {
    std::optional<int> portNumber;  // nothing when the field was not a port number
    std::optional<int> intervalMs;  // nothing when the field was not an interval
    LineSettings line;              // from the baud table
};

}  // namespace lumo
