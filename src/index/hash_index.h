// Point lookups of a table: a hash table of item pointers, beside the
// table's order. Items sit in chunks of seven slots. A chunk's eight-byte
// word holds seven one-byte tags (the high bit set and seven bits of the
// item's hash; 0 for an empty slot) and an overflow count; its seven
// pointers lie in a second array. A key is looked for in its home chunk,
// then in the chunks after it for as long as their overflow count says that
// some item from before them went past. So a lookup of an absent key mostly
// reads one tag word, from an array an eighth of the table's size that
// stays in the cache, and no item at all; and removing an item leaves
// nothing behind.
//
// Growth never stops the world: when the table is six sevenths full, a table
// of twice the chunks is begun; each change then allocates and clears two
// of its segments while new items still go to the present table, which has
// a seventh of its slots to spare and needs far fewer changes than that.
// Once the larger table is whole, new items go there, and every change
// moves eight more chunks of the old table over, until none is left.
// Lookups look in both while that lasts. The tables are made of segments of
// at most 1,024 chunks, so no block is larger than 56 KiB however large the
// table, which a 32-bit process's scattered address space can give.
//
// The index does not own its items. It finds the hash of a stored item with
// the owner's hasher, which is asked only while chunks move:
//
//   struct Hasher {
//     std::uint64_t operator()(const Item* item) const;
//     void Prefetch(const Item* item) const;  // asks for what it reads
//   };
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "index/check_text.h"

namespace lastspot::index {

template <typename Item, typename Hasher>
class HashIndex {
public:
    static constexpr int kSlots = 7;
    // Each chunk holds seven; a table grows when it holds six per chunk.
    static constexpr std::size_t kFullPerChunk = 6;
    // Chunks a growth moves per change: enough to end it within an eighth
    // of the old table's chunks' worth of changes, few enough that no
    // change waits long.
    static constexpr std::size_t kMovedPerChange = 8;
    // Segments of a larger table made per change while it is begun.
    static constexpr std::size_t kMadePerChange = 2;

    explicit HashIndex(Hasher hasher = Hasher()) : hasher_(hasher) {}
    ~HashIndex() { Clear(); }
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;

    std::size_t Count() const { return count_; }

    // The stored item with hash `hash` for which `same(item)` is true, or
    // nullptr.
    template <typename Same>
    Item* Find(std::uint64_t hash, Same same) const {
        return const_cast<Item*>(Locate(hash, same).item);
    }

    // Where a lookup found an item: for replacing or erasing it without a
    // second search. Good until the index next changes.
    struct Place {
        const Item* item = nullptr;  // nullptr: not found
        bool old = false;            // in the table a growth is moving out of
        std::size_t chunk = 0;
        int slot = 0;
    };
    template <typename Same>
    Place Locate(std::uint64_t hash, Same same) const {
        Place place = LocateIn(table_, hash, same);
        if (place.item == nullptr && Moving()) {
            place = LocateIn(old_, hash, same);
            place.old = true;
        }
        return place;
    }

    // The item at a place Locate found.
    Item* At(const Place& place) const { return TableOf(place).ItemsAt(place.chunk).item[place.slot]; }

    // Puts `fresh`, with the same key, in the place of the item found there.
    void ReplaceAt(const Place& place, Item* fresh) { TableOf(place).ItemsAt(place.chunk).item[place.slot] = fresh; }

    // Takes out the item found at `place`, whose hash is `hash`.
    void EraseAt(const Place& place, std::uint64_t hash) {
        EmptySlot(place.old ? &old_ : &table_, place.chunk, place.slot, hash);
        --count_;
        MoveAlong();
    }

    // Asks for the tag word a lookup of `hash` reads first.
    void PrefetchHome(std::uint64_t hash) const {
        if (table_.chunks != 0) __builtin_prefetch(&table_.TagsAt(HomeOf(hash, table_)));
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
        MoveAlong();
    }

