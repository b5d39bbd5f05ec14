// The process-wide registry of named seen tables: a singly linked list kept
// in most-recently-used order. Names are unique under the IRC case rules;
// each lookup compares the stored 32-bit hash of a name before its text.
#pragma once

#include <cstdint>

#include "seen/seen_record.h"

namespace lastspot::seen {

// One table. Owns its index (and through it every record) and its name.
struct TableEntry {
    TableEntry* next = nullptr;
    SeenIndex* index = nullptr;
    char* name = nullptr;
    std::uint32_t hash = 0;  // IrcHash of the name, computed at creation
};

// The list's head; the table at the front is the one the running command
// found last.
struct TableRegistry {
    TableEntry* head = nullptr;
};

// The one registry of the process.
extern TableRegistry tableRegistry;

// The table called `name`, moved to the front of the registry, or nullptr
// (also for the empty name).
TableEntry* FindTable(const char* name);

// Whether a table called `name` exists; moves nothing.
bool TableExists(const char* name);

// Creates an empty table called `name` at the front of the registry. The
// caller has made sure no table of that name exists. Throws std::bad_alloc,
// with the registry unchanged, when memory runs out.
TableEntry* CreateTable(const char* name);

// Unlinks and releases the first table called `name`; false when there is
// none. Moves nothing else.
bool DeleteTable(const char* name);

// Unlinks and releases every table whose name matches the wildcard
// `pattern` (case-insensitive); the others keep their order. Counts both.
void DeleteMatchingTables(const char* pattern, int* deleted, int* kept);

int CountTables();

// Releases every table and empties the registry; returns how many there were.
int ReleaseAllTables();

// Empties the registry without releasing anything (a second load of the
// library forgets the first one's tables).
void ForgetTables();

}  // namespace lastspot::seen
