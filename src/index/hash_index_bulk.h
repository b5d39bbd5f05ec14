// HashIndex: filling a table with every item at once. Part of hash_index.h,
// which includes it.
#pragma once

namespace lastspot::index {

template <typename Item, typename Hasher>
template <typename Next>
bool HashIndex<Item, Hasher>::Rebuild(std::size_t count, Next next) {
    Table fresh;
    try {
        fresh = MakeTable(ChunksFor(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    [[maybe_unused]] std::size_t taken = InsertEach(&fresh, next);
    assert(taken == count);
    Clear();
    table_ = fresh;
    count_ = count;
    return true;
}

template <typename Item, typename Hasher>
template <typename Next>
std::size_t HashIndex<Item, Hasher>::InsertEach(Table* table, Next next) {
    // Items are inserted a few dozen after they are handed out, so the home
    // chunks they land in are on their way meanwhile.
    constexpr std::size_t kAhead = 32;
    Item* pendingItem[kAhead];
    std::uint64_t pendingHash[kAhead];
    std::size_t taken = 0;
    std::uint64_t hash;
    while (Item* item = next(&hash)) {
        std::size_t home = ProbeSeq(hash, table->chunks).Chunk();
        __builtin_prefetch(&table->TagsAt(home));
        __builtin_prefetch(&table->ItemsAt(home));
        std::size_t ring = taken % kAhead;
        if (taken >= kAhead) InsertIn(table, pendingItem[ring], pendingHash[ring]);
        pendingItem[ring] = item;
        pendingHash[ring] = hash;
        ++taken;
    }
    for (std::size_t i = taken > kAhead ? taken - kAhead : 0; i < taken; ++i) {
        InsertIn(table, pendingItem[i % kAhead], pendingHash[i % kAhead]);
    }
    return taken;
}

template <typename Item, typename Hasher>
template <typename Next>
void HashIndex<Item, Hasher>::Refill(Next next) {
    FreeTable(&old_);
    FreeTable(&larger_);
    growth_ = Growth::Settled;
    moved_ = 0;
    for (std::size_t s = 0; s < table_.segments; ++s) {
        std::memset(table_.tags[s], 0, table_.perSegment * sizeof(Tags));
    }
    std::size_t count = InsertEach(&table_, next);
    assert(count <= table_.chunks * kSlots);
    count_ = count;
}

}  // namespace lastspot::index
