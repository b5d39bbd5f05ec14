// The tests' view of the free store: a replacement of the global operator
// new and delete that counts blocks and can be told to fail one allocation.
// It replaces them in every program that links it, so it is an object
// library of its own, linked only by the programs that count (the record
// and index tests, the memory-exhaustion test). Single-threaded, like the
// library.
#pragma once

#include <cstdint>

namespace lastspot::testing {

struct AllocationCounts {
    std::int64_t live = 0;  // blocks handed out and not given back
    std::int64_t made = 0;  // blocks handed out
};

// The bytes of every block handed out and not given back, counted or not:
// what the whole program holds of the free store.
std::int64_t LiveBytes();

// The counts of the allocations made while counting was on (a block given
// back while counting is off is not counted either).
AllocationCounts& Allocations();

// Counting is on from the start; a test that counts only some calls turns
// it off and on around them.
void SetCounting(bool on);

// Makes the counted allocation after `passing` more throw std::bad_alloc
// (0: the next one); a negative value disarms. One failure, then disarmed.
void FailAllocationAfter(long passing);
bool AllocationFailureArmed();

// Whether this replacement is the operator new in use: a tool that brings
// its own (valgrind does) leaves the counts at zero, and finding leaks is
// then that tool's job.
bool AllocationsAreCounted();

}  // namespace lastspot::testing
