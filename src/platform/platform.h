// The thin platform layer: everything the library and its host program need
// from the operating system, behind one set of functions. The Windows build
// calls the real kernel and user-interface functions (platform_windows.cpp);
// every other build uses our own equivalents (platform_posix.cpp), written to
// behave the way the library relies on. This header and those two files are
// the only places that know which system they run on.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define LASTSPOT_PRINTF_LIKE(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define LASTSPOT_PRINTF_LIKE(format_index, first_arg)
#endif

namespace lastspot::platform {

// ---------------------------------------------------------------------------
// Process heap. The paths found by the file search live here; everything
// else comes from the general free store.

// Fetches the handle of the process's default heap. Called by the load hook;
// the allocation functions also fetch it themselves if it was never called.
void InitProcessHeap();

// A block of at least `size` bytes from the process heap, or nullptr when the
// heap is exhausted. The caller owns it and gives it back with HeapRelease.
void* HeapAllocate(std::size_t size);

// Gives a block from HeapAllocate back; nullptr is ignored.
void HeapRelease(void* block);

// A copy of `text` on the process heap (length plus one for the terminator),
// or nullptr when the heap is exhausted. Released with HeapRelease.
char* HeapCopyString(const char* text);

// ---------------------------------------------------------------------------
// Byte search. The first `byte` among the `length` bytes at `p`, or nullptr.
// The C library's memchr where it reads many bytes at once (glibc); on
// Windows eight bytes at a time of our own, since the msvcrt there looks at
// one byte at a time: under Wine it took 2.5 times as long, and a load spent
// a third of its time finding line ends.
inline const char* FindByte(const char* p, std::size_t length, char byte) {
#ifdef _WIN32
    // A word holds the byte where its XOR with eight copies of the byte has
    // a zero byte; the lowest such byte is found exactly.
    constexpr std::uint64_t kBytes = 0x0101010101010101u;
    const std::uint64_t pattern = kBytes * static_cast<unsigned char>(byte);
    const char* end = p + length;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        word ^= pattern;
        std::uint64_t zero = (word - kBytes) & ~word & (0x80 * kBytes);
        if (zero != 0) return p + (std::countr_zero(zero) >> 3);
    }
    for (; p < end; ++p) {
        if (*p == byte) return p;
    }
    return nullptr;
#else
    return static_cast<const char*>(std::memchr(p, byte, length));
#endif
}
inline char* FindByte(char* p, std::size_t length, char byte) {
    return const_cast<char*>(FindByte(static_cast<const char*>(p), length, byte));
}

// ---------------------------------------------------------------------------
// Bounded formatting. Every reply and every line of a seen file is formed
// here. Like the Windows formatter, it understands %s, %d and %u, writes at
// most kFormatLimit characters including the terminator, cutting longer
// output, and returns the number of characters written before the
// terminator. `out` must hold kFormatLimit characters.

inline constexpr int kFormatLimit = 1024;

int FormatBounded(char* out, const char* format, ...) LASTSPOT_PRINTF_LIKE(2, 3);

// ---------------------------------------------------------------------------
// Files. A file is open only within one command; handles are plain values.

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Whether a file that another program holds open for reading cannot be
// replaced meanwhile: so on Windows, not on POSIX systems.
#ifdef _WIN32
inline constexpr bool kOpenFilesCannotBeReplaced = true;
#else
inline constexpr bool kOpenFilesCannotBeReplaced = false;
#endif

// The longest full path the file search returns, terminator included.
inline constexpr std::uint32_t kMaxPath = 260;

// True when the system takes `path` for a device by its name alone, in any
// folder, whatever the disk holds: on Windows the reserved names (CON, PRN,
// AUX, NUL, COM0-COM9, LPT0-LPT9 and the like, with or without an
// extension, in any letter case) and the device namespace (\\.\). Such a
// path must not even be opened: opening a port can act on the hardware.
// Never true on POSIX systems, where devices are told by what they are.
bool IsDeviceName(const char* path);

// Opens an existing regular file for reading; other programs may read it
// meanwhile, but not write it. kInvalidFile when it cannot be opened or is
// not a regular file (a device, a pipe).
FileHandle OpenForReading(const char* path);

// The longest path CreateTemporaryBeside writes, terminator included.
inline constexpr std::size_t kTemporaryPathSize = 4200;

// Creates a new, empty file in the directory of `target` (for a symbolic
// link, in the directory of the file it points to) that is to take the
// target's place, opened for writing and shared with nobody; creating it
// never follows or reuses a name that is in use. A process that dies while
// the file is open leaves nothing behind:
//   - on Windows the file is hidden and goes away when its handle is closed
//     or the process ends, until ReplaceWithTemporary keeps it; its short
//     name fits the path limit wherever the target's does;
//   - on Linux it has no name at all until ReplaceWithTemporary gives it
//     one, and goes away with its descriptor; where the file system cannot
//     make such files it has a name from the start, and is locked while in
//     use.
// Its name is derived from the target's, and the next save of the same
// target (this call, first) removes every such file that no process uses
// any more: one whose process ended after it was kept or named and before
// it took the target's place. Its path goes to `pathOut`
// (kTemporaryPathSize characters), empty while it has no name.
// kInvalidFile when it cannot be created.
FileHandle CreateTemporaryBeside(const char* target, char* pathOut);

