#include "numbertext.h"

#include "leadingnumber.h"

#include <clocale>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

struct Case {
    float value;
    const char* text;
};

TEST(NumberText, RendersAtMostSevenSignificantDigits)
{
    const Case cases[] = {
        {563.412f, "563.412"},
        {120.0f, "120"},
        {0.5f, "0.5"},
        {-150.0f, "-150"},
        {0.00001f, "1E-05"},
        {1234567.875f, "1234568"},
        {12345678.0f, "1.234568E+07"},
        {1.0f / 3.0f, "0.3333333"},
        {3.3f, "3.3"},
        {std::numeric_limits<float>::denorm_min(), "1.401298E-45"},
        {12.5f, "12.5"},
        {100.0f, "100"},
        {-1.5f, "-1.5"},
        {0.0001f, "0.0001"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {1234567.89f, "1234568"},
        {1200.0f, "1200"},
        {123.4f, "123.4"},
        {9999999.0f, "9999999"},
        {10000000.0f, "1E+07"},
        {-0.00001f, "-1E-05"},
        {0.000123f, "0.000123"},
        {3.4028235e38f, "3.402823E+38"},
        {1.25f, "1.25"},
        {50.0f, "50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lumo::numberText(c.value), c.text) << c.value;
}

TEST(NumberText, NonFiniteValuesReadClearly)
{
    EXPECT_EQ(lumo::numberText(std::numeric_limits<float>::infinity()), "Inf");
    EXPECT_EQ(lumo::numberText(-std::numeric_limits<float>::infinity()), "-Inf");
    EXPECT_EQ(lumo::numberText(std::nanf("")), "NaN");
}

// Qt sets the user's locale at start; a desktop in German writes 563,412
// with the C library's conversions. The texts must not follow it.
TEST(NumberText, NumbersDoNotFollowTheLocale)
{
    const std::string before = std::setlocale(LC_ALL, nullptr);
    // glibc's name (scripts/setup.sh makes the locale), then the Windows
    // C runtime's.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "German_Germany.1252"))
        GTEST_SKIP() << "the C library knows no German locale here (de_DE.UTF-8, German_Germany.1252)";
    const std::string decimal = lumo::numberText(563.412f), large = lumo::numberText(12345678.0f);
    const double count = lumo::leadingNumber("13.5");
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(decimal, "563.412");
    EXPECT_EQ(large, "1.234568E+07");
    EXPECT_DOUBLE_EQ(count, 13.5);
}

}  // namespace
