// The table commands. Each reads its argument line from the host's buffer
// and leaves its reply there; only the first token is read.
#pragma once

namespace lastspot::seen {

// "name" -> "+OK " | TABLE (empty name) | DUP
void SeenTableAdd(char* buffer);
// "name" -> "+OK " | TABLE (empty name) | NOTFOUND
void SeenTableDel(char* buffer);
// "pattern" -> "+OK deleted kept" | MATCH (empty pattern)
void SeenTableDelMatch(char* buffer);
// ignored -> "+OK count"
void SeenTableCount(char* buffer);
// ignored -> "+OK released"
void SeenTableClear(char* buffer);

}  // namespace lastspot::seen
