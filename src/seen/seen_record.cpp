#include "seen/seen_record.h"

#include <cstring>
#include <new>

#include "text/case_map.h"

namespace lastspot::seen {

RecordTexts TextsOf(const SeenRecord& record) {
    RecordTexts texts;
    texts.address = AddressOf(record);
    texts.channel = ChannelOf(record);
    texts.type = texts.channel + std::strlen(texts.channel) + 1;
    texts.text = texts.type + std::strlen(texts.type) + 1;
    return texts;
}

SeenRecord* BuildRecord(const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text,
                        std::int32_t seenTime) {
    const char* strings[] = {nick, address, channel, type, text};
    std::size_t sizes[5];
    std::size_t total = 0;
    for (int i = 0; i < 5; ++i) {
        if (strings[i] == nullptr) strings[i] = "";
        sizes[i] = std::strlen(strings[i]) + 1;
        total += sizes[i];
    }
    auto* record = new (::operator new(offsetof(SeenRecord, nick) + total)) SeenRecord;
    record->node = {};
    record->seenTime = seenTime;
    record->timeSpent = timeSpent;
    record->addressAt = static_cast<std::uint32_t>(sizes[0]);
    record->channelAt = static_cast<std::uint32_t>(sizes[0] + sizes[1]);
    char* at = record->nick;
    for (int i = 0; i < 5; ++i) {
        std::memcpy(at, strings[i], sizes[i]);
        at += sizes[i];
    }
    return record;
}

void ReleaseRecord(SeenRecord* record) {
    if (record == nullptr) return;
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
    // Built before the index is touched, so running out of memory leaves the
    // old record whole.
    SeenRecord* fresh = BuildRecord(nick, address, channel, type, timeSpent, text, seenTime);
    StoreRecord(index, fresh);
    return fresh;
}

void StoreRecord(SeenIndex* index, SeenRecord* fresh) {
    ReleaseRecord(index->InsertOrReplace(fresh));
}

namespace {

// A nick as the key of a search, compared as CompareByNick would compare a
// record holding it: lookups borrow the caller's nick and allocate nothing.
struct NickOrder {
    const char* nick;
    int operator()(const SeenRecord* stored) const { return text::IrcCompare(nick, stored->nick); }
};

}  // namespace

SeenRecord* FindByNick(SeenIndex* index, const char* nick) {
    return index->FindBy(NickOrder{nick});
}

bool RemoveByNick(SeenIndex* index, const char* nick) {
    SeenRecord* removed = index->RemoveBy(NickOrder{nick});
    ReleaseRecord(removed);
    return removed != nullptr;
}

}  // namespace lastspot::seen
