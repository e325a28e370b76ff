#include "datadirectory.h"

namespace lumo {

std::string machineDataDirectory(const std::string& program) { return "/var/lib/lumoscan/" + program; }

}  // namespace lumo
