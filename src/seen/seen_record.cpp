#include "seen/seen_record.h"

#include <cstring>
#include <new>
#include <utility>

namespace lastspot::seen {

RecordTexts TextsOf(const SeenRecord& record) {
    RecordTexts texts;
    texts.address = AddressOf(record);
    texts.channel = ChannelOf(texts.address);
    texts.type = texts.channel + std::strlen(texts.channel) + 1;
    texts.text = texts.type + std::strlen(texts.type) + 1;
    return texts;
}

std::size_t RecordBytes(const RecordFields& f) {
    return offsetof(SeenRecord, nick) + f.nickLength + f.addressLength + f.channelLength + f.typeLength +
           f.textLength + 5;
}

std::size_t RecordBytes(const SeenRecord& record) {
    RecordTexts texts = TextsOf(record);
    return static_cast<std::size_t>(texts.text - reinterpret_cast<const char*>(&record)) +
           std::strlen(texts.text) + 1;
}

void RewriteRecord(SeenRecord* record, const RecordFields& f) {
    // The rounding to whole words is zeroed first: readers may take the
    // record a word at a time.
    std::size_t rounded = RecordHeap::Rounded(RecordBytes(f));
    std::memset(reinterpret_cast<char*>(record) + rounded - RecordHeap::kGranule, 0, RecordHeap::kGranule);
    record->seenTime = f.seenTime;
    record->timeSpent = f.timeSpent;
    char* at = record->nick;
    // The four words of a line with single spaces lie back to back, each
    // ended by the NUL that took its space: one copy takes them all.
    const char* typeEnd = f.type + f.typeLength;
    std::size_t words = f.nickLength + f.addressLength + f.channelLength + f.typeLength + 3;
    if (typeEnd - f.nick == static_cast<std::ptrdiff_t>(words)) {
        std::memcpy(at, f.nick, words + 1);
        at += words + 1;
    } else {
        for (auto [text, length] : {std::pair{f.nick, f.nickLength}, std::pair{f.address, f.addressLength},
                                    std::pair{f.channel, f.channelLength}, std::pair{f.type, f.typeLength}}) {
            std::memcpy(at, text, length);
            at[length] = '\0';
            at += length + 1;
        }
    }
    std::memcpy(at, f.text, f.textLength);
    at[f.textLength] = '\0';
}

SeenRecord* BuildRecord(RecordHeap* heap, const RecordFields& fields) {
    auto* record = new (heap->Allocate(RecordBytes(fields))) SeenRecord;
    RewriteRecord(record, fields);
    return record;
}

void ReleaseRecord(RecordHeap* heap, SeenRecord* record) {
    if (record != nullptr) heap->Free(record, RecordBytes(*record));
}

}  // namespace lastspot::seen
