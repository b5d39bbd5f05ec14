// Opening seen files and writing their lines. A file is open only within
// one command. Saving never writes the target itself: the lines go to a
// temporary file beside it, which replaces the target in one step once
// every line is on the disk.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/platform.h"
#include "protocol/reply.h"
#include "store/write_behind.h"

namespace lastspot::store {

enum class FileMode { Read, Write };

// What a step of opening, writing or committing a seen file reports: Ok,
// or why the command must stop. The command replies with ErrorFor(status).
enum class FileStatus {
    Ok,
    EmptyName,    // FILE: the name is empty
    NotFound,     // NOFILE: (reading) no such file
    CannotOpen,   // OPEN: it cannot be opened, created or replaced
    CannotWrite,  // WRITE: its lines did not all reach the disk
};

// The failure reply of a status other than Ok.
protocol::ErrorCode ErrorFor(FileStatus status);

// An open seen file, closed when this goes away. For writing, `handle` is
// a new temporary file beside the target and `temporaryPath` its name
// (empty while it has none); it is removed unless CommitSeenFile put it in
// the target's place.
struct SeenFile {
    platform::FileHandle handle = platform::kInvalidFile;
    std::unique_ptr<char[]> temporaryPath;

    SeenFile() = default;
    ~SeenFile();
    SeenFile(const SeenFile&) = delete;
    SeenFile& operator=(const SeenFile&) = delete;
};

// Opens the seen file `name` (the rest of the command's argument line).
// Returns Ok with `file` open, or the first failure:
//   EmptyName   the name is empty;
//   CannotOpen  the name is a device's (a port, a printer), told by the name
//               alone before anything is opened; or, after NotFound below:
//   NotFound    (reading) no such file, its full path is too long, or it is
//               a directory;
//   CannotOpen  the file cannot be opened, or (writing) the target cannot be
//               replaced (not a regular file, read-only, or held by another
//               program beyond a short wait) or no file can be created
//               beside it (a directory we may not write to).
// Reading takes the name as given (relative to the current directory)
// when such a file exists, and otherwise the platform's search for it, so
// a bare name saved and loaded from one directory always round-trips.
// Throws std::bad_alloc when memory runs out.
FileStatus OpenSeenFile(const char* name, FileMode mode, SeenFile* file);

// The full path of an existing file (not a directory) that the platform's
// search finds for `name`, as a new copy on the process heap (the caller
// releases it with platform::HeapRelease), or nullptr. Throws
// std::bad_alloc when the copy cannot be made.
char* LocateFile(const char* name);

// Lines on their way to a file, gathered in a fixed buffer so a save makes
// a few large writes instead of one per record. `expectedBytes`, roughly
// what will be written, sizes the buffer: a small table's save takes no
// megabyte it does not need. A large save has its buffers written on a
// second thread (write_behind.h) where one can be had.
class LineWriter {
public:
    LineWriter(platform::FileHandle file, std::size_t expectedBytes);
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Room for a line of up to kLineRoom characters (the formatter's bound),
    // formed in place and then ended with EndLine, which adds CR LF; nullptr
    // once any write has failed.
    static constexpr std::size_t kLineRoom = platform::kFormatLimit;
    char* LineSpace();
    void EndLine(std::size_t length);

    // Writes what is still buffered; false when this or any earlier write
    // failed.
    bool Finish();

private:
    // Up to a megabyte where it can be had: a write per 64 KiB cost a large
    // save about a tenth of its time. When a block that large cannot be had
    // (a 32-bit client's address space runs short) the buffer is 64 KiB.
    static constexpr std::size_t kLargeCapacity = 1024 * 1024;
    static constexpr std::size_t kSmallCapacity = 64 * 1024;
    // A large buffer is written once the next line might not fit, so with
    // at least this much in it: each one asks the disk to start writing.
    static_assert(kWriteBackStretch <= kLargeCapacity - kLineRoom - 2);
    bool Flush();

    platform::FileHandle file_;
    std::size_t capacity_;
    std::unique_ptr<WriteBehind> behind_;  // a large save's two buffers and their thread,
    std::unique_ptr<char[]> own_;          // or the one buffer, written on this thread
    char* buffer_;                         // the buffer being filled
    std::size_t used_ = 0;
    std::size_t unsent_ = 0;  // written since the disk was last asked to start
    bool failed_ = false;
};

// Forces the temporary file's lines onto the disk, closes it and puts it in
// the place of `target`. On failure (CannotWrite: the flush failed;
// CannotOpen: the target could not be replaced) removes the temporary file;
// the target is then as it was.
FileStatus CommitSeenFile(SeenFile* file, const char* target);

}  // namespace lastspot::store
