#include "seen/record_line.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lastspot::seen {

namespace {

static_assert(std::endian::native == std::endian::little, "the lowest byte comes first");
constexpr std::uint64_t kBytes = 0x0101010101010101u;

// The first space in [p, end), or nullptr. Sixteen bytes at a time where
// the processor compares sixteen at once (most words then end in the first
// step, and the loop's end is guessed right), eight at a time while eight
// remain (a word is a space's where its byte XOR 0x20 is zero; the lowest
// such byte is found exactly), then byte by byte: the words a record
// line's tokens make are short, and a call per token would cost more.
char* FindSpace(char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        auto spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
        if (spaces != 0) return p + std::countr_zero(spaces);
    }
#endif
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

// The value of eight digit characters read as one word, the first in its
// lowest byte; false when any is no digit. A byte is a digit when its high
// half is 3 and adding 6 leaves it so; then pairs, quads and the whole are
// combined with a few multiplications.
bool EightDigits(std::uint64_t x, std::uint64_t* value) {
    if ((x & (0xF0 * kBytes)) != 0x30 * kBytes || ((x + 0x06 * kBytes) & (0xF0 * kBytes)) != 0x30 * kBytes) {
        return false;
    }
    x -= 0x30 * kBytes;
    x = x * 10 + (x >> 8);  // pairs in bytes 0, 2, 4, 6
    x = ((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
        32;
    *value = x;
    return true;
}

// The value of the `digits` (1 to 8) characters that end at `end`, all
// digits, from the word of the eight bytes before `end` (which the caller
// may read): the bytes before the number count as leading zeros. One word
// whatever the length, so no loop's end is guessed wrong.
bool DigitsEndingAt(const char* end, std::size_t digits, std::uint64_t* value) {
    std::uint64_t x;
    std::memcpy(&x, end - 8, 8);
    std::uint64_t before = digits == 8 ? 0
                                       : ~std::uint64_t{0} >> (8 * digits);  // the lowest 8 - digits bytes
    return EightDigits((x & ~before) | (0x30 * kBytes & before), value);
}

// A run of digits and nothing else, its value modulo 2^32. At least eight
// bytes of the line lie before `token` (a record line's four words and
// their spaces do), so a number of up to sixteen digits is read as one or
// two words that end where it ends.
[[gnu::always_inline]] inline bool ParseNumber(const char* token, std::size_t size, std::int32_t* value) {
    const char* end = token + size;
    std::uint64_t low, high;
    if (size - 1 < 8) {
        if (!DigitsEndingAt(end, size, &low)) return false;
        *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
        return true;
    }
    if (size - 9 < 8) {
        if (!DigitsEndingAt(end, 8, &low) || !DigitsEndingAt(end - 8, size - 8, &high)) return false;
        *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(high * 100000000u + low));
        return true;
    }
    std::uint64_t sum = 0;  // modulo 2^64, of which 2^32 is a factor
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        std::uint64_t eight, word;
        std::memcpy(&word, token + i, 8);
        if (!EightDigits(word, &eight)) return false;
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
