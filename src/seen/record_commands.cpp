#include "seen/record_commands.h"

#include <cstdint>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

int AddRecordLine(char* line) {
    char* cursor = line;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return kNoTable;
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return kNoNick;
    const char* address = NextToken(&cursor);
    if (address[0] == '\0') return kNoAddress;
    const char* channel = NextToken(&cursor);
    if (channel[0] == '\0') return kNoChannel;
    const char* type = NextToken(&cursor);
    if (type[0] == '\0') return kNoType;
    const char* seenTime = NextToken(&cursor);
    if (!protocol::IsDecimal(seenTime)) return kBadSeenTime;
    const char* timeSpent = NextToken(&cursor);
    if (!protocol::IsDecimal(timeSpent)) return kBadTimeSpent;
    AddOrReplace(table->index, nick, address, channel, type,
                 static_cast<std::int32_t>(protocol::ParseDecimal(timeSpent)), cursor,
                 static_cast<std::int32_t>(protocol::ParseDecimal(seenTime)));
    return kAdded;
}

void SeenAdd(char* buffer) {
    // AddRecordLine's results, 1 to 7, in the order it tests.
    static constexpr ErrorCode kFailures[] = {ErrorCode::Table, ErrorCode::Nick, ErrorCode::Addy,
                                              ErrorCode::Chan,  ErrorCode::Type, ErrorCode::When,
                                              ErrorCode::TimeSpent};
    int result = AddRecordLine(buffer);
    if (result != kAdded) return ReplyError(buffer, kFailures[result - 1]);
    protocol::ReplyOk(buffer);
}

void SeenGet(char* buffer) {
    char* cursor = buffer;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return ReplyError(buffer, ErrorCode::Table);
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    const SeenRecord* record = FindByNick(table->index, nick);
    if (record == nullptr) return ReplyError(buffer, ErrorCode::Found);
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", record->nick, record->address,
                            record->channel, record->type, static_cast<int>(record->seenTime),
                            static_cast<int>(record->timeSpent), record->text);
}

void SeenDel(char* buffer) {
    char* cursor = buffer;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return ReplyError(buffer, ErrorCode::Table);
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    if (!RemoveByNick(table->index, nick)) return ReplyError(buffer, ErrorCode::Found);
    protocol::ReplyOk(buffer);
}

void SeenCount(char* buffer) {
    char* cursor = buffer;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return ReplyError(buffer, ErrorCode::Table);
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(table->index->Count()));
}

void SeenClear(char* buffer) {
    char* cursor = buffer;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return ReplyError(buffer, ErrorCode::Table);
    table->index->Clear();
    protocol::ReplyOk(buffer);
}

}  // namespace lastspot::seen
