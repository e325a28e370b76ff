#include "crc16.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumo::sim;

namespace {

Bytes fromText(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

TEST(ModbusCrc16, CheckValueOfTheStandardText)
{
    EXPECT_EQ(modbusCrc16(fromText("123456789")), 0x4B37);
}

TEST(ModbusCrc16, EmptyInputLeavesTheInitialValue)
{
    EXPECT_EQ(modbusCrc16(Bytes{}), 0xFFFF);
}

struct RequestCase {
    std::uint8_t address;
    std::uint8_t crcLow;
    std::uint8_t crcHigh;
};

// Read requests for 26 registers from register 0, as the master sends them.
TEST(ModbusCrc16, SealsTheKnownReadRequestsLowByteFirst)
{
    const RequestCase cases[] = {
        {1, 0xC4, 0x01},  {2, 0xC4, 0x32},  {13, 0xC4, 0xCD},
        {14, 0xC4, 0xFE}, {27, 0xC6, 0x3B}, {39, 0xC3, 0x07},
    };
    for (const auto& c : cases) {
        Bytes frame{c.address, 0x03, 0x00, 0x00, 0x00, 0x1A};
        appendModbusCrc(frame);
        ASSERT_EQ(frame.size(), 8u);
        EXPECT_EQ(frame[6], c.crcLow) << "address " << int(c.address);
        EXPECT_EQ(frame[7], c.crcHigh) << "address " << int(c.address);
        EXPECT_TRUE(hasValidModbusCrc(frame.data(), frame.size()));
    }
}

TEST(ModbusCrc16, RejectsExchangedCrcBytes)
{
    Bytes frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x1A, 0x01, 0xC4};
    EXPECT_FALSE(hasValidModbusCrc(frame.data(), frame.size()));
}

TEST(HexText, UpperCaseTwoDigitsPerByte)
{
    EXPECT_EQ(hexText({0x2A, 0x01, 0x00, 0x2E}), "2A01002E");
    EXPECT_EQ(hexText({0x0A, 0xFF}), "0AFF");
}

} // namespace
