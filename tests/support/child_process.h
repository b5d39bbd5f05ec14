// Programs of the tests run as child processes, for tests that end them the
// way the system ends a process that crashes. Started and ended with the
// system's own calls: posix_spawn and SIGKILL on POSIX systems,
// CreateProcess and TerminateProcess on Windows (child_process_posix.cpp,
// child_process_windows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lastspot::testing {

// A running child: its process and the reading end of a pipe from its
// standard output.
struct ChildProcess {
    std::intptr_t process = -1;
    std::intptr_t output = -1;
};

// Starts `program`, a program built beside the running one (named without
// ".exe"), with `arguments`; false when it cannot be started.
bool StartChild(const std::string& program, const std::vector<std::string>& arguments,
                ChildProcess* child);

// The next line the child writes, without its line end; "" when it ends,
// or writes no whole line within `milliseconds`.
std::string ReadChildLine(ChildProcess* child, int milliseconds);

// Ends the child at once and waits until it has gone; true when it was
// still running, false when it had ended by itself.
bool KillChild(ChildProcess* child);

}  // namespace lastspot::testing
