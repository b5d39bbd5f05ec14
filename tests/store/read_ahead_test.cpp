// Reading a file on a second thread hands over exactly the lines, in the
// same order, that reading it on one thread finds, and a reader that stops
// early stops it without waiting for the file's end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/line_reader.h"
#include "store/read_ahead.h"
#include "store/seen_file.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

// The lines a reading delivers, up to `limit`: each as the loader would
// see it once parsed (a record's fields, or the line's bytes), and an
// unfinished one marked. Lines the reading thread did not parse are parsed
// here, so both ways must agree line for line.
struct Collected {
    std::vector<std::string> lines;
    std::size_t limit = SIZE_MAX;
    std::size_t parsedAhead = 0;  // lines the reading thread parsed

    bool Take(char* line, std::size_t length, LineKind kind, const seen::RecordFields& parsed) {
        seen::RecordFields fields = parsed;
        if (kind == LineKind::Unread) {
            kind = ParseStoredRecord(line, length, &fields) ? LineKind::Record : LineKind::Other;
        } else {
            ++parsedAhead;
        }
        std::string seen = kind == LineKind::Record ? Describe(fields) : "(other) ";
        lines.push_back(seen + std::string(line, length));
        return lines.size() < limit;
    }
    bool Take(char* line, std::size_t length) { return Take(line, length, LineKind::Unread, {}); }
    bool AfterRead() { return true; }
    void TakeUnfinished(const char* line) { lines.push_back(std::string("(unfinished) ") + line); }

    static std::string Describe(const seen::RecordFields& f) {
        auto word = [](const char* start, std::size_t length) {
            return "[" + std::string(start, length) + "]";
        };
        return word(f.nick, f.nickLength) + word(f.address, f.addressLength) +
               word(f.channel, f.channelLength) + word(f.type, f.typeLength) + word(f.text, f.textLength) +
               std::to_string(f.seenTime) + " " + std::to_string(f.timeSpent) + " ";
    }
};

Collected ReadOnOneThread(const std::string& path, std::size_t limit, bool* read) {
    Collected collected;
    collected.limit = limit;
    platform::FileHandle file = platform::OpenForReading(path.c_str());
    std::vector<char> bytes(kReadSize);
    LineReader reader;
    *read = ReadLines(file, bytes.data(), &reader, &collected);
    platform::CloseFile(file);
    return collected;
}

Collected ReadOnTwoThreads(const std::string& path, std::size_t limit, bool* read,
                           ReadAhead::Parsing parsing = ReadAhead::Parsing::Always) {
    Collected collected;
    collected.limit = limit;
    platform::FileHandle file = platform::OpenForReading(path.c_str());
    {
        ReadAhead ahead(file, parsing);
        if (!ahead.Running()) {
            ADD_FAILURE() << "no thread";
            platform::CloseFile(file);
            return collected;
        }
        auto take = [&](char* line, std::size_t length, LineKind kind, const seen::RecordFields& fields) {
            return collected.Take(line, length, kind, fields);
        };
        auto unfinished = [&](const char* line) { collected.TakeUnfinished(line); };
        for (;;) {
            LineBatch* batch = ahead.Next();
            bool taking = batch->ForEachLine(take, unfinished);
            bool last = batch->last;
            *read = !batch->readFailed;
            ahead.GiveBack(!taking);
            if (!taking) {
                *read = true;
                break;  // the destructor waits for the thread's end
            }
            if (last) break;
        }
    }
    platform::CloseFile(file);
    return collected;
}

// A line that is, or nearly is, a seen file's record line: extra spaces,
// empty and long texts, numbers of up to 20 digits or with a stray
// character, too few fields.
std::string RecordLikeLine(std::mt19937* random) {
    auto pick = [random](std::size_t n) { return static_cast<std::size_t>((*random)() % n); };
    auto spaces = [&] { return std::string(1 + (pick(6) == 0 ? pick(3) : 0), ' '); };
    auto number = [&] {
        std::string digits(1 + pick(pick(4) == 0 ? 20 : 10), '0');
        for (char& c : digits) c = static_cast<char>('0' + pick(10));
        if (pick(12) == 0) digits[pick(digits.size())] = 'x';
        return digits;
    };
    std::string line = "!" + spaces() + "nick" + std::to_string(pick(1000)) + spaces() + "u@h" + spaces() +
                       "#c" + spaces() + "join" + spaces() + number() + spaces() + number();
    if (pick(5) != 0) line += spaces() + std::string(pick(8) == 0 ? pick(1000) : pick(40), 't');
    if (pick(10) == 0) line.resize(pick(line.size()));
    return line;
}

