#include "protocol/reply.h"

#include "platform/platform.h"

namespace lastspot::protocol {

namespace {

struct ErrorText {
    const char* word;
    const char* message;
};

// Indexed by ErrorCode: both come from the one list.
constexpr ErrorText kErrors[] = {
#define LASTSPOT_ERROR(name, word, message) {word, message},
#include "protocol/error_codes.def"
};

}  // namespace

void ReplyError(char* buffer, ErrorCode code) {
    const ErrorText& error = kErrors[static_cast<int>(code)];
    platform::FormatBounded(buffer, "-%s %s", error.word, error.message);
}

void ReplyOk(char* buffer) { platform::FormatBounded(buffer, "+OK %s", ""); }

}  // namespace lastspot::protocol
