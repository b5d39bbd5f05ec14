// A directory of its own for one test's files, and reading a file back
// whole.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace lastspot::testing {

// Made empty under the system's temporary directory with a random name,
// removed with everything in it when the object goes.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& prefix)
        : path_(std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device()()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

    // The names in the directory, hidden ones included, in order, each
    // followed by a space.
    std::string Listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.insert(entry.path().filename().string());
        }
        std::string listing;
        for (const std::string& name : names) listing += name + " ";
        return listing;
    }

private:
    std::filesystem::path path_;
};

// The file's bytes, or "" when it cannot be read.
inline std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Writes `bytes` as the whole of the file; false when it cannot be made.
inline bool WriteFileContents(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return !out.fail();
}

}  // namespace lastspot::testing
