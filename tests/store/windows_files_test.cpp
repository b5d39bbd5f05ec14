// Saving and loading among the things a Windows file system has: symbolic
// links, file attributes, folders near the path limit, other programs
// (virus scanners, indexers, sync clients) holding a file for a moment, and
// device names that must never be opened.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

namespace fs = std::filesystem;
using testing::RunExport;

constexpr char kSaved[] = "#ombrick SeenTable 1 -  t\r\n! Bob a@b #c join 1 2 hello\r\n";

class WindowsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunExport(::SeenTableAdd, "t"), "+OK ");
        ASSERT_EQ(RunExport(::SeenAdd, "t Bob a@b #c join 1 2 hello"), "+OK ");
    }
    std::string PathOf(const std::string& name) const { return scratch_.PathOf(name); }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    testing::FreshLibrary library_;
    testing::ScratchDirectory scratch_{"lastspot-win-"};
};

// Keeps a file open with no sharing at all, as a scanner might, and lets go
// of it after a short while on a thread of its own.
class Holder {
public:
    explicit Holder(const std::string& path)
        : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_NE(file_, INVALID_HANDLE_VALUE);
    }
    ~Holder() {
        if (thread_ != nullptr) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        } else {
            CloseHandle(file_);
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    void LetGoAfterMilliseconds(DWORD milliseconds) {
        delay_ = milliseconds;
        thread_ = CreateThread(nullptr, 0, &Holder::LetGo, this, 0, nullptr);
        ASSERT_NE(thread_, nullptr);
    }

private:
    static DWORD WINAPI LetGo(void* self) {
        auto* holder = static_cast<Holder*>(self);
        Sleep(holder->delay_);
        CloseHandle(holder->file_);
        return 0;
    }

    HANDLE file_;
    HANDLE thread_ = nullptr;
    DWORD delay_ = 0;
};

// Makes `link`, in `directory`, a symbolic link to `target` there. Windows
// makes unprivileged links in developer mode, otherwise only for an
// administrator. Wine makes no Windows links, but it follows the links of
// the Unix system beneath it, and runs Unix programs: so there the Unix
// ln makes one.
bool MakeLink(const std::string& directory, const std::string& link, const std::string& target) {
    const std::string linkPath = directory + "\\" + link, targetPath = directory + "\\" + target;
    // (Wine's CreateSymbolicLinkA reports success and makes nothing.)
    auto made = [&] { return GetFileAttributesA(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES; };
    CreateSymbolicLinkA(linkPath.c_str(), targetPath.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (!made()) CreateSymbolicLinkA(linkPath.c_str(), targetPath.c_str(), 0);
    if (made()) return true;
    std::string command = "ln -s " + target + " " + link;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA("Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                        &startup, &process)) {
        return false;
    }
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    for (int wait = 0; wait < 100; ++wait) {
        if (made()) return true;
        Sleep(20);
    }
    return false;
}

TEST_F(WindowsFiles, ALinkKeepsPointingAtTheSavedFile) {
    const std::string real = PathOf("real.seen"), link = PathOf("link.seen");
    Write(real, "old");
    if (!MakeLink(scratch_.path().string(), "link.seen", "real.seen")) {
        GTEST_SKIP() << "no symbolic link can be made here (developer mode is off)";
    }
    EXPECT_EQ(RunExport(::SeenSave, "t " + link), "+OK 1");
    // Had the link been replaced by a file, the file it pointed to would
    // still hold "old".
    EXPECT_EQ(testing::FileContents(real), kSaved);
    EXPECT_EQ(testing::FileContents(link), kSaved);
    // The link goes first: under Wine a link whose file is gone can be
    // neither seen nor removed.
    DeleteFileA(link.c_str());
}

TEST_F(WindowsFiles, ASavedFileKeepsItsAttributes) {
    const std::string path = PathOf("marked.seen");
    Write(path, "old");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // What this file system keeps of them (Wine keeps "hidden" only).
    const DWORD marks = GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_NE(marks, 0u);
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
    EXPECT_EQ(testing::FileContents(path), kSaved);
    DWORD attributes = GetFileAttributesA(path.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), marks);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_TEMPORARY, 0u);
    // A new file is an ordinary, visible one.
    const std::string fresh = PathOf("fresh.seen");
    EXPECT_EQ(RunExport(::SeenSave, "t " + fresh), "+OK 1");
    EXPECT_EQ(GetFileAttributesA(fresh.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY), 0u);
}

