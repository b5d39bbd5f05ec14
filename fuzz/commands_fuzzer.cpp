// Fuzzes the command interface: an input is a sequence of lines
// "Command arguments...", each run through the exported entry point of that
// name in a host-sized buffer. After every command the reply must have one
// of the two reply forms and every table must keep its invariants. File
// names of SeenSave and SeenLoad are confined to a scratch directory.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "fuzz_support.h"
#include "host/exports.h"
#include "seen/table_registry.h"
#include "support/state_checks.h"

namespace {

constexpr std::size_t kBufferSize = 4096;  // what a host passes
constexpr int kMaxLines = 64;

// By hash rather than by comparing with every name in turn: the fuzzer runs
// each of up to 64 lines of every input through here, and under it every
// string comparison is a call into its comparison hooks. The dictionary
// gives it the names.
lastspot::host::CommandExport FindCommand(std::string_view name) {
    static const auto* commands = [] {
        auto* map = new std::unordered_map<std::string_view, lastspot::host::CommandExport>;
        for (const auto& entry : lastspot::host::kCommandExports) map->emplace(entry.name, entry.command);
        return map;
    }();
    auto found = commands->find(name);
    return found == commands->end() ? nullptr : found->second;
}

// Writes `arguments` into `buffer` (kBufferSize characters, zeroed; cut to
// fit), keeping the table token and replacing the file name with a short
// name of letters and digits inside the scratch directory.
void ConfineFileName(std::string_view arguments, char* buffer) {
    static const std::string prefix = (lastspot::fuzz::ScratchDirectory() / "f").string();
    std::size_t length = 0;
    auto append = [&](std::string_view text) {
        std::size_t taken = std::min(text.size(), kBufferSize - 1 - length);
        std::memcpy(buffer + length, text.data(), taken);
        length += taken;
    };
    std::size_t start = arguments.find_first_not_of(' ');
    std::size_t end = start == std::string_view::npos ? start : arguments.find(' ', start);
    if (end == std::string_view::npos) return append(arguments);
    char name[8];
    std::size_t named = 0;
    for (char c : arguments.substr(end + 1)) {
        if (std::isalnum(static_cast<unsigned char>(c)) && named < sizeof name) name[named++] = c;
    }
    append(arguments.substr(0, end + 1));
    // An empty name stays empty.
    if (named == 0) return;
    append(prefix);
    append(std::string_view(name, named));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    lastspot::host::LoadInfo info{};
    LoadDll(&info);

    static char buffer[kBufferSize];
    std::size_t at = 0;
    for (int line = 0; line < kMaxLines && at < input.size(); ++line) {
        std::size_t end = input.find('\n', at);
        if (end == std::string_view::npos) end = input.size();
        std::string_view text = input.substr(at, end - at);
        at = end + 1;

        std::size_t space = text.find(' ');
        std::string_view name = text.substr(0, space);
        std::string_view arguments = space == std::string_view::npos ? "" : text.substr(space + 1);
        auto command = FindCommand(name);
        if (command == nullptr) continue;

        std::memset(buffer, 0, sizeof buffer);
        if (name == "SeenSave" || name == "SeenLoad") {
            ConfineFileName(arguments, buffer);
        } else {
            std::memcpy(buffer, arguments.data(), std::min(arguments.size(), kBufferSize - 1));
        }
        if (command(nullptr, nullptr, buffer, nullptr, 0, 0) != 3) {
            lastspot::fuzz::Fail(std::string(name) + " did not return 3");
        }
        if (!lastspot::testing::IsWellFormedReply(buffer)) {
            lastspot::fuzz::Fail(std::string(name) + " replied '" + buffer + "'");
        }
        std::string problem;
        if (!lastspot::seen::CheckTables(&problem)) {
            lastspot::fuzz::Fail("after " + std::string(name) + ": " + problem);
        }
    }
    UnloadDll(0);
    return 0;
}
