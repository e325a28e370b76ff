#include "request.h"

#include "crc16.h"

namespace lumo::modbus {

RequestFrame readRequest(std::uint8_t address)
{
    const std::array<std::uint8_t, 6> body = {
        address,
        kReadHoldingRegisters,
        static_cast<std::uint8_t>(kFirstRegister >> 8),
        static_cast<std::uint8_t>(kFirstRegister & 0xFF),
        static_cast<std::uint8_t>(kRegisterCount >> 8),
        static_cast<std::uint8_t>(kRegisterCount & 0xFF),
    };
    const Crc16 crc = crc16(body);
    return RequestFrame{body[0], body[1], body[2], body[3], body[4], body[5], crc.low, crc.high};
}

}  // namespace lumo::modbus
