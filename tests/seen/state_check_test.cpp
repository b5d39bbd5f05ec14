// The state check a verify build runs after every command that changes
// state: planted faults in the registry and in a table must each be named.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "seen/table_registry.h"
#include "support/run_command.h"
#include "text/case_map.h"

namespace lastspot::seen {
namespace {

using testing::RunExport;

// Plants a fault, expects the check to name it, and takes the fault back.
template <typename Plant, typename Undo>
void ExpectCaught(Plant plant, Undo undo, const std::string& named) {
    std::string problem;
    plant();
    EXPECT_FALSE(CheckTables(&problem));
    EXPECT_NE(problem.find(named), std::string::npos) << problem;
    undo();
    EXPECT_TRUE(CheckTables(&problem)) << problem;
}

TEST(StateCheck, NamesAStaleHashTwoEqualNamesAndARecordOutOfOrder) {
    testing::FreshLibrary library;
    for (const char* line : {"alpha", "omega", "Beta"}) ASSERT_EQ(RunExport(::SeenTableAdd, line), "+OK ");
    for (const char* line : {"alpha bob a b c 1 1", "alpha carol a b c 2 1"}) {
        ASSERT_EQ(RunExport(::SeenAdd, line), "+OK ");
    }
    std::string problem;
    ASSERT_TRUE(CheckTables(&problem)) << problem;

    TableEntry* beta = FindTable("beta");
    ExpectCaught([&] { beta->hash ^= 1; }, [&] { beta->hash ^= 1; }, "table Beta: stored hash");

    TableEntry* omega = FindTable("omega");
    ExpectCaught(
        [&] {
            std::memcpy(omega->name, "ALPHA", 5);
            omega->hash = text::IrcHash(omega->name);
        },
        [&] {
            std::memcpy(omega->name, "omega", 5);
            omega->hash = text::IrcHash(omega->name);
        },
        "one name under the IRC case rules");

    SeenRecord* bob = FindTable("alpha")->index->FindByNick("bob");
    ExpectCaught([&] { bob->nick[0] = 'z'; }, [&] { bob->nick[0] = 'b'; }, "table alpha: ");
}

}  // namespace
}  // namespace lastspot::seen
