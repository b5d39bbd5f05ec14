// What one table knows about one nick, the index class that holds such
// records, their two orders and the record operations every command uses.
#pragma once

#include <cstdint>

#include "index/avl_index.h"

namespace lastspot::seen {

// One nick's record. A stored record owns its five strings (separate
// allocations, never shared; an absent string is held as ""), and is owned
// by the index that holds it. A probe record instead borrows its strings for
// one operation and is detached before it goes out of scope.
struct SeenRecord {
    char* nick = nullptr;  // the key
    char* address = nullptr;
    char* channel = nullptr;
    char* type = nullptr;     // the kind of event, as the script names it
    char* text = nullptr;     // free text; may be empty, may hold spaces
    std::int32_t seenTime = 0;   // larger is more recent
    std::int32_t timeSpent = 0;
};

// A new record holding copies of the strings (nullptr counts as "") and the
// two numbers. Note the argument order: time spent before the text, seen
// time last. Throws std::bad_alloc, leaking nothing, when memory runs out.
SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime);

// Sets the five string fields to nullptr without releasing anything: how a
// probe gives back what it borrowed.
void DetachRecord(SeenRecord* record);

// Releases the record's strings and then the record. nullptr is ignored.
void ReleaseRecord(SeenRecord* record);

// The item release the index uses for its records.
inline void ReleaseItem(SeenRecord* record) { ReleaseRecord(record); }

// The nick order of every table: IrcCompare of the two nicks.
int CompareByNick(const SeenRecord* probe, const SeenRecord* stored);

// Most recently seen first (seen times compared as signed 32-bit values);
// records seen at the same time in nick order.
int CompareBySeenTime(const SeenRecord* probe, const SeenRecord* stored);

// An index of seen records, in nick order when created. Every table holds
// one; it releases every record it still holds when destroyed.
class SeenIndex : public index::AvlIndex<SeenRecord> {
public:
    SeenIndex() : AvlIndex(CompareByNick) {}
    ~SeenIndex() override = default;
};

// Stores a record of these values in `index`, or, when the index holds one
// with the same key under its current order, gives that record all the new
// values (its nick's letter case included) where it stands. Returns the
// record the index holds afterwards. Throws std::bad_alloc before touching
// the index when memory runs out.
SeenRecord* AddOrReplace(SeenIndex* index, const char* nick, const char* address,
                         const char* channel, const char* type, std::int32_t timeSpent,
                         const char* text, std::int32_t seenTime);

// The record whose nick equals `nick` under the IRC case rules, still owned
// by the index, or nullptr. The index must be in nick order.
SeenRecord* FindByNick(SeenIndex* index, const char* nick);

// Removes and releases the record with that nick: true when there was one,
// false (nothing changed) otherwise. The index must be in nick order.
bool RemoveByNick(SeenIndex* index, const char* nick);

}  // namespace lastspot::seen
