// The comparison benchmark's system probes on glibc systems.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "compare_system.h"

namespace lastspot::bench {

// Small blocks and the blocks malloc maps on their own.
std::size_t HeapBytesInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::size_t MinorPageFaults() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_minflt);
}

bool SyncToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

}  // namespace lastspot::bench
