// The order of a table: a B+-tree of item pointers. Leaves hold up to
// kLeafSlots items in ascending order, each beside a 32-bit hint of its key,
// and are chained from the first to the last, so a walk reads memory in long
// runs and can ask for the items well before it needs them. Inner nodes hold
// a 64-bit prefix of each child's smallest key, so a search touches no item
// until it reaches a leaf, and there mostly only the one it looks for.
//
// The index does not own its items: its owner releases them (Clear forgets
// them; RemoveWhere hands each removed one over). It reads an item only
// through the Order (item_contracts.h).
//
// Nothing recurses; paths are kept on fixed stacks of kMaxDepth levels,
// enough for more items than a 64-bit address space holds. Insert allocates
// the nodes a split needs before it changes anything, so running out of
// memory (std::bad_alloc) leaves the index as it was; removals allocate
// nothing.
//
// The members are defined by task in the files included at the end:
// searching, walking, inserting, removing one item, the bulk operations
// (building, bulk removal, clearing) and the invariant check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "index/item_contracts.h"

namespace lastspot::index {

template <typename Item, typename Order>
class OrderedIndex {
    static_assert(ItemOrder<Order, Item>, "the order lacks Compare, Prefix or Prefetch (item_contracts.h)");

public:
    static constexpr int kLeafSlots = 64;
    static constexpr int kInnerSlots = 64;
    // The fill rule's floors (see the node layouts): a node below its floor
    // after a removal is merged with a neighbour or takes some of its
    // entries. A quarter, not a half, so that a removal right after a split
    // does not merge the halves again.
    static constexpr int kLeafFloor = kLeafSlots / 4;
    static constexpr int kInnerFloor = kInnerSlots / 4;
    static constexpr int kMaxDepth = 24;

private:
    // A leaf: a run of items in ascending order.
    //   count    items held; slots [0, count) are valid, the rest hold
    //            nothing. Fill rule: 1 <= count <= kLeafSlots; every leaf
    //            but the last of the chain holds at least kLeafFloor (a
    //            split at the end of the last leaf leaves the new last one
    //            with a single item, so that ascending adds fill leaves).
    //            No leaf is empty: the tree frees it instead.
    //   next     the next leaf in ascending order, nullptr after the last.
    //            Every leaf of the tree is on this chain, in tree order.
    //   hint[s]  the top 32 bits of Order::Prefix(item[s]): a search counts
    //            the hints below and equal to its own before it reads any
    //            item.
    //   item[s]  strictly ascending under Order::Compare, within the leaf
    //            and from the last item of a leaf to the first of the next.
    struct Leaf {
        std::int32_t count;
        Leaf* next;
        std::uint32_t hint[kLeafSlots];
        Item* item[kLeafSlots];
    };

    // An inner node: children that are all leaves or all inner nodes, every
    // leaf of the tree at the same depth.
    //   count     children held; slots [0, count) are valid. Fill rule: the
    //             root has 2 <= count <= kInnerSlots (a root left with one
    //             child gives way to it); every other inner node at least
    //             kInnerFloor, so under any parent each child has a
    //             neighbour to merge with or take from.
    //   key[j]    for 1 <= j < count, the separator of child j-1 and child
    //             j: at least the prefix of every item under child j-1 and
    //             at most the prefix of every item under child j. Set to
    //             the prefix of child j's smallest item when the child is
    //             hung, it may stay when that item goes, so a removal never
    //             touches the ancestors; a key whose prefix equals key[j] is
    //             settled by child j's smallest item as it is now (FindChild).
    //             key[0] is never read: slot moves carry whatever it holds.
    //   child[j]  a Leaf* when the node's children are leaves (the lowest
    //             inner level), else an Inner*; in ascending order.
    struct Inner {
        std::int32_t count;
        std::uint64_t key[kInnerSlots];
        void* child[kInnerSlots];
    };

public:
    OrderedIndex() = default;
    ~OrderedIndex() { Clear(); }
    OrderedIndex(const OrderedIndex&) = delete;
    OrderedIndex& operator=(const OrderedIndex&) = delete;

    std::int32_t Count() const { return count_; }

    // The way down to the leaf where a key is or would be: the inner node
    // and the child taken at each level, root first, then the leaf.
    struct Place {
        Inner* node[kMaxDepth];
        int slot[kMaxDepth];
        Leaf* leaf = nullptr;  // nullptr: the index is empty
    };

    // Fills `place` with the way to the leaf for the key that `search`
    // compares with (KeySearch) and whose prefix is `prefix`, and asks for
    // that leaf's item slots: the owner can look the item up elsewhere
    // meanwhile, then replace or remove it at the place. A place is good
    // until the index next changes.
    template <typename Search>
    void FindLeaf(std::uint64_t prefix, Search search, Place* place) const;

