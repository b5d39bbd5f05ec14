// Saving and loading in-process: what happens when the disk fails, and
// that whatever is saved loads back as the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "seen/table_registry.h"
#include "store/seen_file.h"
#include "text/case_map.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

namespace fs = std::filesystem;
using testing::RunExport;

class SaveLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunExport(::SeenTableAdd, "t"), "+OK ");
        ASSERT_EQ(RunExport(::SeenTableAdd, "u"), "+OK ");
    }
    void TearDown() override { platform::ClearFaults(); }

    std::string PathOf(const char* name) const { return scratch_.PathOf(name); }

    static std::string Contents(const std::string& path) { return testing::FileContents(path); }

    void AddRecords(const char* table, int count, int textLength) {
        for (int i = 0; i < count; ++i) {
            std::string line = std::string(table) + " nick" + std::to_string(i) + " a@b #c join " +
                               std::to_string(i) + " 1 " + std::string(textLength, 'x');
            ASSERT_EQ(RunExport(::SeenAdd, line), "+OK ");
        }
    }

    // Nothing but the target may be left in the directory after a save.
    void ExpectOnlyFile(const char* name) {
        for (const auto& entry : fs::directory_iterator(scratch_.path())) {
            EXPECT_EQ(entry.path().filename().string(), name);
        }
    }

    testing::FreshLibrary library_;
    testing::ScratchDirectory scratch_{"lastspot-store-"};
};

// Both ways of making the temporary file, where the platform has two (on
// Linux, the unnamed file and the named one for file systems without).
TEST_F(SaveLoad, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string path = PathOf("t.seen");
    AddRecords("t", 3, 10);
    ASSERT_EQ(RunExport(::SeenSave, "t " + path), "+OK 3");
    const std::string before = Contents(path);

    AddRecords("t", 12000, 200);  // lines for more than two of the largest buffers
    for (bool named : {false, true}) {
        auto failAt = [named](platform::FaultPoint point, int callsBefore) {
            if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
            platform::FailAfter(point, callsBefore);
        };
        for (int callsBefore : {0, 1, 2}) {
            failAt(platform::FaultPoint::FileWrite, callsBefore);
            EXPECT_EQ(RunExport(::SeenSave, "t " + path), "-WRITE Couldn't write file.") << callsBefore;
            EXPECT_TRUE(Contents(path) == before) << callsBefore;
            ExpectOnlyFile("t.seen");
        }
        failAt(platform::FaultPoint::FileFlush, 0);
        EXPECT_EQ(RunExport(::SeenSave, "t " + path), "-WRITE Couldn't write file.");
        EXPECT_EQ(Contents(path), before);
        ExpectOnlyFile("t.seen");

        failAt(platform::FaultPoint::FileReplace, 0);
        EXPECT_EQ(RunExport(::SeenSave, "t " + path), "-OPEN Couldn't open file.");
        EXPECT_EQ(Contents(path), before);
        ExpectOnlyFile("t.seen");
        platform::ClearFaults();
    }

    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 12000");  // the first three were replaced
    EXPECT_NE(Contents(path), before);
}

// A save large enough to be written on a second thread writes the bytes a
// save on one thread writes, and fails as that one fails.
TEST_F(SaveLoad, ALargeSaveWritesOnTwoThreadsAsOnOne) {
    const std::string path = PathOf("t.seen");
    AddRecords("t", 3, 10);
    ASSERT_EQ(RunExport(::SeenSave, "t " + path), "+OK 3");
    const std::string before = Contents(path);
    AddRecords("t", 40000, 60);  // more than a few buffers' worth for the writing thread
    platform::FailAfter(platform::FaultPoint::ThreadStart, 0);
    ASSERT_EQ(RunExport(::SeenSave, "t " + PathOf("one.seen")), "+OK 40000");
    EXPECT_FALSE(platform::FaultArmed(platform::FaultPoint::ThreadStart)) << "the thread was asked for";
    for (int callsBefore : {0, 1, 3}) {  // the first, second and last of four writes
        platform::FailAfter(platform::FaultPoint::FileWrite, callsBefore);
        EXPECT_EQ(RunExport(::SeenSave, "t " + path), "-WRITE Couldn't write file.") << callsBefore;
        EXPECT_TRUE(Contents(path) == before) << callsBefore;
        EXPECT_FALSE(platform::FaultArmed(platform::FaultPoint::FileWrite)) << callsBefore;
    }
    platform::FailAfter(platform::FaultPoint::FileFlush, 0);
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "-WRITE Couldn't write file.");
    EXPECT_TRUE(Contents(path) == before);
    ASSERT_EQ(RunExport(::SeenSave, "t " + path), "+OK 40000");
    EXPECT_TRUE(Contents(path) == Contents(PathOf("one.seen")));
}

