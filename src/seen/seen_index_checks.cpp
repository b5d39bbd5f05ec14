// The invariant checks of a table's store: its two indexes, that they hold
// the same records, and its heap's books. For tests and the verify build;
// in a file of their own, so that a library that never calls them (the
// shipped one) does not carry them, nor what they use of the standard
// library.
#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <memory>

#include "index/check_text.h"
#include "seen/record_heap.h"
#include "seen/seen_record.h"

namespace lastspot::seen {

template <typename ForEachRecord>
bool RecordHeap::Verify(ForEachRecord forEachRecord, std::string* problem) const {
    // The blocks by address, to place each record and hole in one: on the
    // stack for the few blocks of the small tables a checked build verifies
    // after every command.
    struct Range {  // no initializers: the array on the stack is filled before it is read
        const char* first;
        const char* second;
    };
    std::size_t blockCount = 0;
    for (const Block* block = blocks_; block != nullptr; block = block->next) ++blockCount;
    Range onStack[64];
    std::unique_ptr<Range[]> onHeap;
    if (blockCount > 64) onHeap.reset(new Range[blockCount]);
    Range* ranges = onHeap != nullptr ? onHeap.get() : onStack;
    std::size_t filled = 0, held = 0, unusable = 0;
    for (const Block* block = blocks_; block != nullptr; block = block->next) {
        const char* start = reinterpret_cast<const char*>(block);
        ranges[filled++] = {start + kHeader, start + block->bytes};
        held += block->bytes;
        unusable += kHeader;
        if (block->bytes < 2 * kGranule + kHeader) return (*problem = "a block too small", false);
    }
    if (held != held_) return (*problem = "the blocks' sizes do not add up", false);
    std::sort(ranges, ranges + filled, [](const Range& a, const Range& b) { return a.first < b.first; });
    auto inside = [ranges, filled](const char* at, std::size_t bytes) {
        const Range* after = std::upper_bound(ranges, ranges + filled, at,
                                              [](const char* a, const Range& range) { return a < range.first; });
        return after != ranges && at >= (after - 1)->first && at + bytes <= (after - 1)->second;
    };
    std::size_t live = 0;
    bool outside = false;
    forEachRecord([&](const void* record, std::size_t bytes) {
        live += Rounded(bytes);
        if (!inside(static_cast<const char*>(record), Rounded(bytes))) outside = true;
    });
    if (outside) return (*problem = "a record outside every block", false);
    if (live != live_) {
        *problem = "the records take " + index::Decimal(static_cast<std::int64_t>(live)) +
                   " bytes, the heap counts " + index::Decimal(static_cast<std::int64_t>(live_));
        return false;
    }
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

bool SeenIndex::Verify(std::string* problem) const {
    if (!order_.Verify(problem)) {
        *problem = "nick order: " + *problem;
        return false;
    }
    auto everyRecord = [this](auto visit) {
        order_.ForEach([&](const SeenRecord* record) {
            visit(record);
            return true;
        });
    };
    if (!hash_.Verify(everyRecord, problem)) {
        *problem = "nick hash: " + *problem;
        return false;
    }
    auto recordRooms = [&everyRecord](auto visit) {
        everyRecord([&visit](const SeenRecord* record) { visit(record, RecordBytes(*record)); });
    };
    if (!heap_.Verify(recordRooms, problem)) {
        *problem = "record heap: " + *problem;
        return false;
    }
    return true;
}


}  // namespace lastspot::seen
