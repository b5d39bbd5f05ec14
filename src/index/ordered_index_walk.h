// OrderedIndex: walking the items in ascending order, along the leaf chain.
// Part of ordered_index.h, which includes it.
#pragma once

namespace lastspot::index {

template <typename Item, typename Order>
OrderedIndex<Item, Order>::ReadAhead::ReadAhead(const Leaf* first) : leaf_(first) {
    Order::Prefetch(leaf_->item[0]);
    for (int i = 0; i < kDistance; ++i) Advance();
}

template <typename Item, typename Order>
void OrderedIndex<Item, Order>::ReadAhead::Advance() {
    if (leaf_ == nullptr) return;
    if (++slot_ == leaf_->count) {
        leaf_ = leaf_->next;
        slot_ = 0;
        // The leaf after is asked for a leaf ahead of the items.
        if (leaf_ != nullptr && leaf_->next != nullptr) __builtin_prefetch(leaf_->next);
    }
    if (leaf_ != nullptr) Order::Prefetch(leaf_->item[slot_]);
}

template <typename Item, typename Order>
template <typename Visit>
bool OrderedIndex<Item, Order>::ForEach(Visit visit) const {
    if (count_ == 0) return true;
    ReadAhead ahead(first_);
    for (const Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
        for (int slot = 0; slot < leaf->count; ++slot) {
            ahead.Advance();
            if (!visit(leaf->item[slot])) return false;
        }
    }
    return true;
}

template <typename Item, typename Order>
Item* OrderedIndex<Item, Order>::NextItem() {
    if (!cursorActive_) {
        cursorActive_ = true;
        cursorLeaf_ = first_;
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

}  // namespace lastspot::index
