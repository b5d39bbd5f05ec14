// The tests' view of the command table (host/commands.def): each command's
// sample argument lines, whether it may change tables or records, and the
// sample tables the samples run on. A new command's line in the table is
// all the memory-exhaustion test needs to cover it.
#pragma once

#include <string>
#include <vector>

namespace lastspot::testing {

struct CommandSample {
    std::string command;
    std::string arguments;
};

// Every command's sample lines, in the order of the command table.
std::vector<CommandSample> CommandSamples();

// True when the command table marks `command` Changes (it may add, remove
// or replace tables or records); false for Reads and for a name that is
// not a command.
bool ChangesTables(const std::string& command);

// The lines that make the sample tables in a freshly loaded library.
std::vector<CommandSample> SampleTableLines();

// The line that saves the samples' seen file, `t.seen`, into the current
// directory; it replies "+OK 20" on the sample tables.
CommandSample SampleFileSave();

}  // namespace lastspot::testing