TEST_F(WindowsFiles, ATargetThatFitsThePathLimitSaves) {
    // A folder as long as CreateDirectoryA takes (247 characters) and an
    // 11-character name: 259 characters, the most a path may have.
    const std::string base = scratch_.path().string() + "\\";
    ASSERT_LT(base.size(), 200u);
    const std::string folder = base + std::string(247 - base.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string path = folder + "\\saved.table";
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");  // new
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");  // replaced
    EXPECT_EQ(RunExport(::SeenLoad, "t " + path), "+OK 1");
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

TEST_F(WindowsFiles, AProgramThatHoldsTheFileBrieflyIsWaitedFor) {
    const std::string path = PathOf("held.seen");
    Write(path, "old");
    {
        Holder holder(path);
        holder.LetGoAfterMilliseconds(60);
        EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
    }
    EXPECT_EQ(testing::FileContents(path), kSaved);
    {
        Holder holder(path);
        holder.LetGoAfterMilliseconds(60);
        EXPECT_EQ(RunExport(::SeenLoad, "t " + path), "+OK 1");
    }
    EXPECT_EQ(scratch_.Listing(), "held.seen ");
}

TEST_F(WindowsFiles, DeviceNamesAreRefusedByTheirNameAlone) {
    for (const char* name : {"COM1", "com9", "LPT1", "lpt3.txt", "nul", "NUL.seen.bak", "con", "CON .txt",
                             "aux.", "prn  ", "C:\\some\\folder\\Com4.seen", "folder/lpt2", "D:nul",
                             "COM\xB9", "conin$", "CONOUT$", "\\\\.\\COM10", "//./PhysicalDrive0"}) {
        EXPECT_TRUE(platform::IsDeviceName(name)) << name;
    }
    for (const char* name : {"COM10", "LPT", "console.seen", "nul-table.seen", "auxiliary",
                             "C:\\con\\table.seen", "my con", "prn1", "x.con", "\\\\server\\share\\x"}) {
        EXPECT_FALSE(platform::IsDeviceName(name)) << name;
    }
    EXPECT_EQ(RunExport(::SeenSave, "t COM1"), "-OPEN Couldn't open file.");
    EXPECT_EQ(RunExport(::SeenSave, "t " + PathOf("lpt1.seen")), "-OPEN Couldn't open file.");
    EXPECT_EQ(RunExport(::SeenLoad, "t nul"), "-OPEN Couldn't open file.");
    EXPECT_EQ(scratch_.Listing(), "");
}

TEST_F(WindowsFiles, ATemporaryFileIsHiddenAndGoesAwayWithItsHandle) {
    const std::string target = PathOf("ab.seen");
    char temporary[platform::kTemporaryPathSize];
    platform::FileHandle file = platform::CreateTemporaryBeside(target.c_str(), temporary);
    ASSERT_NE(file, platform::kInvalidFile);
    BY_HANDLE_FILE_INFORMATION information;
    ASSERT_TRUE(GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &information));
    // Also marked temporary, which Wine does not keep.
    EXPECT_NE(information.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    // Closing without keeping it is what a process that dies does.
    platform::CloseFile(file);
    EXPECT_EQ(scratch_.Listing(), "");
}

// A temporary file kept by a process that ended before the file took the
// target's place: the next save of its target removes it, unless some
// program holds it open (a save that is still going on).
TEST_F(WindowsFiles, ATemporaryFileLeftBehindIsRemovedByTheNextSaveOfItsTarget) {
    const std::string target = PathOf("t.seen");
    char temporary[platform::kTemporaryPathSize];
    platform::DiscardTemporary(platform::CreateTemporaryBeside(target.c_str(), temporary), temporary);
    const std::string name = fs::path(temporary).filename().string();
    Write(temporary, "left behind");
    {
        Holder holder(temporary);
        EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
        EXPECT_EQ(scratch_.Listing(), "t.seen " + name + " ");
    }
    EXPECT_EQ(RunExport(::SeenSave, "t " + PathOf("u.seen")), "+OK 1");
    EXPECT_EQ(scratch_.Listing(), "t.seen u.seen " + name + " ");
    EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
    EXPECT_EQ(scratch_.Listing(), "t.seen u.seen ");
}

}  // namespace
}  // namespace lastspot::store
