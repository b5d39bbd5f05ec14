#include "seen/record_heap.h"

#include <cassert>
#include <new>
#include <utility>


namespace lastspot::seen {

void RecordHeap::Link(Block* block) {
    block->previous = nullptr;
    block->next = blocks_;
    if (blocks_ != nullptr) blocks_->previous = block;
    blocks_ = block;
    held_ += block->bytes;
}

void RecordHeap::Unlink(Block* block) {
    (block->previous == nullptr ? blocks_ : block->previous->next) = block->next;
    if (block->next != nullptr) block->next->previous = block->previous;
    held_ -= block->bytes;
}

void RecordHeap::AddHole(char* at, std::size_t bytes) {
    // Too small a rest for a record (every record takes at least 16 bytes)
    // stays unused until the heap goes.
    if (bytes < 2 * kGranule) {
        lost_ += bytes;
        return;
    }
    auto* hole = reinterpret_cast<Hole*>(at);
    hole->next = holes_[bytes / kGranule];
    holes_[bytes / kGranule] = hole;
}

void* RecordHeap::Allocate(std::size_t bytes) {
    bytes = Rounded(bytes);
    if (bytes > kLargest) {
        auto* block = static_cast<Block*>(::operator new(kHeader + bytes));
        block->bytes = kHeader + bytes;
        Link(block);
        live_ += bytes;
        return reinterpret_cast<char*>(block) + kHeader;
    }
    if (Hole* hole = holes_[bytes / kGranule]) {
        holes_[bytes / kGranule] = hole->next;
        live_ += bytes;
        return hole;
    }
    if (static_cast<std::size_t>(end_ - free_) < bytes) {
        // A new block (a reserved one first), larger than the last until
        // the largest size: a small table takes little, a large one few
        // blocks. What the old block has left becomes a hole.
        Block* block = spare_;
        if (block != nullptr) {
            spare_ = block->next;
        } else {
            // Never smaller than the largest record it may be asked for.
            std::size_t size = nextBlock_ < kHeader + kLargest ? kHeader + kLargest : nextBlock_;
            block = static_cast<Block*>(::operator new(size));
            block->bytes = size;
        }
        std::size_t size = block->bytes;
        Link(block);
        AddHole(free_, static_cast<std::size_t>(end_ - free_));
        free_ = reinterpret_cast<char*>(block) + kHeader;
        end_ = reinterpret_cast<char*>(block) + size;
        if (nextBlock_ < kLastBlock) nextBlock_ *= 2;
    }
    void* room = free_;
    free_ += bytes;
    live_ += bytes;
    return room;
}

void RecordHeap::Free(void* room, std::size_t bytes) {
    bytes = Rounded(bytes);
    live_ -= bytes;
    if (bytes > kLargest) {
        auto* block = reinterpret_cast<Block*>(static_cast<char*>(room) - kHeader);
        Unlink(block);
        ::operator delete(block);
        return;
    }
    AddHole(static_cast<char*>(room), bytes);
}

bool RecordHeap::Reserve(std::size_t bytes) {
    // A block of the largest size holds its bytes less a rest smaller than
    // the largest record.
    constexpr std::size_t kUsable = kLastBlock - kHeader - kLargest;
    std::size_t have = static_cast<std::size_t>(end_ - free_);
    for (const Block* block = spare_; block != nullptr; block = block->next) have += kUsable;
    try {
        while (have < bytes) {
            auto* block = static_cast<Block*>(::operator new(kLastBlock));
            block->bytes = kLastBlock;
            block->next = spare_;
            spare_ = block;
            have += kUsable;
        }
    } catch (const std::bad_alloc&) {
        FreeSpares();
        return false;
    }
    return true;
}

void RecordHeap::FreeSpares() {
    while (Block* block = spare_) {
        spare_ = block->next;
        ::operator delete(block);
    }
}

void RecordHeap::Adopt(void* room, RecordHeap* from) {
    auto* block = reinterpret_cast<Block*>(static_cast<char*>(room) - kHeader);
    from->Unlink(block);
    from->live_ -= block->bytes - kHeader;
    Link(block);
    live_ += block->bytes - kHeader;
}

void RecordHeap::ReleaseAll() {
    while (Block* block = blocks_) {
        blocks_ = block->next;
        ::operator delete(block);
    }
    FreeSpares();
    for (Hole*& list : holes_) list = nullptr;
    free_ = end_ = nullptr;
    nextBlock_ = kFirstBlock;
    live_ = held_ = lost_ = 0;
}

void RecordHeap::Swap(RecordHeap* other) {
    std::swap(holes_, other->holes_);
    std::swap(blocks_, other->blocks_);
    std::swap(spare_, other->spare_);
    std::swap(free_, other->free_);
    std::swap(end_, other->end_);
    std::swap(nextBlock_, other->nextBlock_);
    std::swap(live_, other->live_);
    std::swap(held_, other->held_);
    std::swap(lost_, other->lost_);
}


}  // namespace lastspot::seen
