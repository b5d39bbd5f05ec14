// Two more anchors of the comparison benchmark, with abseil:
//
//   records inline  an absl::btree_set of records kept whole inside its
//                   nodes (no string of theirs elsewhere), ordered by the IRC
//                   comparison: the walk of a selective query as a B-tree of
//                   values makes it;
//   loading         absl::btree_map and absl::flat_hash_map of the records by
//                   value, both filled from one reading of a seen file, cut
//                   into lines and parsed by the library's own record-line
//                   parser: what a script author with the best containers
//                   would have to do to load a file into both an order and
//                   point lookups.
#pragma once

#if LASTSPOT_BENCH_ABSL

#include <absl/container/btree_set.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "compare_anchors.h"
#include "seen/record_line.h"

namespace lastspot::bench {

// A record whole in a fixed array: the numbers, then the five strings back
// to back, each ended by its NUL.
struct InlineRecord {
    static constexpr std::size_t kBytes = 168;
    std::int32_t seenTime = 0;
    std::int32_t timeSpent = 0;
    std::uint8_t addressAt = 0, channelAt = 0;  // where those strings start in `bytes`
    char bytes[kBytes] = {};

    const char* nick() const { return bytes; }
    const char* address() const { return bytes + addressAt; }
    const char* channel() const { return bytes + channelAt; }

    // False when the record's strings do not fit.
    bool Set(const Record& r) {
        std::size_t at = 0;
        for (const std::string* s : {&r.nick, &r.address, &r.channel, &r.type, &r.text}) {
            if (at + s->size() + 1 > kBytes) return false;
            if (s == &r.address) addressAt = static_cast<std::uint8_t>(at);
            if (s == &r.channel) channelAt = static_cast<std::uint8_t>(at);
            std::memcpy(bytes + at, s->c_str(), s->size() + 1);
            at += s->size() + 1;
        }
        seenTime = r.seenTime;
        timeSpent = r.timeSpent;
        return true;
    }
};

struct InlineLess {
    bool operator()(const InlineRecord& a, const InlineRecord& b) const {
        return text::IrcCompare(a.nick(), b.nick()) < 0;
    }
};

using InlineTable = absl::btree_set<InlineRecord, InlineLess>;

inline bool Matches(const QueryLine& query, const InlineRecord& r) {
    return text::WildMatch(query.patterns[0], r.nick(), false) != 0 &&
           text::WildMatch(query.patterns[1], r.address(), false) != 0 &&
           text::WildMatch(query.patterns[2], r.channel(), false) != 0;
}

inline void InlineMatchCount(const InlineTable& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    std::uint32_t matches = 0;
    for (const InlineRecord& r : records) {
        if (!Matches(query, r)) continue;
        if (++matches == query.maxNicks) break;
    }
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(matches));
}

inline void InlineMatch(const InlineTable& records, char* buffer) {
    QueryLine query;
    if (!query.Parse(buffer, true)) return FailLine(buffer);
    NickList list;
    std::uint32_t matches = 0;
    for (const InlineRecord& r : records) {
        if (!Matches(query, r)) continue;
        list.TryAppend(r.nick(), std::strlen(r.nick()));
        if (++matches == query.maxNicks) break;
    }
    platform::FormatBounded(buffer, "+OK %d %d %s", static_cast<int>(matches), list.listed, list.text);
}

// The best containers as a load fills them.
struct LoadedContainers {
    BtreeTable byNick;
    HashTable byFoldedNick;
};

// Reads the seen file at `path` in blocks of 64 KiB and fills `into` (empty)
// with its records; returns how many record lines it took. A saved file's
// lines: the header first, then "! " and the record, ended by CR LF, in
// nick order with no nick twice.
inline std::size_t LoadContainers(const std::string& path, LoadedContainers* into) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return 0;
    static char block[1 << 16];
    std::string carried;  // the start of a line the last block cut
    std::size_t records = 0;
    bool header = true;
    auto take = [&](char* line, std::size_t length) {
        if (length != 0 && line[length - 1] == '\r') line[--length] = '\0';
        if (header) {
            header = false;
            return;
        }
        seen::RecordFields f;
        if (length < 2 || line[0] != '!' ||
            seen::ParseRecordFields(line + 2, length - 2, &f) != seen::AddLineResult::Added) {
            return;
        }
        Record r;
        r.nick.assign(f.nick, f.nickLength);
        r.address.assign(f.address, f.addressLength);
        r.channel.assign(f.channel, f.channelLength);
        r.type.assign(f.type, f.typeLength);
        r.text.assign(f.text, f.textLength);
        r.seenTime = f.seenTime;
        r.timeSpent = f.timeSpent;
        into->byFoldedNick[std::string(FoldedNick(r.nick.c_str()).view())] = r;
        into->byNick.emplace_hint(into->byNick.end(), r.nick, std::move(r));
        ++records;
    };
    while (std::size_t got = std::fread(block, 1, sizeof block, in)) {
        char* at = block;
        char* end = block + got;
        while (char* lineEnd =
                   static_cast<char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) {
            *lineEnd = '\0';
            if (carried.empty()) {
                take(at, static_cast<std::size_t>(lineEnd - at));
            } else {
                carried.append(at, lineEnd);
                take(carried.data(), carried.size());
                carried.clear();
            }
            at = lineEnd + 1;
        }
        carried.append(at, end);
    }
    std::fclose(in);
    return records;
}

}  // namespace lastspot::bench

#endif  // LASTSPOT_BENCH_ABSL
