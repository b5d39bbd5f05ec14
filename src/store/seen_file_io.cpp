#include "store/seen_file_io.h"

#include <cassert>
#include <new>

#include "protocol/reply.h"

namespace lastspot::store {

using protocol::ErrorCode;
using protocol::FailWith;

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

bool OpenSeenFile(const char* name, FileMode mode, char* buffer, SeenFile* file) {
    if (name[0] == '\0') return FailWith(buffer, ErrorCode::File);
    // A device (a serial port, a printer) is refused by its name, before
    // anything is opened: even an open to look at it can act on the port.
    if (platform::IsDeviceName(name)) return FailWith(buffer, ErrorCode::Open);
    if (mode == FileMode::Read) {
        if (platform::GetPathKind(name) == platform::PathKind::File) {
            file->handle = platform::OpenForReading(name);
        } else {
            char* path = LocateFile(name);
            if (path == nullptr) return FailWith(buffer, ErrorCode::NoFile);
            file->handle = platform::OpenForReading(path);
            platform::HeapRelease(path);
        }
        if (file->handle == platform::kInvalidFile) return FailWith(buffer, ErrorCode::Open);
        return true;
    }
    if (!platform::CanReplace(name)) return FailWith(buffer, ErrorCode::Open);
    // Beside the target, so the final rename never crosses file systems.
    std::unique_ptr<char[]> temporary(new char[platform::kTemporaryPathSize]);
    file->handle = platform::CreateTemporaryBeside(name, temporary.get());
    if (file->handle == platform::kInvalidFile) return FailWith(buffer, ErrorCode::Open);
    file->temporaryPath = std::move(temporary);
    return true;
}

LineWriter::LineWriter(platform::FileHandle file) : file_(file), buffer_(new char[kCapacity]) {}

bool LineWriter::Flush() {
    if (!failed_ && used_ != 0) {
        failed_ = !platform::WriteToFile(file_, buffer_.get(), static_cast<std::uint32_t>(used_));
    }
    used_ = 0;
    return !failed_;
}

char* LineWriter::LineSpace() {
    if (used_ + kLineRoom + 2 > kCapacity && !Flush()) return nullptr;
    return failed_ ? nullptr : buffer_.get() + used_;
}

void LineWriter::EndLine(std::size_t length) {
    assert(length <= kLineRoom);
    buffer_[used_ + length] = '\r';
    buffer_[used_ + length + 1] = '\n';
    used_ += length + 2;
}

bool LineWriter::Finish() { return Flush(); }

bool CommitSeenFile(SeenFile* file, const char* target, char* buffer) {
    // Put in the target's place only once every byte is on the disk: until
    // then the destructor removes it.
    if (!platform::FlushToDisk(file->handle)) return FailWith(buffer, ErrorCode::Write);
    bool replaced = platform::ReplaceWithTemporary(file->handle, file->temporaryPath.get(), target);
    file->handle = platform::kInvalidFile;
    file->temporaryPath.reset();  // the target now, or gone
    return replaced || FailWith(buffer, ErrorCode::Open);
}

}  // namespace lastspot::store
