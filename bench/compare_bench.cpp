// The comparison benchmark: the library's commands, called through the
// exports of the built library as a host calls them, beside what a script
// author could have used instead, on the same records in the same process:
//
//   std::map   keyed by the IRC comparison: the record commands, and the
//              whole-table commands as an in-order walk, collect-and-sort
//              and a selection for expiry by count;
//   vector     the records in nick order in one flat vector, scanned: the
//              whole-table commands;
//   SQLite     an in-memory database, every command (builds with SQLite);
//   stdio      saving and loading: the library's own file written with a
//              flush to the disk, and read back and cut into lines.
//
// Every anchor takes the same argument lines in a buffer and forms the same
// replies (compare_lines.h); the replies are checked against the library's.
//
//   compare_bench [RECORDS [ROUNDS]]      (default 100000 records, 3 rounds)
//
// Each round runs every operation once, and every operation runs its
// variants one right after the other, starting with another one each
// round, so that the machine's drift hits them alike; the table shows the
// median of the rounds. Times are nanoseconds per call for the
// single-record commands and per record in the table for the others.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "built_library.h"
#include "support/seen_model.h"
#include "compare_lines.h"
#include "compare_system.h"
#include "text/case_map.h"
#include "text/wild_match.h"
#if LASTSPOT_BENCH_SQLITE
#include "compare_sqlite.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace lastspot::bench;
using lastspot::platform::FormatBounded;
using lastspot::text::IrcCompare;
using lastspot::text::WildMatch;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "compare_bench: %s\n", what.c_str());
    std::exit(1);
}

// ---------------------------------------------------------------------------
// Records and the workload

using Record = lastspot::testing::ModelRecord;  // the tests' record

std::string LineOf(const Record& r) {
    return std::string(kTableName) + " " + r.nick + " " + r.address + " " + r.channel + " " +
           r.type + " " + std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " +
           r.text;
}

// The argument lines of every operation, and the records as the table
// holds them after the replacing adds (the state every anchor is put back
// into after an operation that removed records).
struct Workload {
    std::size_t n = 0;
    std::vector<Record> records;           // final values, in nick order
    std::vector<std::string> add;          // first values, in random order
    std::vector<std::string> replace;      // final values, nicks respelled, shuffled
    std::vector<std::string> get, miss, del;
    std::vector<std::string> restore;      // final lines of what the selective query matches
    std::string selective, matchAll, delMatch, expireTime, expireCount;
};

