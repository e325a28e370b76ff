#pragma once
// The machine's directory for one program's settings on an installed
// station, one side per operating system (datadirectory_posix.cpp,
// datadirectory_win.cpp). The package or the setup makes it and gives it to
// the station's operators; nothing in it is ever run or loaded.
//   Linux:   /var/lib/lumoscan/<program>
//   Windows: %ProgramData%\lumoscan\<program>
// Plain C++, UTF-8 paths.

#include <string>

namespace lumo {

std::string machineDataDirectory(const std::string& program);

}  // namespace lumo
