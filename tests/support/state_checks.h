// Looks at the library's state and replies from outside, for the
// randomized tests, the fuzzers and the memory-exhaustion test. The state's
// invariants are the library's own: seen::CheckTables.
#pragma once

#include <string>

namespace lastspot::testing {

// True when `reply` has one of the two reply forms ("+OK " and a payload,
// or "-" + an upper-case code word + " " + a message) and fits the
// formatter's bound.
bool IsWellFormedReply(const char* reply);

// Every table and record as text, the tables in the order of their names
// under the IRC case rules, each table's records in nick order: equal dumps
// mean equal states (the registry's order aside). The seen-table model
// dumps its tables the same way.
std::string DumpTables();

}  // namespace lastspot::testing
