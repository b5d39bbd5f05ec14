// Loads a table of N records from a seen file, then walks, matches,
// expires and saves it, checking every reply and the index invariants.
//   scale_check N
// The default test run uses a few hundred thousand records; `make
// test-scale` runs ten million, taller than 32-entry stacks would allow.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "host/exports.h"
#include "seen/table_registry.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;

using lastspot::testing::RunExport;

int failures = 0;
auto started = std::chrono::steady_clock::now();

// The process's peak resident memory so far, in MB, where the system tells
// (Linux: VmHWM in /proc/self/status); 0 elsewhere.
long PeakMegabytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kilobytes) == 1) break;
    }
    std::fclose(status);
    return kilobytes / 1024;
}

void Expect(const std::string& what, const std::string& got, const std::string& expected) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    bool ok = got == expected;
    std::printf("%7.1fs %5ld MB %s %s: %s\n", seconds, PeakMegabytes(), ok ? "ok  " : "FAIL", what.c_str(),
                got.substr(0, 80).c_str());
    if (!ok) {
        std::printf("        expected: %s\n", expected.c_str());
        ++failures;
    }
    std::fflush(stdout);
}

void ExpectValid(const std::string& when) {
    std::string problem;
    bool ok = lastspot::seen::CheckTables(&problem);
    Expect("invariants " + when, ok ? "hold" : problem, "hold");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: scale_check N\n");
        return 2;
    }
    const std::uint32_t n = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const fs::path directory = fs::temp_directory_path() /
                               ("lastspot-scale-" + std::to_string(std::random_device()()));
    fs::create_directories(directory);
    const std::string input = (directory / "input.seen").string();
    const std::string output = (directory / "output.seen").string();

    // Nicks in a scrambled order (an odd multiplier permutes 32-bit
    // numbers); seen times 0..999, so expiry by time removes a known share.
    {
        std::FILE* file = std::fopen(input.c_str(), "wb");
        std::fputs("#ombrick SeenTable 1 -  big\r\n", file);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::fprintf(file, "! n%08x user@host%u #chan%u join %u %u seen %u\r\n", i * 2654435761u, i % 97,
                         i % 2, i % 1000, i % 60, i);
        }
        std::fclose(file);
    }
    const std::string count = std::to_string(n);
    lastspot::host::LoadInfo info{};
    LoadDll(&info);
    Expect("create", RunExport(SeenTableAdd, "big"), "+OK ");
    Expect("load", RunExport(SeenLoad, "big " + input), "+OK " + count);
    ExpectValid("after loading");
    Expect("count", RunExport(SeenCount, "big"), "+OK " + count);
    Expect("match count", RunExport(SeenMatchCount, "big * * * 0"), "+OK " + count);
    std::string list = RunExport(SeenMatch, "big * * #chan1 0");
    Expect("match", list.substr(0, 4 + std::to_string(n / 2).size()), "+OK " + std::to_string(n / 2));
    list = RunExport(SeenMatchSort, "big * * * 1000");
    Expect("match sort", list.substr(0, 9), "+OK 1000 ");
    Expect("save", RunExport(SeenSave, "big " + output), "+OK " + count);
    Expect("saved size", std::to_string(fs::file_size(output)), std::to_string(fs::file_size(input)));

    // Seen times below 500 are half of every thousand records.
    std::uint32_t old = (n / 1000) * 500 + std::min<std::uint32_t>(n % 1000, 500);
    Expect("expire by time", RunExport(SeenExpire, "big t 500"), "+OK " + std::to_string(old));
    ExpectValid("after expiry by time");
    std::uint32_t left = n - old;
    std::uint32_t keep = left / 3;
    Expect("expire by count", RunExport(SeenExpire, "big n " + std::to_string(keep)),
           "+OK " + std::to_string(left - keep));
    ExpectValid("after expiry by count");
    std::string deleted = RunExport(SeenDelMatch, "big * * #chan0");
    Expect("delete by match", deleted.substr(0, 4), "+OK ");
    ExpectValid("after deletion");
    Expect("release", RunExport(SeenTableClear, ""), "+OK 1");
    UnloadDll(0);

    std::error_code ignored;
    fs::remove_all(directory, ignored);
    std::printf("%s: %d failures with %u records\n", failures == 0 ? "OK" : "FAILED", failures, n);
    return failures == 0 ? 0 : 1;
}
