#pragma once
// The answer to the read request: address, function code 0x03, byte count
// 0x34, 26 registers of two bytes (high byte first), CRC low byte, CRC high
// byte: 57 bytes. The receive handler passes it on as hexadecimal text, two
// characters per byte, so a complete answer is 114 characters.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumo::modbus {

inline constexpr std::size_t kAnswerLength = 57;
inline constexpr std::size_t kAnswerHexLength = 2 * kAnswerLength;
// The bytes the CRC covers: everything before the CRC itself.
inline constexpr std::size_t kAnswerBodyLength = kAnswerLength - 2;

// The answer without its CRC: address, function, byte count, registers.
using AnswerBody = std::array<std::uint8_t, kAnswerBodyLength>;

// ReceivedHex: two upper-case digits per byte, a leading 0 below 0x10.
std::string hexText(std::span<const std::uint8_t> bytes);

// The decoder's check of the received text: the answer's bytes 0..54 if the
// text is exactly 114 hexadecimal characters and the CRC of those bytes
// equals byte 55 (low) and 56 (high). Neither the address, the function code
// nor the byte count is compared.
std::optional<AnswerBody> acceptAnswerHex(std::string_view answerHex);

}  // namespace lumo::modbus
