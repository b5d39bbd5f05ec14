// Runs every command with memory running out at each of its allocations in
// turn: the general free store (the counting allocator, counting only the
// library's calls) and the process heap (the platform's fault point). Each
// time the command must reply "-MEMORY Out of memory" with every table as
// it was before, or give its ordinary reply with every table as after an
// ordinary run; the tables must keep their invariants and nothing may leak.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/exports.h"
#include "platform/platform.h"
#include "seen/table_registry.h"
#include "support/command_samples.h"
#include "support/counting_allocator.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"
#include "support/state_checks.h"

namespace lastspot {
namespace {

namespace fs = std::filesystem;
using testing::Allocations;

// Runs a command with the free store counted (and failing where armed) for
// the library's call alone.
std::string Call(const char* name, const std::string& arguments) {
    host::CommandExport command = testing::CommandNamed(name);
    if (command == nullptr) {
        ADD_FAILURE() << "no export " << name;
        return "";
    }
    char buffer[4096] = {};
    arguments.copy(buffer, sizeof buffer - 1);
    testing::SetCounting(true);
    command(nullptr, nullptr, buffer, nullptr, 0, 0);
    testing::SetCounting(false);
    return buffer;
}

using Scenario = testing::CommandSample;

class MemoryExhaustion : public ::testing::Test {
protected:
    // The scratch directory is the current one: the samples name their
    // files relative to it.
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<testing::ScratchDirectory>("lastspot-oom-");
        previous_ = fs::current_path();
        fs::current_path(scratch_->path());
    }
    static void TearDownTestSuite() {
        fs::current_path(previous_);
        scratch_.reset();
    }

    static std::string File(const char* name) { return scratch_->PathOf(name); }

    // A fresh library holding the sample tables (the command table's
    // samples run on them).
    static void StartLibrary() {
        host::LoadInfo info{};
        testing::SetCounting(true);
        LoadDll(&info);
        testing::SetCounting(false);
        for (const testing::CommandSample& line : testing::SampleTableLines()) {
            Call(line.command.c_str(), line.arguments);
        }
    }

    static void StopLibrary() {
        testing::SetCounting(true);
        UnloadDll(0);
        testing::SetCounting(false);
    }

    // Saves `table` to the file `name` with the first, then the second, ...
    // allocation failing, until a save meets no failure: each save replies
    // `saved` with the bytes `whole`, or -MEMORY and leaves no file.
    // `*savedAnyway` counts the saves that met a failure and wrote all the
    // same.
    static void SaveWithEachAllocationFailing(const std::string& table, const char* name,
                                              const std::string& saved, const std::string& whole,
                                              int* savedAnyway) {
        *savedAnyway = 0;
        for (long failing = 0;; ++failing) {
            fs::remove(File(name));
            testing::FailAllocationAfter(failing);
            std::string got = Call("SeenSave", table + " " + File(name));
            bool failed = !testing::AllocationFailureArmed();
            testing::FailAllocationAfter(-1);
            if (got == saved) {
                ASSERT_TRUE(testing::FileContents(File(name)) == whole) << "failing " << failing;
                if (!failed) return;
                ++*savedAnyway;
                continue;
            }
            ASSERT_EQ(got, "-MEMORY Out of memory") << "failing " << failing;
            ASSERT_FALSE(fs::exists(File(name))) << "failing " << failing;
        }
    }

