// The library's load and unload hooks and its banner.
#pragma once

#include "host/host_interface.h"

namespace lastspot::host {

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
