// The match commands (SeenMatch, SeenMatchCount, SeenMatchSort), bulk
// deletion (SeenDelMatch) and expiry (SeenExpire t and n) through the
// exports of the built shared library, beside a baseline that keeps the same
// records in a std::vector in nick order and scans it with the same matcher
// (WildMatch on nick, address and channel), the same tokenizer, the same
// list rules and the same reply formats. Before measuring, each library
// benchmark checks that its reply equals the baseline's.
//
// Each size has its own table, filled once on first use and left full by
// every benchmark (the deleting ones add back what they removed), so that
// all of them walk records laid out as one run of adds lays them out: a
// walk over records scattered by earlier churn runs measurably slower.
//
// Compare the Library* and Vector* lines of one size: the ratio is what
// matters, not the absolute times.
#include <benchmark/benchmark.h>

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
#include "text/wild_match.h"

namespace {

using lastspot::protocol::IsDecimal;
using lastspot::protocol::NextToken;
using lastspot::protocol::ParseDecimal;
using lastspot::platform::FormatBounded;
using lastspot::text::IrcCompare;
using lastspot::text::WildMatch;

constexpr std::size_t kBufferSize = 4096;
constexpr std::size_t kListLimit = 880;

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
    CommandExport clear = Find("SeenClear");
    CommandExport count = Find("SeenCount");
    CommandExport match = Find("SeenMatch");
    CommandExport matchSort = Find("SeenMatchSort");
    CommandExport matchCount = Find("SeenMatchCount");
    CommandExport delMatch = Find("SeenDelMatch");
    CommandExport expire = Find("SeenExpire");
};

// ---------------------------------------------------------------------------
// The baseline: the records in a std::vector in nick order, scanned

using Record = lastspot::testing::ModelRecord;  // the tests' record

using Records = std::vector<Record>;

bool MoreRecent(const Record* a, const Record* b) {
    if (a->seenTime != b->seenTime) return a->seenTime > b->seenTime;
    return IrcCompare(a->nick.c_str(), b->nick.c_str()) < 0;
}

// A query line cut as the library cuts it: table, three patterns and, for
// the listing and counting commands, maxnicks.
struct Query {
    const char* patterns[3];
    std::uint32_t maxNicks = 0;

    bool Parse(char* line, bool takesMaxNicks) {
        char* cursor = line;
        if (NextToken(&cursor)[0] == '\0') return false;
        for (const char*& pattern : patterns) {
            pattern = NextToken(&cursor);
            if (pattern[0] == '\0') return false;
        }
        if (!takesMaxNicks) return true;
        const char* max = NextToken(&cursor);
        if (!IsDecimal(max)) return false;
        maxNicks = ParseDecimal(max);
        return true;
    }

    bool Matches(const Record& r) const {
        return WildMatch(patterns[0], r.nick.c_str(), false) != 0 &&
               WildMatch(patterns[1], r.address.c_str(), false) != 0 &&
               WildMatch(patterns[2], r.channel.c_str(), false) != 0;
    }
};

struct NickList {
    char text[900];
    std::size_t length = 0;
    int listed = 0;

    NickList() { text[0] = '\0'; }

    bool TryAppend(const std::string& nick) {
        if (nick.size() + length > kListLimit) return false;
        if (length != 0) text[length++] = ' ';
        std::memcpy(text + length, nick.c_str(), nick.size() + 1);
        length += nick.size();
        ++listed;
        return true;
    }
};

void Fail(char* buffer) { FormatBounded(buffer, "-%s %s", "FAIL", "Invalid query"); }

void ScanMatch(Records& records, char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return Fail(buffer);
    NickList list;
    std::uint32_t matches = 0;
    for (const Record& r : records) {
        if (!query.Matches(r)) continue;
        ++matches;
        list.TryAppend(r.nick);
        if (query.maxNicks != 0 && matches == query.maxNicks) break;
    }
    FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches), list.listed, list.text);
}

void ScanMatchSort(Records& records, char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return Fail(buffer);
    std::vector<const Record*> matches;
    for (const Record& r : records) {
        if (!query.Matches(r)) continue;
        matches.push_back(&r);
        if (query.maxNicks != 0 && matches.size() == query.maxNicks) break;
    }
    std::sort(matches.begin(), matches.end(), MoreRecent);
    NickList list;
    for (const Record* r : matches) {
        if (!list.TryAppend(r->nick)) break;
    }
    FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches.size()), list.listed, list.text);
}

