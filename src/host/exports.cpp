// The library's exported entry points. Each one is a thin shim: it hands the
// host's buffer to the command's body inside RunCommand, which turns any
// exception into a reply, and returns 3. The names are listed in
// exports.txt, which the build and the export checks read.
#include "host/command.h"
#include "host/lifecycle.h"
#include "platform/platform.h"

namespace host = lastspot::host;

// A command export: two window handles, the command buffer, a second buffer
// and two flags; only the command buffer is used.
#define LASTSPOT_COMMAND(name, body)                                                    \
    extern "C" LASTSPOT_EXPORT int LASTSPOT_CALL name(void*, void*, char* buffer, char*, \
                                                      int, int) {                       \
        return host::RunCommand(buffer, body);                                          \
    }

extern "C" LASTSPOT_EXPORT void LASTSPOT_CALL LoadDll(host::LoadInfo* info) { host::Load(info); }

extern "C" LASTSPOT_EXPORT int LASTSPOT_CALL UnloadDll(int reason) { return host::Unload(reason); }

LASTSPOT_COMMAND(DllInfo, host::DllInfo)
