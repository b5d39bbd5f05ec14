#include "seen/expire_command.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "seen/table_registry.h"
#include "text/case_map.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

namespace {

// A record and its seen time side by side, so the selection below compares
// most pairs without reaching into the records.
struct Recency {
    std::int32_t seenTime;
    const SeenRecord* record;
};

bool MoreRecent(const Recency& a, const Recency& b) {
    if (a.seenTime != b.seenTime) return a.seenTime > b.seenTime;
    return text::IrcCompare(a.record->nick, b.record->nick) < 0;
}

// The `keep`th most recently seen record (1 for the latest), found by a
// selection over an array of every record. nullptr when the array cannot be
// had.
const SeenRecord* SelectByArray(SeenIndex* index, std::uint32_t keep) {
    const auto count = static_cast<std::size_t>(index->Count());
    std::unique_ptr<Recency[]> all;
    try {
        all.reset(new Recency[count]);
    } catch (const std::bad_alloc&) {
        return nullptr;  // the in-place way needs no memory
    }
    std::size_t filled = 0;
    index->ResetCursor();
    while (const SeenRecord* record = index->NextItem()) all[filled++] = {record->seenTime, record};
    std::nth_element(all.get(), all.get() + (keep - 1), all.get() + count, MoreRecent);
    return all[keep - 1].record;
}

// The same without the array, for when memory is short: the index is
// re-ordered by recency in place (re-linking, not allocating), walked to the
// `keep`th record, and put back in nick order.
const SeenRecord* SelectInPlace(SeenIndex* index, std::uint32_t keep) {
    index->Reorder(CompareBySeenTime);
    const SeenRecord* found = nullptr;
    index->ResetCursor();
    for (std::uint32_t position = 0; position < keep; ++position) found = index->NextItem();
    index->Reorder(CompareByNick);
    return found;
}

// Removes every record after the `keep` most recently seen ones (by seen
// time, then nick) and returns how many went.
int ExpireAllButLatest(SeenIndex* index, std::uint32_t keep) {
    if (static_cast<std::uint32_t>(index->Count()) <= keep) return 0;
    if (keep == 0) {
        int removed = index->Count();
        index->Clear();
        return removed;
    }
    const SeenRecord* last = SelectByArray(index, keep);
    if (last == nullptr) last = SelectInPlace(index, keep);
    return index->RemoveWhere(
        [last](const SeenRecord* record) { return CompareBySeenTime(record, last) > 0; });
}

}  // namespace

void SeenExpire(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    const char* option = NextToken(&cursor);
    bool byTime = text::IrcCompare(option, "t") == 0;
    if (!byTime && text::IrcCompare(option, "n") != 0) return ReplyError(buffer, ErrorCode::Option);
    const char* number = NextToken(&cursor);
    if (!protocol::IsDecimal(number)) {
        return ReplyError(buffer, byTime ? ErrorCode::Seconds : ErrorCode::EntriesN);
    }
    std::uint32_t n = protocol::ParseDecimal(number);

    SeenIndex* index = table->index;
    int removed = byTime ? index->RemoveWhere([n](const SeenRecord* record) {
                      // Seen times are compared with n as unsigned values.
                      return static_cast<std::uint32_t>(record->seenTime) < n;
                  })
                         : ExpireAllButLatest(index, n);
    platform::FormatBounded(buffer, "+OK %d", removed);
}

}  // namespace lastspot::seen