void ScanMatchCount(Records& records, char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return Fail(buffer);
    std::uint32_t matches = 0;
    for (const Record& r : records) {
        if (!query.Matches(r)) continue;
        ++matches;
        if (query.maxNicks != 0 && matches == query.maxNicks) break;
    }
    FormatBounded(buffer, "+OK %d", static_cast<int>(matches));
}

void ScanDelMatch(Records& records, char* buffer) {
    Query query;
    if (!query.Parse(buffer, false)) return Fail(buffer);
    std::size_t deleted = std::erase_if(records, [&](const Record& r) { return query.Matches(r); });
    FormatBounded(buffer, "+OK %d %d", static_cast<int>(deleted), static_cast<int>(records.size()));
}

void ScanExpire(Records& records, char* buffer) {
    char* cursor = buffer;
    if (NextToken(&cursor)[0] == '\0') return Fail(buffer);
    const char* option = NextToken(&cursor);
    bool byTime = IrcCompare(option, "t") == 0;
    if (!byTime && IrcCompare(option, "n") != 0) return Fail(buffer);
    const char* number = NextToken(&cursor);
    if (!IsDecimal(number)) return Fail(buffer);
    std::uint32_t n = ParseDecimal(number);
    std::size_t removed = 0;
    if (byTime) {
        removed = std::erase_if(records,
                                [n](const Record& r) { return static_cast<std::uint32_t>(r.seenTime) < n; });
    } else if (records.size() > n) {
        // The n most recent stay: find the last of them, and remove every
        // record that sorts after it.
        std::vector<const Record*> byRecency;
        byRecency.reserve(records.size());
        for (const Record& r : records) byRecency.push_back(&r);
        std::nth_element(byRecency.begin(), byRecency.begin() + n, byRecency.end(), MoreRecent);
        const Record* firstGone = byRecency[n];
        Record cut = *firstGone;
        removed = std::erase_if(records, [&](const Record& r) { return !MoreRecent(&r, &cut); });
    }
    FormatBounded(buffer, "+OK %d", static_cast<int>(removed));
}

using ScanCommand = void (*)(Records&, char*);

const char* RunScan(ScanCommand command, Records& records, const std::string& line) {
    static char buffer[kBufferSize];
    std::memcpy(buffer, line.c_str(), line.size() + 1);
    command(records, buffer);
    return buffer;
}

// ---------------------------------------------------------------------------
// Workloads

// The lines and records of one size, the same for every benchmark of it,
// all naming the size's own table.
struct Workload {
    std::string table;               // "m" and the size
    std::vector<std::string> add;    // one SeenAdd line per record
    Records sorted;                  // the same records in nick order
    std::uint32_t expireBefore = 0;  // the seen time older than a tenth of the records
    std::size_t keepNewest = 0;      // nine tenths of the records
};

Record RandomRecord(const std::string& nick, std::mt19937& random) {
    Record r;
    r.nick = nick;
    r.address = "~ident" + std::to_string(random() % 5000) + "@host-" + std::to_string(random() % 1000) +
                ".example.org";
    r.channel = "#channel" + std::to_string(random() % 50);
    r.type = "join";
    r.seenTime = static_cast<std::int32_t>(1600000000 + random() % 100000000);
    r.timeSpent = static_cast<std::int32_t>(random() % 10000);
    r.text = "was here, said hello";
    return r;
}

// Nick characters: letters and digits, and the RFC 1459 pairs in both
// spellings.
constexpr char kNickAlphabet[] = "abcdefghijklmnopqrstuvwxyzABC[]{}_^|`0123456789";

