#include "seen/expire_command.h"

#include <cstdint>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/pending_nicks.h"
#include "seen/table_registry.h"
#include "text/case_map.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

namespace {

// Queues every record seen before `before`. Returns false when the queue
// could not grow (memory ran out).
bool QueueSeenBefore(SeenIndex* index, std::uint32_t before, int* removed) {
    index->ResetCursor();
    while (const SeenRecord* record = index->NextItem()) {
        if (static_cast<std::uint32_t>(record->seenTime) >= before) continue;
        if (!QueuePendingNick(record->nick)) return false;
        ++*removed;
    }
    return true;
}

// Queues every record after the `keep` most recently seen ones. The index
// is re-ordered by recency for the walk and back to nick order before
// anything is deleted, since deletion finds records by nick. Returns false
// when the queue could not grow.
bool QueueAllButLatest(SeenIndex* index, std::uint32_t keep, int* removed) {
    if (static_cast<std::uint32_t>(index->Count()) <= keep) return true;
    index->Reorder(CompareBySeenTime);
    bool queued = true;
    std::uint32_t position = 0;
    index->ResetCursor();
    while (const SeenRecord* record = index->NextItem()) {
        if (++position <= keep) continue;
        if (!(queued = QueuePendingNick(record->nick))) break;
        ++*removed;
    }
    index->Reorder(CompareByNick);
    return queued;
}

}  // namespace

void SeenExpire(char* buffer) {
    char* cursor = buffer;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return ReplyError(buffer, ErrorCode::Table);
    const char* option = NextToken(&cursor);
    bool byTime = text::IrcCompare(option, "t") == 0;
    if (!byTime && text::IrcCompare(option, "n") != 0) return ReplyError(buffer, ErrorCode::Option);
    const char* number = NextToken(&cursor);
    if (!protocol::IsDecimal(number)) {
        return ReplyError(buffer, byTime ? ErrorCode::Seconds : ErrorCode::EntriesN);
    }
    std::uint32_t n = protocol::ParseDecimal(number);

    int removed = 0;
    bool queued = byTime ? QueueSeenBefore(table->index, n, &removed)
                         : QueueAllButLatest(table->index, n, &removed);
    if (!queued) {
        DiscardPendingNicks();
        return ReplyError(buffer, ErrorCode::Memory);
    }
    DeletePendingNicks();
    platform::FormatBounded(buffer, "+OK %d", removed);
}

}  // namespace lastspot::seen
