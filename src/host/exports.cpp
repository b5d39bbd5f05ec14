// The library's exported entry points. Each one is a thin shim: it hands the
// host's buffer to the command's body inside RunCommand, which turns any
// exception into a reply, and returns 3. The names are listed in
// exports.txt, which the build and the export checks read.
#include "host/exports.h"

#include "protocol/command.h"
#include "seen/expire_command.h"
#include "seen/match_commands.h"
#include "seen/record_commands.h"
#include "seen/table_commands.h"
#include "store/store_commands.h"

namespace host = lastspot::host;
namespace protocol = lastspot::protocol;
namespace seen = lastspot::seen;
namespace store = lastspot::store;

#define LASTSPOT_COMMAND(name, body) \
    LASTSPOT_DECLARE_COMMAND(name) { return protocol::RunCommand(buffer, body); }

void LASTSPOT_CALL LoadDll(host::LoadInfo* info) { host::Load(info); }

int LASTSPOT_CALL UnloadDll(int reason) { return host::Unload(reason); }

LASTSPOT_COMMAND(DllInfo, host::DllInfo)

LASTSPOT_COMMAND(SeenTableAdd, seen::SeenTableAdd)
LASTSPOT_COMMAND(SeenTableDel, seen::SeenTableDel)
LASTSPOT_COMMAND(SeenTableDelMatch, seen::SeenTableDelMatch)
LASTSPOT_COMMAND(SeenTableCount, seen::SeenTableCount)
LASTSPOT_COMMAND(SeenTableClear, seen::SeenTableClear)

LASTSPOT_COMMAND(SeenAdd, seen::SeenAdd)
LASTSPOT_COMMAND(SeenGet, seen::SeenGet)
LASTSPOT_COMMAND(SeenDel, seen::SeenDel)
LASTSPOT_COMMAND(SeenCount, seen::SeenCount)
LASTSPOT_COMMAND(SeenClear, seen::SeenClear)

LASTSPOT_COMMAND(SeenMatch, seen::SeenMatch)
LASTSPOT_COMMAND(SeenMatchSort, seen::SeenMatchSort)
LASTSPOT_COMMAND(SeenMatchCount, seen::SeenMatchCount)
LASTSPOT_COMMAND(SeenDelMatch, seen::SeenDelMatch)
LASTSPOT_COMMAND(SeenExpire, seen::SeenExpire)

LASTSPOT_COMMAND(SeenSave, store::SeenSave)
LASTSPOT_COMMAND(SeenLoad, store::SeenLoad)
