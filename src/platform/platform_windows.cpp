// The platform layer on Windows: the real kernel and user-interface
// functions, called with the arguments the library's design relies on (see
// platform.h for each contract).
#include <windows.h>

#include <cstdarg>

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

FileHandle OpenForReading(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    // Device names such as NUL or CON open too; only files on a disk count.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return kInvalidFile;
    }
    return FromHandle(file);
}

FileHandle CreateTemporaryBeside(const char* target, char* pathOut) {
    int length = lstrlenA(target);
    int directoryLength = 0;
    for (int i = length; i > 0; --i) {
        if (target[i - 1] == '\\' || target[i - 1] == '/' || target[i - 1] == ':') {
            directoryLength = i;
            break;
        }
    }
    if (static_cast<std::size_t>(directoryLength) + 32 > kTemporaryPathSize) return kInvalidFile;
    static DWORD counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        DWORD unique = (GetTickCount() ^ (GetCurrentProcessId() << 16)) + ++counter * 2654435761u;
        CopyMemory(pathOut, target, static_cast<SIZE_T>(directoryLength));
        wsprintfA(pathOut + directoryLength, ".lastspot-%08lx", unique);
        // CREATE_NEW: a name that exists already is never reused.
        HANDLE file = CreateFileA(pathOut, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return FromHandle(file);
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return kInvalidFile;
        }
    }
    return kInvalidFile;
}

bool ReadFromFile(FileHandle file, void* buffer, std::uint32_t size,
                  std::uint32_t* bytesRead) {
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
    return FlushFileBuffers(ToHandle(file)) != 0;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(ToHandle(file));
}

bool ReplaceFileAtomically(const char* source, const char* target) {
    if (ShouldFail(FaultPoint::FileReplace)) return false;
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

PathKind GetPathKind(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::Other : PathKind::File;
}

bool CanReplace(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY)) != 0) {
        return false;
    }
    // Another program holding the file without sharing makes this open fail.
    HANDLE probe = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    bool onDisk = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    return onDisk;
}

std::uint32_t SearchForFile(const char* name, char* pathOut) {
    return SearchPathA(nullptr, name, nullptr, kMaxPath, pathOut, nullptr);
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
