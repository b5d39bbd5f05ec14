#include "host/lifecycle.h"

#include "platform/platform.h"
#include "seen/table_registry.h"
#include "version.h"

namespace lastspot::host {

void Load(LoadInfo* info) {
    platform::InitProcessHeap();
    seen::ForgetTables();
    if (info != nullptr) info->keep = 1;
}

int Unload(int reason) {
    if (reason == 0) seen::ReleaseAllTables();
    return 0;
}

void DllInfo(char* buffer) {
    platform::FormatBounded(buffer, "+OK %s",
                            "lastspot " LASTSPOT_BANNER_NUMBER
                            " by the lastspot authors - https://lastspot.example.org");
}

}  // namespace lastspot::host
