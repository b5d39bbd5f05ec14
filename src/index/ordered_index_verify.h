// OrderedIndex: the invariant check, for tests and the verify build. It
// walks the tree depth-first and the leaf chain beside it, and checks every
// rule of the node layouts (ordered_index.h) that the searching and changing
// code relies on. Part of ordered_index.h, which includes it.
#pragma once

#include "index/check_text.h"

namespace lastspot::index {

// The state of one check: where the chain has got to and what was counted.
template <typename Item, typename Order>
struct OrderedIndex<Item, Order>::Checker {
    const OrderedIndex& tree;
    std::string* problem;
    const Leaf* chain;  // the leaf the chain says comes next
    const Item* previous = nullptr;
    std::int64_t items = 0, leaves = 0, inners = 0;

    bool Fail(const std::string& what) { return Failed(problem, what); }

    bool CheckEmpty() {
        if (tree.count_ != 0 || tree.first_ != nullptr || tree.height_ != 0 || tree.leaves_ != 0 ||
            tree.inners_ != 0) {
            return Fail("an empty tree with a count, leaves or a height");
        }
        return true;
    }

    // The leaf's place on the chain, its fill, its hints and its order.
    bool CheckLeaf(const Leaf* leaf) {
        if (leaf != chain) return Fail("the leaf chain does not follow the tree");
        chain = leaf->next;
        ++leaves;
        if (leaf->count < 1 || leaf->count > kLeafSlots)
            return Fail("a leaf with " + Decimal(leaf->count) + " items");
        if (leaf->next != nullptr && leaf->count < kLeafFloor) {
            return Fail("a leaf before the last with " + Decimal(leaf->count) + " items, fewer than " +
                        Decimal(kLeafFloor));
        }
        for (int slot = 0; slot < leaf->count; ++slot) {
            const Item* item = leaf->item[slot];
            if (leaf->hint[slot] != HintOf(Order::Prefix(item))) return Fail("a hint that is not its item's");
            if (previous != nullptr && Order::Compare(previous, item) >= 0) return Fail("items out of order");
            previous = item;
        }
        items += leaf->count;
        return true;
    }

    // The inner node's fill and separators; `below` is the number of inner
    // levels from its children down to the leaves (0: its children are
    // leaves).
    bool CheckInner(const Inner* inner, bool root, int below) {
        ++inners;
        int floor = root ? 2 : kInnerFloor;
        if (inner->count < floor || inner->count > kInnerSlots) {
            return Fail(std::string(root ? "the root" : "an inner node below the root") + " with " +
                        Decimal(inner->count) + " children, fewer than " + Decimal(floor) + " or more than " +
                        Decimal(kInnerSlots));
        }
        for (int j = 1; j < inner->count; ++j) {
            std::uint64_t low = Order::Prefix(LargestUnder(inner->child[j - 1], below));
            std::uint64_t high = Order::Prefix(SmallestUnder(inner->child[j], below));
            if (inner->key[j] < low || inner->key[j] > high) return Fail("a separator outside its children");
        }
        return true;
    }

    // Every inner node, each before its children, and the leaves under the
    // lowest ones, depth-first over explicit stacks.
    bool CheckInnerLevels() {
        const Inner* stack[kMaxDepth];
        int next[kMaxDepth];
        stack[0] = static_cast<const Inner*>(tree.root_);
        next[0] = 0;
        int depth = 1;
        if (!CheckInner(stack[0], true, tree.height_ - 1)) return false;
        while (depth > 0) {
            const Inner* inner = stack[depth - 1];
            if (next[depth - 1] == inner->count) {
                --depth;
                continue;
            }
            const void* child = inner->child[next[depth - 1]++];
            int below = tree.height_ - depth - 1;  // inner levels from the child's children down
            if (below < 0) {
                if (!CheckLeaf(static_cast<const Leaf*>(child))) return false;
                continue;
            }
            stack[depth] = static_cast<const Inner*>(child);
            next[depth++] = 0;
            if (!CheckInner(stack[depth - 1], false, below)) return false;
        }
        return true;
    }

    bool CheckTotals() {
        if (chain != nullptr) return Fail("the leaf chain goes on past the last leaf");
        if (items != tree.count_) {
            return Fail("count is " + Decimal(tree.count_) + " but the leaves hold " + Decimal(items));
        }
        if (leaves != tree.leaves_ || inners != tree.inners_) return Fail("the node tallies are wrong");
        return true;
    }
};

template <typename Item, typename Order>
bool OrderedIndex<Item, Order>::Verify(std::string* problem) const {
    Checker check{*this, problem, first_};
    if (root_ == nullptr) return check.CheckEmpty();
    if (height_ >= kMaxDepth) return check.Fail("deeper than the paths allow");
    bool shaped = height_ == 0 ? check.CheckLeaf(static_cast<const Leaf*>(root_)) : check.CheckInnerLevels();
    return shaped && check.CheckTotals();
}

}  // namespace lastspot::index
