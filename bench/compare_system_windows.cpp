// The comparison benchmark's system probes on Windows.
#include <windows.h>
#include <io.h>
#include <psapi.h>

#include <vector>

#include "compare_system.h"

namespace lastspot::bench {

// The busy blocks of every heap of the process: the C runtime's heap (which
// the library's and the benchmark's allocations come from) may be another
// one than the default process heap.
std::size_t HeapBytesInUse() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::size_t bytes = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) bytes += entry.cbData + entry.cbOverhead;
        }
        HeapUnlock(heap);
    }
    return bytes;
}

// Windows counts soft and hard faults together; a benchmark's fresh memory
// makes soft ones.
std::size_t MinorPageFaults() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PageFaultCount;
}

bool SyncToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return FlushFileBuffers(handle) != 0;
}

}  // namespace lastspot::bench
