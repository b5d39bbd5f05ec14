#include "seen/table_commands.h"

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;
using platform::FormatBounded;

void SeenTableAdd(char* buffer) {
    char* cursor = buffer;
    const char* name = NextToken(&cursor);
    if (name[0] == '\0') return ReplyError(buffer, ErrorCode::Table);
    if (TableExists(name)) return ReplyError(buffer, ErrorCode::Dup);
    CreateTable(name);
    protocol::ReplyOk(buffer);
}

void SeenTableDel(char* buffer) {
    char* cursor = buffer;
    const char* name = NextToken(&cursor);
    if (name[0] == '\0') return ReplyError(buffer, ErrorCode::Table);
    if (!DeleteTable(name)) return ReplyError(buffer, ErrorCode::NotFound);
    protocol::ReplyOk(buffer);
}

void SeenTableDelMatch(char* buffer) {
    char* cursor = buffer;
    const char* pattern = NextToken(&cursor);
    if (pattern[0] == '\0') return ReplyError(buffer, ErrorCode::Match);
    int deleted, kept;
    DeleteMatchingTables(pattern, &deleted, &kept);
    FormatBounded(buffer, "+OK %d %d", deleted, kept);
}

void SeenTableCount(char* buffer) { FormatBounded(buffer, "+OK %d", CountTables()); }

void SeenTableClear(char* buffer) { FormatBounded(buffer, "+OK %d", ReleaseAllTables()); }

}  // namespace lastspot::seen
