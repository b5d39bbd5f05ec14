// OrderedIndex: the work on every node at once: building a tree from items
// in order, removing many items in one pass, moving every item, clearing.
// Part of ordered_index.h, which includes it.
#pragma once

#include <cassert>

namespace lastspot::index {

template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Inner* OrderedIndex<Item, Order>::SpareInners::Take() {
    assert(top_ != nullptr);
    Spare* spare = top_;
    top_ = spare->next;
    return new (static_cast<void*>(spare)) Inner;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::SpareInners::FreeAll() {
    while (Spare* spare = top_) {
        top_ = spare->next;
        ::operator delete(static_cast<void*>(spare));
    }
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Clear() {
    ForEachInner([](Inner* inner) { ::operator delete(inner); });
    for (Leaf* leaf = first_; leaf != nullptr;) {
        Leaf* following = leaf->next;
        ::operator delete(leaf);
        leaf = following;
    }
    root_ = nullptr;
    first_ = nullptr;
    height_ = 0;
    count_ = 0;
    leaves_ = inners_ = 0;
    ResetCursor();
}

// Hands every inner node to `each`, each after all its children were
// reached and never read again, so `each` may reuse or free it at once.
// Reads no leaf.
template <typename Item, typename Order>
template <typename Each>
void OrderedIndex<Item, Order>::ForEachInner(Each each) {
    if (height_ == 0) return;
    Inner* stack[kMaxDepth];  // the way down to the node at hand
    int next[kMaxDepth];      // per level, the next child to enter
    int depth = 1;
    stack[0] = static_cast<Inner*>(root_);
    next[0] = 0;
    while (depth > 0) {
        Inner* inner = stack[depth - 1];
        if (depth == height_ || next[depth - 1] == inner->count) {  // children are leaves, or all entered
            --depth;
            each(inner);
            continue;
        }
        stack[depth] = static_cast<Inner*>(inner->child[next[depth - 1]++]);
        next[depth] = 0;
        ++depth;
    }
}

// How many inner nodes BuildInnerLevels takes for `leafCount` leaves.
template <typename Item, typename Order>
std::int64_t OrderedIndex<Item, Order>::InnerNodesFor(std::int64_t leafCount) {
    std::int64_t total = 0;
    for (std::int64_t level = leafCount; level > 1;) {
        level = (level + kInnerSlots - 1) / kInnerSlots;
        total += level;
    }
    return total;
}

// Builds the inner levels over the chain of `leafCount` leaves from `first`,
// taking every node from `spare`, which holds InnerNodesFor(leafCount) of
// them or more, and sets the root and the height. Each level's children are
// spread evenly over as few nodes as hold them, so a node below the root
// holds at least kInnerSlots / 2. Allocates nothing.
template <typename Item, typename Order>
void OrderedIndex<Item, Order>::BuildInnerLevels(Leaf* first, std::int64_t leafCount, SpareInners* spare) {
    struct Level {
        std::int64_t perNode, extra;  // the first `extra` nodes take perNode + 1 children
        std::int64_t started = 0;     // nodes begun so far
        Inner* filling = nullptr;     // the node taking children now
        std::int64_t Share() const { return perNode + (started <= extra ? 1 : 0); }
    };
    Level levels[kMaxDepth];
    height_ = 0;
    for (std::int64_t count = leafCount; count > 1; ++height_) {
        std::int64_t nodes = (count + kInnerSlots - 1) / kInnerSlots;
        levels[height_].perNode = count / nodes;
        levels[height_].extra = count % nodes;
        count = nodes;
    }
    // The leaves in order; a child that begins a node hangs that node in the
    // level above, under the same key: its smallest item's prefix.
    for (Leaf* leaf = first; leaf != nullptr; leaf = leaf->next) {
        void* child = leaf;
        std::uint64_t key = Order::Prefix(leaf->item[0]);
        for (int level = 0; level < height_ && child != nullptr; ++level) {
            Level& at = levels[level];
            Inner* node = at.filling;
            bool begins = node == nullptr || node->count == at.Share();
            if (begins) {
                node = at.filling = spare->Take();
                node->count = 0;
                ++at.started;
                ++inners_;
            }
            node->key[node->count] = key;
            node->child[node->count++] = child;
            child = begins ? node : nullptr;
        }
    }
    root_ = height_ == 0 ? static_cast<void*>(first) : levels[height_ - 1].filling;
}

template <typename Item, typename Order>
template <typename Doomed, typename Gone>
std::int32_t OrderedIndex<Item, Order>::RemoveWhere(Doomed doomed, Gone gone) {
    if (count_ == 0) return 0;
    std::int32_t removed = PackSurvivors(doomed, gone);
    if (removed == 0) return 0;
    count_ -= removed;
    if (count_ == 0) {
        Clear();
    } else {
        RebuildOverPackedLeaves();
    }
    ResetCursor();
    return removed;
}

// One pass over the chain: the doomed items go to `gone`, the survivors
// move down to the write position, which never passes the read position,
// so the leaves fill from the first one written to. The leaves after the
// last one written go. Returns how many were doomed; nothing has moved
// when none was.
template <typename Item, typename Order>
template <typename Doomed, typename Gone>
std::int32_t OrderedIndex<Item, Order>::PackSurvivors(Doomed& doomed, Gone& gone) {
    Leaf* write = nullptr;        // where the next survivor goes; nullptr until the first doomed item
    Leaf* beforeWrite = nullptr;  // the leaf before `write` in the chain
    Leaf* firstWritten = nullptr;
    int writeSlot = 0;
    std::int32_t removed = 0;
    ReadAhead<> ahead(first_);
    for (Leaf *leaf = first_, *previous = nullptr; leaf != nullptr; previous = leaf, leaf = leaf->next) {
        for (int slot = 0, count = leaf->count; slot < count; ++slot) {
            ahead.Advance();
            Item* item = leaf->item[slot];
            if (doomed(static_cast<const Item*>(item))) {
                gone(item);
                if (removed++ == 0) {
                    write = firstWritten = leaf;
                    beforeWrite = previous;
                    writeSlot = slot;
                }
            } else if (write != nullptr) {
                if (writeSlot == kLeafSlots) {
                    beforeWrite = write;
                    write = write->next;
                    writeSlot = 0;
                }
                write->hint[writeSlot] = leaf->hint[slot];
                write->item[writeSlot++] = item;
            }
        }
    }
    if (removed == 0) return 0;
    for (Leaf* leaf = firstWritten; leaf != write; leaf = leaf->next) leaf->count = kLeafSlots;
    write->count = writeSlot;
    Leaf* after = write->next;
    if (writeSlot == 0) {  // `write` was given nothing: it goes too
        after = write;
        (beforeWrite == nullptr ? first_ : beforeWrite->next) = nullptr;
    } else {
        write->next = nullptr;
    }
    while (after != nullptr) FreeNode(std::exchange(after, after->next));
    return removed;
}

// The inner levels again, over the packed leaves, in the old inner nodes:
// each level of the old tree had at least as many nodes as the packed
// leaves need at that level, so none is allocated.
template <typename Item, typename Order>
void OrderedIndex<Item, Order>::RebuildOverPackedLeaves() {
    SpareInners spare;  // frees the nodes left over
    std::int64_t had = inners_;
    ForEachInner([&spare](Inner* inner) { spare.Push(inner); });
    assert(InnerNodesFor(leaves_) <= had);
    static_cast<void>(had);
    inners_ = 0;
    BuildInnerLevels(first_, leaves_, &spare);
}

template <typename Item, typename Order>
template <typename Move>
void OrderedIndex<Item, Order>::ReplaceEach(Move move) {
    if (count_ == 0) return;
    ReadAhead<> ahead(first_);
    for (Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
        for (int slot = 0; slot < leaf->count; ++slot) {
            ahead.Advance();
            leaf->item[slot] = move(leaf->item[slot]);
        }
    }
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Builder::FreeLeaves() {
    while (first_ != nullptr) ::operator delete(std::exchange(first_, first_->next));
    last_ = nullptr;
    count_ = 0;
    leaves_ = 0;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Builder::Append(Item* item, std::uint64_t prefix) {
    if (last_ == nullptr || last_->count == kLeafSlots) {
        Leaf* leaf = NewLeaf();
        (last_ == nullptr ? first_ : last_->next) = leaf;
        last_ = leaf;
        ++leaves_;
    }
    last_->hint[last_->count] = HintOf(prefix);
    last_->item[last_->count++] = item;
    ++count_;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Adopt(Builder* builder) {
    assert(root_ == nullptr);
    if (builder->count_ == 0) return;
    SpareInners spare;  // every inner node first, so the build itself cannot fail
    for (std::int64_t n = InnerNodesFor(builder->leaves_); n > 0; --n) spare.Push(NewInner());
    BuildInnerLevels(builder->first_, builder->leaves_, &spare);
    first_ = std::exchange(builder->first_, nullptr);
    builder->last_ = nullptr;
    count_ = std::exchange(builder->count_, 0);
    leaves_ = std::exchange(builder->leaves_, 0);
    ResetCursor();
}

}  // namespace lastspot::index