    // Takes `item` itself out; false when it is not stored.
    bool Erase(const Item* item, std::uint64_t hash) {
        bool erased = EraseIn(&table_, item, hash) || (Moving() && EraseIn(&old_, item, hash));
        if (erased) --count_;
        MoveAlong();
        return erased;
    }

    // Puts `fresh` in the slot of the stored `old`, which has the same key.
    void Replace(const Item* old, Item* fresh, std::uint64_t hash) {
        Item** slot = SlotOf(&table_, old, hash);
        if (slot == nullptr && Moving()) slot = SlotOf(&old_, old, hash);
        assert(slot != nullptr);
        *slot = fresh;
    }

    // Forgets every item and frees every table.
    void Clear() {
        FreeTable(&table_);
        FreeTable(&old_);
        FreeTable(&larger_);
        count_ = 0;
        moved_ = 0;
    }

    // Whether a table of a quarter of the chunks would hold the present
    // count below its growth mark: so after bulk removals.
    bool Oversized() const { return table_.chunks >= 8 && count_ <= table_.chunks / 4 * kFullPerChunk; }

    // Makes the index hold exactly the `count` items that `next()` hands
    // out (then nullptr), in a new table sized for them; the tables held
    // before are freed, not their items. False, with nothing changed, when
    // the new table cannot be had. For bulk builds and for shrinking.
    template <typename Next>
    bool Rebuild(std::size_t count, Next next) {
        return RebuildWithHashes(count, [this, &next](std::uint64_t* hash) {
            Item* item = next();
            if (item != nullptr) *hash = hasher_(item);
            return item;
        });
    }

    // The same with each item's hash at hand: `next(&hash)` gives the item
    // and sets its hash.
    template <typename Next>
    bool RebuildWithHashes(std::size_t count, Next next);

    // The same in the table held now (a growth under way is finished by
    // it), for when a new one cannot be had: the items' new addresses
    // after they moved. Allocates nothing.
    template <typename Next>
    void Refill(Next next);

    // Checks that `count` items are stored, each where a lookup by its hash
    // finds it (`forEach(visit)` calls visit(item) for every item the owner
    // holds), and that every overflow count is what the items make it (or
    // saturated). On failure `*problem` says what is wrong.
    template <typename ForEach>
    bool Verify(ForEach forEach, std::string* problem) const;

    std::size_t Bytes() const { return TableBytes(table_) + TableBytes(old_) + TableBytes(larger_); }

private:
    struct Tags {
        std::uint8_t tag[kSlots];  // 0: empty; else 0x80 | seven bits of the hash
        std::uint8_t overflow;     // items whose probe went past this chunk (255: at least)
    };
    struct Items {
        Item* item[kSlots];
    };
    static_assert(sizeof(Tags) == 8, "a chunk's tags are one word");
    static_assert(std::endian::native == std::endian::little, "tags are matched a word at a time");

    static constexpr int kSegmentBits = 10;
    static constexpr std::size_t kSegmentChunks = std::size_t{1} << kSegmentBits;

    // A table's chunks, in segments of kSegmentChunks (or all of them, when
    // fewer): each segment's tags in one block and its pointers in another.
    // A table being begun has its directory and its first `segments`.
    // While a growth moves a table's chunks out, the pointer blocks it has
    // passed are freed at once: a lookup there reads tags only, all clear.
    struct Table {
        Tags** tags = nullptr;      // per segment
        Items** items = nullptr;    // per segment; nullptr once freed
        std::size_t chunks = 0;     // a power of two; 0: no table
        std::size_t segments = 0;   // segments allocated
        std::size_t perSegment = 0;
        std::size_t Segments() const { return chunks == 0 ? 0 : chunks / perSegment; }  // when whole
        Tags& TagsAt(std::size_t i) const { return tags[i >> kSegmentBits][i & (kSegmentChunks - 1)]; }
        Items& ItemsAt(std::size_t i) const { return items[i >> kSegmentBits][i & (kSegmentChunks - 1)]; }
    };

