// The comparison benchmark: the library's commands, called through the
// exports of the built library as a host calls them, beside what a script
// author could have used instead, on the same records in the same process:
//
//   hash map   absl::flat_hash_map keyed by the IRC case-folded nick: the
//              point commands (with abseil);
//   B-tree     absl::btree_map under the IRC comparison: every command, the
//              whole-table ones as in-order walks (with abseil);
//   std::map   the same under the IRC comparison;
//   vector     the records in nick order in one flat vector, scanned: the
//              whole-table commands;
//   SQLite     an in-memory database, every command (with SQLite);
//   stdio      saving and loading: the library's own file written with a
//              flush to the disk, and read back and cut into lines.
//
// Every anchor takes the same argument lines in a buffer and forms the same
// replies (compare_anchors.h); the replies are checked against the library's.
//
//   compare_bench [RECORDS [ROUNDS]] [--figures FILE]   (default 100000, 3)
//
// With 0 rounds it only weighs a fresh fill of the library's table and the
// map (for the 32-bit DLL under emulation, where the rest would take hours).
//
// --figures appends every figure to FILE, a line each, tab-separated:
// records, operation, store key, value (for scripts/bench-chart.sh).
//
// Each whole-table command runs twice: on tables built by random adds, and
// again after the library's table was saved and loaded (the anchors then
// rebuilt in nick order). The load is timed over the full table it
// replaces, so freeing the old records is part of it. Each round runs every
// operation once, its variants one right after the other, starting with
// another one each round, so that the machine's drift hits them alike; the
// table shows the median of the rounds. Times are nanoseconds per call for
// the point commands and per record in the table for the others. A second
// table gives the spread of single calls of the point commands over a fill
// of every record: no call may take time that grows with the table.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "built_library.h"
#include "compare_anchors.h"
#include "compare_lines.h"
#include "compare_loading.h"
#include "compare_system.h"
#include "text/case_map.h"
#include "text/wild_match.h"
#if LASTSPOT_BENCH_SQLITE
#include "compare_sqlite.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace lastspot::bench;
using lastspot::text::IrcCompare;
using lastspot::text::WildMatch;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "compare_bench: %s\n", what.c_str());
    std::exit(1);
}

// ---------------------------------------------------------------------------
// Records and the workload

std::string LineOf(const Record& r) {
    return std::string(kTableName) + " " + r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
           std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " + r.text;
}

// The argument lines of every operation, and the records as the table
// holds them after the replacing adds.
struct Workload {
    std::size_t n = 0;
    std::vector<Record> records;       // final values, in nick order
    std::vector<std::string> add;      // first values, in random order
    std::vector<std::string> replace;  // final values, nicks respelled, shuffled
    std::vector<std::string> get, miss, del;
    std::vector<std::string> restoreMatch;  // final lines of what the selective query matches
    std::vector<std::string> restoreTime;   // ... of what expiry by age removes, shuffled
    std::vector<std::string> restoreCount;  // ... of what expiry by count removes, shuffled
    std::string selective, matchAll, delMatch, expireTime, expireCount;
};

