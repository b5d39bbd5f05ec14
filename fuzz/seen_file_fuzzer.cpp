// Fuzzes the seen-file loader: an input is a file's bytes, loaded into a
// table that already holds one record. The reply must have one of the two
// reply forms, the table must keep its invariants, and a load that fails
// must leave the table's record where it was.
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "host/exports.h"
#include "seen/table_registry.h"
#include "support/run_command.h"
#include "support/state_checks.h"

using lastspot::testing::RunExport;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = (lastspot::fuzz::ScratchDirectory() / "input.seen").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    lastspot::host::LoadInfo info{};
    LoadDll(&info);
    RunExport(SeenTableAdd, "t");
    RunExport(SeenAdd, "t keeper k@h #c join 1 2 kept");

    std::string reply = RunExport(SeenLoad, "t " + path);
    if (!lastspot::testing::IsWellFormedReply(reply.c_str())) {
        lastspot::fuzz::Fail("SeenLoad replied '" + reply + "'");
    }
    std::string problem;
    if (!lastspot::seen::CheckTables(&problem)) lastspot::fuzz::Fail(problem);
    if (reply.compare(0, 4, "+OK ") != 0) {
        if (RunExport(SeenCount, "t") != "+OK 1" ||
            RunExport(SeenGet, "t keeper") != "+OK keeper k@h #c join 1 2 kept") {
            lastspot::fuzz::Fail("a failed load (" + reply + ") changed the table");
        }
    }
    UnloadDll(0);
    return 0;
}
