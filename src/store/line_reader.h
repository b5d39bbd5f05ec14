// Cuts a seen file's bytes into lines by the reading rules, and reads a
// whole file that way, handing each line to a sink.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "store/seen_file.h"

namespace lastspot::store {

// The file is read in blocks of kBlockSize bytes, a NUL hiding the rest of
// its block; kReadSize bytes (whole blocks) are fetched at a time.
inline constexpr std::uint32_t kBlockSize = 4096;
inline constexpr std::uint32_t kReadSize = 16 * kBlockSize;

// Assembles lines from the file's blocks by the reading rules: LF ends a
// line, CR is dropped, the (kMaxLineLength + 1)th character of a line ends
// it and is lost; lines carry on from one block to the next.
class LineReader {
public:
    // Examines `length` bytes of one block (the caller has cut the block at
    // its first zero byte: a NUL in the file hides the rest of its block),
    // calling `onLine(line, length)` with each line that ends, NUL-ended.
    // Stops early, returning false, when `onLine` does. `onLine` may cut
    // the line in place. A line that starts in this block and ends in it
    // with no CR but a last one (a saved file's lines) is handed over where
    // it lies; the others are put together in the reader's own buffer.
    template <typename OnLine>
    bool Feed(char* bytes, std::size_t length, OnLine onLine) {
        char* p = bytes;
        char* end = bytes + length;
        while (p < end) {
            // The line ends at an LF or, failing one, at the character that
            // would be its (kMaxLineLength + 1)th.
            std::size_t room = kMaxLineLength + 1 - examined_;
            std::size_t span = std::min(static_cast<std::size_t>(end - p), room);
            char* lineFeed = platform::FindByte(p, span, '\n');
            if (lineFeed == nullptr && span < room) {  // the line goes on in the next bytes
                Keep(p, span);
                examined_ += span;
                return true;
            }
            std::size_t kept = lineFeed != nullptr ? static_cast<std::size_t>(lineFeed - p) : room - 1;
            if (examined_ == 0) {
                std::size_t size = kept;
                if (size != 0 && p[size - 1] == '\r') --size;
                if (platform::FindByte(p, size, '\r') == nullptr) {
                    char* line = p;
                    line[size] = '\0';  // over the CR, the LF or the character lost
                    p += kept + 1;
                    if (!onLine(line, size)) return false;
                    continue;
                }
            }
            Keep(p, kept);
            p += kept + 1;  // past the character that ended the line, which is lost
            line_[stored_] = '\0';
            std::size_t size = stored_;
            examined_ = stored_ = 0;
            if (!onLine(line_, size)) return false;
        }
        return true;
    }

    // The unfinished line at the end of the file, which is not read as a
    // line.
    const char* Unfinished() {
        line_[stored_] = '\0';
        return line_;
    }

private:
    // Appends `length` bytes to the line, leaving out every CR.
    void Keep(const char* p, std::size_t length) {
        const char* end = p + length;
        while (p < end) {
            const char* cr = platform::FindByte(p, static_cast<std::size_t>(end - p), '\r');
            const char* stop = cr != nullptr ? cr : end;
            std::memcpy(line_ + stored_, p, static_cast<std::size_t>(stop - p));
            stored_ += static_cast<std::size_t>(stop - p);
            p = cr != nullptr ? cr + 1 : end;
        }
    }

    char line_[kMaxLineLength + 1];
    std::size_t examined_ = 0;  // characters of this line seen, CRs included
    std::size_t stored_ = 0;
};

// Reads the file to its end, or until the sink stops it, through `bytes`
// (kReadSize of them) and `reader`. The sink has `bool Take(char* line,
// std::size_t length)` for each line, `bool AfterRead()` after the lines of
// each read (either false to stop), and `void TakeUnfinished(const char*
// line)` for the bytes after the last line end, if the file had any bytes
// and reading was not stopped. False when a read fails.
template <typename Sink>
bool ReadLines(platform::FileHandle handle, char* bytes, LineReader* reader, Sink* sink) {
    auto take = [sink](char* line, std::size_t length) { return sink->Take(line, length); };
    bool anyBytes = false, stopped = false;
    while (!stopped) {
        std::uint32_t got = 0;
        if (!platform::ReadFromFile(handle, bytes, kReadSize, &got)) return false;
        anyBytes = anyBytes || got != 0;
        for (std::uint32_t at = 0; at < got && !stopped; at += kBlockSize) {
            char* block = bytes + at;
            std::size_t length = std::min(kBlockSize, got - at);
            const char* nul = platform::FindByte(block, length, '\0');
            if (nul != nullptr) length = static_cast<std::size_t>(nul - block);
            stopped = !reader->Feed(block, length, take);
        }
        stopped = stopped || !sink->AfterRead();
        if (got != kReadSize) break;  // the end of the file
    }
    if (anyBytes && !stopped) sink->TakeUnfinished(reader->Unfinished());
    return true;
}

}  // namespace lastspot::store
