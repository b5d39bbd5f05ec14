#include "protocol/command.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "protocol/reply.h"

namespace lastspot::protocol {

namespace {

void VerifyAfter(const char* name, StateCheck check) noexcept {
    std::string problem;
    bool holds = true;
    try {
        holds = check(&problem);
    } catch (const std::bad_alloc&) {
        return;  // no memory to check with; the next command's check sees the same state
    }
    if (holds) return;
    std::fprintf(stderr, "lastspot: after %s: %s\n", name, problem.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace

int RunCommand(char* buffer, const Command& command, StateCheck check) noexcept {
    if (buffer == nullptr) return kCommandResult;
    try {
        command.body(buffer);
    } catch (const std::bad_alloc&) {
        ReplyError(buffer, ErrorCode::Memory);
    } catch (...) {
        ReplyError(buffer, ErrorCode::Internal);
    }
    if (kVerifyBuild && command.effect == Effect::Changes && check != nullptr) {
        VerifyAfter(command.name, check);
    }
    return kCommandResult;
}

}  // namespace lastspot::protocol
