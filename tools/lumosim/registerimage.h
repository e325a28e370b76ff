#pragma once

#include "bytes.h"

#include <array>
#include <cstdint>

namespace lumo::sim {

inline constexpr int registerCount = 26;
using RegisterImage = std::array<std::uint16_t, registerCount>;

// The instrument's quantities as the Modbus image carries them.
struct RegisterValues {
    double flow = 0;
    double velocity = 0;
    double percent = 0;
    double resistance = 0;
    double forwardTotal = 0;
    double reverseTotal = 0;
    double diameterMm = 0;
    std::uint8_t alarms = 0; // AlarmBit flags
};

// Register map: 0-1 flow, 3-4 / 5-6 forward total (unsigned 32-bit whole part,
// float fraction), 8-9 / 10-11 reverse total likewise, 13..17 one word per
// alarm, 18-19 velocity, 20-21 percent, 22-23 resistance, 24-25 diameter.
// Every 32-bit value has its high word in the lower-numbered register; the
// registers in between (2, 7, 12) stay 0. Totals below 0 are held as 0 and
// whole parts above 4294967295 as 4294967295.
RegisterImage registerImage(const RegisterValues& values);

void putFloatHighWordFirst(RegisterImage& image, int firstRegister, float value);
void putUint32HighWordFirst(RegisterImage& image, int firstRegister, std::uint32_t value);

// Answer to function 3: address, 0x03, byte count, the registers high byte
// first, CRC. start/count must lie inside the image.
Bytes readHoldingRegistersAnswer(std::uint8_t address, const RegisterImage& image, int start,
                                 int count);

// Exception answer: address, function | 0x80, code, CRC.
Bytes exceptionAnswer(std::uint8_t address, std::uint8_t function, std::uint8_t code);

inline constexpr std::uint8_t readHoldingRegisters = 0x03;
inline constexpr std::uint8_t illegalFunction = 0x01;
inline constexpr std::uint8_t illegalDataAddress = 0x02;
inline constexpr std::uint8_t illegalDataValue = 0x03;
inline constexpr std::uint8_t slaveDeviceFailure = 0x04;

} // namespace lumo::sim
