// The library's load and unload hooks and its banner.
#pragma once

#include <cstdint>

namespace lastspot::host {

// The record a host passes to the load hook. Only `keep` is touched: the
// hook sets it to 1. On 32-bit Windows it is the record's third 32-bit
// field; on 64-bit builds the pointer-sized window handle before it puts it
// at byte offset 16.
struct LoadInfo {
    std::uint32_t version;
    void* window;
    std::int32_t keep;
};

// Fetches the process heap and sets the table registry empty, without
// releasing what it held (a second load forgets the first one's tables).
// Sets info->keep to 1.
void Load(LoadInfo* info);

// With reason 0, releases every table as the table-clearing command does;
// with any other reason keeps everything. Returns 0.
int Unload(int reason);

// Replies "+OK " and the library's banner; the argument line is ignored.
void DllInfo(char* buffer);

}  // namespace lastspot::host
