// The hash table's chunk tags and the two ways every operation moves
// through them: the probe sequence (which chunks, in which order) and the
// candidate mask (which slots of a chunk may hold a tag).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lastspot::index {

// The tags of one chunk of seven slots, one 64-bit word.
//   tag[s]    0 when slot s is empty, else 0x80 | the low seven bits of its
//             item's hash: an empty slot and a full one never look alike,
//             and a lookup passes over six of seven other items' slots
//             without reading them.
//   overflow  how many items whose probe began at an earlier chunk passed
//             this one because it was full when they came (255: at least
//             that many; a saturated count stays until the table is
//             rebuilt). A probe goes on past a chunk only while its count
//             is not 0, so a lookup of an absent key mostly ends at its
//             home chunk, and removing an item leaves nothing behind but
//             lower counts.
struct ChunkTags {
    static constexpr int kSlots = 7;
    std::uint8_t tag[kSlots];
    std::uint8_t overflow;
};
static_assert(sizeof(ChunkTags) == 8, "a chunk's tags are one word");
static_assert(std::endian::native == std::endian::little, "tags are matched a word at a time");

// The tag a hash gives its slot.
inline std::uint8_t TagOf(std::uint64_t hash) { return static_cast<std::uint8_t>(0x80 | (hash & 0x7F)); }

// The slots of a chunk whose tag may be `tag`, lowest first, found for all
// seven at once: each byte of the word that equals the tag becomes zero
// under XOR, and the classic test for a zero byte, (x - 0x01..01) & ~x &
// 0x80..80, marks it. The marks are exact up to the lowest zero byte; above
// one, the borrow of the subtraction can also mark a byte that was 0x01,
// that is a slot whose tag differs from the wanted one in bit 0 alone:
//
//   tag 0x85; slots 0 and 1 hold 0x85 and 0x84
//   x     = .. 01 00      (0x85 ^ 0x85, 0x84 ^ 0x85)
//   x - 1 = .. FF FF      (byte 0 borrows from byte 1)
//   & ~x  = .. FE FF, & 0x80..80 = .. 80 80: slot 1 is marked too
//
// So a candidate is never missed but may be false: every caller compares
// the slot's tag before it trusts one. The overflow byte is never marked.
class TagCandidates {
public:
    TagCandidates(const ChunkTags& tags, std::uint8_t tag) {
        std::uint64_t word;
        std::memcpy(&word, &tags, sizeof word);
        std::uint64_t x = word ^ (kBytes * tag);
        bits_ = (x - kBytes) & ~x & 0x0080808080808080u;
    }
    class Iterator {
    public:
        explicit Iterator(std::uint64_t bits) : bits_(bits) {}
        int operator*() const { return std::countr_zero(bits_) >> 3; }
        Iterator& operator++() {
            bits_ &= bits_ - 1;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return bits_ != other.bits_; }

    private:
        std::uint64_t bits_;
    };
    Iterator begin() const { return Iterator(bits_); }
    Iterator end() const { return Iterator(0); }

private:
    static constexpr std::uint64_t kBytes = 0x0101010101010101u;
    std::uint64_t bits_;  // bit 8 * s + 7 for each candidate slot s
};

// The chunks a hash's probe visits in a table of `chunks` chunks (a power of
// two): its home chunk, from bits 7 and up of the hash (bits 0-6 make the
// tag), then each following chunk, wrapping at the end. Lookups, insertions,
// removals and the check all go this way, so an item is always where a
// lookup of its hash finds it.
class ProbeSeq {
public:
    ProbeSeq(std::uint64_t hash, std::size_t chunks)
        : mask_(chunks - 1), chunk_(static_cast<std::size_t>(hash >> 7) & mask_) {}
    std::size_t Chunk() const { return chunk_; }
    void Next() { chunk_ = (chunk_ + 1) & mask_; }

private:
    std::size_t mask_;
    std::size_t chunk_;
};

}  // namespace lastspot::index
