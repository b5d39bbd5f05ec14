// Running the library's command exports in-process, as a host runs them, for
// the tests and fuzzers that also look into the library's state.
#pragma once

#include <string>

#include "host/exports.h"

namespace lastspot::testing {

// The in-process command export called `name`, from the command table; or
// nullptr when there is none.
host::CommandExport CommandNamed(const std::string& name);

// Copies `arguments` into a host-sized buffer of 4,096 bytes (cut to fit),
// runs `command` on it and returns the reply; `*result` receives what the
// command returned.
std::string RunExport(host::CommandExport command, const std::string& arguments, int* result = nullptr);

// Starts the library's state afresh and releases every table at the end.
class FreshLibrary {
public:
    FreshLibrary();
    ~FreshLibrary();
    FreshLibrary(const FreshLibrary&) = delete;
    FreshLibrary& operator=(const FreshLibrary&) = delete;
};

}  // namespace lastspot::testing