// Characters of IRC nicks: letters, the RFC 1459 pairs in both spellings,
// "_" and "`"; after the first also digits and "-".
constexpr char kNickFirst[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ[]\\^{}|~_`";
constexpr char kNickRest[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ[]\\^{}|~_`0123456789-";
constexpr const char* kWords[] = {"hello", "all",   "anyone", "seen", "the",    "new",
                                  "build", "works", "lol",    "brb",  "thanks", "is",
                                  "this",  "on",    "ok",     "see",  "you",    "later"};
constexpr const char* kTypes[] = {"text", "text", "text", "join", "join", "part", "quit", "nick"};
// The selective query takes 1 host in 20 and 1 channel in 20.
constexpr int kHosts = 200;
constexpr int kChannels = 20;

// With `addsOnly`, just the first adds: all that weighing a fill needs.
Workload MakeWorkload(std::size_t n, bool addsOnly) {
    Workload w;
    w.n = n;
    std::mt19937_64 random(n);
    auto pick = [&](std::size_t size) { return static_cast<std::size_t>(random() % size); };
    auto words = [&](std::size_t most) {
        std::string text;
        for (std::size_t i = pick(most + 1); i > 0; --i) {
            if (!text.empty()) text += ' ';
            text += kWords[pick(std::size(kWords))];
        }
        return text;
    };
    // Another spelling of a nick: ASCII letters only, which every anchor
    // folds alike.
    auto respell = [&](std::string nick) {
        for (char& c : nick) {
            if (std::isalpha(static_cast<unsigned char>(c)) && pick(2) == 0) c ^= 0x20;
        }
        return nick;
    };

    // 2n nicks, distinct under the IRC case rules: n for the table, n absent.
    std::vector<std::string> nicks;
    std::unordered_set<std::string> folded;
    while (nicks.size() < 2 * n) {
        std::string nick(3 + pick(7) + pick(7), ' ');
        nick[0] = kNickFirst[pick(sizeof kNickFirst - 1)];
        for (std::size_t i = 1; i < nick.size(); ++i) nick[i] = kNickRest[pick(sizeof kNickRest - 1)];
        std::string key = nick;
        for (char& c : key) c = static_cast<char>(lastspot::text::IrcToUpper(c));
        if (folded.insert(key).second) nicks.push_back(nick);
    }
    folded = {};

    std::vector<std::int32_t> times;
    for (std::size_t i = 0; i < n; ++i) {
        Record r;
        r.nick = nicks[i];
        std::string ident(3 + pick(8), ' ');
        for (char& c : ident) c = static_cast<char>('a' + pick(26));
        r.address = (pick(3) == 0 ? "~" : "") + ident + "@host" + std::to_string(pick(kHosts)) +
                    ".example.net";
        r.channel = "#chan" + std::to_string(pick(kChannels));
        r.type = kTypes[pick(std::size(kTypes))];
        r.text = words(12);
        // Four seen times for each record on average: some records share one.
        r.seenTime = static_cast<std::int32_t>(1700000000 + pick(4 * n));
        r.timeSpent = static_cast<std::int32_t>(pick(86400));
        times.push_back(r.seenTime);
        w.add.push_back(LineOf(r));
        if (addsOnly) continue;
        r.nick = respell(r.nick);
        r.text = words(12);
        r.timeSpent = static_cast<std::int32_t>(pick(86400));
        w.replace.push_back(LineOf(r));
        w.get.push_back(std::string(kTableName) + " " + respell(r.nick));
        w.del.push_back(std::string(kTableName) + " " + respell(r.nick));
        w.miss.push_back(std::string(kTableName) + " " + nicks[n + i]);
        w.records.push_back(std::move(r));
    }
    if (addsOnly) return w;
    std::sort(w.records.begin(), w.records.end(), [](const Record& a, const Record& b) {
        return IrcCompare(a.nick.c_str(), b.nick.c_str()) < 0;
    });
    for (const Record& r : w.records) {
        if (WildMatch("*@host1?.example.net", r.address.c_str(), false) != 0 &&
            WildMatch("#chan1", r.channel.c_str(), false) != 0) {
            w.restoreMatch.push_back(LineOf(r));
        }
    }
    std::shuffle(w.replace.begin(), w.replace.end(), random);
    std::shuffle(w.get.begin(), w.get.end(), random);
    std::shuffle(w.del.begin(), w.del.end(), random);

    std::string table = kTableName;
    w.selective = table + " * *@host1?.example.net #chan1 0";
    w.matchAll = table + " * * * 0";
    w.delMatch = table + " * *@host1?.example.net #chan1";
    // By age: every record seen before the median time.
    std::nth_element(times.begin(), times.begin() + n / 2, times.end());
    std::uint32_t cut = static_cast<std::uint32_t>(times[n / 2]);
    w.expireTime = table + " t " + std::to_string(cut);
    w.expireCount = table + " n " + std::to_string(n / 2);
    std::vector<const Record*> byRecency;
    for (const Record& r : w.records) {
        if (static_cast<std::uint32_t>(r.seenTime) < cut) w.restoreTime.push_back(LineOf(r));
        byRecency.push_back(&r);
    }
    std::sort(byRecency.begin(), byRecency.end(),
              [](const Record* a, const Record* b) { return MoreRecent(*a, *b); });
    for (std::size_t i = n / 2; i < n; ++i) w.restoreCount.push_back(LineOf(*byRecency[i]));
    std::shuffle(w.restoreTime.begin(), w.restoreTime.end(), random);
    std::shuffle(w.restoreCount.begin(), w.restoreCount.end(), random);
    return w;
}

// ---------------------------------------------------------------------------
// The results tables

enum Row {
    kAddNew,
    kGetHit,
    kGetMiss,
    kAddReplace,
    kDel,
    kMatchCountRandom,
    kMatchRandom,
    kMatchSortRandom,
    kExpireCountRandom,
    kExpireTimeRandom,
    kDelMatchRandom,
    kSaveRandom,
    kLoad,
    kReload,
    kLoadEmpty,
    kMatchCountLoaded,
    kMatchLoaded,
    kMatchSortLoaded,
    kExpireCountLoaded,
    kExpireTimeLoaded,
    kDelMatchLoaded,
    kSaveLoaded,
    kMemory,
    kRows
};
constexpr int kPointRows = kDel + 1;
constexpr const char* kRowNames[kRows] = {"Add new",
                                          "Get hit",
                                          "Get miss",
                                          "Add replace",
                                          "Del",
                                          "MatchCount, selective (random adds)",
                                          "Match, selective (random adds)",
                                          "MatchSort, every record (random adds)",
                                          "Expire n, keep half (random adds)",
                                          "Expire t, half by age (random adds)",
                                          "DelMatch, selective (random adds)",
                                          "Save (random adds)",
                                          "Load (over the full table)",
                                          "Load again (over the table loaded from that file)",
                                          "Load (into an empty table)",
                                          "MatchCount, selective (after load)",
                                          "Match, selective (after load)",
                                          "MatchSort, every record (after load)",
                                          "Expire n, keep half (after load)",
                                          "Expire t, half by age (after load)",
                                          "DelMatch, selective (after load)",
                                          "Save (after load)",
                                          "memory, bytes per record"};

enum Column { kLastspot, kHash, kBtree, kMap, kVector, kSqlite, kStdio, kInline, kLoading, kColumns };
constexpr const char* kColumnNames[kColumns] = {"lastspot",
                                                "absl::flat_hash_map",
                                                "absl::btree_map",
                                                "std::map",
                                                "vector scan",
                                                "SQLite in memory",
                                                "stdio",
                                                "absl::btree_set, records inline",
                                                "btree_map + flat_hash_map, loading"};
constexpr const char* kColumnKeys[kColumns] = {"lastspot", "hash",  "btree",  "map",    "vector",
                                               "sqlite",   "stdio", "inline", "loading"};

// One variant of an operation: runs it (with whatever untimed preparation
// it needs), returns its time per unit and leaves in `reply` what is
// compared with the other variants' replies (empty: nothing).
struct Variant {
    Column column;
    std::function<double(std::string& reply)> run;
};

// One anchor's command on a line in a buffer; empty where the anchor is
// absent from this build.
using AnchorCommand = std::function<void(char* buffer)>;
#if LASTSPOT_BENCH_SQLITE
#define SQLITE_COMMAND(name) [this](char* buffer) { sqlite_.name(buffer); }
#else
#define SQLITE_COMMAND(name) nullptr
#endif
#if LASTSPOT_BENCH_ABSL
#define ABSL_COMMAND(...) __VA_ARGS__
#else
#define ABSL_COMMAND(...) nullptr
#endif

using Clock = std::chrono::steady_clock;

template <class Work>
double NanosecondsPer(std::size_t units, Work work) {
    Clock::time_point start = Clock::now();
    work();
    std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    return elapsed.count() / static_cast<double>(units);
}

// A reply's first number: what SQLite's listings are compared by, since
// its case rule orders some nicks differently.
long FirstNumber(const std::string& reply) {
    return reply.size() > 4 ? std::strtol(reply.c_str() + 4, nullptr, 10) : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The spread of single calls of one point command through one store.
struct Spread {
    double p50 = 0, p99 = 0, p999 = 0, max = 0;
};

Spread SpreadOf(std::vector<double> calls) {
    Spread s;
    if (calls.empty()) return s;
    std::sort(calls.begin(), calls.end());
    auto at = [&](double q) {
        return calls[std::min(calls.size() - 1,
                              static_cast<std::size_t>(q * static_cast<double>(calls.size())))];
    };
    s.p50 = at(0.5);
    s.p99 = at(0.99);
    s.p999 = at(0.999);
    s.max = calls.back();
    return s;
}

class Comparison {
public:
    explicit Comparison(const Workload& w) : w_(w) {
        directory_ = fs::temp_directory_path() /
                     ("lastspot-compare-" + std::to_string(std::random_device()()));
        fs::create_directories(directory_);
        librarySeen_ = (directory_ / "lastspot.seen").string();
        stdioSeen_ = (directory_ / "stdio.seen").string();
        sqliteFile_ = (directory_ / "sqlite.db").string();
        Expect(Library(lib_.tableAdd, kTableName), "+OK ", "SeenTableAdd");
        for (std::size_t i = 0; i < w_.records.size(); ++i) addOrder_.push_back(i);
        std::shuffle(addOrder_.begin(), addOrder_.end(), std::mt19937_64(w_.n + 1));
    }

    ~Comparison() {
        Library(lib_.clear, kTableName);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    // One round: every operation once, on stores that hold the same
    // records. The round starts and ends with empty stores: the first adds
    // fill them and the last deletes empty them. After each operation that
    // removes records the stores are made whole again, untimed: while the
    // library's table is the one random adds built, by adding the removed
    // records back (in random order, as the anchors do); after the load, by
    // loading again (the anchors rebuilt in nick order).
    void Round(int round) {
        round_ = round;
        // Every store starts from nothing: a hash table keeps its slots
        // when emptied one by one, and would not grow in the fill.
        Library(lib_.clear, kTableName);
#if LASTSPOT_BENCH_ABSL
        hash_ = HashTable();
#endif
        if (round == 0) Spreads();
        AddNew();
        PointLines(kGetHit, w_.get, lib_.get,
                   Point(&OrderedGet<MapTable>, &OrderedGet<BtreeTableOrVoid>, &HashGetOrVoid),
                   SQLITE_COMMAND(Get), w_.n);
        PointLines(kGetMiss, w_.miss, lib_.get,
                   Point(&OrderedGet<MapTable>, &OrderedGet<BtreeTableOrVoid>, &HashGetOrVoid),
                   SQLITE_COMMAND(Get), 0);
        PointLines(kAddReplace, w_.replace, lib_.add,
                   Point(&OrderedAdd<MapTable>, &OrderedAdd<BtreeTableOrVoid>, &HashAddOrVoid),
                   SQLITE_COMMAND(Add), w_.n);
        vector_ = w_.records;
        FillInline(/*inNickOrder=*/false);

        WholeTableRows(kMatchCountRandom, /*loaded=*/false);
        Save(kSaveRandom);
        Load(kLoad);
        Load(kReload);
        Load(kLoadEmpty);
        FillInline(/*inNickOrder=*/true);
        WholeTableRows(kMatchCountLoaded, /*loaded=*/true);
        Save(kSaveLoaded);

        PointLines(kDel, w_.del, lib_.del,
                   Point(&OrderedDel<MapTable>, &OrderedDel<BtreeTableOrVoid>, &HashDelOrVoid),
                   SQLITE_COMMAND(Del), w_.n);
    }

    // Only what a fresh fill of the library's table and of the map takes
    // from the heap, per record.
    void WeighOnly() {
        round_ = 0;
        AddNew();
        std::printf("%zu records: lastspot %.1f bytes per record, std::map %.1f\n", w_.n,
                    Value(kMemory, kLastspot), Value(kMemory, kMap));
    }

    void Print(int rounds) const;
    void PrintGoals() const;
    void WriteFigures(const std::string& path) const;

private:
#if LASTSPOT_BENCH_ABSL
    using BtreeTableOrVoid = BtreeTable;
    static void HashGetOrVoid(HashTable& t, char* b) { HashGet(t, b); }
    static void HashAddOrVoid(HashTable& t, char* b) { HashAdd(t, b); }
    static void HashDelOrVoid(HashTable& t, char* b) { HashDel(t, b); }
#else
    using BtreeTableOrVoid = MapTable;  // never called without abseil
    using HashTable = MapTable;
    static void HashGetOrVoid(HashTable&, char*) {}
    static void HashAddOrVoid(HashTable&, char*) {}
    static void HashDelOrVoid(HashTable&, char*) {}
#endif

    // The exports the benchmark calls.
    struct Exports : ExportTable {
        CommandExport tableAdd = Find("SeenTableAdd");
        CommandExport add = Find("SeenAdd");
        CommandExport get = Find("SeenGet");
        CommandExport del = Find("SeenDel");
        CommandExport count = Find("SeenCount");
        CommandExport clear = Find("SeenClear");
        CommandExport matchCount = Find("SeenMatchCount");
        CommandExport match = Find("SeenMatch");
        CommandExport matchSort = Find("SeenMatchSort");
        CommandExport delMatch = Find("SeenDelMatch");
        CommandExport expire = Find("SeenExpire");
        CommandExport save = Find("SeenSave");
        CommandExport load = Find("SeenLoad");
    };

    // A point command of the three in-process anchors.
    struct PointCommands {
        void (*map)(MapTable&, char*);
        void (*btree)(BtreeTableOrVoid&, char*);
        void (*hash)(HashTable&, char*);
    };
    static PointCommands Point(void (*map)(MapTable&, char*), void (*btree)(BtreeTableOrVoid&, char*),
                               void (*hash)(HashTable&, char*)) {
        return {map, btree, hash};
    }

    const char* Library(CommandExport command, const std::string& line) {
        return ExportTable::Run(command, line);
    }
    char* Take(const std::string& line) {
        std::memcpy(buffer_, line.c_str(), line.size() + 1);
        return buffer_;
    }
    static void Expect(const std::string& reply, const std::string& expected, const char* what) {
        if (reply != expected) Die(std::string(what) + ": '" + reply + "', expected '" + expected + "'");
    }

    // Has the C library's allocator tidy what was freed before a timed run:
    // after millions of small blocks went (an anchor's containers), glibc
    // merges them all on the next large request, and that first request,
    // whichever variant made it, would pay for the others' frees.
    // (The compiler may drop a malloc whose block is never used: this one is
    // handed to a pointer it cannot see through.)
    static void SettleFreeStore() {
        void* volatile block = std::malloc(64 * 1024);
        std::free(block);
    }

    // Runs the variants, one after the other from a starting point that
    // moves on each round, records their times and checks that they agree
    // with each other and, when `expected` is given, the library with it.
    void Measure(Row row, std::vector<Variant> variants, const std::string& expected = "") {
        std::vector<std::string> replies(kColumns);
        std::size_t first = static_cast<std::size_t>(round_) % variants.size();
        for (std::size_t i = 0; i < variants.size(); ++i) {
            Variant& v = variants[(first + i) % variants.size()];
            SettleFreeStore();
            samples_[row][v.column].push_back(v.run(replies[v.column]));
        }
        if (!expected.empty()) Expect(replies[kLastspot], expected, kRowNames[row]);
        for (const Variant& v : variants) {
            const std::string& reply = replies[v.column];
            if (reply.empty() || v.column == kLastspot) continue;
            bool listing = row == kMatchRandom || row == kMatchSortRandom || row == kMatchLoaded ||
                           row == kMatchSortLoaded;
            bool agrees = listing && v.column == kSqlite
                              ? FirstNumber(reply) == FirstNumber(replies[kLastspot])
                              : reply == replies[kLastspot];
            if (!agrees) {
                Die(std::string(kRowNames[row]) + ": " + kColumnNames[v.column] + " replied '" + reply +
                    "', lastspot '" + replies[kLastspot] + "'");
            }
        }
    }

    // A run of point command lines; the reply compared is the number of
    // them that succeeded.
    template <class Run>
    static double Lines(const std::vector<std::string>& lines, std::string& reply, Run run) {
        std::size_t succeeded = 0;
        double time = NanosecondsPer(lines.size(), [&] {
            for (const std::string& line : lines) succeeded += run(line)[0] == '+';
        });
        reply = std::to_string(succeeded) + " succeeded";
        return time;
    }

    // The same calls one by one, each timed.
    template <class Run>
    static std::vector<double> Calls(const std::vector<std::string>& lines, Run run) {
        std::vector<double> calls;
        calls.reserve(lines.size());
        for (const std::string& line : lines) {
            Clock::time_point start = Clock::now();
            run(line);
            calls.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        }
        return calls;
    }

    // Every in-process store's way of running one point command line.
    std::vector<std::pair<Column, std::function<const char*(const std::string&)>>> PointRunners(
        CommandExport command, const PointCommands& anchors) {
        std::vector<std::pair<Column, std::function<const char*(const std::string&)>>> runners;
        runners.push_back({kLastspot,
                           [this, command](const std::string& line) { return Library(command, line); }});
        runners.push_back({kMap, [this, anchors](const std::string& line) {
                               char* b = Take(line);
                               anchors.map(map_, b);
                               return static_cast<const char*>(b);
                           }});
#if LASTSPOT_BENCH_ABSL
        runners.push_back({kBtree, [this, anchors](const std::string& line) {
                               char* b = Take(line);
                               anchors.btree(btree_, b);
                               return static_cast<const char*>(b);
                           }});
        runners.push_back({kHash, [this, anchors](const std::string& line) {
                               char* b = Take(line);
                               anchors.hash(hash_, b);
                               return static_cast<const char*>(b);
                           }});
#endif
        return runners;
    }

    // A run of point command lines through every store (SQLite in one
    // transaction).
    void PointLines(Row row, const std::vector<std::string>& lines, CommandExport command,
                    const PointCommands& anchors, const AnchorCommand& sqliteCommand,
                    std::size_t succeeding) {
        std::vector<Variant> variants;
        for (auto& [column, run] : PointRunners(command, anchors)) {
            variants.push_back({column,
                                [&lines, run](std::string& reply) { return Lines(lines, reply, run); }});
        }
        if (sqliteCommand) {
            variants.push_back({kSqlite, [&](std::string& reply) {
                                    double time = NanosecondsPer(lines.size(),
                                                                 [&] { SqliteTransaction(true); });
                                    time += Lines(lines, reply, [&](const std::string& line) {
                                        char* buffer = Take(line);
                                        sqliteCommand(buffer);
                                        return buffer;
                                    });
                                    return time +
                                           NanosecondsPer(lines.size(), [&] { SqliteTransaction(false); });
                                }});
        }
        Measure(row, variants, std::to_string(succeeding) + " succeeded");
    }

    // The spread of single calls: each store in turn is filled from empty,
    // looked up, replaced and emptied, every call timed on its own.
    void Spreads() {
        struct Step {
            Row row;
            const std::vector<std::string>* lines;
            CommandExport command;
            PointCommands anchors;
        };
        const Step steps[] = {
            {kAddNew, &w_.add, lib_.add,
             Point(&OrderedAdd<MapTable>, &OrderedAdd<BtreeTableOrVoid>, &HashAddOrVoid)},
            {kGetHit, &w_.get, lib_.get,
             Point(&OrderedGet<MapTable>, &OrderedGet<BtreeTableOrVoid>, &HashGetOrVoid)},
            {kGetMiss, &w_.miss, lib_.get,
             Point(&OrderedGet<MapTable>, &OrderedGet<BtreeTableOrVoid>, &HashGetOrVoid)},
            {kAddReplace, &w_.replace, lib_.add,
             Point(&OrderedAdd<MapTable>, &OrderedAdd<BtreeTableOrVoid>, &HashAddOrVoid)},
            {kDel, &w_.del, lib_.del,
             Point(&OrderedDel<MapTable>, &OrderedDel<BtreeTableOrVoid>, &HashDelOrVoid)},
        };
        for (int column : {kLastspot, kHash, kBtree, kMap}) {
            for (const Step& step : steps) {
                for (auto& [c, run] : PointRunners(step.command, step.anchors)) {
                    if (c == column) spreads_[step.row][c] = SpreadOf(Calls(*step.lines, run));
                }
            }
        }
    }

    // The first adds of a round fill the empty tables; the first round
    // then also weighs what a fresh fill of each store takes from the heap,
    // one store at a time.
    void AddNew() {
        PointLines(kAddNew, w_.add, lib_.add,
                   Point(&OrderedAdd<MapTable>, &OrderedAdd<BtreeTableOrVoid>, &HashAddOrVoid),
                   SQLITE_COMMAND(Add), w_.n);
        if (round_ != 0) return;
        Library(lib_.clear, kTableName);
        map_ = MapTable();
        auto weigh = [&](Column column, auto fill) {
            std::size_t empty = HeapBytesInUse();
            fill();
            double grown = static_cast<double>(HeapBytesInUse()) - static_cast<double>(empty);
            samples_[kMemory][column].push_back(grown / static_cast<double>(w_.n));
        };
        weigh(kLastspot, [&] {
            for (const std::string& line : w_.add) Library(lib_.add, line);
        });
        weigh(kMap, [&] {
            for (const std::string& line : w_.add) OrderedAdd(map_, Take(line));
        });
#if LASTSPOT_BENCH_ABSL
        btree_.clear();
        hash_.clear();
        weigh(kBtree, [&] {
            for (const std::string& line : w_.add) OrderedAdd(btree_, Take(line));
        });
        // A hash map keeps its slots when cleared: a new one is weighed.
        hash_ = HashTable();
        weigh(kHash, [&] {
            for (const std::string& line : w_.add) HashAdd(hash_, Take(line));
        });
#endif
#if LASTSPOT_BENCH_SQLITE
        // A database keeps the pages of deleted rows: a new one is weighed.
        auto fresh = std::make_unique<SqliteStore>();
        weigh(kSqlite, [&] {
            fresh->Begin();
            for (const std::string& line : w_.add) fresh->Add(Take(line));
            fresh->Commit();
        });
#endif
        Expect(Library(lib_.count, kTableName), "+OK " + std::to_string(w_.n), "SeenCount");
    }

    void SqliteTransaction([[maybe_unused]] bool begin) {
#if LASTSPOT_BENCH_SQLITE
        if (begin) {
            sqlite_.Begin();
        } else {
            sqlite_.Commit();
        }
#endif
    }

    // One whole-table command line through every variant; the time is per
    // record in the table.
    void Whole(Row row, const std::string& line, CommandExport command, const AnchorCommand& vector,
               const AnchorCommand& map, const AnchorCommand& btree, const AnchorCommand& sqlite,
               const AnchorCommand& inlined = nullptr) {
        auto once = [&](Column column, const AnchorCommand& anchor) {
            return Variant{column, [&, column, anchor](std::string& reply) {
                               return NanosecondsPer(w_.n, [&] {
                                   if (column == kLastspot) {
                                       reply = Library(command, line);
                                   } else {
                                       char* buffer = Take(line);
                                       anchor(buffer);
                                       reply = buffer;
                                   }
                               });
                           }};
        };
        std::vector<Variant> variants = {once(kLastspot, nullptr), once(kMap, map), once(kVector, vector)};
        if (btree) variants.push_back(once(kBtree, btree));
        if (sqlite) variants.push_back(once(kSqlite, sqlite));
        if (inlined) variants.push_back(once(kInline, inlined));
        Measure(row, variants);
    }

    // The whole-table rows in the order of the Row enum from `first`: the
    // three listings, expiry by count and by age, and deletion by match,
    // each followed by making the stores whole again.
    void WholeTableRows(Row first, bool loaded) {
        auto row = [first](Row randomRow) {
            return static_cast<Row>(first + (randomRow - kMatchCountRandom));
        };
        Whole(
            row(kMatchCountRandom), w_.selective, lib_.matchCount, [&](char* b) { MatchCountIn(vector_, b); },
            [&](char* b) { MatchCountIn(map_, b); }, ABSL_COMMAND([&](char* b) { MatchCountIn(btree_, b); }),
            SQLITE_COMMAND(MatchCount), ABSL_COMMAND([&](char* b) { InlineMatchCount(inline_, b); }));
        Whole(
            row(kMatchRandom), w_.selective, lib_.match, [&](char* b) { MatchIn(vector_, b); },
            [&](char* b) { MatchIn(map_, b); }, ABSL_COMMAND([&](char* b) { MatchIn(btree_, b); }),
            SQLITE_COMMAND(Match), ABSL_COMMAND([&](char* b) { InlineMatch(inline_, b); }));
        Whole(
            row(kMatchSortRandom), w_.matchAll, lib_.matchSort, [&](char* b) { MatchSortIn(vector_, b); },
            [&](char* b) { MatchSortIn(map_, b); }, ABSL_COMMAND([&](char* b) { MatchSortIn(btree_, b); }),
            SQLITE_COMMAND(MatchSort));
        Whole(
            row(kDelMatchRandom), w_.delMatch, lib_.delMatch, [&](char* b) { DelMatchIn(vector_, b); },
            [&](char* b) { DelMatchIn(map_, b); }, ABSL_COMMAND([&](char* b) { DelMatchIn(btree_, b); }),
            SQLITE_COMMAND(DelMatch));
        Restore(w_.restoreMatch);
        for (auto [expiry, line, removed] :
             {std::tuple{kExpireCountRandom, &w_.expireCount, &w_.restoreCount},
              std::tuple{kExpireTimeRandom, &w_.expireTime, &w_.restoreTime}}) {
            Whole(
                row(expiry), *line, lib_.expire, [&](char* b) { ExpireIn(vector_, b); },
                [&](char* b) { ExpireIn(map_, b); }, ABSL_COMMAND([&](char* b) { ExpireIn(btree_, b); }),
                SQLITE_COMMAND(Expire));
            if (loaded) {
                Reload();
            } else {
                Restore(*removed);
            }
        }
    }

    // Adds the removed records back to every store that removed them; the
    // vector takes its copy again.
    void Restore(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            Expect(Library(lib_.add, line), "+OK ", "SeenAdd");
            OrderedAdd(map_, Take(line));
#if LASTSPOT_BENCH_ABSL
            OrderedAdd(btree_, Take(line));
#endif
        }
#if LASTSPOT_BENCH_SQLITE
        sqlite_.Begin();
        for (const std::string& line : lines) sqlite_.Add(Take(line));
        sqlite_.Commit();
#endif
        vector_ = w_.records;
        Expect(Library(lib_.count, kTableName), "+OK " + std::to_string(w_.n), "SeenCount");
    }

    // Every store as after the load: the library loads its file again, the
    // ordered anchors are rebuilt in nick order, SQLite loads its copy.
    void Reload() {
        Expect(Library(lib_.load, std::string(kTableName) + " " + librarySeen_),
               "+OK " + std::to_string(w_.n), "SeenLoad");
        RebuildAnchors();
#if LASTSPOT_BENCH_SQLITE
        if (!sqlite_.Load(sqliteFile_)) Die("SQLite load failed");
#endif
    }

    void RebuildAnchors() {
        map_.clear();
        for (const Record& r : w_.records) map_.emplace_hint(map_.end(), r.nick, r);
#if LASTSPOT_BENCH_ABSL
        btree_.clear();
        for (const Record& r : w_.records) btree_.emplace_hint(btree_.end(), r.nick, r);
#endif
        vector_ = w_.records;
    }

    // The library saves its table; stdio writes the bytes of the library's
    // file; SQLite writes a copy of its database. Each writes twice in its
    // turn and the faster counts: how long a flush to disk takes swings by
    // half between one write and the next (the disk still busy with what
    // came before), and one write a round measured the disk's moods more
    // than the saves.
    void Save(Row row) {
        std::string line = std::string(kTableName) + " " + librarySeen_;
        std::string saved = "+OK " + std::to_string(w_.n);
        auto faster = [](auto write) { return std::min(write(), write()); };
        std::vector<Variant> variants = {
            {kLastspot,
             [&](std::string&) {
                 return faster([&] {
                     std::string reply;
                     double time = NanosecondsPer(w_.n, [&] { reply = Library(lib_.save, line); });
                     Expect(reply, saved, "SeenSave");
                     return time;
                 });
             }},
            {kStdio, [&](std::string&) {
                 std::vector<char> bytes = ReadWhole(librarySeen_);
                 return faster([&] {
                     return NanosecondsPer(w_.n, [&] {
                         std::FILE* out = std::fopen(stdioSeen_.c_str(), "wb");
                         bool written = out != nullptr &&
                                        std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                                        SyncToDisk(out);
                         if (out != nullptr) std::fclose(out);
                         if (!written) Die("stdio save failed");
                     });
                 });
             }}};
#if LASTSPOT_BENCH_SQLITE
        variants.push_back({kSqlite, [&](std::string&) {
                                return faster([&] {
                                    std::error_code ignored;
                                    fs::remove(sqliteFile_, ignored);
                                    return NanosecondsPer(w_.n, [&] {
                                        if (!sqlite_.Save(sqliteFile_)) Die("SQLite save failed");
                                    });
                                });
                            }});
#endif
        // The library's file must exist before stdio copies it.
        if (!fs::exists(librarySeen_)) Expect(Library(lib_.save, line), saved, "SeenSave");
        Measure(row, variants);
    }

    // Each loads what it saved: over the full table it replaces (the
    // library's built by random adds, for kLoad; loaded from that very file,
    // for kReload), or into an empty one (kLoadEmpty). stdio reads the
    // library's file and cuts it into lines. The library's minor page
    // faults per record are counted beside its time. The ordered anchors
    // are then rebuilt in nick order, untimed.
    void Load(Row row) {
        std::string line = std::string(kTableName) + " " + librarySeen_;
        std::string loaded = "+OK " + std::to_string(w_.n);
        if (row == kLoadEmpty) {
            Library(lib_.clear, kTableName);
#if LASTSPOT_BENCH_ABSL
            loading_ = LoadedContainers();
#endif
        }
        std::vector<Variant> variants = {
            {kLastspot,
             [&](std::string& reply) {
                 std::size_t faults = MinorPageFaults();
                 double time = NanosecondsPer(w_.n, [&] { reply = Library(lib_.load, line); });
                 faults_[row].push_back(static_cast<double>(MinorPageFaults() - faults) /
                                        static_cast<double>(w_.n));
                 return time;
             }},
            {kStdio, [&](std::string& reply) {
                 std::size_t lines = 0;
                 double time = NanosecondsPer(w_.n, [&] { lines = CountLines(librarySeen_); });
                 reply = "+OK " + std::to_string(lines - 1);  // the header is no record
                 return time;
             }}};
#if LASTSPOT_BENCH_ABSL
        if (row == kLoad) LoadContainers(librarySeen_, &loading_);  // what the load replaces, untimed
        variants.push_back({kLoading, [&](std::string& reply) {
                                std::size_t records = 0;
                                double time = NanosecondsPer(w_.n, [&] {
                                    LoadedContainers fresh;
                                    records = LoadContainers(librarySeen_, &fresh);
                                    std::swap(loading_, fresh);  // the old ones go here
                                });
                                reply = "+OK " + std::to_string(records);
                                return time;
                            }});
#endif
#if LASTSPOT_BENCH_SQLITE
        variants.push_back({kSqlite, [&](std::string& reply) {
                                double time = NanosecondsPer(w_.n, [&] {
                                    if (!sqlite_.Load(sqliteFile_)) Die("SQLite load failed");
                                });
                                reply = "+OK " + std::to_string(sqlite_.Count());
                                return time;
                            }});
#endif
        Measure(row, variants, loaded);
        Expect(Library(lib_.count, kTableName), loaded, "SeenCount");
        if (row != kLoadEmpty) return;
#if LASTSPOT_BENCH_ABSL
        loading_ = LoadedContainers();
#endif
        RebuildAnchors();
    }

    // The records kept whole in a B-tree: added in the workload's random
    // order, as the tables of the random adds were, or in nick order, as
    // after a load.
    void FillInline([[maybe_unused]] bool inNickOrder) {
#if LASTSPOT_BENCH_ABSL
        inline_.clear();
        InlineRecord record;
        for (std::size_t i = 0; i < w_.records.size(); ++i) {
            if (!record.Set(w_.records[inNickOrder ? i : addOrder_[i]]))
                Die("a record too long to keep inline");
            if (inNickOrder) {
                inline_.insert(inline_.end(), record);
            } else {
                inline_.insert(record);
            }
        }
#endif
    }

    static std::vector<char> ReadWhole(const std::string& path) {
        std::vector<char> bytes(fs::file_size(path));
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (in == nullptr || std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) {
            Die("cannot read " + path);
        }
        std::fclose(in);
        return bytes;
    }

    // Reads the file in large blocks and finds every line end.
    static std::size_t CountLines(const std::string& path) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) Die("cannot open " + path);
        static char block[1 << 16];
        std::size_t lines = 0;
        while (std::size_t got = std::fread(block, 1, sizeof block, in)) {
            const char* end = block + got;
            for (const char* at = block; (at = static_cast<const char*>(std::memchr(at, '\n', end - at)));
                 ++at) {
                ++lines;
            }
        }
        std::fclose(in);
        return lines;
    }

    double Value(int row, int column) const {
        return samples_[row][column].empty() ? 0 : Median(samples_[row][column]);
    }

    const Workload& w_;
    Exports lib_;
    MapTable map_;
#if LASTSPOT_BENCH_ABSL
    BtreeTable btree_;
    HashTable hash_;
#else
    MapTable btree_, hash_;  // unused without abseil
#endif
    std::vector<Record> vector_;
#if LASTSPOT_BENCH_ABSL
    InlineTable inline_;
    LoadedContainers loading_;
#endif
    std::vector<std::size_t> addOrder_;  // an order of w_.records, as random adds make them
#if LASTSPOT_BENCH_SQLITE
    SqliteStore sqlite_;
#endif
    fs::path directory_;
    std::string librarySeen_, stdioSeen_, sqliteFile_;
    int round_ = 0;
    std::vector<double> samples_[kRows][kColumns];
    std::vector<double> faults_[kRows];  // the library's minor page faults per record
    Spread spreads_[kPointRows][kColumns];
    char buffer_[4096];
};