    // Runs the scenario with failure at each allocation of one kind in
    // turn, until a run meets no failure.
    static void FailEachAllocation(const Scenario& scenario, bool processHeap) {
        StartLibrary();
        const std::string before = testing::DumpTables();
        const std::string reply = Call(scenario.command.c_str(), scenario.arguments);
        const std::string after = testing::DumpTables();
        StopLibrary();
        if (!testing::ChangesTables(scenario.command)) {
            EXPECT_EQ(after, before) << scenario.command << " " << scenario.arguments
                                     << ": marked Reads in src/host/commands.def, yet it changed the tables";
        }

        for (long failing = 0;; ++failing) {
            Allocations().live = 0;
            StartLibrary();
            std::int64_t setupBlocks = Allocations().live;
            if (processHeap) {
                platform::FailAfter(platform::FaultPoint::HeapAlloc, static_cast<int>(failing));
            } else {
                testing::FailAllocationAfter(failing);
            }
            std::string got = Call(scenario.command.c_str(), scenario.arguments);
            bool failureHappened = processHeap ? !platform::FaultArmed(platform::FaultPoint::HeapAlloc)
                                               : !testing::AllocationFailureArmed();
            platform::ClearFaults();
            testing::FailAllocationAfter(-1);

            SCOPED_TRACE(scenario.command + " " + scenario.arguments.substr(0, 60) +
                         (processHeap ? ": process heap" : ": free store") + " allocation " +
                         std::to_string(failing) + " fails");
            if (got == "-MEMORY Out of memory") {
                ++memoryReplies_;
                EXPECT_TRUE(failureHappened);
                EXPECT_EQ(testing::DumpTables(), before);
            } else {
                EXPECT_EQ(got, reply);
                EXPECT_EQ(testing::DumpTables(), after);
            }
            std::string problem;
            EXPECT_TRUE(seen::CheckTables(&problem)) << problem;
            StopLibrary();
            EXPECT_EQ(Allocations().live, 0) << "blocks leaked (setup made " << setupBlocks << ")";
            if (!failureHappened) break;
            if (::testing::Test::HasFailure()) break;
        }
    }

