#include "answer.h"

#include "crc16.h"

namespace lumo::modbus {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

std::optional<std::uint8_t> digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

// Byte i of the text occupies characters 2i and 2i+1 (from 0).
std::optional<std::uint8_t> byteAt(std::string_view hex, std::size_t i)
{
    const auto high = digitValue(hex[2 * i]);
    const auto low = digitValue(hex[2 * i + 1]);
    if (!high || !low)
        return std::nullopt;
    return static_cast<std::uint8_t>(*high << 4 | *low);
}

}  // namespace

std::string hexText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(2 * bytes.size());
    for (std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::optional<AnswerBody> acceptAnswerHex(std::string_view answerHex)
{
    if (answerHex.size() != kAnswerHexLength)
        return std::nullopt;
    AnswerBody body{};
    for (std::size_t i = 0; i < body.size(); ++i) {
        const auto byte = byteAt(answerHex, i);
        if (!byte)
            return std::nullopt;
        body[i] = *byte;
    }
    const auto receivedLow = byteAt(answerHex, kAnswerBodyLength);
    const auto receivedHigh = byteAt(answerHex, kAnswerBodyLength + 1);
    if (!receivedLow || !receivedHigh)
        return std::nullopt;
    const Crc16 crc = crc16(body);
    if (*receivedLow != crc.low || *receivedHigh != crc.high)
        return std::nullopt;
    return body;
}

}  // namespace lumo::modbus
