#include "store/seen_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "support/record_values.h"

namespace lastspot::store {
namespace {

TEST(ComparePrefix, MatchesWholePrefixesExactlyAndOrdersBySignedBytes) {
    EXPECT_EQ(ComparePrefix("#ombrick SeenTable 1 -  t", kHeaderPrefix), 0);
    EXPECT_EQ(ComparePrefix("#ombrick SeenTable 1 - ", kHeaderPrefix), 0);
    EXPECT_EQ(ComparePrefix("#ombrick SeenTable 1 -", kHeaderPrefix), -1);   // shorter line
    EXPECT_EQ(ComparePrefix("#OMBRICK SeenTable 1 - ", kHeaderPrefix), -1);  // case matters
    EXPECT_EQ(ComparePrefix("#ombrick SeenTable 2 - ", kHeaderPrefix), 1);
    EXPECT_EQ(ComparePrefix("", kHeaderPrefix), -1);
    EXPECT_EQ(ComparePrefix("\xE9", "a"), -1);  // 233 is negative as a signed byte
    EXPECT_EQ(ComparePrefix("anything", ""), 0);
}

using testing::OwnedRecord;

OwnedRecord Record(const char* nick, const char* address, const char* channel, const char* type,
                   const char* text, int seen, int spent) {
    return OwnedRecord(testing::RecordValues()
                           .Nick(nick)
                           .Address(address)
                           .Channel(channel)
                           .Type(type)
                           .Text(text)
                           .SeenTime(seen)
                           .TimeSpent(spent));
}

std::string Formed(const OwnedRecord& record) {
    char line[platform::kFormatLimit];
    std::size_t length = FormRecordLine(*record, line);
    return length == 0 ? std::string("<left out>") : std::string(line, length);
}

TEST(RecordLine, WritesFieldsAndNumbersAsUnsignedDecimals) {
    EXPECT_EQ(Formed(Record("Bob", "addr1", "#chan", "join", "", 1000, 5)), "! Bob addr1 #chan join 1000 5 ");
    EXPECT_EQ(Formed(Record("a", "b", "c", "d", "two  spaces ", -1, -2147483647 - 1)),
              "! a b c d 4294967295 2147483648 two  spaces ");
}

TEST(RecordLine, LeavesOutRecordsThatWouldNotLoadBackAsThemselves) {
    for (const char* bad : {"x\ry", "x\ny", "\r", "\n"}) {
        EXPECT_EQ(Formed(Record(bad, "a", "c", "t", "text", 1, 1)), "<left out>");
        EXPECT_EQ(Formed(Record("n", bad, "c", "t", "text", 1, 1)), "<left out>");
        EXPECT_EQ(Formed(Record("n", "a", bad, "t", "text", 1, 1)), "<left out>");
        EXPECT_EQ(Formed(Record("n", "a", "c", bad, "text", 1, 1)), "<left out>");
        EXPECT_EQ(Formed(Record("n", "a", "c", "t", bad, 1, 1)), "<left out>");
    }
    // Without its text the line is "! " + nick + " a c t 1 1 " (13 + nick).
    std::string fits(882, 'n'), tooLong(883, 'n'), huge(5000, 'n');
    EXPECT_EQ(Formed(Record(fits.c_str(), "a", "c", "t", "text", 1, 1)).size(), kMaxLineLength);
    EXPECT_EQ(Formed(Record(tooLong.c_str(), "a", "c", "t", "", 1, 1)), "<left out>");
    EXPECT_EQ(Formed(Record(huge.c_str(), "a", "c", "t", "", 1, 1)), "<left out>");
    EXPECT_EQ(Formed(Record("n", huge.c_str(), "c", "t", "", 1, 1)), "<left out>");
}

TEST(RecordLine, ShortensALongTextToExactlyTheLineLimit) {
    std::string text(2000, 'q');
    std::string line = Formed(Record("nick", "a", "c", "t", text.c_str(), 1, 1));
    ASSERT_EQ(line.size(), kMaxLineLength);
    EXPECT_EQ(line.substr(0, 16), "! nick a c t 1 1");
    EXPECT_EQ(line.substr(17), std::string(kMaxLineLength - 17, 'q'));
    std::string exact(kMaxLineLength - 17, 'r');
    EXPECT_EQ(Formed(Record("nick", "a", "c", "t", exact.c_str(), 1, 1)).size(), kMaxLineLength);
}

}  // namespace
}  // namespace lastspot::store
