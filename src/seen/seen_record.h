// What one table knows about one nick, the store that holds a table's
// records, their two orders and the record operations every command uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "index/hash_index.h"
#include "index/ordered_index.h"
#include "seen/record_heap.h"
#include "text/case_map.h"
#include "text/nick_key.h"

namespace lastspot::seen {

// One nick's record: one block of its table's heap, the two numbers and
// then its five strings back to back, the nick first:
// "nick\0address\0channel\0type\0text\0". A walk finds everything in the
// same block, mostly in its first cache line or two. An absent string is
// held as "". The block is a whole number of 8-byte words, 8-aligned, and
// the bytes after the text's NUL are zero, so the strings may be read a
// word at a time. Its values never change: a replace puts a new record in
// its place.
struct SeenRecord {
    std::int32_t seenTime;   // larger is more recent
    std::int32_t timeSpent;
    char nick[];             // the key, then the other four strings
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

// A record's values as a line gives them: the strings point into the line,
// each ended by a NUL there, with their lengths.
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

// The record's size in bytes, its five strings' terminators included.
std::size_t RecordBytes(const SeenRecord& record);

// A new record in `heap` holding copies of the strings (nullptr counts as
// "") and the two numbers, not yet in any index. Note the argument order:
// time spent before the text, seen time last. Throws std::bad_alloc,
// leaking nothing, when memory runs out.
SeenRecord* BuildRecord(RecordHeap* heap, const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text, std::int32_t seenTime);

// The same from parsed values, without measuring them again.
SeenRecord* BuildRecord(RecordHeap* heap, const RecordFields& fields);

// Gives the record's room back to `heap`. nullptr is ignored.
void ReleaseRecord(RecordHeap* heap, SeenRecord* record);

// The nick order of every table: IrcCompare of the two nicks.
int CompareByNick(const SeenRecord* probe, const SeenRecord* stored);

// Most recently seen first (seen times compared as signed 32-bit values);
// records seen at the same time in nick order.
int CompareBySeenTime(const SeenRecord* probe, const SeenRecord* stored);

// How the two indexes of a table see a record.
struct NickOrder {
    static std::uint64_t Prefix(const SeenRecord* record) { return text::IrcPrefix(record->nick); }
    static int Compare(const SeenRecord* a, const SeenRecord* b) { return text::IrcCompare(a->nick, b->nick); }
    // A walk reads the numbers, the nick, the address and the channel: the
    // block's first two cache lines hold them for all but long texts.
    static void Prefetch(const SeenRecord* record) {
        __builtin_prefetch(record);
        __builtin_prefetch(reinterpret_cast<const char*>(record) + 64);
    }
};
struct NickHasher {
    std::uint64_t seed = 0;
    std::uint64_t operator()(const SeenRecord* record) const { return text::MakeNickKey(record->nick, seed).hash; }
    void Prefetch(const SeenRecord* record) const { __builtin_prefetch(record); }
};

// The records of one table: a B+-tree in nick order for walks, beside it a
// hash table for finding one nick, and the heap their blocks come from.
// Owns its records: clearing or destroying it releases every one. Walks
// (ForEach, or the cursor: ResetCursor, then NextItem until nullptr) visit
// the records in nick order; nothing may change the store during a walk.
class SeenIndex {
public:
    SeenIndex();
    ~SeenIndex() { Clear(); }
    SeenIndex(const SeenIndex&) = delete;
    SeenIndex& operator=(const SeenIndex&) = delete;

    std::int32_t Count() const { return order_.Count(); }

    // Where records for this store are built.
    RecordHeap* Heap() { return &heap_; }

    // The record whose nick equals `nick` under the IRC case rules, or
    // nullptr. Allocates nothing.
    SeenRecord* Find(const char* nick) const;

    // Stores `fresh`, built in this store's heap; when a record of that nick
    // is held, `fresh` takes its place (so the nick's letter case is the new
    // one's) and the old one is released. Throws std::bad_alloc, with the
    // store as it was and `fresh` still the caller's, when memory runs out.
    void Store(SeenRecord* fresh);

    // Stores a record of these values, as Store does; when a record of that
    // nick is held and the new values fit its block, they are written over
    // it, and nothing else changes. Throws std::bad_alloc, with the store
    // as it was, when memory runs out.
    void Put(const RecordFields& fields);

    // Removes and releases the record of that nick: false when there is none.
    bool Remove(const char* nick);

    // Releases every record.
    void Clear();

    // Calls `visit(record)` for each record in nick order until it returns
    // false; returns false then. Records are fetched well ahead of use.
    template <typename Visit>
    bool ForEach(Visit visit) const {
        return order_.ForEach(visit);
    }

    // Releases every record for which `doomed(record)` is true, asked once
    // per record in nick order; returns how many went. Never fails: what it
    // does beyond that for memory's sake (packing the survivors, a smaller
    // hash table) it leaves when the memory for it cannot be had.
    template <typename Doomed>
    std::int32_t RemoveWhere(Doomed doomed) {
        return RemoveWhere(
            [](const SeenRecord* record, const void* context) { return (*static_cast<const Doomed*>(context))(record); },
            &doomed);
    }
    // The same with the question as a plain function and its context: one
    // copy of the removal's code, whoever asks.
    std::int32_t RemoveWhere(bool (*doomed)(const SeenRecord* record, const void* context), const void* context);

