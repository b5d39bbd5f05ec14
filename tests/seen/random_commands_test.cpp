// Randomized differential tests of the commands: long random command
// sequences (command_generator.h) run through the in-process exports, each
// reply compared exactly with what the seen-table model predicts, and every
// table compared with the model's now and then. A verify build also checks
// the library's invariants after every command that changes state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/lifecycle.h"
#include "seen/command_generator.h"
#include "support/command_samples.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"
#include "support/seen_model.h"
#include "support/state_checks.h"

namespace lastspot::testing {
namespace {

class RandomCommands : public ::testing::Test {
protected:
    // Runs the line through the library and the model; the replies must be
    // the same.
    void RunBoth(const CommandLine& line) {
        std::string got = RunExport(CommandNamed(line.command), line.arguments);
        std::optional<std::string> expected = model_.Run(line.command, line.arguments);
        ASSERT_TRUE(expected.has_value()) << line.command;
        ASSERT_EQ(got, *expected) << line.command << " " << line.arguments;
    }

    void ExpectSameTables(const std::string& when) { ASSERT_EQ(DumpTables(), model_.Dump()) << when; }

    FreshLibrary library_;
    SeenModel model_;
};

TEST_F(RandomCommands, RecordAndTableCommandsAgreeWithTheModel) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CommandGenerator generator(seed);
        for (const char* name : {"seen", "Ops[1]^", "a\\b|"}) {
            RunBoth({"SeenTableAdd", generator.Respell(name)});
        }
        for (int step = 0; step < 15000; ++step) {
            RunBoth(generator.RecordCommand(model_));
            ASSERT_FALSE(HasFatalFailure()) << "step " << step;
            if (step % 2500 == 2499) ExpectSameTables("step " + std::to_string(step));
        }
        ExpectSameTables("at the end");
        RunBoth({"SeenTableClear", ""});
    }
}

TEST_F(RandomCommands, MatchCommandsAndExpiryAgreeWithTheModel) {
    const std::vector<std::string> names = {"big", "Mix[1]", "o\\ther"};
    ScratchDirectory scratch("lastspot-random-");
    for (std::uint32_t seed : {11u, 12u, 13u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CommandGenerator generator(seed);
        for (const std::string& name : names) RunBoth({"SeenTableAdd", name});
        for (int round = 0; round < 24; ++round) {
            for (const std::string& name : names) {
                for (const CommandLine& line : generator.Refill(name)) RunBoth(line);
            }
            ExpectSameTables("after filling, round " + std::to_string(round));
            for (int step = 0; step < 30; ++step) {
                CommandLine line = generator.MatchCommand(model_, names[step % names.size()]);
                RunBoth(line);
                ASSERT_FALSE(HasFatalFailure()) << "round " << round << " step " << step;
                if (line.command == "SeenDelMatch" || line.command == "SeenExpire") {
                    ExpectSameTables("after " + line.command + " " + line.arguments);
                }
            }
            // The saved file holds what the model says it should, and loads
            // into another table as the model loads it.
            const std::string& name = names[round % names.size()];
            const std::string file = scratch.PathOf("saved.seen");
            RunBoth({"SeenSave", name + " " + file});
            ASSERT_EQ(FileContents(file), model_.Files()[file]) << name;
            RunBoth({"SeenLoad", names[(round + 1) % names.size()] + " " + file});
            ExpectSameTables("after loading " + name + "'s file");
        }
        RunBoth({"SeenTableClear", ""});
    }
}

// After a command that changes tables the model does not predict, the
// randomized tests and the commands fuzzer would no longer know what the
// tables hold. A command that only reads them may go unpredicted.
TEST(SeenModelCoverage, TheModelPredictsEveryCommandThatChangesTables) {
    SeenModel model;
    for (const auto& entry : host::kCommandExports) {
        if (!ChangesTables(entry.name)) continue;
        EXPECT_TRUE(model.Run(entry.name, "").has_value())
            << entry.name << " may change tables or records (Changes in src/host/commands.def), "
            << "but the seen-table model (tests/support/seen_model.cpp) does not predict it";
    }
}

}  // namespace
}  // namespace lastspot::testing
