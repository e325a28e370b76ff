#pragma once
// The register image of an answer (registers 0..25 in answer bytes 3..54)
// and the eight quantities of one instrument decoded from it. A 32-bit value
// spans two registers, the lower-numbered one holding the upper 16 bits, so
// its four bytes run from most to least significant in wire order.

#include "answer.h"
#include "fixedpoint.h"

#include "alarmtext.h"
#include "gridmodel.h"
#include "reading.h"

#include <array>
#include <cstdint>
#include <string>

namespace lumo::modbus {

inline constexpr std::size_t kAlarmWords = kAlarmCount;

struct RegisterValues {
    float flowValue = 0;        // registers 0-1
    float velocityValue = 0;    // 18-19
    float percentValue = 0;     // 20-21
    float resistanceValue = 0;  // 22-23
    float pipeDiameter = 0;     // 24-25
    FixedPoint forwardTotal = 0;  // whole 3-4 + fraction 5-6
    FixedPoint reverseTotal = 0;  // whole 8-9 + fraction 10-11
    // Registers 13..17: excitation, electrode, empty pipe, upper limit,
    // lower limit.
    std::array<std::uint16_t, kAlarmWords> alarmWords{};
    std::string alarmText;
};

// Register k of the answer: bytes 3+2k (high) and 4+2k (low).
std::uint16_t registerWord(const AnswerBody& answer, int reg);
// The unsigned 32-bit value starting at register k, high word first.
std::uint32_t uint32HighWordFirst(const AnswerBody& answer, int reg);
// The IEEE 754 float starting at register k, high word first.
float floatHighWordFirst(const AnswerBody& answer, int reg);

// AlarmText: "通讯正常", then ",励磁报警", ",电极报警", ",空管报警",
// ",上限报警", ",下限报警" for each word, in that order, that is exactly 1.
std::string alarmText(const std::array<std::uint16_t, kAlarmWords>& alarmWords);

RegisterValues decodeRegisters(const AnswerBody& answer);

// The texts of the answering instrument's eight cells.
InstrumentTexts cellTexts(const RegisterValues& values);
// The texts and the quantities behind them.
InstrumentReading readingOf(const RegisterValues& values);

}  // namespace lumo::modbus
