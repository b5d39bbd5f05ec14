#include "store/write_behind.h"

#include <new>

namespace lastspot::store {

bool WriteOut(platform::FileHandle file, const char* bytes, std::size_t size, std::size_t* unsent) {
    if (!platform::WriteToFile(file, bytes, static_cast<std::uint32_t>(size))) return false;
    // The disk starts on what is written while the rest is formed, so the
    // flush at the end waits only for the last stretch.
    *unsent += size;
    if (*unsent >= kWriteBackStretch) {
        platform::StartWriteBack(file);
        *unsent = 0;
    }
    return true;
}

WriteBehind::WriteBehind(platform::FileHandle file, std::size_t capacity) : file_(file) {
    try {
        for (auto& buffer : buffers_) buffer.reset(new char[capacity]);
    } catch (const std::bad_alloc&) {
        return;  // written on the command's thread instead
    }
    full_ = platform::NewSemaphore(0);
    free_ = platform::NewSemaphore(1);  // the buffer not filled first
    if (full_ != nullptr && free_ != nullptr) thread_ = platform::StartThread(Run, this);
}

WriteBehind::~WriteBehind() {
    Finish();
    platform::FreeSemaphore(full_);
    platform::FreeSemaphore(free_);
}

bool WriteBehind::Send(std::size_t used) {
    HandOver(used, false);
    platform::WaitSemaphore(free_);
    return !failed_.load(std::memory_order_relaxed);
}

bool WriteBehind::Finish() {
    if (thread_ != nullptr) {
        HandOver(0, true);
        platform::JoinThread(thread_);
        thread_ = nullptr;
    }
    return !failed_.load(std::memory_order_relaxed);
}

void WriteBehind::HandOver(std::size_t used, bool last) {
    std::size_t turn = handed_++ % 2;
    sizes_[turn] = used;
    last_[turn] = last;
    platform::PostSemaphore(full_);
}

void WriteBehind::Run(void* self) { static_cast<WriteBehind*>(self)->Write(); }

// On the writing thread. Allocates nothing and throws nothing.
void WriteBehind::Write() {
    std::size_t unsent = 0;
    for (;;) {
        platform::WaitSemaphore(full_);
        std::size_t turn = written_++ % 2;
        if (last_[turn]) return;
        if (!failed_.load(std::memory_order_relaxed) &&
            !WriteOut(file_, buffers_[turn].get(), sizes_[turn], &unsent)) {
            failed_.store(true, std::memory_order_relaxed);
        }
        platform::PostSemaphore(free_);
    }
}

}  // namespace lastspot::store
