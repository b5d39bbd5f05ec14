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
        return nullptr;  // the way without the array needs no memory
    }
    std::size_t filled = 0;
    index->ForEach([&](const SeenRecord* record) {
        all[filled++] = {record->seenTime, record};
        return true;
    });
    std::nth_element(all.get(), all.get() + (keep - 1), all.get() + count, MoreRecent);
    return all[keep - 1].record;
}

// The same without the array, for when memory is short: a walk counts the
// records seen at or after a time, so a binary search over the signed
// 32-bit times finds the seen time T of the `keep`th record in 32 walks;
// one more walk counts those seen after T, and a last one finds, among the
// records seen at T in nick order, the one that makes `keep`.
const SeenRecord* SelectByCounting(SeenIndex* index, std::uint32_t keep) {
    auto seenAtOrAfter = [index](std::int64_t time) {
        std::uint32_t count = 0;
        index->ForEach([&](const SeenRecord* record) {
            count += record->seenTime >= time ? 1 : 0;
            return true;
        });
        return count;
    };
    // The latest T with at least `keep` records seen at or after it.
    std::int64_t low = INT32_MIN, high = INT32_MAX;
    while (low < high) {
        std::int64_t middle = low + (high - low + 1) / 2;
        if (seenAtOrAfter(middle) >= keep) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    std::uint32_t after = low == INT32_MAX ? 0 : seenAtOrAfter(low + 1);
    std::uint32_t wanted = keep - after;  // 1 or more, among those seen at T
    const SeenRecord* found = nullptr;
    index->ForEach([&](const SeenRecord* record) {
        if (record->seenTime == low && --wanted == 0) {
            found = record;
            return false;
        }
        return true;
    });
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
    if (last == nullptr) last = SelectByCounting(index, keep);
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
