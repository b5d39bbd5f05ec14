// Point lookups of a table: a hash table of item pointers, beside the
// table's order. Items sit in chunks of seven slots: a chunk's tag word
// (hash_probe.h) holds a one-byte tag per slot and an overflow count, and
// its seven pointers lie in a second array. A key is looked for along its
// probe sequence, from its home chunk on for as long as the overflow counts
// say some item went past. So a lookup of an absent key mostly reads one tag
// word, from an array an eighth of the table's size that stays in the cache,
// and no item at all.
//
// Growth never stops the world; it goes through three states, each change
// (insertion or removal) taking it a step along:
//
//   Settled  one table, `table_`. When it is six sevenths full, Reserve
//            begins a table of twice the chunks, `larger_`: -> Making.
//   Making   each change allocates and clears two more of `larger_`'s
//            segments, while new items still go to `table_`, which has a
//            seventh of its slots to spare and needs far fewer changes than
//            that. Once `larger_` is whole it becomes `table_` and the old
//            one `old_`: -> Moving. When a segment cannot be had, `larger_`
//            is dropped: -> Settled, and the next Reserve begins again.
//   Moving   each change moves eight more chunks of `old_` into `table_`;
//            lookups look in both. When none is left `old_` goes: ->
//            Settled.
//
// `larger_` and `old_` never exist together. Tables are made of segments of
// at most 1,024 chunks, so no block is larger than 56 KiB however large the
// table, which a 32-bit process's scattered address space can give.
//
// The index does not own its items; it hashes a stored item with the
// owner's hasher (item_contracts.h) only while chunks move and when it
// checks itself.
//
// The members are defined by task in the files included at the end:
// growing, the bulk builds and the invariant check.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "index/hash_probe.h"
#include "index/item_contracts.h"

namespace lastspot::index {

template <typename Item, typename Hasher>
class HashIndex {
    static_assert(ItemHasher<Hasher, Item>, "the hasher lacks its call or Prefetch (item_contracts.h)");

public:
    static constexpr int kSlots = ChunkTags::kSlots;
    // Each chunk holds seven; a table grows when it holds six per chunk.
    static constexpr std::size_t kFullPerChunk = 6;
    // Chunks a growth moves per change: enough to end it within an eighth
    // of the old table's chunks' worth of changes, few enough that no
    // change waits long.
    static constexpr std::size_t kMovedPerChange = 8;
    // Segments of a larger table made per change while it is being made.
    static constexpr std::size_t kMadePerChange = 2;

    enum class Growth { Settled, Making, Moving };

    explicit HashIndex(Hasher hasher = Hasher()) : hasher_(hasher) {}
    ~HashIndex() { Clear(); }
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;

    std::size_t Count() const { return count_; }

    // Where a lookup found an item: for replacing or removing it without a
    // second search. Good until the index next changes.
    struct Place {
        Item* item = nullptr;  // nullptr: not found
        bool inOld = false;    // in `old_`, which a growth is moving out of
        std::size_t chunk = 0;
        int slot = 0;
    };

    // The stored item with hash `hash` for which `match(item)` is true
    // (ItemMatch), and its place; an empty place when there is none.
    template <typename Match>
    Place Find(std::uint64_t hash, Match match) const {
        static_assert(ItemMatch<Match, Item>, "a match tells whether a stored item has the key");
        Place place = FindIn(table_, hash, match);
        if (place.item == nullptr && growth_ == Growth::Moving) {
            place = FindIn(old_, hash, match);
            place.inOld = true;
        }
        return place;
    }

    // Puts `fresh`, with the same key, in the place of the item found there.
    void ReplaceAt(const Place& place, Item* fresh) {
        TableOf(place).ItemsAt(place.chunk).item[place.slot] = fresh;
    }

    // Takes out the item found at `place`, whose hash is `hash`, and takes a
    // growth a step along.
    void RemoveAt(const Place& place, std::uint64_t hash) {
        EmptySlot(place.inOld ? &old_ : &table_, place.chunk, place.slot, hash);
        --count_;
        StepGrowth();
    }

