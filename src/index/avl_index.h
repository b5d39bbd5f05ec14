// The ordered index behind every seen table: an AVL tree of items, ordered
// by a comparison that can be exchanged at run time, with one cursor built
// in for walking the items in order.
//
// The tree is intrusive: each item carries its own node as its first member
// (`AvlNode node;` at the start of a standard-layout struct), so storing an
// item allocates nothing and a search touches one block per level. The
// index owns the items stored in it. It never looks inside an item except
// through the comparison and the item's release, `ReleaseItem(Item*)`, which
// is found by argument-dependent lookup beside the item type (for seen
// records, the record's release). Nothing recurses: insertion re-walks its
// path through each node's `direction`, removal keeps its path on a local
// stack, and the post-order visits, the cursor and the balanced build keep
// explicit stacks.
//
// Every stack holds kMaxHeight nodes. An AVL tree of height 64 needs more
// than 10^13 nodes, far beyond any memory, so no stack can overflow.
//
// Walks: ResetCursor, then NextItem until it returns nullptr (or stop early).
// While a walk is in progress nothing may modify the walked index; the
// cursor holds pointers to nodes. Each index has one cursor.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <type_traits>
#include <vector>

namespace lastspot::index {

inline constexpr int kMaxHeight = 64;

// The links an item carries as its first member.
struct AvlNode {
    AvlNode* link[2];       // [0] items that sort lower, [1] items that sort higher
    std::int8_t balance;    // right height minus left height: -1, 0 or +1
    std::uint8_t direction; // the way the latest Insert went down from here
    std::uint8_t doomed;    // RemoveWhere's mark, set only while it runs
};

// Items in strictly ascending order, chained through their nodes' right
// links, waiting to become a tree (see AvlIndex::Adopt). The run owns its
// items: whatever it still holds when it goes away is released.
template <typename Item>
class SortedRun {
public:
    SortedRun() = default;
    ~SortedRun() {
        Drain([](Item* item) { ReleaseItem(item); });
    }
    SortedRun(const SortedRun&) = delete;
    SortedRun& operator=(const SortedRun&) = delete;

    // Appends `item`, which must sort after every item already in the run.
    void Append(Item* item) {
        AvlNode* node = &item->node;
        node->link[1] = nullptr;
        (last_ == nullptr ? first_ : last_->link[1]) = node;
        last_ = node;
        ++count_;
    }

    const Item* Last() const { return reinterpret_cast<const Item*>(last_); }
    std::int32_t Count() const { return count_; }

    // Empties the run, handing its items in order to `take`, which owns
    // each from then on.
    template <typename Take>
    void Drain(Take take) {
        AvlNode* node = first_;
        first_ = last_ = nullptr;
        count_ = 0;
        while (node != nullptr) {
            AvlNode* next = node->link[1];
            take(reinterpret_cast<Item*>(node));
            node = next;
        }
    }

private:
    template <typename>
    friend class AvlIndex;
    AvlNode* first_ = nullptr;
    AvlNode* last_ = nullptr;
    std::int32_t count_ = 0;
};

template <typename Item>
class AvlIndex {
public:
    // Orders the probe (first) against a stored item: negative when the
    // probe sorts first, 0 for the same key, positive when it sorts after.
    using Compare = int (*)(const Item* probe, const Item* stored);
    using Visit = void (*)(Item* item);

    explicit AvlIndex(Compare compare) : compare_(compare) {
        head_.link[0] = head_.link[1] = nullptr;
        head_.balance = 0;
        head_.direction = 0;
        head_.doomed = 0;
        scratch_ = head_;
    }

    // Releases every item still stored.
    virtual ~AvlIndex() { Clear(); }

    AvlIndex(const AvlIndex&) = delete;
    AvlIndex& operator=(const AvlIndex&) = delete;

    // Stores `item` unless an item with the same key is there already.
    // Returns `item` when it was stored (the index owns it from then on),
    // otherwise the stored item with the same key; then nothing changed and
    // `item` is still the caller's. Allocates nothing, so it cannot fail.
    Item* Insert(Item* item) { return Place(&item->node, SameOrder{compare_, item}, false); }

