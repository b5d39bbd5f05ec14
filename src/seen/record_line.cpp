#include "seen/record_line.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace lastspot::seen {

namespace {

static_assert(std::endian::native == std::endian::little, "the lowest byte comes first");
constexpr std::uint64_t kBytes = 0x0101010101010101u;

// The first space in [p, end), or nullptr. Eight bytes at a time while
// eight remain (a word is a space's where its byte XOR 0x20 is zero; the
// lowest such byte is found exactly), then byte by byte: the words a
// record line's tokens make are short, and a call per token would cost more.
char* FindSpace(char* p, const char* end) {
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
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if ((x & (0xF0 * kBytes)) != 0x30 * kBytes || ((x + 0x06 * kBytes) & (0xF0 * kBytes)) != 0x30 * kBytes) {
        return false;
    }
    x -= 0x30 * kBytes;     // digits, the first in the lowest byte
    x = x * 10 + (x >> 8);  // pairs in bytes 0, 2, 4, 6
    x = ((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
        32;
    *value = x;
    return true;
}

// A run of digits and nothing else, its value modulo 2^32.
[[gnu::always_inline]] inline bool ParseNumber(const char* token, std::size_t size, std::int32_t* value) {
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
}

// The tokenizer's rule, with the line's end known: a word runs from past
// the spaces at `*p` to the next space, which becomes its NUL; `*p` moves
// past that space (or to the end). The word is empty at the line's end.
// Inlined into each of its six calls: called, it cost the load a tenth.
[[gnu::always_inline]] inline char* NextWord(char** p, char* end, std::size_t* size) {
    char* start = *p;
    while (start < end && *start == ' ') ++start;
    char* space = FindSpace(start, end);
    char* stop = space != nullptr ? space : end;
    *stop = '\0';
    *size = static_cast<std::size_t>(stop - start);
    *p = space != nullptr ? space + 1 : end;
    return start;
}

}  // namespace

AddLineResult ParseRecordFields(char* line, std::size_t length, RecordFields* fields) {
    char* p = line;
    char* const end = line + length;
    fields->nick = NextWord(&p, end, &fields->nickLength);
    if (fields->nickLength == 0) return AddLineResult::NoNick;
    fields->address = NextWord(&p, end, &fields->addressLength);
    if (fields->addressLength == 0) return AddLineResult::NoAddress;
    fields->channel = NextWord(&p, end, &fields->channelLength);
    if (fields->channelLength == 0) return AddLineResult::NoChannel;
    fields->type = NextWord(&p, end, &fields->typeLength);
    if (fields->typeLength == 0) return AddLineResult::NoType;
    std::size_t size;
    const char* seenTime = NextWord(&p, end, &size);
    if (!ParseNumber(seenTime, size, &fields->seenTime)) return AddLineResult::BadSeenTime;
    const char* timeSpent = NextWord(&p, end, &size);
    if (!ParseNumber(timeSpent, size, &fields->timeSpent)) return AddLineResult::BadTimeSpent;
    while (p < end && *p == ' ') ++p;
    fields->text = p;
    fields->textLength = static_cast<std::size_t>(end - p);
    return AddLineResult::Added;
}

}  // namespace lastspot::seen