// Characters of IRC nicks: letters, the RFC 1459 pairs in both spellings,
// "_" and "`"; after the first also digits and "-".
constexpr char kNickFirst[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ[]\\^{}|~_`";
constexpr char kNickRest[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ[]\\^{}|~_`0123456789-";
constexpr const char* kWords[] = {"hello", "all",   "anyone", "seen", "the",   "new",
                                  "build", "works", "lol",    "brb",  "thanks", "is",
                                  "this",  "on",    "ok",     "see",  "you",    "later"};
constexpr const char* kTypes[] = {"text", "text", "text", "join", "join", "part", "quit", "nick"};
// The selective query takes 1 host in 20 and 1 channel in 20.
constexpr int kHosts = 200;
constexpr int kChannels = 20;

Workload MakeWorkload(std::size_t n) {
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
        r.nick = respell(r.nick);
        r.text = words(12);
        r.timeSpent = static_cast<std::int32_t>(pick(86400));
        w.replace.push_back(LineOf(r));
        w.get.push_back(std::string(kTableName) + " " + respell(r.nick));
        w.del.push_back(std::string(kTableName) + " " + respell(r.nick));
        w.miss.push_back(std::string(kTableName) + " " + nicks[n + i]);
        w.records.push_back(std::move(r));
    }
    std::sort(w.records.begin(), w.records.end(), [](const Record& a, const Record& b) {
        return IrcCompare(a.nick.c_str(), b.nick.c_str()) < 0;
    });
    for (const Record& r : w.records) {
        if (WildMatch("*@host1?.example.net", r.address.c_str(), false) != 0 &&
            WildMatch("#chan1", r.channel.c_str(), false) != 0) {
            w.restore.push_back(LineOf(r));
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
    w.expireTime = table + " t " + std::to_string(times[n / 2]);
    w.expireCount = table + " n " + std::to_string(n / 2);
    return w;
}

// ---------------------------------------------------------------------------
// The anchors' whole-table commands, for the map and the vector alike

const Record& RecordOf(const Record& r) { return r; }
const Record& RecordOf(const std::pair<const std::string, Record>& e) { return e.second; }

bool Matches(const QueryLine& query, const Record& r) {
    return WildMatch(query.patterns[0], r.nick.c_str(), false) != 0 &&
           WildMatch(query.patterns[1], r.address.c_str(), false) != 0 &&
           WildMatch(query.patterns[2], r.channel.c_str(), false) != 0;
}

// The order of the sorted listing and of expiry by count: latest first,
// equal times in nick order.
bool MoreRecent(const Record& a, const Record& b) {
    if (a.seenTime != b.seenTime) return a.seenTime > b.seenTime;
    return IrcCompare(a.nick.c_str(), b.nick.c_str()) < 0;
}

template <class Records>
void MatchCountIn(const Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    std::uint32_t matches = 0;
    for (const auto& e : records) {
        if (!Matches(query, RecordOf(e))) continue;
        if (++matches == query.maxNicks) break;
    }
    FormatBounded(buffer, "+OK %d", static_cast<int>(matches));
}

template <class Records>
void MatchIn(const Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    NickList list;
    std::uint32_t matches = 0;
    for (const auto& e : records) {
        const Record& r = RecordOf(e);
        if (!Matches(query, r)) continue;
        list.TryAppend(r.nick.c_str(), r.nick.size());
        if (++matches == query.maxNicks) break;
    }
    FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches), list.listed, list.text);
}

// Collects the matches and sorts all of them: the full sorted result.
template <class Records>
void MatchSortIn(const Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    std::vector<const Record*> matches;
    for (const auto& e : records) {
        if (!Matches(query, RecordOf(e))) continue;
        matches.push_back(&RecordOf(e));
        if (matches.size() == query.maxNicks) break;
    }
    std::sort(matches.begin(), matches.end(),
              [](const Record* a, const Record* b) { return MoreRecent(*a, *b); });
    NickList list;
    for (const Record* r : matches) {
        if (!list.TryAppend(r->nick.c_str(), r->nick.size())) break;
    }
    FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches.size()), list.listed, list.text);
}

template <class Records>
void DelMatchIn(Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, false)) return FailLine(buffer);
    std::size_t deleted =
        std::erase_if(records, [&](const auto& e) { return Matches(query, RecordOf(e)); });
    FormatBounded(buffer, "+OK %d %d", static_cast<int>(deleted), static_cast<int>(records.size()));
}

// By time: one pass. By count: a selection finds the last record kept, and
// one pass removes every record that sorts after it.
template <class Records>
void ExpireIn(Records& records, char* buffer) {
    ExpireLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    std::size_t removed = 0;
    if (line.byTime) {
        removed = std::erase_if(records, [&](const auto& e) {
            return static_cast<std::uint32_t>(RecordOf(e).seenTime) < line.number;
        });
    } else if (records.size() > line.number && line.number == 0) {
        removed = records.size();
        records.clear();
    } else if (records.size() > line.number) {
        std::vector<const Record*> all;
        all.reserve(records.size());
        for (const auto& e : records) all.push_back(&RecordOf(e));
        auto last = all.begin() + (line.number - 1);
        std::nth_element(all.begin(), last, all.end(),
                         [](const Record* a, const Record* b) { return MoreRecent(*a, *b); });
        Record cut;
        cut.nick = (*last)->nick;
        cut.seenTime = (*last)->seenTime;
        removed = std::erase_if(records, [&](const auto& e) { return MoreRecent(cut, RecordOf(e)); });
    }
    FormatBounded(buffer, "+OK %d", static_cast<int>(removed));
}

