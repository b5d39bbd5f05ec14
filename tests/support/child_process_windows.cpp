#include <windows.h>

#include "platform/platform.h"
#include "support/child_process.h"

namespace lastspot::testing {

ChildProcess StartChild(const std::string& program, std::vector<std::string> arguments) {
    char directory[MAX_PATH];
    if (!platform::ExecutableDirectory(directory, sizeof directory)) return -1;
    std::string path = directory + program + ".exe";
    // The arguments of the tests hold no quotes; quoted, they may hold spaces.
    std::string commandLine = "\"" + path + "\"";
    for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    return reinterpret_cast<ChildProcess>(process.hProcess);
}

bool KillChild(ChildProcess child) {
    auto process = reinterpret_cast<HANDLE>(child);
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    TerminateProcess(process, 137);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return running;
}

}  // namespace lastspot::testing
