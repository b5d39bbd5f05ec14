// A large seen file read on a second thread: that thread reads the file and
// cuts it into lines (line_reader.h), and hands them over in batches, while
// the command's thread takes the lines and builds the table. The reading
// thread also parses record lines when the other falls behind, and reads no
// further than the first line of a file whose header is wrong. A load so
// spends about as long as building alone takes.
//
// Two semaphores pass kBatches batches around a ring: `full_` counts those
// the reading thread has filled, `free_` those the taking thread has given
// back. The reading thread fills one batch at a time and ends with a batch
// marked last, whatever happens; the taking thread gives every batch back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "store/line_reader.h"

namespace lastspot::store {

// What the reading thread made of a line: nothing (it had no time to
// spare), no record, or a record, whose fields come with it.
enum class LineKind { Unread, Other, Record };

// A record line's fields by their places in the line: the reading thread
// parses the line in the batch, and the taking thread finds them there.
struct PackedFields {
    std::uint16_t start[5];  // nick, address, channel, type, text
    std::uint16_t length[5];
    std::int32_t seenTime;
    std::int32_t timeSpent;
};

// Lines, packed back to back as a 4-byte header (the length, with
// kUnfinished set for the bytes after the file's last line end, and
// kParsed and kRecord for what the reading thread made of it), the line's
// bytes and a NUL, then a record line's PackedFields.
struct LineBatch {
    // Each batch handed over wakes the other thread; 256 KiB batches made
    // 10 loads of 1M records 0.89 s, against 0.94 s with 64 KiB (and 1.04
    // s on one thread).
    static constexpr std::size_t kBytes = 256 * 1024;
    static constexpr std::uint32_t kUnfinished = 0x80000000u;
    static constexpr std::uint32_t kParsed = 0x40000000u;
    static constexpr std::uint32_t kRecord = 0x20000000u;
    static constexpr std::uint32_t kLength = 0x1FFFFFFFu;
    static constexpr std::size_t kLargestLine = 4 + kMaxLineLength + 1 + sizeof(PackedFields);

    // Calls `take(line, length, kind, fields)` for each line in order (with
    // `fields` set for a Record), until it returns false (then so does
    // this), and `unfinished(line)` for an unfinished line. The lines may
    // be cut in place.
    template <typename Take, typename Unfinished>
    bool ForEachLine(Take take, Unfinished unfinished) {
        for (std::size_t at = 0; at < used;) {
            std::uint32_t header;
            std::memcpy(&header, bytes + at, sizeof header);
            std::size_t length = header & kLength;
            char* line = bytes + at + sizeof header;
            at += sizeof header + length + 1;
            seen::RecordFields fields;
            LineKind kind = LineKind::Unread;
            if ((header & kRecord) != 0) {
                kind = LineKind::Record;
                fields = Unpack(line, at);
                at += sizeof(PackedFields);
            } else if ((header & kParsed) != 0) {
                kind = LineKind::Other;
            }
            if ((header & kUnfinished) != 0) {
                unfinished(line);
            } else if (!take(line, length, kind, fields)) {
                return false;
            }
        }
        return true;
    }

    // The fields packed at `at` of the record line at `line`.
    seen::RecordFields Unpack(const char* line, std::size_t at) const {
        PackedFields packed;
        std::memcpy(&packed, bytes + at, sizeof packed);
        seen::RecordFields fields;
        const char** strings[5] = {&fields.nick, &fields.address, &fields.channel, &fields.type,
                                   &fields.text};
        std::size_t* lengths[5] = {&fields.nickLength, &fields.addressLength, &fields.channelLength,
                                   &fields.typeLength, &fields.textLength};
        for (int i = 0; i < 5; ++i) {
            *strings[i] = line + packed.start[i];
            *lengths[i] = packed.length[i];
        }
        fields.seenTime = packed.seenTime;
        fields.timeSpent = packed.timeSpent;
        return fields;
    }

    char bytes[kBytes];
    std::size_t used = 0;
    bool last = false;        // the reading thread's final batch
    bool readFailed = false;  // set on the last batch when a read failed
};

class ReadAhead {
public:
    // Files smaller than this are read on the command's thread: starting a
    // thread would cost more than it wins.
    static constexpr std::uint64_t kSmallestFile = 1024 * 1024;

    // When the reading thread parses the lines it hands over: when the
    // taking thread has two batches waiting beside the one it holds (it is
    // the slower, and the reading thread would soon only wait), or always.
    // Parsing them all would make the reading thread the slower: 10 loads
    // of 1M records took 0.79 s with none parsed there, 1.10 s with all,
    // about 0.70 s when ahead.
    enum class Parsing { WhenAhead, Always };

    // Starts reading `file` on a second thread, if one can be had with the
    // memory it needs (Running() tells); otherwise nothing was read.
    explicit ReadAhead(platform::FileHandle file, Parsing parsing = Parsing::WhenAhead);
    // Stops the reading, waits for the thread's end and releases everything.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    bool Running() const { return thread_ != nullptr; }

    // The next batch of lines, once the reading thread has filled it; held
    // by the caller until GiveBack. After the batch marked last, there is
    // none.
    LineBatch* Next();
    // Returns the batch from Next to the reading thread; with `stop`, the
    // thread reads no further and soon sends its last batch.
    void GiveBack(bool stop);

private:
    static constexpr std::size_t kBatches = 4;

    // The reading thread's sink (line_reader.h): copies each line into the
    // batch being filled, handing that over when the next line might not
    // fit, or at the end of a read when it has held lines since an earlier
    // one. So a batch goes over about once a read in a saved file, and the
    // reading stops within two reads of the taking thread's asking even in
    // a file of few lines.
    struct Filler {
        ReadAhead* ahead;
        LineBatch* batch;
        std::size_t reads = 0;      // reads whose lines are all taken
        std::size_t firstRead = 0;  // the read of the batch's first line
        std::size_t lines = 0;      // lines taken
        bool Take(char* line, std::size_t length);
        void TakeUnfinished(const char* line);
        bool AfterRead();
        // Passes the batch on when the longest line might not fit; false
        // when the reading is to stop.
        bool MakeRoom();
        // Hands the batch over and starts the next; false when the reading
        // is to stop.
        bool PassOn();
        // Appends the line to the batch; returns its header's place.
        char* Append(const char* line, std::size_t length, std::uint32_t flags);
        // Parses the line just appended, whose header is at `header`.
        void Parse(char* header, std::size_t length);
    };

    bool ShouldParse() const;

    static void Run(void* self);
    void Read();
    // The next batch for the reading thread to fill, once given back.
    LineBatch* NextToFill();

    platform::FileHandle file_;
    std::unique_ptr<LineBatch> batches_[kBatches];
    std::unique_ptr<char[]> readBytes_;
    std::unique_ptr<LineReader> reader_;
    platform::Semaphore* full_ = nullptr;
    platform::Semaphore* free_ = nullptr;
    platform::Thread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    Parsing parsing_;
    std::size_t filled_ = 0;             // batches the reading thread has taken to fill
    std::atomic<std::size_t> taken_{0};  // batches the taking thread has had from Next
    LineBatch* held_ = nullptr;
    bool lastTaken_ = false;
};

}  // namespace lastspot::store
