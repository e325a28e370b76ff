#pragma once
// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF, no final
// inversion. "123456789" gives 0x4B37. On the wire the low byte goes first,
// so the two bytes are kept apart by name rather than by position.

#include <cstdint>
#include <span>

namespace lumo::modbus {

struct Crc16 {
    std::uint8_t high = 0xFF;
    std::uint8_t low = 0xFF;

    std::uint16_t value() const { return static_cast<std::uint16_t>(high << 8 | low); }
    bool operator==(const Crc16&) const = default;
};

// CRC16: covers every byte of data, from the first to the last.
Crc16 crc16(std::span<const std::uint8_t> data);

}  // namespace lumo::modbus
