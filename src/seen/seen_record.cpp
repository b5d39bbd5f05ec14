#include "seen/seen_record.h"

#include <cstring>
#include <new>
#include <utility>

#include "text/case_map.h"

namespace lastspot::seen {

namespace {

// A nick as the key of a search, compared as CompareByNick would compare a
// record holding it: lookups borrow the caller's nick and allocate nothing.
struct NickOrder {
    const char* nick;
    int operator()(const SeenRecord* stored) const { return text::IrcCompare(nick, stored->nick); }
};

// The four strings, each with its terminator, in one new block.
char* BuildPayload(const char* address, const char* channel, const char* type,
                   const char* text) {
    const char* parts[] = {address, channel, type, text};
    std::size_t lengths[4];
    std::size_t size = 0;
    for (int i = 0; i < 4; ++i) {
        if (parts[i] == nullptr) parts[i] = "";
        lengths[i] = std::strlen(parts[i]) + 1;
        size += lengths[i];
    }
    char* payload = new char[size];
    char* at = payload;
    for (int i = 0; i < 4; ++i) {
        std::memcpy(at, parts[i], lengths[i]);
        at += lengths[i];
    }
    return payload;
}

// The held record takes the nick (same length: equal nicks under the case
// rules are equal byte for byte up to letter case), the payload and the
// numbers of `fresh`, which leaves with the held record's old payload.
void MoveValues(SeenRecord* held, SeenRecord* fresh) {
    std::memcpy(held->nick, fresh->nick, std::strlen(fresh->nick));
    std::swap(held->payload, fresh->payload);
    held->seenTime = fresh->seenTime;
    held->timeSpent = fresh->timeSpent;
}

}  // namespace

RecordTexts TextsOf(const SeenRecord& record) {
    RecordTexts texts;
    texts.address = record.payload;
    texts.channel = texts.address + std::strlen(texts.address) + 1;
    texts.type = texts.channel + std::strlen(texts.channel) + 1;
    texts.text = texts.type + std::strlen(texts.type) + 1;
    return texts;
}

const char* ChannelOf(const SeenRecord& record) {
    return record.payload + std::strlen(record.payload) + 1;
}

SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime) {
    if (nick == nullptr) nick = "";
    std::size_t nickSize = std::strlen(nick) + 1;
    void* block = ::operator new(offsetof(SeenRecord, nick) + nickSize);
    char* payload;
    try {
        payload = BuildPayload(address, channel, type, text);
    } catch (...) {
        ::operator delete(block);
        throw;
    }
    auto* record = new (block) SeenRecord;
    record->node = {};
    record->seenTime = seenTime;
    record->timeSpent = timeSpent;
    record->payload = payload;
    std::memcpy(record->nick, nick, nickSize);
    return record;
}

void ReleaseRecord(SeenRecord* record) {
    if (record == nullptr) return;
    delete[] record->payload;
    ::operator delete(record);
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
    SeenRecord* built = nullptr;
    SeenRecord* held = index->FindOrInsert(NickOrder{nick}, [&]() {
        return built = BuildRecord(nick, address, channel, type, timeSpent, text, seenTime);
    });
    if (held == built) return held;
    // The index already holds this nick. The new payload is built before
    // anything of the held record changes, so running out of memory leaves
    // it whole.
    char* payload = BuildPayload(address, channel, type, text);
    std::memcpy(held->nick, nick, std::strlen(nick));
    std::swap(held->payload, payload);
    delete[] payload;
    held->seenTime = seenTime;
    held->timeSpent = timeSpent;
    return held;
}

void AddOrReplaceWith(SeenIndex* index, SeenRecord* fresh) {
    SeenRecord* held = index->FindOrInsert(NickOrder{fresh->nick}, [fresh]() { return fresh; });
    if (held == fresh) return;
    MoveValues(held, fresh);
    ReleaseRecord(fresh);
}

SeenRecord* FindByNick(SeenIndex* index, const char* nick) {
    return index->FindBy(NickOrder{nick});
}

bool RemoveByNick(SeenIndex* index, const char* nick) {
    SeenRecord* removed = index->RemoveBy(NickOrder{nick});
    ReleaseRecord(removed);
    return removed != nullptr;
}

}  // namespace lastspot::seen
