// The two numbers a table's indexes keep of a nick: its prefix, which orders
// nicks as IrcCompare does as far as the first eight characters go, and its
// hash, which agrees with IrcCompare's equality. Both are made in one pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lastspot::text {

// The first eight characters of a text after IrcUpperMap, as one big-endian
// number, padded with zero bytes. Since no character maps to 0, it orders
// texts as IrcCompare does where they differ in the first eight characters:
// IrcCompare(a, b) < 0 gives IrcPrefix(a) <= IrcPrefix(b), and
// IrcPrefix(a) < IrcPrefix(b) gives IrcCompare(a, b) < 0.
std::uint64_t IrcPrefix(const char* text);

struct NickKey {
    std::uint64_t prefix;  // IrcPrefix of the nick
    std::uint64_t hash;    // equal for nicks that IrcCompare finds equal
};

// The nick's prefix and its hash under `seed`. The hash mixes every
// character's upper-case image eight at a time, so it spreads well over all
// 64 bits; a seed of the caller's choosing keeps nicks chosen to collide
// under one seed from colliding under another.
NickKey MakeNickKey(const char* nick, std::uint64_t seed);

// The same for a nick of `length` characters (no NUL among them).
NickKey MakeNickKey(const char* nick, std::size_t length, std::uint64_t seed);

// The same again, for a nick that at least eight more readable bytes follow
// (a stored record's nick: the strings after it and its block's rounding):
// its last word is read whole and cut to the nick, with no branch on the
// nick's length.
NickKey MakeNickKeyOverread(const char* nick, std::size_t length, std::uint64_t seed);

}  // namespace lastspot::text
