// Wildcard matching of a text against an IRC-style pattern.
//
//   *   any run of characters, empty or not, spaces included
//   ?   exactly one character
//   %   any run of characters that holds no space (byte 32), empty included
//   \   the next pattern character is an ordinary one
//
// Every other pattern character matches one text character equal to it:
// under the IRC case rules, or byte for byte in the exact mode. An empty or
// null text or pattern matches nothing, not even "*".
#pragma once

namespace lastspot::text {

// 0 when `text` does not match `pattern`; otherwise the tally of the match:
// 1 plus the number of ordinary characters compared equal on the path that
// succeeded (always at least 1). Callers only test it for zero. Constant
// memory, no allocation, no recursion.
int WildMatch(const char* pattern, const char* text, bool exact);

// 1 when `text` matches `pattern` under the IRC case rules, else 0.
int IsWildMatch(const char* pattern, const char* text);

}  // namespace lastspot::text
