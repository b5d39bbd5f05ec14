// The loaded lastspot library as a host sees it: the two hooks and the
// command exports, found by name the way an IRC client finds them.
#pragma once

#include <string>

#include "host/host_interface.h"
#include "platform/platform.h"

namespace lastspot::tool {

using host::CommandExport;

// The size of the buffer a host passes to every command.
inline constexpr std::size_t kHostBufferSize = 4096;

struct HostLibrary {
    platform::LibraryHandle handle = nullptr;
    host::LoadHook loadDll = nullptr;
    host::UnloadHook unloadDll = nullptr;
};

// Loads the library at `path` and finds its hooks. False, with the reason in
// `*error`, when either fails.
bool OpenHostLibrary(const std::string& path, HostLibrary* library, std::string* error);

// The library beside the running program.
std::string DefaultLibraryPath();

// The command export called `name`, or nullptr when the name is not one of
// the library's commands (the hooks take other arguments) or the library
// lacks it.
CommandExport FindCommand(const HostLibrary& library, const std::string& name);

// Outcome of running one command line.
struct CommandRun {
    bool ok = false;    // false: `error` says why nothing was called
    std::string reply;  // the reply left in the buffer
    std::string error;
};

// Splits `line` into the command name and its argument line (everything
// after the one space that follows the name), copies the arguments into a
// host-sized buffer, calls the export and collects the reply.
CommandRun RunCommandLine(const HostLibrary& library, const std::string& line);

}  // namespace lastspot::tool
