// The host calling interface, written once: the record a host hands to the
// load hook, and the hooks and command exports as a host calls them, in the
// calling convention of the platform (platform/calling_convention.h). The
// library declares its exports with these types (host/exports.h); the
// substitute host, the tests and the benchmarks call them through these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/calling_convention.h"

namespace lastspot::host {

// The record a host passes to the load hook, as the host fills it in. The
// library touches only `keep`, which the hook sets to 1, and neither reads
// nor writes the other fields. On 32-bit Windows `keep` is the record's
// third 32-bit field; on 64-bit builds the pointer-sized window handle
// before it puts it at byte offset 16.
struct LoadInfo {
    std::uint32_t version;
    void* window;
    std::int32_t keep;
    std::int32_t unicode;
    std::uint32_t beta;
    std::uint32_t bytes;
};
static_assert(offsetof(LoadInfo, keep) == 2 * sizeof(void*));

// LoadDll(info) and UnloadDll(reason).
using LoadHook = void(LASTSPOT_CALL*)(LoadInfo* info);
using UnloadHook = int(LASTSPOT_CALL*)(int reason);

// A command export: two window handles, the command buffer, a second buffer
// and two flags. Only the command buffer is used: the argument line goes in,
// the reply comes back in it, and every command returns 3.
using CommandExport = int(LASTSPOT_CALL*)(void*, void*, char* buffer, char*, int, int);

}  // namespace lastspot::host
