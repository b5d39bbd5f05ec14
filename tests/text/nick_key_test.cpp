// The contract both indexes of a table rely on: the B+-tree stores a nick's
// prefix as MakeNickKey makes it and searches with the same numbers, while
// the loader and the checks take IrcPrefix; the hash table finds a nick
// under any spelling IrcCompare finds equal. Exhaustive over every byte at
// every position of nicks up to past one word, next to neighbours at the
// edges of the folded range, since MakeNickKey works a word at a time.
#include "text/nick_key.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "text/case_map.h"

namespace lastspot::text {
namespace {

constexpr std::uint64_t kSeed = 0x243F6A8885A308D3u;
// Neighbours: either side of the folded range 'a'..'~', its partners, a
// digit and the high bytes.
constexpr unsigned char kNeighbours[] = {'0', 'A', 'Z', '`', 'a', 'z', '~', 0x7F, 0x80, 0xFF};
constexpr std::size_t kLongest = 10;  // past one word of eight

std::string NickWith(std::size_t length, unsigned char neighbour, std::size_t at, unsigned char byte) {
    std::string nick(length, static_cast<char>(neighbour));
    nick[at] = static_cast<char>(byte);
    return nick;
}

int Sign(std::int64_t value) { return (value > 0) - (value < 0); }

TEST(NickKey, BothWaysOfTakingAPrefixAgreeOnEveryByteAtEveryPosition) {
    EXPECT_EQ(IrcPrefix(""), MakeNickKey("", kSeed).prefix);
    for (std::size_t length = 1; length <= kLongest; ++length) {
        for (unsigned char neighbour : kNeighbours) {
            for (std::size_t at = 0; at < length; ++at) {
                for (int byte = 1; byte < 256; ++byte) {
                    std::string nick = NickWith(length, neighbour, at, static_cast<unsigned char>(byte));
                    std::uint64_t prefix = IrcPrefix(nick.c_str());
                    ASSERT_EQ(MakeNickKey(nick.c_str(), nick.size(), kSeed).prefix, prefix)
                        << "length " << length << ", byte " << byte << " at " << at << " beside "
                        << +neighbour;
                    ASSERT_EQ(MakeNickKey(nick.c_str(), kSeed).prefix, prefix);
                    // Read whole words past its end, as a stored record's
                    // nick is: what follows must not count.
                    std::string followed = nick + '\0' + std::string(8, static_cast<char>(byte));
                    NickKey overread = MakeNickKeyOverread(followed.c_str(), nick.size(), kSeed);
                    NickKey exact = MakeNickKey(nick.c_str(), nick.size(), kSeed);
                    ASSERT_EQ(overread.prefix, exact.prefix) << "length " << length << ", byte " << byte;
                    ASSERT_EQ(overread.hash, exact.hash) << "length " << length << ", byte " << byte;
                }
            }
        }
    }
}

TEST(NickKey, SpellingsTheCaseRulesFindEqualHaveOneKey) {
    for (std::size_t length = 1; length <= kLongest; ++length) {
        for (unsigned char neighbour : kNeighbours) {
            for (std::size_t at = 0; at < length; ++at) {
                for (int byte = 1; byte < 256; ++byte) {
                    std::string nick = NickWith(length, neighbour, at, static_cast<unsigned char>(byte));
                    std::string upper = NickWith(length, static_cast<unsigned char>(IrcUpperMap[neighbour]),
                                                 at, static_cast<unsigned char>(IrcUpperMap[byte]));
                    ASSERT_EQ(IrcCompare(nick.c_str(), upper.c_str()), 0);
                    NickKey a = MakeNickKey(nick.c_str(), nick.size(), kSeed);
                    NickKey b = MakeNickKey(upper.c_str(), upper.size(), kSeed);
                    ASSERT_EQ(a.hash, b.hash) << "length " << length << ", byte " << byte << " at " << at;
                    ASSERT_EQ(a.prefix, b.prefix);
                }
            }
        }
    }
}

// Prefixes order nicks as IrcCompare does as far as they go: a smaller
// prefix means a nick that sorts first, and a nick that sorts first never
// has a larger prefix. Every pair of bytes at every position.
TEST(NickKey, PrefixesNeverContradictTheNickOrder) {
    for (std::size_t length = 1; length <= 9; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            for (int x = 1; x < 256; ++x) {
                std::string a = NickWith(length, 'm', at, static_cast<unsigned char>(x));
                std::uint64_t prefixA = IrcPrefix(a.c_str());
                for (int y = 1; y < 256; ++y) {
                    std::string b = NickWith(length, 'm', at, static_cast<unsigned char>(y));
                    std::uint64_t prefixB = IrcPrefix(b.c_str());
                    int order = Sign(IrcCompare(a.c_str(), b.c_str()));
                    if (prefixA != prefixB) {
                        ASSERT_EQ(order, prefixA < prefixB ? -1 : 1) << x << " vs " << y << " at " << at;
                    } else if (at < 8) {
                        ASSERT_EQ(order, 0)
                            << x << " vs " << y << " at " << at << ": the prefix holds the byte";
                    }
                }
            }
        }
    }
    // A nick that is a beginning of another sorts first, its prefix padded
    // with zero bytes below every character.
    EXPECT_LT(IrcPrefix("abc"), IrcPrefix("abc\x01"));
    EXPECT_LT(IrcCompare("abc", "abc\x01"), 0);
}

}  // namespace
}  // namespace lastspot::text
