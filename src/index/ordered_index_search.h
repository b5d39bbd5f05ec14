// OrderedIndex: finding the way down to a key's leaf and its slot there.
// Part of ordered_index.h, which includes it.
#pragma once

#include <cassert>

namespace lastspot::index {

template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Leaf* OrderedIndex<Item, Order>::NewLeaf() {
    auto* leaf = static_cast<Leaf*>(::operator new(sizeof(Leaf)));
    leaf->count = 0;
    leaf->next = nullptr;
    return leaf;
}

template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Inner* OrderedIndex<Item, Order>::NewInner() {
    auto* inner = static_cast<Inner*>(::operator new(sizeof(Inner)));
    inner->count = 0;
    return inner;
}

template <typename Item, typename Order>
const Item* OrderedIndex<Item, Order>::SmallestUnder(const void* node, int levels) {
    for (; levels > 0; --levels) node = static_cast<const Inner*>(node)->child[0];
    return static_cast<const Leaf*>(node)->item[0];
}

template <typename Item, typename Order>
const Item* OrderedIndex<Item, Order>::LargestUnder(const void* node, int levels) {
    for (; levels > 0; --levels) {
        const auto* inner = static_cast<const Inner*>(node);
        node = inner->child[inner->count - 1];
    }
    const auto* leaf = static_cast<const Leaf*>(node);
    return leaf->item[leaf->count - 1];
}

// The child of `inner` (whose children stand `below` inner levels above the
// leaves) that holds or would hold the key.
template <typename Item, typename Order>
template <typename Search>
int OrderedIndex<Item, Order>::FindChild(const Inner* inner, int below, std::uint64_t prefix,
                                         Search& search) {
    // The last child whose separator is at most the prefix.
    int lo = 1, hi = inner->count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (inner->key[mid] <= prefix) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    int last = lo - 1;
    if (last == 0 || inner->key[last] != prefix) return last;
    // Separators equal to the prefix: the key goes to the last of those
    // children whose smallest item is not above it (the one before the
    // first of them when there is none).
    int first = last;
    while (first > 1 && inner->key[first - 1] == prefix) --first;
    lo = first;
    hi = last + 1;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (search(SmallestUnder(inner->child[mid], below)) >= 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo - 1;
}

// The slot of the key in `leaf`, or where it would go; `*found` tells.
template <typename Item, typename Order>
template <typename Search>
int OrderedIndex<Item, Order>::FindSlot(const Leaf* leaf, std::uint64_t prefix, Search& search, bool* found) {
    // The run of slots whose hint equals the key's, found by counting the
    // smaller and the equal hints: every hint is read, but the reads do not
    // wait for each other as a binary search's do (and the compiler does
    // them several at a time). Then the key's place within the run, by full
    // comparisons.
    std::uint32_t hint = HintOf(prefix);
    int lo = 0, equal = 0;
    for (int slot = 0; slot < leaf->count; ++slot) {
        lo += leaf->hint[slot] < hint ? 1 : 0;
        equal += leaf->hint[slot] == hint ? 1 : 0;
    }
    int end = lo + equal;
    int hi = end;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (search(leaf->item[mid]) > 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    *found = lo < end && search(leaf->item[lo]) == 0;
    return lo;
}

// The slot that holds `item` itself in `leaf`, found by its address along
// the slots: the loads do not wait for each other, and no other item is
// read. The leaf must hold it.
template <typename Item, typename Order>
int OrderedIndex<Item, Order>::FindSlotHolding(const Leaf* leaf, const Item* item) {
    int at = 0;
    while (leaf->item[at] != item) ++at;
    assert(at < leaf->count);
    return at;
}

// Descends to the leaf for the key, noting the way in `place`.
template <typename Item, typename Order>
template <typename Search>
typename OrderedIndex<Item, Order>::Leaf* OrderedIndex<Item, Order>::Descend(std::uint64_t prefix,
                                                                             Search& search,
                                                                             Place* place) const {
    assert(height_ >= 0 && height_ < kMaxDepth);
    void* node = root_;
    for (int level = 0; level < height_; ++level) {
        auto* inner = static_cast<Inner*>(node);
        int slot = FindChild(inner, height_ - level - 1, prefix, search);
        place->node[level] = inner;
        place->slot[level] = slot;
        node = inner->child[slot];
    }
    place->leaf = static_cast<Leaf*>(node);
    return place->leaf;
}

template <typename Item, typename Order>
template <typename Search>
void OrderedIndex<Item, Order>::FindLeaf(std::uint64_t prefix, Search search, Place* place) const {
    static_assert(KeySearch<Search, Item>, "a search compares the key with a stored item");
    if (count_ == 0) {
        place->leaf = nullptr;
        return;
    }
    const Leaf* leaf = Descend(prefix, search, place);
    const char* slots = reinterpret_cast<const char*>(leaf->item);
    for (std::size_t line = 0; line < sizeof leaf->item; line += 64) __builtin_prefetch(slots + line);
}

}  // namespace lastspot::index
