// The kill test's child: saves two versions of one table, by turns, until it
// is killed.
//   save_loop TARGET READY FIRST-VERSION [named]
// Loads versions FIRST-VERSION and FIRST-VERSION + 1 of the table of
// versioned_table.h from files it writes beside READY, makes the file READY,
// and then saves them to TARGET by turns. So nearly all its time goes to
// saving, wherever it is killed, even in builds that check the whole table
// after every command. With "named", every save takes the way of file
// systems that cannot make files without a name. Ends by itself only when a
// command fails (status 1).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "store/versioned_table.h"
#include "support/run_command.h"

namespace {

bool Expect(const std::string& reply, const std::string& expected, const char* what) {
    if (reply == expected) return true;
    std::fprintf(stderr, "save_loop: %s: %s\n", what, reply.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lastspot;
    if (argc < 4) return 2;
    const std::string target = argv[1];
    const std::string ready = argv[2];
    const auto first = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const bool named = argc > 4 && std::strcmp(argv[4], "named") == 0;
    const std::string records = "+OK " + std::to_string(store::kVersionedRecords);
    testing::FreshLibrary library;
    const char* tables[] = {"a", "b"};
    for (std::uint32_t turn = 0; turn < 2; ++turn) {
        const std::string file = ready + "." + tables[turn];
        std::ofstream(file, std::ios::binary) << store::VersionedFile(first + turn);
        if (!Expect(testing::RunExport(::SeenTableAdd, tables[turn]), "+OK ", "SeenTableAdd") ||
            !Expect(testing::RunExport(::SeenLoad, std::string(tables[turn]) + " " + file), records,
                    "SeenLoad")) {
            return 1;
        }
    }
    std::ofstream{ready};  // ready: saving from here on
    for (std::uint32_t turn = 0;; turn ^= 1) {
        if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
        const std::string line = std::string(tables[turn]) + " " + target;
        if (!Expect(testing::RunExport(::SeenSave, line), records, "SeenSave")) return 1;
    }
}
