// OrderedIndex: inserting an item, splitting full nodes on the way up.
// Part of ordered_index.h, which includes it.
#pragma once

#include <cassert>

namespace lastspot::index {

// The nodes an insertion's splits take, had before anything changes: a leaf,
// an inner node for each full inner node on the way up, and one more for a
// new root when the root is full too. Whatever is not taken goes with it.
template <typename Item, typename Order>
struct OrderedIndex<Item, Order>::SplitNodes {
    Leaf* leaf = nullptr;
    Inner* inner[kMaxDepth + 1];
    int inners = 0;

    SplitNodes() = default;
    SplitNodes(const SplitNodes&) = delete;
    SplitNodes& operator=(const SplitNodes&) = delete;
    ~SplitNodes() {
        ::operator delete(leaf);
        while (inners > 0) ::operator delete(inner[--inners]);
    }
    Leaf* TakeLeaf() { return std::exchange(leaf, nullptr); }
    Inner* TakeInner() {
        assert(inners > 0);
        return inner[--inners];
    }
};

template <typename Item, typename Order>
Item* OrderedIndex<Item, Order>::Insert(Item* item) {
    std::uint64_t prefix = Order::Prefix(item);
    auto search = [item](const Item* stored) { return Order::Compare(item, stored); };
    if (root_ == nullptr) {
        root_ = first_ = NewLeaf();
        height_ = 0;
        ++leaves_;
    }
    Place place;
    Leaf* leaf = Descend(prefix, search, &place);
    bool found;
    int slot = FindSlot(leaf, prefix, search, &found);
    if (found) return leaf->item[slot];
    if (leaf->count < kLeafSlots) {
        PutItem(leaf, slot, item, prefix);
        ++count_;
        return nullptr;
    }
    SplitNodes nodes;
    GetSplitNodes(place, &nodes);  // may throw: nothing has changed yet
    Leaf* right = SplitLeaf(leaf, slot, item, prefix, &nodes);
    ++count_;
    HangRight(place, Order::Prefix(right->item[0]), right, &nodes);
    assert(nodes.leaf == nullptr && nodes.inners == 0);
    return nullptr;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::GetSplitNodes(const Place& place, SplitNodes* nodes) {
    int inners = 0;
    int level = height_ - 1;
    for (; level >= 0 && place.node[level]->count == kInnerSlots; --level) ++inners;
    if (level < 0) ++inners;  // the root splits: a new root above it
    nodes->leaf = NewLeaf();
    while (nodes->inners < inners) nodes->inner[nodes->inners++] = NewInner();
}

// Splits the full `leaf` with `item` going to `slot`, and returns the new
// leaf that follows it in the chain.
template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Leaf* OrderedIndex<Item, Order>::SplitLeaf(
    Leaf* leaf, int slot, Item* item, std::uint64_t prefix, SplitNodes* nodes) {
    Leaf* right = nodes->TakeLeaf();
    ++leaves_;
    // At the end of the last leaf only the new item moves over, so items
    // added in ascending order fill their leaves (the fill rule's exception
    // for the last leaf).
    int keep = slot == kLeafSlots && leaf->next == nullptr ? kLeafSlots : kLeafSlots / 2;
    int moved = kLeafSlots - keep;
    MoveSlots(right, 0, leaf, keep, moved);
    right->count = moved;
    leaf->count = keep;
    right->next = leaf->next;
    leaf->next = right;
    if (slot <= keep && keep != kLeafSlots) {
        PutItem(leaf, slot, item, prefix);
    } else {
        PutItem(right, slot - keep, item, prefix);
    }
    return right;
}

// Hangs `right`, a new node whose smallest key's prefix is `key`, after the
// child taken at the lowest level of `place`, splitting full parents on the
// way up and growing a new root when the root splits.
template <typename Item, typename Order>
void OrderedIndex<Item, Order>::HangRight(const Place& place, std::uint64_t key, void* right,
                                          SplitNodes* nodes) {
    for (int level = height_ - 1; level >= 0; --level) {
        Inner* parent = place.node[level];
        int at = place.slot[level] + 1;
        if (parent->count < kInnerSlots) {
            PutChild(parent, at, key, right);
            return;
        }
        right = SplitInner(parent, at, &key, right, nodes);
    }
    Inner* top = nodes->TakeInner();
    ++inners_;
    top->count = 2;
    top->child[0] = root_;
    top->key[1] = key;
    top->child[1] = right;
    root_ = top;
    ++height_;
}

// Splits the full `parent` in halves while `right` (separator `*key`) goes
// in at slot `at`; returns the new right half, with `*key` its separator.
template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Inner* OrderedIndex<Item, Order>::SplitInner(
    Inner* parent, int at, std::uint64_t* key, void* right, SplitNodes* nodes) {
    Inner* sibling = nodes->TakeInner();
    ++inners_;
    int half = kInnerSlots / 2;
    std::uint64_t up = parent->key[half];  // separates the halves from now on
    sibling->count = kInnerSlots - half;
    MoveSlots(sibling, 0, parent, half, sibling->count);
    parent->count = half;
    if (at <= half) {
        PutChild(parent, at, *key, right);
    } else {
        PutChild(sibling, at - half, *key, right);
    }
    *key = up;
    return sibling;
}

}  // namespace lastspot::index
