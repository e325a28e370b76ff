#pragma once

#include "bytes.h"

#include <cstdint>

namespace lumo::sim {

// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF, no final
// inversion. On the wire the low byte goes first.
std::uint16_t modbusCrc16(const std::uint8_t* data, std::size_t size);
std::uint16_t modbusCrc16(const Bytes& bytes);

// Appends the CRC of everything already in frame, low byte first.
void appendModbusCrc(Bytes& frame);

// True when the last two bytes of frame[0..size) are the CRC of the rest.
bool hasValidModbusCrc(const std::uint8_t* frame, std::size_t size);

} // namespace lumo::sim
