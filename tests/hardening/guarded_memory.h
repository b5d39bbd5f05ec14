// Memory that ends right where an unreadable page begins, so that reading or
// writing one byte past it crashes the program at once. Made with the
// system's own page protection: mmap on POSIX systems, VirtualAlloc on
// Windows (guarded_memory_posix.cpp, guarded_memory_windows.cpp).
#pragma once

#include <cstddef>

namespace lastspot::testing {

// Two pages, the second of which may be neither read nor written.
struct GuardedArea {
    char* base = nullptr;
    std::size_t page = 0;
};

// Reserves the two pages and protects the second; false when the system
// refuses.
bool MapGuardedArea(GuardedArea* area);

// Gives both pages back.
void UnmapGuardedArea(GuardedArea* area);

// The last `size` bytes before the guard page (`size` at most one page).
inline char* BytesBeforeGuard(const GuardedArea& area, std::size_t size) {
    return area.base + area.page - size;
}

}  // namespace lastspot::testing
