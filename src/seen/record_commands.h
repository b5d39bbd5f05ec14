// The everyday record commands on one table.
#pragma once

#include "seen/record_line.h"

namespace lastspot::seen {

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
