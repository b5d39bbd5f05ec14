#include <sys/mman.h>
#include <unistd.h>

#include "hardening/guarded_memory.h"

namespace lastspot::testing {

bool MapGuardedArea(GuardedArea* area) {
    area->page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* pages = mmap(nullptr, 2 * area->page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return false;
    area->base = static_cast<char*>(pages);
    return mprotect(area->base + area->page, area->page, PROT_NONE) == 0;
}

void UnmapGuardedArea(GuardedArea* area) {
    if (area->base != nullptr) munmap(area->base, 2 * area->page);
    area->base = nullptr;
}

}  // namespace lastspot::testing
