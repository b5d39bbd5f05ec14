// The record-line parser shared by SeenAdd and loading, which finds spaces
// and converts digits eight bytes at a time, against the tokenizer's rule
// built from NextToken, IsDecimal and ParseDecimal: random lines of words,
// runs of spaces, tabs, signs and long runs of digits must cut the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/tokenizer.h"
#include "seen/record_line.h"

namespace lastspot::seen {
namespace {

// What the tokenizer's rule makes of a line: the first failing field's
// result, or Added with every field.
struct Expected {
    AddLineResult result;
    std::string nick, address, channel, type, text;
    std::int32_t seenTime = 0, timeSpent = 0;
};

Expected ByTheTokenizer(std::string line) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    char* cursor = buffer.data();
    Expected e;
    const char* words[4];
    const AddLineResult failures[4] = {AddLineResult::NoNick, AddLineResult::NoAddress,
                                       AddLineResult::NoChannel, AddLineResult::NoType};
    for (int i = 0; i < 4; ++i) {
        words[i] = protocol::NextToken(&cursor);
        if (words[i][0] == '\0') return {failures[i], {}, {}, {}, {}, {}};
    }
    const char* seen = protocol::NextToken(&cursor);
    if (!protocol::IsDecimal(seen)) return {AddLineResult::BadSeenTime, {}, {}, {}, {}, {}};
    const char* spent = protocol::NextToken(&cursor);
    if (!protocol::IsDecimal(spent)) return {AddLineResult::BadTimeSpent, {}, {}, {}, {}, {}};
    e.result = AddLineResult::Added;
    e.nick = words[0];
    e.address = words[1];
    e.channel = words[2];
    e.type = words[3];
    e.seenTime = static_cast<std::int32_t>(protocol::ParseDecimal(seen));
    e.timeSpent = static_cast<std::int32_t>(protocol::ParseDecimal(spent));
    e.text = cursor;
    return e;
}

std::string RandomToken(std::mt19937& random) {
    static const std::string pieces[] = {"a",        "Bob",        "[x]", "#chan",     "\t",
                                         "-",        "+",          "0",   "7",         "12345678",
                                         "99999999", "4294967296", "x9",  "123456789", "00000000000000000001",
                                         ":",        "/"};
    std::string token;
    for (std::uint32_t n = random() % 4; n > 0; --n) token += pieces[random() % std::size(pieces)];
    return token;
}

TEST(RecordLine, CutsEveryLineAsTheTokenizerWould) {
    std::mt19937 random(895);
    for (int i = 0; i < 200000; ++i) {
        std::string line;
        for (std::uint32_t n = random() % 9; n > 0; --n) {
            line += std::string(random() % 3 == 0 ? random() % 4 : 1, ' ');
            line += RandomToken(random);
        }
        if (random() % 3 == 0) line += std::string(random() % 3, ' ');
        Expected expected = ByTheTokenizer(line);

        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back('\0');
        RecordFields f;
        AddLineResult result = ParseRecordFields(buffer.data(), line.size(), &f);
        ASSERT_EQ(result, expected.result) << "'" << line << "'";
        if (result != AddLineResult::Added) continue;
        ASSERT_EQ(std::string(f.nick, f.nickLength), expected.nick) << line;
        ASSERT_EQ(std::string(f.address, f.addressLength), expected.address) << line;
        ASSERT_EQ(std::string(f.channel, f.channelLength), expected.channel) << line;
        ASSERT_EQ(std::string(f.type, f.typeLength), expected.type) << line;
        ASSERT_EQ(std::string(f.text, f.textLength), expected.text) << line;
        ASSERT_EQ(f.seenTime, expected.seenTime) << line;
        ASSERT_EQ(f.timeSpent, expected.timeSpent) << line;
        // Each word is ended by a NUL just after its length (where the line
        // had its space): building a record copies them up to there.
        ASSERT_EQ(std::strlen(f.nick), f.nickLength) << line;
        ASSERT_EQ(std::strlen(f.address), f.addressLength) << line;
        ASSERT_EQ(std::strlen(f.channel), f.channelLength) << line;
        ASSERT_EQ(std::strlen(f.type), f.typeLength) << line;
    }
}

}  // namespace
}  // namespace lastspot::seen
