#include "text/nick_key.h"

#include <bit>
#include <cstring>

#include "text/case_map.h"

namespace lastspot::text {

namespace {

static_assert(std::endian::native == std::endian::little, "words are read least significant byte first");

constexpr std::uint64_t kBytes = 0x0101010101010101u;

// Eight characters at once through IrcUpperMap: each byte from "a" (0x61)
// to "~" (0x7E) loses 0x20, every other byte stays. The sums stay inside
// their bytes (every byte is below 0x80 when added to), so bit 7 of each
// says how the byte compares.
inline std::uint64_t UpperWord(std::uint64_t x) {
    std::uint64_t high = x & (0x80 * kBytes);
    std::uint64_t low = x & (0x7F * kBytes);
    std::uint64_t atLeastA = low + (0x80 - 0x61) * kBytes;
    std::uint64_t aboveTilde = low + (0x80 - 0x7F) * kBytes;
    std::uint64_t fold = atLeastA & ~aboveTilde & ~high & (0x80 * kBytes);
    return x - (fold >> 2);
}

// One round of the mixer: multiply by an odd constant (the golden ratio's
// bits) and fold the high half down, so every input bit reaches every
// output bit within two rounds.
inline std::uint64_t Mix(std::uint64_t x) {
    x *= 0x9E3779B97F4A7C15u;
    return x ^ (x >> 31);
}

// The word of up to eight characters at `p`, zero-padded. A short one is
// put together in a register from pieces read where they lie: copied to
// memory first and read back as a whole, it would wait for the copy.
inline std::uint64_t Word(const char* p, std::size_t n) {
    std::uint64_t word = 0;
    if (n >= 8) {
        std::memcpy(&word, p, 8);
        return word;
    }
    int shift = 0;
    if (n & 4) {
        std::uint32_t piece;
        std::memcpy(&piece, p, 4);
        word = piece;
        p += 4;
        shift = 32;
    }
    if (n & 2) {
        std::uint16_t piece;
        std::memcpy(&piece, p, 2);
        word |= std::uint64_t{piece} << shift;
        p += 2;
        shift += 16;
    }
    if (n & 1) word |= std::uint64_t{static_cast<unsigned char>(*p)} << shift;
    return word;
}

}  // namespace

static_assert(IrcUpperMap['a'] == 'A' && IrcUpperMap['~'] == '^' && IrcUpperMap['`'] == '`');

std::uint64_t IrcPrefix(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::uint64_t prefix = 0;
    int taken = 0;
    for (; taken < 8 && p[taken] != 0; ++taken) prefix = prefix << 8 | IrcUpperMap[p[taken]];
    return taken == 0 ? 0 : prefix << (8 * (8 - taken));
}

// Both keys of a nick whose words `word(at, left)` gives, zero-padded.
template <typename WordAt>
[[gnu::always_inline]] inline NickKey KeyOfWords(std::size_t length, std::uint64_t seed, WordAt word) {
    std::uint64_t hash = Mix(seed ^ 0x5851F42D4C957F2Du ^ length);
    std::uint64_t first = UpperWord(word(0, length));
    hash = Mix(hash ^ first);
    for (std::size_t at = 8; at < length; at += 8) hash = Mix(hash ^ UpperWord(word(at, length - at)));
    hash ^= hash >> 29;
    // The prefix reads the first word's bytes first to last.
    return {__builtin_bswap64(first), hash};
}

NickKey MakeNickKey(const char* nick, std::size_t length, std::uint64_t seed) {
    return KeyOfWords(length, seed,
                      [nick](std::size_t at, std::size_t left) { return Word(nick + at, left); });
}

NickKey MakeNickKeyOverread(const char* nick, std::size_t length, std::uint64_t seed) {
    return KeyOfWords(length, seed, [nick](std::size_t at, std::size_t left) {
        std::uint64_t word;
        std::memcpy(&word, nick + at, 8);
        return left >= 8 ? word : word & ~(~std::uint64_t{0} << (8 * left));
    });
}

NickKey MakeNickKey(const char* nick, std::uint64_t seed) {
    return MakeNickKey(nick, std::strlen(nick), seed);
}

}  // namespace lastspot::text
