// What one table knows about one nick, the index class that holds such
// records, their two orders and the record operations every command uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/avl_index.h"

namespace lastspot::seen {

// One nick's record, and at the same time its node in the table's index:
// one block, ending with its five strings back to back, the nick first:
// "nick\0address\0channel\0type\0text\0". A search reads the links and
// the nick from the block's start (for nicks up to about two dozen
// characters, one cache line); a walk finds everything else in the same
// block. An absent string is held as "". A stored record is owned by the
// index that holds it. Its values never change: a replace puts a new record
// in its place.
struct SeenRecord {
    index::AvlNode node;        // links in the table's index
    std::int32_t seenTime;      // larger is more recent
    std::int32_t timeSpent;
    std::uint32_t addressAt;    // where the address starts, counted from the nick
    std::uint32_t channelAt;    // where the channel starts, counted from the nick
    char nick[];                // the key, then the other four strings
};

// The record's strings after the nick.
struct RecordTexts {
    const char* address;
    const char* channel;
    const char* type;
    const char* text;  // free text; may be empty, may hold spaces
};

// Finds the four strings after the nick.
RecordTexts TextsOf(const SeenRecord& record);

inline const char* AddressOf(const SeenRecord& record) { return record.nick + record.addressAt; }
inline const char* ChannelOf(const SeenRecord& record) { return record.nick + record.channelAt; }

// A new record holding copies of the strings (nullptr counts as "") and the
// two numbers, not yet in any index. Note the argument order: time spent
// before the text, seen time last. Throws std::bad_alloc, leaking nothing,
// when memory runs out.
SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime);

// Releases the record. nullptr is ignored.
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

// Stores a record of these values in `index` (in nick order); when the
// index holds the nick already, the new record takes the old one's place
// (so the nick's letter case is the new one's) and the old one is
// released. Returns the new record. Throws std::bad_alloc, with the index
// and every record as they were, when memory runs out.
SeenRecord* AddOrReplace(SeenIndex* index, const char* nick, const char* address,
                         const char* channel, const char* type, std::int32_t timeSpent,
                         const char* text, std::int32_t seenTime);

// AddOrReplace with a ready record, which the index owns from then on.
// Allocates nothing.
void StoreRecord(SeenIndex* index, SeenRecord* fresh);

// The record whose nick equals `nick` under the IRC case rules, still owned
// by the index, or nullptr. The index must be in nick order.
SeenRecord* FindByNick(SeenIndex* index, const char* nick);

// Removes and releases the record with that nick: true when there was one,
// false (nothing changed) otherwise. The index must be in nick order.
bool RemoveByNick(SeenIndex* index, const char* nick);

}  // namespace lastspot::seen
