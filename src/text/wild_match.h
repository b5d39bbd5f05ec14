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

// Whether `text` matches `pattern`. Constant memory, no allocation, no
// recursion; the work is bounded by the product of the two lengths.
bool WildMatch(const char* pattern, const char* text, bool exact);

}  // namespace lastspot::text
