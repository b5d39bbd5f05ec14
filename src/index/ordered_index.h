// The order of a table: a B+-tree of item pointers. Leaves hold up to
// kLeafSlots items in ascending order, each beside a 32-bit hint of its key,
// and are chained from the first to the last, so a walk reads memory in long
// runs and can ask for the items well before it needs them. Inner nodes hold
// a 64-bit prefix of each child's smallest key, so a search touches no item
// until it reaches a leaf, and there mostly only the one it looks for.
//
// The index does not own its items: it hands them to its owner when it is
// cleared, and a search compares keys through the owner's functions:
//
//   struct Order {
//     // An order-preserving prefix of the key: Prefix(a) < Prefix(b) gives
//     // a < b, and a < b gives Prefix(a) <= Prefix(b).
//     static std::uint64_t Prefix(const Item* item);
//     static int Compare(const Item* a, const Item* b);  // <0, 0, >0
//     static void Prefetch(const Item* item);  // asks for what a walk reads
//   };
//
// A search by a key that is not an item takes its prefix and a function
// `cmp(stored)` that compares the key with a stored item as Compare would.
//
// Separators. An inner node's key[j] (j >= 1) is a lower bound of the
// prefixes in child j and an upper bound of those in child j-1: at a split
// it is the prefix of child j's smallest item, and it may stay when that item
// goes. A key whose prefix equals key[j] is settled by child j's smallest
// item as it is now. So removing an item never has to touch its ancestors.
//
// Nothing recurses; paths are kept on fixed stacks of kMaxDepth levels,
// enough for more items than a 64-bit address space holds.
//
// Insert allocates the nodes a split needs before it changes anything, so
// running out of memory (std::bad_alloc) leaves the index as it was. Remove
// and the bulk removal allocate nothing.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "index/check_text.h"
#include <utility>

namespace lastspot::index {

template <typename Item, typename Order>
class OrderedIndex {
public:
    static constexpr int kLeafSlots = 64;
    static constexpr int kInnerSlots = 64;
    static constexpr int kMaxDepth = 24;

private:
    struct Leaf {
        std::int32_t count;
        Leaf* next;
        std::uint32_t hint[kLeafSlots];  // top 32 bits of each item's prefix
        Item* item[kLeafSlots];
    };
    struct Inner {
        std::int32_t count;                // children
        std::uint64_t key[kInnerSlots];    // key[0] is not used
        void* child[kInnerSlots];
    };

public:
    OrderedIndex() = default;
    ~OrderedIndex() { FreeNodes(); }
    OrderedIndex(const OrderedIndex&) = delete;
    OrderedIndex& operator=(const OrderedIndex&) = delete;

    std::int32_t Count() const { return count_; }

    // The stored item equal to the key, or nullptr.
    template <typename Cmp>
    Item* Find(std::uint64_t prefix, Cmp cmp) const;

    // Stores `item` unless an equal item is stored; returns that item then,
    // with nothing changed, and nullptr when `item` was stored. Throws
    // std::bad_alloc, with nothing changed, when a split cannot get a node.
    Item* Insert(Item* item);

    // Puts `fresh` in the place of the stored `old`, which has the same key.
    void Replace(const Item* old, Item* fresh);

    // Takes the stored `item` out. Allocates nothing.
    void Remove(const Item* item);

    // The way down to the leaf for a key, found ahead of time: Seek goes
    // down and asks for the leaf's slots, so the owner can look the item up
    // elsewhere meanwhile, then replace or remove it there. Good until the
    // index next changes.
    struct Position;
    template <typename Cmp>
    void Seek(std::uint64_t prefix, Cmp cmp, Position* position) const;
    void ReplaceAt(const Position& position, const Item* old, Item* fresh);
    void RemoveAt(Position* position, const Item* item);

    // Hands every item to `take` in ascending order and empties the index;
    // `take` owns them from then on.
    template <typename Take>
    void Drain(Take take);

    // Empties the index without visiting the items (the owner releases
    // them its own way).
    void Clear() { FreeNodes(); }

    // Puts `move(item)` in the place of every item, in ascending order:
    // the item moved elsewhere, with the same key.
    template <typename Move>
    void Rewrite(Move move);

    // Asks `doomed(item)` of every item in ascending order; those it is true
    // for are taken out and handed to `gone(item)`, at once, and the others
    // close up, leaves packed full. Returns how many went. Allocates nothing:
    // the inner levels are rebuilt in the nodes the old ones leave free.
    template <typename Doomed, typename Gone>
    std::int32_t RemoveWhere(Doomed doomed, Gone gone);

    // Calls `visit(item)` for every item in ascending order until it returns
    // false; returns false then. The items are fetched well ahead.
    template <typename Visit>
    bool ForEach(Visit visit) const;

