// The platform layer on Windows: the real kernel and user-interface
// functions, called with the arguments the library's design relies on (see
// platform.h for each contract).
#include <windows.h>

#include <cstdarg>
#include <initializer_list>

#include "platform/platform.h"

namespace lastspot::platform {

namespace {

HANDLE processHeap = nullptr;

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

}  // namespace

// ---------------------------------------------------------------------------
// Process heap

void InitProcessHeap() { processHeap = GetProcessHeap(); }

void* HeapAllocate(std::size_t size) {
    if (ShouldFail(FaultPoint::HeapAlloc)) return nullptr;
    if (processHeap == nullptr) InitProcessHeap();
    return HeapAlloc(processHeap, 0, size == 0 ? 1 : size);
}

void HeapRelease(void* block) {
    if (block == nullptr) return;
    if (processHeap == nullptr) InitProcessHeap();
    HeapFree(processHeap, 0, block);
}

char* HeapCopyString(const char* text) {
    int length = lstrlenA(text);
    auto* copy = static_cast<char*>(HeapAllocate(static_cast<std::size_t>(length) + 1));
    if (copy != nullptr) lstrcpyA(copy, text);
    return copy;
}

// ---------------------------------------------------------------------------
// Bounded formatting: wvsprintfA is wsprintfA taking its arguments as a list,
// with the same 1,024-character output limit.

int FormatBounded(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(out, format, args);
    va_end(args);
    if (length < 0 || length >= kFormatLimit - 1) {
        // Cut output: make sure the terminator stands inside the limit.
        out[kFormatLimit - 1] = '\0';
        return lstrlenA(out);
    }
    return length;
}

// ---------------------------------------------------------------------------
// Files

namespace {

// Retrying transient failures. On Windows a virus scanner, the search
// indexer or a sync client opens a file for a moment just after it was
// written or just before it is read; an open, create or replace that meets
// such a program fails with a sharing violation, a lock violation or
// "access denied". Waiting a little and trying again, a bounded number of
// times, turns those moments into a short delay; a file that stays held is
// still reported after well under a second.
constexpr int kRetries = 8;
constexpr DWORD kRetryDelayMs = 30;

struct RetryBudget {
    int left = kRetries;
};

bool IsTransient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Called after a failed attempt, with its error still the last error: true
// (after a short sleep) when the error is transient and the budget allows
// another attempt.
bool WaitToRetry(RetryBudget* budget) {
    if (!IsTransient(GetLastError()) || budget->left == 0) return false;
    --budget->left;
    Sleep(kRetryDelayMs);
    return true;
}

HANDLE CreateFileRetrying(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    RetryBudget budget;
    HANDLE file;
    do {
        file = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    } while (file == INVALID_HANDLE_VALUE && WaitToRetry(&budget));
    return file;
}

bool MoveRetrying(const char* source, const char* target) {
    RetryBudget budget;
    for (;;) {
        if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        if (!WaitToRetry(&budget)) return false;
    }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StartsWith(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

bool SameLetters(const char* text, const char* upper, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

// A port number as Windows reads one in COM1 or LPT1: a digit, or one of
// the superscript digits of the ANSI code page.
bool IsPortDigit(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

// Where a save to `target` really lands: the final path of the file it
// names, through any symbolic link (or other reparse point) on the way;
// `target` itself when nothing is there yet. `out` holds kMaxPath
// characters. nullptr when the target is a link whose end cannot be found
// or whose full path does not fit kMaxPath.
const char* FinalTarget(const char* target, char* out) {
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) return target;
    // A plain file whose final path cannot be had is still saved where it
    // was named; a link must not be replaced by a file of its own.
    const char* unresolved = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? nullptr : target;
    // No access asked: this open only names the file, so nobody's sharing
    // stands in its way.
    HANDLE file = CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return unresolved;
    char full[kMaxPath + 8];
    DWORD length = GetFinalPathNameByHandleA(file, full, sizeof full, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= sizeof full) return unresolved;
    // The answer comes in the extended-length form (\\?\C:\... or
    // \\?\UNC\server\...); within kMaxPath the ordinary form names the same
    // file, and the ANSI functions take only that one.
    const char* path = full;
    std::size_t prefix = 0;
    if (StartsWith(full, "\\\\?\\UNC\\")) {
        prefix = 6;  // keep "\\" before the server's name
        full[prefix] = '\\';
    } else if (StartsWith(full, "\\\\?\\")) {
        prefix = 4;
    }
    path += prefix;
    if (length - prefix + 1 > kMaxPath) return unresolved;
    lstrcpyA(out, path);
    return out;
}

// Attributes a replacing file can take over from the file it replaces
// (compression and encryption come only with ReplaceFileA itself).
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE;

}  // namespace

bool IsDeviceName(const char* path) {
    if (IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' && IsSeparator(path[3])) {
        return true;  // \\.\COM10, \\.\PhysicalDrive0: the device namespace
    }
    // The last part of the path, after any folder and any drive.
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsSeparator(*p)) name = p + 1;
    }
    if (name[0] != '\0' && name[1] == ':') name += 2;
    // Its stem: an extension (or a stream) does not matter, nor do spaces
    // before it.
    std::size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.' && name[stem] != ':') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;

    if (stem == 3) {
        for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
            if (SameLetters(name, device, 3)) return true;
        }
        return false;
    }
    if (stem == 4)
        return (SameLetters(name, "COM", 3) || SameLetters(name, "LPT", 3)) && IsPortDigit(name[3]);
    if (stem == 6) return SameLetters(name, "CONIN$", 6);
    if (stem == 7) return SameLetters(name, "CONOUT$", 7);
    return false;
}

FileHandle OpenForReading(const char* path) {
    if (IsDeviceName(path)) return kInvalidFile;
    HANDLE file = CreateFileRetrying(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    // Device names such as NUL or CON open too; only files on a disk count.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return kInvalidFile;
    }
    return FromHandle(file);
}

namespace {

// The names a save's temporary file may take. Derived from the target's
// name, so that a later save of the same target finds what a dead process
// left behind: "~", ten letters or digits of a hash of the name (letters
// folded, as names compare without regard to case) and a slot digit, as in
// "~4kq0z7m2xa0". Processes saving one target at the same time take
// different slots. Two targets whose names share the hash share the slots
// too, which costs nothing: a slot is only ever taken from a process that
// has ended. Where the path limit leaves less room, or every slot stays
// taken (by files that some program keeps open), the name is "~" and
// random letters and digits, which no later save looks for.
constexpr int kSlots = 8;
constexpr int kNameAttempts = kSlots + 100;
constexpr int kSlotNameLength = 12;
constexpr char kNameCharacters[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Writes a temporary name of `length` characters into `name`; a
// one-character name is just the one character.
void TemporaryName(const char* targetName, int length, int attempt, char* name) {
    static ULONGLONG counter = 0;
    ULONGLONG value;
    if (length == kSlotNameLength && attempt < kSlots) {
        value = 14695981039346656037ull;  // FNV-1a
        for (const char* c = targetName; *c != '\0'; ++c) {
            char folded = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
            value = (value ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
        }
    } else {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        value = (static_cast<ULONGLONG>(now.QuadPart) ^ static_cast<ULONGLONG>(GetCurrentProcessId()) << 40) +
                ++counter * 0x9E3779B97F4A7C15ull;
    }
    int i = 0;
    if (length > 1) name[i++] = '~';
    for (; i < length; ++i, value /= 36) name[i] = kNameCharacters[value % 36];
    if (length == kSlotNameLength && attempt < kSlots) name[length - 1] = static_cast<char>('0' + attempt);
    name[length] = '\0';
}

// Removes the temporary file `path` if no process has it open: a save
// keeps its temporary file open, shared with nobody, until the file has
// taken the target's place (or is given up), and the system closes the
// handles of a process that ends. A file that some program holds is left.
void RemoveIfAbandoned(const char* path) {
    HANDLE file = CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(file);
}

}  // namespace

FileHandle CreateTemporaryBeside(const char* target, char* pathOut) {
    char resolved[kMaxPath];
    const char* final = FinalTarget(target, resolved);
    if (final == nullptr || IsDeviceName(final)) return kInvalidFile;
    // The full path, which the path limit applies to, whatever folder a
    // relative name is taken in.
    char full[kMaxPath];
    DWORD length = GetFullPathNameA(final, kMaxPath, full, nullptr);
    if (length == 0 || length >= kMaxPath) return kInvalidFile;
    int directoryLength = 0;
    for (int i = static_cast<int>(length); i > 0; --i) {
        if (IsSeparator(full[i - 1])) {
            directoryLength = i;
            break;
        }
    }
    // Up to 12 characters, as many as fit the path limit: never fewer than
    // the target's name has, since the target's path fits.
    int nameLength = static_cast<int>(kMaxPath) - 1 - directoryLength;
    if (nameLength > kSlotNameLength) nameLength = kSlotNameLength;
    if (nameLength < 1) return kInvalidFile;
    const char* targetName = full + directoryLength;
    CopyMemory(pathOut, full, static_cast<SIZE_T>(directoryLength));
    char* name = pathOut + directoryLength;

    // First what earlier saves of this target left behind.
    if (nameLength == kSlotNameLength) {
        for (int slot = 0; slot < kSlots; ++slot) {
            TemporaryName(targetName, nameLength, slot, name);
            RemoveIfAbandoned(pathOut);
        }
    }
    RetryBudget budget;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        TemporaryName(targetName, nameLength, attempt, name);
        // CREATE_NEW: a name that exists already is never reused. Hidden
        // and temporary while it is written; DELETE access, so it can be
        // marked to go away with its handle: a process that dies in the
        // middle of a save leaves nothing behind.
        HANDLE file = CreateFileA(pathOut, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            FILE_DISPOSITION_INFO disposition{};
            disposition.DeleteFile = TRUE;
            SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
            return FromHandle(file);
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        if (!WaitToRetry(&budget)) return kInvalidFile;
    }
    return kInvalidFile;
}

bool ReadFromFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    *bytesRead = 0;
    if (ShouldFail(FaultPoint::FileRead)) return false;
    char* next = static_cast<char*>(buffer);
    while (*bytesRead < size) {
        DWORD got = 0;
        if (!ReadFile(ToHandle(file), next + *bytesRead, size - *bytesRead, &got, nullptr)) {
            return false;
        }
        if (got == 0) break;  // the end of the file
        *bytesRead += got;
    }
    return true;
}

bool WriteToFile(FileHandle file, const void* data, std::uint32_t size) {
    if (ShouldFail(FaultPoint::FileWrite)) return false;
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(ToHandle(file), next, size, &put, nullptr) || put == 0) return false;
        next += put;
        size -= put;
    }
    return true;
}

