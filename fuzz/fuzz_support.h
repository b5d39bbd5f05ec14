// What the fuzzers share: failing loudly and a scratch directory.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch_directory.h"

namespace lastspot::fuzz {

// Stops the run so the fuzzer saves the input.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// A directory of this process's own for the files the inputs touch,
// removed when the process exits normally. In memory where the system has
// a file system there (/dev/shm): the fuzzers save and load thousands of
// files a second that need not outlive the run, and a disk's file system
// starts writing out every file that replaces another.
inline const std::filesystem::path& ScratchDirectory() {
    // Never destroyed, so the exit handler can still use it.
    static const std::filesystem::path* directory = [] {
        std::error_code ignored;
        std::filesystem::path parent = std::filesystem::is_directory("/dev/shm", ignored)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
        auto* path = new std::filesystem::path(parent /
                                               ("lastspot-fuzz-" + std::to_string(std::random_device()())));
        std::filesystem::create_directories(*path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*directory, ignored);
        });
        return path;
    }();
    return *directory;
}

}  // namespace lastspot::fuzz
