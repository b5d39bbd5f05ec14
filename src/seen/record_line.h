// The record line: "nick address channel type seen-time time-spent text",
// as SeenAdd takes it after the table's name and a seen file holds it after
// "! ". One parser for both, so a saved record loads back as it was added.
#pragma once

#include <cstddef>

#include "seen/seen_record.h"

namespace lastspot::seen {

// What reading an add line reports: Added when the record was taken,
// otherwise the first test that failed, in the order they are made.
// NoTable is AddRecordLine's (the table's name before the record line);
// the others are the record line's own.
enum class AddLineResult {
    Added,
    NoTable,
    NoNick,
    NoAddress,
    NoChannel,
    NoType,
    BadSeenTime,
    BadTimeSpent,
};

// Parses the record line of `length` characters at `line` (line[length] is
// its NUL), cutting it in place: the four words must be non-empty and the
// two numbers plain runs of digits (taken modulo 2^32); the text is the rest
// of the line after the time spent and the spaces that follow it,
// unchanged. Returns Added with `*fields` pointing into the line, or the
// first test that failed (NoNick to BadTimeSpent).
AddLineResult ParseRecordFields(char* line, std::size_t length, RecordFields* fields);

}  // namespace lastspot::seen
