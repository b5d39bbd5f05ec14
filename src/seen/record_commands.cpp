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

int ParseRecordFields(char* line, RecordFields* fields) {
    char* cursor = line;
    fields->nick = NextToken(&cursor);
    if (fields->nick[0] == '\0') return kNoNick;
    fields->address = NextToken(&cursor);
    if (fields->address[0] == '\0') return kNoAddress;
    fields->channel = NextToken(&cursor);
    if (fields->channel[0] == '\0') return kNoChannel;
    fields->type = NextToken(&cursor);
    if (fields->type[0] == '\0') return kNoType;
    const char* seenTime = NextToken(&cursor);
    if (!protocol::IsDecimal(seenTime)) return kBadSeenTime;
    const char* timeSpent = NextToken(&cursor);
    if (!protocol::IsDecimal(timeSpent)) return kBadTimeSpent;
    fields->seenTime = static_cast<std::int32_t>(protocol::ParseDecimal(seenTime));
    fields->timeSpent = static_cast<std::int32_t>(protocol::ParseDecimal(timeSpent));
    fields->text = cursor;
    return kAdded;
}

int AddRecordLine(char* line) {
    char* cursor = line;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return kNoTable;
    RecordFields f;
    int result = ParseRecordFields(cursor, &f);
    if (result != kAdded) return result;
    AddOrReplace(table->index, f.nick, f.address, f.channel, f.type, f.timeSpent, f.text,
                 f.seenTime);
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
    RecordTexts texts = TextsOf(*record);
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", record->nick, texts.address,
                            texts.channel, texts.type, static_cast<int>(record->seenTime),
                            static_cast<int>(record->timeSpent), texts.text);
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
