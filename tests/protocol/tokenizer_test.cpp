#include "protocol/tokenizer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace lastspot::protocol {
namespace {

TEST(Tokenizer, CutsAtSpacesAndLeavesTheRestWithItsInnerAndTrailingSpaces) {
    char line[] = "  a   b ";
    char* cursor = line;
    EXPECT_STREQ(NextToken(&cursor), "a");
    EXPECT_STREQ(cursor, "b ");
    EXPECT_STREQ(NextToken(&cursor), "b");
    EXPECT_STREQ(NextToken(&cursor), "");
    EXPECT_STREQ(NextToken(&cursor), "");

    char text[] = "t 1000 5 was  here ";
    cursor = text;
    NextToken(&cursor);
    NextToken(&cursor);
    NextToken(&cursor);
    EXPECT_STREQ(cursor, "was  here ");
}

TEST(Tokenizer, OnlyByte32IsASpace) {
    char line[] = "a\tb c";
    char* cursor = line;
    EXPECT_STREQ(NextToken(&cursor), "a\tb");
    EXPECT_STREQ(NextToken(&cursor), "c");
}

TEST(Tokenizer, EmptyAndBlankLinesGiveTheEmptyToken) {
    for (std::string input : {"", "   "}) {
        char* cursor = input.data();
        EXPECT_STREQ(NextToken(&cursor), "");
        EXPECT_STREQ(NextToken(&cursor), "");
    }
}

TEST(Decimal, AcceptsOnlyPlainRunsOfDigits) {
    for (const char* good : {"0", "007", "4294967296"}) EXPECT_TRUE(IsDecimal(good)) << good;
    for (const char* bad : {"", "-1", "+1", "1a", " 1", "1 ", "x"}) EXPECT_FALSE(IsDecimal(bad)) << bad;
}

TEST(Decimal, ParsesLeadingDigitsAndWrapsModulo2To32) {
    EXPECT_EQ(ParseDecimal("007"), 7u);
    EXPECT_EQ(ParseDecimal("12ab"), 12u);
    EXPECT_EQ(ParseDecimal(""), 0u);
    EXPECT_EQ(ParseDecimal("4294967297"), 1u);  // 2^32 + 1
    EXPECT_EQ(static_cast<std::int32_t>(ParseDecimal("2147483648")), INT32_MIN);
    EXPECT_EQ(ParseDecimal("4294967295"), 4294967295u);
}

}  // namespace
}  // namespace lastspot::protocol
