#include "seen/record_commands.h"

#include <cstring>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

AddLineResult AddRecordLine(char* line) {
    char* cursor = line;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return AddLineResult::NoTable;
    RecordFields f;
    AddLineResult result = ParseRecordFields(cursor, std::strlen(cursor), &f);
    if (result != AddLineResult::Added) return result;
    table->index->AddOrReplace(f);
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
    const SeenRecord* record = table->index->FindByNick(nick);
    if (record == nullptr) return ReplyError(buffer, ErrorCode::Found);
    RecordTexts texts = TextsOf(*record);
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", record->nick, texts.address, texts.channel,
                            texts.type, static_cast<int>(record->seenTime),
                            static_cast<int>(record->timeSpent), texts.text);
}

void SeenDel(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    if (!table->index->RemoveByNick(nick)) return ReplyError(buffer, ErrorCode::Found);
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
