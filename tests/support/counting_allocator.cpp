#include "support/counting_allocator.h"

#include <cstdlib>
#include <new>

namespace lastspot::testing {
namespace {

AllocationCounts counts;
bool counting = true;
long allocationsUntilFailure = -1;  // negative: no failure armed

void* Allocate(std::size_t size) {
    if (counting) {
        if (allocationsUntilFailure == 0) {
            allocationsUntilFailure = -1;
            throw std::bad_alloc();
        }
        if (allocationsUntilFailure > 0) --allocationsUntilFailure;
        ++counts.live;
        ++counts.made;
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void Release(void* block) noexcept {
    if (block == nullptr) return;
    if (counting) --counts.live;
    std::free(block);
}

}  // namespace

AllocationCounts& Allocations() { return counts; }
void SetCounting(bool on) { counting = on; }
void FailAllocationAfter(long passing) { allocationsUntilFailure = passing < 0 ? -1 : passing; }
bool AllocationFailureArmed() { return allocationsUntilFailure >= 0; }

bool AllocationsAreCounted() {
    std::int64_t before = counts.made;
    bool was = counting;
    counting = true;
    ::operator delete(::operator new(1));
    counting = was;
    return counts.made != before;
}

}  // namespace lastspot::testing

// Kept out of line: inlined into a caller, GCC would pair the free() in
// them with the caller's operator new and warn about a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) { return lastspot::testing::Allocate(size); }
[[gnu::noinline]] void* operator new[](std::size_t size) { return lastspot::testing::Allocate(size); }
[[gnu::noinline]] void operator delete(void* block) noexcept { lastspot::testing::Release(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { lastspot::testing::Release(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    lastspot::testing::Release(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept {
    lastspot::testing::Release(block);
}