// ---------------------------------------------------------------------------
// The std::map anchor's record commands

struct IrcLess {
    using is_transparent = void;
    bool operator()(const std::string& a, const std::string& b) const {
        return IrcCompare(a.c_str(), b.c_str()) < 0;
    }
    bool operator()(const char* a, const std::string& b) const { return IrcCompare(a, b.c_str()) < 0; }
    bool operator()(const std::string& a, const char* b) const { return IrcCompare(a.c_str(), b) < 0; }
};

using MapTable = std::map<std::string, Record, IrcLess>;

void MapAdd(MapTable& table, char* buffer) {
    AddLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    auto at = table.lower_bound(line.nick);
    if (at == table.end() || IrcCompare(line.nick, at->first.c_str()) != 0) {
        at = table.emplace_hint(at, line.nick, Record());
    }
    Record& r = at->second;
    r.nick = line.nick;
    r.address = line.address;
    r.channel = line.channel;
    r.type = line.type;
    r.text = line.text;
    r.seenTime = line.seenTime;
    r.timeSpent = line.timeSpent;
    FormatBounded(buffer, "+OK %s", "");
}

// The record of a "table nick" line, or end() after replying as the
// library would.
MapTable::iterator FindNickLine(MapTable& table, char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) {
        FailLine(buffer);
        return table.end();
    }
    auto found = table.find(nick);
    if (found == table.end()) FormatBounded(buffer, "-%s %s", "FOUND", "Nick not found");
    return found;
}

void MapGet(MapTable& table, char* buffer) {
    auto found = FindNickLine(table, buffer);
    if (found == table.end()) return;
    const Record& r = found->second;
    FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", r.nick.c_str(), r.address.c_str(),
                  r.channel.c_str(), r.type.c_str(), static_cast<int>(r.seenTime),
                  static_cast<int>(r.timeSpent), r.text.c_str());
}

void MapDel(MapTable& table, char* buffer) {
    auto found = FindNickLine(table, buffer);
    if (found == table.end()) return;
    table.erase(found);
    FormatBounded(buffer, "+OK %s", "");
}

// ---------------------------------------------------------------------------
// The results table

enum Row { kAddNew, kGetHit, kGetMiss, kAddReplace, kDel, kMatchCount, kMatch, kMatchSort,
           kExpireCount, kExpireTime, kDelMatch, kSave, kLoad, kMemory, kRows };
constexpr const char* kRowNames[kRows] = {
    "Add new", "Get hit", "Get miss", "Add replace", "Del",
    "MatchCount, selective", "Match, selective", "MatchSort, every record",
    "Expire n (keep half)", "Expire t (half by age)", "DelMatch, selective", "Save", "Load",
    "memory, bytes per record"};

enum Column { kLastspot, kMap, kVector, kSqlite, kStdio, kColumns };
constexpr const char* kColumnNames[kColumns] = {"lastspot", "std::map (RFC 1459 less)",
                                                "vector scan", "SQLite in memory", "stdio"};

// One variant of an operation: runs it (with whatever untimed preparation
// and restoring it needs), returns its time per unit and leaves in `reply`
// what is compared with the other variants' replies (empty: nothing).
struct Variant {
    Column column;
    std::function<double(std::string& reply)> run;
};

