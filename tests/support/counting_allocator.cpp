#include "support/counting_allocator.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace lastspot::testing {
namespace {

AllocationCounts counts;
bool counting = true;
long allocationsUntilFailure = -1;  // negative: no failure armed
std::int64_t liveBytes = 0;

// Each block carries its size in front, in a header that keeps the block
// as aligned as malloc's.
constexpr std::size_t kHeader = 16;

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
    void* block = std::malloc(kHeader + size);
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    liveBytes += static_cast<std::int64_t>(size);
    return static_cast<char*>(block) + kHeader;
}

void Release(void* block) noexcept {
    if (block == nullptr) return;
    if (counting) --counts.live;
    char* start = static_cast<char*>(block) - kHeader;
    std::size_t size;
    std::memcpy(&size, start, sizeof size);
    liveBytes -= static_cast<std::int64_t>(size);
    std::free(start);
}

}  // namespace

AllocationCounts& Allocations() { return counts; }
std::int64_t LiveBytes() { return liveBytes; }
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
