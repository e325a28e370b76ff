#pragma once

#include "bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace lumo::sim {

using BlockPayload = std::array<std::uint8_t, 6>;

// One block's six payload bytes (answer bytes 2..7) and the value the master
// should read from them, as an exact decimal text ("563.412"); empty when the
// block carries no number (alarms) or the code is outside every table.
// clamped: the value did not fit its digits and was cut to the largest that fits.
struct EncodedBlock {
    BlockPayload payload{};
    std::string valueText;
    bool clamped = false;
};

// Block 0: six BCD digits R, value R x 10^(code - 5); bit 0 of byte 7 is the
// sign. Without a code the smallest code 0..10 whose digits hold the value is
// taken, which keeps the most decimals.
EncodedBlock encodeFlow(double value, std::optional<int> exponentCode);
// Block 1: six BCD digits, decimals code 0..4 in byte 6, sign in byte 7.
EncodedBlock encodeVelocity(double value, std::optional<int> decimalsCode);
// Block 2: four BCD digits holding tenths, sign in byte 7.
EncodedBlock encodePercent(double value);
// Block 3: six BCD digits holding tenths, no sign.
EncodedBlock encodeResistance(double value);
// Blocks 4 and 5: ten BCD digits; code in byte 7, whose two low bits give
// 3 - decimals for codes 0..15 (codes above 15: no decimals).
EncodedBlock encodeTotal(double value, std::optional<int> decimalsCode);
// Block 6: the alarm bits in byte 2.
EncodedBlock encodeAlarmByte(std::uint8_t bits);
// Block 7: the diameter code in byte 2.
EncodedBlock encodeDiameterCode(std::uint8_t code);

// The nominal diameters of codes 0..38, in millimetres.
std::optional<std::uint8_t> diameterCodeOfMm(double mm);
std::optional<int> diameterMmOfCode(std::uint8_t code);

// Two decimal digits in one byte: tens in the high nibble.
std::uint8_t bcdByte(unsigned twoDigits);

// XOR of the six payload bytes; the echoes are not covered.
std::uint8_t blockCheckByte(const BlockPayload& payload);

// The ten-byte answer: address echo, block echo, payload, check byte, 0xAA.
Bytes blockAnswer(std::uint8_t address, std::uint8_t block, const BlockPayload& payload);

inline constexpr std::uint8_t blockRequestStart = 0x2A;
inline constexpr std::uint8_t blockRequestEnd = 0x2E;
inline constexpr std::uint8_t blockAnswerEnd = 0xAA;

} // namespace lumo::sim
