// The process-wide registry of named seen tables: a singly linked list kept
// in most-recently-used order. Names are unique under the IRC case rules;
// each lookup compares the stored 32-bit hash of a name before its text.
#pragma once

#include <cstdint>
#include <string>

#include "seen/seen_index.h"

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

// The opening of every command that works on one table: the table named by
// the first token of the argument line in `buffer`, found with FindTable
// (so now at the front), with `*cursor` at the rest of the line and `*name`
// (when given) at the token; or nullptr after replying TABLE.
TableEntry* TakeTable(char* buffer, char** cursor, const char** name = nullptr);

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

// The checks of the registry and its tables, which a verify build runs after
// each command that changes state and the tests run at will. Each returns
// false, with `*problem` naming the table and the broken invariant, when
// one does not hold. They live in table_registry_checks.cpp, a file of its
// own, so that the shipped library, which never calls them, does not carry
// them.

// The registry's own invariants: every table has a name and an index, its
// stored hash is the IrcHash of its name, and no two names are equal under
// the IRC case rules.
bool CheckRegistry(std::string* problem);

// The invariants of one table: its index's own (Verify, called from here
// alone) and that the index is back in nick order, as it is between
// commands. Walks the index with its cursor.
bool CheckTable(TableEntry* table, std::string* problem);

// Every invariant of the library's state: the registry's and every
// table's. What the tests check.
bool CheckTables(std::string* problem);

// What a verify build checks after each command that changes state: the
// registry's invariants and the table at its front, the only one a command
// changes (the one it found, or made, or loaded into).
bool CheckAfterCommand(std::string* problem);

}  // namespace lastspot::seen
