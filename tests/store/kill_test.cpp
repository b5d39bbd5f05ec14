// Saves killed at random moments, the way the system ends a process that
// crashes: the target is always one whole version, the old or the new, and
// once the next save has run nothing else is left in its folder. On
// Windows the temporary file goes away with its process; on Linux it has
// no name, or (where the file system cannot make files without one) the
// next save removes it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "seen/table_registry.h"
#include "store/versioned_table.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "support/scratch_directory.h"

namespace lastspot::store {
namespace {

namespace fs = std::filesystem;
using testing::RunExport;

constexpr int kKills = 30;
constexpr int kLongestWaitMs = 30;
constexpr std::uint32_t kVersionsPerChild = 1000000;

class KilledSaves : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunExport(::SeenTableAdd, "t"), "+OK ");
        ASSERT_EQ(RunExport(::SeenTableAdd, "check"), "+OK ");
    }
    void TearDown() override { platform::ClearFaults(); }

    // Loads the file `path` and returns its version: the one seen time that
    // all its records share.
    std::uint32_t LoadedVersion(const std::string& path) {
        EXPECT_EQ(RunExport(::SeenLoad, "check " + path), "+OK " + std::to_string(kVersionedRecords)) << path;
        std::set<std::int32_t> versions;
        seen::SeenIndex* index = seen::FindTable("check")->index;
        index->ResetCursor();
        while (const seen::SeenRecord* record = index->NextItem()) versions.insert(record->seenTime);
        EXPECT_EQ(versions.size(), 1u) << path << " mixes versions";
        return versions.empty() ? 0 : static_cast<std::uint32_t>(*versions.begin());
    }

    // Whether a temporary file closed without being kept goes away by
    // itself, as it does when its process ends: so on Windows, and on Linux
    // where the file system makes files without a name (and `named` is
    // false).
    bool TemporaryFilesGoAwayWithTheirHandles(bool named) {
        char path[platform::kTemporaryPathSize] = "";
        if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
        platform::CloseFile(platform::CreateTemporaryBeside(target_.c_str(), path));
        platform::ClearFaults();
        if (path[0] == '\0' || !fs::exists(path)) return true;
        platform::RemoveFile(path);
        return false;
    }

    // Starts a child that saves the table over and over, kills it at a
    // random moment and checks the target, again and again; then saves once
    // more in this process. Returns how many files the kills left beside
    // the target until then.
    int KillSavesAtRandom(bool named) {
        const bool goesAway = TemporaryFilesGoAwayWithTheirHandles(named);
        for (int record = 0; record < kVersionedRecords; ++record) {
            RunExport(::SeenAdd, VersionedRecord("t", record, 0));
        }
        const std::string saved = "+OK " + std::to_string(kVersionedRecords);
        EXPECT_EQ(RunExport(::SeenSave, "t " + target_), saved);
        std::mt19937 random(std::random_device{}());
        std::uint32_t old = 0;
        int leftovers = 0;
        for (int kill = 1; kill <= kKills && !HasFailure(); ++kill) {
            const std::uint32_t first = static_cast<std::uint32_t>(kill) * kVersionsPerChild;
            fs::remove(ready_);
            testing::ChildProcess child = testing::StartChild(
                "save_loop", {target_, ready_, std::to_string(first), named ? "named" : "unnamed"});
            if (child == -1) {
                ADD_FAILURE() << "save_loop did not start";
                break;
            }
            // Killed at a random moment once it saves.
            for (int waited = 0; !fs::exists(ready_) && waited < 60000; ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (kLongestWaitMs * 1000)));
            EXPECT_TRUE(testing::KillChild(child)) << "save_loop ended by itself: a save failed";

            std::uint32_t version = LoadedVersion(target_);
            EXPECT_TRUE(version == old || (version >= first && version - first < kVersionsPerChild))
                << "kill " << kill << ": version " << version << " after " << old;
            old = version;
            // A temporary file without a name, or one that goes away with
            // its handle, outlives its process only once it is whole (the
            // process ended between keeping it and its taking the target's
            // place), or, on Windows, while still empty (the process ended
            // between creating it and marking it to go away).
            for (const auto& entry : fs::directory_iterator(scratch_.path())) {
                if (entry.path().filename() == "t.seen") continue;
                ++leftovers;
                if (goesAway && fs::file_size(entry.path()) != 0) LoadedVersion(entry.path().string());
            }
        }
        if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
        EXPECT_EQ(RunExport(::SeenSave, "t " + target_), saved);
        EXPECT_EQ(scratch_.Listing(), "t.seen ");
        return leftovers;
    }

    testing::FreshLibrary library_;
    testing::ScratchDirectory scratch_{"lastspot-kill-"};
    testing::ScratchDirectory readyScratch_{"lastspot-ready-"};
    std::string target_ = scratch_.PathOf("t.seen");
    std::string ready_ = readyScratch_.PathOf("saving");
};

TEST_F(KilledSaves, LeaveTheTargetWholeAndNothingBeside) {
    KillSavesAtRandom(false);

    // Then the way of file systems that cannot make files without a name,
    // where the platform has it (a temporary file made with that fault
    // armed uses it up).
    char path[platform::kTemporaryPathSize] = "";
    platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
    platform::DiscardTemporary(platform::CreateTemporaryBeside(target_.c_str(), path), path);
    if (platform::FaultArmed(platform::FaultPoint::UnnamedFile)) return;
    // Many kills meet a named temporary file: unless some did, this part
    // showed nothing.
    EXPECT_GT(KillSavesAtRandom(true), 0);
}

}  // namespace
}  // namespace lastspot::store
