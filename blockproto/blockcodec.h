#pragma once
// The instruments' block protocol as pure functions: the 4-byte request, the
// acceptance of a 10-byte answer, and the decoding of the eight blocks into
// the quantities an instrument's line shows. Bytes in, values and texts out.

#include "alarmtext.h"
#include "gridmodel.h"
#include "linestats.h"
#include "reading.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace lumo::block {

inline constexpr int kRequestLength = 4;
inline constexpr int kAnswerLength = 10;
inline constexpr int kBlockCount = 8;

using Request = std::array<std::uint8_t, kRequestLength>;
// Answer: address echo, block echo, six payload bytes, check byte, end byte.
using Answer = std::array<std::uint8_t, kAnswerLength>;

inline constexpr std::uint8_t kRequestStart = 0x2A;  // '*'
inline constexpr std::uint8_t kRequestEnd = 0x2E;    // '.'
inline constexpr std::uint8_t kAnswerEnd = 0xAA;

// 2A, address, block, 2E; the request carries no checksum.
Request requestFrame(std::uint8_t address, std::uint8_t block);

// XOR of the six payload bytes 2..7: the check byte covers the payload only,
// not the two echo bytes.
std::uint8_t payloadCheck(const Answer& answer);

// End byte 0xAA, the echoes of the request's address and block, and the
// check byte.
bool acceptAnswer(const Answer& answer, std::uint8_t currentAddressByte, std::uint8_t sentBlockIndex);
// Why acceptAnswer turns an answer away, nothing when it takes it: an end
// byte out of place says the ten bytes are not one answer; then the check
// byte, then the address, then the block echo.
std::optional<Rejection> rejectionOf(const Answer& answer, std::uint8_t currentAddressByte,
                                     std::uint8_t sentBlockIndex);

// Tens in the high nibble, units in the low one. The digits are not checked:
// nibbles 10..15 count with that value (0x1A -> 20, 0xFF -> 165).
int bcdByteValue(std::uint8_t byte);

// One decoder per block. Values are 32-bit floats; scaled values are the
// quotient rounded to its decimals in double, then held as float.
float flowValue(const Answer& answer);        // block 0
float velocityValue(const Answer& answer);    // block 1
float percentValue(const Answer& answer);     // block 2
float resistanceValue(const Answer& answer);  // block 3
float totalValue(const Answer& answer);       // blocks 4 and 5
std::string alarmText(std::uint8_t alarmBits);  // block 6, byte 2
// Bits 1..5 of byte 2 are the alarms in their order; bits 0, 6, 7 carry none.
AlarmFlags alarmFlags(std::uint8_t alarmBits);
// Block 7, byte 2: the nominal diameter in mm for codes 0..38, nothing for
// codes 39..255 (the previous diameter stays).
std::optional<float> pipeDiameter(std::uint8_t code);

// The quantities last received from one instrument; a quantity it has not
// sent since start-up is empty.
struct DecodedValues {
    std::optional<float> flowValue;
    std::optional<float> velocityValue;
    std::optional<float> percentValue;
    std::optional<float> resistanceValue;
    std::optional<float> forwardTotal;
    std::optional<float> reverseTotal;
    std::optional<std::string> alarmText;
    std::optional<AlarmFlags> alarms;
    std::optional<float> pipeDiameter;

    bool operator==(const DecodedValues&) const = default;
};

// Updates the one quantity that block `block` carries; blocks above 7 change
// nothing.
void decodeBlock(std::uint8_t block, const Answer& answer, DecodedValues& values);

// Slot of the cell that shows a block's quantity: blocks 0..5 keep their
// number, the alarm (block 6) goes to slot 7 and the diameter (block 7) to 6.
int slotOfBlock(int block);

// The eight cell texts of an instrument's line; a quantity not yet received
// gives "".
InstrumentTexts cellTexts(const DecodedValues& values);
// The texts and the quantities behind them.
InstrumentReading readingOf(const DecodedValues& values);

}  // namespace lumo::block
