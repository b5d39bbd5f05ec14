#include "support/library_under_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace lastspot::testing {

LibraryUnderTest::LibraryUnderTest() {
    char directory[4096] = "";
    platform::ExecutableDirectory(directory, sizeof directory);
    std::string path = std::string(directory) + platform::DefaultLibraryName();
    handle_ = platform::OpenLibrary(path.c_str());
    if (handle_ == nullptr) ADD_FAILURE() << "cannot load " << path << ": " << platform::LibraryError();
}

LibraryUnderTest::~LibraryUnderTest() { platform::CloseLibrary(handle_); }

host::LoadHook LibraryUnderTest::loadDll() const {
    return reinterpret_cast<host::LoadHook>(platform::FindExport(handle_, "LoadDll"));
}

host::UnloadHook LibraryUnderTest::unloadDll() const {
    return reinterpret_cast<host::UnloadHook>(platform::FindExport(handle_, "UnloadDll"));
}

host::CommandExport LibraryUnderTest::command(const char* name) const {
    auto found = reinterpret_cast<host::CommandExport>(platform::FindExport(handle_, name));
    if (found == nullptr) ADD_FAILURE() << "the library does not export " << name;
    return found;
}

std::string LibraryUnderTest::Run(const char* name, const std::string& arguments, int* result) const {
    host::CommandExport export_ = command(name);
    if (export_ == nullptr) return "";
    std::vector<char> buffer(4096, '\0');
    std::memcpy(buffer.data(), arguments.c_str(), arguments.size() + 1);
    int returned = export_(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
    if (result != nullptr) *result = returned;
    return buffer.data();
}

}  // namespace lastspot::testing
