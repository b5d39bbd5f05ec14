// Fuzzes the wildcard matcher: the first byte gives the pattern's length,
// the pattern follows, and the rest is the text. Every pattern must agree
// with the slow reference matcher, in both modes.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "support/reference_match.h"
#include "text/wild_match.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t patternLength = std::min<std::size_t>(data[0] % 64, size - 1);
    std::string pattern(reinterpret_cast<const char*>(data + 1), patternLength);
    std::string text(reinterpret_cast<const char*>(data + 1 + patternLength),
                     std::min<std::size_t>(size - 1 - patternLength, 256));
    // The matcher sees C strings: both end at their first NUL.
    pattern = pattern.c_str();
    text = text.c_str();

    for (bool exact : {false, true}) {
        bool matched = lastspot::text::WildMatch(pattern.c_str(), text.c_str(), exact);
        if (matched != lastspot::testing::ReferenceMatch(pattern, text, exact)) {
            lastspot::fuzz::Fail("pattern '" + pattern + "' text '" + text + "'" + (exact ? " (exact)" : "") +
                                 ": matcher says " + (matched ? "match" : "no match"));
        }
    }
    return 0;
}
