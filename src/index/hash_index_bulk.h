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
    // Items are inserted a few dozen after they are handed out, so the home
    // chunks they land in are on their way meanwhile.
    constexpr std::size_t kAhead = 32;
    Item* pendingItem[kAhead];
    std::uint64_t pendingHash[kAhead];
    std::size_t taken = 0;
    std::uint64_t hash;
    while (Item* item = next(&hash)) {
        std::size_t home = ProbeSeq(hash, fresh.chunks).Chunk();
        __builtin_prefetch(&fresh.TagsAt(home));
        __builtin_prefetch(&fresh.ItemsAt(home));
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
    Clear();
    table_ = fresh;
    count_ = count;
    return true;
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
    std::size_t count = 0;
    std::uint64_t hash;
    while (Item* item = next(&hash)) {
        InsertIn(&table_, item, hash);
        ++count;
    }
    assert(count <= table_.chunks * kSlots);
    count_ = count;
}

}  // namespace lastspot::index
