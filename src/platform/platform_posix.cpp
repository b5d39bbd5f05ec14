// The platform layer on POSIX systems: our own equivalents of the Windows
// functions the library was designed around, with the same contracts (see
// platform.h). Files are plain descriptors; the process heap is malloc.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/file.h>
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
                output.PutUnsigned(static_cast<unsigned long long>(value < 0 ? -value : value), value < 0);
                break;
            }
            case 'u': output.PutUnsigned(va_arg(args, unsigned int), false); break;
            default: output.Put(*f); break;
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

// The last part of `path`, after its folder (which ends in a separator).
const char* NameIn(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

// Opens the folder of which `folder` is the path with its separator
// ("" for the current directory), to make changes to its names durable.
void FlushFolder(const char* folder, std::size_t folderLength) {
    if (!kFlushesToDisk) return;
    char directory[PATH_MAX];
    if (folderLength == 0) {
        std::strcpy(directory, ".");
    } else {
        std::memcpy(directory, folder, folderLength);
        directory[folderLength] = '\0';
    }
    int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The names a save's temporary file may take, derived from its target's
// name so that a later save of the same target finds what a dead process
// left behind: ".", the target's name (up to 40 bytes of it), ".", a hash
// of the whole name in eight hex digits, ".lastspot-" and a slot digit, as
// in ".t.seen.e5eaa50c.lastspot-0". Processes saving one target at the
// same time take different slots (a slot is held for an instant on the
// way without a name, for the whole save on the named way). Two targets
// whose names share the prefix and the hash share the slots too, which
// costs nothing: a slot is only ever taken from a process that has ended.
// Should every slot be taken (by more saves of one target at once, or by
// files no save can tell about, on a file system without locks) the save
// still goes ahead under a unique name in place of the digit, which no
// later save looks for. Every save looks at every slot, so they are few.
constexpr int kSlots = 4;
constexpr int kNameAttempts = kSlots + 100;
constexpr std::size_t kNamePrefix = 40;
constexpr std::size_t kTemporaryNameSize = 1 + kNamePrefix + 1 + 8 + 18 + 1;

// Writes the part of the target's temporary names that every attempt
// shares into `out`; returns where EndTemporaryName writes the rest.
char* TemporaryNameStem(const char* targetName, char* out) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char* c = targetName; *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    std::size_t length = strnlen(targetName, kNamePrefix);
    // Not in the middle of a UTF-8 sequence.
    while (length > 0 && targetName[length] != '\0' &&
           (static_cast<unsigned char>(targetName[length]) & 0xC0) == 0x80) {
        --length;
    }
    int written = std::snprintf(out, kTemporaryNameSize, ".%.*s.%08x.lastspot-", static_cast<int>(length),
                                targetName, static_cast<unsigned>(hash));
    return out + written;
}

// Ends a temporary name for attempt `attempt`: its slot digit, or past the
// slots a unique part.
void EndTemporaryName(int attempt, char* end) {
    if (attempt < kSlots) {
        end[0] = static_cast<char>('0' + attempt);
        end[1] = '\0';
        return;
    }
    static std::uint32_t counter = 0;
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint32_t unique = (static_cast<std::uint32_t>(now.tv_nsec) ^ static_cast<std::uint32_t>(::getpid())
                                                                          << 16) +
                           ++counter * 2654435761u;
    std::snprintf(end, 9, "%08x", unique);
}

// A process holds an exclusive lock on its temporary file for as long as
// the file is in use, and the system lets go of it when the process ends:
// so a temporary file that can be locked was left behind. The lock belongs
// to the open file, not the process, so a save also sees the files of its
// own process that are still open as in use.
bool LockAsOwner(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    // A file system without locks: the file stays unlocked, and no save
    // can tell whether it was left behind, so none ever removes it.
    return result == 0 || (errno != EWOULDBLOCK && errno != EAGAIN);
}

// True when `path` still names the open file `fd`.
bool StillNamed(const char* path, int fd) {
    struct stat named, opened;
    return ::lstat(path, &named) == 0 && ::fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

// Removes the temporary file at `path` if its process has ended; true when
// the name is free now (nothing was there, or it was removed). Anything
// that cannot be told apart (not a regular file, not ours to open, locked)
// is left alone.
bool RemoveIfAbandoned(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat info;
    // Checked again once locked: the name may have been taken over since
    // it was opened.
    bool removed = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                   StillNamed(path, fd) && ::unlink(path) == 0;
    ::close(fd);
    return removed;
}

// A new file with one of the target's temporary names, locked: the way
// for file systems that cannot make a file without a name. `path` holds
// the folder (`folderLength` characters) and receives the name.
int CreateNamedTemporary(char* path, std::size_t folderLength, const char* targetName) {
    char* end = TemporaryNameStem(targetName, path + folderLength);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        EndTemporaryName(attempt, end);
        // Exclusive and not through a link: a name planted beforehand is
        // never written through, only skipped.
        int fd;
        do {
            fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        // Between the create and the lock another save may have taken the
        // new file for one left behind and removed it: then the next slot.
        if (LockAsOwner(fd) && StillNamed(path, fd)) return fd;
        ::close(fd);
    }
    return -1;
}

// Gives the unnamed file `fd` one of the target's temporary names, in the
// folder `path` holds (`folderLength` characters); the name goes to `path`.
// Through /proc, which any process may use, or else through the system
// call's own way, which some systems allow only to privileged processes.
bool NameUnnamed(int fd, char* path, std::size_t folderLength, const char* targetName) {
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    char* end = TemporaryNameStem(targetName, path + folderLength);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        EndTemporaryName(attempt, end);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return true;
#ifdef AT_EMPTY_PATH
        if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return true;
#endif
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace

FileHandle CreateTemporaryBeside(const char* target, char* pathOut) {
    char resolved[PATH_MAX];
    const char* final = FinalTarget(target, resolved);
    const char* name = NameIn(final);
    auto folderLength = static_cast<std::size_t>(name - final);
    if (folderLength + kTemporaryNameSize > kTemporaryPathSize) return kInvalidFile;
    std::memcpy(pathOut, final, folderLength);

    // First what earlier saves of this target left behind.
    char* end = TemporaryNameStem(name, pathOut + folderLength);
    for (int slot = 0; slot < kSlots; ++slot) {
        EndTemporaryName(slot, end);
        RemoveIfAbandoned(pathOut);
    }
    pathOut[folderLength] = '\0';

#ifdef O_TMPFILE
    // A file without a name goes away with its descriptor, however the
    // process ends. It is locked before ReplaceWithTemporary names it.
    if (!ShouldFail(FaultPoint::UnnamedFile)) {
        int fd = ::open(folderLength == 0 ? "." : pathOut, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0 && LockAsOwner(fd)) {
            pathOut[0] = '\0';
            return fd;
        }
        if (fd >= 0) ::close(fd);
        // Otherwise (the file system cannot make such files, or the system
        // predates them) the named way below.
    }
#endif
    int fd = CreateNamedTemporary(pathOut, folderLength, name);
    return fd < 0 ? kInvalidFile : fd;
}

bool ReplaceWithTemporary(FileHandle file, const char* temporaryPath, const char* target) {
    int fd = static_cast<int>(file);
    char resolved[PATH_MAX];
    const char* final = FinalTarget(target, resolved);
    const char* name = NameIn(final);
    auto folderLength = static_cast<std::size_t>(name - final);
    // The new file takes the old one's permissions, and its owner when we
    // may give it (root may; others keep their own).
    struct stat old;
    if (::stat(final, &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not ours to give: the file stays ours, as any new file would be.
        }
    }
    // A file without a name takes one of the target's temporary names
    // first: no call puts it in an existing file's place at once.
    char linked[PATH_MAX + kTemporaryNameSize];
    const char* source = temporaryPath;
    bool replaced = false;
    if (!ShouldFail(FaultPoint::FileReplace)) {
        if (temporaryPath[0] == '\0') {
            std::memcpy(linked, final, folderLength);
            source = folderLength < PATH_MAX && NameUnnamed(fd, linked, folderLength, name) ? linked : "";
        }
        replaced = source[0] != '\0' && std::rename(source, final) == 0;
    }
    // While the file is still locked, its name is nobody else's to remove.
    if (!replaced && source[0] != '\0') ::unlink(source);
    ::close(fd);
    // The rename itself is durable only once the folder that holds the
    // target is flushed.
    if (replaced) FlushFolder(final, folderLength);
    return replaced;
}

void DiscardTemporary(FileHandle file, const char* temporaryPath) {
    if (temporaryPath[0] != '\0') ::unlink(temporaryPath);
    CloseFile(file);
}

bool ReadFromFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
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
    return !kFlushesToDisk || ::fsync(static_cast<int>(file)) == 0;
}

std::uint64_t FileSize(FileHandle file) {
    struct stat status;
    if (::fstat(static_cast<int>(file), &status) != 0 || status.st_size < 0) return 0;
    return static_cast<std::uint64_t>(status.st_size);
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
// Threads

struct Thread {
    pthread_t id;
    void (*run)(void*);
    void* argument;
};

struct Semaphore {
    sem_t count;
};

namespace {

void* RunThread(void* thread) {
    auto* self = static_cast<Thread*>(thread);
    self->run(self->argument);
    return nullptr;
}

}  // namespace

Thread* StartThread(void (*run)(void* argument), void* argument) {
    if (ShouldFail(FaultPoint::ThreadStart)) return nullptr;
    auto* thread = static_cast<Thread*>(std::malloc(sizeof(Thread)));
    if (thread == nullptr) return nullptr;
    thread->run = run;
    thread->argument = argument;
    pthread_attr_t attributes;
    bool started = false;
    if (::pthread_attr_init(&attributes) == 0) {
        ::pthread_attr_setstacksize(&attributes, 256 * 1024);
        started = ::pthread_create(&thread->id, &attributes, RunThread, thread) == 0;
        ::pthread_attr_destroy(&attributes);
    }
    if (!started) {
        std::free(thread);
        return nullptr;
    }
    return thread;
}

void JoinThread(Thread* thread) {
    ::pthread_join(thread->id, nullptr);
    std::free(thread);
}

Semaphore* NewSemaphore(unsigned count) {
    auto* semaphore = static_cast<Semaphore*>(std::malloc(sizeof(Semaphore)));
    if (semaphore != nullptr && ::sem_init(&semaphore->count, 0, count) != 0) {
        std::free(semaphore);
        return nullptr;
    }
    return semaphore;
}

void PostSemaphore(Semaphore* semaphore) { ::sem_post(&semaphore->count); }

void WaitSemaphore(Semaphore* semaphore) {
    while (::sem_wait(&semaphore->count) != 0 && errno == EINTR) {
    }
}

void FreeSemaphore(Semaphore* semaphore) {
    if (semaphore == nullptr) return;
    ::sem_destroy(&semaphore->count);
    std::free(semaphore);
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
