// Where one table's records live: blocks of the general free store that the
// table owns, filled one record after the other and given back all at once
// when the table is cleared, reloaded or released. A table of a million
// records is a few thousand blocks, not a million allocations, so it goes in
// a few thousand calls, and its records carry no allocator header.
//
// A record that goes leaves a hole, which a later record of the same size
// (rounded to 8 bytes) takes. Holes are not merged, so a table whose record
// sizes shift for good can hold more than it needs; the bulk commands pack
// such a table again (see SeenIndex). Records larger than kLargest bytes
// get a block of their own, given back when the record goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lastspot::seen {

class RecordHeap {
public:
    static constexpr std::size_t kGranule = 8;
    static constexpr std::size_t kLargest = 1024;
    static constexpr std::size_t kFirstBlock = 1024;
    static constexpr std::size_t kLastBlock = 64 * 1024;

    RecordHeap() = default;
    ~RecordHeap() { ReleaseAll(); }
    RecordHeap(const RecordHeap&) = delete;
    RecordHeap& operator=(const RecordHeap&) = delete;

    // Room for `bytes` bytes, 8-aligned. Throws std::bad_alloc, with
    // nothing changed, when memory runs out.
    void* Allocate(std::size_t bytes);

    // Gives back what Allocate(bytes) gave.
    void Free(void* room, std::size_t bytes);

    // Gives back every block; every record is gone.
    void ReleaseAll();

    // Makes sure records of `bytes` bytes in all, none larger than
    // kLargest, can be had without asking the free store; false (having
    // asked for nothing that stays) when memory runs out.
    bool Reserve(std::size_t bytes);

    // Takes a record larger than kLargest over from `from`, where it stays
    // at its address.
    void Adopt(void* room, RecordHeap* from);

    // Bytes handed out and not given back, as rounded; bytes held in all.
    std::size_t LiveBytes() const { return live_; }
    std::size_t HeldBytes() const { return held_; }

    // Takes over everything `other` holds (which is left empty).
    void Swap(RecordHeap* other);

    // Checks the books: every record inside a block, every hole inside a
    // block and of its list's size, and the records, holes and the rest
    // adding up to what the blocks hold. `forEachRecord(visit)` calls
    // visit(start, bytes) for each record the table holds. On failure
    // `*problem` says what is wrong. Defined in record_heap_checks.h.
    template <typename ForEachRecord>
    bool Verify(ForEachRecord forEachRecord, std::string* problem) const;

    static std::size_t Rounded(std::size_t bytes) { return (bytes + kGranule - 1) & ~(kGranule - 1); }

private:
    // A hole: the next hole of its size.
    struct Hole {
        Hole* next;
    };
    // Every block, chained; a large record's block also knows the one
    // before it, so it can leave the chain when its record goes.
    struct Block {
        Block* next;
        Block* previous;
        std::size_t bytes;  // the block's size, this header included
    };
    static constexpr std::size_t kHeader = (sizeof(Block) + kGranule - 1) & ~(kGranule - 1);
    static constexpr std::size_t kClasses = kLargest / kGranule + 1;
    class BlockRanges;  // for the check

    void AddHole(char* at, std::size_t bytes);
    void FreeSpares();
    void Link(Block* block);
    void Unlink(Block* block);

    Hole* holes_[kClasses] = {};  // by size / kGranule
    Block* blocks_ = nullptr;     // every block, small and large
    Block* spare_ = nullptr;      // reserved blocks, of kLastBlock bytes, not yet in use
    char* free_ = nullptr;        // the unused end of the newest small block
    char* end_ = nullptr;
    std::size_t nextBlock_ = kFirstBlock;
    std::size_t live_ = 0;
    std::size_t held_ = 0;
    std::size_t lost_ = 0;  // rests of blocks too small to be holes
};

}  // namespace lastspot::seen