    // Stores `item` unless an equal item is stored; returns that item then,
    // with nothing changed, and nullptr when `item` was stored. Throws
    // std::bad_alloc, with nothing changed, when a split cannot get a node.
    Item* Insert(Item* item);

    // Puts `fresh` in the slot of `old`, which the leaf at `place` holds;
    // `fresh` has the same key.
    void ReplaceAt(const Place& place, const Item* old, Item* fresh);

    // Takes `item`, which the leaf at `place` holds, out of the index.
    // Allocates nothing.
    void RemoveAt(Place* place, const Item* item);

    // Asks `doomed(item)` of every item in ascending order; those it is true
    // for are taken out and handed to `gone(item)`, at once, and the others
    // close up, leaves packed full. Returns how many went. Allocates nothing:
    // the inner levels are rebuilt in the nodes the old ones leave free.
    template <typename Doomed, typename Gone>
    std::int32_t RemoveWhere(Doomed doomed, Gone gone);

    // Puts `move(item)` in the place of every item, in ascending order: the
    // item moved elsewhere, with the same key.
    template <typename Move>
    void ReplaceEach(Move move);

    // Forgets every item (the owner releases them its own way) and frees
    // every node.
    void Clear();

    // Calls `visit(item)` for every item in ascending order until it returns
    // false; returns false then. The items are asked for well ahead, by
    // Order::Prefetch or, given `ask`, by ask(item): a visitor that reads
    // more of each item than Compare asks for more.
    template <typename Visit>
    bool ForEach(Visit visit) const {
        return ForEach(visit, OrderPrefetch{});
    }
    template <typename Visit, typename Ask>
    bool ForEach(Visit visit, Ask ask) const;

    // The built-in cursor: ResetCursor, then NextItem until it returns
    // nullptr. The index must not change during a walk.
    void ResetCursor() {
        cursorLeaf_ = nullptr;
        cursorSlot_ = 0;
        cursorActive_ = false;
    }
    Item* NextItem();

    // Items in ascending order become a tree, built bottom-up with full
    // leaves. Throws std::bad_alloc when a leaf cannot be had; its leaves
    // are freed with it, and the items stay the caller's.
    class Builder {
    public:
        Builder() = default;
        ~Builder() { FreeLeaves(); }
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;
        // `item` must sort after every item appended before; `prefix` is
        // its Order::Prefix.
        void Append(Item* item, std::uint64_t prefix);
        const Item* Last() const { return last_ == nullptr ? nullptr : last_->item[last_->count - 1]; }
        std::int32_t Count() const { return count_; }
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
            std::swap(leaves_, other->leaves_);
        }

    private:
        friend class OrderedIndex;
        void FreeLeaves();
        Leaf* first_ = nullptr;
        Leaf* last_ = nullptr;
        std::int32_t count_ = 0;
        std::int64_t leaves_ = 0;
    };

    // Makes the builder's items this (empty) index's tree; the builder is
    // left empty. Throws std::bad_alloc, with both as they were, when the
    // inner nodes cannot be had.
    void Adopt(Builder* builder);

    // Checks every rule above that the code relies on: items ascending
    // along the chain, every hint its item's, every separator between its
    // neighbours' prefixes, all leaves at one depth and on the chain in tree
    // order, the fill rule of every node, the root's two children, and the
    // count and node tallies. On failure `*problem` says what is wrong.
    bool Verify(std::string* problem) const;

private:
    friend struct OrderedIndexPeer;  // the tests' fault planting

    // Nodes the bulk operations have taken out of the tree and not yet put
    // back or freed, as a list through their own memory (a spare node is
    // neither an Inner nor in the tree while it is on the list).
    class SpareInners {
    public:
        SpareInners() = default;
        ~SpareInners() { FreeAll(); }
        SpareInners(const SpareInners&) = delete;
        SpareInners& operator=(const SpareInners&) = delete;
        void Push(Inner* inner) { top_ = new (static_cast<void*>(inner)) Spare{top_}; }
        // The last one pushed; there must be one.
        Inner* Take();
        bool Empty() const { return top_ == nullptr; }
        void FreeAll();

    private:
        struct Spare {
            Spare* next;
        };
        Spare* top_ = nullptr;
    };

    struct OrderPrefetch {
        void operator()(const Item* item) const { Order::Prefetch(item); }
    };

    // Asks for the items of a walk a fixed distance ahead of it, so that a
    // walk of items scattered over memory waits for few of them: Start at
    // the first leaf, then Advance once per item visited. `ask(item)` asks
    // for one item.
    template <typename Ask = OrderPrefetch>
    class ReadAhead {
    public:
        static constexpr int kDistance = 12;
        explicit ReadAhead(const Leaf* first, Ask ask = {});
        void Advance();

