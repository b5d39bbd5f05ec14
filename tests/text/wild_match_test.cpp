#include "text/wild_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/reference_match.h"

namespace lastspot::text {
namespace {

struct MatchCase {
    const char* pattern;
    const char* text;
    bool matches;
};

void ExpectCases(const std::vector<MatchCase>& cases, bool exact) {
    for (const MatchCase& c : cases) {
        EXPECT_EQ(WildMatch(c.pattern, c.text, exact), c.matches)
            << "pattern '" << c.pattern << "' text '" << c.text << "'" << (exact ? " (exact)" : "");
    }
}

TEST(WildMatch, StarQuestionMarkAndCaseRules) {
    ExpectCases(
        {{"*", "", false},        {"*", " ", true},     {"ABC", "abc", true},     {"[a]", "{A}", true},
         {"|", "\\", true},       {"|", "|", true},     {"a?c", "abc", true},     {"a?c", "a c", true},
         {"a?c", "ac", false},    {"?", "ab", false},   {"??", "abc", false},     {"a*b", "axbyb", true},
         {"a*b", "axbyc", false}, {"*b", "abc", false}, {"a?*", "ab", true},      {"a*?", "ab", true},
         {"a?*", "a", false},     {"a*?", "a", false},  {"a*??", "abcdef", true}, {"a*??", "ab", false},
         {"", "a", false},        {"a", "", false},     {"A{B*", "a[bc", true},   {"A{B*", "a[", false}},
        false);
    ExpectCases({{"ABC", "abc", false}, {"|", "\\", false}, {"|", "|", true}}, true);
    EXPECT_FALSE(WildMatch(nullptr, "a", false));
    EXPECT_FALSE(WildMatch("a", nullptr, false));
}

TEST(WildMatch, PercentTakesNoSpaces) {
    ExpectCases({{"a%c", "abc", true},
                 {"a%c", "ac", true},
                 {"a%c", "a c", false},
                 {"a%c", "ab c", false},
                 {"%", "abc", true},
                 {"%", "a b", false},
                 {"%", " ", false},
                 {"%", "a\tb", true},
                 {"% b", "a b", true},
                 {"%b", "a b", false},
                 {"a%b", "a b", false},
                 {"x%y%z", "xaybz", true},
                 {"x%y%z", "xa ybz", false},
                 {"%x", "a x", false},
                 {"*%x", "a x", true},
                 {"%*x", "a x", true},
                 {"a%*", "ab c", true},
                 {"a*%d", "ab cd", true},
                 // The second "%" replaces the first one's point, so the first can't grow.
                 {"%?%", "aa ", false}},
                false);
}

TEST(WildMatch, BackslashMakesTheNextCharacterOrdinary) {
    ExpectCases({{"\\*", "*", true},
                 {"\\*", "a", false},
                 {"\\*", "*x", false},
                 {"a\\?", "a?", true},
                 {"a\\?", "ab", false},
                 {"\\%", "%", true},
                 {"\\%", "x", false},
                 {"\\\\", "\\", true},
                 {"\\\\", "|", true},
                 {"\\a", "A", true},
                 {"a\\", "a", false},
                 {"a\\", "ab", false},
                 {"*\\", "abc", false}},
                false);
    ExpectCases({{"\\\\", "|", false}, {"\\\\", "\\", true}}, true);
}

TEST(WildMatch, UsedUpPatternGetsNoSecondLookAtItsLastCharacter) {
    ExpectCases({{"ab", "abb", false},
                 {"ab", "abbb", false},
                 {"a?", "abab", false},
                 {"\\*", "**", false},
                 {"*a?", "aaa", true}},
                false);
}

TEST(WildMatch, AgreesWithTheReferenceMatcherOnRandomPatterns) {
    std::mt19937 random(20261208);
    const std::string patternAlphabet = "abAB*?%\\ [{";
    const std::string textAlphabet = "abAB ?*%\\[{|";
    auto pick = [&](const std::string& alphabet, int maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int i = 0; i < 200000; ++i) {
        std::string pattern = pick(patternAlphabet, 7);
        std::string text = pick(textAlphabet, 9);
        bool exact = i % 8 == 0;
        ASSERT_EQ(WildMatch(pattern.c_str(), text.c_str(), exact),
                  testing::ReferenceMatch(pattern, text, exact))
            << "pattern '" << pattern << "' text '" << text << "'" << (exact ? " (exact)" : "");
    }
}

}  // namespace
}  // namespace lastspot::text
