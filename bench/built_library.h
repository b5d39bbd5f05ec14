// The shared library built beside a benchmark program, loaded once and set
// up as a host sets it up, so the benchmarks measure the real exports.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_interface.h"
#include "platform/platform.h"

namespace lastspot::bench {

using host::CommandExport;

class BuiltLibrary {
public:
    static BuiltLibrary& Get() {
        static BuiltLibrary library;
        return library;
    }

    // The command export `name`; exits when the library lacks it.
    CommandExport Command(const char* name) { return reinterpret_cast<CommandExport>(Export(name)); }

    // Copies the line into the host's buffer and runs the command there.
    const char* Run(CommandExport command, const std::string& line) {
        std::memcpy(buffer_, line.c_str(), line.size() + 1);
        command(nullptr, nullptr, buffer_, nullptr, 0, 0);
        return buffer_;
    }

private:
    BuiltLibrary() {
        char directory[4096] = "";
        platform::ExecutableDirectory(directory, sizeof directory);
        std::string path = std::string(directory) + platform::DefaultLibraryName();
        handle_ = platform::OpenLibrary(path.c_str());
        if (handle_ == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), platform::LibraryError());
            std::exit(1);
        }
        host::LoadInfo info{};
        reinterpret_cast<host::LoadHook>(Export("LoadDll"))(&info);
    }

    void* Export(const char* name) {
        void* found = platform::FindExport(handle_, name);
        if (found == nullptr) {
            std::fprintf(stderr, "the library does not export %s\n", name);
            std::exit(1);
        }
        return found;
    }

    platform::LibraryHandle handle_ = nullptr;
    char buffer_[4096];
};

// What each benchmark's table of the exports it calls derives from.
struct ExportTable {
    static const char* Run(CommandExport command, const std::string& line) {
        return BuiltLibrary::Get().Run(command, line);
    }
    static CommandExport Find(const char* name) { return BuiltLibrary::Get().Command(name); }
};

}  // namespace lastspot::bench