    private:
        const Leaf* leaf_;
        int slot_ = 0;
        Ask ask_;
    };

    static std::uint32_t HintOf(std::uint64_t prefix) { return static_cast<std::uint32_t>(prefix >> 32); }

    static Leaf* NewLeaf();
    static Inner* NewInner();

    // The smallest and the largest item under `node`, whose children stand
    // `levels` inner levels above the leaves (0: `node` is a leaf).
    static const Item* SmallestUnder(const void* node, int levels);
    static const Item* LargestUnder(const void* node, int levels);

    // Searching (ordered_index_search.h).
    template <typename Search>
    static int FindChild(const Inner* inner, int below, std::uint64_t prefix, Search& search);
    template <typename Search>
    static int FindSlot(const Leaf* leaf, std::uint64_t prefix, Search& search, bool* found);
    static int FindSlotHolding(const Leaf* leaf, const Item* item);
    template <typename Search>
    Leaf* Descend(std::uint64_t prefix, Search& search, Place* place) const;

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
    static void PutItem(Leaf* leaf, int slot, Item* item, std::uint64_t prefix) {
        MoveSlots(leaf, slot + 1, leaf, slot, leaf->count - slot);
        leaf->hint[slot] = HintOf(prefix);
        leaf->item[slot] = item;
        ++leaf->count;
    }
    static void PutChild(Inner* inner, int slot, std::uint64_t key, void* child) {
        MoveSlots(inner, slot + 1, inner, slot, inner->count - slot);
        inner->key[slot] = key;
        inner->child[slot] = child;
        ++inner->count;
    }

    // Inserting (ordered_index_insert.h).
    struct SplitNodes;
    void GetSplitNodes(const Place& place, SplitNodes* nodes);
    Leaf* SplitLeaf(Leaf* leaf, int slot, Item* item, std::uint64_t prefix, SplitNodes* nodes);
    void HangRight(const Place& place, std::uint64_t key, void* right, SplitNodes* nodes);
    Inner* SplitInner(Inner* parent, int at, std::uint64_t* key, void* right, SplitNodes* nodes);

    // Removing (ordered_index_remove.h).
    void Rebalance(Place* place, int level);
    template <typename Node>
    bool MergeOrEvenOut(Inner* parent, int leftSlot);
    static std::uint64_t KeyOf(const Leaf* leaf, int slot) { return Order::Prefix(leaf->item[slot]); }
    static std::uint64_t KeyOf(const Inner* inner, int slot) { return inner->key[slot]; }
    static void TakeSeparator(Leaf*, int, std::uint64_t) {}
    static void TakeSeparator(Inner* inner, int slot, std::uint64_t separator) {
        inner->key[slot] = separator;
    }
    static int Capacity(const Leaf*) { return kLeafSlots; }
    static int Capacity(const Inner*) { return kInnerSlots; }
    static void Unchain(Leaf* left, const Leaf* right) { left->next = right->next; }
    static void Unchain(Inner*, const Inner*) {}
    void FreeNode(Leaf* leaf);
    void FreeNode(Inner* inner);

    // Bulk work (ordered_index_bulk.h).
    template <typename Each>
    void ForEachInner(Each each);
    static std::int64_t InnerNodesFor(std::int64_t leafCount);
    void BuildInnerLevels(Leaf* first, std::int64_t leafCount, SpareInners* spare);
    template <typename Doomed, typename Gone>
    std::int32_t PackSurvivors(Doomed& doomed, Gone& gone);
    void RebuildOverPackedLeaves();

    // Checking (ordered_index_verify.h).
    struct Checker;

    void* root_ = nullptr;                  // nullptr when empty; a Leaf when height_ is 0, else an Inner
    int height_ = 0;                        // inner levels above the leaves
    Leaf* first_ = nullptr;                 // the first leaf of the chain; nullptr when empty
    std::int32_t count_ = 0;                // items held
    std::int64_t leaves_ = 0, inners_ = 0;  // nodes held, for the checks
    // The cursor: the leaf and slot NextItem returns next; not active
    // between walks.
    Leaf* cursorLeaf_ = nullptr;
    int cursorSlot_ = 0;
    bool cursorActive_ = false;
};

}  // namespace lastspot::index

#include "index/ordered_index_search.h"
#include "index/ordered_index_walk.h"
#include "index/ordered_index_insert.h"
#include "index/ordered_index_remove.h"
#include "index/ordered_index_bulk.h"
#include "index/ordered_index_verify.h"
