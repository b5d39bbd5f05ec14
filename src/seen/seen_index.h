// The records of one table: a B+-tree in nick order for walks, beside it a
// hash table for finding one nick, and the heap their blocks come from.
#pragma once

#include <cstdint>
#include <string>

#include "index/hash_index.h"
#include "index/ordered_index.h"
#include "seen/record_heap.h"
#include "seen/seen_record.h"
#include "text/case_map.h"
#include "text/nick_key.h"

namespace lastspot::seen {

// How the B+-tree sees a record: by its nick, under the IRC case rules.
struct NickOrder {
    static std::uint64_t Prefix(const SeenRecord* record) { return text::IrcPrefix(record->nick); }
    static int Compare(const SeenRecord* a, const SeenRecord* b) {
        return text::IrcCompare(a->nick, b->nick);
    }
    // A walk reads the numbers, the nick, the address and the channel: the
    // block's first two cache lines hold them for all but long texts.
    static void Prefetch(const SeenRecord* record) {
        __builtin_prefetch(record);
        __builtin_prefetch(reinterpret_cast<const char*>(record) + 64);
    }
};

// How the hash table sees a record: the hash of its nick under the table's
// seed (text::MakeNickKey), equal for nicks IrcCompare finds equal.
struct NickHasher {
    std::uint64_t seed = 0;
    std::uint64_t operator()(const SeenRecord* record) const {
        return text::MakeNickKey(record->nick, seed).hash;
    }
    void Prefetch(const SeenRecord* record) const { __builtin_prefetch(record); }
};

// A table's store. Owns its records: clearing or destroying it releases
// every one. Walks (ForEach, or the cursor: ResetCursor, then NextItem until
// nullptr) visit the records in nick order; nothing may change the store
// during a walk. No two records have nicks IrcCompare finds equal, and both
// indexes hold every record.
class SeenIndex {
public:
    SeenIndex();
    ~SeenIndex() { Clear(); }
    SeenIndex(const SeenIndex&) = delete;
    SeenIndex& operator=(const SeenIndex&) = delete;

    std::int32_t Count() const { return order_.Count(); }

    // The record whose nick equals `nick` under the IRC case rules, still
    // the store's, or nullptr. Allocates nothing.
    SeenRecord* FindByNick(const char* nick) const;

    // Stores a record of these values; a record of that nick that was held
    // takes every new value, its nick's letter case included. Throws
    // std::bad_alloc, with the store as it was, when memory runs out.
    void AddOrReplace(const RecordFields& fields);

    // Removes and releases the record of that nick: false, with nothing
    // changed, when there is none. Allocates nothing.
    bool RemoveByNick(const char* nick);

    // Releases every record.
    void Clear();

    // Calls `visit(record)` for each record in nick order until it returns
    // false; returns false then. Records are fetched well ahead of use.
    template <typename Visit>
    bool ForEach(Visit visit) const {
        return order_.ForEach(visit);
    }

    // As ForEach, for a visitor that reads the whole of each record (a
    // save): the first 128 bytes of each, all of most, are asked for. In a
    // table of 1M records built by random adds, this took a save from about
    // 113 ns a record to 98.
    template <typename Visit>
    bool ForEachWhole(Visit visit) const {
        return order_.ForEach(visit, [](const SeenRecord* record) {
            const char* start = reinterpret_cast<const char*>(record);
            __builtin_prefetch(start);
            __builtin_prefetch(start + 64);
            __builtin_prefetch(start + 127);  // the third line, unless the first began at one's start
        });
    }

    // Releases every record for which `doomed(record)` is true, asked once
    // per record in nick order; returns how many went. Never fails: what it
    // does beyond that for memory's sake (packing the survivors, a smaller
    // hash table) it leaves when the memory for it cannot be had.
    template <typename Doomed>
    std::int32_t RemoveWhere(Doomed doomed) {
        auto ask = [](const SeenRecord* record, const void* context) {
            return (*static_cast<const Doomed*>(context))(record);
        };
        return RemoveWhere(ask, &doomed);
    }

    void ResetCursor() { order_.ResetCursor(); }
    SeenRecord* NextItem() { return order_.NextItem(); }

    // Checks both indexes, that they hold the same records, and the heap's
    // books (seen_index_checks.cpp).
    bool Verify(std::string* problem) const;

private:
    friend class SeenIndexLoader;  // fills a new store's parts directly
    using Order = index::OrderedIndex<SeenRecord, NickOrder>;
    using Hash = index::HashIndex<SeenRecord, NickHasher>;

    // Stores `fresh`, built in this store's heap, as AddOrReplace stores its
    // values: in the place of a held record of its nick, which is released.
    // Throws std::bad_alloc, with the store as it was and `fresh` still the
    // caller's, when memory runs out.
    void AddOrReplace(SeenRecord* fresh);
    // The bulk removal with the question as a plain function and its
    // context: one copy of its code, whoever asks.
    std::int32_t RemoveWhere(bool (*doomed)(const SeenRecord* record, const void* context),
                             const void* context);

    NickHasher Hasher() const { return NickHasher{seed_}; }
    // The nick's record in the hash table (an empty place when it has none),
    // and in `*leaf` the way to the leaf of the order that holds or would
    // hold it.
    Hash::Place FindInBoth(const char* nick, const text::NickKey& key, Order::Place* leaf) const;
    // Puts `fresh` in the place of the record found at `found` (and at
    // `leaf` in the order), releasing that record.
    void ReplaceAt(const Hash::Place& found, const Order::Place& leaf, SeenRecord* fresh);
    // Stores `fresh`, whose nick is not held; throws as AddOrReplace does.
    void Insert(SeenRecord* fresh, std::uint64_t hash);
    // After bulk removals: fits the hash table to the count, and packs the
    // records into new blocks when holes hold twice as much as the records.
    void Tidy();
    bool PackRecords();

    std::uint64_t seed_;
    Order order_;
    Hash hash_;
    RecordHeap heap_;
};

}  // namespace lastspot::seen
