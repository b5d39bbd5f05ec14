// HashIndex: the invariant check, for tests and the verify build. Part of
// hash_index.h, which includes it.
#pragma once

#include <memory>

#include "index/check_text.h"

namespace lastspot::index {

template <typename Item, typename Hasher>
struct HashIndex<Item, Hasher>::Checker {
    const HashIndex& index;
    std::string* problem;

    bool Fail(const std::string& what) { return Failed(problem, what); }

    static bool TagsClear(const Tags& tags) {
        for (std::uint8_t tag : tags.tag) {
            if (tag != 0) return false;
        }
        return true;
    }

    // The tables each state has, and the sizes and contents it gives them.
    bool CheckGrowth() {
        const Table& table = index.table_;
        const Table& old = index.old_;
        const Table& larger = index.larger_;
        switch (index.growth_) {
            case Growth::Settled:
                if (old.chunks != 0 || larger.chunks != 0)
                    return Fail("the growth state is Settled beside a second table");
                return true;
            case Growth::Making:
                if (larger.chunks == 0) return Fail("the growth state is Making without a table being made");
                if (old.chunks != 0) return Fail("a table being made beside a table being moved out of");
                if (larger.chunks != (table.chunks == 0 ? 1 : 2 * table.chunks)) {
                    return Fail("a table being made that is not twice the present one");
                }
                if (larger.segments >= larger.Segments()) return Fail("a table being made that is whole");
                return CheckEmptyBelow(larger, larger.segments * larger.perSegment, "the table being made");
            case Growth::Moving:
                if (old.chunks == 0) return Fail("the growth state is Moving without a table to move out of");
                if (larger.chunks != 0) return Fail("a table being made beside a table being moved out of");
                if (table.chunks != 2 * old.chunks)
                    return Fail("a table being moved out of that is not half the present one");
                if (index.moved_ >= old.chunks)
                    return Fail("a table being moved out of with every chunk moved");
                return CheckEmptyBelow(old, index.moved_, "the table being moved out of");
        }
        return Fail("an unknown growth state");
    }

    // The first `chunks` chunks of `table` hold no item, and the directory
    // names no segment past those made.
    bool CheckEmptyBelow(const Table& table, std::size_t chunks, const char* which) {
        for (std::size_t c = 0; c < chunks; ++c) {
            if (!TagsClear(table.TagsAt(c)))
                return Fail(std::string("an item in ") + which + " where none may be");
        }
        for (std::size_t s = table.segments; s < table.Segments(); ++s) {
            if (table.tags[s] != nullptr || table.items[s] != nullptr) {
                return Fail(std::string("a segment of ") + which + " past those made");
            }
        }
        return true;
    }

    // Every item the owner holds is where a lookup of its hash finds it.
    template <typename ForEach>
    bool CheckFound(ForEach& forEach) {
        std::size_t visited = 0;
        bool found = true;
        forEach([&](const Item* item) {
            ++visited;
            auto self = [item](const Item* stored) { return stored == item; };
            if (found && index.Find(index.hasher_(item), self).item != item) found = false;
        });
        if (!found) return Fail("an item its hash does not find");
        if (visited != index.count_) {
            return Fail("the hash holds " + Decimal(static_cast<std::int64_t>(index.count_)) +
                        " items, the order " + Decimal(static_cast<std::int64_t>(visited)));
        }
        return true;
    }

    // Every tag of `table` is its item's, and every overflow count what the
    // items' probes make it (or saturated). Adds the items to `*occupied`.
    bool CheckTable(const Table& table, std::size_t* occupied) {
        if (table.chunks == 0) return true;
        // The counts each chunk should have: on the stack for the small
        // tables a checked build verifies after every command.
        std::size_t onStack[256] = {};
        std::unique_ptr<std::size_t[]> onHeap;
        if (table.chunks > 256) onHeap.reset(new std::size_t[table.chunks]());
        std::size_t* expected = onHeap != nullptr ? onHeap.get() : onStack;
        for (std::size_t c = 0; c < table.chunks; ++c) {
            const Tags& tags = table.TagsAt(c);
            for (int s = 0; s < kSlots; ++s) {
                if (tags.tag[s] == 0) continue;
                ++*occupied;
                std::uint64_t hash = index.hasher_(table.ItemsAt(c).item[s]);
                if (tags.tag[s] != TagOf(hash)) return Fail("a tag that is not its item's");
                for (ProbeSeq probe(hash, table.chunks); probe.Chunk() != c; probe.Next())
                    ++expected[probe.Chunk()];
            }
        }
        for (std::size_t c = 0; c < table.chunks; ++c) {
            std::uint8_t overflow = table.TagsAt(c).overflow;
            if (overflow != 255 && overflow != expected[c])
                return Fail("an overflow count that its items do not make");
        }
        return true;
    }
};

template <typename Item, typename Hasher>
template <typename ForEach>
bool HashIndex<Item, Hasher>::Verify(ForEach forEach, std::string* problem) const {
    Checker check{*this, problem};
    if (!check.CheckGrowth() || !check.CheckFound(forEach)) return false;
    std::size_t occupied = 0;
    if (!check.CheckTable(table_, &occupied) || !check.CheckTable(old_, &occupied)) return false;
    if (occupied != count_) {
        return check.Fail("the hash's slots hold " + Decimal(static_cast<std::int64_t>(occupied)) +
                          " items, its count says " + Decimal(static_cast<std::int64_t>(count_)));
    }
    return true;
}

}  // namespace lastspot::index
