// Saving and loading among the kinds of file a POSIX system has: pipes and
// devices are neither replaced nor read, a symbolic link keeps pointing at
// the saved file, a saved file keeps its permissions, and a long name that
// the system allows saves (the temporary name beside it stays short). The
// temporary file of a save has no name, or, where the file system cannot
// make such files, one that the next save removes once its process ended.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "seen/record_commands.h"
#include "seen/table_commands.h"
#include "store/store_commands.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

namespace fs = std::filesystem;
using testing::RunExport;

class PosixFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunExport(::SeenTableAdd, "t"), "+OK ");
        ASSERT_EQ(RunExport(::SeenAdd, "t Bob a@b #c join 1 2 hello"), "+OK ");
    }
    void TearDown() override { platform::ClearFaults(); }
    std::string PathOf(const std::string& name) const { return scratch_.PathOf(name); }

    // The next save or temporary file takes the way of file systems that
    // cannot make files without a name.
    static void WithoutUnnamedFiles() { platform::FailAfter(platform::FaultPoint::UnnamedFile, 0); }

    testing::FreshLibrary library_;
    testing::ScratchDirectory scratch_{"lastspot-posix-"};
};

TEST_F(PosixFiles, PipesAndDevicesAreNeitherReplacedNorRead) {
    const std::string pipe = PathOf("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(RunExport(::SeenSave, "t " + pipe), "-OPEN Couldn't open file.");
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(RunExport(::SeenLoad, "t " + pipe), "-NOFILE File not found or invalid");
    EXPECT_EQ(RunExport(::SeenLoad, "t /dev/zero"), "-NOFILE File not found or invalid");
    EXPECT_EQ(RunExport(::SeenCount, "t"), "+OK 1");
    for (const auto& entry : fs::directory_iterator(scratch_.path())) {
        EXPECT_EQ(entry.path().filename(), "pipe");
    }
}

TEST_F(PosixFiles, ALinkKeepsPointingAtTheSavedFileAndTheFileItsPermissions) {
    const std::string real = PathOf("real.seen"), link = PathOf("link.seen");
    { std::ofstream(real) << "old"; }
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    fs::create_symlink(real, link);
    for (bool named : {false, true}) {
        if (named) WithoutUnnamedFiles();
        EXPECT_EQ(RunExport(::SeenSave, "t " + link), "+OK 1");
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(testing::FileContents(real),
                  "#ombrick SeenTable 1 -  t\r\n! Bob a@b #c join 1 2 hello\r\n");
        struct stat info;
        ASSERT_EQ(stat(real.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(scratch_.Listing(), "link.seen real.seen ");
    }
}

TEST_F(PosixFiles, ATemporaryFileHasNoNameWhileItIsWritten) {
    const std::string target = PathOf("t.seen");
    char path[platform::kTemporaryPathSize];
    platform::FileHandle file = platform::CreateTemporaryBeside(target.c_str(), path);
    ASSERT_NE(file, platform::kInvalidFile);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(platform::WriteToFile(file, "data", 4));
    EXPECT_EQ(scratch_.Listing(), "");
    platform::CloseFile(file);  // what the end of a process does
    EXPECT_EQ(scratch_.Listing(), "");
}

TEST_F(PosixFiles, ANamedTemporaryFileLeftBehindIsRemovedByTheNextSaveOfItsTarget) {
    const std::string target = PathOf("t.seen");
    char path[platform::kTemporaryPathSize];
    WithoutUnnamedFiles();
    platform::FileHandle file = platform::CreateTemporaryBeside(target.c_str(), path);
    ASSERT_NE(file, platform::kInvalidFile);
    const std::string name = fs::path(path).filename().string();
    EXPECT_EQ(name.rfind(".t.seen.", 0), 0u) << name;
    // While it is in use, saves of its target, either way, leave it alone.
    EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
    WithoutUnnamedFiles();
    EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
    EXPECT_EQ(scratch_.Listing(), name + " t.seen ");
    // Once its process has ended (its descriptor closed) it is left behind:
    // a save of another target keeps it, the next save of its own removes it.
    platform::CloseFile(file);
    EXPECT_EQ(RunExport(::SeenSave, "t " + PathOf("u.seen")), "+OK 1");
    EXPECT_EQ(scratch_.Listing(), name + " t.seen u.seen ");
    EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
    EXPECT_EQ(scratch_.Listing(), "t.seen u.seen ");

    // A link planted under that name is neither written through nor taken.
    const std::string outside = PathOf("outside");
    { std::ofstream(outside) << "keep"; }
    fs::create_symlink(outside, path);
    WithoutUnnamedFiles();
    EXPECT_EQ(RunExport(::SeenSave, "t " + target), "+OK 1");
    EXPECT_EQ(testing::FileContents(outside), "keep");
    EXPECT_TRUE(fs::is_symlink(path));
}

TEST_F(PosixFiles, ALongNameTheSystemAllowsSaves) {
    const std::string path = PathOf(std::string(245, 'f'));
    for (bool named : {false, true}) {
        if (named) WithoutUnnamedFiles();
        EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
        EXPECT_EQ(RunExport(::SeenLoad, "t " + path), "+OK 1");
    }
}

}  // namespace
}  // namespace lastspot::store