bool FlushToDisk(FileHandle file) {
    if (ShouldFail(FaultPoint::FileFlush)) return false;
    return !kFlushesToDisk || FlushFileBuffers(ToHandle(file)) != 0;
}

// Windows has no request to start writing back without waiting: the flush
// does it all.
void StartWriteBack(FileHandle) {}

std::uint64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(ToHandle(file), &size) || size.QuadPart < 0) return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(ToHandle(file));
}

namespace {

// Makes a temporary file outlive its handle; false when that fails (the
// file then still goes away when closed).
bool KeepWhenClosed(FileHandle file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = FALSE;
    if (SetFileInformationByHandle(ToHandle(file), FileDispositionInfo, &disposition, sizeof disposition)) {
        return true;
    }
    // Where the file could not be marked in the first place, there is no
    // mark to take back.
    FILE_STANDARD_INFO standard;
    return GetFileInformationByHandleEx(ToHandle(file), FileStandardInfo, &standard, sizeof standard) &&
           !standard.DeletePending;
}

// Wine's ReplaceFileA moves the old file aside and deletes it before it
// moves the new one in, so a process that ends in between leaves no
// target at all; and it carries nothing over that a rename does not. Under
// Wine a rename (the Unix rename beneath) replaces the target in one step.
bool RunningUnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Puts the closed temporary file `source` in the place of `target`; false
// when the target cannot be replaced, and then both keep their names.
bool ReplaceFileAtomically(const char* source, const char* target) {
    char resolved[kMaxPath];
    const char* final = FinalTarget(target, resolved);
    if (final == nullptr) return false;
    DWORD attributes = GetFileAttributesA(final);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Nothing to replace: the new file takes the name as an ordinary,
        // visible file.
        SetFileAttributesA(source, FILE_ATTRIBUTE_NORMAL);
        return MoveRetrying(source, final);
    }
    // ReplaceFileA gives the new file the old one's attributes, security,
    // streams and creation time. The plain attributes are set here as well,
    // so they are kept even where a system's ReplaceFileA leaves them out.
    // Merge errors are not ignored: a save that cannot carry a restrictive
    // ACL over fails rather than leave the data more widely readable.
    DWORD carried = attributes & kCarriedAttributes;
    SetFileAttributesA(source, carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL);
    if (RunningUnderWine()) return MoveRetrying(source, final);
    RetryBudget budget;
    for (;;) {
        if (ReplaceFileA(final, source, nullptr, 0, nullptr, nullptr)) return true;
        DWORD error = GetLastError();
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_FILE_NOT_FOUND) {
            // The old file is gone (it was removed, or the replace got
            // halfway): the new one still has its own name, so it is moved
            // into the empty place rather than lost.
            return MoveRetrying(source, final);
        }
        // The old file could not be removed: held by another program.
        if (error == ERROR_UNABLE_TO_REMOVE_REPLACED) SetLastError(ERROR_SHARING_VIOLATION);
        if (!WaitToRetry(&budget)) break;
    }
    return false;
}

}  // namespace

