#pragma once
// The main window's icon, the same picture as the menu's and the
// installer's: on POSIX from the PNGs built into the program, on Windows
// from the program's own .ico resource, which Explorer, the Start menu and
// the taskbar show too. Pages 2 and 3 have none.

#include <QIcon>

namespace lumo {

QIcon programIcon();

}  // namespace lumo
