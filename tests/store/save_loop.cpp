// The kill test's child: saves one table over and over until it is killed.
//   save_loop TARGET FIRST-VERSION [named]
// Writes "saving" on its standard output once the table is built, and
// saves versions FIRST-VERSION, FIRST-VERSION + 1, ... of the table of
// versioned_table.h to TARGET. With "named", every save takes the way of
// file systems that cannot make files without a name. Ends by itself only
// when a save fails (status 1).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "seen/record_commands.h"
#include "seen/table_commands.h"
#include "store/store_commands.h"
#include "store/versioned_table.h"
#include "support/run_command.h"

int main(int argc, char** argv) {
    using namespace lastspot;
    if (argc < 3) {
        std::fprintf(stderr, "usage: save_loop TARGET FIRST-VERSION [named]\n");
        return 2;
    }
    const std::string target = argv[1];
    const bool named = argc > 3 && std::strcmp(argv[3], "named") == 0;
    testing::FreshLibrary library;
    testing::RunBody(seen::SeenTableAdd, "t");
    const std::string saved = "+OK " + std::to_string(store::kVersionedRecords);
    for (auto version = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));; ++version) {
        for (int record = 0; record < store::kVersionedRecords; ++record) {
            testing::RunBody(seen::SeenAdd, store::VersionedRecord("t", record, version));
        }
        static bool told = false;
        if (!told) {
            std::fputs("saving\n", stdout);
            std::fflush(stdout);
            told = true;
        }
        if (named) platform::FailAfter(platform::FaultPoint::UnnamedFile, 0);
        std::string reply = testing::RunBody(store::SeenSave, "t " + target);
        if (reply != saved) {
            std::fprintf(stderr, "save_loop: version %u: %s\n", version, reply.c_str());
            return 1;
        }
    }
}
