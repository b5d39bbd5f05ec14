#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "support/child_process.h"

extern char** environ;

namespace lastspot::testing {

bool StartChild(const std::string& program, const std::vector<std::string>& arguments,
                ChildProcess* child) {
    char directory[4096];
    if (!platform::ExecutableDirectory(directory, sizeof directory)) return false;
    std::string path = directory + program;
    std::vector<char*> argv{path.data()};
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid;
    int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (failed != 0) {
        ::close(pipeEnds[0]);
        return false;
    }
    child->process = pid;
    child->output = pipeEnds[0];
    return true;
}

std::string ReadChildLine(ChildProcess* child, int milliseconds) {
    std::string line;
    pollfd ready{static_cast<int>(child->output), POLLIN, 0};
    while (::poll(&ready, 1, milliseconds) > 0) {
        char c;
        if (::read(static_cast<int>(child->output), &c, 1) != 1) break;
        if (c == '\n') return line;
        line.push_back(c);
    }
    return "";
}

bool KillChild(ChildProcess* child) {
    auto pid = static_cast<pid_t>(child->process);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(static_cast<int>(child->output));
    *child = ChildProcess{};
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace lastspot::testing
