#include "crc16.h"

namespace lumo::sim {

std::string hexText(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::uint16_t modbusCrc16(const std::uint8_t* data, std::size_t size)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::uint16_t modbusCrc16(const Bytes& bytes)
{
    return modbusCrc16(bytes.data(), bytes.size());
}

void appendModbusCrc(Bytes& frame)
{
    const std::uint16_t crc = modbusCrc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool hasValidModbusCrc(const std::uint8_t* frame, std::size_t size)
{
    if (size < 3)
        return false;
    const std::uint16_t crc = modbusCrc16(frame, size - 2);
    return frame[size - 2] == (crc & 0xFF) && frame[size - 1] == (crc >> 8);
}

} // namespace lumo::sim