TEST_F(SaveLoad, FailedReadKeepsTheTableAsItWas) {
    const std::string path = PathOf("big.seen");
    AddRecords("t", 3000, 50);  // more than three reads' worth
    ASSERT_EQ(RunExport(::SeenSave, "t " + path), "+OK 3000");
    AddRecords("u", 7, 5);
    for (int callsBefore : {0, 1, 2}) {
        platform::FailAfter(platform::FaultPoint::FileRead, callsBefore);
        EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "-READ Couldn't read file.");
        EXPECT_EQ(RunExport(::SeenCount, "u"), "+OK 7");
        EXPECT_EQ(RunExport(::SeenGet, "u nick3"), "+OK nick3 a@b #c join 3 1 xxxxx");
    }
    EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "+OK 3000");
    EXPECT_EQ(RunExport(::SeenCount, "u"), "+OK 3000");
}

TEST_F(SaveLoad, AFileAnotherProgramReadsIsReadButNotReplaced) {
    const std::string path = PathOf("held.seen");
    AddRecords("t", 3, 10);
    ASSERT_EQ(RunExport(::SeenSave, "t " + path), "+OK 3");
    const std::string before = Contents(path);
    AddRecords("t", 5, 10);
    platform::FileHandle holder = platform::OpenForReading(path.c_str());
    ASSERT_NE(holder, platform::kInvalidFile);
    std::string saved = RunExport(::SeenSave, "t " + path);
    std::string loaded = RunExport(::SeenLoad, "u " + path);
    platform::CloseFile(holder);
    if (platform::kOpenFilesCannotBeReplaced) {
        EXPECT_EQ(saved, "-OPEN Couldn't open file.");
        EXPECT_EQ(Contents(path), before);
        EXPECT_EQ(loaded, "+OK 3");
    } else {
        EXPECT_EQ(saved, "+OK 5");
        EXPECT_EQ(loaded, "+OK 5");
    }
    ExpectOnlyFile("held.seen");
}

TEST_F(SaveLoad, RecordsWithLineBreaksAreLeftOutSoTheyCannotForgeLines) {
    const std::string path = PathOf("forge.seen");
    ASSERT_EQ(RunExport(::SeenAdd, "t evil a@b #c join 1 1 hi\r\n! forged x y z 1 1 boo"), "+OK ");
    ASSERT_EQ(RunExport(::SeenAdd, "t cr\rnick a@b #c join 1 1 text"), "+OK ");
    ASSERT_EQ(RunExport(::SeenAdd, "t good a@b #c join 2 2 fine"), "+OK ");
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
    EXPECT_EQ(Contents(path), "#ombrick SeenTable 1 -  t\r\n! good a@b #c join 2 2 fine\r\n");
    EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "+OK 1");
    EXPECT_EQ(RunExport(::SeenGet, "u forged"), "-FOUND Nick not found");
}

