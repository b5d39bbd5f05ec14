// Fuzzes the command interface: an input is a sequence of lines
// "Command arguments...", each run through the exported entry point of that
// name in a host-sized buffer. After every command the reply must have one
// of the two reply forms and every table must keep its invariants. File
// names of SeenSave and SeenLoad are confined to a scratch directory.
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "host/exports.h"
#include "seen/table_registry.h"
#include "support/run_command.h"
#include "support/state_checks.h"

namespace {

constexpr int kMaxLines = 64;

// Keeps the table token and replaces the file name with a short name of
// letters and digits inside the scratch directory.
std::string ConfineFileName(const std::string& arguments) {
    std::size_t start = arguments.find_first_not_of(' ');
    if (start == std::string::npos) return arguments;
    std::size_t end = arguments.find(' ', start);
    if (end == std::string::npos) return arguments;
    std::string name;
    for (char c : arguments.substr(end + 1)) {
        if (std::isalnum(static_cast<unsigned char>(c)) && name.size() < 8) name.push_back(c);
    }
    if (name.empty()) return arguments.substr(0, end + 1);  // an empty name stays empty
    return arguments.substr(0, end + 1) +
           (lastspot::fuzz::ScratchDirectory() / ("f" + name)).string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    lastspot::host::LoadInfo info{};
    LoadDll(&info);

    std::size_t at = 0;
    for (int line = 0; line < kMaxLines && at < input.size(); ++line) {
        std::size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        std::string text = input.substr(at, end - at);
        at = end + 1;

        std::size_t space = text.find(' ');
        std::string name = text.substr(0, space);
        std::string arguments = space == std::string::npos ? "" : text.substr(space + 1);
        auto command = lastspot::testing::CommandNamed(name);
        if (command == nullptr) continue;
        if (name == "SeenSave" || name == "SeenLoad") arguments = ConfineFileName(arguments);

        int result = 0;
        std::string reply = lastspot::testing::RunExport(command, arguments, &result);
        if (result != 3) lastspot::fuzz::Fail(name + " did not return 3");
        if (!lastspot::testing::IsWellFormedReply(reply.c_str())) {
            lastspot::fuzz::Fail(name + " replied '" + reply + "'");
        }
        std::string problem;
        if (!lastspot::seen::CheckTables(&problem)) {
            lastspot::fuzz::Fail("after " + name + ": " + problem);
        }
    }
    UnloadDll(0);
    return 0;
}