    static std::uint8_t TagOf(std::uint64_t hash) { return static_cast<std::uint8_t>(0x80 | (hash & 0x7F)); }
    static std::size_t HomeOf(std::uint64_t hash, const Table& table) {
        return static_cast<std::size_t>(hash >> 7) & (table.chunks - 1);
    }

    // Bit 8*s+7 set for each slot s whose tag may be `tag` (every real one
    // among them; the caller checks each).
    static std::uint64_t Candidates(const Tags& tags, std::uint8_t tag) {
        std::uint64_t word;
        std::memcpy(&word, &tags, 8);
        std::uint64_t x = word ^ (0x0101010101010101u * tag);
        return (x - 0x0101010101010101u) & ~x & 0x0080808080808080u;  // byte 7 is the overflow count
    }
    static int SlotOfBit(std::uint64_t bits) { return std::countr_zero(bits) >> 3; }

    bool Moving() const { return old_.chunks != 0; }
    bool Beginning() const { return larger_.chunks != 0; }
    const Table& TableOf(const Place& place) const { return place.old ? old_ : table_; }

    template <typename Same>
    static Place LocateIn(const Table& table, std::uint64_t hash, Same& same) {
        Place place;
        if (table.chunks == 0) return place;
        std::uint8_t tag = TagOf(hash);
        std::size_t i = HomeOf(hash, table);
        // The home chunk's pointers are asked for with its tags, not after
        // them: a hit then waits for one of the two, not both in turn.
        if (table.items[i >> kSegmentBits] != nullptr) __builtin_prefetch(&table.ItemsAt(i));
        for (std::size_t probes = 0; probes < table.chunks; ++probes) {
            const Tags& tags = table.TagsAt(i);
            for (std::uint64_t bits = Candidates(tags, tag); bits != 0; bits &= bits - 1) {
                int s = SlotOfBit(bits);
                Item* item = table.ItemsAt(i).item[s];
                if (tags.tag[s] == tag && same(static_cast<const Item*>(item))) {
                    place.item = item;
                    place.chunk = i;
                    place.slot = s;
                    return place;
                }
            }
            if (tags.overflow == 0) return place;
            i = (i + 1) & (table.chunks - 1);
        }
        return place;
    }

    static void InsertIn(Table* table, Item* item, std::uint64_t hash) {
        std::size_t i = HomeOf(hash, *table);
        for (;;) {
            Tags& tags = table->TagsAt(i);
            for (std::uint64_t bits = Candidates(tags, 0); bits != 0; bits &= bits - 1) {
                int s = SlotOfBit(bits);
                if (tags.tag[s] != 0) continue;
                tags.tag[s] = TagOf(hash);
                table->ItemsAt(i).item[s] = item;
                return;
            }
            if (tags.overflow != 255) ++tags.overflow;
            i = (i + 1) & (table->chunks - 1);
        }
    }

    // The slot holding `item` itself, or nullptr.
    static Item** SlotOf(Table* table, const Item* item, std::uint64_t hash, std::size_t* at = nullptr,
                         int* slot = nullptr) {
        if (table->chunks == 0) return nullptr;
        std::uint8_t tag = TagOf(hash);
        std::size_t i = HomeOf(hash, *table);
        for (std::size_t probes = 0; probes < table->chunks; ++probes) {
            Tags& tags = table->TagsAt(i);
            for (std::uint64_t bits = Candidates(tags, tag); bits != 0; bits &= bits - 1) {
                int s = SlotOfBit(bits);
                Item** held = &table->ItemsAt(i).item[s];
                if (tags.tag[s] == tag && *held == item) {
                    if (at != nullptr) *at = i;
                    if (slot != nullptr) *slot = s;
                    return held;
                }
            }
            if (tags.overflow == 0) return nullptr;
            i = (i + 1) & (table->chunks - 1);
        }
        return nullptr;
    }