bool ReplaceWithTemporary(FileHandle file, const char* temporaryPath, const char* target) {
    // Kept only from here on: until now, closing the file (or the process
    // ending) removed it.
    bool kept = !ShouldFail(FaultPoint::FileReplace) && KeepWhenClosed(file);
    CloseHandle(ToHandle(file));
    if (!kept) return false;
    if (ReplaceFileAtomically(temporaryPath, target)) return true;
    DeleteFileA(temporaryPath);
    return false;
}

void DiscardTemporary(FileHandle file, const char* temporaryPath) {
    CloseFile(file);
    // Gone with its handle, unless something kept it.
    DeleteFileA(temporaryPath);
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

PathKind GetPathKind(const char* path) {
    if (IsDeviceName(path)) return PathKind::Other;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::Other : PathKind::File;
}

bool CanReplace(const char* path) {
    if (IsDeviceName(path)) return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY)) != 0) {
        return false;
    }
    // A program holding the file without letting others write it makes
    // this open fail; one that lets go soon is waited for.
    HANDLE probe = CreateFileRetrying(path, GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
    if (probe == INVALID_HANDLE_VALUE) return false;
    bool onDisk = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    return onDisk;
}

std::uint32_t SearchForFile(const char* name, char* pathOut) {
    return SearchPathA(nullptr, name, nullptr, kMaxPath, pathOut, nullptr);
}

