// The two reply forms every command leaves in the host's buffer:
//   success  "+OK " and a payload (formed with platform::FormatBounded from a
//            format that begins "+OK "; an empty payload leaves "+OK ")
//   failure  "-CODE message", from the error table below.
#pragma once

namespace lastspot::protocol {

enum class ErrorCode {
    Table,      // TABLE      Invalid table name
    Dup,        // DUP        There is already a table with that name
    NotFound,   // NOTFOUND   Table not found
    Match,      // MATCH      Invalid match expression
    Nick,       // NICK       Invalid nick
    Addy,       // ADDY       Invalid address
    Chan,       // CHAN       Invalid channel
    Type,       // TYPE       Invalid type
    When,       // WHEN       Invalid seen time
    TimeSpent,  // TIMESPENT  Invalid time spent
    Found,      // FOUND      Nick not found
    MaxNicks,   // MAXNICKS   Invalid maxnicks number
    Option,     // OPTION     Invalid option
    Seconds,    // SECONDS    Invalid seconds number
    EntriesN,   // ENTRIESN   Invalid entries number
    File,       // FILE       Invalid File
    Open,       // OPEN       Couldn't open file.
    NoFile,     // NOFILE     File not found or invalid
    OptFile,    // OPTFILE    Invalid Seen File
    Read,       // READ       Couldn't read file.
    Write,      // WRITE      Couldn't write file.
    Memory,     // MEMORY     Out of memory
    Internal,   // INTERNAL   Internal error
};

// Writes "-CODE message" for `code` into the buffer.
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
