#pragma once
// Answers of an instrument as they arrive on the line, for the decoder and
// poller tests: a register image with its CRC appended, low byte first.

#include "crc16.h"
#include "serialport.h"

#include <array>
#include <bit>
#include <cstdint>
#include <sstream>
#include <string>

namespace lumo::modbus::testing {

using Registers = std::array<std::uint16_t, 26>;

inline void putUint32(Registers& regs, int k, std::uint32_t value)
{
    regs[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(value >> 16);
    regs[static_cast<std::size_t>(k) + 1] = static_cast<std::uint16_t>(value & 0xFFFF);
}

inline void putFloat(Registers& regs, int k, float value)
{
    putUint32(regs, k, std::bit_cast<std::uint32_t>(value));
}

inline lumo::Bytes withCrc(lumo::Bytes body)
{
    const Crc16 crc = crc16(body);
    body.push_back(crc.low);
    body.push_back(crc.high);
    return body;
}

inline lumo::Bytes answerFrame(std::uint8_t address, const Registers& regs)
{
    lumo::Bytes body = {address, 0x03, 0x34};
    for (std::uint16_t reg : regs) {
        body.push_back(static_cast<std::uint8_t>(reg >> 8));
        body.push_back(static_cast<std::uint8_t>(reg & 0xFF));
    }
    return withCrc(body);
}

// An answer of the given instrument with a flow value that tells answers
// apart and the other quantities 0.
inline lumo::Bytes answerOf(std::uint8_t address, float flow = 12.5f)
{
    Registers regs{};
    putFloat(regs, 0, flow);
    return answerFrame(address, regs);
}

// "01 03 34 ..." -> bytes.
inline lumo::Bytes bytesOf(const std::string& spaced)
{
    lumo::Bytes bytes;
    std::istringstream in(spaced);
    std::string pair;
    while (in >> pair)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

// The worked example: an intact answer of instrument 1 (flow 12.5, forward
// total 1234 + 0.5678, empty pipe alarm, velocity 1.25, percentage 50,
// resistance 3.3, pipe diameter 100).
inline lumo::Bytes workedExample()
{
    return bytesOf(
        "01 03 34 41 48 00 00 00 00 00 00 04 D2 3F 11 5B 57 00 00 00 00 00 00 00 00 00 00 "
        "00 00 00 00 00 00 00 01 00 00 00 00 3F A0 00 00 42 48 00 00 40 53 33 33 42 C8 00 00 "
        "9C C3");
}

}  // namespace lumo::modbus::testing