// One anchor's command on a line in a buffer; empty where the anchor is
// absent.
using AnchorCommand = std::function<void(char* buffer)>;
#if LASTSPOT_BENCH_SQLITE
#define SQLITE_COMMAND(name) [this](char* buffer) { sqlite_.name(buffer); }
#else
#define SQLITE_COMMAND(name) nullptr
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
    }

    ~Comparison() {
        Library(lib_.clear, kTableName);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    // One round: every operation once, on stores that hold the same
    // records. The round starts and ends with empty stores: the first adds
    // fill them and the last deletes empty them. After each operation that
    // removes records the stores are made whole again, untimed (the library
    // and SQLite by loading what they saved, the map and the vector from
    // the final records), and the load after expiry by age is the timed
    // one. From there on the library's records are laid out as a load
    // lays them out.
    void Round(int round) {
        round_ = round;
        AddNew();
        RecordLines(kGetHit, w_.get, lib_.get, &MapGet, SQLITE_COMMAND(Get), w_.n);
        RecordLines(kGetMiss, w_.miss, lib_.get, &MapGet, SQLITE_COMMAND(Get), 0);
        RecordLines(kAddReplace, w_.replace, lib_.add, &MapAdd, SQLITE_COMMAND(Add), w_.n);
        vector_ = w_.records;
        Walks();
        DelMatch();
        Save();
        Expire(kExpireTime, w_.expireTime);
        RestoreAnchors();
        Load();
        Expire(kExpireCount, w_.expireCount);
        RestoreAnchors();
        Library(lib_.clear, kTableName);
        Expect(Library(lib_.load, std::string(kTableName) + " " + librarySeen_),
               "+OK " + std::to_string(w_.n), "SeenLoad");
#if LASTSPOT_BENCH_SQLITE
        if (!sqlite_.Load(sqliteFile_)) Die("SQLite load failed");
#endif
        RecordLines(kDel, w_.del, lib_.del, &MapDel, SQLITE_COMMAND(Del), w_.n);
    }

    void Print(int rounds) const;

private:
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

    // Runs the variants, one after the other from a starting point that
    // moves on each round, records their times and checks that they agree
    // with each other and, when `expected` is given, the library with it.
    void Measure(Row row, std::vector<Variant> variants, const std::string& expected = "") {
        std::vector<std::string> replies(kColumns);
        std::size_t first = static_cast<std::size_t>(round_) % variants.size();
        for (std::size_t i = 0; i < variants.size(); ++i) {
            Variant& v = variants[(first + i) % variants.size()];
            samples_[row][v.column].push_back(v.run(replies[v.column]));
        }
        if (!expected.empty()) Expect(replies[kLastspot], expected, kRowNames[row]);
        for (const Variant& v : variants) {
            const std::string& reply = replies[v.column];
            if (reply.empty() || v.column == kLastspot) continue;
            bool agrees = (row == kMatch || row == kMatchSort) && v.column == kSqlite
                              ? FirstNumber(reply) == FirstNumber(replies[kLastspot])
                              : reply == replies[kLastspot];
            if (!agrees) {
                Die(std::string(kRowNames[row]) + ": " + kColumnNames[v.column] + " replied '" +
                    reply + "', lastspot '" + replies[kLastspot] + "'");
            }
        }
    }

    // A run of single-record command lines; the reply compared is the
    // number of them that succeeded.
    template <class Run>
    static double Lines(const std::vector<std::string>& lines, std::string& reply, Run run) {
        std::size_t succeeded = 0;
        double time = NanosecondsPer(lines.size(), [&] {
            for (const std::string& line : lines) succeeded += run(line)[0] == '+';
        });
        reply = std::to_string(succeeded) + " succeeded";
        return time;
    }

    // A run of single-record command lines through the library, the map
    // and SQLite (in one transaction).
    void RecordLines(Row row, const std::vector<std::string>& lines, CommandExport command,
                     void (*mapCommand)(MapTable&, char*), const AnchorCommand& sqliteCommand,
                     std::size_t succeeding) {
        std::vector<Variant> variants = {
            {kLastspot, [&](std::string& reply) {
                 return Lines(lines, reply, [&](const std::string& line) { return Library(command, line); });
             }},
            {kMap, [&](std::string& reply) {
                 return Lines(lines, reply, [&](const std::string& line) {
                     char* buffer = Take(line);
                     mapCommand(map_, buffer);
                     return buffer;
                 });
             }}};
        if (sqliteCommand) {
            variants.push_back({kSqlite, [&](std::string& reply) {
                                    auto begin = [&] { SqliteTransaction(true); };
                                    auto commit = [&] { SqliteTransaction(false); };
                                    double time = NanosecondsPer(lines.size(), begin);
                                    time += Lines(lines, reply, [&](const std::string& line) {
                                        char* buffer = Take(line);
                                        sqliteCommand(buffer);
                                        return buffer;
                                    });
                                    return time + NanosecondsPer(lines.size(), commit);
                                }});
        }
        Measure(row, variants, std::to_string(succeeding) + " succeeded");
    }

    // The first adds of a round fill the empty tables; the first round
    // then also weighs what a fresh fill of each store takes from the heap,
    // one store at a time.
    void AddNew() {
        RecordLines(kAddNew, w_.add, lib_.add, &MapAdd, SQLITE_COMMAND(Add), w_.n);
        if (round_ != 0) return;
        Library(lib_.clear, kTableName);
        map_.clear();
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
            for (const std::string& line : w_.add) MapAdd(map_, Take(line));
        });
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
               const AnchorCommand& map, const AnchorCommand& sqlite) {
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
        if (sqlite) variants.push_back(once(kSqlite, sqlite));
        Measure(row, variants);
    }

    void Walks() {
        Whole(kMatchCount, w_.selective, lib_.matchCount, [&](char* b) { MatchCountIn(vector_, b); },
              [&](char* b) { MatchCountIn(map_, b); }, SQLITE_COMMAND(MatchCount));
        Whole(kMatch, w_.selective, lib_.match, [&](char* b) { MatchIn(vector_, b); },
              [&](char* b) { MatchIn(map_, b); }, SQLITE_COMMAND(Match));
        Whole(kMatchSort, w_.matchAll, lib_.matchSort, [&](char* b) { MatchSortIn(vector_, b); },
              [&](char* b) { MatchSortIn(map_, b); }, SQLITE_COMMAND(MatchSort));
    }

    void DelMatch() {
        Whole(kDelMatch, w_.delMatch, lib_.delMatch, [&](char* b) { DelMatchIn(vector_, b); },
              [&](char* b) { DelMatchIn(map_, b); }, SQLITE_COMMAND(DelMatch));
        // Back to the full table: the library, the map and SQLite take the
        // deleted records again, the vector its copy.
        for (const std::string& line : w_.restore) {
            Expect(Library(lib_.add, line), "+OK ", "SeenAdd");
            MapAdd(map_, Take(line));
        }
#if LASTSPOT_BENCH_SQLITE
        sqlite_.Begin();
        for (const std::string& line : w_.restore) sqlite_.Add(Take(line));
        sqlite_.Commit();
#endif
        vector_ = w_.records;
    }

    void Expire(Row row, const std::string& line) {
        Whole(row, line, lib_.expire, [&](char* b) { ExpireIn(vector_, b); },
              [&](char* b) { ExpireIn(map_, b); }, SQLITE_COMMAND(Expire));
    }

    // The map and the vector hold every record again.
    void RestoreAnchors() {
        map_.clear();
        for (const Record& r : w_.records) map_.emplace_hint(map_.end(), r.nick, r);
        vector_ = w_.records;
    }

    // The library saves its table; stdio writes the bytes of the library's
    // file; SQLite writes a copy of its database.
    void Save() {
        std::string line = std::string(kTableName) + " " + librarySeen_;
        std::string saved = "+OK " + std::to_string(w_.n);
        std::vector<Variant> variants = {
            {kLastspot, [&](std::string&) {
                 std::string reply;
                 double time = NanosecondsPer(w_.n, [&] { reply = Library(lib_.save, line); });
                 Expect(reply, saved, "SeenSave");
                 return time;
             }},
            {kStdio, [&](std::string&) {
                 std::vector<char> bytes = ReadWhole(librarySeen_);
                 return NanosecondsPer(w_.n, [&] {
                     std::FILE* out = std::fopen(stdioSeen_.c_str(), "wb");
                     bool written = out != nullptr &&
                                    std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                                    SyncToDisk(out);
                     if (out != nullptr) std::fclose(out);
                     if (!written) Die("stdio save failed");
                 });
             }}};
#if LASTSPOT_BENCH_SQLITE
        variants.push_back({kSqlite, [&](std::string&) {
                                std::error_code ignored;
                                fs::remove(sqliteFile_, ignored);
                                return NanosecondsPer(w_.n, [&] {
                                    if (!sqlite_.Save(sqliteFile_)) Die("SQLite save failed");
                                });
                            }});
#endif
        Measure(kSave, variants);
    }

    // Each loads what it saved into an empty table (the library's table is
    // emptied first, untimed); stdio reads the library's file and cuts it
    // into lines.
    void Load() {
        std::string line = std::string(kTableName) + " " + librarySeen_;
        std::vector<Variant> variants = {
            {kLastspot, [&](std::string& reply) {
                 Library(lib_.clear, kTableName);
                 return NanosecondsPer(w_.n, [&] { reply = Library(lib_.load, line); });
             }},
            {kStdio, [&](std::string& reply) {
                 std::size_t lines = 0;
                 double time = NanosecondsPer(w_.n, [&] { lines = CountLines(librarySeen_); });
                 reply = "+OK " + std::to_string(lines - 1);  // the header is no record
                 return time;
             }}};
#if LASTSPOT_BENCH_SQLITE
        variants.push_back({kSqlite, [&](std::string& reply) {
                                double time = NanosecondsPer(w_.n, [&] {
                                    if (!sqlite_.Load(sqliteFile_)) Die("SQLite load failed");
                                });
                                reply = "+OK " + std::to_string(sqlite_.Count());
                                return time;
                            }});
#endif
        Measure(kLoad, variants);
        Expect(Library(lib_.count, kTableName), "+OK " + std::to_string(w_.n), "SeenCount");
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

    const Workload& w_;
    Exports lib_;
    MapTable map_;
    std::vector<Record> vector_;
#if LASTSPOT_BENCH_SQLITE
    SqliteStore sqlite_;
#endif
    fs::path directory_;
    std::string librarySeen_, stdioSeen_, sqliteFile_;
    int round_ = 0;
    std::vector<double> samples_[kRows][kColumns];
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Comparison::Print(int rounds) const {
    bool shown[kColumns] = {};
    for (int row = 0; row < kRows; ++row) {
        for (int c = 0; c < kColumns; ++c) shown[c] = shown[c] || !samples_[row][c].empty();
    }
    std::printf("\n%zu records, median of %d rounds; ns per call (single-record commands) or per "
                "record in the table; memory in bytes per record\n\n| operation |",
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
            double value = Median(samples_[row][c]);
            std::printf(" %s |", Thousands(value).c_str());
            if (c != kLastspot && (best == 0 || value < best)) best = value;
        }
        if (best > 0 && !samples_[row][kLastspot].empty()) {
            std::printf(" %.2fx |\n", Median(samples_[row][kLastspot]) / best);
        } else {
            std::printf(" |\n");
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    long records = argc > 1 ? std::atol(argv[1]) : 100000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (records < 2 || rounds < 1) Die("usage: compare_bench [RECORDS [ROUNDS]]");
    Workload workload = MakeWorkload(static_cast<std::size_t>(records));
    Comparison comparison(workload);
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "round %d of %d\n", round + 1, rounds);
        comparison.Round(round);
    }
    comparison.Print(rounds);
    return 0;
}