Workload& Work(std::size_t n) {
    static std::map<std::size_t, Workload> cache;
    auto found = cache.find(n);
    if (found != cache.end()) return found->second;

    Workload& w = cache[n];
    w.table = "m" + std::to_string(n);
    std::mt19937 random(static_cast<std::uint32_t>(n) + 1);
    std::unordered_set<std::string> folded;
    while (w.sorted.size() < n) {
        std::string nick(5 + random() % 8, ' ');
        for (char& c : nick) c = kNickAlphabet[random() % (sizeof kNickAlphabet - 1)];
        std::string key = nick;
        for (char& c : key) c = static_cast<char>(lastspot::text::IrcToUpper(c));
        if (!folded.insert(key).second) continue;
        w.sorted.push_back(RandomRecord(nick, random));
        const Record& r = w.sorted.back();
        w.add.push_back(w.table + " " + r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
                        std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " + r.text);
    }
    std::sort(w.sorted.begin(), w.sorted.end(), [](const Record& a, const Record& b) {
        return IrcCompare(a.nick.c_str(), b.nick.c_str()) < 0;
    });
    std::vector<std::int32_t> times;
    for (const Record& r : w.sorted) times.push_back(r.seenTime);
    std::nth_element(times.begin(), times.begin() + n / 10, times.end());
    w.expireBefore = static_cast<std::uint32_t>(times[n / 10]);
    w.keepNewest = n - n / 10;
    return w;
}

// Stops the run when the table does not hold `expected` records.
void CheckCount(Library& library, const Workload& w, std::size_t expected) {
    const char* reply = library.Run(library.count, w.table);
    if (reply[0] != '+' || std::strtoul(reply + 4, nullptr, 10) != expected) {
        std::fprintf(stderr, "expected %zu records in %s, SeenCount replied '%s'\n", expected,
                     w.table.c_str(), reply);
        std::exit(1);
    }
}

// The size's table, made and filled on first use; every benchmark leaves
// it full.
void FullTable(Library& library, const Workload& w) {
    library.Run(library.tableAdd, w.table);
    const char* reply = library.Run(library.count, w.table);
    if (std::strtoul(reply + 4, nullptr, 10) == w.add.size()) return;
    library.Run(library.clear, w.table);
    for (const std::string& line : w.add) library.Run(library.add, line);
    CheckCount(library, w, w.add.size());
}

// Stops the run when the library and the baseline disagree: a benchmark of
// different work measures nothing.
void ExpectSameReply(const std::string& library, const std::string& baseline, const std::string& line) {
    if (library != baseline) {
        std::fprintf(stderr, "'%s': the library replied '%s', the baseline '%s'\n", line.c_str(),
                     library.c_str(), baseline.c_str());
        std::exit(1);
    }
}

// The queries: every record, and a selective one (about one record in
// 1,200: nicks starting with "a" or "A", a tenth of the hosts, a fifth of
// the channels).
std::string QueryLine(const Workload& w, int which) {
    return w.table + (which == 0 ? " * * * 0" : " a* *@host-1??.example.org #channel1? 0");
}

// ---------------------------------------------------------------------------
// Queries that change nothing: the same line over and over

template <int kWhich>
void LibraryQuery(benchmark::State& state, CommandExport Library::*command, ScanCommand baseline) {
    Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    FullTable(library, w);
    std::string line = QueryLine(w, kWhich);
    ExpectSameReply(library.Run(library.*command, line), RunScan(baseline, w.sorted, line), line);
    for (auto _ : state) benchmark::DoNotOptimize(library.Run(library.*command, line));
    state.SetItemsProcessed(state.iterations() * w.add.size());
}

template <int kWhich>
void VectorQuery(benchmark::State& state, ScanCommand command) {
    Workload& w = Work(state.range(0));
    std::string line = QueryLine(w, kWhich);
    for (auto _ : state) benchmark::DoNotOptimize(RunScan(command, w.sorted, line));
    state.SetItemsProcessed(state.iterations() * w.add.size());
}

void LibraryMatchAll(benchmark::State& s) { LibraryQuery<0>(s, &Library::match, ScanMatch); }
void VectorMatchAll(benchmark::State& s) { VectorQuery<0>(s, ScanMatch); }
void LibraryMatchSelective(benchmark::State& s) { LibraryQuery<1>(s, &Library::match, ScanMatch); }
void VectorMatchSelective(benchmark::State& s) { VectorQuery<1>(s, ScanMatch); }
void LibraryMatchCountAll(benchmark::State& s) { LibraryQuery<0>(s, &Library::matchCount, ScanMatchCount); }
void VectorMatchCountAll(benchmark::State& s) { VectorQuery<0>(s, ScanMatchCount); }
void LibraryMatchCountSelective(benchmark::State& s) {
    LibraryQuery<1>(s, &Library::matchCount, ScanMatchCount);
}
void VectorMatchCountSelective(benchmark::State& s) { VectorQuery<1>(s, ScanMatchCount); }
void LibraryMatchSortAll(benchmark::State& s) { LibraryQuery<0>(s, &Library::matchSort, ScanMatchSort); }
void VectorMatchSortAll(benchmark::State& s) { VectorQuery<0>(s, ScanMatchSort); }
void LibraryMatchSortSelective(benchmark::State& s) {
    LibraryQuery<1>(s, &Library::matchSort, ScanMatchSort);
}
void VectorMatchSortSelective(benchmark::State& s) { VectorQuery<1>(s, ScanMatchSort); }

// ---------------------------------------------------------------------------
// Commands that delete: each iteration starts from the full table, restored
// outside the timing (the library re-adds what was deleted; the baseline
// copies the full vector back).

// Deletes the records of one channel in fifty.
std::string DelMatchLine(const Workload& w) { return w.table + " * * #channel1"; }
std::string ExpireTimeLine(const Workload& w) { return w.table + " t " + std::to_string(w.expireBefore); }
std::string ExpireCountLine(const Workload& w) { return w.table + " n " + std::to_string(w.keepNewest); }

// The add lines of the records a deleting command removes, for restoring.
std::vector<std::string> LinesRemovedBy(const Workload& w, ScanCommand command, const std::string& line) {
    Records kept = w.sorted;
    RunScan(command, kept, line);
    std::unordered_set<std::string> survivors;
    for (const Record& r : kept) survivors.insert(r.nick);
    std::vector<std::string> removed;
    std::size_t nickStart = w.table.size() + 1;
    for (const std::string& add : w.add) {
        std::string nick = add.substr(nickStart, add.find(' ', nickStart) - nickStart);
        if (survivors.count(nick) == 0) removed.push_back(add);
    }
    return removed;
}

void LibraryDeleting(benchmark::State& state, CommandExport Library::*command, ScanCommand baseline,
                     std::string (*lineFor)(const Workload&)) {
    const Workload& w = Work(state.range(0));
    Library& library = Library::Get();
    std::string line = lineFor(w);
    std::vector<std::string> restore = LinesRemovedBy(w, baseline, line);
    FullTable(library, w);
    Records copy = w.sorted;
    std::string expected = RunScan(baseline, copy, line);
    bool first = true;
    for (auto _ : state) {
        const char* reply = library.Run(library.*command, line);
        state.PauseTiming();
        if (first) ExpectSameReply(reply, expected, line);
        first = false;
        for (const std::string& add : restore) library.Run(library.add, add);
        state.ResumeTiming();
    }
    CheckCount(library, w, w.add.size());
    state.SetItemsProcessed(state.iterations() * w.add.size());
    state.counters["removed"] = static_cast<double>(restore.size());
}

void VectorDeleting(benchmark::State& state, ScanCommand command, std::string (*lineFor)(const Workload&)) {
    const Workload& w = Work(state.range(0));
    std::string line = lineFor(w);
    Records records;
    for (auto _ : state) {
        state.PauseTiming();
        records = w.sorted;
        state.ResumeTiming();
        benchmark::DoNotOptimize(RunScan(command, records, line));
    }
    state.SetItemsProcessed(state.iterations() * w.add.size());
    state.counters["removed"] = static_cast<double>(w.sorted.size() - records.size());
}

void LibraryDelMatch(benchmark::State& s) {
    LibraryDeleting(s, &Library::delMatch, ScanDelMatch, DelMatchLine);
}
void VectorDelMatch(benchmark::State& s) { VectorDeleting(s, ScanDelMatch, DelMatchLine); }
void LibraryExpireTime(benchmark::State& s) {
    LibraryDeleting(s, &Library::expire, ScanExpire, ExpireTimeLine);
}
void VectorExpireTime(benchmark::State& s) { VectorDeleting(s, ScanExpire, ExpireTimeLine); }
void LibraryExpireCount(benchmark::State& s) {
    LibraryDeleting(s, &Library::expire, ScanExpire, ExpireCountLine);
}
void VectorExpireCount(benchmark::State& s) { VectorDeleting(s, ScanExpire, ExpireCountLine); }

#define SIZES ->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(LibraryMatchAll) SIZES;
BENCHMARK(VectorMatchAll) SIZES;
BENCHMARK(LibraryMatchSelective) SIZES;
BENCHMARK(VectorMatchSelective) SIZES;
BENCHMARK(LibraryMatchCountAll) SIZES;
BENCHMARK(VectorMatchCountAll) SIZES;
BENCHMARK(LibraryMatchCountSelective) SIZES;
BENCHMARK(VectorMatchCountSelective) SIZES;
BENCHMARK(LibraryMatchSortAll) SIZES;
BENCHMARK(VectorMatchSortAll) SIZES;
BENCHMARK(LibraryMatchSortSelective) SIZES;
BENCHMARK(VectorMatchSortSelective) SIZES;
BENCHMARK(LibraryDelMatch) SIZES;
BENCHMARK(VectorDelMatch) SIZES;
BENCHMARK(LibraryExpireTime) SIZES;
BENCHMARK(VectorExpireTime) SIZES;
BENCHMARK(LibraryExpireCount) SIZES;
BENCHMARK(VectorExpireCount) SIZES;

}  // namespace
