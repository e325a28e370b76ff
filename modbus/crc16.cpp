#include "crc16.h"

namespace lumo::modbus {

Crc16 crc16(std::span<const std::uint8_t> data)
{
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = reg & 1u;
            reg >>= 1;
            if (carry)
                reg ^= 0xA001;
        }
    }
    return Crc16{static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg & 0xFF)};
}

}  // namespace lumo::modbus