    // Empties the slot at chunk `at`, slot `s`, of an item with `hash`: the
    // chunks its probe went past count one item fewer.
    static void EmptySlot(Table* table, std::size_t at, int s, std::uint64_t hash) {
        table->TagsAt(at).tag[s] = 0;
        for (std::size_t i = HomeOf(hash, *table); i != at; i = (i + 1) & (table->chunks - 1)) {
            Tags& passed = table->TagsAt(i);
            if (passed.overflow != 255) --passed.overflow;
        }
    }

    static bool EraseIn(Table* table, const Item* item, std::uint64_t hash) {
        std::size_t at;
        int s;
        if (SlotOf(table, item, hash, &at, &s) == nullptr) return false;
        EmptySlot(table, at, s, hash);
        return true;
    }

    // A table of `chunks` chunks, all empty. Throws std::bad_alloc, having
    // freed what it got.
    static Table MakeTable(std::size_t chunks);
    // The directory of such a table, with no segment yet; then up to
    // `count` more of its segments, each empty (std::bad_alloc leaves the
    // table as it was).
    static Table BeginTable(std::size_t chunks);
    static void AddSegments(Table* table, std::size_t count);
    static void FreeTable(Table* table);
    static std::size_t TableBytes(const Table& table) {
        std::size_t bytes = table.segments * (table.perSegment * sizeof(Tags) + 2 * sizeof(void*));
        for (std::size_t s = 0; s < table.segments; ++s) {
            if (table.items[s] != nullptr) bytes += table.perSegment * sizeof(Items);
        }
        return bytes;
    }

    // The chunks a table needs to hold `count` items below the growth mark.
    static std::size_t ChunksFor(std::size_t count) {
        std::size_t chunks = 1;
        while (chunks * kFullPerChunk < count) chunks *= 2;
        return chunks;
    }

    // Moves the old table's chunks over, up to `chunks` of them.
    void MoveChunks(std::size_t chunks);
    // Makes more of the larger table, and once it is whole, moves to it.
    void BeginAlong(std::size_t segments);
    void MoveAlong() {
        if (Moving()) {
            MoveChunks(kMovedPerChange);
        } else if (Beginning()) {
            BeginAlong(kMadePerChange);
        }
    }