    // Stores `item`; when an item with the same key is stored, `item` takes
    // its place in the tree (the shape stays as it is) and that item is
    // returned, out of the index and the caller's to release. Returns
    // nullptr when `item` was stored beside the others. Allocates nothing.
    Item* InsertOrReplace(Item* item) {
        Item* found = Place(&item->node, SameOrder{compare_, item}, true);
        return found == item ? nullptr : found;
    }

    // The stored item with the probe's key, or nullptr.
    Item* Find(const Item* probe) const { return FindBy(SameOrder{compare_, probe}); }

    // Takes the item with the probe's key out of the index and returns it
    // (the caller owns and releases it), or returns nullptr with nothing
    // changed.
    Item* Remove(const Item* probe) { return RemoveBy(SameOrder{compare_, probe}); }

    // Find and Remove by a key that is not an item: `order(stored)` compares
    // the key with a stored item as the comparison in force would compare
    // an item of that key (negative when the key sorts first).
    template <typename Order>
    Item* FindBy(Order order) const;
    template <typename Order>
    Item* RemoveBy(Order order);

    // Removes and releases every item for which `doomed(item)` is true,
    // asked once per item in ascending order; returns how many went. While
    // that is cheaper, the doomed are removed one by one (more than a few
    // are kept in a vector meanwhile); otherwise, or when the vector cannot
    // grow, the survivors are re-linked into a balanced tree in one pass,
    // which allocates nothing. Never fails.
    template <typename Doomed>
    std::int32_t RemoveWhere(Doomed doomed);

    // Makes the items of `run` the index's, as a balanced tree built in time
    // proportional to their number. The index must be empty and in an order
    // under which the run ascends; the run is left empty.
    void Adopt(SortedRun<Item>* run);

    // Empties the index, handing every item to `take` (post-order), which
    // owns it from then on.
    template <typename Take>
    void Drain(Take take);

    // Empties the index. Without a callback every stored item is released;
    // with one, each node's item is handed to the callback instead.
    void Clear(Visit callback = nullptr);

    // Rebuilds the index under another comparison, keeping every item. The
    // nodes are re-linked, not re-allocated, so this cannot fail. Should two
    // items compare equal under the new order, the second is released (no
    // order used by the library lets that happen).
    void Reorder(Compare compare);

    // Makes the next NextItem start a new walk at the smallest item.
    void ResetCursor() { cursorActive_ = 0; }

    // The next item in ascending order, or nullptr at the end of the walk
    // (after which the next call starts over).
    Item* NextItem();

    std::int32_t Count() const { return count_; }

    // Checks the invariants: strictly ascending order under the comparison,
    // every balance equal to right height minus left height and within
    // -1..+1, and the count equal to the number of nodes. For tests and
    // debug checks; on failure `*problem` says what is wrong.
    bool Verify(std::string* problem) const;

private:
    using Node = AvlNode;

    // The item whose first member is `node`.
    static Item* ItemOf(Node* node) {
        static_assert(std::is_standard_layout_v<Item> && offsetof(Item, node) == 0,
                      "an item begins with its AvlNode");
        return reinterpret_cast<Item*>(node);
    }

    // The comparison in force, with an item as the probe.
    struct SameOrder {
        Compare compare;
        const Item* probe;
        int operator()(const Item* stored) const { return compare(probe, stored); }
    };

    // Insert's work: searches by `order`; when the key is absent hangs
    // `node` there and rebalances, and returns its item. When the key is
    // present returns the stored item, after putting `node` in its place if
    // `replace` is set.
    template <typename Order>
    Item* Place(Node* node, Order order, bool replace);