    // Takes `item` itself out, as RemoveAt does; false when it is not stored.
    bool Remove(const Item* item, std::uint64_t hash) {
        Place place = Find(hash, [item](const Item* stored) { return stored == item; });
        if (place.item == nullptr) return false;
        RemoveAt(place, hash);
        return true;
    }

    // Makes sure the next Insert has a slot: begins a growth when the table
    // is full enough. When memory for a larger table cannot be had, the
    // present one fills further (and a later call tries again); only when
    // it has no free slot at all does this throw std::bad_alloc, with
    // nothing changed.
    void Reserve();

    // Stores `item`, whose key is not stored; Reserve must have come first.
    // Takes a growth a step along. Cannot fail.
    void Insert(Item* item, std::uint64_t hash) {
        InsertIn(&table_, item, hash);
        ++count_;
        StepGrowth();
    }

    // Forgets every item and frees every table.
    void Clear() {
        FreeTable(&table_);
        FreeTable(&old_);
        FreeTable(&larger_);
        growth_ = Growth::Settled;
        count_ = 0;
        moved_ = 0;
    }

    // Whether a table of a quarter of the chunks would hold the present
    // count below its growth mark: so after bulk removals.
    bool Oversized() const { return table_.chunks >= 8 && count_ <= table_.chunks / 4 * kFullPerChunk; }

    // Makes the index hold exactly the `count` items that `next(&hash)`
    // hands out (then nullptr), each with its hash, in a new table sized
    // for them; the tables held before are freed, not their items. False,
    // with nothing changed, when the new table cannot be had: for loading a
    // table, and for fitting the table to fewer items.
    template <typename Next>
    bool Rebuild(std::size_t count, Next next);

    // The same in the table held now (a growth under way is dropped by it),
    // for the items' new addresses after they moved. Allocates nothing.
    template <typename Next>
    void Refill(Next next);

    // Checks that `count` items are stored, each where a lookup by its hash
    // finds it (`forEach(visit)` calls visit(item) for every item the owner
    // holds), that every tag is its item's and every overflow count what the
    // items make it (or saturated), and that the growth state is what the
    // tables say: `larger_` and `old_` not both, each the size its state
    // gives, `larger_` empty, `old_` empty below the chunks moved. On
    // failure `*problem` says what is wrong.
    template <typename ForEach>
    bool Verify(ForEach forEach, std::string* problem) const;

private:
    friend struct HashIndexPeer;  // the tests' fault planting

    using Tags = ChunkTags;
    struct Items {
        Item* item[kSlots];  // valid where the slot's tag is not 0
    };

    static constexpr int kSegmentBits = 10;
    static constexpr std::size_t kSegmentChunks = std::size_t{1} << kSegmentBits;

    // A table's chunks, in segments of kSegmentChunks (or all of them, when
    // fewer): each segment's tags in one block and its pointers in another.
    //   tags, items  the directory: one block pointer per segment, both
    //                arrays in one allocation; entries from `segments` on
    //                are nullptr. While `old_` is moved out, the pointer
    //                blocks of the segments it has passed are freed at once
    //                (nullptr): a lookup there reads tags only, all clear.
    //   chunks       a power of two; 0 when there is no table
    //   segments     segments made: all of them but while the table is
    //                `larger_`, being made
    //   perSegment   chunks per segment: min(chunks, kSegmentChunks)
    struct Table {
        Tags** tags = nullptr;
        Items** items = nullptr;
        std::size_t chunks = 0;
        std::size_t segments = 0;
        std::size_t perSegment = 0;
        std::size_t Segments() const { return chunks == 0 ? 0 : chunks / perSegment; }  // when whole
        Tags& TagsAt(std::size_t i) const { return tags[i >> kSegmentBits][i & (kSegmentChunks - 1)]; }
        Items& ItemsAt(std::size_t i) const { return items[i >> kSegmentBits][i & (kSegmentChunks - 1)]; }
    };

