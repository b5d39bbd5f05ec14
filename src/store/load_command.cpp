#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "protocol/reply.h"
#include "platform/platform.h"
#include "index/avl_index.h"
#include "seen/record_commands.h"
#include "seen/table_registry.h"
#include "store/seen_file.h"
#include "store/seen_file_io.h"
#include "store/store_commands.h"

namespace lastspot::store {

namespace {

// The file is read in blocks of kBlockSize bytes, a NUL hiding the rest of
// its block; kReadSize bytes (whole blocks) are fetched at a time.
constexpr std::uint32_t kBlockSize = 4096;
constexpr std::uint32_t kReadSize = 16 * kBlockSize;

// The records of a file, gathered into a new index. A file the library
// saved is in nick order, so records arrive as an ascending run that
// becomes a balanced tree in one step at the end. A record that does not
// sort after the run's last (a file edited by hand or written elsewhere)
// goes to a second index instead, by ordinary insertion; it always came
// later in the file than any run record of the same nick, so in the end it
// wins over that record, as a second add of the nick would have.
class RecordGatherer {
public:
    void Add(seen::SeenRecord* record) {
        const seen::SeenRecord* last = run_.Last();
        if (last == nullptr || seen::CompareByNick(record, last) > 0) {
            run_.Append(record);
        } else {
            seen::StoreRecord(late_.get(), record);
        }
    }

    // The index of every record gathered; the gatherer is left empty. The
    // smaller part joins the larger one.
    std::unique_ptr<seen::SeenIndex> Finish() {
        if (run_.Count() >= late_->Count()) {
            auto index = std::make_unique<seen::SeenIndex>();
            index->Adopt(&run_);
            seen::SeenIndex* target = index.get();
            late_->Drain([target](seen::SeenRecord* record) { seen::StoreRecord(target, record); });
            return index;
        }
        seen::SeenIndex* target = late_.get();
        run_.Drain([target](seen::SeenRecord* record) {
            if (target->Insert(record) != record) seen::ReleaseRecord(record);
        });
        return std::move(late_);
    }

private:
    index::SortedRun<seen::SeenRecord> run_;  // ascending by nick
    std::unique_ptr<seen::SeenIndex> late_ = std::make_unique<seen::SeenIndex>();  // the rest
};

// Assembles lines from the file's blocks by the reading rules: LF ends a
// line, CR is dropped, the (kMaxLineLength + 1)th character of a line ends
// it and is lost; lines carry on from one block to the next.
class LineReader {
public:
    // Examines `length` bytes of one block (the caller has cut the block at
    // its first zero byte: a NUL in the file hides the rest of its block),
    // calling `onLine` with each line that ends. Stops early, returning
    // false, when `onLine` does. `onLine` may cut the line in place.
    template <typename OnLine>
    bool Feed(const char* bytes, std::size_t length, OnLine onLine) {
        const char* p = bytes;
        const char* end = bytes + length;
        while (p < end) {
            // The line ends at an LF or, failing one, at the character that
            // would be its (kMaxLineLength + 1)th.
            std::size_t room = kMaxLineLength + 1 - examined_;
            std::size_t span = std::min(static_cast<std::size_t>(end - p), room);
            const auto* lineFeed = static_cast<const char*>(std::memchr(p, '\n', span));
            if (lineFeed == nullptr && span < room) {  // the line goes on in the next bytes
                Keep(p, span);
                examined_ += span;
                return true;
            }
            std::size_t kept = lineFeed != nullptr ? static_cast<std::size_t>(lineFeed - p) : room - 1;
            Keep(p, kept);
            p += kept + 1;  // past the character that ended the line, which is lost
            line_[stored_] = '\0';
            examined_ = stored_ = 0;
            if (!onLine(line_)) return false;
        }
        return true;
    }

    // The unfinished line at the end of the file, which is not read as a
    // line.
    const char* Unfinished() {
        line_[stored_] = '\0';
        return line_;
    }

private:
    // Appends `length` bytes to the line, leaving out every CR.
    void Keep(const char* p, std::size_t length) {
        const char* end = p + length;
        while (p < end) {
            const auto* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
            const char* stop = cr != nullptr ? cr : end;
            std::memcpy(line_ + stored_, p, static_cast<std::size_t>(stop - p));
            stored_ += static_cast<std::size_t>(stop - p);
            p = cr != nullptr ? cr + 1 : end;
        }
    }

    char line_[kMaxLineLength + 1];
    std::size_t examined_ = 0;  // characters of this line seen, CRs included
    std::size_t stored_ = 0;
};

}  // namespace

void SeenLoad(char* buffer) {
    char* cursor;
    seen::TableEntry* table = seen::TakeTable(buffer, &cursor);
    if (table == nullptr) return;

    SeenFile file;
    FileStatus status = OpenSeenFile(cursor, FileMode::Read, &file);
    if (status != FileStatus::Ok) return protocol::ReplyError(buffer, ErrorFor(status));

    // Every record line goes into the command's table, whatever the file's
    // header says, so a file saved from one table loads into any other.
    RecordGatherer gathered;
    int accepted = 0;
    bool headerRead = false, badHeader = false;
    auto onLine = [&](char* line) {
        if (!headerRead) {
            headerRead = true;
            badHeader = ComparePrefix(line, kHeaderPrefix) != 0;
            return !badHeader;
        }
        seen::RecordFields f;
        if (line[0] == '!' && line[1] == ' ' && seen::ParseRecordFields(line + 2, &f) == seen::AddLineResult::Added) {
            gathered.Add(seen::BuildRecord(f.nick, f.address, f.channel, f.type, f.timeSpent,
                                           f.text, f.seenTime));
            ++accepted;
        }
        return true;
    };

    auto reader = std::make_unique<LineReader>();
    std::unique_ptr<char[]> bytes(new char[kReadSize]);
    bool anyBytes = false, stopped = false;
    while (!stopped) {
        std::uint32_t got = 0;
        if (!platform::ReadFromFile(file.handle, bytes.get(), kReadSize, &got)) {
            return protocol::ReplyError(buffer, protocol::ErrorCode::Read);
        }
        anyBytes = anyBytes || got != 0;
        for (std::uint32_t at = 0; at < got && !stopped; at += kBlockSize) {
            const char* block = bytes.get() + at;
            std::size_t length = std::min(kBlockSize, got - at);
            const void* nul = std::memchr(block, '\0', length);
            if (nul != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(nul) - block);
            stopped = !reader->Feed(block, length, onLine);
        }
        if (got != kReadSize) break;  // the end of the file
    }
    // A file whose bytes never completed a first line is a seen file only
    // if that unfinished line is a header (an empty file loads as empty).
    if (!headerRead && anyBytes) {
        badHeader = ComparePrefix(reader->Unfinished(), kHeaderPrefix) != 0;
    }
    if (badHeader) return protocol::ReplyError(buffer, protocol::ErrorCode::OptFile);

    // The old records go only once the new ones are in place.
    delete std::exchange(table->index, gathered.Finish().release());
    platform::FormatBounded(buffer, "+OK %d", accepted);
}

}  // namespace lastspot::store
