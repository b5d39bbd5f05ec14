// The platform layer on POSIX systems: our own equivalents of the Windows
// functions the library was designed around, with the same contracts (see
// platform.h). Files are plain descriptors; the process heap is malloc.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace lastspot::platform {

// ---------------------------------------------------------------------------
// Process heap

void InitProcessHeap() {}

void* HeapAllocate(std::size_t size) {
    if (ShouldFail(FaultPoint::HeapAlloc)) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void HeapRelease(void* block) { std::free(block); }

char* HeapCopyString(const char* text) {
    std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(HeapAllocate(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

// ---------------------------------------------------------------------------
// Bounded formatting

namespace {

// The output of one FormatBounded call: characters past the limit are
// dropped, so the result is the prefix that fits.
class BoundedOutput {
public:
    explicit BoundedOutput(char* out) : at_(out), start_(out), end_(out + kFormatLimit - 1) {}

    void Put(char c) {
        if (at_ < end_) *at_++ = c;
    }
    void Put(const char* text) {
        std::size_t length = strnlen(text, static_cast<std::size_t>(end_ - at_));
        std::memcpy(at_, text, length);
        at_ += length;
    }
    void PutUnsigned(unsigned long long value, bool negative) {
        char digits[24];
        char* first = digits + sizeof digits;
        *--first = '\0';
        do {
            *--first = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        if (negative) *--first = '-';
        Put(first);
    }
    int Finish() {
        *at_ = '\0';
        return static_cast<int>(at_ - start_);
    }

private:
    char* at_;
    char* start_;
    char* end_;
};

}  // namespace

// Our own formatter rather than vsnprintf: it knows only the conversions
// the Windows formatter is used for (%s, %d, %u and %%), and it forms the
// seen file's lines several times faster. A null string prints as
// "(null)" instead of being read; any other character after "%" is written
// as it stands.
int FormatBounded(char* out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    BoundedOutput output(out);
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            output.Put(*f);
            continue;
        }
        if (f[1] == '\0') {
            output.Put('%');
            break;
        }
        switch (*++f) {
            case 's': {
                const char* text = va_arg(args, const char*);
                output.Put(text != nullptr ? text : "(null)");
                break;
            }
            case 'd': {
                long long value = va_arg(args, int);
                output.PutUnsigned(static_cast<unsigned long long>(value < 0 ? -value : value),
                                   value < 0);
                break;
            }
            case 'u':
                output.PutUnsigned(va_arg(args, unsigned int), false);
                break;
            default:
                output.Put(*f);
                break;
        }
    }
    va_end(args);
    return output.Finish();
}

// ---------------------------------------------------------------------------
// Files

bool IsDeviceName(const char*) { return false; }

FileHandle OpenForReading(const char* path) {
    // Not blocking in the open itself: a pipe would wait for a writer.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidFile;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return kInvalidFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

namespace {

// Where a write to `target` really lands: for a symbolic link, the file it
// points to; otherwise `target` itself. `out` holds PATH_MAX characters.
const char* FinalTarget(const char* target, char* out) {
    struct stat info;
    if (::lstat(target, &info) == 0 && S_ISLNK(info.st_mode) && ::realpath(target, out) != nullptr) {
        return out;
    }
    return target;
}

}  // namespace

FileHandle CreateTemporaryBeside(const char* target, char* pathOut) {
    char resolved[PATH_MAX];
    const char* final = FinalTarget(target, resolved);
    const char* slash = std::strrchr(final, '/');
    std::size_t directoryLength = slash == nullptr ? 0 : static_cast<std::size_t>(slash - final) + 1;
    if (directoryLength + 32 > kTemporaryPathSize) return kInvalidFile;
    static std::uint32_t counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint32_t unique = (static_cast<std::uint32_t>(now.tv_nsec) ^
                                static_cast<std::uint32_t>(::getpid()) << 16) +
                               ++counter * 2654435761u;
        std::memcpy(pathOut, final, directoryLength);
        std::snprintf(pathOut + directoryLength, 32, ".lastspot-%08x", unique);
        // Exclusive and not through a link: a name planted beforehand is
        // never written through, only skipped.
        int fd = ::open(pathOut, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST && errno != EINTR) return kInvalidFile;
    }
    return kInvalidFile;
}

// A new file here outlives its descriptor anyway.
bool KeepWhenClosed(FileHandle) { return true; }

bool ReadFromFile(FileHandle file, void* buffer, std::uint32_t size,
                  std::uint32_t* bytesRead) {
    *bytesRead = 0;
    if (ShouldFail(FaultPoint::FileRead)) return false;
    // A read may return fewer bytes than asked before the end of the file;
    // only a read of nothing is the end.
    char* next = static_cast<char*>(buffer);
    while (*bytesRead < size) {
        ssize_t got = ::read(static_cast<int>(file), next + *bytesRead, size - *bytesRead);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        *bytesRead += static_cast<std::uint32_t>(got);
    }
    return true;
}

bool WriteToFile(FileHandle file, const void* data, std::uint32_t size) {
    if (ShouldFail(FaultPoint::FileWrite)) return false;
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t put = ::write(static_cast<int>(file), next, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        next += put;
        size -= static_cast<std::uint32_t>(put);
    }
    return true;
}

bool FlushToDisk(FileHandle file) {
    if (ShouldFail(FaultPoint::FileFlush)) return false;
    return ::fsync(static_cast<int>(file)) == 0;
}

void StartWriteBack(FileHandle file) {
#if defined(__linux__)
    ::sync_file_range(static_cast<int>(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

bool ReplaceFileAtomically(const char* source, const char* target) {
    if (ShouldFail(FaultPoint::FileReplace)) return false;
    char resolved[PATH_MAX];
    const char* final = FinalTarget(target, resolved);
    struct stat old;
    if (::stat(final, &old) == 0) {
        // The new file takes the old one's permissions, and its owner when
        // we may give it (root may; others keep their own).
        ::chmod(source, old.st_mode & 07777);
        if (::chown(source, old.st_uid, old.st_gid) != 0) {
            // Not ours to give: the file stays ours, as any new file would be.
        }
    }
    if (std::rename(source, final) != 0) return false;
    // The rename itself is durable only once the directory that holds the
    // target is flushed.
    char directory[PATH_MAX];
    const char* slash = std::strrchr(final, '/');
    if (slash == nullptr) {
        std::strcpy(directory, ".");
    } else {
        std::size_t length = slash == final ? 1 : static_cast<std::size_t>(slash - final);
        std::memcpy(directory, final, length);
        directory[length] = '\0';
    }
    int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool RemoveFile(const char* path) { return ::unlink(path) == 0; }

PathKind GetPathKind(const char* path) {
    struct stat info;
    if (::stat(path, &info) != 0) return PathKind::Missing;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

bool CanReplace(const char* path) {
    struct stat info;
    if (::lstat(path, &info) != 0) return errno == ENOENT;
    // Through a link, what counts is the file it points to (a dangling
    // link is not replaced).
    if (S_ISLNK(info.st_mode) && ::stat(path, &info) != 0) return false;
    return S_ISREG(info.st_mode) && ::access(path, W_OK) == 0;
}

namespace {

// Joins `directory` (ending in a separator, or empty) and `name` into
// `pathOut` when the name names something there; returns what the path
// search returns for it (see SearchForFile), 0 when nothing is there.
std::uint32_t TryPath(const char* directory, const char* name, char* pathOut) {
    char full[8192];
    int length = std::snprintf(full, sizeof full, "%s%s", directory, name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof full) return 0;
    struct stat info;
    if (::stat(full, &info) != 0) return 0;
    auto needed = static_cast<std::uint32_t>(length);
    if (needed + 1 > kMaxPath) return needed + 1;
    std::memcpy(pathOut, full, needed + 1);
    return needed;
}

}  // namespace

std::uint32_t SearchForFile(const char* name, char* pathOut) {
    if (name[0] == '\0') return 0;
    if (name[0] == '/') return TryPath("", name, pathOut);
    // Where the Windows search looks first: the program's own directory,
    // then the current directory.
    char directory[4096];
    if (ExecutableDirectory(directory, sizeof directory)) {
        std::uint32_t found = TryPath(directory, name, pathOut);
        if (found != 0) return found;
    }
    if (::getcwd(directory, sizeof directory - 1) == nullptr) return 0;
    std::size_t length = std::strlen(directory);
    if (length == 0 || directory[length - 1] != '/') {
        directory[length] = '/';
        directory[length + 1] = '\0';
    }
    return TryPath(directory, name, pathOut);
}

// ---------------------------------------------------------------------------
// Dynamic libraries

LibraryHandle OpenLibrary(const char* path) { return ::dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* FindExport(LibraryHandle library, const char* name) { return ::dlsym(library, name); }

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) ::dlclose(library);
}

const char* LibraryError() {
    const char* error = ::dlerror();
    return error != nullptr ? error : "unknown error";
}

const char* DefaultLibraryName() { return "liblastspot.so"; }

bool ExecutableDirectory(char* out, std::size_t size) {
    if (size < 2) return false;
    ssize_t length = ::readlink("/proc/self/exe", out, size - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= size - 1) return false;
    out[length] = '\0';
    char* slash = std::strrchr(out, '/');
    if (slash == nullptr) return false;
    slash[1] = '\0';
    return true;
}

}  // namespace lastspot::platform
