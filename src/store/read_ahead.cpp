#include "store/read_ahead.h"

#include <new>

namespace lastspot::store {

ReadAhead::ReadAhead(platform::FileHandle file, Parsing parsing) : file_(file), parsing_(parsing) {
    try {
        for (auto& batch : batches_) batch.reset(new LineBatch);  // its bytes left as they come
        readBytes_.reset(new char[kReadSize]);
        reader_ = std::make_unique<LineReader>();
    } catch (const std::bad_alloc&) {
        return;  // read on the command's thread instead
    }
    full_ = platform::NewSemaphore(0);
    free_ = platform::NewSemaphore(kBatches);
    if (full_ != nullptr && free_ != nullptr) thread_ = platform::StartThread(Run, this);
}

ReadAhead::~ReadAhead() {
    if (thread_ != nullptr) {
        // The reading thread ends once it has sent its last batch, which it
        // does soon after it sees `stop_`: every batch it fills must come
        // back to it until then.
        if (held_ != nullptr) GiveBack(true);
        while (!lastTaken_) {
            Next();
            GiveBack(true);
        }
        platform::JoinThread(thread_);
    }
    platform::FreeSemaphore(full_);
    platform::FreeSemaphore(free_);
}

LineBatch* ReadAhead::Next() {
    platform::WaitSemaphore(full_);
    std::size_t taken = taken_.load(std::memory_order_relaxed);
    held_ = batches_[taken % kBatches].get();
    taken_.store(taken + 1, std::memory_order_relaxed);
    lastTaken_ = held_->last;
    return held_;
}

void ReadAhead::GiveBack(bool stop) {
    // The reading thread looks at the flag each time it passes a batch on.
    if (stop) stop_.store(true, std::memory_order_relaxed);
    held_ = nullptr;
    platform::PostSemaphore(free_);
}

void ReadAhead::Run(void* self) { static_cast<ReadAhead*>(self)->Read(); }

// On the reading thread. Allocates nothing and throws nothing.
void ReadAhead::Read() {
    Filler filler{this, NextToFill()};
    bool read = ReadLines(file_, readBytes_.get(), reader_.get(), &filler);
    filler.batch->last = true;
    filler.batch->readFailed = !read;
    platform::PostSemaphore(full_);
}

LineBatch* ReadAhead::NextToFill() {
    platform::WaitSemaphore(free_);
    LineBatch* batch = batches_[filled_++ % kBatches].get();
    batch->used = 0;
    batch->last = batch->readFailed = false;
    return batch;
}

bool ReadAhead::ShouldParse() const {
    // `filled_` counts the batch being filled, `taken_` the one being taken.
    return parsing_ == Parsing::Always || filled_ >= taken_.load(std::memory_order_relaxed) + 3;
}

bool ReadAhead::Filler::Take(char* line, std::size_t length) {
    if (!MakeRoom()) return false;
    char* header = Append(line, length, 0);
    // The first line is the header, which the taking thread reads as it
    // is; a file whose header is wrong is read no further, as on one
    // thread (the taking thread stops at that line).
    if (lines++ == 0) return IsSeenFileHeader(line);
    if (ahead->ShouldParse()) Parse(header, length);
    return true;
}

void ReadAhead::Filler::Parse(char* header, std::size_t length) {
    char* line = header + sizeof(std::uint32_t);
    seen::RecordFields fields;
    std::uint32_t flags = LineBatch::kParsed;
    if (ParseStoredRecord(line, length, &fields)) {
        flags |= LineBatch::kRecord;
        PackedFields packed;
        const char* strings[5] = {fields.nick, fields.address, fields.channel, fields.type, fields.text};
        std::size_t lengths[5] = {fields.nickLength, fields.addressLength, fields.channelLength,
                                  fields.typeLength, fields.textLength};
        for (int i = 0; i < 5; ++i) {
            packed.start[i] = static_cast<std::uint16_t>(strings[i] - line);
            packed.length[i] = static_cast<std::uint16_t>(lengths[i]);
        }
        packed.seenTime = fields.seenTime;
        packed.timeSpent = fields.timeSpent;
        std::memcpy(batch->bytes + batch->used, &packed, sizeof packed);
        batch->used += sizeof packed;
    }
    std::uint32_t word;
    std::memcpy(&word, header, sizeof word);
    word |= flags;
    std::memcpy(header, &word, sizeof word);
}

void ReadAhead::Filler::TakeUnfinished(const char* line) {
    if (MakeRoom()) Append(line, std::strlen(line), LineBatch::kUnfinished);
}

bool ReadAhead::Filler::AfterRead() {
    ++reads;
    if (batch->used != 0 && firstRead + 1 < reads) return PassOn();
    return !ahead->stop_.load(std::memory_order_relaxed);
}

bool ReadAhead::Filler::MakeRoom() {
    return batch->used + LineBatch::kLargestLine <= LineBatch::kBytes || PassOn();
}

bool ReadAhead::Filler::PassOn() {
    platform::PostSemaphore(ahead->full_);
    batch = ahead->NextToFill();
    return !ahead->stop_.load(std::memory_order_relaxed);
}

char* ReadAhead::Filler::Append(const char* line, std::size_t length, std::uint32_t flags) {
    if (batch->used == 0) firstRead = reads;
    auto header = static_cast<std::uint32_t>(length) | flags;
    char* at = batch->bytes + batch->used;
    std::memcpy(at, &header, sizeof header);
    std::memcpy(at + sizeof header, line, length);
    at[sizeof header + length] = '\0';
    batch->used += sizeof header + length + 1;
    return at;
}

}  // namespace lastspot::store
