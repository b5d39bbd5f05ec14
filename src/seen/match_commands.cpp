#include "seen/match_commands.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/pending_nicks.h"
#include "seen/table_registry.h"
#include "text/wild_match.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

namespace {

// The longest run of nicks a list may hold, not counting the spaces that
// SeenMatch puts between them.
constexpr std::size_t kListLimit = 880;

// A parsed query. The patterns stay in the host's buffer; a probe record
// borrows them for the walk and gives them back when the query ends.
class Query {
public:
    Query() = default;
    ~Query() { DetachRecord(&patterns_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Reads the tokens in order, replying at the first that fails. Only
    // the listing and counting commands take maxnicks.
    bool Parse(char* buffer, bool takesMaxNicks) {
        char* cursor = buffer;
        table_ = FindTable(NextToken(&cursor));
        if (table_ == nullptr) return protocol::FailWith(buffer, ErrorCode::Table);
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
    // Returns the number of matches. `onMatch` returns false to stop the
    // walk at once (memory ran out).
    template <typename OnMatch>
    int Walk(OnMatch onMatch) {
        std::uint32_t matches = 0;
        SeenIndex* walked = index();
        walked->ResetCursor();
        while (const SeenRecord* record = walked->NextItem()) {
            if (!Matches(*record)) continue;
            ++matches;
            if (!onMatch(*record)) break;
            if (maxNicks_ != 0 && matches == maxNicks_) break;
        }
        return static_cast<int>(matches);
    }

private:
    // Nick, then address, then channel; the first that fails decides.
    bool Matches(const SeenRecord& record) const {
        return (takesAll_[0] || text::WildMatch(patterns_.nick, record.nick, false) != 0) &&
               (takesAll_[1] || text::WildMatch(patterns_.address, record.address, false) != 0) &&
               (takesAll_[2] || text::WildMatch(patterns_.channel, record.channel, false) != 0);
    }

    // A pattern of nothing but "*" matches every non-empty text, and no
    // stored nick, address or channel is ever empty (each was a token). So
    // such a pattern needs no look at the record's string at all, which
    // spares a walk over a large table one memory access per field.
    static bool TakesAll(const char* pattern) {
        while (*pattern == '*') ++pattern;
        return *pattern == '\0';
    }

    TableEntry* table_ = nullptr;
    SeenRecord patterns_;  // the probe: nick, address and channel patterns
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
    int matches = query.Walk([&](const SeenRecord& record) {
        list.TryAppend(record.nick);
        return true;
    });
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

void SeenMatchSort(char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return;
    // The matches, as copies of nick and seen time, in a temporary index
    // ordered by recency; the table's own index is never re-ordered here.
    auto byRecency = std::make_unique<SeenIndex>();
    byRecency->Reorder(CompareBySeenTime);
    int matches = query.Walk([&](const SeenRecord& record) {
        AddOrReplace(byRecency.get(), record.nick, nullptr, nullptr, nullptr, 0, nullptr,
                     record.seenTime);
        return true;
    });
    NickList list;
    byRecency->ResetCursor();
    while (const SeenRecord* record = byRecency->NextItem()) {
        if (!list.TryAppend(record->nick)) break;
    }
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

void SeenMatchCount(char* buffer) {
    Query query;
    if (!query.Parse(buffer, true)) return;
    int matches = query.Walk([](const SeenRecord&) { return true; });
    platform::FormatBounded(buffer, "+OK %d", matches);
}

void SeenDelMatch(char* buffer) {
    Query query;
    if (!query.Parse(buffer, false)) return;
    bool queued = true;
    int matches = query.Walk([&](const SeenRecord& record) {
        queued = QueuePendingNick(record.nick);
        return queued;
    });
    if (!queued) {
        DiscardPendingNicks();
        return ReplyError(buffer, ErrorCode::Memory);
    }
    DeletePendingNicks();
    platform::FormatBounded(buffer, "+OK %d %d", matches, static_cast<int>(query.index()->Count()));
}

}  // namespace lastspot::seen
