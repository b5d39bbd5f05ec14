#include "text/case_map.h"

#include <gtest/gtest.h>

#include <string>

namespace lastspot::text {
namespace {

TEST(CaseMap, FoldsExactlyTheThirtyIrcPairsInBothTables) {
    int folded = 0;
    for (int i = 0; i < 256; ++i) {
        if (IrcUpperMap[i] != i) {
            ++folded;
            EXPECT_TRUE(i >= 'a' && i <= '~') << i;
            EXPECT_EQ(IrcUpperMap[i], i - 32);
        }
        if (IrcLowerMap[i] != i) {
            EXPECT_EQ(IrcLowerMap[i], i + 32) << i;
        }
        for (int j = 0; j < 256; ++j) {
            bool sameUpper = IrcUpperMap[i] == IrcUpperMap[j];
            bool sameLower = IrcLowerMap[i] == IrcLowerMap[j];
            ASSERT_EQ(sameUpper, sameLower) << i << " " << j;
        }
        if (i != 0) {
            EXPECT_NE(IrcUpperMap[i], 0);
        }
    }
    EXPECT_EQ(folded, 30);
    EXPECT_EQ(IrcToUpper('|'), '\\');
    EXPECT_EQ(IrcToUpper(static_cast<char>(233)), 233);
}

TEST(CaseMap, CompareFollowsMappedByteOrder) {
    struct Case {
        std::string left, right;
        int expected;
    };
    const Case cases[] = {
        {"[a]", "{A}", 0}, {"nick\\", "NICK|", 0}, {"abc", "ab", 67}, {"ab", "abc", -67}, {"abc", "abd", -1},
        {"a", "_", -30},   {"{", "_", -4},         {"~", "_", -1},    {"\xE9", "a", 168}, {"", "", 0},
        {"", "a", -65},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IrcCompare(c.left.c_str(), c.right.c_str()), c.expected)
            << "'" << c.left << "' vs '" << c.right << "'";
    }
    const char* ascending[] = {"abc", "Zed", "[x]", "{z}", "_y"};
    for (int i = 0; i + 1 < 5; ++i) EXPECT_LT(IrcCompare(ascending[i], ascending[i + 1]), 0) << i;
}

TEST(CaseMap, HashIgnoresCaseAndWrapsAt32Bits) {
    EXPECT_EQ(IrcHash("[a]"), 137273u);
    EXPECT_EQ(IrcHash("{A}"), 137273u);
    for (const char* spelling : {"abc", "ABC", "aBc"}) EXPECT_EQ(IrcHash(spelling), 108966u);
    EXPECT_EQ(IrcHash("friends"), 3175456011u);
    EXPECT_EQ(IrcHash("FRIENDS"), 0xBD459D0Bu);
    EXPECT_EQ(IrcHash(""), 0u);
    EXPECT_EQ(IrcHash("a"), 97u);
}

}  // namespace
}  // namespace lastspot::text