    void ResetCursor() { order_.ResetCursor(); }
    SeenRecord* NextItem() { return order_.NextItem(); }

    // Checks both indexes, that they hold the same records, and the heap's
    // books.
    bool Verify(std::string* problem) const;

    // The bytes the store holds beyond its records' own: index nodes, hash
    // table, holes.
    std::size_t OverheadBytes() const { return order_.NodeBytes() + hash_.Bytes() + heap_.HeldBytes() - heap_.LiveBytes(); }

    // Fills a new store from records in any order, as successive Stores
    // would, but in time proportional to their number when they come in
    // nick order (a saved file): those become the tree bottom-up, and the
    // others are stored one by one at the end. Records are built straight
    // into the new store's heap, one after the other.
    class Loader {
    public:
        Loader();
        ~Loader();
        Loader(const Loader&) = delete;
        Loader& operator=(const Loader&) = delete;
        // Builds a record of these values and takes it in. Throws
        // std::bad_alloc when memory runs out.
        void Add(const RecordFields& fields);
        // The filled store; the loader is left empty. Throws std::bad_alloc
        // when memory runs out.
        std::unique_ptr<SeenIndex> Finish();

    private:
        // Sorts the late records by nick and merges them into the run, a
        // late record taking the place of a run record of its nick and the
        // last of several late ones winning. False, with nothing changed,
        // when the array for the sort cannot be had; once that is had, a
        // failure is the load's (std::bad_alloc).
        bool MergeLate();

        // Values in order, in blocks of 64 KiB: a list that grows without
        // ever copying itself or asking for more than one block at a time.
        template <typename Value>
        class BlockList {
            struct Block;

        public:
            BlockList() = default;
            ~BlockList();
            BlockList(const BlockList&) = delete;
            BlockList& operator=(const BlockList&) = delete;
            // Throws std::bad_alloc, with the list as it was.
            void Append(Value value);
            void Clear();
            void Swap(BlockList* other) {
                std::swap(first_, other->first_);
                std::swap(last_, other->last_);
            }

            // Hands the values out in order, one per Next.
            class Reader {
            public:
                explicit Reader(const BlockList& list) : block_(list.first_) {}
                Value Next();

            private:
                const typename BlockList::Block* block_;
                std::size_t at_ = 0;
            };

        private:
            Block* first_ = nullptr;
            Block* last_ = nullptr;
        };

        std::unique_ptr<SeenIndex> store_;  // its heap holds every record built
        index::OrderedIndex<SeenRecord, NickOrder>::Builder run_;  // ascending by nick
        BlockList<SeenRecord*> late_;       // the others, in file order
        std::size_t lateCount_ = 0;
        // The hashes of the run's records, worked out while each nick was at
        // hand; dropped (and worked out again at the end) when a block for
        // them cannot be had.
        BlockList<std::uint64_t> hashes_;
        bool hashesLost_ = false;
    };

private:
    NickHasher Hasher() const { return NickHasher{seed_}; }
    text::NickKey KeyOf(const char* nick) const { return text::MakeNickKey(nick, seed_); }
    using Order = index::OrderedIndex<SeenRecord, NickOrder>;
    // Puts `fresh` in the place of the record found at `place` (and at
    // `position` in the order, when known), releasing it.
    void ReplaceAt(const index::HashIndex<SeenRecord, NickHasher>::Place& place, SeenRecord* fresh,
                   const Order::Position* position = nullptr);
    // Stores `fresh`, whose nick is not held; throws as Store does.
    void Insert(SeenRecord* fresh, std::uint64_t hash);
    // After bulk removals: packs the records into new blocks when holes
    // hold twice as much as the records, and fits the hash table to the
    // count.
    void Tidy();

    std::uint64_t seed_;
    index::OrderedIndex<SeenRecord, NickOrder> order_;
    index::HashIndex<SeenRecord, NickHasher> hash_;
    RecordHeap heap_;
};


// Stores a record of these values in `index`, replacing every value of a
// record of that nick (its letter case included). Throws std::bad_alloc,
// with the index and every record as they were, when memory runs out.
void AddOrReplace(SeenIndex* index, const char* nick, const char* address, const char* channel,
                  const char* type, std::int32_t timeSpent, const char* text, std::int32_t seenTime);
inline void AddOrReplace(SeenIndex* index, const RecordFields& fields) { index->Put(fields); }

// The record whose nick equals `nick` under the IRC case rules, still owned
// by the index, or nullptr.
inline SeenRecord* FindByNick(SeenIndex* index, const char* nick) { return index->Find(nick); }

// Removes and releases the record with that nick: true when there was one,
// false (nothing changed) otherwise.
inline bool RemoveByNick(SeenIndex* index, const char* nick) { return index->Remove(nick); }

}  // namespace lastspot::seen
