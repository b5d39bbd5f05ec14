// Expiry: removing old records from one table.
#pragma once

namespace lastspot::seen {

// "table t seconds": removes every record seen before that time (seen
// times compared as unsigned 32-bit values).
// "table n entries": keeps that many of the most recently seen records
// (seen times ordered as signed values, ties in nick order) and removes
// the rest.
// -> "+OK removed" | TABLE | OPTION | SECONDS (t) | ENTRIESN (n)
// The option is one letter in either case.
void SeenExpire(char* buffer);

}  // namespace lastspot::seen
