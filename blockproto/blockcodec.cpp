#include "blockcodec.h"

#include "alarmtext.h"
#include "numbertext.h"

#include <cmath>

namespace lumo::block {

namespace {

double roundToDecimals(double quotient, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(quotient * scale) / scale;
}

// R / 10^decimals rounded to those decimals, held as float; 0 decimals is R.
float scaledDown(double raw, int decimals)
{
    if (decimals == 0)
        return static_cast<float>(raw);
    return static_cast<float>(roundToDecimals(raw / std::pow(10.0, decimals), decimals));
}

// Three BCD bytes 2, 3, 4 as one number, byte 4 the most significant.
double threeBcdDigitPairs(const Answer& a)
{
    return bcdByteValue(a[4]) * 10000.0 + bcdByteValue(a[3]) * 100.0 + bcdByteValue(a[2]);
}

float negatedIf(bool negative, float value)
{
    return negative ? -value : value;
}

constexpr float kDiameterMm[] = {
    3,    6,    8,    10,   15,   20,   25,   32,   40,   50,   65,   80,   100,
    125,  150,  200,  250,  300,  350,  400,  450,  500,  600,  700,  800,  900,
    1000, 1100, 1200, 1300, 1400, 1600, 1800, 2000, 2200, 2400, 2600, 2800, 3000,
};

std::string textOf(const std::optional<float>& value)
{
    return value ? numberText(*value) : std::string();
}

}  // namespace

Request requestFrame(std::uint8_t address, std::uint8_t block)
{
    return {kRequestStart, address, block, kRequestEnd};
}

std::uint8_t payloadCheck(const Answer& answer)
{
    std::uint8_t check = 0;
    for (int i = 2; i <= 7; ++i)
        check ^= answer[i];
    return check;
}

bool acceptAnswer(const Answer& answer, std::uint8_t currentAddressByte, std::uint8_t sentBlockIndex)
{
    return !rejectionOf(answer, currentAddressByte, sentBlockIndex);
}

std::optional<Rejection> rejectionOf(const Answer& answer, std::uint8_t currentAddressByte,
                                     std::uint8_t sentBlockIndex)
{
    if (answer[9] != kAnswerEnd)
        return Rejection::Length;
    if (payloadCheck(answer) != answer[8])
        return Rejection::Check;
    if (answer[0] != currentAddressByte)
        return Rejection::Foreign;
    if (answer[1] != sentBlockIndex)
        return Rejection::Echo;
    return std::nullopt;
}

int bcdByteValue(std::uint8_t byte)
{
    return (byte / 16) * 10 + byte % 16;
}

float flowValue(const Answer& a)
{
    // Exponent code e in byte 5 gives R x 10^(e - 5); codes above 10 leave R
    // unscaled. Only bit 0 of byte 7 is the sign.
    const double raw = threeBcdDigitPairs(a);
    const int e = a[5];
    float value;
    if (e < 5)
        value = scaledDown(raw, 5 - e);
    else if (e <= 10)
        value = static_cast<float>(raw * std::pow(10.0, e - 5));
    else
        value = static_cast<float>(raw);
    return negatedIf((a[7] & 0x01) != 0, value);
}

float velocityValue(const Answer& a)
{
    // Decimals code in byte 6: 0..4 decimals, 5..255 unscaled. Any non-zero
    // byte 7 is a minus sign.
    const int code = a[6];
    const float value = scaledDown(threeBcdDigitPairs(a), code <= 4 ? code : 0);
    return negatedIf(a[7] != 0, value);
}

float percentValue(const Answer& a)
{
    const double raw = bcdByteValue(a[3]) * 100.0 + bcdByteValue(a[2]);
    return negatedIf(a[7] != 0, scaledDown(raw, 1));
}

float resistanceValue(const Answer& a)
{
    // No sign: byte 7 is not part of this block.
    return scaledDown(threeBcdDigitPairs(a), 1);
}

float totalValue(const Answer& a)
{
    // Up to ten digits, exact in double; the float keeps about seven. Codes
    // 0..15 count by their two low bits (3, 2, 1, 0 decimals); from 16 on the
    // total is unscaled. Totals have no sign.
    const double raw = bcdByteValue(a[6]) * 1e8 + bcdByteValue(a[5]) * 1e6 + bcdByteValue(a[4]) * 1e4 +
                       bcdByteValue(a[3]) * 100.0 + bcdByteValue(a[2]);
    const int code = a[7];
    const int decimals = code < 16 ? 3 - (code & 0x03) : 0;
    return scaledDown(raw, decimals);
}

AlarmFlags alarmFlags(std::uint8_t alarmBits)
{
    AlarmFlags raised{};
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        raised[i] = (alarmBits >> (i + 1) & 0x01) != 0;
    return raised;
}

std::string alarmText(std::uint8_t alarmBits) { return lumo::alarmText(alarmFlags(alarmBits)); }

std::optional<float> pipeDiameter(std::uint8_t code)
{
    if (code >= std::size(kDiameterMm))
        return std::nullopt;
    return kDiameterMm[code];
}

void decodeBlock(std::uint8_t block, const Answer& answer, DecodedValues& values)
{
    switch (block) {
    case 0: values.flowValue = flowValue(answer); break;
    case 1: values.velocityValue = velocityValue(answer); break;
    case 2: values.percentValue = percentValue(answer); break;
    case 3: values.resistanceValue = resistanceValue(answer); break;
    case 4: values.forwardTotal = totalValue(answer); break;
    case 5: values.reverseTotal = totalValue(answer); break;
    case 6:
        values.alarmText = alarmText(answer[2]);
        values.alarms = alarmFlags(answer[2]);
        break;
    case 7:
        if (auto diameter = pipeDiameter(answer[2]))
            values.pipeDiameter = diameter;
        break;
    default: break;
    }
}

int slotOfBlock(int block)
{
    if (block == 6)
        return 7;
    if (block == 7)
        return 6;
    return block;
}

namespace {

// The numeric quantities by block; block 6 is the alarm status.
std::array<std::optional<float>, kBlockCount> numbersByBlock(const DecodedValues& v)
{
    return {v.flowValue, v.velocityValue, v.percentValue, v.resistanceValue,
            v.forwardTotal, v.reverseTotal, std::nullopt, v.pipeDiameter};
}

}  // namespace

InstrumentTexts cellTexts(const DecodedValues& v)
{
    const auto numbers = numbersByBlock(v);
    InstrumentTexts texts;
    for (int block = 0; block < kBlockCount; ++block)
        texts[static_cast<std::size_t>(slotOfBlock(block))] = textOf(numbers[static_cast<std::size_t>(block)]);
    texts[kSlotAlarm] = v.alarmText.value_or(std::string());
    return texts;
}

InstrumentReading readingOf(const DecodedValues& v)
{
    InstrumentReading reading{cellTexts(v), {}, v.alarms};
    const auto numbers = numbersByBlock(v);
    for (int block = 0; block < kBlockCount; ++block) {
        const int slot = slotOfBlock(block);
        if (slot < kNumericSlots && numbers[static_cast<std::size_t>(block)])
            reading.quantities[static_cast<std::size_t>(slot)] = Quantity::ofFloat(*numbers[static_cast<std::size_t>(block)]);
    }
    return reading;
}

}  // namespace lumo::block