    // Doubles the block (at first 256 entries), keeping its entries; false,
    // with the block as it was, when memory runs out. (A block of our own
    // rather than std::vector keeps the library's Windows builds free of
    // the standard library's formatted exceptions.)
    static bool Grow(std::unique_ptr<Item*[]>* block, std::int32_t* capacity) {
        std::int32_t larger = *capacity == 0 ? 256 : *capacity * 2;
        try {
            std::unique_ptr<Item*[]> grown(new Item*[static_cast<std::size_t>(larger)]);
            for (std::int32_t i = 0; i < *capacity; ++i) grown[i] = (*block)[i];
            *block = std::move(grown);
        } catch (const std::bad_alloc&) {
            return false;
        }
        *capacity = larger;
        return true;
    }

    // Builds a balanced tree of `count` nodes, taken in ascending order from
    // `next()`, and makes it the index's tree. A node's links are set only
    // after the nodes that follow it in its subtree were taken, so `next`
    // may read the links of the nodes it hands out until it hands out the
    // next one.
    template <typename Next>
    void BuildFrom(std::int32_t count, Next next);

    // Visits every node of the tree under `root` in post-order without
    // recursion, handing each to `done` once both its subtrees are done.
    template <typename Done>
    static void PostOrder(Node* root, Done done);