// Random tables round-trip field by field: texts with spaces, IRC case
// pairs in nicks, numbers over the whole 32-bit range, long texts that the
// writer shortens to the line limit.
TEST_F(SaveLoad, WhatIsSavedLoadsBackAsTheSameRecords) {
    std::mt19937 random(5);
    auto pick = [&](const std::string& alphabet, std::size_t length) {
        std::string s(length, ' ');
        for (char& c : s) c = alphabet[random() % alphabet.size()];
        return s;
    };
    const std::string nickChars = "abcXYZ[]{}|\\^~_-`0123456789";
    const std::string tokenChars = "abcdefghijklmnopqrstuvwxyz@!#.*?%&:/=ABC\xE9\x80";
    const std::string textChars = "ab c  d\tEF!{}~\xFF";
    for (int round = 0; round < 5; ++round) {
        std::string table = "r" + std::to_string(round);
        ASSERT_EQ(RunExport(::SeenTableAdd, table), "+OK ");
        ASSERT_EQ(RunExport(::SeenTableAdd, table + "copy"), "+OK ");
        for (int i = 0; i < 300; ++i) {
            std::size_t textLength = random() % 8 == 0 ? 700 + random() % 600 : random() % 40;
            std::string text = pick(textChars, textLength);
            text.erase(0, text.find_first_not_of(' '));  // a text never starts with a space
            std::string line = table + " " + pick(nickChars, 1 + random() % 12) + " " +
                               pick(tokenChars, 1 + random() % 30) + " " +
                               pick(tokenChars, 1 + random() % 20) + " " +
                               pick(tokenChars, 1 + random() % 8) + " " +
                               std::to_string(static_cast<std::uint32_t>(random())) + " " +
                               std::to_string(static_cast<std::uint32_t>(random())) + " " + text;
            ASSERT_EQ(RunExport(::SeenAdd, line), "+OK ");
        }
        const std::string path = PathOf("round.seen");
        seen::SeenIndex* original = seen::FindTable(table.c_str())->index;
        std::string reply = RunExport(::SeenSave, table + " " + path);
        ASSERT_EQ(reply, "+OK " + std::to_string(original->Count()));
        ASSERT_EQ(RunExport(::SeenLoad, table + "copy " + path), reply);

        seen::SeenIndex* copy = seen::FindTable((table + "copy").c_str())->index;
        ASSERT_EQ(copy->Count(), original->Count());
        original->ResetCursor();
        copy->ResetCursor();
        while (const seen::SeenRecord* a = original->NextItem()) {
            const seen::SeenRecord* b = copy->NextItem();
            ASSERT_NE(b, nullptr);
            seen::RecordTexts at = seen::TextsOf(*a), bt = seen::TextsOf(*b);
            EXPECT_STREQ(b->nick, a->nick);
            EXPECT_STREQ(bt.address, at.address);
            EXPECT_STREQ(bt.channel, at.channel);
            EXPECT_STREQ(bt.type, at.type);
            EXPECT_EQ(b->seenTime, a->seenTime);
            EXPECT_EQ(b->timeSpent, a->timeSpent);
            // A text is shortened only as far as the line limit demands.
            char line[platform::kFormatLimit];
            std::size_t length = FormRecordLine(*a, line);
            std::string expected = std::string(line, length).substr(length - std::strlen(bt.text));
            EXPECT_EQ(std::string(bt.text), expected);
            EXPECT_EQ(std::string(at.text).rfind(bt.text, 0), 0u);
            if (length < kMaxLineLength) {
                EXPECT_STREQ(bt.text, at.text);
            }
        }
    }
}

// A file large enough to be read on a second thread loads as it loads on
// one: the same replies and the same records, its lines of every kind
// (records in and out of nick order, repeated nicks, CRs inside lines,
// lines past the limit, NULs, junk) wherever the reads and batches cut it.
TEST_F(SaveLoad, ALargeFileLoadsOnTwoThreadsAsOnOne) {
    std::mt19937 random(5);
    std::string file = "#ombrick SeenTable 1 -  big\r\n";
    while (file.size() < 3 * 1024 * 1024) {
        std::string nick = "n" + std::to_string(file.size() / 40);
        if (random() % 6 == 0) nick = "N" + std::to_string(random() % 90000);  // back in the order
        std::string text(random() % 9 == 0 ? 1200 : random() % 60, 't');
        std::string line = "! " + nick + " a@h #c join " + std::to_string(random()) + " 7 " + text;
        switch (random() % 20) {
            case 0: line[random() % line.size()] = '\r'; break;
            case 1: line[random() % line.size()] = '\0'; break;
            case 2: line = "junk " + line; break;
            default: break;
        }
        file += line + (random() % 4 == 0 ? "\n" : "\r\n");
    }
    file += "! last a@h #c join 1 1 no line end";
    const std::string path = PathOf("big.seen");
    ASSERT_TRUE(testing::WriteFileContents(path, file));
    const std::string twoThreads = RunExport(::SeenLoad, "t " + path);
    platform::FailAfter(platform::FaultPoint::ThreadStart, 0);
    const std::string oneThread = RunExport(::SeenLoad, "u " + path);
    EXPECT_FALSE(platform::FaultArmed(platform::FaultPoint::ThreadStart)) << "the thread was asked for";
    ASSERT_EQ(twoThreads, oneThread);
    ASSERT_NE(oneThread.rfind("+OK ", 0), std::string::npos);
    const std::string count = RunExport(::SeenCount, "u");
    ASSERT_EQ(RunExport(::SeenCount, "t"), count);
    ASSERT_EQ(RunExport(::SeenSave, "t " + PathOf("t.seen")), RunExport(::SeenSave, "u " + PathOf("u.seen")));
    std::string saved[2] = {Contents(PathOf("t.seen")), Contents(PathOf("u.seen"))};
    for (std::string& bytes : saved) bytes.erase(0, bytes.find('\n'));  // the headers name the tables
    EXPECT_TRUE(saved[0] == saved[1]);
    std::string problem;
    EXPECT_TRUE(seen::FindTable("t")->index->Verify(&problem)) << problem;

    // A failed read, at the start or deep in the file, or a header of some
    // other file: the table stays as it was.
    for (int callsBefore : {0, 1, 20}) {
        platform::FailAfter(platform::FaultPoint::FileRead, callsBefore);
        EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "-READ Couldn't read file.");
        EXPECT_EQ(RunExport(::SeenCount, "u"), count);
    }
    file[1] = 'x';
    ASSERT_TRUE(testing::WriteFileContents(path, file));
    EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "-OPTFILE Invalid Seen File");
    EXPECT_EQ(RunExport(::SeenCount, "u"), count);

    // A wrong header before 8 MB of NULs (no more lines): the reading stops
    // within a few reads of the header's verdict, long before the 41st
    // read, which would fail.
    ASSERT_TRUE(testing::WriteFileContents(path, "no header\r\n" + std::string(8 * 1024 * 1024, '\0')));
    platform::FailAfter(platform::FaultPoint::FileRead, 40);
    EXPECT_EQ(RunExport(::SeenLoad, "u " + path), "-OPTFILE Invalid Seen File");
    EXPECT_TRUE(platform::FaultArmed(platform::FaultPoint::FileRead));
    platform::ClearFaults();
}

