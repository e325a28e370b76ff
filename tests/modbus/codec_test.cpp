#include "answer.h"
#include "answerframes.h"
#include "crc16.h"
#include "request.h"

#include <gtest/gtest.h>

#include <string>

namespace lumo::modbus {
namespace {

using testing::bytesOf;
using testing::workedExample;

std::span<const std::uint8_t> asBytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc16, PublishedCheckValue)
{
    const Crc16 crc = crc16(asBytes("123456789"));
    EXPECT_EQ(crc.high, 0x4B);
    EXPECT_EQ(crc.low, 0x37);
    EXPECT_EQ(crc.value(), 0x4B37);
}

TEST(Crc16, NoDataLeavesTheInitialValue)
{
    EXPECT_EQ(crc16({}).value(), 0xFFFF);
}

TEST(Crc16, WorkedExampleCarriesItsCrcLowByteFirst)
{
    const Bytes answer = workedExample();
    const Crc16 crc = crc16(std::span(answer).first(55));
    EXPECT_EQ(crc.low, 0x9C);
    EXPECT_EQ(crc.high, 0xC3);
}

struct RequestRow {
    std::uint8_t address;
    const char* frame;
};

class ReadRequest : public ::testing::TestWithParam<RequestRow> {};

TEST_P(ReadRequest, IsTheKnownFrame)
{
    const Bytes expected = bytesOf(GetParam().frame);
    const RequestFrame frame = readRequest(GetParam().address);
    EXPECT_EQ(Bytes(frame.begin(), frame.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(KnownAddresses, ReadRequest,
                         ::testing::Values(RequestRow{1, "01 03 00 00 00 1A C4 01"},
                                           RequestRow{2, "02 03 00 00 00 1A C4 32"},
                                           RequestRow{13, "0D 03 00 00 00 1A C4 CD"},
                                           RequestRow{14, "0E 03 00 00 00 1A C4 FE"},
                                           RequestRow{27, "1B 03 00 00 00 1A C6 3B"},
                                           RequestRow{39, "27 03 00 00 00 1A C3 07"}));

struct HexRow {
    const char* bytes;
    const char* text;
};

class HexText : public ::testing::TestWithParam<HexRow> {};

TEST_P(HexText, TwoUpperCaseDigitsPerByte)
{
    EXPECT_EQ(hexText(bytesOf(GetParam().bytes)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Bytes, HexText,
                         ::testing::Values(HexRow{"01 03 34", "010334"}, HexRow{"0A", "0A"},
                                           HexRow{"FF", "FF"}, HexRow{"00 AB 9c", "00AB9C"},
                                           HexRow{"", ""}));

TEST(AcceptAnswer, TakesTheWorkedExample)
{
    const Bytes answer = workedExample();
    const auto accepted = acceptAnswerHex(hexText(answer));
    ASSERT_TRUE(accepted.has_value());
    EXPECT_EQ(Bytes(accepted->begin(), accepted->end()), Bytes(answer.begin(), answer.begin() + 55));
}

TEST(AcceptAnswer, RefusesOneByteMoreOrLess)
{
    Bytes longer = workedExample();
    longer.push_back(0x00);
    Bytes shorter = workedExample();
    shorter.pop_back();
    Bytes noisyStart = workedExample();
    noisyStart.insert(noisyStart.begin(), 0xFF);
    EXPECT_FALSE(acceptAnswerHex(hexText(longer)));
    EXPECT_FALSE(acceptAnswerHex(hexText(shorter)));
    EXPECT_FALSE(acceptAnswerHex(hexText(noisyStart)));
    EXPECT_FALSE(acceptAnswerHex(""));
}

TEST(AcceptAnswer, RefusesSwappedCrcBytes)
{
    Bytes swapped = workedExample();
    std::swap(swapped[55], swapped[56]);
    EXPECT_FALSE(acceptAnswerHex(hexText(swapped)));
}

TEST(AcceptAnswer, RefusesEveryFlippedBit)
{
    const Bytes answer = workedExample();
    for (std::size_t i = 0; i < answer.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = answer;
            flipped[i] ^= static_cast<std::uint8_t>(1u << bit);
            EXPECT_FALSE(acceptAnswerHex(hexText(flipped))) << "byte " << i << " bit " << bit;
        }
    }
}

TEST(AcceptAnswer, DoesNotLookAtFunctionCodeOrByteCount)
{
    Bytes odd = workedExample();
    odd[1] = 0x04;
    odd[2] = 0x00;
    odd.resize(55);
    EXPECT_TRUE(acceptAnswerHex(hexText(testing::withCrc(odd))));
}

TEST(AcceptAnswer, RefusesCharactersThatAreNotHexDigits)
{
    std::string text = hexText(workedExample());
    text[10] = 'G';
    EXPECT_FALSE(acceptAnswerHex(text));
    text[10] = ' ';
    EXPECT_FALSE(acceptAnswerHex(text));
}

}  // namespace
}  // namespace lumo::modbus
