#include "registers.h"

#include "alarmtext.h"
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


}  // namespace

std::uint16_t registerWord(const AnswerBody& answer, int reg)
{
    const std::size_t at = 3 + 2 * static_cast<std::size_t>(reg);
    return static_cast<std::uint16_t>(answer.at(at) << 8 | answer.at(at + 1));
}

std::uint32_t uint32HighWordFirst(const AnswerBody& answer, int reg)
{
    return static_cast<std::uint32_t>(registerWord(answer, reg)) << 16 | registerWord(answer, reg + 1);
}

float floatHighWordFirst(const AnswerBody& answer, int reg)
{
    return std::bit_cast<float>(uint32HighWordFirst(answer, reg));
}

namespace {

// Only the value 1 raises an alarm; 2, 0x0101 or 0xFFFF do not.
AlarmFlags alarmFlags(const std::array<std::uint16_t, kAlarmWords>& alarmWords)
{
    AlarmFlags raised{};
    for (std::size_t i = 0; i < kAlarmWords; ++i)
        raised[i] = alarmWords[i] == 1;
    return raised;
}

}  // namespace

std::string alarmText(const std::array<std::uint16_t, kAlarmWords>& alarmWords)
{
    return lumo::alarmText(alarmFlags(alarmWords));
}

RegisterValues decodeRegisters(const AnswerBody& answer)
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

InstrumentTexts cellTexts(const RegisterValues& values)
{
    InstrumentTexts texts;
    texts[kSlotFlow] = numberText(values.flowValue);
    texts[kSlotVelocity] = numberText(values.velocityValue);
    texts[kSlotPercent] = numberText(values.percentValue);
    texts[kSlotResistance] = numberText(values.resistanceValue);
    texts[kSlotForwardTotal] = fixedPointText(values.forwardTotal);
    texts[kSlotReverseTotal] = fixedPointText(values.reverseTotal);
    texts[kSlotPipeDiameter] = numberText(values.pipeDiameter);
    texts[kSlotAlarm] = values.alarmText;
    return texts;
}

InstrumentReading readingOf(const RegisterValues& values)
{
    InstrumentReading reading{cellTexts(values), {}, alarmFlags(values.alarmWords)};
    reading.quantities[kSlotFlow] = Quantity::ofFloat(values.flowValue);
    reading.quantities[kSlotVelocity] = Quantity::ofFloat(values.velocityValue);
    reading.quantities[kSlotPercent] = Quantity::ofFloat(values.percentValue);
    reading.quantities[kSlotResistance] = Quantity::ofFloat(values.resistanceValue);
    reading.quantities[kSlotForwardTotal] = Quantity::ofTenThousandths(values.forwardTotal);
    reading.quantities[kSlotReverseTotal] = Quantity::ofTenThousandths(values.reverseTotal);
    reading.quantities[kSlotPipeDiameter] = Quantity::ofFloat(values.pipeDiameter);
    reading.fresh.fill(true);
    return reading;
}

}  // namespace lumo::modbus
