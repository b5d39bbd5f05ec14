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

// Where a match stands: the pattern and text positions and the two ways back.
struct MatchState {
    const unsigned char* pattern;  // the pattern's start
    const unsigned char* p;        // pattern position
    const unsigned char* t;        // text position
    BacktrackPoint star;           // the latest "*": may take one more character of any kind
    BacktrackPoint percent;        // the latest "%": may take one more character but a space
};

// Takes the wildcard or the character at the pattern position (which is not
// the pattern's end) against the text's (which is not the text's end): true
// when the match goes on, false on a mismatch.
inline bool TakeNext(MatchState& m, bool exact) {
    if (*m.p == '%') {
        while (*m.p == '%') ++m.p;
        if (*m.p != '*') {
            // The "%" starts by taking nothing; it grows on a mismatch. At a
            // space it can never grow, so any earlier "%" keeps its point
            // instead.
            if (*m.t != ' ') m.percent = {m.p, m.t};
            return true;
        }
        // A "*" after the run of "%" takes over the whole run.
    }
    if (*m.p == '*') {
        while (*m.p == '*' || *m.p == '%') ++m.p;
        m.star = {m.p, m.t};
        m.percent = {};
        return true;
    }
    if (*m.p == '?') {
        ++m.p;
        ++m.t;
        return true;
    }
    const unsigned char* literal = *m.p == '\\' ? m.p + 1 : m.p;
    // A "\" that ends the pattern makes the terminator the character to
    // compare, which equals no text character.
    if (!SameCharacter(*literal, *m.t, exact)) return false;
    m.p = literal + 1;
    ++m.t;
    return true;
}

// After a mismatch: lets the latest "%" take one more character, else the
// latest "*"; false when there is neither, and no match.
inline bool Backtrack(MatchState& m) {
    if (m.percent.pattern != nullptr) {
        m.t = ++m.percent.text;
        m.p = m.percent.pattern;
        if (*m.t == ' ' || *m.t == 0) m.percent = {};
        return true;
    }
    if (m.star.pattern != nullptr) {
        m.t = ++m.star.text;
        m.p = m.star.pattern;
        return true;
    }
    return false;
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
    MatchState m{pattern, pattern, reinterpret_cast<const unsigned char*>(textText), {}, {}};
    if (*m.p == 0 || *m.t == 0) return false;
    for (;;) {
        // Text used up: only a trailing run of wildcards may remain.
        if (*m.t == 0) {
            while (*m.p == '*' || *m.p == '%') ++m.p;
            return *m.p == 0;
        }
        if (*m.p == 0) {
            if (EndsInOpenStar(m.pattern, m.p)) return true;
            // Otherwise the leftover text needs a backtrack. Matching the
            // last pattern character again instead would let 'ab' match
            // 'abb', which no user of "*" and "?" expects.
        } else if (TakeNext(m, exact)) {
            continue;
        }
        if (!Backtrack(m)) return false;
    }
}

}  // namespace lastspot::text
