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
// removed when the process exits normally.
inline const std::filesystem::path& ScratchDirectory() {
    static const testing::ScratchDirectory directory("lastspot-fuzz-");
    return directory.path();
}

}  // namespace lastspot::fuzz
