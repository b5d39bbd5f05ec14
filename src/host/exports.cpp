// The library's exported entry points. Each command export is a thin shim,
// made from its line of the command table: it hands the host's buffer to
// the command's body inside RunCommand, which turns any exception into a
// reply (and, in a verify build, checks the tables afterwards), and
// returns 3. The two hooks are written out.
#include "host/exports.h"

#include <type_traits>

#include "protocol/command.h"
#include "seen/expire_command.h"
#include "seen/match_commands.h"
#include "seen/record_commands.h"
#include "seen/table_commands.h"
#include "seen/table_registry.h"
#include "store/store_commands.h"

namespace host = lastspot::host;
namespace protocol = lastspot::protocol;

namespace {

// Only a verify build names the checks, so the others do not carry them.
#ifdef LASTSPOT_VERIFY
constexpr protocol::StateCheck kStateCheck = lastspot::seen::CheckAfterCommand;
#else
constexpr protocol::StateCheck kStateCheck = nullptr;
#endif

}  // namespace

void LASTSPOT_CALL LoadDll(host::LoadInfo* info) { host::Load(info); }

int LASTSPOT_CALL UnloadDll(int reason) { return host::Unload(reason); }

static_assert(std::is_same_v<decltype(&LoadDll), host::LoadHook>);
static_assert(std::is_same_v<decltype(&UnloadDll), host::UnloadHook>);

#define LASTSPOT_COMMAND(name, body, effect, ...)                                                       \
    LASTSPOT_DECLARE_COMMAND(name) {                                                                    \
        static constexpr protocol::Command kCommand{#name, ::lastspot::body, protocol::Effect::effect}; \
        return protocol::RunCommand(buffer, kCommand, kStateCheck);                                     \
    }
#include "host/commands.def"