    static std::unique_ptr<testing::ScratchDirectory> scratch_;
    static fs::path previous_;
    static int memoryReplies_;
};

std::unique_ptr<testing::ScratchDirectory> MemoryExhaustion::scratch_;
fs::path MemoryExhaustion::previous_;
int MemoryExhaustion::memoryReplies_ = 0;

TEST_F(MemoryExhaustion, EveryCommandFailsCleanlyAtEveryAllocation) {
    StartLibrary();
    const Scenario save = testing::SampleFileSave();
    ASSERT_EQ(Call(save.command.c_str(), save.arguments), "+OK 20");
    StopLibrary();
    // A file only the platform's search finds: beside the program, not in
    // the current directory.
    char directory[4096];
    ASSERT_TRUE(platform::ExecutableDirectory(directory, sizeof directory));
    const std::string besideName = "lastspot-oom-" + std::to_string(std::random_device()()) + ".seen";
    fs::copy_file(File("t.seen"), std::string(directory) + besideName, fs::copy_options::overwrite_existing);

    // Every command's samples from the command table, and a load that
    // finds its file by the platform's search.
    std::vector<Scenario> scenarios = testing::CommandSamples();
    scenarios.push_back({"SeenLoad", "other " + besideName});
    std::set<std::string> covered;
    for (const Scenario& scenario : scenarios) {
        covered.insert(scenario.command);
        FailEachAllocation(scenario, false);
        FailEachAllocation(scenario, true);
        if (HasFailure()) break;
    }
    for (const auto& entry : host::kCommandExports) {
        EXPECT_EQ(covered.count(entry.name), 1u)
            << entry.name << " has no sample arguments in its line of src/host/commands.def";
    }
    // The allocating commands met failures at each of their allocations.
    EXPECT_GE(memoryReplies_, 20);
    std::printf("%d runs ended in -MEMORY\n", memoryReplies_);
    fs::remove(std::string(directory) + besideName);
}

// A file large enough to be read on a second thread: memory running out
// on the command's thread while the other reads stops that thread too.
TEST_F(MemoryExhaustion, ALoadReadOnASecondThreadFailsCleanlyAtEveryAllocation) {
    {
        std::FILE* out = std::fopen(File("large.seen").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("#ombrick SeenTable 1 -  large\r\n", out);
        for (int i = 0; i < 9000; ++i) {
            std::fprintf(out, "! n%05d a@h #c join %d 7 %0120d\r\n", i, i, i);
        }
        std::fclose(out);
    }
    ASSERT_GE(fs::file_size(File("large.seen")), 1024u * 1024u);
    FailEachAllocation({"SeenLoad", "other " + File("large.seen")}, false);
}

// A save large enough to be written on a second thread: without the memory
// for that thread's buffers it writes on its own, the same bytes.
TEST_F(MemoryExhaustion, ASaveWrittenOnASecondThreadFailsCleanlyAtEveryAllocation) {
    {
        std::FILE* out = std::fopen(File("many.seen").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("#ombrick SeenTable 1 -  many\r\n", out);
        for (int i = 0; i < 40000; ++i) std::fprintf(out, "! n%05d a@h #c join %d 7 text\r\n", i, i);
        std::fclose(out);
    }
    StartLibrary();
    ASSERT_EQ(Call("SeenLoad", "other " + File("many.seen")), "+OK 40000");
    ASSERT_EQ(Call("SeenSave", "other " + File("whole.seen")), "+OK 40000");
    const std::string whole = testing::FileContents(File("whole.seen"));
    int savedAnyway = 0;
    ASSERT_NO_FATAL_FAILURE(SaveWithEachAllocationFailing("other", "again.seen", "+OK 40000", whole,
                                                          &savedAnyway));
    EXPECT_GE(savedAnyway, 3) << "the thread's object or buffers failed and the save wrote on its own";
    StopLibrary();
}

// A table grown one add at a time past every growth of its parts (record
// blocks, leaves, inner nodes, a new root, the hash table and its moving
// growth) with the first, then the second, ... allocation of each add
// failing until one is met by no failure: each add either replies -MEMORY
// with the table as it was, or succeeds all the same (a hash table that
// cannot grow fills further while it has room). Then a file of that table
// loads with each allocation failing in turn, leaving the table it would
// replace as it was.
TEST_F(MemoryExhaustion, TablesGrowOrStayAsTheyWereAtEveryAllocation) {
    StartLibrary();
    Call("SeenTableAdd", "grow");
    auto line = [](int i) {
        return "grow n" + std::to_string(i * 7919 % 6000) + " a@h" + std::to_string(i % 7) + " #c join " +
               std::to_string(i) + " 1 " + std::string(static_cast<std::size_t>(i % 50), 't');
    };
    int failures = 0;
    for (int i = 0; i < 6000; ++i) {
        std::string count = Call("SeenCount", "grow");
        for (long failing = 0;; ++failing) {
            testing::FailAllocationAfter(failing);
            std::string got = Call("SeenAdd", line(i));
            testing::FailAllocationAfter(-1);
            if (got == "+OK ") break;
            ++failures;
            ASSERT_EQ(got, "-MEMORY Out of memory") << i << " failing " << failing;
            ASSERT_EQ(Call("SeenCount", "grow"), count) << i;
            ASSERT_EQ(Call("SeenGet", "grow n" + std::to_string(i * 7919 % 6000)), "-FOUND Nick not found")
                << i;
        }
        ASSERT_EQ(Call("SeenCount", "grow"), "+OK " + std::to_string(i + 1)) << i;
        if (i % 500 == 0) {
            std::string problem;
            ASSERT_TRUE(seen::CheckTables(&problem)) << i << ": " << problem;
        }
    }
    EXPECT_GT(failures, 100) << "adds met growths";
    ASSERT_EQ(Call("SeenSave", "grow " + File("grow.seen")), "+OK 6000");
    // Saving those lines, far more than a small buffer holds, with each
    // allocation failing in turn: the same bytes all the same (a smaller
    // buffer when the large one cannot be had), or -MEMORY and no file.
    const std::string saved = testing::FileContents(File("grow.seen"));
    int savedAnyway = 0;
    ASSERT_NO_FATAL_FAILURE(SaveWithEachAllocationFailing("grow", "short.seen", "+OK 6000", saved,
                                                          &savedAnyway));
    EXPECT_GT(savedAnyway, 0) << "a save's large buffer failed and the small one served";
    const std::string before = testing::DumpTables();
    ASSERT_EQ(Call("SeenLoad", "other " + File("grow.seen")), "+OK 6000");
    const std::string loaded = testing::DumpTables();
    int loadFailures = 0;
    for (long failing = 0;; ++failing) {
        Call("SeenClear", "other");
        Call("SeenAdd", "other solo s@h #c quit 5 5");
        ASSERT_EQ(testing::DumpTables(), before);
        testing::FailAllocationAfter(failing);
        std::string got = Call("SeenLoad", "other " + File("grow.seen"));
        bool failed = !testing::AllocationFailureArmed();
        testing::FailAllocationAfter(-1);
        if (got == "+OK 6000") {
            // (Without the hashes kept while reading, a load works them
            // out again at the end.)
            ASSERT_EQ(testing::DumpTables(), loaded) << "failing " << failing;
            if (!failed) break;
            continue;
        }
        ++loadFailures;
        ASSERT_EQ(got, "-MEMORY Out of memory") << "failing " << failing;
        ASSERT_EQ(testing::DumpTables(), before) << "failing " << failing;
    }
    EXPECT_GT(loadFailures, 10) << "a load allocates blocks, leaves, inner nodes and hash segments";

    // The same file with its lines in reverse nick order: the loader sorts
    // and merges the lines out of order at once, or, without the memory for
    // that, stores them one by one.
    {
        std::ifstream in(File("grow.seen"), std::ios::binary);
        std::string header, line;
        std::getline(in, header);
        std::vector<std::string> lines;
        while (std::getline(in, line)) lines.push_back(line);
        std::ofstream out(File("reversed.seen"), std::ios::binary);
        out << header << "\n";
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) out << *it << "\n";
    }
    for (long failing = 0;; ++failing) {
        Call("SeenClear", "other");
        Call("SeenAdd", "other solo s@h #c quit 5 5");
        testing::FailAllocationAfter(failing);
        std::string got = Call("SeenLoad", "other " + File("reversed.seen"));
        bool failed = !testing::AllocationFailureArmed();
        testing::FailAllocationAfter(-1);
        if (got == "+OK 6000") {
            ASSERT_EQ(testing::DumpTables(), loaded) << "reversed, failing " << failing;
            if (!failed) break;
            continue;
        }
        ASSERT_EQ(got, "-MEMORY Out of memory") << "reversed, failing " << failing;
        ASSERT_EQ(testing::DumpTables(), before) << "reversed, failing " << failing;
    }

    // Expiring nine tenths packs the rest into new blocks and fits the hash
    // table to them; with memory short it does less, never anything wrong.
    ASSERT_EQ(Call("SeenSave", "grow " + File("grow.seen")), "+OK 6000");
    std::string expired;
    for (long failing = -1;; ++failing) {
        ASSERT_EQ(Call("SeenLoad", "grow " + File("grow.seen")), "+OK 6000");
        testing::FailAllocationAfter(failing);
        std::string got = Call("SeenExpire", "grow t 5400");
        bool failed = !testing::AllocationFailureArmed() && failing >= 0;
        testing::FailAllocationAfter(-1);
        ASSERT_EQ(got, "+OK 5400") << "failing " << failing;
        if (failing < 0) expired = testing::DumpTables();
        ASSERT_EQ(testing::DumpTables(), expired) << "failing " << failing;
        std::string problem;
        ASSERT_TRUE(seen::CheckTables(&problem)) << "failing " << failing << ": " << problem;
        if (failing >= 0 && !failed) break;
    }
    std::string problem;
    EXPECT_TRUE(seen::CheckTables(&problem)) << problem;
    StopLibrary();
}

}  // namespace
}  // namespace lastspot
