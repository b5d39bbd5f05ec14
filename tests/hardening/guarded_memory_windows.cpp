#include <windows.h>

#include "hardening/guarded_memory.h"

namespace lastspot::testing {

bool MapGuardedArea(GuardedArea* area) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    area->page = system.dwPageSize;
    void* pages = VirtualAlloc(nullptr, 2 * area->page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (pages == nullptr) return false;
    area->base = static_cast<char*>(pages);
    DWORD before = 0;
    return VirtualProtect(area->base + area->page, area->page, PAGE_NOACCESS, &before) != 0;
}

void UnmapGuardedArea(GuardedArea* area) {
    if (area->base != nullptr) VirtualFree(area->base, 0, MEM_RELEASE);
    area->base = nullptr;
}

}  // namespace lastspot::testing
