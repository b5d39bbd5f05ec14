// What one table knows about one nick: the record's layout in its table's
// heap, the values a record is built from, and the two orders over records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "seen/record_heap.h"
#include "text/case_map.h"

namespace lastspot::seen {

// One nick's record: one block of its table's heap, the two numbers and
// then its five strings back to back, the nick first:
// "nick\0address\0channel\0type\0text\0". A walk finds everything in the
// same block, mostly in its first cache line or two. An absent string is
// held as "". The block is a whole number of 8-byte words, 8-aligned, and
// the bytes after the text's NUL are zero, so the strings may be read a
// word at a time.
struct SeenRecord {
    std::int32_t seenTime;  // larger is more recent
    std::int32_t timeSpent;
    char nick[];  // the key, then the other four strings
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

inline const char* AddressOf(const SeenRecord& record) {
    return record.nick + std::char_traits<char>::length(record.nick) + 1;
}
inline const char* ChannelOf(const char* address) {
    return address + std::char_traits<char>::length(address) + 1;
}

// A record's values before it is built: the strings, each ended by a NUL
// and of its length (none within), and the two numbers. A line's parser
// (record_line.h) points them into the line, where each word's NUL took
// the place of the space after it.
struct RecordFields {
    const char* nick;
    const char* address;
    const char* channel;
    const char* type;
    const char* text;
    std::int32_t seenTime;
    std::int32_t timeSpent;
    std::size_t nickLength, addressLength, channelLength, typeLength, textLength;
};

// The bytes a record of these values takes, its five terminators included.
std::size_t RecordBytes(const RecordFields& fields);
// The bytes the record takes.
std::size_t RecordBytes(const SeenRecord& record);

// A new record of these values in `heap`, not yet in any index. Throws
// std::bad_alloc, with nothing taken from the heap, when memory runs out.
SeenRecord* BuildRecord(RecordHeap* heap, const RecordFields& fields);

// Writes the values over `record`, whose block has the room: its rounded
// size is that of RecordBytes(fields).
void RewriteRecord(SeenRecord* record, const RecordFields& fields);

// Gives the record's room back to `heap`. nullptr is ignored.
void ReleaseRecord(RecordHeap* heap, SeenRecord* record);

// The nick order of every table: IrcCompare of the two nicks.
inline int CompareByNick(const SeenRecord* probe, const SeenRecord* stored) {
    return text::IrcCompare(probe->nick, stored->nick);
}

// Most recently seen first (seen times compared as signed 32-bit values);
// records seen at the same time in nick order.
inline int CompareBySeenTime(const SeenRecord* probe, const SeenRecord* stored) {
    // Compared, never subtracted: the difference of two 32-bit times need
    // not fit in 32 bits.
    if (probe->seenTime == stored->seenTime) return text::IrcCompare(probe->nick, stored->nick);
    return probe->seenTime > stored->seenTime ? -1 : 1;
}

}  // namespace lastspot::seen
