// The built shared library, loaded the way a host loads it, so tests can
// call the real exports through their real calling convention.
#pragma once

#include <string>

#include "host/host_interface.h"
#include "platform/platform.h"

namespace lastspot::testing {

class LibraryUnderTest {
public:
    // Loads the library that was built beside the test program; a test
    // failure when it cannot.
    LibraryUnderTest();
    ~LibraryUnderTest();
    LibraryUnderTest(const LibraryUnderTest&) = delete;
    LibraryUnderTest& operator=(const LibraryUnderTest&) = delete;

    host::LoadHook loadDll() const;
    host::UnloadHook unloadDll() const;
    // The command export `name`; a test failure when it is missing.
    host::CommandExport command(const char* name) const;

    // Copies `arguments` into `buffer` (which must hold it), runs the
    // command and returns its reply; `*result` receives the return value.
    std::string Run(const char* name, const std::string& arguments, int* result = nullptr) const;

private:
    platform::LibraryHandle handle_ = nullptr;
};

}  // namespace lastspot::testing
