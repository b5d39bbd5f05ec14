// The ordered index behind every seen table: an AVL tree of item pointers,
// ordered by a comparison that can be exchanged at run time, with one
// cursor built in for walking the items in order.
//
// The index owns the items stored in it. It never looks inside an item
// except through the comparison and the item's release, `ReleaseItem(Item*)`,
// which is found by argument-dependent lookup beside the item type (for seen
// records, the record's release). Nothing recurses: insertion re-walks its
// path through each node's `direction`, removal keeps its path on a local
// stack, and the post-order visits and the cursor keep explicit stacks.
//
// Every stack holds kMaxHeight nodes. An AVL tree of height 64 needs more
// than 10^13 nodes, far beyond any memory, so no stack can overflow.
//
// Walks: ResetCursor, then NextItem until it returns nullptr (or stop early).
// While a walk is in progress nothing may modify the walked index; the
// cursor holds pointers to nodes. Each index has one cursor.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

namespace lastspot::index {

inline constexpr int kMaxHeight = 64;

template <typename Item>
struct AvlNode {
    AvlNode* link[2];       // [0] items that sort lower, [1] items that sort higher
    std::int8_t balance;    // right height minus left height: -1, 0 or +1
    std::uint8_t direction; // the way the latest Insert went down from here
    Item* item;
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
        head_.item = nullptr;
        scratch_ = head_;
    }

    // Releases every item still stored.
    virtual ~AvlIndex() { Clear(); }

    AvlIndex(const AvlIndex&) = delete;
    AvlIndex& operator=(const AvlIndex&) = delete;

    // Stores `item` unless an item with the same key is there already.
    // Returns `item` when it was stored (the index owns it from then on),
    // otherwise the stored item with the same key; then nothing changed and
    // `item` is still the caller's. Throws std::bad_alloc, with nothing
    // changed, when no node can be allocated.
    Item* Insert(Item* item) { return InsertNode(item, nullptr); }

    // The stored item with the probe's key, or nullptr.
    Item* Find(const Item* probe) const;

    // Takes the item with the probe's key out of the index and returns it
    // (the caller owns and releases it), or returns nullptr with nothing
    // changed.
    Item* Remove(const Item* probe);

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
    using Node = AvlNode<Item>;

    // Insert's work; `spare` is a node to reuse for the item (Reorder's old
    // node) or nullptr to allocate one.
    Item* InsertNode(Item* item, Node* spare);

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
Item* AvlIndex<Item>::InsertNode(Item* item, Node* spare) {
    auto newNode = [&]() {
        Node* n = spare != nullptr ? spare : new Node;
        n->link[0] = n->link[1] = nullptr;
        n->balance = 0;
        n->item = item;
        return n;
    };

    if (head_.link[0] == nullptr) {
        head_.link[0] = newNode();
        ++count_;
        return item;
    }

    // Search, remembering s, the deepest node on the path whose balance is
    // not 0 (the only place a rotation can be needed), and t, its parent.
    // Each node records the way taken, so the balance update below re-walks
    // the path without comparing again.
    Node* t = &head_;
    Node* s = head_.link[0];
    Node* p = s;
    Node* n;  // the new node
    for (;;) {
        int order = compare_(item, p->item);
        if (order == 0) {
            if (spare != nullptr) {
                // Reorder met two equal items: keep the first.
                ReleaseItem(item);
                delete spare;
            }
            return p->item;
        }
        p->direction = order > 0 ? 1 : 0;
        Node* next = p->link[p->direction];
        if (next == nullptr) {
            n = newNode();
            p->link[p->direction] = n;
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
            return item;
        }
        if (s->balance == +1) {
            s->balance = 0;
            return item;
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
            return item;
        }
        if (s->balance == -1) {
            s->balance = 0;
            return item;
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
    return item;
}

template <typename Item>
Item* AvlIndex<Item>::Find(const Item* probe) const {
    Node* p = head_.link[0];
    while (p != nullptr) {
        int order = compare_(probe, p->item);
        if (order == 0) return p->item;
        p = p->link[order > 0 ? 1 : 0];
    }
    return nullptr;
}

template <typename Item>
Item* AvlIndex<Item>::Remove(const Item* probe) {
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
        int order = compare_(probe, p->item);
        if (order == 0) break;
        assert(k <= kMaxHeight);
        path[k] = p;
        side[k++] = order > 0 ? 1 : 0;
        p = p->link[order > 0 ? 1 : 0];
    }
    --count_;
    Item* result = p->item;
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
    delete p;

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
            callback(node->item);
        } else if (node->item != nullptr) {
            ReleaseItem(node->item);
        }
        delete node;
    });
    head_.link[0] = nullptr;
}

template <typename Item>
void AvlIndex<Item>::Reorder(Compare compare) {
    scratch_ = head_;  // scratch_.link[0] holds the old tree
    count_ = 0;
    head_.link[0] = head_.link[1] = nullptr;
    compare_ = compare;
    // Post-order: a node's subtrees have moved to the new tree before the
    // node itself is re-linked there, so its old links are no longer needed.
    PostOrder(scratch_.link[0], [this](Node* node) { InsertNode(node->item, node); });
    scratch_.link[0] = nullptr;
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
    }
    if (cursorDepth_ == 0) {
        cursorActive_ = 0;
        cursorNode_ = nullptr;
        return nullptr;
    }
    cursorNode_ = cursorStack_[--cursorDepth_];
    return cursorNode_->item;
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
        if (previous != nullptr && compare_(previous, node->item) >= 0) {
            *problem = "items out of order";
            return false;
        }
        previous = node->item;
        node = node->link[1];
    }
    return true;
}

}  // namespace lastspot::index
