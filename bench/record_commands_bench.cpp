// The record commands (SeenAdd, SeenGet, SeenDel) called through the
// exports of the built shared library, as a host calls them, beside a
// baseline that does the same work with a std::map: the same argument lines
// copied into the same kind of buffer, cut with the same tokenizer and
// number checks, keyed by the same IRC comparison, and answered with the
// same reply formats. Plus the memory a table takes per record.
//
// Each size has its own table, in the library and in the baseline, filled
// once on first use and left full by every benchmark, so that all of them
// see records laid out as one run of adds lays them out (a walk or a lookup
// over records scattered by earlier churn runs measurably slower).
//
// Compare the Library* and Map* lines of one size: the ratio is what
// matters, not the absolute times.
#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "built_library.h"
#include "support/seen_model.h"
#include "host/lifecycle.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "text/case_map.h"

namespace {

using lastspot::protocol::IsDecimal;
using lastspot::protocol::NextToken;
using lastspot::protocol::ParseDecimal;
using lastspot::platform::FormatBounded;

constexpr std::size_t kBufferSize = 4096;

// ---------------------------------------------------------------------------
// The library under measurement

using lastspot::bench::CommandExport;

// The exports this benchmark calls.
struct Library : lastspot::bench::ExportTable {
    static Library& Get() {
        static Library library;
        return library;
    }

    CommandExport tableAdd = Find("SeenTableAdd");
    CommandExport add = Find("SeenAdd");
    CommandExport get = Find("SeenGet");
    CommandExport del = Find("SeenDel");
    CommandExport clear = Find("SeenClear");
    CommandExport count = Find("SeenCount");
};

// ---------------------------------------------------------------------------
// The baseline: a std::map per table, with the same parsing and the same
// reply formatting (the library's own bounded formatter)

using Record = lastspot::testing::ModelRecord;  // the tests' record

struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(const std::string& a, const std::string& b) const {
        return lastspot::text::IrcCompare(a.c_str(), b.c_str()) < 0;
    }
    bool operator()(const char* a, const std::string& b) const {
        return lastspot::text::IrcCompare(a, b.c_str()) < 0;
    }
    bool operator()(const std::string& a, const char* b) const {
        return lastspot::text::IrcCompare(a.c_str(), b) < 0;
    }
};

using MapTable = std::map<std::string, Record, CaseInsensitiveLess>;

class MapLibrary {
public:
    explicit MapLibrary(const std::string& table) { tables_.emplace(table, MapTable()); }

    const char* Run(void (MapLibrary::*command)(char*), const std::string& line) {
        std::memcpy(buffer_, line.c_str(), line.size() + 1);
        (this->*command)(buffer_);
        return buffer_;
    }

    void Add(char* buffer) {
        char* cursor = buffer;
        MapTable* table = FindTable(NextToken(&cursor));
        if (table == nullptr) return Fail(buffer, "TABLE", "Invalid table name");
        const char* fields[6];
        for (int i = 0; i < 4; ++i) {
            fields[i] = NextToken(&cursor);
            if (fields[i][0] == '\0') return Fail(buffer, "NICK", "Invalid field");
        }
        for (int i = 4; i < 6; ++i) {
            fields[i] = NextToken(&cursor);
            if (!IsDecimal(fields[i])) return Fail(buffer, "WHEN", "Invalid number");
        }
        auto at = table->lower_bound(fields[0]);
        if (at == table->end() || table->key_comp()(fields[0], at->first)) {
            at = table->emplace_hint(at, fields[0], Record());
        }
        Record& record = at->second;
        record.nick = fields[0];
        record.address = fields[1];
        record.channel = fields[2];
        record.type = fields[3];
        record.text = cursor;
        record.seenTime = static_cast<std::int32_t>(ParseDecimal(fields[4]));
        record.timeSpent = static_cast<std::int32_t>(ParseDecimal(fields[5]));
        FormatBounded(buffer, "+OK %s", "");
    }

