// Opening seen files and writing their lines. A file is open only within
// one command. Saving never writes the target itself: the lines go to a
// temporary file beside it, which replaces the target in one step once
// every line is on the disk.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace lastspot::store {

enum class FileMode { Read, Write };

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
// On failure writes the failure reply into `buffer` and returns false:
//   FILE    the name is empty;
//   OPEN    the name is a device's (a port, a printer), told by the name
//           alone before anything is opened; or, after NOFILE below:
//   NOFILE  (reading) no such file, its full path is too long, or it is a
//           directory;
//   OPEN    the file cannot be opened, or (writing) the target cannot be
//           replaced (not a regular file, read-only, or held by another
//           program beyond a short wait) or no file can be created beside it (a directory we
//           may not write to).
// Reading takes the name as given (relative to the current directory)
// when such a file exists, and otherwise the platform's search for it, so
// a bare name saved and loaded from one directory always round-trips.
// Throws std::bad_alloc when memory runs out.
bool OpenSeenFile(const char* name, FileMode mode, char* buffer, SeenFile* file);

// The full path of an existing file (not a directory) that the platform's
// search finds for `name`, as a new copy on the process heap (the caller
// releases it with platform::HeapRelease), or nullptr. Throws
// std::bad_alloc when the copy cannot be made.
char* LocateFile(const char* name);

// Lines on their way to a file, gathered in a fixed buffer so a save makes
// a few large writes instead of one per record.
class LineWriter {
public:
    explicit LineWriter(platform::FileHandle file);
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
    static constexpr std::size_t kCapacity = 64 * 1024;
    bool Flush();

    platform::FileHandle file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// Forces the temporary file's lines onto the disk, closes it and puts it in
// the place of `target`. On failure writes WRITE (the flush failed) or OPEN
// (the target could not be replaced) into `buffer`, removes the temporary
// file and returns false; the target is then as it was.
bool CommitSeenFile(SeenFile* file, const char* target, char* buffer);

}  // namespace lastspot::store
