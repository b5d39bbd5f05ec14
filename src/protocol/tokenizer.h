// Cutting a command's argument line into tokens, in place, and the decimal
// number checks every command shares.
#pragma once

#include <cstdint>

namespace lastspot::protocol {

// The next space-separated token of the line at `*cursor`. Spaces are the
// byte 32 only. The space that ends the token is overwritten with a NUL,
// and `*cursor` is left at the rest of the line with its leading spaces
// skipped (inner and trailing spaces kept), so free text after the last
// token can be taken from it unchanged. At the end of the line the token is
// the empty string, again on every further call.
char* NextToken(char** cursor);

// True when `token` is a non-empty run of the digits 0-9 and nothing else
// (no sign, no space).
bool IsDecimal(const char* token);

// The value of the leading digits of `token` (value * 10 + digit, stopping
// at the first non-digit), wrapping modulo 2^32 without any overflow check.
std::uint32_t ParseDecimal(const char* token);

}  // namespace lastspot::protocol
