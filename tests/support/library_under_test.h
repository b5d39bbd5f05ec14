// The built shared library, loaded the way a host loads it, so tests can
// call the real exports through their real calling convention.
#pragma once

#include <string>

#include "platform/platform.h"

namespace lastspot::testing {

struct LoadRecord {
    unsigned int version;
    void* window;
    int keep;
    int unicode;
    unsigned int beta;
    unsigned int bytes;
};

using LoadHook = void(LASTSPOT_CALL*)(LoadRecord*);
using UnloadHook = int(LASTSPOT_CALL*)(int);
using CommandExport = int(LASTSPOT_CALL*)(void*, void*, char*, char*, int, int);

class LibraryUnderTest {
public:
    // Loads the library that was built beside the test program; a test
    // failure when it cannot.
    LibraryUnderTest();
    ~LibraryUnderTest();
    LibraryUnderTest(const LibraryUnderTest&) = delete;
    LibraryUnderTest& operator=(const LibraryUnderTest&) = delete;

    LoadHook loadDll() const;
    UnloadHook unloadDll() const;
    // The command export `name`; a test failure when it is missing.
    CommandExport command(const char* name) const;

    // Copies `arguments` into `buffer` (which must hold it), runs the
    // command and returns its reply; `*result` receives the return value.
    std::string Run(const char* name, const std::string& arguments, int* result = nullptr) const;

private:
    platform::LibraryHandle handle_ = nullptr;
};

}  // namespace lastspot::testing
