// HashIndex: making tables, and growing from one table to the next without
// a pause, through the states Settled, Making and Moving (hash_index.h).
// Part of hash_index.h, which includes it.
#pragma once

namespace lastspot::index {

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

// Up to `count` more segments of a table being made, each empty.
// std::bad_alloc leaves the table as it was.
template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::AddSegments(Table* table, std::size_t count) {
    for (; count > 0 && table->segments < table->Segments(); --count) {
        std::size_t s = table->segments;
        table->tags[s] = static_cast<Tags*>(::operator new(table->perSegment * sizeof(Tags)));
        try {
            table->items[s] = static_cast<Items*>(::operator new(table->perSegment * sizeof(Items)));
        } catch (const std::bad_alloc&) {
            ::operator delete(table->tags[s]);
            table->tags[s] = nullptr;
            throw;
        }
        std::memset(table->tags[s], 0, table->perSegment * sizeof(Tags));  // every slot empty
        ++table->segments;
    }
}

// A whole table of `chunks` chunks, all empty. Throws std::bad_alloc,
// having freed what it got.
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

// The chunks a table needs to hold `count` items below the growth mark.
template <typename Item, typename Hasher>
std::size_t HashIndex<Item, Hasher>::ChunksFor(std::size_t count) {
    std::size_t chunks = 1;
    while (chunks * kFullPerChunk < count) chunks *= 2;
    return chunks;
}

template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::Reserve() {
    if (growth_ == Growth::Moving) {
        // A growth keeps ahead of the inserts (it moves eight chunks per
        // change and the new table takes six items per old chunk before it
        // is full), so the new table always has room.
        assert(count_ < table_.chunks * kSlots);
        return;
    }
    std::size_t larger = table_.chunks == 0 ? 1 : table_.chunks * 2;
    if (growth_ == Growth::Settled && count_ >= table_.chunks * kFullPerChunk) BeginGrowth(larger);
    if (count_ < table_.chunks * kSlots) return;
    GrowNow(larger);
}

// Settled -> Making: the directory of a table of `larger` chunks, and a
// small one's segments at once (a few segments are no pause); -> Moving at
// once when it is whole. Without the memory it stays Settled: the present
// table fills further, and a later Reserve begins again.
template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::BeginGrowth(std::size_t larger) {
    try {
        larger_ = BeginTable(larger);
        growth_ = Growth::Making;
        if (larger_.Segments() <= kMadePerChange) AddSegments(&larger_, kMadePerChange);
    } catch (const std::bad_alloc&) {
        FreeTable(&larger_);
        growth_ = Growth::Settled;
        return;
    }
    MakeMore(0);
}

// The present table has no free slot (memory has been short): the larger
// table is made whole now, -> Moving, or std::bad_alloc leaves every item
// where it was.
template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::GrowNow(std::size_t larger) {
    if (growth_ == Growth::Settled) {
        larger_ = BeginTable(larger);
        growth_ = Growth::Making;
    }
    AddSegments(&larger_, larger_.Segments());
    MakeMore(0);
}

// Making: `segments` more segments of the larger table. Without the memory
// -> Settled (the larger table is dropped); once it is whole -> Moving, or
// straight on to Settled when the old table holds nothing to move.
template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::MakeMore(std::size_t segments) {
    assert(growth_ == Growth::Making);
    try {
        AddSegments(&larger_, segments);
    } catch (const std::bad_alloc&) {
        FreeTable(&larger_);
        growth_ = Growth::Settled;
        return;
    }
    if (larger_.segments < larger_.Segments()) return;
    old_ = table_;
    table_ = larger_;
    larger_ = Table();
    moved_ = 0;
    growth_ = Growth::Moving;
    if (old_.chunks == 0 || count_ == 0) {
        FreeTable(&old_);
        growth_ = Growth::Settled;
    }
}

// Moving: up to `chunks` more chunks of the old table into the present one;
// -> Settled when the last has moved.
template <typename Item, typename Hasher>
void HashIndex<Item, Hasher>::MoveChunks(std::size_t chunks) {
    for (; chunks > 0 && growth_ == Growth::Moving; --chunks) {
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
            growth_ = Growth::Settled;
        } else if ((moved_ & (kSegmentChunks - 1)) == 0) {
            // A whole segment moved: its pointers are no longer read.
            std::size_t segment = (moved_ >> kSegmentBits) - 1;
            ::operator delete(old_.items[segment]);
            old_.items[segment] = nullptr;
        }
    }
}

}  // namespace lastspot::index
