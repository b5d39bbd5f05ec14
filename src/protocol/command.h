// The frame every command export runs in: the body works on the host's
// buffer, and whatever goes wrong inside it becomes a reply, never an
// exception in the host.
//
// How a command fails, layer by layer. A body tests its tokens in a fixed
// order and replies at the first failure (ReplyError). The steps below it
// report failure with a status of their own (a parse result, a file
// status), which the body turns into its reply; an absent key is a null
// result, never an error. Running out of memory is the one exception: any
// allocation may throw std::bad_alloc, every step leaves the tables as they
// were when it does, and this frame replies "-MEMORY Out of memory".
// Nothing else is thrown; should anything else escape a body, the frame
// replies "-INTERNAL Internal error".
#pragma once

#include <string>

namespace lastspot::protocol {

// What every command export returns, whatever the outcome: the outcome is
// told by the reply alone.
inline constexpr int kCommandResult = 3;

// A command's body: reads its argument line from `buffer` (cutting it into
// tokens in place) and leaves its reply there.
using CommandBody = void (*)(char* buffer);

// Whether a command may add, remove or replace tables or records.
enum class Effect { Reads, Changes };

// One line of the command table (host/commands.def).
struct Command {
    const char* name;
    CommandBody body;
    Effect effect;
};

// A check of the library's whole state: true when every invariant holds,
// otherwise false with `*problem` naming the one that is broken.
using StateCheck = bool (*)(std::string* problem);

// A verify build (the LASTSPOT_VERIFY option: Debug, sanitizer and fuzz
// builds) runs the state check after every command that changes state.
#ifdef LASTSPOT_VERIFY
inline constexpr bool kVerifyBuild = true;
#else
inline constexpr bool kVerifyBuild = false;
#endif

// Runs the command's body on the host's buffer and returns kCommandResult;
// a null buffer is left alone. In a verify build, after a command whose
// effect is Changes, runs `check` (when not null) and aborts the process
// with a message naming the command and the broken invariant when it
// fails.
int RunCommand(char* buffer, const Command& command, StateCheck check) noexcept;

}  // namespace lastspot::protocol
