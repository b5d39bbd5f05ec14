#include <windows.h>

#include "platform/platform.h"
#include "support/child_process.h"

namespace lastspot::testing {

bool StartChild(const std::string& program, const std::vector<std::string>& arguments,
                ChildProcess* child) {
    char directory[MAX_PATH];
    if (!platform::ExecutableDirectory(directory, sizeof directory)) return false;
    std::string path = directory + program + ".exe";
    // The arguments of the tests hold no quotes; quoted, they may hold spaces.
    std::string commandLine = "\"" + path + "\"";
    for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";

    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading, writing;
    if (!CreatePipe(&reading, &writing, &inherited, 0)) return false;
    SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writing;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &process);
    CloseHandle(writing);
    if (!started) {
        CloseHandle(reading);
        return false;
    }
    CloseHandle(process.hThread);
    child->process = reinterpret_cast<std::intptr_t>(process.hProcess);
    child->output = reinterpret_cast<std::intptr_t>(reading);
    return true;
}

std::string ReadChildLine(ChildProcess* child, int milliseconds) {
    HANDLE output = reinterpret_cast<HANDLE>(child->output);
    std::string line;
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    for (;;) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(output, nullptr, 0, nullptr, &waiting, nullptr)) return "";
        if (waiting == 0) {
            if (GetTickCount64() > deadline) return "";
            Sleep(1);
            continue;
        }
        char c;
        DWORD got = 0;
        if (!ReadFile(output, &c, 1, &got, nullptr) || got != 1) return "";
        if (c == '\n') return line;
        if (c != '\r') line.push_back(c);
    }
}

bool KillChild(ChildProcess* child) {
    HANDLE process = reinterpret_cast<HANDLE>(child->process);
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    TerminateProcess(process, 137);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    CloseHandle(reinterpret_cast<HANDLE>(child->output));
    *child = ChildProcess{};
    return running;
}

}  // namespace lastspot::testing
