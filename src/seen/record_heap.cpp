#include "seen/record_heap.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>
#include <new>
#include <utility>

#include "index/check_text.h"

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
            block = static_cast<Block*>(::operator new(nextBlock_));
            block->bytes = nextBlock_;
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

bool RecordHeap::Verify(std::size_t live, std::string* problem) const {
    if (live != live_) {
        *problem = "the records take " + index::Decimal(static_cast<std::int64_t>(live)) +
                   " bytes, the heap counts " + index::Decimal(static_cast<std::int64_t>(live_));
        return false;
    }
    // The blocks by address, to place each hole in one.
    std::vector<std::pair<const char*, const char*>> ranges;
    for (const Block* block = blocks_; block != nullptr; block = block->next) {
        const char* start = reinterpret_cast<const char*>(block);
        ranges.emplace_back(start + kHeader, start + block->bytes);
    }
    std::sort(ranges.begin(), ranges.end());
    auto inside = [&ranges](const char* at, std::size_t bytes) {
        auto after = std::upper_bound(ranges.begin(), ranges.end(), at,
                                      [](const char* a, const auto& range) { return a < range.first; });
        return after != ranges.begin() && at >= std::prev(after)->first && at + bytes <= std::prev(after)->second;
    };
    std::size_t held = 0, unusable = 0;
    for (const Block* block = blocks_; block != nullptr; block = block->next) {
        held += block->bytes;
        if (block->bytes < 2 * kGranule + kHeader) return (*problem = "a block too small", false);
        unusable += kHeader;
    }
    if (held != held_) return (*problem = "the blocks' sizes do not add up", false);
    std::size_t holes = 0;
    for (std::size_t size = 0; size < kClasses; ++size) {
        for (const Hole* hole = holes_[size]; hole != nullptr; hole = hole->next) {
            if (!inside(reinterpret_cast<const char*>(hole), size * kGranule)) {
                return (*problem = "a hole outside every block", false);
            }
            holes += size * kGranule;
        }
    }
    // Every byte is a header, live, a hole, the unused end, or a rest too
    // small to be a hole.
    if (unusable + live_ + holes + static_cast<std::size_t>(end_ - free_) + lost_ != held) {
        *problem = "the heap's bytes do not add up";
        return false;
    }
    return true;
}

}  // namespace lastspot::seen
