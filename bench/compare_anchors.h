// The in-process anchors of the comparison benchmark: what a script author
// could have used instead of the library, each taking the same argument
// lines in a buffer and leaving the same replies there.
//
//   std::map and absl::btree_map under the IRC comparison: ordered maps,
//     answering every command (whole-table ones as in-order walks);
//   absl::flat_hash_map keyed by the IRC case-folded nick: the point
//     commands (add, get, del);
//   a vector of the records in nick order: the whole-table commands as scans.
//
// abseil is a benchmark-only dependency (LASTSPOT_BENCH_ABSL); the library
// never links it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#if LASTSPOT_BENCH_ABSL
#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_map.h>
#include <absl/strings/string_view.h>
#endif

#include "compare_lines.h"
#include "platform/platform.h"
#include "support/seen_model.h"
#include "text/case_map.h"
#include "text/wild_match.h"

namespace lastspot::bench {

using Record = testing::ModelRecord;  // the tests' record

inline const Record& RecordOf(const Record& r) { return r; }
template <class Key>
const Record& RecordOf(const std::pair<const Key, Record>& e) {
    return e.second;
}

inline bool Matches(const QueryLine& query, const Record& r) {
    return text::WildMatch(query.patterns[0], r.nick.c_str(), false) != 0 &&
           text::WildMatch(query.patterns[1], r.address.c_str(), false) != 0 &&
           text::WildMatch(query.patterns[2], r.channel.c_str(), false) != 0;
}

// The order of the sorted listing and of expiry by count: latest first,
// equal times in nick order.
inline bool MoreRecent(const Record& a, const Record& b) {
    if (a.seenTime != b.seenTime) return a.seenTime > b.seenTime;
    return text::IrcCompare(a.nick.c_str(), b.nick.c_str()) < 0;
}

// Removes what `doomed` picks, the container's own way; returns how many.
template <class Records, class Doomed>
std::size_t EraseIf(Records& records, Doomed doomed) {
    return std::erase_if(records, doomed);
}
#if LASTSPOT_BENCH_ABSL
template <class Key, class Value, class Less, class Doomed>
std::size_t EraseIf(absl::btree_map<Key, Value, Less>& records, Doomed doomed) {
    return absl::erase_if(records, doomed);
}
#endif

// ---------------------------------------------------------------------------
// Whole-table commands of the ordered anchors and the vector

template <class Records>
void MatchCountIn(const Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    std::uint32_t matches = 0;
    for (const auto& e : records) {
        if (!Matches(query, RecordOf(e))) continue;
        if (++matches == query.maxNicks) break;
    }
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(matches));
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
    platform::FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches), list.listed, list.text);
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
    platform::FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches.size()), list.listed, list.text);
}

template <class Records>
void DelMatchIn(Records& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, false)) return FailLine(buffer);
    std::size_t deleted = EraseIf(records, [&](const auto& e) { return Matches(query, RecordOf(e)); });
    platform::FormatBounded(buffer, "+OK %d %d", static_cast<int>(deleted), static_cast<int>(records.size()));
}

// By time: one pass. By count: a selection finds the last record kept, and
// one pass removes every record that sorts after it.
template <class Records>
void ExpireIn(Records& records, char* buffer) {
    ExpireLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    std::size_t removed = 0;
    if (line.byTime) {
        removed = EraseIf(records, [&](const auto& e) {
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
        removed = EraseIf(records, [&](const auto& e) { return MoreRecent(cut, RecordOf(e)); });
    }
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(removed));
}

// ---------------------------------------------------------------------------
// Point commands

inline void SetRecord(Record& r, const AddLine& line) {
    r.nick = line.nick;
    r.address = line.address;
    r.channel = line.channel;
    r.type = line.type;
    r.text = line.text;
    r.seenTime = line.seenTime;
    r.timeSpent = line.timeSpent;
}

inline void ReplyRecord(const Record& r, char* buffer) {
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", r.nick.c_str(), r.address.c_str(),
                            r.channel.c_str(), r.type.c_str(), static_cast<int>(r.seenTime),
                            static_cast<int>(r.timeSpent), r.text.c_str());
}

inline void ReplyNotFound(char* buffer) {
    platform::FormatBounded(buffer, "-%s %s", "FOUND", "Nick not found");
}

struct IrcLess {
    using is_transparent = void;
    bool operator()(const std::string& a, const std::string& b) const {
        return text::IrcCompare(a.c_str(), b.c_str()) < 0;
    }
    bool operator()(const char* a, const std::string& b) const { return text::IrcCompare(a, b.c_str()) < 0; }
    bool operator()(const std::string& a, const char* b) const { return text::IrcCompare(a.c_str(), b) < 0; }
};

// std::map and absl::btree_map: keyed by the nick as first added, ordered
// (and so made unique) by the IRC comparison.
template <class Ordered>
void OrderedAdd(Ordered& table, char* buffer) {
    AddLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    auto at = table.lower_bound(line.nick);
    if (at == table.end() || text::IrcCompare(line.nick, at->first.c_str()) != 0) {
        at = table.emplace_hint(at, line.nick, Record());
    }
    SetRecord(at->second, line);
    platform::FormatBounded(buffer, "+OK %s", "");
}

template <class Ordered>
void OrderedGet(Ordered& table, char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    auto found = table.find(nick);
    if (found == table.end()) return ReplyNotFound(buffer);
    ReplyRecord(found->second, buffer);
}

template <class Ordered>
void OrderedDel(Ordered& table, char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    auto found = table.find(nick);
    if (found == table.end()) return ReplyNotFound(buffer);
    table.erase(found);
    platform::FormatBounded(buffer, "+OK %s", "");
}

using MapTable = std::map<std::string, Record, IrcLess>;

#if LASTSPOT_BENCH_ABSL
using BtreeTable = absl::btree_map<std::string, Record, IrcLess>;

// The hash map: keyed by the nick folded to upper case under the IRC rules.
// Lookups fold into a buffer on the stack and look up by string_view, so no
// key is allocated for them.
using HashTable = absl::flat_hash_map<std::string, Record>;

class FoldedNick {
public:
    explicit FoldedNick(const char* nick) {
        std::size_t n = 0;
        for (; nick[n] != '\0' && n < sizeof inline_; ++n)
            inline_[n] = static_cast<char>(text::IrcToUpper(nick[n]));
        if (nick[n] == '\0') {
            view_ = absl::string_view(inline_, n);
            return;
        }
        long_.assign(nick);
        for (char& c : long_) c = static_cast<char>(text::IrcToUpper(c));
        view_ = long_;
    }
    absl::string_view view() const { return view_; }

private:
    char inline_[64];
    std::string long_;
    absl::string_view view_;
};

inline void HashAdd(HashTable& table, char* buffer) {
    AddLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    FoldedNick key(line.nick);
    auto found = table.find(key.view());
    Record& r = found != table.end() ? found->second : table[std::string(key.view())];
    SetRecord(r, line);
    platform::FormatBounded(buffer, "+OK %s", "");
}

inline void HashGet(HashTable& table, char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    auto found = table.find(FoldedNick(nick).view());
    if (found == table.end()) return ReplyNotFound(buffer);
    ReplyRecord(found->second, buffer);
}

inline void HashDel(HashTable& table, char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    auto found = table.find(FoldedNick(nick).view());
    if (found == table.end()) return ReplyNotFound(buffer);
    table.erase(found);
    platform::FormatBounded(buffer, "+OK %s", "");
}
#endif

}  // namespace lastspot::bench
