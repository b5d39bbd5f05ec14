#include "protocol/command.h"

#include <new>

#include "protocol/reply.h"

namespace lastspot::protocol {

int RunCommand(char* buffer, CommandBody body) noexcept {
    if (buffer == nullptr) return kCommandResult;
    try {
        body(buffer);
    } catch (const std::bad_alloc&) {
        ReplyError(buffer, ErrorCode::Memory);
    } catch (...) {
        ReplyError(buffer, ErrorCode::Internal);
    }
    return kCommandResult;
}

}  // namespace lastspot::protocol
