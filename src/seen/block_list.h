// Values in order, in blocks of 64 KiB: a list that grows without ever
// copying itself or asking for more than one block at a time, so it can
// grow large in a 32-bit process's scattered address space.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace lastspot::seen {

template <typename Value>
class BlockList {
    struct Block {
        static constexpr std::size_t kValues = (64 * 1024 - sizeof(void*) - sizeof(std::size_t)) /
                                               sizeof(Value[1]);
        Block* next;
        std::size_t count;
        Value value[kValues];
    };

public:
    BlockList() = default;
    ~BlockList() { Clear(); }
    BlockList(const BlockList&) = delete;
    BlockList& operator=(const BlockList&) = delete;

    // Throws std::bad_alloc, with the list as it was.
    void Append(Value value) {
        if (last_ == nullptr || last_->count == Block::kValues) {
            auto* block = static_cast<Block*>(::operator new(sizeof(Block)));
            block->next = nullptr;
            block->count = 0;
            (last_ == nullptr ? first_ : last_->next) = block;
            last_ = block;
        }
        last_->value[last_->count++] = value;
    }

    void Clear() {
        while (first_ != nullptr) ::operator delete(std::exchange(first_, first_->next));
        last_ = nullptr;
    }

    // Hands the values out in order, one per Next; no more than were
    // appended.
    class Reader {
    public:
        explicit Reader(const BlockList& list) : block_(list.first_) {}
        Value Next() {
            if (at_ == block_->count) {
                block_ = block_->next;
                at_ = 0;
            }
            return block_->value[at_++];
        }

    private:
        const Block* block_;
        std::size_t at_ = 0;
    };

private:
    Block* first_ = nullptr;
    Block* last_ = nullptr;
};

}  // namespace lastspot::seen