    // The built-in cursor: Reset, then Next until it returns nullptr. The
    // index must not change during a walk.
    void ResetCursor() {
        cursorLeaf_ = nullptr;
        cursorSlot_ = 0;
        cursorActive_ = false;
    }
    Item* NextItem();

    // Items in ascending order become a tree, built bottom-up with full
    // leaves. Throws std::bad_alloc when a node cannot be had; whatever was
    // built is freed then, and the items stay the caller's.
    class Builder {
    public:
        Builder() = default;
        ~Builder();
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;
        // `item` must sort after every item appended before; `prefix` is its
        // Order::Prefix, when the caller has it at hand.
        void Append(Item* item) { Append(item, Order::Prefix(item)); }
        void Append(Item* item, std::uint64_t prefix);
        const Item* Last() const { return last_ == nullptr ? nullptr : last_->item[last_->count - 1]; }
        std::int32_t Count() const { return count_; }
        // Hands every item to `take` in order and empties the builder.
        template <typename Take>
        void Drain(Take take);
        // Calls `visit(item)` for every item in order.
        template <typename Visit>
        void ForEach(Visit visit) const {
            for (const Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
                for (int slot = 0; slot < leaf->count; ++slot) visit(leaf->item[slot]);
            }
        }
        void Swap(Builder* other) {
            std::swap(first_, other->first_);
            std::swap(last_, other->last_);
            std::swap(count_, other->count_);
        }

    private:
        friend class OrderedIndex;
        typename OrderedIndex::Leaf* first_ = nullptr;
        typename OrderedIndex::Leaf* last_ = nullptr;
        std::int32_t count_ = 0;
    };

    // Makes the builder's items this (empty) index's tree; the builder is
    // left empty. Throws std::bad_alloc, with both as they were, when the
    // inner nodes cannot be had.
    void Adopt(Builder* builder);

    // Checks the invariants: ascending order across the leaf chain, every
    // hint the top of its item's prefix, every separator between the
    // prefixes of its neighbours, all leaves at one depth and none empty
    // (but an empty root), the chain holding exactly the leaves, the count
    // right. On failure `*problem` says what is wrong.
    bool Verify(std::string* problem) const;

    // The tree's bytes, for the memory tests and figures.
    std::size_t NodeBytes() const { return leaves_ * sizeof(Leaf) + inners_ * sizeof(Inner); }

private:
    // The way down to a leaf: the inner node and the child taken at each
    // level, root first.
    struct Path {
        Inner* node[kMaxDepth];
        int slot[kMaxDepth];
    };

public:
    struct Position {
        Path path;
        Leaf* leaf = nullptr;
    };

private:
    // The slot that holds `item` in `leaf`, looked for by its address along
    // the slots: the loads do not wait for each other, and no other item is
    // read.
    static int SlotOf(const Leaf* leaf, const Item* item) {
        int at = 0;
        while (leaf->item[at] != item) ++at;
        assert(at < leaf->count);
        return at;
    }
    void RemoveSlot(Path* path, Leaf* leaf, int slot);

    static std::uint32_t HintOf(std::uint64_t prefix) { return static_cast<std::uint32_t>(prefix >> 32); }

    static Leaf* NewLeaf() {
        auto* leaf = static_cast<Leaf*>(::operator new(sizeof(Leaf)));
        leaf->count = 0;
        leaf->next = nullptr;
        return leaf;
    }
    static Inner* NewInner() {
        auto* inner = static_cast<Inner*>(::operator new(sizeof(Inner)));
        inner->count = 0;
        inner->key[0] = 0;
        return inner;
    }

    // The smallest item under `node`, `levels` inner levels above its leaves.
    static const Item* SmallestUnder(const void* node, int levels) {
        for (; levels > 0; --levels) node = static_cast<const Inner*>(node)->child[0];
        return static_cast<const Leaf*>(node)->item[0];
    }
    static const Item* LargestUnder(const void* node, int levels) {
        for (; levels > 0; --levels) {
            const auto* inner = static_cast<const Inner*>(node);
            node = inner->child[inner->count - 1];
        }
        const auto* leaf = static_cast<const Leaf*>(node);
        return leaf->item[leaf->count - 1];
    }

    // The child of `inner` (whose children stand `below` inner levels above
    // the leaves) that holds or would hold the key.
    template <typename Cmp>
    static int ChildFor(const Inner* inner, int below, std::uint64_t prefix, Cmp& cmp);

    // The slot of the key in `leaf`, or where it would go; `*found` tells.
    template <typename Cmp>
    static int SlotFor(const Leaf* leaf, std::uint64_t prefix, Cmp& cmp, bool* found);

    // Descends to the leaf for the key, filling `path`.
    template <typename Cmp>
    Leaf* Descend(std::uint64_t prefix, Cmp& cmp, Path* path) const;

    // The leaf and slot that hold `item` itself, with the path to it.
    Leaf* Locate(const Item* item, Path* path, int* slot) const;

