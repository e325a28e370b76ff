#include "baudtable.h"

#include <gtest/gtest.h>

namespace {

TEST(BaudTable, StoredTextSelectsTheLineSettings)
{
    const std::pair<const char*, const char*> cases[] = {
        {"600", "600,n,8,1"},     {"1200", "1200,n,8,1"},   {"2400", "2400,n,8,1"},
        {"4800", "4800,n,8,1"},   {"9600", "9600,n,8,1"},   {"14400", "14400,n,8,1"},
        {"19200", "19200,n,8,1"}, {"38400", "9600,n,8,1"},  {"19200 ", "9600,n,8,1"},
        {" 9600", "9600,n,8,1"},  {"", "9600,n,8,1"},       {"abc", "9600,n,8,1"},
    };
    for (const auto& [text, settings] : cases)
        EXPECT_EQ(lumo::lineSettingsForBaudText(text).text(), settings) << '"' << text << '"';
}

}  // namespace
