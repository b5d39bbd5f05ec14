// Running command bodies in-process, the way the exports run them, for tests
// that also reach into the library's state.
#pragma once

#include <string>

#include "protocol/command.h"

namespace lastspot::testing {

// Copies `arguments` into a host-sized buffer, runs `body` in the command
// frame and returns the reply.
std::string RunBody(protocol::CommandBody body, const std::string& arguments);

// Starts the library's state afresh and releases every table at the end.
class FreshLibrary {
public:
    FreshLibrary();
    ~FreshLibrary();
    FreshLibrary(const FreshLibrary&) = delete;
    FreshLibrary& operator=(const FreshLibrary&) = delete;
};

}  // namespace lastspot::testing