std::string Thousands(double value) {
    std::string digits = std::to_string(static_cast<long long>(value + 0.5));
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

void Comparison::Print(int rounds) const {
    bool shown[kColumns] = {};
    for (int row = 0; row < kRows; ++row) {
        for (int c = 0; c < kColumns; ++c) shown[c] = shown[c] || !samples_[row][c].empty();
    }
    std::printf(
        "\n%zu records, median of %d rounds; ns per call (point commands) or per record in the "
        "table; memory in bytes per record\n\n| operation |",
        w_.n, rounds);
    for (int c = 0; c < kColumns; ++c) {
        if (shown[c]) std::printf(" %s |", kColumnNames[c]);
    }
    std::printf(" lastspot / best other |\n|---|");
    for (int c = 0; c < kColumns; ++c) {
        if (shown[c]) std::printf("---|");
    }
    std::printf("---|\n");
    for (int row = 0; row < kRows; ++row) {
        std::printf("| %s |", kRowNames[row]);
        double best = 0;
        for (int c = 0; c < kColumns; ++c) {
            if (!shown[c]) continue;
            if (samples_[row][c].empty()) {
                std::printf(" |");
                continue;
            }
            double value = Value(row, c);
            std::printf(" %s |", Thousands(value).c_str());
            if (c != kLastspot && (best == 0 || value < best)) best = value;
        }
        if (best > 0 && !samples_[row][kLastspot].empty()) {
            std::printf(" %.2fx |\n", Value(row, kLastspot) / best);
        } else {
            std::printf(" |\n");
        }
    }

    std::printf(
        "\nThe library's minor page faults per loaded record (median of the rounds)\n\n| load | faults "
        "|\n|---|---|\n");
    for (Row row : {kLoad, kReload, kLoadEmpty}) {
        if (!faults_[row].empty()) std::printf("| %s | %.4f |\n", kRowNames[row], Median(faults_[row]));
    }

    std::printf("\nSingle calls over a fill of %zu records, ns: p50 / p99 / p99.9 / max\n\n| operation |",
                w_.n);
    const int spreadColumns[] = {kLastspot, kHash, kBtree, kMap};
    for (int c : spreadColumns) {
        if (spreads_[kAddNew][c].max > 0) std::printf(" %s |", kColumnNames[c]);
    }
    std::printf("\n|---|");
    for (int c : spreadColumns) {
        if (spreads_[kAddNew][c].max > 0) std::printf("---|");
    }
    std::printf("\n");
    for (int row = 0; row < kPointRows; ++row) {
        std::printf("| %s |", kRowNames[row]);
        for (int c : spreadColumns) {
            const Spread& s = spreads_[row][c];
            if (spreads_[kAddNew][c].max == 0) continue;
            std::printf(" %s / %s / %s / %s |", Thousands(s.p50).c_str(), Thousands(s.p99).c_str(),
                        Thousands(s.p999).c_str(), Thousands(s.max).c_str());
        }
        std::printf("\n");
    }
    std::fflush(stdout);
}

// Each goal: the library's figure over an anchor's, against a bound. With
// abseil, the point commands answer to the hash map and the sorted listing
// to the B-tree; without it (the Windows build), to std::map.
void Comparison::PrintGoals() const {
    struct Goal {
        Row row;
        Column anchor;
        double most;
    };
    std::vector<Goal> goals;
    for (int row = kAddNew; row <= kDel; ++row) {
#if LASTSPOT_BENCH_ABSL
        goals.push_back({static_cast<Row>(row), kHash, 1.3});
        for (Column c : {kMap, kBtree, kSqlite}) goals.push_back({static_cast<Row>(row), c, 1.0});
#else
        goals.push_back({static_cast<Row>(row), kMap, 0.8});
#endif
    }
    for (int offset : {0, kMatchCountLoaded - kMatchCountRandom}) {
        for (Row row : {kMatchCountRandom, kMatchRandom, kDelMatchRandom, kExpireTimeRandom}) {
#if LASTSPOT_BENCH_ABSL
            goals.push_back({static_cast<Row>(row + offset), kBtree, 1.5});
#endif
            goals.push_back({static_cast<Row>(row + offset), kVector, 2.0});
        }
#if LASTSPOT_BENCH_ABSL
        goals.push_back({static_cast<Row>(kMatchSortRandom + offset), kBtree, 1.0});
        goals.push_back({static_cast<Row>(kSaveRandom + offset), kStdio, 1.3});
#else
        goals.push_back({static_cast<Row>(kMatchSortRandom + offset), kMap, 1.0});
#endif
        goals.push_back({static_cast<Row>(kExpireCountRandom + offset), kVector, 1.5});
    }
    for (Row row : {kLoad, kReload, kLoadEmpty}) {
        goals.push_back({row, kStdio, 5.0});
        goals.push_back({row, kSqlite, 1.0});
#if LASTSPOT_BENCH_ABSL
        goals.push_back({row, kLoading, 1.0});
#endif
    }
#if LASTSPOT_BENCH_ABSL
    for (Row row : {kMatchCountRandom, kMatchRandom, kMatchCountLoaded, kMatchLoaded}) {
        goals.push_back({row, kInline, 1.2});
    }
#endif
    std::printf(
        "\nGoals at %zu records: lastspot over the anchor, at most the bound\n\n"
        "| operation | anchor | lastspot / anchor | at most | |\n|---|---|---|---|---|\n",
        w_.n);
    int missed = 0;
    for (const Goal& g : goals) {
        double anchor = Value(g.row, g.anchor);
        if (anchor <= 0) continue;
        double ratio = Value(g.row, kLastspot) / anchor;
        bool met = ratio <= g.most;
        missed += met ? 0 : 1;
        std::printf("| %s | %s | %.2fx | %.1fx | %s |\n", kRowNames[g.row], kColumnNames[g.anchor], ratio,
                    g.most, met ? "met" : "MISSED");
    }
    std::printf("| memory, bytes per record | | %.0f | 140 | %s |\n", Value(kMemory, kLastspot),
                Value(kMemory, kLastspot) <= 140 ? "met" : "MISSED");
    std::printf("\n%d goal(s) missed\n", missed + (Value(kMemory, kLastspot) <= 140 ? 0 : 1));
    std::fflush(stdout);
}

// One line per figure, tab-separated: records, operation, store, value
// (ns, or bytes for the memory row).
void Comparison::WriteFigures(const std::string& path) const {
    std::FILE* out = std::fopen(path.c_str(), "a");
    if (out == nullptr) Die("cannot write " + path);
    for (int row = 0; row < kRows; ++row) {
        for (int c = 0; c < kColumns; ++c) {
            if (samples_[row][c].empty()) continue;
            std::fprintf(out, "%zu\t%s\t%s\t%.1f\n", w_.n, kRowNames[row], kColumnKeys[c], Value(row, c));
        }
    }
    std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string figures;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--figures") {
            figures = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    long records = !args.empty() ? std::atol(args[0].c_str()) : 100000;
    int rounds = args.size() > 1 ? std::atoi(args[1].c_str()) : 3;
    if (records < 2 || rounds < 0) Die("usage: compare_bench [RECORDS [ROUNDS]] [--figures FILE]");
    Workload workload = MakeWorkload(static_cast<std::size_t>(records), rounds == 0);
    Comparison comparison(workload);
    if (rounds == 0) {
        comparison.WeighOnly();
        return 0;
    }
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "round %d of %d\n", round + 1, rounds);
        comparison.Round(round);
    }
    comparison.Print(rounds);
    comparison.PrintGoals();
    if (!figures.empty()) comparison.WriteFigures(figures);
    return 0;
}
