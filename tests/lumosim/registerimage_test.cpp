#include "alarmbits.h"
#include "crc16.h"
#include "registerimage.h"

#include <gtest/gtest.h>

using namespace lumo::sim;

namespace {

// Instrument 1 with flow 12.5, forward total 1234.5678, empty-pipe alarm,
// velocity 1.25, percent 50, resistance 3.3 and diameter 100: the full answer.
const Bytes workedExample = {
    0x01, 0x03, 0x34, 0x41, 0x48, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0xD2, 0x3F, 0x11, 0x5B,
    0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x3F, 0xA0, 0x00, 0x00, 0x42, 0x48, 0x00, 0x00, 0x40,
    0x53, 0x33, 0x33, 0x42, 0xC8, 0x00, 0x00, 0x9C, 0xC3};

RegisterValues workedExampleValues()
{
    RegisterValues values;
    values.flow = 12.5;
    values.velocity = 1.25;
    values.percent = 50;
    values.resistance = 3.3;
    values.forwardTotal = 1234.5678;
    values.reverseTotal = 0;
    values.diameterMm = 100;
    values.alarms = emptyPipeAlarm;
    return values;
}

TEST(RegisterImage, WorkedExampleByteForByte)
{
    const Bytes answer = readHoldingRegistersAnswer(1, registerImage(workedExampleValues()), 0, 26);
    ASSERT_EQ(answer.size(), 57u);
    EXPECT_EQ(hexText(answer), hexText(workedExample));
}

TEST(RegisterImage, FloatsHaveTheHighWordFirst)
{
    RegisterImage image{};
    putFloatHighWordFirst(image, 0, 12.5f);
    EXPECT_EQ(image[0], 0x4148);
    EXPECT_EQ(image[1], 0x0000);
}

TEST(RegisterImage, EachAlarmHasItsOwnWord)
{
    RegisterValues values;
    values.alarms = excitationAlarm | electrodeAlarm | emptyPipeAlarm | upperLimitAlarm
                    | lowerLimitAlarm;
    const RegisterImage all = registerImage(values);
    for (int reg = 13; reg <= 17; ++reg)
        EXPECT_EQ(all[static_cast<std::size_t>(reg)], 1) << "register " << reg;
    values.alarms = lowerLimitAlarm;
    const RegisterImage lower = registerImage(values);
    EXPECT_EQ(lower[16], 0);
    EXPECT_EQ(lower[17], 1);
}

TEST(RegisterImage, TotalsSplitIntoWholeAndFraction)
{
    RegisterValues values;
    values.reverseTotal = 4294967295.5;
    const RegisterImage image = registerImage(values);
    EXPECT_EQ(image[8], 0xFFFF);
    EXPECT_EQ(image[9], 0xFFFF);
    EXPECT_EQ(image[10], 0x3F00); // 0.5f
    EXPECT_EQ(image[11], 0x0000);
    values.reverseTotal = -3; // a total has no sign: held as 0
    EXPECT_EQ(registerImage(values)[9], 0);
}

TEST(RegisterImage, PartialReadCarriesOnlyTheAskedRegisters)
{
    const Bytes answer = readHoldingRegistersAnswer(1, registerImage(workedExampleValues()), 24, 2);
    EXPECT_EQ(hexText(answer).substr(0, 14), "01030442C80000");
    EXPECT_TRUE(hasValidModbusCrc(answer.data(), answer.size()));
}

TEST(RegisterImage, ExceptionAnswer)
{
    const Bytes answer = exceptionAnswer(1, 0x03, illegalDataAddress);
    EXPECT_EQ(hexText(answer), "018302C0F1");
}

} // namespace
