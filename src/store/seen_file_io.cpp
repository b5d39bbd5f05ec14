#include "store/seen_file_io.h"

#include <algorithm>
#include <cassert>
#include <new>

namespace lastspot::store {

using protocol::ErrorCode;

ErrorCode ErrorFor(FileStatus status) {
    // Each status names its code, and a status left out does not compile.
    switch (status) {
        case FileStatus::EmptyName: return ErrorCode::File;
        case FileStatus::NotFound: return ErrorCode::NoFile;
        case FileStatus::CannotOpen: return ErrorCode::Open;
        case FileStatus::CannotWrite: return ErrorCode::Write;
        case FileStatus::Ok: break;
    }
    return ErrorCode::Internal;  // Ok is no failure
}

SeenFile::~SeenFile() {
    if (temporaryPath != nullptr) {
        platform::DiscardTemporary(handle, temporaryPath.get());
    } else {
        platform::CloseFile(handle);
    }
}

char* LocateFile(const char* name) {
    char path[platform::kMaxPath];
    std::uint32_t found = platform::SearchForFile(name, path);
    if (found == 0 || found > platform::kMaxPath) return nullptr;
    if (platform::GetPathKind(path) != platform::PathKind::File) return nullptr;
    char* copy = platform::HeapCopyString(path);
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
}

FileStatus OpenSeenFile(const char* name, FileMode mode, SeenFile* file) {
    if (name[0] == '\0') return FileStatus::EmptyName;
    // A device (a serial port, a printer) is refused by its name, before
    // anything is opened: even an open to look at it can act on the port.
    if (platform::IsDeviceName(name)) return FileStatus::CannotOpen;
    if (mode == FileMode::Read) {
        if (platform::GetPathKind(name) == platform::PathKind::File) {
            file->handle = platform::OpenForReading(name);
        } else {
            char* path = LocateFile(name);
            if (path == nullptr) return FileStatus::NotFound;
            file->handle = platform::OpenForReading(path);
            platform::HeapRelease(path);
        }
        if (file->handle == platform::kInvalidFile) return FileStatus::CannotOpen;
        return FileStatus::Ok;
    }
    if (!platform::CanReplace(name)) return FileStatus::CannotOpen;
    // Beside the target, so the final rename never crosses file systems.
    std::unique_ptr<char[]> temporary(new char[platform::kTemporaryPathSize]);
    file->handle = platform::CreateTemporaryBeside(name, temporary.get());
    if (file->handle == platform::kInvalidFile) return FileStatus::CannotOpen;
    file->temporaryPath = std::move(temporary);
    return FileStatus::Ok;
}

LineWriter::LineWriter(platform::FileHandle file, std::size_t expectedBytes)
    : file_(file), capacity_(std::clamp(expectedBytes, kSmallCapacity, kLargeCapacity)) {
    if (expectedBytes >= WriteBehind::kSmallestSave) {
        try {
            behind_ = std::make_unique<WriteBehind>(file, capacity_);
        } catch (const std::bad_alloc&) {
        }  // written on this thread instead
        if (behind_ != nullptr && behind_->Running()) {
            buffer_ = behind_->Buffer();
            return;
        }
        behind_.reset();
    }
    try {
        own_.reset(new char[capacity_]);
    } catch (const std::bad_alloc&) {
        if (capacity_ == kSmallCapacity) throw;
        capacity_ = kSmallCapacity;
        own_.reset(new char[kSmallCapacity]);
    }
    buffer_ = own_.get();
}

bool LineWriter::Flush() {
    if (!failed_ && used_ != 0) {
        if (behind_ != nullptr) {
            failed_ = !behind_->Send(used_);
            buffer_ = behind_->Buffer();
        } else {
            failed_ = !WriteOut(file_, buffer_, used_, &unsent_);
        }
    }
    used_ = 0;
    return !failed_;
}

char* LineWriter::LineSpace() {
    if (used_ + kLineRoom + 2 > capacity_ && !Flush()) return nullptr;
    return failed_ ? nullptr : buffer_ + used_;
}

void LineWriter::EndLine(std::size_t length) {
    assert(length <= kLineRoom);
    buffer_[used_ + length] = '\r';
    buffer_[used_ + length + 1] = '\n';
    used_ += length + 2;
}

bool LineWriter::Finish() {
    bool flushed = Flush();
    return behind_ != nullptr ? behind_->Finish() && flushed : flushed;
}

FileStatus CommitSeenFile(SeenFile* file, const char* target) {
    // Put in the target's place only once every byte is on the disk: until
    // then the destructor removes it.
    if (!platform::FlushToDisk(file->handle)) return FileStatus::CannotWrite;
    bool replaced = platform::ReplaceWithTemporary(file->handle, file->temporaryPath.get(), target);
    file->handle = platform::kInvalidFile;
    file->temporaryPath.reset();  // the target now, or gone
    return replaced ? FileStatus::Ok : FileStatus::CannotOpen;
}

}  // namespace lastspot::store
