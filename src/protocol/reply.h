// The two reply forms every command leaves in the host's buffer:
//   success  "+OK " and a payload (formed with platform::FormatBounded from a
//            format that begins "+OK "; an empty payload leaves "+OK ")
//   failure  "-WORD message", one of the list in error_codes.def.
#pragma once

namespace lastspot::protocol {

// One per failure reply, named as in error_codes.def.
enum class ErrorCode {
#define LASTSPOT_ERROR(name, word, message) name,
#include "protocol/error_codes.def"
};

// Writes "-WORD message" for `code` into the buffer.
void ReplyError(char* buffer, ErrorCode code);

// ReplyError for steps that report failure to their caller: replies, then
// returns false.
inline bool FailWith(char* buffer, ErrorCode code) {
    ReplyError(buffer, code);
    return false;
}

// Writes the bare success reply "+OK " into the buffer.
void ReplyOk(char* buffer);

}  // namespace lastspot::protocol
