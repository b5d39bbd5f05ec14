// The frame every command export runs in: the body works on the host's
// buffer, and whatever goes wrong inside it becomes a reply, never an
// exception in the host.
#pragma once

namespace lastspot::protocol {

// What every command export returns, whatever the outcome: the outcome is
// told by the reply alone.
inline constexpr int kCommandResult = 3;

// A command's body: reads its argument line from `buffer` (cutting it into
// tokens in place) and leaves its reply there.
using CommandBody = void (*)(char* buffer);

// Runs `body` on the host's buffer and returns kCommandResult. An exception
// that escapes the body becomes a failure reply: "-MEMORY Out of memory"
// when memory ran out, "-INTERNAL Internal error" otherwise. A null buffer
// is left alone.
int RunCommand(char* buffer, CommandBody body) noexcept;

}  // namespace lastspot::protocol
