// OrderedIndex: removing one item, and restoring the fill rule after it by
// merging or evening out nodes with a neighbour, level by level upwards.
// Part of ordered_index.h, which includes it.
#pragma once

#include <cassert>

namespace lastspot::index {

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::ReplaceAt(const Place& place, const Item* old, Item* fresh) {
    assert(place.leaf != nullptr);  // the index holds `old`, so it is not empty
    place.leaf->item[FindSlotHolding(place.leaf, old)] = fresh;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::RemoveAt(Place* place, const Item* item) {
    Leaf* leaf = place->leaf;
    assert(leaf != nullptr);  // the index holds `item`, so it is not empty
    int slot = FindSlotHolding(leaf, item);
    --leaf->count;
    MoveSlots(leaf, slot, leaf, slot + 1, leaf->count - slot);
    --count_;
    if (height_ == 0) {
        if (count_ == 0) Clear();  // the root leaf went empty
        return;
    }
    if (leaf->count < kLeafFloor) Rebalance(place, height_ - 1);
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::FreeNode(Leaf* leaf) {
    ::operator delete(leaf);
    --leaves_;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::FreeNode(Inner* inner) {
    ::operator delete(inner);
    --inners_;
}

// The child at `place->slot[level]` of `place->node[level]` fell below its
// floor. At each level it merges with its right neighbour (the left one, for
// the last child) or, when the two would not fit in one node, evens out
// with it. Only a merge takes a child from the parent, which may then fall
// below its own floor; the root gives way to its child when it has one left.
template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Rebalance(Place* place, int level) {
    for (; level >= 0; --level) {
        Inner* parent = place->node[level];
        int slot = place->slot[level];
        // Every inner node has two children or more (the fill rule), so the
        // child has a neighbour.
        int leftSlot = slot + 1 < parent->count ? slot : slot - 1;
        bool merged = level == height_ - 1 ? MergeOrEvenOut<Leaf>(parent, leftSlot)
                                           : MergeOrEvenOut<Inner>(parent, leftSlot);
        if (!merged) return;
        if (level == 0) {
            if (parent->count == 1) {
                root_ = parent->child[0];
                FreeNode(parent);
                --height_;
            }
            return;
        }
        if (parent->count >= kInnerFloor) return;
    }
}

// Children `leftSlot` and `leftSlot + 1` of `parent`, both leaves or both
// inner nodes: merges them into the left one when their entries fit in one
// node (true), else moves entries across until the two hold half each
// (false). The leaves' separators are their items' prefixes; an inner node's
// separator between the two moves down into the node that gets the child
// after it, and the one of the child that becomes the right node's first
// moves up to the parent.
template <typename Item, typename Order>
template <typename Node>
bool OrderedIndex<Item, Order>::MergeOrEvenOut(Inner* parent, int leftSlot) {
    auto* left = static_cast<Node*>(parent->child[leftSlot]);
    auto* right = static_cast<Node*>(parent->child[leftSlot + 1]);
    std::uint64_t& separator = parent->key[leftSlot + 1];
    int had = left->count;
    if (had + right->count <= Capacity(left)) {
        MoveSlots(left, had, right, 0, right->count);
        TakeSeparator(left, had, separator);
        left->count += right->count;
        Unchain(left, right);
        FreeNode(right);
        MoveSlots(parent, leftSlot + 1, parent, leftSlot + 2, parent->count - leftSlot - 2);
        --parent->count;
        return true;
    }
    int half = (had + right->count) / 2;
    if (had < half) {  // the right node's first entries go to the left's end
        int n = half - had;
        std::uint64_t up = KeyOf(right, n);
        MoveSlots(left, had, right, 0, n);
        TakeSeparator(left, had, separator);
        MoveSlots(right, 0, right, n, right->count - n);
        separator = up;
        left->count += n;
        right->count -= n;
    } else {  // the left node's last entries go to the right's front
        int n = had - half;
        std::uint64_t up = KeyOf(left, half);
        MoveSlots(right, n, right, 0, right->count);
        TakeSeparator(right, n, separator);
        MoveSlots(right, 0, left, half, n);
        separator = up;
        left->count -= n;
        right->count += n;
    }
    return false;
}

}  // namespace lastspot::index
