#include "registers.h"

#include "numbertext.h"

#include <bit>
#include <string_view>

namespace lumo::modbus {

namespace {

// First register of each quantity.
constexpr int kFlowRegister = 0;
constexpr int kForwardWholeRegister = 3;
constexpr int kForwardFractionRegister = 5;
constexpr int kReverseWholeRegister = 8;
constexpr int kReverseFractionRegister = 10;
constexpr int kFirstAlarmRegister = 13;
constexpr int kVelocityRegister = 18;
constexpr int kPercentRegister = 20;
constexpr int kResistanceRegister = 22;
constexpr int kPipeDiameterRegister = 24;

constexpr std::array<std::string_view, kAlarmWords> kAlarmNames = {
    ",励磁报警", ",电极报警", ",空管报警", ",上限报警", ",下限报警",
};

}  // namespace

std::uint16_t registerWord(const AnswerBytes& answer, int reg)
{
    const std::size_t at = 3 + 2 * static_cast<std::size_t>(reg);
    return static_cast<std::uint16_t>(answer.at(at) << 8 | answer.at(at + 1));
}

std::uint32_t uint32HighWordFirst(const AnswerBytes& answer, int reg)
{
    return static_cast<std::uint32_t>(registerWord(answer, reg)) << 16 | registerWord(answer, reg + 1);
}

float floatHighWordFirst(const AnswerBytes& answer, int reg)
{
    return std::bit_cast<float>(uint32HighWordFirst(answer, reg));
}

std::string alarmText(const std::array<std::uint16_t, kAlarmWords>& alarmWords)
{
    std::string text = "通讯正常";
    for (std::size_t i = 0; i < kAlarmWords; ++i) {
        // Only the value 1 raises an alarm; 2, 0x0101 or 0xFFFF do not.
        if (alarmWords[i] == 1)
            text += kAlarmNames[i];
    }
    return text;
}

RegisterValues decodeRegisters(const AnswerBytes& answer)
{
    RegisterValues values;
    values.flowValue = floatHighWordFirst(answer, kFlowRegister);
    values.velocityValue = floatHighWordFirst(answer, kVelocityRegister);
    values.percentValue = floatHighWordFirst(answer, kPercentRegister);
    values.resistanceValue = floatHighWordFirst(answer, kResistanceRegister);
    values.pipeDiameter = floatHighWordFirst(answer, kPipeDiameterRegister);
    values.forwardTotal = totalOf(uint32HighWordFirst(answer, kForwardWholeRegister),
                                  floatHighWordFirst(answer, kForwardFractionRegister));
    values.reverseTotal = totalOf(uint32HighWordFirst(answer, kReverseWholeRegister),
                                  floatHighWordFirst(answer, kReverseFractionRegister));
    for (std::size_t i = 0; i < kAlarmWords; ++i)
        values.alarmWords[i] = registerWord(answer, kFirstAlarmRegister + static_cast<int>(i));
    values.alarmText = alarmText(values.alarmWords);
    return values;
}

std::array<std::string, 8> cellTexts(const RegisterValues& values)
{
    return {
        numberText(values.flowValue),
        numberText(values.velocityValue),
        numberText(values.percentValue),
        numberText(values.resistanceValue),
        fixedPointText(values.forwardTotal),
        fixedPointText(values.reverseTotal),
        numberText(values.pipeDiameter),
        values.alarmText,
    };
}

}  // namespace lumo::modbus
