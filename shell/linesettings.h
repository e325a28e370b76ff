#pragma once
// The serial line's format as a typed record: baud, parity, data bits, stop
// bits. Start-up takes it from the baud table once; the serial layer applies
// it, and the Modbus master times its silences with it.

#include "status.h"

#include <chrono>
#include <string>
#include <string_view>

namespace lumo {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Start bit, data bits, parity bit and stop bits of one character, 1.5
    // stop bits counted as one: the least a character takes (10 at 8N1).
    int bitsPerCharacter() const;
    // How long this many bit times take on the wire, rounded up.
    std::chrono::microseconds timeOfBits(long long bits) const;
    // "9600,n,8,1": the settings string of the station's serial component.
    std::string text() const;

    bool operator==(const LineSettings&) const = default;
};

// Baud (a positive whole number), parity letter n/e/o/m/s in either case,
// data bits 5..8, stop bits 1, 1.5 or 2, separated by commas; blanks around
// the fields are allowed. Anything else fails, quoting the text.
Result<LineSettings> parseLineSettings(std::string_view text);

}  // namespace lumo
