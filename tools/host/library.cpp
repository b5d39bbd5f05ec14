#include "library.h"

#include <cstring>
#include <vector>

namespace lastspot::tool {

namespace {

// The library's command exports, from its command table.
constexpr const char* kCommandNames[] = {
#define LASTSPOT_COMMAND(name, body, effect, ...) #name,
#include "host/commands.def"
};

template <typename Function>
Function ExportAs(platform::LibraryHandle handle, const char* name) {
    return reinterpret_cast<Function>(platform::FindExport(handle, name));
}

}  // namespace

bool OpenHostLibrary(const std::string& path, HostLibrary* library, std::string* error) {
    library->handle = platform::OpenLibrary(path.c_str());
    if (library->handle == nullptr) {
        *error = "cannot load library '" + path + "': " + platform::LibraryError();
        return false;
    }
    library->loadDll = ExportAs<host::LoadHook>(library->handle, "LoadDll");
    library->unloadDll = ExportAs<host::UnloadHook>(library->handle, "UnloadDll");
    if (library->loadDll == nullptr || library->unloadDll == nullptr) {
        *error = "library '" + path + "' lacks LoadDll or UnloadDll";
        platform::CloseLibrary(library->handle);
        library->handle = nullptr;
        return false;
    }
    return true;
}

std::string DefaultLibraryPath() {
    char directory[4096];
    std::string path = platform::ExecutableDirectory(directory, sizeof directory) ? directory : "";
    return path + platform::DefaultLibraryName();
}

CommandExport FindCommand(const HostLibrary& library, const std::string& name) {
    // Only the library's own command exports: the symbol search would also
    // find functions of the libraries it uses (exit, puts, ...).
    for (const char* exported : kCommandNames) {
        if (name == exported) return ExportAs<CommandExport>(library.handle, name.c_str());
    }
    return nullptr;
}

CommandRun RunCommandLine(const HostLibrary& library, const std::string& line) {
    CommandRun run;
    std::size_t space = line.find(' ');
    std::string name = line.substr(0, space);
    std::string arguments = space == std::string::npos ? "" : line.substr(space + 1);

    CommandExport command = FindCommand(library, name);
    if (command == nullptr) {
        run.error = "unknown command '" + name + "'";
        return run;
    }
    if (arguments.size() >= kHostBufferSize) {
        run.error = "argument line of " + std::to_string(arguments.size()) + " bytes does not fit the " +
                    std::to_string(kHostBufferSize) + "-byte buffer";
        return run;
    }
    std::vector<char> data(kHostBufferSize, '\0');
    std::vector<char> parameters(kHostBufferSize, '\0');
    std::memcpy(data.data(), arguments.c_str(), arguments.size() + 1);

    int result = command(nullptr, nullptr, data.data(), parameters.data(), 0, 0);
    if (std::memchr(data.data(), '\0', data.size()) == nullptr) {
        run.error = "'" + name + "' left no terminated reply in the buffer";
        return run;
    }
    if (result != 3) {
        run.error = "'" + name + "' returned " + std::to_string(result) + ", not 3";
        return run;
    }
    run.ok = true;
    run.reply = data.data();
    return run;
}

}  // namespace lastspot::tool
