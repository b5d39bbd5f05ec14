// Saving and loading seen files through the exports, beside the floor: the
// same bytes written (and flushed to disk, as a save does) and read back
// with plain buffered I/O in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "built_library.h"

namespace {

namespace fs = std::filesystem;

using lastspot::bench::BuiltLibrary;
using lastspot::bench::CommandExport;

std::string Run(const char* name, const std::string& arguments) {
    BuiltLibrary& library = BuiltLibrary::Get();
    return library.Run(library.Command(name), arguments);
}

const fs::path& Directory() {
    static const fs::path directory = [] {
        fs::path path = fs::temp_directory_path() / ("lastspot-bench-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return directory;
}

// A table "t" of n records, saved once to "<n>.seen"; returns that path.
std::string PrepareTable(long n) {
    static long prepared = -1;
    std::string path = (Directory() / (std::to_string(n) + ".seen")).string();
    if (prepared == n) return path;
    Run("SeenTableClear", "");
    Run("SeenTableAdd", "t");
    Run("SeenTableAdd", "u");
    for (long i = 0; i < n; ++i) {
        Run("SeenAdd", "t nick" + std::to_string(i * 2654435761u % 1000003) + " user@host" +
                           std::to_string(i % 97) + ".example.net #channel" + std::to_string(i % 7) +
                           " join " + std::to_string(1700000000 + i) + " " + std::to_string(i % 600) +
                           " was here a while ago");
    }
    Run("SeenSave", "t " + path);
    prepared = n;
    return path;
}

void Save(benchmark::State& state) {
    PrepareTable(state.range(0));
    std::string target = (Directory() / "save.seen").string();
    for (auto _ : state) benchmark::DoNotOptimize(Run("SeenSave", "t " + target));
    state.SetBytesProcessed(state.iterations() * fs::file_size(target));
}

// The same records after a load: they were allocated in nick order, so the
// walk meets them in memory order, as it does for a table a script loads at
// start-up.
void SaveLoaded(benchmark::State& state) {
    std::string source = PrepareTable(state.range(0));
    Run("SeenLoad", "u " + source);
    std::string target = (Directory() / "save-loaded.seen").string();
    for (auto _ : state) benchmark::DoNotOptimize(Run("SeenSave", "u " + target));
    state.SetBytesProcessed(state.iterations() * fs::file_size(target));
}

void Load(benchmark::State& state) {
    std::string source = PrepareTable(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(Run("SeenLoad", "u " + source));
    state.SetBytesProcessed(state.iterations() * fs::file_size(source));
}

// The floor for saving: the same bytes through stdio, flushed to the disk.
void WriteFloor(benchmark::State& state) {
    std::string source = PrepareTable(state.range(0));
    std::vector<char> bytes(fs::file_size(source));
    std::FILE* in = std::fopen(source.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    std::string target = (Directory() / "floor.seen").string();
    for (auto _ : state) {
        std::FILE* out = std::fopen(target.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fflush(out);
        fsync(fileno(out));
        std::fclose(out);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// The floor for loading: the same bytes read through stdio and cut into
// lines.
void ReadFloor(benchmark::State& state) {
    std::string source = PrepareTable(state.range(0));
    std::vector<char> block(64 * 1024);
    for (auto _ : state) {
        std::FILE* in = std::fopen(source.c_str(), "rb");
        long lines = 0;
        while (std::size_t got = std::fread(block.data(), 1, block.size(), in)) {
            for (std::size_t i = 0; i < got; ++i) lines += block[i] == '\n';
        }
        std::fclose(in);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * fs::file_size(source));
}

// Grouped by size, so each table is built once.
#define STORE_BENCHMARKS(n)                                       \
    BENCHMARK(Save)->Arg(n)->Unit(benchmark::kMillisecond);       \
    BENCHMARK(SaveLoaded)->Arg(n)->Unit(benchmark::kMillisecond); \
    BENCHMARK(WriteFloor)->Arg(n)->Unit(benchmark::kMillisecond); \
    BENCHMARK(Load)->Arg(n)->Unit(benchmark::kMillisecond);       \
    BENCHMARK(ReadFloor)->Arg(n)->Unit(benchmark::kMillisecond);
STORE_BENCHMARKS(100000)
STORE_BENCHMARKS(1000000)

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Run("SeenTableClear", "");
    std::error_code ignored;
    fs::remove_all(Directory(), ignored);
    return 0;
}
