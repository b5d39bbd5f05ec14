#include "store/seen_file.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "seen/record_line.h"

namespace lastspot::store {

int ComparePrefix(const char* line, const char* prefix) {
    for (; *prefix != '\0'; ++line, ++prefix) {
        if (*line != *prefix) {
            return static_cast<signed char>(*line) < static_cast<signed char>(*prefix) ? -1 : 1;
        }
    }
    return 0;
}

bool ParseStoredRecord(char* line, std::size_t length, seen::RecordFields* fields) {
    return length >= 2 && line[0] == '!' && line[1] == ' ' &&
           seen::ParseRecordFields(line + 2, length - 2, fields) == seen::AddLineResult::Added;
}

namespace {

// Writes `value` in decimal at `out`, without a terminator; returns the
// number of digits. The count comes from the value's bit width (a power of
// two has about 1233/4096 as many decimal digits as bits), set right by one
// comparison; the digits go two at a time from a table of the hundred
// pairs, written where they go, last first.
std::size_t AppendUnsigned(char* out, std::uint32_t value) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    // (The guess is 0 only below 8, which is one digit: 0 included.)
    static constexpr std::uint32_t kPowers[] = {0u,      10u,      100u,      1000u,      10000u,
                                                100000u, 1000000u, 10000000u, 100000000u, 1000000000u};
    auto guess = static_cast<std::size_t>((std::bit_width(value | 1u) * 1233) >>
                                          12);  // digits - 1, or one short
    std::size_t digits = guess + (value >= kPowers[guess] ? 1 : 0);
    char* at = out + digits;
    while (value >= 100) {
        std::uint32_t pair = value % 100;
        value /= 100;
        at -= 2;
        at[0] = kPairs[2 * pair];
        at[1] = kPairs[2 * pair + 1];
    }
    if (value >= 10) {
        out[0] = kPairs[2 * value];
        out[1] = kPairs[2 * value + 1];
    } else {
        out[0] = static_cast<char>('0' + value);
    }
    return digits;
}

// Copies `n` bytes through the C library's memcpy. Knowing that a length
// is below the line limit, the compiler would expand the copy into a string
// instruction whose start-up costs more than a short copy; the empty asm
// hides what it knows of `n`.
inline void CopyBytes(char* to, const char* from, std::size_t n) {
    asm("" : "+r"(n));
    std::memcpy(to, from, n);
}

// Where a record's five strings end, and whether any of them holds CR or
// LF, from one pass over the record a word at a time (its strings end in
// zero bytes up to a whole word). A byte is zero, CR or LF exactly where
// the sum below leaves its bit 7 clear: the sums never carry between bytes.
struct StringEnds {
    const char* end[5];  // each string's NUL
    bool lineBreak;
};

StringEnds FindStringEnds(const seen::SeenRecord& record) {
    static_assert(std::endian::native == std::endian::little, "the lowest byte comes first");
    constexpr std::uint64_t kBytes = 0x0101010101010101u;
    constexpr std::uint64_t kLow = 0x7F * kBytes;
    auto exactly = [](std::uint64_t word, std::uint64_t byte) {
        std::uint64_t x = word ^ (byte * kBytes);
        return ~(((x & kLow) + kLow) | x | kLow);
    };
    // Bytes below 0x10 (NUL, CR and LF among them): the bytes' high halves
    // are zero there. Only a word with such a byte that is no NUL is looked
    // at for CR and LF.
    auto control = [](std::uint64_t word) {
        std::uint64_t high = word & (0xF0 * kBytes);
        return ~(((high & kLow) + kLow) | high | kLow);
    };
    StringEnds ends{};
    int found = 0;
    bool lineBreak = false;
    for (const char* p = record.nick;; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        std::uint64_t nul = exactly(word, 0);
        std::uint64_t lineBreaks = 0;
        if ((control(word) & ~nul) != 0) lineBreaks = exactly(word, '\r') | exactly(word, '\n');
        for (; nul != 0; nul &= nul - 1) {
            const char* at = p + (std::countr_zero(nul) >> 3);
            ends.end[found++] = at;
            if (found == 5) {
                // Only breaks before the text's end count.
                std::uint64_t before = at == p ? 0 : ~std::uint64_t{0} >> (64 - 8 * (at - p));
                ends.lineBreak = lineBreak || (lineBreaks & before) != 0;
                return ends;
            }
        }
        lineBreak = lineBreak || lineBreaks != 0;
    }
}

}  // namespace

std::size_t FormRecordLine(const seen::SeenRecord& record, char* out) {
    // Everything but the text first, so the room left for the text is known.
    StringEnds ends = FindStringEnds(record);
    if (ends.lineBreak) return 0;
    // The four words, back to back with their NULs, in one copy; the NULs
    // then become the spaces between them.
    const char* words = record.nick;
    auto wordsLength = static_cast<std::size_t>(ends.end[3] - words);
    std::size_t used = 2;
    if (used + wordsLength + 1 > kMaxLineLength) return 0;
    out[0] = '!';
    out[1] = ' ';
    CopyBytes(out + used, words, wordsLength);
    for (int i = 0; i < 3; ++i) out[used + static_cast<std::size_t>(ends.end[i] - words)] = ' ';
    used += wordsLength;
    out[used++] = ' ';
    // Both numbers as unsigned 32-bit decimals, at most 10 digits each, so
    // the line still fits `out` before the test below.
    used += AppendUnsigned(out + used, static_cast<std::uint32_t>(record.seenTime));
    out[used++] = ' ';
    used += AppendUnsigned(out + used, static_cast<std::uint32_t>(record.timeSpent));
    out[used++] = ' ';
    if (used > kMaxLineLength) return 0;

    const char* text = ends.end[3] + 1;
    auto textLength = static_cast<std::size_t>(ends.end[4] - text);
    std::size_t room = kMaxLineLength - used;
    if (textLength > room) textLength = room;
    CopyBytes(out + used, text, textLength);
    out[used + textLength] = '\0';
    return used + textLength;
}

}  // namespace lastspot::store
