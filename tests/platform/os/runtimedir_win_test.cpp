// The guard's lock directory on Windows: in the user's own temp directory,
// made once and found again.

#include "runtimedir.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(RuntimeDirectoryOnWindows, IsADirectoryOfOursInTheUsersTemp)
{
    const std::string first = lumo::userRuntimeDirectory();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.substr(first.size() - 8), "lumoscan");
    EXPECT_EQ(lumo::userRuntimeDirectory(), first);
    const DWORD attributes = GetFileAttributesA(first.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
