#include "blockanswer.h"

#include <cmath>
#include <cstdint>

namespace lumo::sim {

namespace {

constexpr int diameterTable[39] = {
    3,   6,   8,   10,  15,  20,  25,  32,   40,   50,   65,   80,   100,
    125, 150, 200, 250, 300, 350, 400, 450,  500,  600,  700,  800,  900,
    1000, 1100, 1200, 1300, 1400, 1600, 1800, 2000, 2200, 2400, 2600, 2800, 3000};

constexpr std::uint64_t sixDigitsMax = 999999;
constexpr std::uint64_t fourDigitsMax = 9999;
constexpr std::uint64_t tenDigitsMax = 9999999999ULL;

// The raw digits R holding magnitude with `decimals` decimals; a negative
// count stands for a positive power of ten the master multiplies by.
std::uint64_t rawDigits(double magnitude, int decimals)
{
    const double scaled = decimals >= 0 ? magnitude * std::pow(10.0, decimals)
                                        : magnitude / std::pow(10.0, -decimals);
    if (!(scaled >= 0.0))
        return 0;
    if (scaled > 1e18)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(std::llround(scaled));
}

// R with `decimals` decimals as an exact decimal text, trailing zeros dropped.
std::string decimalText(std::uint64_t raw, int decimals, bool negative)
{
    std::string digits = std::to_string(raw);
    if (decimals < 0) {
        if (raw != 0)
            digits.append(static_cast<std::size_t>(-decimals), '0');
    } else if (decimals > 0) {
        const auto places = static_cast<std::size_t>(decimals);
        if (digits.size() <= places)
            digits = std::string(places + 1 - digits.size(), '0') + digits;
        const std::string whole = digits.substr(0, digits.size() - places);
        std::string fraction = digits.substr(digits.size() - places);
        while (!fraction.empty() && fraction.back() == '0')
            fraction.pop_back();
        digits = fraction.empty() ? whole : whole + "." + fraction;
    }
    if (negative && raw != 0)
        return "-" + digits;
    return digits;
}

struct Digits {
    std::uint64_t raw = 0;
    bool clamped = false;
};

Digits fitDigits(double magnitude, int decimals, std::uint64_t max)
{
    const std::uint64_t raw = rawDigits(magnitude, decimals);
    if (raw > max)
        return {max, true};
    return {raw, false};
}

// Writes R as BCD, least significant pair first, into payload[0..pairs).
void putBcdDigits(BlockPayload& payload, std::uint64_t raw, int pairs)
{
    for (int i = 0; i < pairs; ++i) {
        payload[static_cast<std::size_t>(i)] = bcdByte(static_cast<unsigned>(raw % 100));
        raw /= 100;
    }
}

} // namespace

std::uint8_t bcdByte(unsigned twoDigits)
{
    return static_cast<std::uint8_t>(((twoDigits / 10) % 10) << 4 | (twoDigits % 10));
}

EncodedBlock encodeFlow(double value, std::optional<int> exponentCode)
{
    const double magnitude = std::fabs(value);
    int code = exponentCode.value_or(0);
    if (!exponentCode) {
        while (code < 10 && rawDigits(magnitude, 5 - code) > sixDigitsMax)
            ++code;
    }
    const int decimals = code <= 10 ? 5 - code : 0;
    const Digits digits = fitDigits(magnitude, decimals, sixDigitsMax);
    EncodedBlock block;
    putBcdDigits(block.payload, digits.raw, 3);
    block.payload[3] = static_cast<std::uint8_t>(code);
    block.payload[5] = value < 0 ? 0x01 : 0x00;
    block.valueText = decimalText(digits.raw, decimals, value < 0);
    block.clamped = digits.clamped;
    return block;
}

EncodedBlock encodeVelocity(double value, std::optional<int> decimalsCode)
{
    const double magnitude = std::fabs(value);
    int code = decimalsCode.value_or(4);
    if (!decimalsCode) {
        while (code > 0 && rawDigits(magnitude, code) > sixDigitsMax)
            --code;
    }
    const int decimals = code <= 4 ? code : 0;
    const Digits digits = fitDigits(magnitude, decimals, sixDigitsMax);
    EncodedBlock block;
    putBcdDigits(block.payload, digits.raw, 3);
    block.payload[4] = static_cast<std::uint8_t>(code);
    block.payload[5] = value < 0 ? 0x01 : 0x00;
    block.valueText = decimalText(digits.raw, decimals, value < 0);
    block.clamped = digits.clamped;
    return block;
}

EncodedBlock encodePercent(double value)
{
    const Digits digits = fitDigits(std::fabs(value), 1, fourDigitsMax);
    EncodedBlock block;
    putBcdDigits(block.payload, digits.raw, 2);
    block.payload[5] = value < 0 ? 0x01 : 0x00;
    block.valueText = decimalText(digits.raw, 1, value < 0);
    block.clamped = digits.clamped;
    return block;
}

EncodedBlock encodeResistance(double value)
{
    const Digits digits = fitDigits(value < 0 ? 0.0 : value, 1, sixDigitsMax);
    EncodedBlock block;
    putBcdDigits(block.payload, digits.raw, 3);
    block.valueText = decimalText(digits.raw, 1, false);
    block.clamped = digits.clamped || value < 0;
    return block;
}

EncodedBlock encodeTotal(double value, std::optional<int> decimalsCode)
{
    const double magnitude = value < 0 ? 0.0 : value;
    int code = decimalsCode.value_or(0);
    if (!decimalsCode) {
        while (code < 3 && rawDigits(magnitude, 3 - code) > tenDigitsMax)
            ++code;
    }
    const int decimals = code <= 15 ? 3 - code % 4 : 0;
    const Digits digits = fitDigits(magnitude, decimals, tenDigitsMax);
    EncodedBlock block;
    putBcdDigits(block.payload, digits.raw, 5);
    block.payload[5] = static_cast<std::uint8_t>(code);
    block.valueText = decimalText(digits.raw, decimals, false);
    block.clamped = digits.clamped || value < 0;
    return block;
}

EncodedBlock encodeAlarmByte(std::uint8_t bits)
{
    EncodedBlock block;
    block.payload[0] = bits;
    return block;
}

EncodedBlock encodeDiameterCode(std::uint8_t code)
{
    EncodedBlock block;
    block.payload[0] = code;
    if (const auto mm = diameterMmOfCode(code))
        block.valueText = std::to_string(*mm);
    return block;
}

std::optional<std::uint8_t> diameterCodeOfMm(double mm)
{
    for (std::size_t code = 0; code < std::size(diameterTable); ++code) {
        if (diameterTable[code] == mm)
            return static_cast<std::uint8_t>(code);
    }
    return std::nullopt;
}

std::optional<int> diameterMmOfCode(std::uint8_t code)
{
    if (code < std::size(diameterTable))
        return diameterTable[code];
    return std::nullopt;
}

std::uint8_t blockCheckByte(const BlockPayload& payload)
{
    std::uint8_t check = 0;
    for (std::uint8_t byte : payload)
        check ^= byte;
    return check;
}

Bytes blockAnswer(std::uint8_t address, std::uint8_t block, const BlockPayload& payload)
{
    Bytes answer(10);
    answer[0] = address;
    answer[1] = block;
    for (std::size_t i = 0; i < payload.size(); ++i)
        answer[2 + i] = payload[i];
    answer[8] = blockCheckByte(payload);
    answer[9] = blockAnswerEnd;
    return answer;
}

} // namespace lumo::sim
