#include "text/wild_match.h"

#include "text/case_map.h"

namespace lastspot::text {

namespace {

// Where a wildcard may resume when a later comparison fails: the pattern
// position just after it and the text position it has taken up to.
struct BacktrackPoint {
    const unsigned char* pattern = nullptr;  // nullptr: no point saved
    const unsigned char* text = nullptr;
};

bool SameCharacter(unsigned char a, unsigned char b, bool exact) {
    return exact ? a == b : IrcUpperMap[a] == IrcUpperMap[b];
}

// True when a pattern that is used up while text remains still matches:
// its last character other than "?" is an unescaped "*", which can take the
// rest of the text (the "?" after it have already taken theirs).
bool EndsInOpenStar(const unsigned char* pattern, const unsigned char* end) {
    const unsigned char* last = end - 1;
    while (last > pattern && *last == '?') --last;
    return *last == '*' && (last == pattern || last[-1] != '\\');
}

}  // namespace

// Why it backtracks this way: a matcher that runs once per field of every
// record may not recurse or allocate, so it keeps one way back for "*" and
// one for "%", and only the latest wildcard of each kind can take more text.
// For "*" nothing is lost by that: whatever an earlier "*" would take, the
// latest one can take instead, so the greedy walk gives the same answers as
// trying every way of dividing the text. A "%" cannot take a space, so
// dropping an earlier "%" when a later one sets its point (and every "%"
// when a "*" comes) does lose divisions: '%?%' fails on 'aa '. Scripts
// rely on these exact answers, so the matcher keeps them, and the tests'
// reference matcher replays the same steps rather than a search.
bool WildMatch(const char* patternText, const char* textText, bool exact) {
    if (patternText == nullptr || textText == nullptr) return false;
    const auto* pattern = reinterpret_cast<const unsigned char*>(patternText);
    const auto* p = pattern;                                         // pattern position
    const auto* t = reinterpret_cast<const unsigned char*>(textText);  // text position
    if (*p == 0 || *t == 0) return false;

    BacktrackPoint star;     // the latest "*": may take one more character of any kind
    BacktrackPoint percent;  // the latest "%": may take one more character but a space

    for (;;) {
        // Text used up: only a trailing run of wildcards may remain.
        if (*t == 0) {
            while (*p == '*' || *p == '%') ++p;
            return *p == 0;
        }

        if (*p == 0) {
            if (EndsInOpenStar(pattern, p)) return true;
            // Otherwise the leftover text needs a backtrack (below). Matching
            // the last pattern character again instead would let 'ab' match
            // 'abb', which no user of "*" and "?" expects.
        } else {
            if (*p == '%') {
                while (*p == '%') ++p;
                if (*p != '*') {
                    // The "%" starts by taking nothing; it grows on a mismatch.
                    // At a space it can never grow, so any earlier "%" keeps
                    // its point instead.
                    if (*t != ' ') percent = {p, t};
                    continue;
                }
                // A "*" after the run of "%" takes over the whole run.
            }
            if (*p == '*') {
                while (*p == '*' || *p == '%') ++p;
                star = {p, t};
                percent = {};
                continue;
            }
            if (*p == '?') {
                ++p;
                ++t;
                continue;
            }
            const unsigned char* literal = *p == '\\' ? p + 1 : p;
            // A "\" that ends the pattern makes the terminator the character
            // to compare, which equals no text character.
            if (SameCharacter(*literal, *t, exact)) {
                p = literal + 1;
                ++t;
                continue;
            }
        }

        // Mismatch: let the latest "%" take one more character, else the
        // latest "*", else there is no match.
        if (percent.pattern != nullptr) {
            t = ++percent.text;
            p = percent.pattern;
            if (*t == ' ' || *t == 0) percent = {};
            continue;
        }
        if (star.pattern != nullptr) {
            t = ++star.text;
            p = star.pattern;
            continue;
        }
        return false;
    }
}

}  // namespace lastspot::text
