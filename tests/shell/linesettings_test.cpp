// Line settings texts taken apart, and what a character takes on the wire.

#include "linesettings.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

struct GoodSettings {
    const char* text;
    int baud;
    Parity parity;
    int dataBits;
    StopBits stopBits;
};

TEST(LineSettingsText, WellFormedTextsAreTakenApart)
{
    const GoodSettings rows[] = {
        {"9600,n,8,1", 9600, Parity::None, 8, StopBits::One},
        {"600,n,8,1", 600, Parity::None, 8, StopBits::One},
        {"14400,n,8,1", 14400, Parity::None, 8, StopBits::One},
        {"19200,N,8,1", 19200, Parity::None, 8, StopBits::One},
        {"4800,e,7,2", 4800, Parity::Even, 7, StopBits::Two},
        {"2400,O,6,1.5", 2400, Parity::Odd, 6, StopBits::OneAndHalf},
        {"1200,m,5,1", 1200, Parity::Mark, 5, StopBits::One},
        {"115200,S,8,2", 115200, Parity::Space, 8, StopBits::Two},
        {" 9600 , n , 8 , 1 ", 9600, Parity::None, 8, StopBits::One},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = parseLineSettings(row.text);
        ASSERT_TRUE(parsed.ok()) << parsed.error();
        EXPECT_EQ(parsed.value().baud, row.baud);
        EXPECT_EQ(parsed.value().parity, row.parity);
        EXPECT_EQ(parsed.value().dataBits, row.dataBits);
        EXPECT_EQ(parsed.value().stopBits, row.stopBits);
    }
}

TEST(LineSettingsText, MalformedTextsFailWithTheText)
{
    const char* rows[] = {
        "", "9600", "9600,n,8", "9600,n,8,1,", "9600,n,8,1,1", ",n,8,1", "abc,n,8,1",
        "96 00,n,8,1", "9600x,n,8,1", "0,n,8,1", "-9600,n,8,1", "99999999999,n,8,1",
        "9600,,8,1", "9600,x,8,1", "9600,nn,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8.0,1",
        "9600,n,8,0", "9600,n,8,3", "9600,n,8,1.2", "9600;n;8;1",
    };
    for (const char* row : rows) {
        SCOPED_TRACE(row);
        const auto parsed = parseLineSettings(row);
        ASSERT_FALSE(parsed.ok());
        EXPECT_NE(parsed.error().find(std::string("\"") + row + "\""), std::string::npos) << parsed.error();
    }
}

TEST(LineSettingsText, TheTypedFormReadsBackAsItsText)
{
    for (const char* text : {"9600,n,8,1", "19200,e,7,2", "2400,o,6,1.5", "600,s,5,1"}) {
        const auto parsed = parseLineSettings(text);
        ASSERT_TRUE(parsed.ok()) << text;
        EXPECT_EQ(parsed.value().text(), text);
    }
}

TEST(LineSettingsText, CharacterAndBitTimes)
{
    const struct {
        const char* text;
        int bits;
        long long tenCharactersUs;
    } rows[] = {{"9600,n,8,1", 10, 10417}, {"19200,n,8,1", 10, 5209}, {"9600,e,8,1", 11, 11459},
                {"9600,n,8,2", 11, 11459}, {"1200,n,7,1", 9, 75000},  {"2400,o,6,1.5", 9, 37500}};
    for (const auto& row : rows) {
        const LineSettings line = parseLineSettings(row.text).value();
        EXPECT_EQ(line.bitsPerCharacter(), row.bits) << row.text;
        EXPECT_EQ(line.timeOfBits(10LL * line.bitsPerCharacter()).count(), row.tenCharactersUs) << row.text;
    }
}

}  // namespace
}  // namespace lumo
