#include "historyos.h"

#include <windows.h>

namespace lumo::history {

// The data directory's inherited rights apply to what SQLite makes.
void makeWithRightsOf(const std::string&, const std::string&) {}

bool isNoRoom(int systemError) { return systemError == ERROR_DISK_FULL || systemError == ERROR_HANDLE_DISK_FULL; }

}  // namespace lumo::history
