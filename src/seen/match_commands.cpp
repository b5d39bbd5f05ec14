#include "seen/match_commands.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "seen/table_registry.h"
#include "text/wild_match.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;

namespace {

// The longest run of nicks a list may hold, not counting the spaces that
// SeenMatch puts between them.
constexpr std::size_t kListLimit = 880;

// The most nicks a list can hold: nicks of one character each, with the
// spaces between them, reach kListLimit after this many.
constexpr std::size_t kMostListed = kListLimit / 2 + 1;

// The three patterns of a query; they stay in the host's buffer.
struct Patterns {
    const char* nick = nullptr;
    const char* address = nullptr;
    const char* channel = nullptr;
};

// A parsed query.
class Query {
public:
    // Reads the tokens in order, replying at the first that fails. Only
    // the listing and counting commands take maxnicks.
    bool Parse(char* buffer, bool takesMaxNicks) {
        char* cursor;
        table_ = TakeTable(buffer, &cursor);
        if (table_ == nullptr) return false;
        patterns_.nick = NextToken(&cursor);
        if (patterns_.nick[0] == '\0') return protocol::FailWith(buffer, ErrorCode::Nick);
        patterns_.address = NextToken(&cursor);
        if (patterns_.address[0] == '\0') return protocol::FailWith(buffer, ErrorCode::Addy);
        patterns_.channel = NextToken(&cursor);
        if (patterns_.channel[0] == '\0') return protocol::FailWith(buffer, ErrorCode::Chan);
        takesAll_[0] = TakesAll(patterns_.nick);
        takesAll_[1] = TakesAll(patterns_.address);
        takesAll_[2] = TakesAll(patterns_.channel);
        if (takesMaxNicks) {
            const char* maxNicks = NextToken(&cursor);
            if (!protocol::IsDecimal(maxNicks)) return protocol::FailWith(buffer, ErrorCode::MaxNicks);
            maxNicks_ = protocol::ParseDecimal(maxNicks);
        }
        return true;
    }

    SeenIndex* index() const { return table_->index; }

    // Walks the table in nick order and calls `onMatch` with each record
    // that matches all three patterns, until maxnicks matches (when not 0).
    // Returns the number of matches.
    template <typename OnMatch>
    int Walk(OnMatch onMatch) {
        std::uint32_t matches = 0;
        index()->ForEach([&](const SeenRecord* record) {
            if (!Matches(*record)) return true;
            ++matches;
            onMatch(record);
            return maxNicks_ == 0 || matches != maxNicks_;
        });
        return static_cast<int>(matches);
    }

    // Nick, then address, then channel; the first that fails decides.
    bool Matches(const SeenRecord& record) const {
        if (!takesAll_[0] && text::WildMatch(patterns_.nick, record.nick, false) == 0) return false;
        if (takesAll_[1] && takesAll_[2]) return true;
        const char* address = AddressOf(record);
        if (!takesAll_[1] && text::WildMatch(patterns_.address, address, false) == 0) return false;
        return takesAll_[2] || text::WildMatch(patterns_.channel, ChannelOf(address), false) != 0;
    }

private:
    // A pattern of nothing but "*" matches every non-empty text, and no
    // stored nick, address or channel is ever empty (each was a token). So
    // such a pattern needs no look at the record's string at all, which
    // spares a walk over a large table one memory access per field.
    static bool TakesAll(const char* pattern) {
        while (*pattern == '*') ++pattern;
        return *pattern == '\0';
    }

    TableEntry* table_ = nullptr;
    Patterns patterns_;
    bool takesAll_[3] = {};  // per pattern: it is all "*" (see TakesAll)
    std::uint32_t maxNicks_ = 0;
};

// A list of nicks separated by single spaces.
struct NickList {
    char text[900];
    std::size_t length = 0;
    int listed = 0;

    NickList() { text[0] = '\0'; }

    // Appends the nick when the nicks so far plus this one come to at most
    // kListLimit characters; the separating space is not counted in that
    // test, so the list may reach kListLimit + 1.
    bool TryAppend(const char* nick) {
        std::size_t nickLength = std::strlen(nick);
        if (nickLength + length > kListLimit) return false;
        if (length != 0) text[length++] = ' ';
        std::memcpy(text + length, nick, nickLength + 1);
        length += nickLength;
        ++listed;
        return true;
    }
};

}  // namespace

void SeenMatch(char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return;
    NickList list;
    int matches = query.Walk([&](const SeenRecord* record) { list.TryAppend(record->nick); });
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

void SeenMatchSort(char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return;
    // Only the most recent kMostListed matches can reach the list, so those
    // are all that is kept: a heap whose top is the least recent of them.
    // The table's own index is never re-ordered, and nothing is allocated.
    const SeenRecord* latest[kMostListed];
    std::size_t kept = 0;
    auto moreRecent = [](const SeenRecord* a, const SeenRecord* b) { return CompareBySeenTime(a, b) < 0; };
    int matches = query.Walk([&](const SeenRecord* record) {
        if (kept < kMostListed) {
            latest[kept++] = record;
            std::push_heap(latest, latest + kept, moreRecent);
        } else if (moreRecent(record, latest[0])) {
            std::pop_heap(latest, latest + kept, moreRecent);
            latest[kept - 1] = record;
            std::push_heap(latest, latest + kept, moreRecent);
        }
    });
    std::sort_heap(latest, latest + kept, moreRecent);
    NickList list;
    for (std::size_t i = 0; i < kept; ++i) {
        if (!list.TryAppend(latest[i]->nick)) break;
    }
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

void SeenMatchCount(char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return;
    int matches = query.Walk([](const SeenRecord*) {});
    platform::FormatBounded(buffer, "+OK %d", matches);
}

void SeenDelMatch(char* buffer) {
    Query query;
    if (!query.Parse(buffer, false)) return;
    SeenIndex* index = query.index();
    int matches = index->RemoveWhere([&](const SeenRecord* record) { return query.Matches(*record); });
    platform::FormatBounded(buffer, "+OK %d %d", matches, static_cast<int>(index->Count()));
}

}  // namespace lastspot::seen
