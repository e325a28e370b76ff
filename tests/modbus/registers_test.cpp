#include "answer.h"
#include "answerframes.h"
#include "fixedpoint.h"
#include "registers.h"

#include "gridmodel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumo::modbus {
namespace {

using testing::Registers;

AnswerBody bodyOf(const Bytes& frame)
{
    AnswerBody body{};
    std::copy(frame.begin(), frame.begin() + static_cast<long>(body.size()), body.begin());
    return body;
}

AnswerBody imageOf(const Registers& regs) { return bodyOf(testing::answerFrame(1, regs)); }

TEST(DecodeRegisters, WorkedExampleGivesTheEightCellTexts)
{
    const RegisterValues values = decodeRegisters(bodyOf(testing::workedExample()));
    const std::array<std::string, 8> expected = {
        "12.5", "1.25", "50", "3.3", "1234.5678", "0", "100", "通讯正常,空管报警",
    };
    EXPECT_EQ(cellTexts(values), expected);
}

TEST(DecodeRegisters, FloatsTakeTheLowerRegisterAsTheHighWord)
{
    Registers regs{};
    regs[0] = 0x4148;  // 12.5 high word first
    regs[1] = 0x0000;
    regs[18] = 0x0000;  // the same words the other way round
    regs[19] = 0x4148;
    const AnswerBody image = imageOf(regs);
    EXPECT_EQ(floatHighWordFirst(image, 0), 12.5f);
    EXPECT_NE(floatHighWordFirst(image, 18), 12.5f);
    EXPECT_EQ(uint32HighWordFirst(image, 0), 0x41480000u);
    EXPECT_EQ(registerWord(image, 1), 0x0000);
}

TEST(DecodeRegisters, EachQuantityFromItsOwnRegisters)
{
    Registers regs{};
    testing::putFloat(regs, 0, 1.0f);
    testing::putUint32(regs, 3, 3);
    testing::putFloat(regs, 5, 0.5f);
    testing::putUint32(regs, 8, 8);
    testing::putFloat(regs, 10, 0.25f);
    regs[13] = 1;
    regs[17] = 1;
    testing::putFloat(regs, 18, 18.0f);
    testing::putFloat(regs, 20, 20.0f);
    testing::putFloat(regs, 22, 22.0f);
    testing::putFloat(regs, 24, 24.0f);
    regs[2] = regs[7] = regs[12] = 0xFFFF;  // unused registers
    const RegisterValues values = decodeRegisters(imageOf(regs));
    const std::array<std::string, 8> expected = {
        "1", "18", "20", "22", "3.5", "8.25", "24", "通讯正常,励磁报警,下限报警",
    };
    EXPECT_EQ(cellTexts(values), expected);
}

struct TotalRow {
    std::uint32_t whole;
    float fraction;
    const char* text;
};

class Totals : public ::testing::TestWithParam<TotalRow> {};

TEST_P(Totals, WholePlusFractionRoundedToFourDecimals)
{
    EXPECT_EQ(fixedPointText(totalOf(GetParam().whole, GetParam().fraction)), GetParam().text)
        << GetParam().whole << " + " << GetParam().fraction;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, Totals,
    ::testing::Values(TotalRow{4294967295u, 0.5f, "4294967295.5"}, TotalRow{10, -0.25f, "9.75"},
                      TotalRow{1234, 0.5678f, "1234.5678"}, TotalRow{0, 0.0f, "0"},
                      // Exact binary ties go to the even last digit.
                      TotalRow{0, 0.03125f, "0.0312"}, TotalRow{0, 0.09375f, "0.0938"},
                      TotalRow{0, 0.15625f, "0.1562"}, TotalRow{0, -0.03125f, "-0.0312"},
                      TotalRow{10, -0.03125f, "9.9688"},
                      // The float lies just above or below the decimal tie.
                      TotalRow{0, 0.12345f, "0.1235"}, TotalRow{0, 0.00025f, "0.0003"},
                      TotalRow{0, 0.00035f, "0.0003"}, TotalRow{0, 0.00005f, "0"},
                      // A fraction may carry a whole part of its own.
                      TotalRow{1, 2.5f, "3.5"},
                      // Not convertible: the total stays 0.
                      TotalRow{7, kNaN, "0"}, TotalRow{7, kInf, "0"}, TotalRow{7, -kInf, "0"},
                      TotalRow{7, 1e15f, "0"}, TotalRow{7, -1e15f, "0"}));

// The largest float whose ten-thousandths still fit in 64 bits.
float largestConvertibleFraction()
{
    float f = 9.2233720e14f;
    while (static_cast<double>(f) * 10000.0 >= 9223372036854775808.0)
        f = std::nextafter(f, 0.0f);
    return f;
}

TEST(Totals, FractionInRangeAloneButNotWithTheWholePartGivesZero)
{
    const float fraction = largestConvertibleFraction();
    ASSERT_TRUE(roundToTenThousandths(fraction).has_value());
    EXPECT_NE(totalOf(0, fraction), 0);
    EXPECT_EQ(totalOf(4294967295u, fraction), 0);
    const auto scaled = static_cast<FixedPoint>(static_cast<double>(fraction) * 1.0e4);
    EXPECT_EQ(totalOf(4294967295u, -fraction), 42949672950000 - scaled);
}

struct TextRow {
    FixedPoint value;
    const char* text;
};

class FixedPointText : public ::testing::TestWithParam<TextRow> {};

TEST_P(FixedPointText, DigitsWithoutTrailingZerosOrExponent)
{
    EXPECT_EQ(fixedPointText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FixedPointText,
    ::testing::Values(TextRow{12345678, "1234.5678"}, TextRow{12345000, "1234.5"}, TextRow{0, "0"},
                      TextRow{42949672955000, "4294967295.5"}, TextRow{97500, "9.75"},
                      TextRow{10000, "1"}, TextRow{1, "0.0001"}, TextRow{100, "0.01"},
                      TextRow{-2500, "-0.25"}, TextRow{-1, "-0.0001"}, TextRow{-10000, "-1"},
                      TextRow{std::numeric_limits<FixedPoint>::max(), "922337203685477.5807"},
                      TextRow{std::numeric_limits<FixedPoint>::min(), "-922337203685477.5808"}));

struct AlarmRow {
    std::array<std::uint16_t, kAlarmWords> words;
    const char* text;
};

class AlarmText : public ::testing::TestWithParam<AlarmRow> {};

TEST_P(AlarmText, OnlyWordsOfExactlyOneAreReported)
{
    Registers regs{};
    for (std::size_t i = 0; i < kAlarmWords; ++i)
        regs[13 + i] = GetParam().words[i];
    EXPECT_EQ(decodeRegisters(imageOf(regs)).alarmText, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, AlarmText,
    ::testing::Values(AlarmRow{{0, 0, 0, 0, 0}, "通讯正常"},
                      AlarmRow{{1, 1, 1, 1, 1}, "通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警"},
                      AlarmRow{{1, 0, 0, 0, 0}, "通讯正常,励磁报警"},
                      AlarmRow{{0, 1, 0, 0, 0}, "通讯正常,电极报警"},
                      AlarmRow{{0, 0, 1, 0, 0}, "通讯正常,空管报警"},
                      AlarmRow{{0, 0, 0, 1, 0}, "通讯正常,上限报警"},
                      AlarmRow{{0, 0, 0, 0, 1}, "通讯正常,下限报警"},
                      AlarmRow{{0x0101, 0x0002, 0xFFFF, 0x0100, 0x0101}, "通讯正常"},
                      AlarmRow{{2, 1, 0x0101, 0, 1}, "通讯正常,电极报警,下限报警"}));

TEST(DecodeRegisters, NonFiniteFloatsStillGiveTheirCells)
{
    Registers regs{};
    testing::putFloat(regs, 0, kNaN);
    testing::putFloat(regs, 5, kNaN);
    const auto texts = cellTexts(decodeRegisters(imageOf(regs)));
    EXPECT_FALSE(texts[kSlotFlow].empty());
    EXPECT_EQ(texts[kSlotForwardTotal], "0");
}

}  // namespace
}  // namespace lumo::modbus
