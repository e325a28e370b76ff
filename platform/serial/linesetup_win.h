#pragma once
// What the Win32 serial port asks of the driver for a line: every field of
// the DCB, and the time-outs (linesetup_win.cpp).

#include "linesettings.h"

#include <windows.h>

#include <chrono>
#include <cstddef>

namespace lumo {

// What a driver may take beyond the wire time to end a write.
inline constexpr std::chrono::milliseconds kWriteMargin{200};

// The line settings, and for every other field of the DCB what a plain line
// without handshaking needs, whatever the last program left in it.
void describeLine(DCB& dcb, const LineSettings& settings);

// Reads wait for all the bytes they ask for; a write may take its time on
// the wire and a margin before the driver ends it.
COMMTIMEOUTS timeoutsOf(const LineSettings& settings);

// How long a write of `bytes` may take before the device counts as gone.
std::chrono::milliseconds writeBound(std::size_t bytes, const LineSettings& line);

}  // namespace lumo
