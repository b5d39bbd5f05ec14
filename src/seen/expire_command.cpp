#include "seen/expire_command.h"

#include <algorithm>
#include <cstdint>

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

// The `keep`th most recently seen record (1 for the latest; seen times as
// signed values, ties in nick order), found without a copy of the table: a
// radix selection over the seen times. Each time becomes an unsigned key
// that orders as the signed times do; the first walk counts the keys by
// their top 12 bits, and scanning the counts from the top finds the group
// the wanted record is in and its rank there; the next two walks do the
// same for the next 12 and the last 8 bits among that group's records. The
// key, and so the seen time, is then known exactly, and a last walk in nick
// order finds the record of that rank among those seen then. Four walks,
// and a count table on the stack.
const SeenRecord* SelectLatest(SeenIndex* index, std::uint32_t keep) {
    auto keyOf = [](const SeenRecord* record) {
        return static_cast<std::uint32_t>(record->seenTime) ^ 0x80000000u;
    };
    constexpr int kWidths[] = {12, 12, 8};
    std::uint32_t counts[1u << 12];
    std::uint32_t found = 0;    // the key's bits known so far, at the top
    int known = 0;              // how many
    std::uint32_t rank = keep;  // among the records whose keys start with `found`
    for (int width : kWidths) {
        std::uint32_t buckets = 1u << width;
        std::fill(counts, counts + buckets, 0u);
        int shift = 32 - known - width;
        index->ForEach([&](const SeenRecord* record) {
            std::uint32_t key = keyOf(record);
            if (known == 0 || key >> (32 - known) == found) ++counts[(key >> shift) & (buckets - 1)];
            return true;
        });
        // Most recent first: from the highest bucket down.
        std::uint32_t bucket = buckets - 1;
        while (counts[bucket] < rank) rank -= counts[bucket--];
        found = found << width | bucket;
        known += width;
    }
    const SeenRecord* cut = nullptr;
    index->ForEach([&](const SeenRecord* record) {
        if (keyOf(record) == found && --rank == 0) {
            cut = record;
            return false;
        }
        return true;
    });
    return cut;
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
    const SeenRecord* last = SelectLatest(index, keep);
    return index->RemoveWhere([last](const SeenRecord* record) {
        return CompareBySeenTime(record, last) > 0;
    });
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
