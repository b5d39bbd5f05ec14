// A large seen file read on a second thread: that thread reads the file and
// cuts it into lines (line_reader.h), and hands them over in batches, while
// the command's thread takes the lines and builds the table. A load so
// spends about as long as building alone takes.
//
// Two semaphores pass kBatches batches around a ring: `full_` counts those
// the reading thread has filled, `free_` those the taking thread has given
// back. The reading thread fills one batch at a time and ends with a batch
// marked last, whatever happens; the taking thread gives every batch back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "seen/record_heap.h"
#include "store/line_reader.h"

namespace lastspot::store {

// Lines, packed back to back as a 4-byte header (the length, with
// kUnfinished set for the bytes after the file's last line end), the
// line's bytes and a NUL.
struct LineBatch {
    // Each batch handed over wakes the other thread; 256 KiB batches made
    // 10 loads of 1M records 0.89 s, against 0.94 s with 64 KiB (and 1.04
    // s on one thread).
    static constexpr std::size_t kBytes = 256 * 1024;
    static constexpr std::uint32_t kUnfinished = 0x80000000u;
    static constexpr std::size_t kLargestLine = 4 + kMaxLineLength + 1;

    // Calls `take(line, length)` for each line in order, until it returns
    // false (then so does this), and `unfinished(line)` for an unfinished
    // line. The lines may be cut in place.
    template <typename Take, typename Unfinished>
    bool ForEachLine(Take take, Unfinished unfinished) {
        for (std::size_t at = 0; at < used;) {
            std::uint32_t header;
            std::memcpy(&header, bytes + at, sizeof header);
            std::size_t length = header & ~kUnfinished;
            char* line = bytes + at + sizeof header;
            at += sizeof header + length + 1;
            if ((header & kUnfinished) != 0) {
                unfinished(line);
            } else if (!take(line, length)) {
                return false;
            }
        }
        return true;
    }

    char bytes[kBytes];
    std::size_t used = 0;
    // Blocks the taking thread will soon fill with records: the reading
    // thread has their pages backed (platform::PrepareForWriting) when the
    // batch comes back to it, before it fills the batch again.
    seen::RecordHeap::NewBlocks fresh;
    bool last = false;        // the reading thread's final batch
    bool readFailed = false;  // set on the last batch when a read failed
};

class ReadAhead {
public:
    // Files smaller than this are read on the command's thread: starting a
    // thread would cost more than it wins.
    static constexpr std::uint64_t kSmallestFile = 1024 * 1024;

    // Starts reading `file` on a second thread, if one can be had with the
    // memory it needs (Running() tells); otherwise nothing was read.
    explicit ReadAhead(platform::FileHandle file);
    // Stops the reading, waits for the thread's end and releases everything.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    bool Running() const { return thread_ != nullptr; }

    // The next batch of lines, once the reading thread has filled it; held
    // by the caller until GiveBack. After the batch marked last, there is
    // none.
    LineBatch* Next();
    // Returns the batch from Next to the reading thread; with `stop`, the
    // thread reads no further and soon sends its last batch.
    void GiveBack(bool stop);

private:
    static constexpr std::size_t kBatches = 4;

    // The reading thread's sink (line_reader.h): copies each line into the
    // batch being filled, handing that over when the next line might not
    // fit, or at the end of a read when it has held lines since an earlier
    // one. So a batch goes over about once a read in a saved file, and the
    // reading stops within two reads of the taking thread's asking even in
    // a file of few lines.
    struct Filler {
        ReadAhead* ahead;
        LineBatch* batch;
        std::size_t reads = 0;      // reads whose lines are all taken
        std::size_t firstRead = 0;  // the read of the batch's first line
        bool Take(char* line, std::size_t length);
        void TakeUnfinished(const char* line);
        bool AfterRead();
        // Hands the batch over and starts the next; false when the reading
        // is to stop.
        bool PassOn();
        void Append(const char* line, std::size_t length, std::uint32_t flags);
    };

    static void Run(void* self);
    void Read();
    // The next batch for the reading thread to fill, once given back.
    LineBatch* NextToFill();

    platform::FileHandle file_;
    std::unique_ptr<LineBatch> batches_[kBatches];
    std::unique_ptr<char[]> readBytes_;
    std::unique_ptr<LineReader> reader_;
    platform::Semaphore* full_ = nullptr;
    platform::Semaphore* free_ = nullptr;
    platform::Thread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::size_t filled_ = 0;  // batches the reading thread has taken to fill
    std::size_t taken_ = 0;   // batches the taking thread has had from Next
    LineBatch* held_ = nullptr;
    bool lastTaken_ = false;
};

}  // namespace lastspot::store
