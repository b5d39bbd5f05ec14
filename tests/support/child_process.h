// Programs of the tests run as child processes, for tests that end them the
// way the system ends a process that crashes: posix_spawn and SIGKILL on
// POSIX systems, CreateProcess and TerminateProcess on Windows
// (child_process_posix.cpp, child_process_windows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lastspot::testing {

// A running child: its process id on POSIX systems, its handle on Windows.
using ChildProcess = std::intptr_t;

// Starts `program`, a program built beside the running one (named without
// ".exe"), with `arguments`; -1 when it cannot be started.
ChildProcess StartChild(const std::string& program, std::vector<std::string> arguments);

// Ends the child at once and waits until it has gone; true when it was
// still running, false when it had ended by itself.
bool KillChild(ChildProcess child);

}  // namespace lastspot::testing
