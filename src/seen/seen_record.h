// What one table knows about one nick, the index class that holds such
// records, their two orders and the record operations every command uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/avl_index.h"

namespace lastspot::seen {

// One nick's record, and at the same time its node in the table's index.
// A record is two blocks: this one, which ends with the nick (so a search
// reads the links, the times and the nick from one block, and for nicks up
// to about two dozen characters from one cache line), and its payload, the
// four other strings back to back: "address\0channel\0type\0text\0". An
// absent string is held as "". A stored record is owned by the index that
// holds it; it owns its payload.
struct SeenRecord {
    index::AvlNode node;        // links in the table's index
    std::int32_t seenTime;      // larger is more recent
    std::int32_t timeSpent;
    char* payload;              // address, channel, type and text
    char nick[];                // the key; the block ends with its terminator
};

// The payload's four strings.
struct RecordTexts {
    const char* address;
    const char* channel;
    const char* type;
    const char* text;  // free text; may be empty, may hold spaces
};

// Finds the four strings in the record's payload.
RecordTexts TextsOf(const SeenRecord& record);

inline const char* AddressOf(const SeenRecord& record) { return record.payload; }
const char* ChannelOf(const SeenRecord& record);

// A new record holding copies of the strings (nullptr counts as "") and the
// two numbers, not yet in any index. Note the argument order: time spent
// before the text, seen time last. Throws std::bad_alloc, leaking nothing,
// when memory runs out.
SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime);

// Releases the record's payload and then the record. nullptr is ignored.
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

// Stores a record of these values in `index` (in nick order), or, when the
// index holds the nick already, gives that record all the new values (its
// nick's letter case included) where it stands. Returns the record the
// index holds afterwards. Throws std::bad_alloc, with the index and every
// record as they were, when memory runs out.
SeenRecord* AddOrReplace(SeenIndex* index, const char* nick, const char* address,
                         const char* channel, const char* type, std::int32_t timeSpent,
                         const char* text, std::int32_t seenTime);

// Stores the ready record `fresh` in `index` (in nick order), or, when the
// index holds its nick already, moves its values into the held record and
// releases it. Allocates nothing.
void AddOrReplaceWith(SeenIndex* index, SeenRecord* fresh);

// The record whose nick equals `nick` under the IRC case rules, still owned
// by the index, or nullptr. The index must be in nick order.
SeenRecord* FindByNick(SeenIndex* index, const char* nick);

// Removes and releases the record with that nick: true when there was one,
// false (nothing changed) otherwise. The index must be in nick order.
bool RemoveByNick(SeenIndex* index, const char* nick);

}  // namespace lastspot::seen
