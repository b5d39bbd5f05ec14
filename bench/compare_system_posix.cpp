// The comparison benchmark's system probes on glibc systems.
#include <malloc.h>
#include <unistd.h>

#include "compare_system.h"

namespace lastspot::bench {

// Small blocks and the blocks malloc maps on their own.
std::size_t HeapBytesInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

bool SyncToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

}  // namespace lastspot::bench