// ---------------------------------------------------------------------------
// Threads: the second thread's stack is reserved small, since a 32-bit
// client's address space is short.

struct Thread {
    HANDLE handle;
    void (*run)(void*);
    void* argument;
};

namespace {

DWORD WINAPI RunThread(LPVOID thread) {
    auto* self = static_cast<Thread*>(thread);
    self->run(self->argument);
    return 0;
}

}  // namespace

Thread* StartThread(void (*run)(void* argument), void* argument) {
    if (ShouldFail(FaultPoint::ThreadStart)) return nullptr;
    auto* thread = static_cast<Thread*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Thread)));
    if (thread == nullptr) return nullptr;
    thread->run = run;
    thread->argument = argument;
    thread->handle = CreateThread(nullptr, 256 * 1024, RunThread, thread, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                  nullptr);
    if (thread->handle == nullptr) {
        HeapFree(GetProcessHeap(), 0, thread);
        return nullptr;
    }
    return thread;
}

void JoinThread(Thread* thread) {
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    HeapFree(GetProcessHeap(), 0, thread);
}

// A semaphore is its kernel handle.
Semaphore* NewSemaphore(unsigned count) {
    return reinterpret_cast<Semaphore*>(CreateSemaphoreA(nullptr, static_cast<LONG>(count), 0x7FFFFFFF,
                                                         nullptr));
}

void PostSemaphore(Semaphore* semaphore) {
    ReleaseSemaphore(reinterpret_cast<HANDLE>(semaphore), 1, nullptr);
}

void WaitSemaphore(Semaphore* semaphore) {
    WaitForSingleObject(reinterpret_cast<HANDLE>(semaphore), INFINITE);
}

void FreeSemaphore(Semaphore* semaphore) {
    if (semaphore != nullptr) CloseHandle(reinterpret_cast<HANDLE>(semaphore));
}

// ---------------------------------------------------------------------------
// Dynamic libraries

LibraryHandle OpenLibrary(const char* path) { return LoadLibraryA(path); }

void* FindExport(LibraryHandle library, const char* name) {
    FARPROC procedure = GetProcAddress(static_cast<HMODULE>(library), name);
    void* address = nullptr;
    static_assert(sizeof address == sizeof procedure);
    CopyMemory(&address, &procedure, sizeof address);
    return address;
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

const char* LibraryError() {
    static char message[64];
    wsprintfA(message, "Windows error %lu", GetLastError());
    return message;
}

const char* DefaultLibraryName() { return "lastspot.dll"; }

bool ExecutableDirectory(char* out, std::size_t size) {
    DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    if (length == 0 || length >= size) return false;
    for (DWORD i = length; i > 0; --i) {
        if (out[i - 1] == '\\' || out[i - 1] == '/') {
            out[i] = '\0';
            return true;
        }
    }
    return false;
}

}  // namespace lastspot::platform
