// Reading a file on a second thread hands over exactly the lines, in the
// same order, that reading it on one thread finds, and a reader that stops
// early stops it without waiting for the file's end.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/line_reader.h"
#include "store/read_ahead.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

// The lines a reading delivers, an unfinished one marked, up to `limit`.
struct Collected {
    std::vector<std::string> lines;
    std::size_t limit = SIZE_MAX;

    bool Take(char* line, std::size_t length) {
        lines.emplace_back(line, length);
        return lines.size() < limit;
    }
    bool AfterRead() { return true; }
    void TakeUnfinished(const char* line) { lines.push_back(std::string("(unfinished) ") + line); }
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

Collected ReadOnTwoThreads(const std::string& path, std::size_t limit, bool* read) {
    Collected collected;
    collected.limit = limit;
    platform::FileHandle file = platform::OpenForReading(path.c_str());
    {
        ReadAhead ahead(file);
        if (!ahead.Running()) {
            ADD_FAILURE() << "no thread";
            platform::CloseFile(file);
            return collected;
        }
        auto take = [&](char* line, std::size_t length) { return collected.Take(line, length); };
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

// Lines of every kind the reading rules treat apart: CR LF and bare LF
// ends, CRs inside lines, lines longer than the limit, empty lines, NULs
// that hide the rest of their block, and bytes after the last line end.
std::string RandomFileBytes(std::mt19937* random, std::size_t size) {
    std::string bytes;
    while (bytes.size() < size) {
        std::size_t length = (*random)() % 8 == 0 ? (*random)() % 2500 : (*random)() % 140;
        std::string line(length, 'x');
        for (char& c : line) c = static_cast<char>('a' + (*random)() % 26);
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
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        bool oneRead = false, twoRead = false;
        Collected one = ReadOnOneThread(path, SIZE_MAX, &oneRead);
        Collected two = ReadOnTwoThreads(path, SIZE_MAX, &twoRead);
        EXPECT_TRUE(oneRead && twoRead);
        ASSERT_EQ(two.lines, one.lines) << size;
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

TEST(ReadAhead, AFailedReadEndsTheLinesWhereOneThreadWouldFail) {
    testing::ScratchDirectory scratch{"lastspot-read-ahead-"};
    const std::string path = scratch.PathOf("lines.txt");
    std::mt19937 random(8);
    std::string bytes = RandomFileBytes(&random, 400000);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
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
