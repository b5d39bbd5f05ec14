// IRC case rules: the RFC 1459 case mapping as IRC servers apply it, and the
// comparison and hash built on it. Nicks, table names and option words are
// compared through these and nothing else; no locale or code page is ever
// consulted, and every byte is taken as unsigned.
#pragma once

#include <array>
#include <cstdint>

namespace lastspot::text {

using CaseMap = std::array<unsigned char, 256>;

namespace detail {

// The 30 folded pairs: "A".."Z" with "a".."z", and "[", "\", "]", "^" with
// "{", "|", "}", "~". Both tables fold exactly these pairs, so two bytes have
// the same upper-case image exactly when they have the same lower-case one.
constexpr CaseMap BuildCaseMap(int from, int to) {
    CaseMap map{};
    for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 30; ++i) map[from + i] = static_cast<unsigned char>(to + i);
    return map;
}

}  // namespace detail

// Byte to its lower-case partner: 65..94 ("A".."^") to 97..126 ("a".."~").
inline constexpr CaseMap IrcLowerMap = detail::BuildCaseMap('A', 'a');
// Byte to its upper-case partner: 97..126 ("a".."~") to 65..94 ("A".."^").
inline constexpr CaseMap IrcUpperMap = detail::BuildCaseMap('a', 'A');

static_assert(IrcUpperMap['{'] == '[' && IrcUpperMap['|'] == '\\' && IrcUpperMap['}'] == ']');
static_assert(IrcUpperMap['~'] == '^' && IrcLowerMap['^'] == '~' && IrcLowerMap['Z'] == 'z');
static_assert(IrcUpperMap['@'] == '@' && IrcUpperMap['_'] == '_' && IrcUpperMap['`'] == '`');
static_assert(IrcLowerMap['@'] == '@' && IrcLowerMap['_'] == '_' && IrcLowerMap['`'] == '`');
static_assert(IrcUpperMap[0] == 0 && IrcLowerMap[0] == 0);
static_assert(IrcUpperMap[127] == 127 && IrcUpperMap[200] == 200 && IrcLowerMap[255] == 255);

// The upper-case image of one character, 0..255.
inline int IrcToUpper(char c) { return IrcUpperMap[static_cast<unsigned char>(c)]; }

// Orders two texts as their bytes after mapping to upper case: negative when
// `left` sorts first, 0 when the two are equal under the case rules,
// positive when `right` sorts first. The value is the difference of the
// mapped bytes where they first differ (-255..255); a proper prefix sorts
// first. Both texts must be non-null.
inline int IrcCompare(const char* left, const char* right) {
    const auto* l = reinterpret_cast<const unsigned char*>(left);
    const auto* r = reinterpret_cast<const unsigned char*>(right);
    for (;; ++l, ++r) {
        int a = IrcUpperMap[*l];
        int b = IrcUpperMap[*r];
        if (a != b) return a - b;
        if (*l == 0) return 0;
    }
}

// A 32-bit hash that agrees with IrcCompare's equality: h = h * 33 + the
// lower-case image of each byte, wrapping modulo 2^32. The empty text hashes
// to 0. `text` must be non-null.
std::uint32_t IrcHash(const char* text);

}  // namespace lastspot::text
