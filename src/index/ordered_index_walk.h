// OrderedIndex: walking the items in ascending order, along the leaf chain.
// Part of ordered_index.h, which includes it.
#pragma once

namespace lastspot::index {

template <typename Item, typename Order>
template <typename Ask>
OrderedIndex<Item, Order>::ReadAhead<Ask>::ReadAhead(const Leaf* first, Ask ask) : leaf_(first), ask_(ask) {
    ask_(leaf_->item[0]);
    for (int i = 0; i < kDistance; ++i) Advance();
}

template <typename Item, typename Order>
template <typename Ask>
void OrderedIndex<Item, Order>::ReadAhead<Ask>::Advance() {
    if (leaf_ == nullptr) return;
    if (++slot_ == leaf_->count) {
        leaf_ = leaf_->next;
        slot_ = 0;
        // The leaf after is asked for a leaf ahead of the items.
        if (leaf_ != nullptr && leaf_->next != nullptr) __builtin_prefetch(leaf_->next);
    }
    if (leaf_ != nullptr) ask_(leaf_->item[slot_]);
}

template <typename Item, typename Order>
template <typename Visit, typename Ask>
bool OrderedIndex<Item, Order>::ForEach(Visit visit, Ask ask) const {
    if (count_ == 0) return true;
    ReadAhead<Ask> ahead(first_, ask);
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