    const Table& TableOf(const Place& place) const { return place.inOld ? old_ : table_; }

    // The item along `hash`'s probe in `table` for which `match` is true.
    template <typename Match>
    static Place FindIn(const Table& table, std::uint64_t hash, Match& match) {
        Place place;
        if (table.chunks == 0) return place;
        std::uint8_t tag = TagOf(hash);
        ProbeSeq probe(hash, table.chunks);
        // The home chunk's pointers are asked for with its tags, not after
        // them: a hit then waits for one of the two, not both in turn.
        if (table.items[probe.Chunk() >> kSegmentBits] != nullptr)
            __builtin_prefetch(&table.ItemsAt(probe.Chunk()));
        for (std::size_t probes = 0; probes < table.chunks; ++probes, probe.Next()) {
            const Tags& tags = table.TagsAt(probe.Chunk());
            for (int s : TagCandidates(tags, tag)) {
                Item* item = table.ItemsAt(probe.Chunk()).item[s];
                if (tags.tag[s] == tag && match(static_cast<const Item*>(item))) {
                    place.item = item;
                    place.chunk = probe.Chunk();
                    place.slot = s;
                    return place;
                }
            }
            if (tags.overflow == 0) break;
        }
        return place;
    }

    // Inserts every item `next` hands out (with its hash) into `table`, which
    // has room for them all, asking for each one's home chunk ahead of time;
    // returns how many (hash_index_bulk.h).
    template <typename Next>
    static std::size_t InsertEach(Table* table, Next next);

    // Puts `item` in the first empty slot along its probe; the chunks passed
    // count one more item gone past. The table must have an empty slot.
    static void InsertIn(Table* table, Item* item, std::uint64_t hash) {
        for (ProbeSeq probe(hash, table->chunks);; probe.Next()) {
            Tags& tags = table->TagsAt(probe.Chunk());
            for (int s : TagCandidates(tags, 0)) {
                if (tags.tag[s] != 0) continue;
                tags.tag[s] = TagOf(hash);
                table->ItemsAt(probe.Chunk()).item[s] = item;
                return;
            }
            if (tags.overflow != 255) ++tags.overflow;
        }
    }

    // Empties slot `s` of chunk `at`, which holds an item of `hash`: the
    // chunks its probe passed count one item fewer.
    static void EmptySlot(Table* table, std::size_t at, int s, std::uint64_t hash) {
        table->TagsAt(at).tag[s] = 0;
        for (ProbeSeq probe(hash, table->chunks); probe.Chunk() != at; probe.Next()) {
            Tags& passed = table->TagsAt(probe.Chunk());
            if (passed.overflow != 255) --passed.overflow;
        }
    }

    // Growing (hash_index_growth.h).
    static Table MakeTable(std::size_t chunks);
    static Table BeginTable(std::size_t chunks);
    static void AddSegments(Table* table, std::size_t count);
    static void FreeTable(Table* table);
    static std::size_t ChunksFor(std::size_t count);
    void BeginGrowth(std::size_t larger);
    void GrowNow(std::size_t larger);
    void MakeMore(std::size_t segments);
    void MoveChunks(std::size_t chunks);
    void StepGrowth() {
        if (growth_ == Growth::Moving) {
            MoveChunks(kMovedPerChange);
        } else if (growth_ == Growth::Making) {
            MakeMore(kMadePerChange);
        }
    }

    // Checking (hash_index_verify.h).
    struct Checker;

    Hasher hasher_;
    Growth growth_ = Growth::Settled;
    Table table_;            // where new items go
    Table old_;              // Moving: the table being moved out of; else no chunks
    Table larger_;           // Making: the table being made; else no chunks
    std::size_t moved_ = 0;  // Moving: chunks of `old_` moved so far
    std::size_t count_ = 0;  // items in `table_` and `old_`
};

}  // namespace lastspot::index

#include "index/hash_index_growth.h"
#include "index/hash_index_bulk.h"
#include "index/hash_index_verify.h"
