// RecordHeap's invariant check, for tests and the verify build: defined
// here, apart from the heap's everyday code, so that a library that never
// calls it (the shipped one) does not carry it. Included by the store's
// checks.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "index/check_text.h"
#include "seen/record_heap.h"

namespace lastspot::seen {

// The heap's blocks by address, to place each record and hole in one: on
// the stack for the few blocks of the small tables a checked build verifies
// after every command.
class RecordHeap::BlockRanges {
public:
    explicit BlockRanges(const RecordHeap& heap) {
        std::size_t blocks = 0;
        for (const Block* block = heap.blocks_; block != nullptr; block = block->next) ++blocks;
        if (blocks > kOnStack) onHeap_.reset(new Range[blocks]);
        ranges_ = onHeap_ != nullptr ? onHeap_.get() : onStack_;
        for (const Block* block = heap.blocks_; block != nullptr; block = block->next) {
            const char* start = reinterpret_cast<const char*>(block);
            ranges_[count_++] = {start + kHeader, start + block->bytes};
        }
        std::sort(ranges_, ranges_ + count_,
                  [](const Range& a, const Range& b) { return a.first < b.first; });
    }

    // Whether `bytes` bytes at `at` lie inside one block's room.
    bool Inside(const void* at, std::size_t bytes) const {
        const char* start = static_cast<const char*>(at);
        const Range* after =
            std::upper_bound(ranges_, ranges_ + count_, start,
                             [](const char* a, const Range& range) { return a < range.first; });
        return after != ranges_ && start >= (after - 1)->first && start + bytes <= (after - 1)->second;
    }

private:
    static constexpr std::size_t kOnStack = 64;
    struct Range {  // no initializers: the array on the stack is filled before it is read
        const char* first;
        const char* second;
    };
    Range onStack_[kOnStack];
    std::unique_ptr<Range[]> onHeap_;
    Range* ranges_;
    std::size_t count_ = 0;
};

template <typename ForEachRecord>
bool RecordHeap::Verify(ForEachRecord forEachRecord, std::string* problem) const {
    auto fail = [problem](const std::string& what) { return index::Failed(problem, what); };
    std::size_t held = 0, headers = 0;
    for (const Block* block = blocks_; block != nullptr; block = block->next) {
        if (block->bytes < 2 * kGranule + kHeader) return fail("a block too small");
        held += block->bytes;
        headers += kHeader;
    }
    if (held != held_) return fail("the blocks' sizes do not add up");
    BlockRanges blocks(*this);
    std::size_t live = 0;
    bool outside = false;
    forEachRecord([&](const void* record, std::size_t bytes) {
        live += Rounded(bytes);
        outside = outside || !blocks.Inside(record, Rounded(bytes));
    });
    if (outside) return fail("a record outside every block");
    if (live != live_) {
        return fail("the records take " + index::Decimal(static_cast<std::int64_t>(live)) +
                    " bytes, the heap counts " + index::Decimal(static_cast<std::int64_t>(live_)));
    }
    std::size_t holes = 0;
    for (std::size_t size = 0; size < kClasses; ++size) {
        for (const Hole* hole = holes_[size]; hole != nullptr; hole = hole->next) {
            if (!blocks.Inside(hole, size * kGranule)) return fail("a hole outside every block");
            holes += size * kGranule;
        }
    }
    // Every byte is a header, live, a hole, the unused end, or a rest too
    // small to be a hole.
    if (headers + live_ + holes + static_cast<std::size_t>(end_ - free_) + lost_ != held) {
        return fail("the heap's bytes do not add up");
    }
    return true;
}

}  // namespace lastspot::seen
