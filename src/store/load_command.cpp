#include <cstring>
#include <memory>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/record_commands.h"
#include "seen/table_registry.h"
#include "store/seen_file.h"
#include "store/seen_file_io.h"
#include "store/store_commands.h"

namespace lastspot::store {

namespace {

constexpr std::uint32_t kBlockSize = 4096;

// Puts a fresh index in the table's place for the length of a load, so the
// record lines go into it through the ordinary add-line parser. Unless the
// load is committed, the table gets its own index back and the fresh one
// is released with whatever it took in.
class IndexSwap {
public:
    explicit IndexSwap(seen::TableEntry* table)
        : table_(table), fresh_(new seen::SeenIndex), old_(table->index) {
        table_->index = fresh_.get();
    }
    ~IndexSwap() {
        if (old_ != nullptr) table_->index = old_;
    }
    IndexSwap(const IndexSwap&) = delete;
    IndexSwap& operator=(const IndexSwap&) = delete;

    // The fresh index stays; the table's former records are released.
    void Commit() {
        table_->index = fresh_.release();  // the table owns it now
        delete old_;
        old_ = nullptr;
    }

private:
    seen::TableEntry* table_;
    std::unique_ptr<seen::SeenIndex> fresh_;
    seen::SeenIndex* old_;
};

// Assembles lines from the file's blocks by the reading rules: LF ends a
// line, CR is dropped, the (kMaxLineLength + 1)th character of a line ends
// it and is lost; lines carry on from one block to the next.
class LineReader {
public:
    // Examines one block's bytes up to its first zero byte (the end of the
    // bytes read, or a NUL in the file, which hides the rest of the block),
    // calling `onLine` with each line that ends. Stops early, returning
    // false, when `onLine` does.
    template <typename OnLine>
    bool Feed(const char* block, OnLine onLine) {
        for (const char* p = block; *p != '\0'; ++p) {
            ++examined_;
            if (examined_ == kMaxLineLength + 1 || *p == '\n') {
                line_[stored_] = '\0';
                examined_ = stored_ = 0;
                if (!onLine(line_)) return false;
            } else if (*p != '\r') {
                line_[stored_++] = *p;
            }
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
    char line_[900];
    std::size_t examined_ = 0;  // characters of this line seen, CRs included
    std::size_t stored_ = 0;
};

}  // namespace

void SeenLoad(char* buffer) {
    char* cursor = buffer;
    const char* tableName = protocol::NextToken(&cursor);
    seen::TableEntry* table = seen::FindTable(tableName);
    if (table == nullptr) return protocol::ReplyError(buffer, protocol::ErrorCode::Table);

    SeenFile file;
    if (!OpenSeenFile(cursor, FileMode::Read, buffer, &file)) return;
    IndexSwap swap(table);

    // A record line goes to the add-line parser joined to the command's
    // table name, whatever the file's header says, so a file saved from one
    // table loads into any other. The join is never cut short.
    const std::size_t nameLength = std::strlen(tableName);
    std::unique_ptr<char[]> joined(new char[nameLength + 1 + kMaxLineLength + 1]);
    std::memcpy(joined.get(), tableName, nameLength);

    int accepted = 0;
    bool headerRead = false, badHeader = false;
    auto onLine = [&](const char* line) {
        if (!headerRead) {
            headerRead = true;
            badHeader = ComparePrefix(line, kHeaderPrefix) != 0;
            return !badHeader;
        }
        if (line[0] == '!' && line[1] == ' ') {
            joined[nameLength] = ' ';  // the parser cut the last join here
            std::strcpy(joined.get() + nameLength + 1, line + 2);
            if (seen::AddRecordLine(joined.get()) == seen::kAdded) ++accepted;
        }
        return true;
    };

    LineReader reader;
    bool anyBytes = false;
    char block[kBlockSize + 1];
    for (;;) {
        std::memset(block, 0, sizeof block);
        std::uint32_t got = 0;
        if (!platform::ReadFromFile(file.handle, block, kBlockSize, &got)) {
            return protocol::ReplyError(buffer, protocol::ErrorCode::Read);
        }
        anyBytes = anyBytes || got != 0;
        if (!reader.Feed(block, onLine)) break;
        if (got != kBlockSize) break;
    }
    // A file whose bytes never completed a first line is a seen file only
    // if that unfinished line is a header (an empty file loads as empty).
    if (!headerRead && anyBytes) {
        badHeader = ComparePrefix(reader.Unfinished(), kHeaderPrefix) != 0;
    }
    if (badHeader) return protocol::ReplyError(buffer, protocol::ErrorCode::OptFile);

    swap.Commit();
    platform::FormatBounded(buffer, "+OK %d", accepted);
}

}  // namespace lastspot::store
