// The three things the comparison benchmark needs from the system beyond the
// library's own platform layer. compare_system_posix.cpp and
// compare_system_windows.cpp implement them; the build picks one.
#pragma once

#include <cstddef>
#include <cstdio>

namespace lastspot::bench {

// Bytes the process's allocator has handed out and not taken back: the
// library, the anchors and SQLite all allocate from it.
std::size_t HeapBytesInUse();

// The page faults the process has taken so far that needed no disk: each
// first touch of fresh memory is one.
std::size_t MinorPageFaults();

// Flushes the stream and forces its file onto the disk; false on failure.
bool SyncToDisk(std::FILE* file);

}  // namespace lastspot::bench
