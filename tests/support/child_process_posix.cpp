#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/platform.h"
#include "support/child_process.h"

extern char** environ;

namespace lastspot::testing {

ChildProcess StartChild(const std::string& program, std::vector<std::string> arguments) {
    char directory[4096];
    if (!platform::ExecutableDirectory(directory, sizeof directory)) return -1;
    std::string path = directory + program;
    std::vector<char*> argv{path.data()};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid;
    return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

bool KillChild(ChildProcess child) {
    auto pid = static_cast<pid_t>(child);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace lastspot::testing
