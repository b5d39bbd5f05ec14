// The library's exported entry points, as a host calls them. A command
// export takes two window handles, the command buffer, a second buffer and
// two flags; only the command buffer is used, and every command returns 3.
#pragma once

#include "host/lifecycle.h"
#include "platform/platform.h"

#define LASTSPOT_DECLARE_COMMAND(name) \
    LASTSPOT_EXPORT int LASTSPOT_CALL name(void*, void*, char* buffer, char*, int, int)

extern "C" {

LASTSPOT_EXPORT void LASTSPOT_CALL LoadDll(lastspot::host::LoadInfo* info);
LASTSPOT_EXPORT int LASTSPOT_CALL UnloadDll(int reason);

LASTSPOT_DECLARE_COMMAND(DllInfo);
LASTSPOT_DECLARE_COMMAND(SeenTableAdd);
LASTSPOT_DECLARE_COMMAND(SeenTableDel);
LASTSPOT_DECLARE_COMMAND(SeenTableDelMatch);
LASTSPOT_DECLARE_COMMAND(SeenTableCount);
LASTSPOT_DECLARE_COMMAND(SeenTableClear);
LASTSPOT_DECLARE_COMMAND(SeenAdd);
LASTSPOT_DECLARE_COMMAND(SeenGet);
LASTSPOT_DECLARE_COMMAND(SeenDel);
LASTSPOT_DECLARE_COMMAND(SeenCount);
LASTSPOT_DECLARE_COMMAND(SeenClear);
LASTSPOT_DECLARE_COMMAND(SeenMatch);
LASTSPOT_DECLARE_COMMAND(SeenMatchSort);
LASTSPOT_DECLARE_COMMAND(SeenMatchCount);
LASTSPOT_DECLARE_COMMAND(SeenDelMatch);
LASTSPOT_DECLARE_COMMAND(SeenExpire);
LASTSPOT_DECLARE_COMMAND(SeenSave);
LASTSPOT_DECLARE_COMMAND(SeenLoad);

}  // extern "C"

namespace lastspot::host {

using CommandExport = int(LASTSPOT_CALL*)(void*, void*, char*, char*, int, int);

struct NamedExport {
    const char* name;
    CommandExport command;
};

// Every command export with its name, DllInfo first.
inline constexpr NamedExport kCommandExports[] = {
    {"DllInfo", ::DllInfo},
    {"SeenTableAdd", ::SeenTableAdd},
    {"SeenTableDel", ::SeenTableDel},
    {"SeenTableDelMatch", ::SeenTableDelMatch},
    {"SeenTableCount", ::SeenTableCount},
    {"SeenTableClear", ::SeenTableClear},
    {"SeenAdd", ::SeenAdd},
    {"SeenGet", ::SeenGet},
    {"SeenDel", ::SeenDel},
    {"SeenCount", ::SeenCount},
    {"SeenClear", ::SeenClear},
    {"SeenMatch", ::SeenMatch},
    {"SeenMatchSort", ::SeenMatchSort},
    {"SeenMatchCount", ::SeenMatchCount},
    {"SeenDelMatch", ::SeenDelMatch},
    {"SeenExpire", ::SeenExpire},
    {"SeenSave", ::SeenSave},
    {"SeenLoad", ::SeenLoad},
};

}  // namespace lastspot::host
