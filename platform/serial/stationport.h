#pragma once
// The station's serial port on this system: Qt's QSerialPort on POSIX, the
// Win32 communications API on Windows (the Qt built for Windows here has no
// QSerialPort).

#ifdef _WIN32
#include "serialport_win.h"
namespace lumo {
using StationPort = Win32SerialPort;
}
#else
#include "serialport_posix.h"
namespace lumo {
using StationPort = PosixSerialPort;
}
#endif
