// The kill test's child: saves one table over and over until it is killed.
//   save_loop TARGET READY FIRST-VERSION [named]
// Builds the table of versioned_table.h, makes the file READY, and saves
// versions FIRST-VERSION, FIRST-VERSION + 1, ... to TARGET. With "named",
// every save takes the way of file systems that cannot make files without
// a name. Ends by itself only when a save fails (status 1).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "store/versioned_table.h"
#include "support/run_command.h"

int main(int argc, char** argv) {
    using namespace lastspot;
    if (argc < 4) return 2;
    const std::string target = argv[1];
    const bool named = argc > 4 && std::strcmp(argv[4], "named") == 0;
    testing::FreshLibrary library;
    testing::RunExport(::SeenTableAdd, "t");
    const std::string saved = "+OK " + std::to_string(store::kVersionedRecords);
    const auto first = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    for (std::uint32_t version = first;; ++version) {
        for (int record = 0; record < store::kVersionedRecords; ++record) {
            testing::RunExport(::SeenAdd, store::VersionedRecord("t", record, version));
        }
        if (version == first) std::ofstream{argv[2]};  // ready: saving from here on
        if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
        std::string reply = testing::RunExport(::SeenSave, "t " + target);
        if (reply != saved) {
            std::fprintf(stderr, "save_loop: version %u: %s\n", version, reply.c_str());
            return 1;
        }
    }
}