    Hasher hasher_;
    Table table_;   // where new items go
    Table old_;     // the table a growth is moving out of (chunks 0 when none)
    Table larger_;  // the table a growth has begun to make (chunks 0 when none)
    std::size_t moved_ = 0;  // old chunks moved over so far
    std::size_t count_ = 0;
};

// ---------------------------------------------------------------------------

template <typename Item, typename Hasher>
typename HashIndex<Item, Hasher>::Table HashIndex<Item, Hasher>::BeginTable(std::size_t chunks) {
    Table table;
    table.perSegment = std::min(chunks, kSegmentChunks);
    std::size_t segments = chunks / table.perSegment;
    // The directory: the tag blocks' pointers, then the pointer blocks'.
    auto** directory = static_cast<void**>(::operator new(2 * segments * sizeof(void*)));
    std::memset(directory, 0, 2 * segments * sizeof(void*));  // segments not yet made
    table.tags = reinterpret_cast<Tags**>(directory);
    table.items = reinterpret_cast<Items**>(directory + segments);
    table.chunks = chunks;
    return table;
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::AddSegments(Table* table, std::size_t count) {
    for (; count > 0 && table->segments < table->Segments(); --count) {
        std::size_t s = table->segments;
        table->tags[s] = static_cast<Tags*>(::operator new(table->perSegment * sizeof(Tags)));
        try {
            table->items[s] = static_cast<Items*>(::operator new(table->perSegment * sizeof(Items)));
        } catch (const std::bad_alloc&) {
            ::operator delete(table->tags[s]);
            throw;
        }
        std::memset(table->tags[s], 0, table->perSegment * sizeof(Tags));  // every slot empty
        ++table->segments;
    }
}

template <typename Item, typename Hasher>
typename HashIndex<Item, Hasher>::Table HashIndex<Item, Hasher>::MakeTable(std::size_t chunks) {
    Table table = BeginTable(chunks);
    try {
        AddSegments(&table, table.Segments());
    } catch (const std::bad_alloc&) {
        FreeTable(&table);
        throw;
    }
    return table;
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::FreeTable(Table* table) {
    for (std::size_t s = 0; s < table->segments; ++s) {
        ::operator delete(table->tags[s]);
        ::operator delete(table->items[s]);
    }
    ::operator delete(table->tags);
    *table = Table();
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::Reserve() {
    if (Moving()) {
        // A growth keeps ahead of the inserts (it moves eight chunks per
        // change and the new table takes six items per old chunk before it
        // is full), so the new table always has room.
        assert(count_ < table_.chunks * kSlots);
        return;
    }
    std::size_t larger = table_.chunks == 0 ? 1 : table_.chunks * 2;
    if (!Beginning() && count_ >= table_.chunks * kFullPerChunk) {
        try {
            larger_ = BeginTable(larger);
            // A small table is made whole at once: a few segments are no pause.
            if (larger_.Segments() <= kMadePerChange) AddSegments(&larger_, kMadePerChange);
        } catch (const std::bad_alloc&) {
            // No larger table: the present one fills further while it can,
            // and a later call tries again.
            FreeTable(&larger_);
        }
        BeginAlong(0);
    }
    if (count_ < table_.chunks * kSlots) return;
    // No free slot left (memory has been short): the larger table whole
    // now, or std::bad_alloc with no item moved.
    if (!Beginning()) larger_ = BeginTable(larger);
    AddSegments(&larger_, larger_.Segments());
    BeginAlong(0);
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::BeginAlong(std::size_t segments) {
    if (!Beginning()) return;
    try {
        AddSegments(&larger_, segments);
    } catch (const std::bad_alloc&) {
        // The present table fills further; the next Reserve begins again.
        FreeTable(&larger_);
        return;
    }
    if (larger_.segments < larger_.Segments()) return;
    old_ = table_;
    table_ = larger_;
    larger_ = Table();
    moved_ = 0;
    if (old_.chunks == 0 || count_ == 0) FreeTable(&old_);
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::MoveChunks(std::size_t chunks) {
    for (; chunks > 0 && Moving(); --chunks) {
        Tags& tags = old_.TagsAt(moved_);
        Items& items = old_.ItemsAt(moved_);
        for (int s = 0; s < kSlots; ++s) {
            if (tags.tag[s] != 0) hasher_.Prefetch(items.item[s]);
        }
        for (int s = 0; s < kSlots; ++s) {
            if (tags.tag[s] == 0) continue;
            std::uint64_t hash = hasher_(items.item[s]);
            InsertIn(&table_, items.item[s], hash);
            EmptySlot(&old_, moved_, s, hash);
        }
        ++moved_;
        if (moved_ == old_.chunks) {
            FreeTable(&old_);
        } else if ((moved_ & (kSegmentChunks - 1)) == 0) {
            // A whole segment moved: its pointers are no longer read.
            std::size_t segment = (moved_ >> kSegmentBits) - 1;
            ::operator delete(old_.items[segment]);
            old_.items[segment] = nullptr;
        }
    }
}

template <typename Item, typename Hasher>
template <typename Next>
bool HashIndex<Item, Hasher>::RebuildWithHashes(std::size_t count, Next next) {
    Table fresh;
    try {
        fresh = MakeTable(ChunksFor(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Hashes are worked out a few dozen items ahead of their insertion, so
    // the home chunks they land in are on their way meanwhile.
    constexpr int kAhead = 32;
    Item* pendingItem[kAhead];
    std::uint64_t pendingHash[kAhead];
    std::size_t taken = 0;
    std::uint64_t hash;
    while (Item* item = next(&hash)) {
        __builtin_prefetch(&fresh.TagsAt(HomeOf(hash, fresh)));
        __builtin_prefetch(&fresh.ItemsAt(HomeOf(hash, fresh)));
        std::size_t ring = taken % kAhead;
        if (taken >= kAhead) InsertIn(&fresh, pendingItem[ring], pendingHash[ring]);
        pendingItem[ring] = item;
        pendingHash[ring] = hash;
        ++taken;
    }
    for (std::size_t i = taken > kAhead ? taken - kAhead : 0; i < taken; ++i) {
        InsertIn(&fresh, pendingItem[i % kAhead], pendingHash[i % kAhead]);
    }
    assert(taken == count);
    FreeTable(&table_);
    FreeTable(&old_);
    FreeTable(&larger_);
    table_ = fresh;
    moved_ = 0;
    count_ = count;
    return true;
}

template <typename Item, typename Hasher>
template <typename Next>
void HashIndex<Item, Hasher>::Refill(Next next) {
    FreeTable(&old_);
    FreeTable(&larger_);
    moved_ = 0;
    for (std::size_t s = 0; s < table_.segments; ++s) {
        std::memset(table_.tags[s], 0, table_.perSegment * sizeof(Tags));
    }
    std::size_t count = 0;
    while (Item* item = next()) {
        InsertIn(&table_, item, hasher_(item));
        ++count;
    }
    assert(count <= table_.chunks * kSlots);
    count_ = count;
}

template <typename Item, typename Hasher>
template <typename ForEach>
bool HashIndex<Item, Hasher>::Verify(ForEach forEach, std::string* problem) const {
    std::size_t visited = 0;
    bool found = true;
    forEach([&](const Item* item) {
        ++visited;
        std::uint64_t hash = hasher_(item);
        auto self = [item](const Item* stored) { return stored == item; };
        if (found && Find(hash, self) != item) found = false;
    });
    if (!found) {
        *problem = "an item its hash does not find";
        return false;
    }
    if (visited != count_) {
        *problem = "the hash holds " + Decimal(count_) + " items, the order " + Decimal(visited);
        return false;
    }
    // Each table: its items in all, and the overflow counts they make.
    std::size_t occupied = 0;
    for (const Table* table : {&table_, &old_}) {
        if (table->chunks == 0) continue;
        // The counts each chunk should have: on the stack for the small
        // tables a checked build verifies after every command.
        std::size_t onStack[256] = {};
        std::unique_ptr<std::size_t[]> onHeap;
        if (table->chunks > 256) onHeap.reset(new std::size_t[table->chunks]());
        std::size_t* expected = onHeap != nullptr ? onHeap.get() : onStack;
        for (std::size_t c = 0; c < table->chunks; ++c) {
            const Tags& tags = table->TagsAt(c);
            for (int s = 0; s < kSlots; ++s) {
                if (tags.tag[s] == 0) continue;
                ++occupied;
                std::uint64_t hash = hasher_(table->ItemsAt(c).item[s]);
                if (tags.tag[s] != TagOf(hash)) {
                    *problem = "a tag that is not its item's";
                    return false;
                }
                for (std::size_t i = HomeOf(hash, *table); i != c; i = (i + 1) & (table->chunks - 1)) ++expected[i];
            }
        }
        bool right = true;
        for (std::size_t c = 0; c < table->chunks; ++c) {
            std::uint8_t overflow = table->TagsAt(c).overflow;
            if (overflow != 255 && overflow != expected[c]) right = false;
        }
        if (!right) {
            *problem = "an overflow count that its items do not make";
            return false;
        }
    }
    if (occupied != count_) {
        *problem = "the hash's slots hold " + Decimal(occupied) + " items, its count says " +
                   Decimal(count_);
        return false;
    }
    return true;
}

}  // namespace lastspot::index