    void Get(char* buffer) {
        char* cursor = buffer;
        MapTable* table = FindTable(NextToken(&cursor));
        if (table == nullptr) return Fail(buffer, "TABLE", "Invalid table name");
        const char* nick = NextToken(&cursor);
        if (nick[0] == '\0') return Fail(buffer, "NICK", "Invalid nick");
        auto found = table->find(nick);
        if (found == table->end()) return Fail(buffer, "FOUND", "Nick not found");
        const Record& r = found->second;
        FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", r.nick.c_str(), r.address.c_str(),
                      r.channel.c_str(), r.type.c_str(), static_cast<int>(r.seenTime),
                      static_cast<int>(r.timeSpent), r.text.c_str());
    }

    void Del(char* buffer) {
        char* cursor = buffer;
        MapTable* table = FindTable(NextToken(&cursor));
        if (table == nullptr) return Fail(buffer, "TABLE", "Invalid table name");
        const char* nick = NextToken(&cursor);
        if (nick[0] == '\0') return Fail(buffer, "NICK", "Invalid nick");
        auto found = table->find(nick);
        if (found == table->end()) return Fail(buffer, "FOUND", "Nick not found");
        table->erase(found);
        FormatBounded(buffer, "+OK %s", "");
    }

    MapTable& table() { return tables_.begin()->second; }

private:
    MapTable* FindTable(const char* name) {
        auto found = tables_.find(name);
        return found == tables_.end() ? nullptr : &found->second;
    }
    static void Fail(char* buffer, const char* code, const char* message) {
        FormatBounded(buffer, "-%s %s", code, message);
    }

    std::map<std::string, MapTable, CaseInsensitiveLess> tables_;
    char buffer_[kBufferSize];
};

// ---------------------------------------------------------------------------
// Workloads

// The argument lines of one size, the same for every benchmark of it, all
// naming the size's own table.
struct Workload {
    std::string table;                 // "t" and the size
    std::vector<std::string> add;      // new nicks, in random order
    std::vector<std::string> replace;  // the same nicks respelled, other values
    std::vector<std::string> get;      // every nick, respelled, shuffled
    std::vector<std::string> miss;     // nicks that are not in the table
    std::vector<std::string> del;      // every nick, shuffled
    double stringBytes = 0;            // of one record's five strings, on average
};

std::string AddLine(const std::string& table, const std::string& nick, std::mt19937& random) {
    std::string line = table + " " + nick + " ~ident" + std::to_string(random() % 5000) + "@host-" +
                       std::to_string(random() % 1000) + ".example.org #channel" +
                       std::to_string(random() % 50) + " join " +
                       std::to_string(1600000000 + random() % 100000000) + " " +
                       std::to_string(random() % 10000) + " was here, said hello";
    return line;
}

// The five strings of a record made from an add line, with terminators.
double RecordStringBytes(const std::string& line) {
    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    char* cursor = copy.data();
    NextToken(&cursor);
    double bytes = 0;
    for (int i = 0; i < 4; ++i) bytes += std::strlen(NextToken(&cursor)) + 1;
    NextToken(&cursor);
    NextToken(&cursor);
    return bytes + std::strlen(cursor) + 1;
}

// Nick characters: letters and digits, and the RFC 1459 pairs in both
// spellings.
constexpr char kNickAlphabet[] = "abcdefghijklmnopqrstuvwxyzABC[]{}_^|`0123456789";

const Workload& Work(std::size_t n) {
    static std::map<std::size_t, Workload> cache;
    auto found = cache.find(n);
    if (found != cache.end()) return found->second;

    Workload& w = cache[n];
    w.table = "t" + std::to_string(n);
    std::mt19937 random(static_cast<std::uint32_t>(n));
    // 2n nicks distinct under the case rules: n for the table, n absent.
    std::vector<std::string> nicks;
    std::unordered_set<std::string> folded;
    while (nicks.size() < 2 * n) {
        std::string nick(5 + random() % 8, ' ');
        for (char& c : nick) c = kNickAlphabet[random() % (sizeof kNickAlphabet - 1)];
        std::string key = nick;
        for (char& c : key) c = static_cast<char>(lastspot::text::IrcToUpper(c));
        if (folded.insert(key).second) nicks.push_back(nick);
    }
    auto respell = [&](std::string nick) {
        for (char& c : nick) {
            if (random() % 2 == 0) c = lastspot::testing::CasePartner(c);
        }
        return nick;
    };
    for (std::size_t i = 0; i < n; ++i) {
        w.add.push_back(AddLine(w.table, nicks[i], random));
        w.stringBytes += RecordStringBytes(w.add.back());
        w.replace.push_back(AddLine(w.table, respell(nicks[i]), random));
        w.get.push_back(w.table + " " + respell(nicks[i]));
        w.miss.push_back(w.table + " " + nicks[n + i]);
        w.del.push_back(w.table + " " + respell(nicks[i]));
    }
    w.stringBytes /= static_cast<double>(n);
    std::shuffle(w.replace.begin(), w.replace.end(), random);
    std::shuffle(w.get.begin(), w.get.end(), random);
    std::shuffle(w.del.begin(), w.del.end(), random);
    return w;
}

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

