// The everyday record commands, and the add-line parser that loading a
// seen file shares with SeenAdd.
#pragma once

#include <cstddef>
#include <cstdint>

#include "seen/seen_record.h"

namespace lastspot::seen {

// What AddRecordLine reports: Added when the record was added or replaced,
// otherwise the first test that failed, in the order they are made.
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

// Parses "nick address channel type seen-time time-spent text" (cut in
// place): the four words must be non-empty and the two numbers decimal
// (taken modulo 2^32); the text is the rest of the line after the time
// spent, unchanged. Returns Added with `*fields` set, or the first test
// that failed (NoNick to BadTimeSpent).
AddLineResult ParseRecordFields(char* line, RecordFields* fields);
// The same for a line of `length` characters (line[length] is its NUL).
AddLineResult ParseRecordFields(char* line, std::size_t length, RecordFields* fields);

// Parses "table nick address channel type seen-time time-spent text" (cut
// in place) and adds or replaces the nick's record in that table, which
// moves to the front of the registry. Throws std::bad_alloc, with the
// table unchanged, when memory runs out.
AddLineResult AddRecordLine(char* line);

// "table nick address channel type seen-time time-spent text" -> "+OK "
//   | TABLE | NICK | ADDY | CHAN | TYPE | WHEN | TIMESPENT
void SeenAdd(char* buffer);
// "table nick" -> "+OK nick address channel type seen-time time-spent text"
//   | TABLE | NICK | FOUND
void SeenGet(char* buffer);
// "table nick" -> "+OK " | TABLE | NICK | FOUND
void SeenDel(char* buffer);
// "table" -> "+OK count" | TABLE
void SeenCount(char* buffer);
// "table" -> "+OK " (the table stays, empty) | TABLE
void SeenClear(char* buffer);

}  // namespace lastspot::seen
