#pragma once
// The one request lumoscan13 sends: function 3 (read holding registers),
// first register 0, 26 registers, sealed with the CRC of its first six bytes.

#include <array>
#include <cstdint>

namespace lumo::modbus {

inline constexpr std::uint8_t kReadHoldingRegisters = 0x03;
inline constexpr std::uint16_t kFirstRegister = 0;
inline constexpr std::uint16_t kRegisterCount = 26;
inline constexpr std::size_t kRequestLength = 8;

using RequestFrame = std::array<std::uint8_t, kRequestLength>;

// Address 1 gives 01 03 00 00 00 1A C4 01 (CRC low byte before high byte).
RequestFrame readRequest(std::uint8_t address);

}  // namespace lumo::modbus
