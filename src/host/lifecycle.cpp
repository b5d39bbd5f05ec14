#include "host/lifecycle.h"

#include "platform/platform.h"

namespace lastspot::host {

void Load(LoadInfo* info) {
    platform::InitProcessHeap();
    if (info != nullptr) info->keep = 1;
}

int Unload(int reason) {
    (void)reason;
    return 0;
}

void DllInfo(char* buffer) {
    platform::FormatBounded(buffer, "+OK %s",
                            "lastspot 30130 by the lastspot authors - https://lastspot.example.org");
}

}  // namespace lastspot::host