// Stops the run when a reply is not what the benchmark expects: a
// benchmark of failing commands measures nothing.
void Expect(const char* reply, char first, const char* what) {
    if (reply[0] != first) {
        std::fprintf(stderr, "%s: unexpected reply '%s'\n", what, reply);
        std::exit(1);
    }
}

std::size_t Count(Library& library, const Workload& w) {
    const char* reply = library.Run(library.count, w.table);
    Expect(reply, '+', "SeenCount");
    return std::strtoul(reply + 4, nullptr, 10);
}

// Stops the run when the table does not hold `expected` records.
void CheckCount(Library& library, const Workload& w, std::size_t expected) {
    std::size_t count = Count(library, w);
    if (count != expected) {
        std::fprintf(stderr, "expected %zu records in %s, found %zu\n", expected, w.table.c_str(), count);
        std::exit(1);
    }
}

// Adds every record to the size's table (made on first use).
void Fill(Library& library, const Workload& w) {
    library.Run(library.tableAdd, w.table);
    library.Run(library.clear, w.table);
    for (const std::string& line : w.add) Expect(library.Run(library.add, line), '+', "SeenAdd");
    CheckCount(library, w, w.add.size());
}

// The size's table, filled once; every benchmark leaves it full.
void FullTable(Library& library, const Workload& w) {
    library.Run(library.tableAdd, w.table);
    if (Count(library, w) != w.add.size()) Fill(library, w);
}

// The baseline's table of the size, filled once; every benchmark leaves it
// full.
MapLibrary& FullMap(const Workload& w) {
    static std::map<std::size_t, MapLibrary> maps;
    auto [at, made] = maps.try_emplace(w.add.size(), w.table);
    MapLibrary& map = at->second;
    if (map.table().size() != w.add.size()) {
        map.table().clear();
        for (const std::string& line : w.add) map.Run(&MapLibrary::Add, line);
    }
    return map;
}

// ---------------------------------------------------------------------------
// SeenGet of nicks the table holds, and of nicks it does not

template <bool kHits>
void LibraryGet(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    const std::vector<std::string>& lines = kHits ? w.get : w.miss;
    Expect(library.Run(library.get, lines.front()), kHits ? '+' : '-', "SeenGet");
    for (auto _ : state) {
        for (const std::string& line : lines) {
            benchmark::DoNotOptimize(library.Run(library.get, line));
        }
    }
    state.SetItemsProcessed(state.iterations() * lines.size());
}

template <bool kHits>
void MapGet(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    MapLibrary& map = FullMap(w);
    const std::vector<std::string>& lines = kHits ? w.get : w.miss;
    Expect(map.Run(&MapLibrary::Get, lines.front()), kHits ? '+' : '-', "map get");
    for (auto _ : state) {
        for (const std::string& line : lines) {
            benchmark::DoNotOptimize(map.Run(&MapLibrary::Get, line));
        }
    }
    state.SetItemsProcessed(state.iterations() * lines.size());
}

// ---------------------------------------------------------------------------
// SeenAdd of nicks the table holds, in another letter case: every record
// takes five new strings

void LibraryAddReplace(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    for (auto _ : state) {
        for (const std::string& line : w.replace) {
            benchmark::DoNotOptimize(library.Run(library.add, line));
        }
    }
    CheckCount(library, w, w.add.size());
    state.SetItemsProcessed(state.iterations() * w.replace.size());
}

