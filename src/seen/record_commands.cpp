#include "seen/record_commands.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::seen {

using protocol::ErrorCode;
using protocol::NextToken;
using protocol::ReplyError;

namespace {

// The first space in [p, end), or nullptr. Eight bytes at a time while
// eight remain (a word is a space's where its byte XOR 0x20 is zero; the
// lowest such byte is found exactly), then byte by byte: the words a
// record line's tokens make are short, and a call per token would cost more.
char* FindSpace(char* p, char* end) {
    static_assert(std::endian::native == std::endian::little, "the lowest byte comes first");
    constexpr std::uint64_t kBytes = 0x0101010101010101u;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        std::uint64_t x = word ^ (0x20 * kBytes);
        std::uint64_t zero = (x - kBytes) & ~x & (0x80 * kBytes);
        if (zero != 0) return p + (std::countr_zero(zero) >> 3);
    }
    for (; p < end; ++p) {
        if (*p == ' ') return p;
    }
    return nullptr;
}

// The value of the eight characters at `p` when all are digits. A byte is
// a digit when its high half is 3 and adding 6 leaves it so; then pairs,
// quads and the whole are combined with a few multiplications.
bool EightDigits(const char* p, std::uint64_t* value) {
    constexpr std::uint64_t kBytes = 0x0101010101010101u;
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if ((x & (0xF0 * kBytes)) != 0x30 * kBytes || ((x + 0x06 * kBytes) & (0xF0 * kBytes)) != 0x30 * kBytes) {
        return false;
    }
    x -= 0x30 * kBytes;                   // digits, the first in the lowest byte
    x = x * 10 + (x >> 8);                // pairs in bytes 0, 2, 4, 6
    x = ((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >> 32;
    *value = x;
    return true;
}

}  // namespace

AddLineResult ParseRecordFields(char* line, RecordFields* fields) {
    return ParseRecordFields(line, std::strlen(line), fields);
}

AddLineResult ParseRecordFields(char* line, std::size_t length, RecordFields* fields) {
    // The tokenizer's rule, with the line's end known: a token runs to the
    // next space, which becomes its NUL; runs of spaces between tokens are
    // skipped, and the text is the rest after the time spent and the spaces
    // that follow it.
    char* p = line;
    char* const end = line + length;
    auto next = [&p, end](std::size_t* size) {
        while (p < end && *p == ' ') ++p;
        char* start = p;
        char* space = FindSpace(p, end);
        char* stop = space != nullptr ? space : end;
        *stop = '\0';
        *size = static_cast<std::size_t>(stop - start);
        p = space != nullptr ? space + 1 : end;
        return start;
    };
    // A run of digits and nothing else, its value modulo 2^32.
    auto decimal = [](const char* token, std::size_t size, std::int32_t* value) {
        std::uint64_t sum = 0;  // modulo 2^64, of which 2^32 is a factor
        std::size_t i = 0;
        for (; size - i >= 8; i += 8) {
            std::uint64_t eight;
            if (!EightDigits(token + i, &eight)) return false;
            sum = sum * 100000000u + eight;
        }
        for (; i < size; ++i) {
            auto digit = static_cast<std::uint32_t>(static_cast<unsigned char>(token[i]) - '0');
            if (digit > 9) return false;
            sum = sum * 10u + digit;
        }
        *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(sum));
        return size != 0;
    };
    fields->nick = next(&fields->nickLength);
    if (fields->nickLength == 0) return AddLineResult::NoNick;
    fields->address = next(&fields->addressLength);
    if (fields->addressLength == 0) return AddLineResult::NoAddress;
    fields->channel = next(&fields->channelLength);
    if (fields->channelLength == 0) return AddLineResult::NoChannel;
    fields->type = next(&fields->typeLength);
    if (fields->typeLength == 0) return AddLineResult::NoType;
    std::size_t size;
    const char* seenTime = next(&size);
    if (!decimal(seenTime, size, &fields->seenTime)) return AddLineResult::BadSeenTime;
    const char* timeSpent = next(&size);
    if (!decimal(timeSpent, size, &fields->timeSpent)) return AddLineResult::BadTimeSpent;
    while (p < end && *p == ' ') ++p;
    fields->text = p;
    fields->textLength = static_cast<std::size_t>(end - p);
    return AddLineResult::Added;
}

AddLineResult AddRecordLine(char* line) {
    char* cursor = line;
    TableEntry* table = FindTable(NextToken(&cursor));
    if (table == nullptr) return AddLineResult::NoTable;
    RecordFields f;
    AddLineResult result = ParseRecordFields(cursor, &f);
    if (result != AddLineResult::Added) return result;
    AddOrReplace(table->index, f);
    return AddLineResult::Added;
}

namespace {

// The reply to each failed test. Each result names its code, so no order
// can slip, and a result left out does not compile (-Wswitch).
constexpr ErrorCode ReplyFor(AddLineResult failed) {
    switch (failed) {
        case AddLineResult::NoTable: return ErrorCode::Table;
        case AddLineResult::NoNick: return ErrorCode::Nick;
        case AddLineResult::NoAddress: return ErrorCode::Addy;
        case AddLineResult::NoChannel: return ErrorCode::Chan;
        case AddLineResult::NoType: return ErrorCode::Type;
        case AddLineResult::BadSeenTime: return ErrorCode::When;
        case AddLineResult::BadTimeSpent: return ErrorCode::TimeSpent;
        case AddLineResult::Added: break;
    }
    return ErrorCode::Internal;  // Added is no failure
}

}  // namespace

void SeenAdd(char* buffer) {
    AddLineResult result = AddRecordLine(buffer);
    if (result != AddLineResult::Added) return ReplyError(buffer, ReplyFor(result));
    protocol::ReplyOk(buffer);
}

void SeenGet(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    const SeenRecord* record = FindByNick(table->index, nick);
    if (record == nullptr) return ReplyError(buffer, ErrorCode::Found);
    RecordTexts texts = TextsOf(*record);
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", record->nick, texts.address,
                            texts.channel, texts.type, static_cast<int>(record->seenTime),
                            static_cast<int>(record->timeSpent), texts.text);
}

void SeenDel(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    const char* nick = NextToken(&cursor);
    if (nick[0] == '\0') return ReplyError(buffer, ErrorCode::Nick);
    if (!RemoveByNick(table->index, nick)) return ReplyError(buffer, ErrorCode::Found);
    protocol::ReplyOk(buffer);
}

void SeenCount(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    platform::FormatBounded(buffer, "+OK %d", static_cast<int>(table->index->Count()));
}

void SeenClear(char* buffer) {
    char* cursor;
    TableEntry* table = TakeTable(buffer, &cursor);
    if (table == nullptr) return;
    table->index->Clear();
    protocol::ReplyOk(buffer);
}

}  // namespace lastspot::seen
