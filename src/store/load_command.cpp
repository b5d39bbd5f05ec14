#include <memory>
#include <utility>

#include "protocol/reply.h"
#include "platform/platform.h"
#include "seen/seen_index_loader.h"
#include "seen/table_registry.h"
#include "store/line_reader.h"
#include "store/read_ahead.h"
#include "store/seen_file.h"
#include "store/seen_file_io.h"
#include "store/store_commands.h"

namespace lastspot::store {

namespace {

// What a load has taken from the file's lines so far: the header's verdict
// and the records. Every record line goes into the new store, whatever the
// header names, so a file saved from one table loads into any other.
struct LoadedLines {
    seen::SeenIndexLoader records;
    int accepted = 0;
    bool headerRead = false;
    bool badHeader = false;

    // Takes one line, which the reading thread may have parsed already
    // (`kind`, and `parsed` for a Record); false when the file is no seen
    // file and reading stops.
    bool Take(char* line, std::size_t length, LineKind kind, const seen::RecordFields& parsed) {
        if (!headerRead) {
            headerRead = true;
            badHeader = !IsSeenFileHeader(line);
            return !badHeader;
        }
        seen::RecordFields f;
        if (kind == LineKind::Record) {
            records.Add(parsed);
            ++accepted;
        } else if (kind == LineKind::Unread && ParseStoredRecord(line, length, &f)) {
            records.Add(f);
            ++accepted;
        }
        return true;
    }

    bool Take(char* line, std::size_t length) { return Take(line, length, LineKind::Unread, {}); }

    bool AfterRead() { return true; }

    // A file whose bytes never completed a first line is a seen file only
    // if that unfinished line is a header (an empty file loads as empty).
    void TakeUnfinished(const char* line) {
        if (!headerRead) badHeader = !IsSeenFileHeader(line);
    }
};

// Takes the lines a ReadAhead hands over, to the file's end or until
// `lines` stops. False when a read fails.
bool TakeLinesAhead(ReadAhead* ahead, LoadedLines* lines) {
    auto take = [lines](char* line, std::size_t length, LineKind kind, const seen::RecordFields& parsed) {
        return lines->Take(line, length, kind, parsed);
    };
    auto unfinished = [lines](const char* line) { lines->TakeUnfinished(line); };
    for (;;) {
        LineBatch* batch = ahead->Next();
        bool taking = batch->ForEachLine(take, unfinished);
        bool last = batch->last;
        bool failed = batch->readFailed;
        ahead->GiveBack(!taking);
        if (!taking) return true;  // no seen file: what follows is not read
        if (last) return !failed;
    }
}

// Reads the whole file into `lines`: a large file on a second thread, when
// one can be had. False when a read fails.
bool ReadWholeFile(platform::FileHandle handle, LoadedLines* lines) {
    if (platform::FileSize(handle) >= ReadAhead::kSmallestFile) {
        ReadAhead ahead(handle);
        if (ahead.Running()) return TakeLinesAhead(&ahead, lines);
    }
    std::unique_ptr<char[]> bytes(new char[kReadSize]);
    auto reader = std::make_unique<LineReader>();
    return ReadLines(handle, bytes.get(), reader.get(), lines);
}

}  // namespace

void SeenLoad(char* buffer) {
    char* cursor;
    seen::TableEntry* table = seen::TakeTable(buffer, &cursor);
    if (table == nullptr) return;

    SeenFile file;
    FileStatus status = OpenSeenFile(cursor, FileMode::Read, &file);
    if (status != FileStatus::Ok) return protocol::ReplyError(buffer, ErrorFor(status));

    LoadedLines lines;
    if (!ReadWholeFile(file.handle, &lines)) return protocol::ReplyError(buffer, protocol::ErrorCode::Read);
    if (lines.badHeader) return protocol::ReplyError(buffer, protocol::ErrorCode::OptFile);

    // The old records go only once the new ones are in place.
    delete std::exchange(table->index, lines.records.Finish().release());
    platform::FormatBounded(buffer, "+OK %d", lines.accepted);
}

}  // namespace lastspot::store