// Puts the temporary file from CreateTemporaryBeside (`file`, named
// `temporaryPath`) in the place of `target` in one step (the target is
// either the old file or the new one, never a mix) and makes that durable.
// An existing target keeps its permissions (and, where the system lets us,
// its owner; on Windows its attributes, security and streams); a symbolic
// link keeps pointing where it did, at the new content. Closes `file`
// whatever happens; false when the target cannot be replaced, and then the
// temporary file is gone and the target is as it was. What was written
// must already be on the disk (FlushToDisk).
bool ReplaceWithTemporary(FileHandle file, const char* temporaryPath, const char* target);

// Closes a temporary file from CreateTemporaryBeside that is not to
// replace anything, and removes it.
void DiscardTemporary(FileHandle file, const char* temporaryPath);

// Whether FlushToDisk, and the flush of a folder after a replace, reach
// the disk. Only fuzz builds turn them off (LASTSPOT_SKIP_DISK_FLUSH): a
// fuzzer saves thousands of files a second that nobody reads after a power
// cut, and waiting for the disk would be most of its time.
#ifdef LASTSPOT_SKIP_DISK_FLUSH
inline constexpr bool kFlushesToDisk = false;
#else
inline constexpr bool kFlushesToDisk = true;
#endif

// Reads up to `size` bytes, fewer only at the end of the file; false when
// the read fails. `*bytesRead` is 0 at the end of the file and on failure.
bool ReadFromFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead);

// Writes all `size` bytes; false when any of them could not be written.
bool WriteToFile(FileHandle file, const void* data, std::uint32_t size);

// Forces what was written onto the disk (unless kFlushesToDisk is false);
// false when that fails.
bool FlushToDisk(FileHandle file);

// Asks the system to start putting what was written so far onto the disk,
// without waiting for it, so that a later FlushToDisk has less left to wait
// for. Promises nothing and reports nothing; where the system takes no such
// request it does nothing.
void StartWriteBack(FileHandle file);

// The file's size in bytes; 0 when it cannot be told.
std::uint64_t FileSize(FileHandle file);

// Closes the handle. kInvalidFile is ignored.
void CloseFile(FileHandle file);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const char* path);

// Missing, a regular file, a directory, or something else (a device, a
// pipe, a socket).
enum class PathKind { Missing, File, Directory, Other };

// What `path` names, if anything (following symbolic links).
PathKind GetPathKind(const char* path);

// True when `path` names nothing, or a regular file that this process could
// replace right now: not read-only for us, not held open by another
// program (on Windows, a program that lets go within a short wait does not
// count).
bool CanReplace(const char* path);

// The platform's search for a file name, with the contract of the Windows
// path search: on success the full path is in `pathOut` (kMaxPath
// characters) and the result is its length; 0 when nothing was found; a
// result above kMaxPath when the full path does not fit.
std::uint32_t SearchForFile(const char* name, char* pathOut);

// ---------------------------------------------------------------------------
// Threads. A large load reads its file on a second thread while the
// command's own thread builds the table; the second thread ends before the
// command returns. Nothing else runs beside a command.

// A thread from StartThread, to be joined exactly once.
struct Thread;

// Runs `run(argument)` on a new thread with a small stack; nullptr when no
// thread can be started, and then nothing runs.
Thread* StartThread(void (*run)(void* argument), void* argument);

// Waits until the thread's function has returned, and releases the thread.
void JoinThread(Thread* thread);

// A counting semaphore, for handing blocks of work between two threads.
struct Semaphore;

// A semaphore holding `count`; nullptr when none can be had.
Semaphore* NewSemaphore(unsigned count);
// Adds one to the count, waking a thread that waits.
void PostSemaphore(Semaphore* semaphore);
// Waits while the count is zero, then takes one from it.
void WaitSemaphore(Semaphore* semaphore);
// Releases the semaphore, which no thread may be waiting on; nullptr is
// ignored.
void FreeSemaphore(Semaphore* semaphore);

// ---------------------------------------------------------------------------
// Dynamic libraries, for the substitute host and the tests that load the
// built library the way a host does.

using LibraryHandle = void*;

// Loads a library by file name; nullptr on failure, with the reason in
// LibraryError().
LibraryHandle OpenLibrary(const char* path);
void* FindExport(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);
const char* LibraryError();

// The file name of the library built beside the running program
// ("liblastspot.so", "lastspot.dll").
const char* DefaultLibraryName();

// The directory of the running executable, with a trailing separator, into
// `out`; false when it does not fit `size`.
bool ExecutableDirectory(char* out, std::size_t size);

// ---------------------------------------------------------------------------
// Fault injection, for tests that prove a failing heap, read, write, flush
// or rename loses nothing. Inactive unless a test arms it. UnnamedFile
// stands for a file system that cannot make files without a name: the
// temporary file of a save then takes the named way (Linux only).
// ThreadStart fails StartThread, so a large load takes the one-thread way.

enum class FaultPoint {
    HeapAlloc,
    FileRead,
    FileWrite,
    FileFlush,
    FileReplace,
    UnnamedFile,
    ThreadStart,
    Count
};

// The call numbered `callsBefore + 1` at that point fails from now on
// (0: the very next call); a negative number disarms it.
void FailAfter(FaultPoint point, int callsBefore);

// Disarms every fault point.
void ClearFaults();

// True while the point is armed and its failure has not happened yet.
bool FaultArmed(FaultPoint point);

// Used by the platform implementations: true when this call must fail.
bool ShouldFail(FaultPoint point);

}  // namespace lastspot::platform
