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
    return PutEach(
        *table, next, [](std::size_t) { return true; },
        [table](Item* item, std::uint64_t hash) { InsertIn(table, item, hash); });
}

template <typename Item, typename Hasher>
template <typename Next, typename Wanted, typename Put>
std::size_t HashIndex<Item, Hasher>::PutEach(const Table& table, Next& next, Wanted wanted, Put put) {
    constexpr std::size_t kAhead = 32;
    Item* pendingItem[kAhead];
    std::uint64_t pendingHash[kAhead];
    std::size_t taken = 0;
    std::uint64_t hash;
    while (Item* item = next(&hash)) {
        std::size_t home = ProbeSeq(hash, table.chunks).Chunk();
        if (!wanted(home)) continue;
        __builtin_prefetch(&table.TagsAt(home));
        __builtin_prefetch(&table.ItemsAt(home));
        std::size_t ring = taken % kAhead;
        if (taken >= kAhead) put(pendingItem[ring], pendingHash[ring]);
        pendingItem[ring] = item;
        pendingHash[ring] = hash;
        ++taken;
    }
    for (std::size_t i = taken > kAhead ? taken - kAhead : 0; i < taken; ++i) {
        put(pendingItem[i % kAhead], pendingHash[i % kAhead]);
    }
    return taken;
}

// The items whose home chunk lies in [begin, end), each put in the first
// free slot along its probe before `end`; the few with none there are kept
// for the end, when both halves are done (up to kDeferred of them: more,
// and `overflowed` says the fill is to be done again on one thread).
// Allocates nothing and throws nothing: it may run on a second thread.
template <typename Item, typename Hasher>
template <typename Next>
struct HashIndex<Item, Hasher>::HalfFill {
    static constexpr std::size_t kDeferred = 64;

    Table* table;
    std::size_t begin, end;
    Next next;
    std::size_t taken = 0;
    Item* deferredItem[kDeferred] = {};
    std::uint64_t deferredHash[kDeferred] = {};
    std::size_t deferred = 0;
    bool overflowed = false;

    void Run() {
        taken = PutEach(
            *table, next, [this](std::size_t home) { return home >= begin && home < end; },
            [this](Item* item, std::uint64_t hash) {
                if (InsertBefore(table, item, hash, end)) return;
                if (deferred == kDeferred) {
                    overflowed = true;
                    return;
                }
                deferredItem[deferred] = item;
                deferredHash[deferred++] = hash;
            });
    }
    static void RunOn(void* self) { static_cast<HalfFill*>(self)->Run(); }
};

template <typename Item, typename Hasher>
template <typename MakeNext>
bool HashIndex<Item, Hasher>::RebuildOnTwoThreads(std::size_t count, MakeNext makeNext) {
    std::size_t chunks = ChunksFor(count);
    // Each half must lie in segments of its own, so that no block is
    // written by both threads.
    if (chunks < 2 * kSegmentChunks) return Rebuild(count, makeNext());
    Table fresh;
    try {
        fresh = MakeTable(chunks);
    } catch (const std::bad_alloc&) {
        return false;
    }
    using Half = HalfFill<decltype(makeNext())>;
    Half lower{&fresh, 0, chunks / 2, makeNext()};
    Half upper{&fresh, chunks / 2, chunks, makeNext()};
    platform::Thread* thread = platform::StartThread(Half::RunOn, &upper);
    lower.Run();
    if (thread != nullptr) {
        platform::JoinThread(thread);
    } else {
        upper.Run();
    }
    if (lower.overflowed || upper.overflowed) {
        FreeTable(&fresh);
        return Rebuild(count, makeNext());
    }
    for (const Half* half : {&lower, &upper}) {
        for (std::size_t i = 0; i < half->deferred; ++i) {
            InsertIn(&fresh, half->deferredItem[i], half->deferredHash[i]);
        }
    }
    assert(lower.taken + upper.taken == count);
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
    std::size_t count = InsertEach(&table_, next);
    assert(count <= table_.chunks * kSlots);
    count_ = count;
}

}  // namespace lastspot::index
