#include "seen/seen_record.h"

#include <cstring>
#include <memory>

#include "text/case_map.h"

namespace lastspot::seen {

namespace {

char* CopyString(const char* text) {
    if (text == nullptr) text = "";
    std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

struct RecordRelease {
    void operator()(SeenRecord* record) const { ReleaseRecord(record); }
};
using OwnedRecord = std::unique_ptr<SeenRecord, RecordRelease>;

// A probe: a record on the stack whose nick borrows the caller's string.
class NickProbe {
public:
    explicit NickProbe(const char* nick) { record_.nick = const_cast<char*>(nick); }
    ~NickProbe() { DetachRecord(&record_); }
    NickProbe(const NickProbe&) = delete;
    NickProbe& operator=(const NickProbe&) = delete;
    const SeenRecord* get() const { return &record_; }

private:
    SeenRecord record_;
};

}  // namespace

SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime) {
    OwnedRecord record(new SeenRecord);
    record->nick = CopyString(nick);
    record->address = CopyString(address);
    record->channel = CopyString(channel);
    record->type = CopyString(type);
    record->text = CopyString(text);
    record->seenTime = seenTime;
    record->timeSpent = timeSpent;
    return record.release();
}

void DetachRecord(SeenRecord* record) {
    record->nick = record->address = record->channel = record->type = record->text = nullptr;
}

void ReleaseRecord(SeenRecord* record) {
    if (record == nullptr) return;
    delete[] record->nick;
    delete[] record->address;
    delete[] record->channel;
    delete[] record->type;
    delete[] record->text;
    delete record;
}

int CompareByNick(const SeenRecord* probe, const SeenRecord* stored) {
    return text::IrcCompare(probe->nick, stored->nick);
}

int CompareBySeenTime(const SeenRecord* probe, const SeenRecord* stored) {
    // Compared, never subtracted: the difference of two 32-bit times need
    // not fit in 32 bits.
    if (probe->seenTime == stored->seenTime) return text::IrcCompare(probe->nick, stored->nick);
    return probe->seenTime > stored->seenTime ? -1 : 1;
}

SeenRecord* AddOrReplace(SeenIndex* index, const char* nick, const char* address,
                         const char* channel, const char* type, std::int32_t timeSpent,
                         const char* text, std::int32_t seenTime) {
    OwnedRecord fresh(BuildRecord(nick, address, channel, type, timeSpent, text, seenTime));
    SeenRecord* held = index->Insert(fresh.get());
    if (held == fresh.get()) return fresh.release();
    // The index already holds this key: the held record takes the new
    // strings and numbers where it stands, and the spare one leaves with
    // the old strings.
    std::swap(held->nick, fresh->nick);
    std::swap(held->address, fresh->address);
    std::swap(held->channel, fresh->channel);
    std::swap(held->type, fresh->type);
    std::swap(held->text, fresh->text);
    held->seenTime = seenTime;
    held->timeSpent = timeSpent;
    return held;
}

SeenRecord* FindByNick(SeenIndex* index, const char* nick) {
    NickProbe probe(nick);
    return index->Find(probe.get());
}

bool RemoveByNick(SeenIndex* index, const char* nick) {
    NickProbe probe(nick);
    SeenRecord* removed = index->Remove(probe.get());
    ReleaseRecord(removed);
    return removed != nullptr;
}

}  // namespace lastspot::seen
