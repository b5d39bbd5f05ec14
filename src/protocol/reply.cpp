#include "protocol/reply.h"

#include "platform/platform.h"

namespace lastspot::protocol {

namespace {

struct ErrorText {
    const char* code;
    const char* message;
};

// In the order of ErrorCode. The words and messages are part of what
// scripts test for: keep every capital and every full stop.
constexpr ErrorText kErrors[] = {
    {"TABLE", "Invalid table name"},
    {"DUP", "There is already a table with that name"},
    {"NOTFOUND", "Table not found"},
    {"MATCH", "Invalid match expression"},
    {"NICK", "Invalid nick"},
    {"ADDY", "Invalid address"},
    {"CHAN", "Invalid channel"},
    {"TYPE", "Invalid type"},
    {"WHEN", "Invalid seen time"},
    {"TIMESPENT", "Invalid time spent"},
    {"FOUND", "Nick not found"},
    {"MAXNICKS", "Invalid maxnicks number"},
    {"OPTION", "Invalid option"},
    {"SECONDS", "Invalid seconds number"},
    {"ENTRIESN", "Invalid entries number"},
    {"FILE", "Invalid File"},
    {"OPEN", "Couldn't open file."},
    {"NOFILE", "File not found or invalid"},
    {"OPTFILE", "Invalid Seen File"},
    {"READ", "Couldn't read file."},
    {"WRITE", "Couldn't write file."},
    {"MEMORY", "Out of memory"},
    {"INTERNAL", "Internal error"},
};
static_assert(sizeof kErrors / sizeof kErrors[0] == static_cast<int>(ErrorCode::Internal) + 1);

}  // namespace

void ReplyError(char* buffer, ErrorCode code) {
    const ErrorText& error = kErrors[static_cast<int>(code)];
    platform::FormatBounded(buffer, "-%s %s", error.code, error.message);
}

void ReplyOk(char* buffer) { platform::FormatBounded(buffer, "+OK %s", ""); }

}  // namespace lastspot::protocol
