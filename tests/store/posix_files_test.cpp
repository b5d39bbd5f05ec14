// Saving and loading among the kinds of file a POSIX system has: pipes and
// devices are neither replaced nor read, a symbolic link keeps pointing at
// the saved file, a saved file keeps its permissions, and a long name that
// the system allows saves (the temporary name beside it stays short).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

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
    std::string PathOf(const std::string& name) const { return scratch_.PathOf(name); }

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

TEST_F(PosixFiles, ALinkKeepsPointingAtTheSavedFile) {
    const std::string real = PathOf("real.seen"), link = PathOf("link.seen");
    { std::ofstream(real) << "old"; }
    fs::create_symlink(real, link);
    EXPECT_EQ(RunExport(::SeenSave, "t " + link), "+OK 1");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(testing::FileContents(real), "#ombrick SeenTable 1 -  t\r\n! Bob a@b #c join 1 2 hello\r\n");
}

TEST_F(PosixFiles, ASavedFileKeepsItsPermissions) {
    const std::string path = PathOf("private.seen");
    { std::ofstream(path) << "old"; }
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(PosixFiles, ALongNameTheSystemAllowsSaves) {
    const std::string path = PathOf(std::string(245, 'f'));
    EXPECT_EQ(RunExport(::SeenSave, "t " + path), "+OK 1");
    EXPECT_EQ(RunExport(::SeenLoad, "t " + path), "+OK 1");
}

}  // namespace
}  // namespace lastspot::store
