// A large save's writes, made on a second thread while the command's
// thread forms the next lines: the copy into the system's file cache and
// the requests to start writing back no longer wait on the forming, nor the
// forming on them.
//
// Two buffers take turns: the command's thread fills one while the other
// is written. `full_` counts the buffers handed over for writing, `free_`
// those written and free to fill again; a buffer handed over as the last
// ends the thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace lastspot::store {

// Writes `size` bytes to `file`, asking the system to start putting them on
// the disk once kWriteBackStretch bytes are written since it last asked
// (`*unsent` counts them). False when the write fails.
bool WriteOut(platform::FileHandle file, const char* bytes, std::size_t size, std::size_t* unsent);

// At most what a large buffer holds when it is written (nearly 1 MiB), so
// the disk is asked after every such buffer and the flush at the end waits
// for about one buffer, not up to 4 MiB.
inline constexpr std::size_t kWriteBackStretch = 512 * 1024;

class WriteBehind {
public:
    // Saves expected to be smaller than this write on the command's
    // thread: too few buffers' worth for the turns to pay for the thread.
    static constexpr std::size_t kSmallestSave = 4 * 1024 * 1024;

    // Two buffers of `capacity` bytes and the thread that writes them to
    // `file`; Running() is false when either cannot be had.
    WriteBehind(platform::FileHandle file, std::size_t capacity);
    // Waits for the writes handed over and the thread's end.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    bool Running() const { return thread_ != nullptr; }

    // The buffer to fill.
    char* Buffer() const { return buffers_[handed_ % 2].get(); }

    // Hands the buffer's first `used` bytes over for writing, and waits
    // until the other buffer is free to fill; false once a write has failed
    // (nothing after it is written).
    bool Send(std::size_t used);

    // Waits until everything handed over is written and the thread has
    // ended; false when a write failed.
    bool Finish();

private:
    static void Run(void* self);
    void Write();
    void HandOver(std::size_t used, bool last);

    platform::FileHandle file_;
    std::unique_ptr<char[]> buffers_[2];
    std::size_t sizes_[2] = {};
    bool last_[2] = {};
    platform::Semaphore* full_ = nullptr;
    platform::Semaphore* free_ = nullptr;
    platform::Thread* thread_ = nullptr;
    std::atomic<bool> failed_{false};
    std::size_t handed_ = 0;   // buffers the command's thread has handed over
    std::size_t written_ = 0;  // buffers the writing thread has taken
};

}  // namespace lastspot::store