// A seen file's header, then lines of every kind the reading rules treat
// apart: CR LF and bare LF ends, CRs inside lines, lines longer than the
// limit, empty lines, NULs that hide the rest of their block, and bytes
// after the last line end.
std::string RandomFileBytes(std::mt19937* random, std::size_t size) {
    std::string bytes = size == 0 ? "" : "#ombrick SeenTable 1 -  t\r\n";
    while (bytes.size() < size) {
        std::size_t length = (*random)() % 8 == 0 ? (*random)() % 2500 : (*random)() % 140;
        std::string line(length, 'x');
        for (char& c : line) c = static_cast<char>('a' + (*random)() % 26);
        if ((*random)() % 2 == 0) line = RecordLikeLine(random);
        length = line.size();
        switch ((*random)() % 16) {
            case 0:
                if (length > 2) line[(*random)() % length] = '\r';
                break;
            case 1:
                if (length > 2) line[(*random)() % length] = '\0';
                break;
            default: break;
        }
        bytes += line;
        bytes += (*random)() % 3 == 0 ? "\n" : "\r\n";
    }
    if ((*random)() % 2 == 0) bytes += "an unfinished line";
    return bytes;
}

TEST(ReadAhead, HandsOverTheLinesOneThreadWouldReadInTheirOrder) {
    testing::ScratchDirectory scratch{"lastspot-read-ahead-"};
    const std::string path = scratch.PathOf("lines.txt");
    std::mt19937 random(7);
    // Empty, smaller than a read, and several batches and reads long.
    for (std::size_t size : {0, 1, 700, 5000, 70000, 300000, 600000}) {
        std::string bytes = RandomFileBytes(&random, size);
        ASSERT_TRUE(testing::WriteFileContents(path, bytes));
        bool oneRead = false, twoRead = false;
        Collected one = ReadOnOneThread(path, SIZE_MAX, &oneRead);
        Collected two = ReadOnTwoThreads(path, SIZE_MAX, &twoRead);
        EXPECT_TRUE(oneRead && twoRead);
        ASSERT_EQ(two.lines, one.lines) << size;
        // Every line parsed on the reading thread but the header, which
        // must reach the loader as it is.
        std::size_t finished = one.lines.size() -
                               (!one.lines.empty() && one.lines.back().starts_with("(unf"));
        EXPECT_EQ(two.parsedAhead, finished == 0 ? 0 : finished - 1) << size;
        Collected whenAhead = ReadOnTwoThreads(path, SIZE_MAX, &twoRead, ReadAhead::Parsing::WhenAhead);
        EXPECT_EQ(whenAhead.lines, one.lines) << size;
        // A reader that stops early: the lines up to there, and no wait
        // for the rest.
        for (std::size_t limit : {std::size_t{1}, one.lines.size() / 2 + 1}) {
            Collected stopped = ReadOnTwoThreads(path, limit, &twoRead);
            ASSERT_LE(limit, one.lines.size() + 1);
            std::vector<std::string> expected(
                one.lines.begin(), one.lines.begin() + static_cast<long>(std::min(limit, one.lines.size())));
            EXPECT_EQ(stopped.lines, expected) << size << " " << limit;
        }
    }
}

// A file that is no seen file is read no further than its first line, on
// the reading thread's own verdict: the second read would fail.
TEST(ReadAhead, AFileWithoutAHeaderIsReadNoFurtherThanItsFirstLine) {
    testing::ScratchDirectory scratch{"lastspot-read-ahead-"};
    const std::string path = scratch.PathOf("lines.txt");
    std::mt19937 random(9);
    std::string bytes = "no header\r\n" + RandomFileBytes(&random, 400000);
    ASSERT_TRUE(testing::WriteFileContents(path, bytes));
    bool read = false;
    platform::FailAfter(platform::FaultPoint::FileRead, 1);
    Collected two = ReadOnTwoThreads(path, SIZE_MAX, &read);
    platform::ClearFaults();
    EXPECT_TRUE(read);
    EXPECT_EQ(two.lines, std::vector<std::string>{"(other) no header"});
}

TEST(ReadAhead, AFailedReadEndsTheLinesWhereOneThreadWouldFail) {
    testing::ScratchDirectory scratch{"lastspot-read-ahead-"};
    const std::string path = scratch.PathOf("lines.txt");
    std::mt19937 random(8);
    std::string bytes = RandomFileBytes(&random, 400000);
    ASSERT_TRUE(testing::WriteFileContents(path, bytes));
    for (int callsBefore : {0, 1, 3, 5}) {
        bool oneRead = true, twoRead = true;
        platform::FailAfter(platform::FaultPoint::FileRead, callsBefore);
        Collected one = ReadOnOneThread(path, SIZE_MAX, &oneRead);
        platform::FailAfter(platform::FaultPoint::FileRead, callsBefore);
        Collected two = ReadOnTwoThreads(path, SIZE_MAX, &twoRead);
        platform::ClearFaults();
        EXPECT_FALSE(oneRead);
        EXPECT_FALSE(twoRead);
        EXPECT_EQ(two.lines, one.lines) << callsBefore;
    }
}

}  // namespace
}  // namespace lastspot::store