void MapAddReplace(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    MapLibrary& map = FullMap(w);
    for (auto _ : state) {
        for (const std::string& line : w.replace) {
            benchmark::DoNotOptimize(map.Run(&MapLibrary::Add, line));
        }
    }
    if (map.table().size() != w.add.size()) Die("the baseline lost records");
    state.SetItemsProcessed(state.iterations() * w.replace.size());
}

// ---------------------------------------------------------------------------
// SeenDel of every nick, in random order; the table is filled again
// outside the timing

void LibraryDel(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    for (auto _ : state) {
        for (const std::string& line : w.del) {
            benchmark::DoNotOptimize(library.Run(library.del, line));
        }
        state.PauseTiming();
        CheckCount(library, w, 0);
        Fill(library, w);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * w.del.size());
}

void MapDel(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    MapLibrary& map = FullMap(w);
    for (auto _ : state) {
        for (const std::string& line : w.del) {
            benchmark::DoNotOptimize(map.Run(&MapLibrary::Del, line));
        }
        state.PauseTiming();
        if (!map.table().empty()) Die("the baseline kept records");
        for (const std::string& line : w.add) map.Run(&MapLibrary::Add, line);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * w.del.size());
}

// ---------------------------------------------------------------------------
// SeenAdd of nicks the table does not hold: the table is emptied outside
// the timing, and left full

void LibraryAddNew(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    for (auto _ : state) {
        state.PauseTiming();
        library.Run(library.clear, w.table);
        state.ResumeTiming();
        for (const std::string& line : w.add) {
            benchmark::DoNotOptimize(library.Run(library.add, line));
        }
    }
    CheckCount(library, w, w.add.size());
    state.SetItemsProcessed(state.iterations() * w.add.size());
}

void MapAddNew(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    MapLibrary& map = FullMap(w);
    for (auto _ : state) {
        state.PauseTiming();
        map.table().clear();
        state.ResumeTiming();
        for (const std::string& line : w.add) {
            benchmark::DoNotOptimize(map.Run(&MapLibrary::Add, line));
        }
    }
    if (map.table().size() != w.add.size()) Die("the baseline lost records");
    state.SetItemsProcessed(state.iterations() * w.add.size());
}

// ---------------------------------------------------------------------------
// Memory per record: what the allocator hands out while a table is filled,
// per record, against the bytes of the record's own five strings.

#if defined(__GLIBC__)
std::size_t BytesInUse() { return mallinfo2().uordblks; }

void ReportMemory(benchmark::State& state, double allocated, const Workload& w) {
    double perRecord = allocated / static_cast<double>(w.add.size());
    state.counters["alloc_B_per_record"] = perRecord;
    state.counters["string_B_per_record"] = w.stringBytes;
    state.counters["overhead_B_per_record"] = perRecord - w.stringBytes;
}

void LibraryMemory(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    double allocated = 0;
    for (auto _ : state) {
        library.Run(library.clear, w.table);
        std::size_t before = BytesInUse();
        for (const std::string& line : w.add) library.Run(library.add, line);
        allocated = static_cast<double>(BytesInUse() - before);
    }
    CheckCount(library, w, w.add.size());
    ReportMemory(state, allocated, w);
}

void MapMemory(benchmark::State& state) {
    const Workload& w = Work(state.range(0));
    double allocated = 0;
    for (auto _ : state) {
        MapLibrary map(w.table);
        std::size_t before = BytesInUse();
        for (const std::string& line : w.add) map.Run(&MapLibrary::Add, line);
        allocated = static_cast<double>(BytesInUse() - before);
    }
    ReportMemory(state, allocated, w);
}
#endif

// Lookups first, while every table is as one run of adds laid it out.
#define SIZES ->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK_TEMPLATE(LibraryGet, true) SIZES;
BENCHMARK_TEMPLATE(MapGet, true) SIZES;
BENCHMARK_TEMPLATE(LibraryGet, false) SIZES;
BENCHMARK_TEMPLATE(MapGet, false) SIZES;
BENCHMARK(LibraryAddReplace) SIZES;
BENCHMARK(MapAddReplace) SIZES;
BENCHMARK(LibraryDel) SIZES;
BENCHMARK(MapDel) SIZES;
BENCHMARK(LibraryAddNew) SIZES;
BENCHMARK(MapAddNew) SIZES;
#if defined(__GLIBC__)
BENCHMARK(LibraryMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(MapMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