    // Moves `n` slots of `from`, from slot `first` on, to `to`'s slot `at`
    // on: both of a node's arrays at once. The two may be one node, the
    // ranges overlapping.
    static void MoveSlots(Leaf* to, int at, const Leaf* from, int first, int n) {
        std::memmove(&to->hint[at], &from->hint[first], sizeof(std::uint32_t) * n);
        std::memmove(&to->item[at], &from->item[first], sizeof(Item*) * n);
    }
    static void MoveSlots(Inner* to, int at, const Inner* from, int first, int n) {
        std::memmove(&to->key[at], &from->key[first], sizeof(std::uint64_t) * n);
        std::memmove(&to->child[at], &from->child[first], sizeof(void*) * n);
    }

    void InsertAt(Leaf* leaf, int slot, Item* item, std::uint64_t prefix) {
        MoveSlots(leaf, slot + 1, leaf, slot, leaf->count - slot);
        leaf->hint[slot] = HintOf(prefix);
        leaf->item[slot] = item;
        ++leaf->count;
    }
    static void InsertChild(Inner* inner, int slot, std::uint64_t key, void* child) {
        MoveSlots(inner, slot + 1, inner, slot, inner->count - slot);
        inner->key[slot] = key;
        inner->child[slot] = child;
        ++inner->count;
    }
    static void RemoveChild(Inner* inner, int slot) {
        MoveSlots(inner, slot, inner, slot + 1, inner->count - slot - 1);
        --inner->count;
    }

    // After a removal left path->node[level]'s child `slot` under-full:
    // merges it with a neighbour or takes some of the neighbour's entries,
    // and goes up as long as merges leave nodes under-full.
    void Rebalance(Path* path, int level);

    // Hands every inner node to `each`, each after all its children.
    template <typename Each>
    void ForEachInner(Each each);

    // Frees every node (not the items) and empties the index.
    void FreeNodes();

    // How many inner nodes BuildInner takes for `leafCount` leaves.
    static std::int64_t InnerNodesFor(std::int64_t leafCount);

    // Builds the inner levels over the chain of `leafCount` leaves from
    // `first`, taking every node from `spare` (a list through child[0]),
    // which must hold InnerNodesFor(leafCount) of them. Returns the root
    // and sets `*height`; allocates nothing.
    void* BuildInner(Leaf* first, std::int64_t leafCount, Inner** spare, int* height);

