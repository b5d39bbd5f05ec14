// What the invariant checkers share: how they report a problem, and the
// numbers in their messages. Numbers are written out here rather than with
// std::to_string, whose template instance the standard library marks for
// export: in the shared library it would join the export table.
#pragma once

#include <cstdint>
#include <string>

namespace lastspot::index {

inline std::string Decimal(std::int64_t value) {
    char digits[24];
    int at = sizeof digits;
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                        : static_cast<std::uint64_t>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    return std::string(digits + at, digits + sizeof digits);
}

// Records what a check found wrong in `*problem`; false, so that a check
// can return it.
inline bool Failed(std::string* problem, const std::string& what) {
    *problem = what;
    return false;
}

}  // namespace lastspot::index
