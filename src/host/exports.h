// The library's exported entry points, as a host calls them, declared from
// the command table (host/commands.def). A command export takes two window
// handles, the command buffer, a second buffer and two flags; only the
// command buffer is used, and every command returns 3.
#pragma once

#include "host/host_interface.h"
#include "host/lifecycle.h"

// Declares (and, followed by a body, defines) the command export `name` of
// the type host::CommandExport; kCommandExports below fails to compile
// when the two part ways.
#define LASTSPOT_DECLARE_COMMAND(name) \
    LASTSPOT_EXPORT int LASTSPOT_CALL name(void*, void*, char* buffer, char*, int, int)

extern "C" {

LASTSPOT_EXPORT void LASTSPOT_CALL LoadDll(lastspot::host::LoadInfo* info);
LASTSPOT_EXPORT int LASTSPOT_CALL UnloadDll(int reason);

#define LASTSPOT_COMMAND(name, body, effect, ...) LASTSPOT_DECLARE_COMMAND(name);
#include "host/commands.def"

}  // extern "C"

namespace lastspot::host {

struct NamedExport {
    const char* name;
    CommandExport command;
};

// Every command export with its name, in the order of the command table.
inline constexpr NamedExport kCommandExports[] = {
#define LASTSPOT_COMMAND(name, body, effect, ...) {#name, ::name},
#include "host/commands.def"
};

}  // namespace lastspot::host