    Node head_;     // head_.link[0] is the root; head_ stands as its parent
    Node scratch_;  // holds the old tree while Reorder takes it apart
    Compare compare_;
    std::int32_t count_ = 0;
    std::int32_t cursorActive_ = 0;
    std::int32_t cursorDepth_ = 0;
    Node* cursorNode_ = nullptr;
    Node* cursorStack_[kMaxHeight] = {};  // nodes the walk has yet to return
};

// ---------------------------------------------------------------------------

template <typename Item>
template <typename Order>
Item* AvlIndex<Item>::Place(Node* node, Order order, bool replace) {
    auto newNode = [node]() {
        node->link[0] = node->link[1] = nullptr;
        node->balance = 0;
        return node;
    };

    if (head_.link[0] == nullptr) {
        Node* n = newNode();
        head_.link[0] = n;
        ++count_;
        return ItemOf(n);
    }

    // Search, remembering s, the deepest node on the path whose balance is
    // not 0 (the only place a rotation can be needed), and t, its parent.
    // Each node records the way taken, so the balance update below re-walks
    // the path without comparing again.
    Node* t = &head_;
    Node* s = head_.link[0];
    Node* p = s;
    Node** slot = &head_.link[0];  // the link that points to p
    Node* n;  // the new node
    for (;;) {
        int sign = order(static_cast<const Item*>(ItemOf(p)));
        if (sign == 0) {
            if (replace) {
                *node = *p;  // links and balance: the new node stands where p stood
                *slot = node;
            }
            return ItemOf(p);
        }
        p->direction = sign > 0 ? 1 : 0;
        slot = &p->link[p->direction];
        Node* next = *slot;
        if (next == nullptr) {
            n = newNode();
            *slot = n;
            break;
        }
        if (next->balance != 0) {
            t = p;
            s = next;
        }
        p = next;
    }
    ++count_;

    // Update balances: every node strictly between s and n had balance 0 and
    // now leans towards n.
    for (p = s->link[s->direction]; p != n; p = p->link[p->direction]) {
        p->balance = p->direction == 0 ? -1 : +1;
    }

    // Rebalance at s.
    Node* top;  // the new root of s's subtree after a rotation
    if (s->direction == 0) {
        if (s->balance == 0) {
            s->balance = -1;
            return ItemOf(n);
        }
        if (s->balance == +1) {
            s->balance = 0;
            return ItemOf(n);
        }
        Node* r = s->link[0];
        if (r->balance == -1) {  // single right rotation
            s->link[0] = r->link[1];
            r->link[1] = s;
            s->balance = r->balance = 0;
            top = r;
        } else {  // double rotation through r's right child
            Node* q = r->link[1];
            r->link[1] = q->link[0];
            q->link[0] = r;
            s->link[0] = q->link[1];
            q->link[1] = s;
            s->balance = q->balance == -1 ? +1 : 0;
            r->balance = q->balance == +1 ? -1 : 0;
            q->balance = 0;
            top = q;
        }
    } else {
        if (s->balance == 0) {
            s->balance = +1;
            return ItemOf(n);
        }
        if (s->balance == -1) {
            s->balance = 0;
            return ItemOf(n);
        }
        Node* r = s->link[1];
        if (r->balance == +1) {  // single left rotation
            s->link[1] = r->link[0];
            r->link[0] = s;
            s->balance = r->balance = 0;
            top = r;
        } else {  // double rotation through r's left child
            Node* q = r->link[0];
            r->link[0] = q->link[1];
            q->link[1] = r;
            s->link[1] = q->link[0];
            q->link[0] = s;
            s->balance = q->balance == +1 ? -1 : 0;
            r->balance = q->balance == -1 ? +1 : 0;
            q->balance = 0;
            top = q;
        }
    }
    if (t == &head_) {
        head_.link[0] = top;
    } else {
        t->link[s == t->link[1] ? 1 : 0] = top;
    }
    return ItemOf(n);
}

template <typename Item>
template <typename Order>
Item* AvlIndex<Item>::FindBy(Order order) const {
    Node* p = head_.link[0];
    while (p != nullptr) {
        int sign = order(static_cast<const Item*>(ItemOf(p)));
        if (sign == 0) return ItemOf(p);
        p = p->link[sign > 0 ? 1 : 0];
    }
    return nullptr;
}

template <typename Item>
template <typename Order>
Item* AvlIndex<Item>::RemoveBy(Order order) {
    // The path from head_ down to the parent of the node unlinked (the
    // removed node or its successor): each node and the side taken from it.
    Node* path[kMaxHeight + 1];
    std::uint8_t side[kMaxHeight + 1];
    int k = 0;
    path[k] = &head_;
    side[k++] = 0;

    // Search.
    Node* p = head_.link[0];
    for (;;) {
        if (p == nullptr) return nullptr;
        int sign = order(static_cast<const Item*>(ItemOf(p)));
        if (sign == 0) break;
        assert(k <= kMaxHeight);
        path[k] = p;
        side[k++] = sign > 0 ? 1 : 0;
        p = p->link[sign > 0 ? 1 : 0];
    }
    --count_;
    Item* result = ItemOf(p);
    Node*& q = path[k - 1]->link[side[k - 1]];  // the link that points to p

    // Unlink p.
    if (p->link[1] == nullptr) {
        q = p->link[0];
        if (q != nullptr) q->balance = 0;
    } else {
        Node* r = p->link[1];
        if (r->link[0] == nullptr) {
            // p's right child takes p's place and p's left subtree.
            r->link[0] = p->link[0];
            r->balance = p->balance;
            q = r;
            path[k] = r;
            side[k++] = 1;
        } else {
            // p's in-order successor s, the leftmost node under r, takes
            // p's place; entry l of the path becomes s, the nodes from r down
            // to s's parent follow it.
            int l = k++;
            Node* s;
            for (;;) {
                assert(k <= kMaxHeight);
                path[k] = r;
                side[k++] = 0;
                s = r->link[0];
                if (s->link[0] == nullptr) break;
                r = s;
            }
            path[l] = s;
            side[l] = 1;
            s->link[0] = p->link[0];
            r->link[0] = s->link[1];
            s->link[1] = p->link[1];
            s->balance = p->balance;
            q = s;
        }
    }

    // Rebalance up the path: at each entry, side[k] is the side of the node
    // that has become one level lower. Entry 0 (head_) is never examined.
    while (--k > 0) {
        Node* y = path[k];
        Node*& above = path[k - 1]->link[side[k - 1]];  // the link that points to y
        if (side[k] == 0) {
            if (y->balance == -1) {
                y->balance = 0;
                continue;
            }
            if (y->balance == 0) {
                y->balance = +1;
                break;
            }
            Node* x = y->link[1];
            if (x->balance == -1) {  // double rotation through x's left child
                Node* w = x->link[0];
                x->link[0] = w->link[1];
                w->link[1] = x;
                y->link[1] = w->link[0];
                w->link[0] = y;
                y->balance = w->balance == +1 ? -1 : 0;
                x->balance = w->balance == -1 ? +1 : 0;
                w->balance = 0;
                above = w;
            } else {  // single left rotation
                y->link[1] = x->link[0];
                x->link[0] = y;
                above = x;
                if (x->balance == 0) {
                    x->balance = -1;  // y keeps +1; the height did not change
                    break;
                }
                x->balance = y->balance = 0;
            }
        } else {
            if (y->balance == +1) {
                y->balance = 0;
                continue;
            }
            if (y->balance == 0) {
                y->balance = -1;
                break;
            }
            Node* x = y->link[0];
            if (x->balance == +1) {  // double rotation through x's right child
                Node* w = x->link[1];
                x->link[1] = w->link[0];
                w->link[0] = x;
                y->link[0] = w->link[1];
                w->link[1] = y;
                y->balance = w->balance == -1 ? +1 : 0;
                x->balance = w->balance == +1 ? -1 : 0;
                w->balance = 0;
                above = w;
            } else {  // single right rotation
                y->link[0] = x->link[1];
                x->link[1] = y;
                above = x;
                if (x->balance == 0) {
                    x->balance = +1;  // y keeps -1; the height did not change
                    break;
                }
                x->balance = y->balance = 0;
            }
        }
    }
    return result;
}

template <typename Item>
template <typename Done>
void AvlIndex<Item>::PostOrder(Node* root, Done done) {
    Node* stack[kMaxHeight];
    bool rightEntered[kMaxHeight];  // per entry: its right subtree is under way
    int depth = 0;
    Node* node = root;
    for (;;) {
        for (; node != nullptr; node = node->link[0]) {
            assert(depth < kMaxHeight);
            stack[depth] = node;
            rightEntered[depth++] = false;
        }
        if (depth == 0) return;
        if (!rightEntered[depth - 1]) {
            rightEntered[depth - 1] = true;
            node = stack[depth - 1]->link[1];
            continue;
        }
        done(stack[--depth]);
    }
}

template <typename Item>
void AvlIndex<Item>::Clear(Visit callback) {
    count_ = 0;
    PostOrder(head_.link[0], [callback](Node* node) {
        if (callback != nullptr) {
            callback(ItemOf(node));
        } else {
            ReleaseItem(ItemOf(node));
        }
    });
    head_.link[0] = nullptr;
}

template <typename Item>
template <typename Take>
void AvlIndex<Item>::Drain(Take take) {
    Node* root = head_.link[0];
    head_.link[0] = nullptr;
    count_ = 0;
    // Post-order hands over a node only after its links were last read, so
    // `take` may re-link it at once.
    PostOrder(root, [&take](Node* node) { take(ItemOf(node)); });
}

template <typename Item>
void AvlIndex<Item>::Reorder(Compare compare) {
    scratch_ = head_;  // scratch_.link[0] holds the old tree
    count_ = 0;
    head_.link[0] = head_.link[1] = nullptr;
    compare_ = compare;
    // Post-order: a node's subtrees have moved to the new tree before the
    // node itself is re-linked there, so its old links are no longer needed.
    PostOrder(scratch_.link[0], [this](Node* node) {
        Item* item = ItemOf(node);
        if (Place(node, SameOrder{compare_, item}, false) != item) {
            ReleaseItem(item);  // equal to one placed before: keep the first
        }
    });
    scratch_.link[0] = nullptr;
}

template <typename Item>
template <typename Doomed>
std::int32_t AvlIndex<Item>::RemoveWhere(Doomed doomed) {
    // Ask about every item in order and mark the doomed ones. No link
    // changes during this walk. Removing the doomed one by one costs a path
    // each, so it is the cheaper way while marked * height < count; as long
    // as that can hold, the doomed are kept at hand: the first few on the
    // stack, more in a vector. Should the vector not grow, the rebuild below
    // needs no memory.
    constexpr std::int32_t kFew = 64;
    const auto height = static_cast<std::int32_t>(std::bit_width(static_cast<std::uint32_t>(count_)));
    Item* few[kFew];                 // the first doomed items
    std::unique_ptr<Item*[]> more;   // the doomed items after them
    std::int32_t moreCapacity = 0;
    bool listed = true;              // every doomed item so far is in few or more
    std::int32_t marked = 0;  // doomed items met
    Node* stack[kMaxHeight];  // ancestors whose items come later
    int depth = 0;
    for (Node* node = head_.link[0];;) {
        for (; node != nullptr; node = node->link[0]) {
            assert(depth < kMaxHeight);
            stack[depth++] = node;
            if (node->link[1] != nullptr) __builtin_prefetch(node->link[1]);
        }
        if (depth == 0) break;
        node = stack[--depth];
        node->doomed = doomed(static_cast<const Item*>(ItemOf(node))) ? 1 : 0;
        if (node->doomed != 0) {
            if (!listed || (marked + 1) * height >= count_) {
                listed = false;
            } else if (marked < kFew) {
                few[marked] = ItemOf(node);
            } else if (marked - kFew < moreCapacity || Grow(&more, &moreCapacity)) {
                more[marked - kFew] = ItemOf(node);
            } else {
                listed = false;
            }
            ++marked;
        }
        node = node->link[1];
    }
    if (marked == 0) return 0;

    if (listed) {
        for (std::int32_t i = 0; i < marked && i < kFew; ++i) ReleaseItem(Remove(few[i]));
        for (std::int32_t i = kFew; i < marked; ++i) ReleaseItem(Remove(more[i - kFew]));
        return marked;
    }
    // Many go: a balanced tree of the survivors is built in one more pass,
    // which is cheaper than rebalancing after every removal. The pass walks
    // the old tree in order, releasing the doomed and handing on the
    // survivors; a node's old links are read before it is handed on, and
    // the build sets a node's new links only after that.
    Node* root = head_.link[0];
    head_.link[0] = nullptr;
    depth = 0;
    Node* node = root;  // where the walk goes on
    BuildFrom(count_ - marked, [&]() {
        for (;;) {
            for (; node != nullptr; node = node->link[0]) {
                stack[depth++] = node;
                if (node->link[1] != nullptr) __builtin_prefetch(node->link[1]);
            }
            Node* taken = stack[--depth];
            node = taken->link[1];
            if (taken->doomed == 0) return taken;
            ReleaseItem(ItemOf(taken));
        }
    });
    // Doomed nodes after the last survivor are still to be released.
    while (node != nullptr || depth > 0) {
        for (; node != nullptr; node = node->link[0]) stack[depth++] = node;
        Node* taken = stack[--depth];
        node = taken->link[1];
        ReleaseItem(ItemOf(taken));
    }
    return marked;
}

template <typename Item>
void AvlIndex<Item>::Adopt(SortedRun<Item>* run) {
    assert(head_.link[0] == nullptr);
    Node* next = run->first_;
    BuildFrom(run->count_, [&next]() {
        Node* taken = next;
        next = next->link[1];
        return taken;
    });
    run->first_ = run->last_ = nullptr;
    run->count_ = 0;
}

template <typename Item>
template <typename Next>
void AvlIndex<Item>::BuildFrom(std::int32_t count, Next next) {
    // The tree of n nodes is the tree of the first (n-1)/2 as the left
    // subtree, the next node as the root, and the tree of the last n/2 as
    // the right subtree. Its height is bit_width(n), so every root's
    // balance is bit_width(n/2) - bit_width((n-1)/2), 0 or +1. The frames
    // stand for the recursion; nodes are taken from next() in order.
    struct Frame {
        std::int32_t size;  // nodes in this subtree
        int stage;          // 0: left next, 1: root next, 2: right done
        Node* root;
        Node* left;  // the finished left subtree
    };
    Frame frames[kMaxHeight];
    int depth = 0;
    Node* built = nullptr;   // the subtree finished last
    auto open = [&](std::int32_t size) {
        if (size == 0) {
            built = nullptr;
        } else {
            assert(depth < kMaxHeight);
            frames[depth++] = {size, 0, nullptr, nullptr};
        }
    };
    auto height = [](std::int32_t size) {
        return static_cast<int>(std::bit_width(static_cast<std::uint32_t>(size)));
    };
    open(count);
    while (depth > 0) {
        Frame& f = frames[depth - 1];
        if (f.stage == 0) {
            f.stage = 1;
            open((f.size - 1) / 2);
        } else if (f.stage == 1) {
            f.stage = 2;
            f.left = built;
            f.root = next();
            open(f.size / 2);
        } else {
            Node* root = f.root;
            root->link[0] = f.left;
            root->link[1] = built;
            root->balance = static_cast<std::int8_t>(height(f.size / 2) - height((f.size - 1) / 2));
            built = root;
            --depth;
        }
    }
    head_.link[0] = built;
    count_ = count;
}

template <typename Item>
Item* AvlIndex<Item>::NextItem() {
    Node* node;
    if (cursorActive_ == 0) {
        node = head_.link[0];
        cursorActive_ = 1;
        cursorDepth_ = 0;
    } else {
        node = cursorNode_->link[1];
    }
    for (; node != nullptr; node = node->link[0]) {
        assert(cursorDepth_ < kMaxHeight);
        cursorStack_[cursorDepth_++] = node;
        // Its right child comes after the whole left subtree: time enough
        // for it to arrive.
        if (node->link[1] != nullptr) __builtin_prefetch(node->link[1]);
    }
    if (cursorDepth_ == 0) {
        cursorActive_ = 0;
        cursorNode_ = nullptr;
        return nullptr;
    }
    cursorNode_ = cursorStack_[--cursorDepth_];
    return ItemOf(cursorNode_);
}

template <typename Item>
bool AvlIndex<Item>::Verify(std::string* problem) const {
    // Post-order over an explicit stack, computing each subtree's height and
    // checking the balance; then an in-order pass for the order.
    struct Frame {
        const Node* node;
        int stage;  // 0: left next, 1: right next, 2: both done
        int leftHeight;
        int rightHeight;
    };
    std::vector<Frame> stack;
    std::int64_t nodes = 0;
    if (head_.link[0] != nullptr) stack.push_back({head_.link[0], 0, 0, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.stage < 2) {
            const Node* child = f.node->link[f.stage++];
            if (child != nullptr) {
                if (stack.size() >= static_cast<std::size_t>(kMaxHeight)) {
                    *problem = "tree deeper than the stacks allow";
                    return false;
                }
                stack.push_back({child, 0, 0, 0});
            }
            continue;
        }
        ++nodes;
        int difference = f.rightHeight - f.leftHeight;
        if (difference < -1 || difference > 1 || difference != f.node->balance) {
            *problem = "node with balance " + std::to_string(f.node->balance) + " has heights " +
                       std::to_string(f.leftHeight) + " (left) and " +
                       std::to_string(f.rightHeight) + " (right)";
            return false;
        }
        int height = 1 + (f.leftHeight > f.rightHeight ? f.leftHeight : f.rightHeight);
        stack.pop_back();
        if (!stack.empty()) {
            // The parent's stage tells which of its subtrees this was.
            Frame& parent = stack.back();
            (parent.stage == 1 ? parent.leftHeight : parent.rightHeight) = height;
        }
    }
    if (nodes != count_) {
        *problem = "count is " + std::to_string(count_) + " but the tree holds " +
                   std::to_string(nodes) + " nodes";
        return false;
    }

    std::vector<const Node*> path;
    const Node* node = head_.link[0];
    const Item* previous = nullptr;
    while (node != nullptr || !path.empty()) {
        for (; node != nullptr; node = node->link[0]) path.push_back(node);
        node = path.back();
        path.pop_back();
        if (previous != nullptr && compare_(previous, ItemOf(const_cast<Node*>(node))) >= 0) {
            *problem = "items out of order";
            return false;
        }
        previous = ItemOf(const_cast<Node*>(node));
        node = node->link[1];
    }
    return true;
}

}  // namespace lastspot::index
