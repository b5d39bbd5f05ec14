#include <cstring>

#include "protocol/reply.h"
#include "platform/platform.h"
#include "seen/table_registry.h"
#include "store/seen_file.h"
#include "store/seen_file_io.h"
#include "store/store_commands.h"

namespace lastspot::store {

void SeenSave(char* buffer) {
    char* cursor;
    const char* tableName;
    seen::TableEntry* table = seen::TakeTable(buffer, &cursor, &tableName);
    if (table == nullptr) return;
    const char* fileName = cursor;

    SeenFile file;
    FileStatus status = OpenSeenFile(fileName, FileMode::Write, &file);
    if (status != FileStatus::Ok) return protocol::ReplyError(buffer, ErrorFor(status));
    // Lines run to about a hundred characters; a guess only sizes the buffer.
    LineWriter writer(file.handle, (static_cast<std::size_t>(table->index->Count()) + 1) * 128);

    // Each line is formed straight into the writer's buffer, which has room
    // for the first line whatever happens.
    static_assert(kMaxLineLength + 1 <= LineWriter::kLineRoom);
    char* header = writer.LineSpace();
    writer.EndLine(static_cast<std::size_t>(platform::FormatBounded(header, kHeaderFormat, tableName)));
    int written = 0;
    table->index->ForEachWhole([&](const seen::SeenRecord* record) {
        char* space = writer.LineSpace();
        if (space == nullptr) return false;  // a write failed
        std::size_t length = FormRecordLine(*record, space);
        if (length == 0) return true;  // would not load back as itself
        writer.EndLine(length);
        ++written;
        return true;
    });
    status = writer.Finish() ? CommitSeenFile(&file, fileName) : FileStatus::CannotWrite;
    if (status != FileStatus::Ok) return protocol::ReplyError(buffer, ErrorFor(status));
    platform::FormatBounded(buffer, "+OK %d", written);
}

}  // namespace lastspot::store