TEST_F(SaveLoad, LinesOutOfNickOrderOrRepeatingANickLoadAsSuccessiveAddsWould) {
    // Runs broken by lower nicks, nicks repeated in other letter cases both
    // inside and after the ordered run, and a repeat of an out-of-order
    // nick: whatever the order, the last line of a nick decides its record.
    // Files of hundreds of lines out of order take the loader's other way
    // (the late lines sorted and merged at once).
    std::mt19937 random(21);
    std::vector<std::string> nicks = {"a", "B", "c[", "C{", "d", "e", "F", "g", "h|", "H\\", "zz"};
    for (int k = 0; k < 400; ++k) nicks.push_back((k % 2 == 0 ? "m[" : "M{") + std::to_string(k % 300));
    std::sort(nicks.begin(), nicks.end(), [](const std::string& a, const std::string& b) {
        return text::IrcCompare(a.c_str(), b.c_str()) < 0;
    });
    for (int round = 0; round < 24; ++round) {
        std::string file = "#ombrick SeenTable 1 -  x\r\n";
        ASSERT_EQ(RunExport(::SeenClear, "u"), "+OK ");
        int lines = 1 + static_cast<int>(random() % (round % 2 == 0 ? 40 : 1500));
        for (int i = 0; i < lines; ++i) {
            // Mostly ascending with jumps back and repeats, or (every third
            // round) in no order at all.
            std::size_t pick = round % 3 == 2 || random() % 4 == 0
                                   ? random() % nicks.size()
                                   : (static_cast<std::size_t>(i) * nicks.size()) /
                                         static_cast<std::size_t>(lines);
            std::string record = std::string(nicks[pick]) + " a" + std::to_string(i) + "@h #c join " +
                                 std::to_string(random() % 50) + " " + std::to_string(i) + " text " +
                                 std::to_string(i);
            file += "! " + record + "\r\n";
            ASSERT_EQ(RunExport(::SeenAdd, "u " + record), "+OK ");
        }
        const std::string path = PathOf("mixed.seen");
        ASSERT_TRUE(testing::WriteFileContents(path, file));
        ASSERT_EQ(RunExport(::SeenLoad, "t " + path), "+OK " + std::to_string(lines));
        std::string problem;
        seen::SeenIndex* loaded = seen::FindTable("t")->index;
        seen::SeenIndex* added = seen::FindTable("u")->index;
        ASSERT_TRUE(loaded->Verify(&problem)) << problem;
        ASSERT_EQ(loaded->Count(), added->Count());
        loaded->ResetCursor();
        added->ResetCursor();
        while (const seen::SeenRecord* a = added->NextItem()) {
            const seen::SeenRecord* b = loaded->NextItem();
            seen::RecordTexts at = seen::TextsOf(*a), bt = seen::TextsOf(*b);
            EXPECT_STREQ(b->nick, a->nick);
            EXPECT_STREQ(bt.address, at.address);
            EXPECT_STREQ(bt.text, at.text);
            EXPECT_EQ(b->seenTime, a->seenTime);
            EXPECT_EQ(b->timeSpent, a->timeSpent);
        }
    }
}

}  // namespace
}  // namespace lastspot::store
