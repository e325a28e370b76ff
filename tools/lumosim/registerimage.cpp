#include "registerimage.h"

#include "alarmbits.h"
#include "crc16.h"

#include <bit>
#include <cmath>

namespace lumo::sim {

namespace {

constexpr int flowRegister = 0;
constexpr int forwardWholeRegister = 3;
constexpr int forwardFractionRegister = 5;
constexpr int reverseWholeRegister = 8;
constexpr int reverseFractionRegister = 10;
constexpr int firstAlarmRegister = 13;
constexpr int velocityRegister = 18;
constexpr int percentRegister = 20;
constexpr int resistanceRegister = 22;
constexpr int diameterRegister = 24;

void putTotal(RegisterImage& image, int wholeRegister, int fractionRegister, double total)
{
    if (!(total > 0.0))
        total = 0.0;
    double whole = std::floor(total);
    if (whole > 4294967295.0)
        whole = 4294967295.0;
    putUint32HighWordFirst(image, wholeRegister, static_cast<std::uint32_t>(whole));
    putFloatHighWordFirst(image, fractionRegister, static_cast<float>(total - whole));
}

} // namespace

void putUint32HighWordFirst(RegisterImage& image, int firstRegister, std::uint32_t value)
{
    image[static_cast<std::size_t>(firstRegister)] = static_cast<std::uint16_t>(value >> 16);
    image[static_cast<std::size_t>(firstRegister) + 1] = static_cast<std::uint16_t>(value);
}

void putFloatHighWordFirst(RegisterImage& image, int firstRegister, float value)
{
    putUint32HighWordFirst(image, firstRegister, std::bit_cast<std::uint32_t>(value));
}

RegisterImage registerImage(const RegisterValues& values)
{
    RegisterImage image{};
    putFloatHighWordFirst(image, flowRegister, static_cast<float>(values.flow));
    putTotal(image, forwardWholeRegister, forwardFractionRegister, values.forwardTotal);
    putTotal(image, reverseWholeRegister, reverseFractionRegister, values.reverseTotal);
    for (int i = 0; i < 5; ++i) {
        if (values.alarms & alarmBitsInRegisterOrder[i])
            image[static_cast<std::size_t>(firstAlarmRegister + i)] = 1;
    }
    putFloatHighWordFirst(image, velocityRegister, static_cast<float>(values.velocity));
    putFloatHighWordFirst(image, percentRegister, static_cast<float>(values.percent));
    putFloatHighWordFirst(image, resistanceRegister, static_cast<float>(values.resistance));
    putFloatHighWordFirst(image, diameterRegister, static_cast<float>(values.diameterMm));
    return image;
}

Bytes readHoldingRegistersAnswer(std::uint8_t address, const RegisterImage& image, int start,
                                 int count)
{
    Bytes answer{address, readHoldingRegisters, static_cast<std::uint8_t>(count * 2)};
    for (int k = start; k < start + count; ++k) {
        const std::uint16_t word = image[static_cast<std::size_t>(k)];
        answer.push_back(static_cast<std::uint8_t>(word >> 8));
        answer.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    appendModbusCrc(answer);
    return answer;
}

Bytes exceptionAnswer(std::uint8_t address, std::uint8_t function, std::uint8_t code)
{
    Bytes answer{address, static_cast<std::uint8_t>(function | 0x80), code};
    appendModbusCrc(answer);
    return answer;
}

} // namespace lumo::sim