    void* root_ = nullptr;   // a Leaf when height_ is 0, else an Inner
    int height_ = 0;         // inner levels above the leaves
    Leaf* first_ = nullptr;  // the first leaf of the chain
    std::int32_t count_ = 0;
    std::size_t leaves_ = 0, inners_ = 0;
    // The cursor.
    Leaf* cursorLeaf_ = nullptr;
    int cursorSlot_ = 0;
    bool cursorActive_ = false;
};

// ---------------------------------------------------------------------------

template <typename Item, typename Order>
template <typename Cmp>
int OrderedIndex<Item, Order>::ChildFor(const Inner* inner, int below, std::uint64_t prefix, Cmp& cmp) {
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
        if (cmp(SmallestUnder(inner->child[mid], below)) >= 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo - 1;
}

template <typename Item, typename Order>
template <typename Cmp>
int OrderedIndex<Item, Order>::SlotFor(const Leaf* leaf, std::uint64_t prefix, Cmp& cmp, bool* found) {
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
        if (cmp(leaf->item[mid]) > 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    *found = lo < end && cmp(leaf->item[lo]) == 0;
    return lo;
}

template <typename Item, typename Order>
template <typename Cmp>
typename OrderedIndex<Item, Order>::Leaf* OrderedIndex<Item, Order>::Descend(std::uint64_t prefix, Cmp& cmp,
                                                                             Path* path) const {
    void* node = root_;
    for (int level = 0; level < height_; ++level) {
        auto* inner = static_cast<Inner*>(node);
        int slot = ChildFor(inner, height_ - level - 1, prefix, cmp);
        path->node[level] = inner;
        path->slot[level] = slot;
        node = inner->child[slot];
    }
    return static_cast<Leaf*>(node);
}

template <typename Item, typename Order>
template <typename Cmp>
Item* OrderedIndex<Item, Order>::Find(std::uint64_t prefix, Cmp cmp) const {
    if (count_ == 0) return nullptr;
    Path path;
    Leaf* leaf = Descend(prefix, cmp, &path);
    bool found;
    int slot = SlotFor(leaf, prefix, cmp, &found);
    return found ? leaf->item[slot] : nullptr;
}

template <typename Item, typename Order>
typename OrderedIndex<Item, Order>::Leaf* OrderedIndex<Item, Order>::Locate(const Item* item, Path* path,
                                                                            int* slot) const {
    auto cmp = [item](const Item* stored) { return Order::Compare(item, stored); };
    std::uint64_t prefix = Order::Prefix(item);
    Leaf* leaf = Descend(prefix, cmp, path);
    *slot = SlotOf(leaf, item);
    return leaf;
}

template <typename Item, typename Order>
Item* OrderedIndex<Item, Order>::Insert(Item* item) {
    std::uint64_t prefix = Order::Prefix(item);
    auto cmp = [item](const Item* stored) { return Order::Compare(item, stored); };
    if (root_ == nullptr) {
        Leaf* leaf = NewLeaf();
        ++leaves_;
        root_ = first_ = leaf;
        height_ = 0;
    }
    Path path;
    Leaf* leaf = Descend(prefix, cmp, &path);
    bool found;
    int slot = SlotFor(leaf, prefix, cmp, &found);
    if (found) return leaf->item[slot];
    if (leaf->count < kLeafSlots) {
        InsertAt(leaf, slot, item, prefix);
        ++count_;
        return nullptr;
    }

    // Step 1: count the nodes the splits need (each full node on the way up
    // splits, and a new root when the root does) and get them all first.
    int splits = 1;  // the leaf
    int level = height_ - 1;
    while (level >= 0 && path.node[level]->count == kInnerSlots) {
        ++splits;
        --level;
    }
    bool newRoot = level < 0;
    Leaf* rightLeaf = NewLeaf();
    Inner* spare[kMaxDepth + 1];
    int spares = 0;
    try {
        for (int i = 1; i < splits + (newRoot ? 1 : 0); ++i) spare[spares++] = NewInner();
    } catch (const std::bad_alloc&) {
        while (spares > 0) ::operator delete(spare[--spares]);
        ::operator delete(rightLeaf);
        throw;
    }
    ++leaves_;
    inners_ += static_cast<std::size_t>(spares);

    // Step 2: split the leaf. At the end of the last leaf only the new item
    // moves over, so items added in ascending order fill their leaves.
    int keep = slot == kLeafSlots && leaf->next == nullptr ? kLeafSlots : kLeafSlots / 2;
    int moved = kLeafSlots - keep;
    MoveSlots(rightLeaf, 0, leaf, keep, moved);
    rightLeaf->count = moved;
    leaf->count = keep;
    rightLeaf->next = leaf->next;
    leaf->next = rightLeaf;
    if (slot <= keep && keep != kLeafSlots) {
        InsertAt(leaf, slot, item, prefix);
    } else {
        InsertAt(rightLeaf, slot - keep, item, prefix);
    }
    ++count_;

    // Step 3: hang the new right node in its parent, splitting full parents
    // on the way up.
    std::uint64_t key = Order::Prefix(rightLeaf->item[0]);
    void* right = rightLeaf;
    for (level = height_ - 1; level >= 0; --level) {
        Inner* parent = path.node[level];
        int at = path.slot[level] + 1;
        if (parent->count < kInnerSlots) {
            InsertChild(parent, at, key, right);
            return nullptr;
        }
        Inner* sibling = spare[--spares];
        int half = kInnerSlots / 2;
        sibling->count = kInnerSlots - half;
        MoveSlots(sibling, 0, parent, half, sibling->count);
        parent->count = half;
        std::uint64_t siblingKey = sibling->key[0];  // the separator the parent's parent takes
        if (at <= half) {
            InsertChild(parent, at, key, right);
        } else {
            InsertChild(sibling, at - half, key, right);
            siblingKey = sibling->key[0];
        }
        key = siblingKey;
        right = sibling;
    }
    // The root split: a new root over the two halves.
    Inner* top = spare[--spares];
    top->count = 2;
    top->child[0] = root_;
    top->key[1] = key;
    top->child[1] = right;
    root_ = top;
    ++height_;
    assert(spares == 0);
    return nullptr;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Replace(const Item* old, Item* fresh) {
    Path path;
    int slot;
    Leaf* leaf = Locate(old, &path, &slot);
    leaf->item[slot] = fresh;
}

template <typename Item, typename Order>
template <typename Cmp>
void OrderedIndex<Item, Order>::Seek(std::uint64_t prefix, Cmp cmp, Position* position) const {
    if (count_ == 0) {
        position->leaf = nullptr;
        return;
    }
    position->leaf = Descend(prefix, cmp, &position->path);
    const char* slots = reinterpret_cast<const char*>(position->leaf->item);
    for (std::size_t line = 0; line < sizeof position->leaf->item; line += 64) __builtin_prefetch(slots + line);
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::ReplaceAt(const Position& position, const Item* old, Item* fresh) {
    position.leaf->item[SlotOf(position.leaf, old)] = fresh;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::RemoveAt(Position* position, const Item* item) {
    RemoveSlot(&position->path, position->leaf, SlotOf(position->leaf, item));
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Remove(const Item* item) {
    Path path;
    int slot;
    Leaf* leaf = Locate(item, &path, &slot);
    RemoveSlot(&path, leaf, slot);
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::RemoveSlot(Path* path, Leaf* leaf, int slot) {
    --leaf->count;
    MoveSlots(leaf, slot, leaf, slot + 1, leaf->count - slot);
    --count_;
    if (height_ == 0) {
        if (count_ == 0) FreeNodes();
        return;
    }
    if (leaf->count < kLeafSlots / 4) Rebalance(path, height_ - 1);
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Rebalance(Path* path, int level) {
    // At each level: `parent` holds the under-full child at `slot`; it
    // merges with its right neighbour (or left, for the last child) when
    // both fit in one node, else it takes entries from that neighbour
    // until the two are even. Only a merge can leave the parent under-full.
    for (; level >= 0; --level) {
        Inner* parent = path->node[level];
        int slot = path->slot[level];
        int leftSlot = slot + 1 < parent->count ? slot : slot - 1;
        bool leaves = level == height_ - 1;
        void* left = parent->child[leftSlot];
        void* right = parent->child[leftSlot + 1];
        if (leaves) {
            auto* l = static_cast<Leaf*>(left);
            auto* r = static_cast<Leaf*>(right);
            if (l->count + r->count <= kLeafSlots) {
                MoveSlots(l, l->count, r, 0, r->count);
                l->count += r->count;
                l->next = r->next;
                ::operator delete(r);
                --leaves_;
                RemoveChild(parent, leftSlot + 1);
            } else {
                int total = l->count + r->count;
                int leftCount = total / 2;
                if (l->count < leftCount) {  // move r's first items to l's end
                    int n = leftCount - l->count;
                    MoveSlots(l, l->count, r, 0, n);
                    MoveSlots(r, 0, r, n, r->count - n);
                    l->count += n;
                    r->count -= n;
                } else {  // move l's last items to r's front
                    int n = l->count - leftCount;
                    MoveSlots(r, n, r, 0, r->count);
                    MoveSlots(r, 0, l, leftCount, n);
                    l->count -= n;
                    r->count += n;
                }
                parent->key[leftSlot + 1] = Order::Prefix(r->item[0]);
                return;
            }
        } else {
            auto* l = static_cast<Inner*>(left);
            auto* r = static_cast<Inner*>(right);
            std::uint64_t between = parent->key[leftSlot + 1];
            if (l->count + r->count <= kInnerSlots) {
                // r's first child takes the parent's separator as its own.
                MoveSlots(l, l->count, r, 0, r->count);
                l->key[l->count] = between;
                l->count += r->count;
                ::operator delete(r);
                --inners_;
                RemoveChild(parent, leftSlot + 1);
            } else {
                int total = l->count + r->count;
                int leftCount = total / 2;
                if (l->count < leftCount) {  // rotate r's first children left
                    int n = leftCount - l->count;
                    r->key[0] = between;
                    MoveSlots(l, l->count, r, 0, n);
                    parent->key[leftSlot + 1] = r->key[n];
                    MoveSlots(r, 0, r, n, r->count - n);
                    l->count += n;
                    r->count -= n;
                } else {  // rotate l's last children right
                    int n = l->count - leftCount;
                    MoveSlots(r, n, r, 0, r->count);
                    r->key[n] = between;
                    MoveSlots(r, 0, l, leftCount, n);
                    parent->key[leftSlot + 1] = r->key[0];
                    l->count -= n;
                    r->count += n;
                }
                return;
            }
        }
        // A merge took a child from the parent.
        if (level == 0) {
            if (parent->count == 1) {  // the root has one child left: it goes
                root_ = parent->child[0];
                ::operator delete(parent);
                --inners_;
                --height_;
            }
            return;
        }
        if (parent->count >= kInnerSlots / 4) return;
    }
}

template <typename Item, typename Order>
Item* OrderedIndex<Item, Order>::NextItem() {
    if (!cursorActive_) {
        cursorActive_ = true;
        cursorLeaf_ = count_ == 0 ? nullptr : first_;
        cursorSlot_ = 0;
    }
    while (cursorLeaf_ != nullptr && cursorSlot_ == cursorLeaf_->count) {
        cursorLeaf_ = cursorLeaf_->next;
        cursorSlot_ = 0;
    }
    if (cursorLeaf_ == nullptr) {
        cursorActive_ = false;
        return nullptr;
    }
    return cursorLeaf_->item[cursorSlot_++];
}

template <typename Item, typename Order>
template <typename Visit>
bool OrderedIndex<Item, Order>::ForEach(Visit visit) const {
    if (count_ == 0) return true;
    // The item kAhead places on is requested while this one is visited, so
    // a walk of items scattered over memory waits for few of them.
    constexpr int kAhead = 12;
    const Leaf* ahead = first_;
    int aheadSlot = 0;
    auto advance = [&]() {
        if (ahead == nullptr) return;
        if (++aheadSlot == ahead->count) {
            ahead = ahead->next;
            aheadSlot = 0;
            if (ahead != nullptr && ahead->next != nullptr) __builtin_prefetch(ahead->next);
        }
        if (ahead != nullptr) {
            Order::Prefetch(ahead->item[aheadSlot]);
        }
    };
    Order::Prefetch(ahead->item[0]);
    for (int i = 0; i < kAhead; ++i) advance();
    for (const Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
        for (int slot = 0; slot < leaf->count; ++slot) {
            advance();
            if (!visit(leaf->item[slot])) return false;
        }
    }
    return true;
}

template <typename Item, typename Order>
template <typename Move>
void OrderedIndex<Item, Order>::Rewrite(Move move) {
    for (Leaf* leaf = count_ == 0 ? nullptr : first_; leaf != nullptr; leaf = leaf->next) {
        for (int slot = 0; slot < leaf->count; ++slot) {
            if (slot + 8 < leaf->count) Order::Prefetch(leaf->item[slot + 8]);
            leaf->item[slot] = move(leaf->item[slot]);
        }
    }
}

template <typename Item, typename Order>
template <typename Take>
void OrderedIndex<Item, Order>::Drain(Take take) {
    Leaf* leaf = count_ == 0 ? nullptr : first_;
    // The nodes go first, so `take` may do as it likes with the items.
    while (leaf != nullptr) {
        Leaf* next = leaf->next;
        for (int slot = 0; slot < leaf->count; ++slot) {
            if (slot + 8 < leaf->count) Order::Prefetch(leaf->item[slot + 8]);
            take(leaf->item[slot]);
        }
        leaf = next;
    }
    FreeNodes();
}

template <typename Item, typename Order>
template <typename Each>
void OrderedIndex<Item, Order>::ForEachInner(Each each) {
    // Depth-first over an explicit stack; a node is handed over only once
    // every child of it was reached, so `each` may reuse it at once.
    if (height_ == 0) return;
    Inner* stack[kMaxDepth];
    int next[kMaxDepth];
    int depth = 1;
    stack[0] = static_cast<Inner*>(root_);
    next[0] = 0;
    while (depth > 0) {
        Inner* inner = stack[depth - 1];
        if (depth == height_ || next[depth - 1] == inner->count) {  // children are leaves, or done
            --depth;
            each(inner);
            continue;
        }
        stack[depth] = static_cast<Inner*>(inner->child[next[depth - 1]++]);
        next[depth] = 0;
        ++depth;
    }
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::FreeNodes() {
    if (root_ != nullptr) {
        ForEachInner([](Inner* inner) { ::operator delete(inner); });
        for (Leaf* leaf = first_; leaf != nullptr;) {
            Leaf* following = leaf->next;
            ::operator delete(leaf);
            leaf = following;
        }
    }
    root_ = nullptr;
    first_ = nullptr;
    height_ = 0;
    count_ = 0;
    leaves_ = inners_ = 0;
    ResetCursor();
}

template <typename Item, typename Order>
template <typename Doomed, typename Gone>
std::int32_t OrderedIndex<Item, Order>::RemoveWhere(Doomed doomed, Gone gone) {
    if (count_ == 0) return 0;
    // Step 1: one pass over the chain; survivors move down to the write
    // position, which never passes the read position, so the leaves fill
    // from the first one on. Items are asked for ahead as in ForEach.
    constexpr int kAhead = 12;
    Leaf* ahead = first_;
    int aheadSlot = 0;
    auto advance = [&]() {
        if (ahead == nullptr) return;
        if (++aheadSlot == ahead->count) {
            ahead = ahead->next;
            aheadSlot = 0;
        }
        if (ahead != nullptr) Order::Prefetch(ahead->item[aheadSlot]);
    };
    Order::Prefetch(ahead->item[0]);
    for (int i = 0; i < kAhead; ++i) advance();
    // Until the first doomed item nothing moves; from there on the write
    // position follows behind.
    Leaf* write = nullptr;       // where the next survivor goes
    Leaf* beforeWrite = nullptr;  // the leaf before `write` in the chain
    Leaf* firstWritten = nullptr;
    int writeSlot = 0;
    Leaf* previous = nullptr;
    std::int32_t removed = 0;
    for (Leaf* leaf = first_; leaf != nullptr; previous = leaf, leaf = leaf->next) {
        int count = leaf->count;
        for (int slot = 0; slot < count; ++slot) {
            advance();
            Item* item = leaf->item[slot];
            if (doomed(static_cast<const Item*>(item))) {
                gone(item);
                if (removed++ == 0) {
                    write = firstWritten = leaf;
                    beforeWrite = previous;
                    writeSlot = slot;
                }
                continue;
            }
            if (write == nullptr) continue;
            if (writeSlot == kLeafSlots) {
                beforeWrite = write;
                write = write->next;
                writeSlot = 0;
            }
            write->hint[writeSlot] = leaf->hint[slot];
            write->item[writeSlot++] = item;
        }
    }
    if (removed == 0) return 0;
    count_ -= removed;
    // Step 2: the leaves from the first one written to up to `write` are
    // full now; `write` holds what it was given, and the leaves after it go
    // (with `write` itself when it was given nothing).
    for (Leaf* leaf = firstWritten; leaf != write; leaf = leaf->next) {
        leaf->count = kLeafSlots;
    }
    write->count = writeSlot;
    Leaf* after = write->next;
    if (writeSlot == 0) {
        after = write;
        if (beforeWrite == nullptr) {
            first_ = nullptr;
        } else {
            beforeWrite->next = nullptr;
        }
    } else {
        write->next = nullptr;
    }
    while (after != nullptr) {
        Leaf* next = after->next;
        ::operator delete(after);
        --leaves_;
        after = next;
    }
    if (count_ == 0) {
        FreeNodes();
        return removed;
    }
    std::int64_t writeLeaves = static_cast<std::int64_t>(leaves_);
    // Step 3: the inner levels again, over the packed leaves, in the old
    // inner nodes. Each level of the old tree had at least as many nodes as
    // the packed leaves need at that level, so no node is allocated.
    Inner* spare = nullptr;
    ForEachInner([&spare](Inner* inner) {
        inner->child[0] = spare;
        spare = inner;
    });
    assert(static_cast<std::size_t>(InnerNodesFor(writeLeaves)) <= inners_);
    inners_ = 0;
    root_ = BuildInner(first_, writeLeaves, &spare, &height_);
    while (spare != nullptr) {
        Inner* next = static_cast<Inner*>(spare->child[0]);
        ::operator delete(spare);
        spare = next;
    }
    ResetCursor();
    return removed;
}

template <typename Item, typename Order>
std::int64_t OrderedIndex<Item, Order>::InnerNodesFor(std::int64_t leafCount) {
    std::int64_t total = 0;
    for (std::int64_t level = leafCount; level > 1;) {
        level = (level + kInnerSlots - 1) / kInnerSlots;
        total += level;
    }
    return total;
}

template <typename Item, typename Order>
void* OrderedIndex<Item, Order>::BuildInner(Leaf* first, std::int64_t leafCount, Inner** spare, int* height) {
    // Level by level from the leaves up. Each level's children are spread
    // evenly over as few nodes as hold them. The level below is walked as a
    // chain: the leaves by `next`; an inner level through a link kept for
    // the while in key[0], which no search reads.
    auto take = [spare, this]() {
        Inner* inner = *spare;
        assert(inner != nullptr);
        *spare = static_cast<Inner*>(inner->child[0]);
        ++inners_;
        return inner;
    };
    auto linkOf = [](Inner* inner) {
        return reinterpret_cast<Inner*>(static_cast<std::uintptr_t>(inner->key[0]));
    };
    *height = 0;
    void* levelFirst = first;
    std::int64_t levelCount = leafCount;
    while (levelCount > 1) {
        std::int64_t nodes = (levelCount + kInnerSlots - 1) / kInnerSlots;
        std::int64_t perNode = levelCount / nodes, extra = levelCount % nodes;
        void* child = levelFirst;
        Inner* upFirst = nullptr;
        Inner* upLast = nullptr;
        for (std::int64_t n = 0; n < nodes; ++n) {
            Inner* inner = take();
            inner->count = static_cast<std::int32_t>(perNode + (n < extra ? 1 : 0));
            for (int c = 0; c < inner->count; ++c) {
                void* following;
                if (*height == 0) {
                    auto* leaf = static_cast<Leaf*>(child);
                    following = leaf->next;
                    inner->key[c] = Order::Prefix(leaf->item[0]);
                } else {
                    auto* below = static_cast<Inner*>(child);
                    following = linkOf(below);
                    below->key[0] = 0;
                    inner->key[c] = Order::Prefix(SmallestUnder(below, *height));
                }
                inner->child[c] = child;
                child = following;
            }
            inner->key[0] = 0;
            if (upLast != nullptr) upLast->key[0] = reinterpret_cast<std::uintptr_t>(inner);
            if (upFirst == nullptr) upFirst = inner;
            upLast = inner;
        }
        levelFirst = upFirst;
        levelCount = nodes;
        ++*height;
    }
    if (*height > 0) static_cast<Inner*>(levelFirst)->key[0] = 0;
    return levelFirst;
}

template <typename Item, typename Order>
OrderedIndex<Item, Order>::Builder::~Builder() {
    Drain([](Item*) {});
}

template <typename Item, typename Order>
template <typename Take>
void OrderedIndex<Item, Order>::Builder::Drain(Take take) {
    Leaf* leaf = first_;
    first_ = last_ = nullptr;
    count_ = 0;
    while (leaf != nullptr) {
        Leaf* next = leaf->next;
        for (int slot = 0; slot < leaf->count; ++slot) take(leaf->item[slot]);
        ::operator delete(leaf);
        leaf = next;
    }
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Builder::Append(Item* item, std::uint64_t prefix) {
    if (last_ == nullptr || last_->count == kLeafSlots) {
        Leaf* leaf = NewLeaf();
        (last_ == nullptr ? first_ : last_->next) = leaf;
        last_ = leaf;
    }
    last_->hint[last_->count] = HintOf(prefix);
    last_->item[last_->count++] = item;
    ++count_;
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::Adopt(Builder* builder) {
    assert(root_ == nullptr);
    if (builder->count_ == 0) return;
    std::int64_t leafCount = 0;
    for (Leaf* leaf = builder->first_; leaf != nullptr; leaf = leaf->next) ++leafCount;
    // Every inner node first, so the build itself cannot fail.
    Inner* spare = nullptr;
    try {
        for (std::int64_t n = InnerNodesFor(leafCount); n > 0; --n) {
            Inner* inner = NewInner();
            inner->child[0] = spare;
            spare = inner;
        }
    } catch (const std::bad_alloc&) {
        while (spare != nullptr) {
            Inner* next = static_cast<Inner*>(spare->child[0]);
            ::operator delete(spare);
            spare = next;
        }
        throw;
    }
    root_ = BuildInner(builder->first_, leafCount, &spare, &height_);
    assert(spare == nullptr);
    first_ = builder->first_;
    count_ = builder->count_;
    leaves_ = static_cast<std::size_t>(leafCount);
    builder->first_ = builder->last_ = nullptr;
    builder->count_ = 0;
    ResetCursor();
}

template <typename Item, typename Order>
bool OrderedIndex<Item, Order>::Verify(std::string* problem) const {
    auto fail = [problem](const std::string& what) {
        *problem = what;
        return false;
    };
    if (root_ == nullptr) {
        if (count_ != 0 || first_ != nullptr || height_ != 0) return fail("an empty tree with a count or leaves");
        return true;
    }
    if (height_ >= kMaxDepth) return fail("deeper than the paths allow");
    // Every inner node: children in range, separators between neighbours.
    // Depth-first over explicit stacks; leaves met in order must be the
    // chain's leaves in order.
    const Leaf* chain = first_;
    std::int64_t items = 0;
    std::size_t leafCount = 0, innerCount = 0;
    const Item* previous = nullptr;
    const void* stack[kMaxDepth];
    int next[kMaxDepth];
    int depth = 0;
    auto visitLeaf = [&](const Leaf* leaf) -> bool {
        if (leaf != chain) return fail("the leaf chain does not follow the tree");
        chain = leaf->next;
        ++leafCount;
        if (leaf->count <= 0 || leaf->count > kLeafSlots) return fail("a leaf with " + Decimal(leaf->count) + " items");
        for (int slot = 0; slot < leaf->count; ++slot) {
            const Item* item = leaf->item[slot];
            if (leaf->hint[slot] != HintOf(Order::Prefix(item))) return fail("a hint that is not its item's");
            if (previous != nullptr && Order::Compare(previous, item) >= 0) return fail("items out of order");
            previous = item;
        }
        items += leaf->count;
        return true;
    };
    if (height_ == 0) {
        if (!visitLeaf(static_cast<const Leaf*>(root_))) return false;
    } else {
        stack[0] = root_;
        next[0] = 0;
        depth = 1;
        while (depth > 0) {
            const auto* inner = static_cast<const Inner*>(stack[depth - 1]);
            int below = height_ - depth;  // inner levels under this node's children
            if (next[depth - 1] == 0) {
                ++innerCount;
                if (inner->count < (depth == 1 ? 2 : 1) || inner->count > kInnerSlots) {
                    return fail("an inner node with " + Decimal(inner->count) + " children");
                }
                for (int j = 1; j < inner->count; ++j) {
                    std::uint64_t low = Order::Prefix(LargestUnder(inner->child[j - 1], below));
                    std::uint64_t high = Order::Prefix(SmallestUnder(inner->child[j], below));
                    if (inner->key[j] < low || inner->key[j] > high) return fail("a separator outside its children");
                }
            }
            if (next[depth - 1] == inner->count) {
                --depth;
                continue;
            }
            const void* child = inner->child[next[depth - 1]++];
            if (below == 0) {
                if (!visitLeaf(static_cast<const Leaf*>(child))) return false;
            } else {
                stack[depth] = child;
                next[depth] = 0;
                ++depth;
            }
        }
    }
    if (chain != nullptr) return fail("the leaf chain goes on past the last leaf");
    if (items != count_) return fail("count is " + Decimal(count_) + " but the leaves hold " + Decimal(items));
    if (leafCount != leaves_ || innerCount != inners_) return fail("the node tallies are wrong");
    return true;
}

}  // namespace lastspot::index
