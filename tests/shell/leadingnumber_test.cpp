#include "leadingnumber.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    double value;
};

TEST(LeadingNumber, ReadsTheNumberAtTheFrontOfTheText)
{
    const Case cases[] = {
        {"13", 13},     {"39", 39},     {"0", 0},       {"", 0},          {"abc", 0},
        {"-5", -5},     {"  7", 7},     {"12abc", 12},  {"1e9", 1e9},     {"1e", 1},
        {"3.5", 3.5},   {".5", 0.5},    {"+4", 4},      {"-", 0},         {".", 0},
        {"40", 40},     {"255", 255},   {"1000", 1000}, {"0200", 200},    {"1 2", 1},
        {"1e999", 0},   {"9 instruments", 9},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(lumo::leadingNumber(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
