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

AddLineResult ParseRecordFields(char* line, RecordFields* fields) {
    char* cursor = line;
    fields->nick = NextToken(&cursor);
    if (fields->nick[0] == '\0') return AddLineResult::NoNick;
    fields->address = NextToken(&cursor);
    if (fields->address[0] == '\0') return AddLineResult::NoAddress;
    fields->channel = NextToken(&cursor);
    if (fields->channel[0] == '\0') return AddLineResult::NoChannel;
    fields->type = NextToken(&cursor);
    if (fields->type[0] == '\0') return AddLineResult::NoType;
    const char* seenTime = NextToken(&cursor);
    if (!protocol::IsDecimal(seenTime)) return AddLineResult::BadSeenTime;
    const char* timeSpent = NextToken(&cursor);
    if (!protocol::IsDecimal(timeSpent)) return AddLineResult::BadTimeSpent;
    fields->seenTime = static_cast<std::int32_t>(protocol::ParseDecimal(seenTime));
    fields->timeSpent = static_cast<std::int32_t>(protocol::ParseDecimal(timeSpent));
    fields->text = cursor;
    return AddLineResult::Added;
}

AddLineResult AddRecordLine(char* line) {
    char* cursor = line;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return AddLineResult::NoTable;
    RecordFields f;
    AddLineResult result = ParseRecordFields(cursor, &f);
    if (result != AddLineResult::Added) return result;
    AddOrReplace(table->index, f.nick, f.address, f.channel, f.type, f.timeSpent, f.text,
                 f.seenTime);
    return AddLineResult::Added;
}

namespace {

// The reply to each failed test. Each result names its code, so no order
// can slip, and a result left out does not compile (-Wswitch).
constexpr ErrorCode ReplyFor(AddLineResult failed) {
    switch (failed) {
        case AddLineResult::NoTable: return ErrorCode::Table;
        case AddLineResult::NoNick: return ErrorCode::Nick;
        case AddLineResult::NoAddress: return ErrorCode::Addy;
        case AddLineResult::NoChannel: return ErrorCode::Chan;
        case AddLineResult::NoType: return ErrorCode::Type;
        case AddLineResult::BadSeenTime: return ErrorCode::When;
        case AddLineResult::BadTimeSpent: return ErrorCode::TimeSpent;
        case AddLineResult::Added: break;
    }
    return ErrorCode::Internal;  // Added is no failure
}

}  // namespace

void SeenAdd(char* buffer) {
    AddLineResult result = AddRecordLine(buffer);
    if (result != AddLineResult::Added) return ReplyError(buffer, ReplyFor(result));
    protocol::ReplyOk(buffer);
}

void SeenGet(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
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
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    if (!RemoveByNick(table->index, nick)) return ReplyError(buffer, ErrorCode::Found);
    protocol::ReplyOk(buffer);
}

void SeenCount(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(table->index->Count()));
}

void SeenClear(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    table->index->Clear();
    protocol::ReplyOk(buffer);
}

}  // namespace lastspot::seen
