// Checks on the library's whole state, shared by the randomized tests, the
// fuzzers and the memory-exhaustion test.
#pragma once

#include <string>

namespace lastspot::testing {

// True when every table's index keeps its invariants (order, balances,
// count) and every table is in nick order again. Otherwise `*problem` says
// what is wrong.
bool CheckLibraryState(std::string* problem);

// True when `reply` has one of the two reply forms ("+OK " and a payload,
// or "-" + an upper-case code word + " " + a message) and fits the
// formatter's bound.
bool IsWellFormedReply(const char* reply);

// Every table and record, in registry and nick order, as text: equal dumps
// mean equal states.
std::string DumpTables();

}  // namespace lastspot::testing
