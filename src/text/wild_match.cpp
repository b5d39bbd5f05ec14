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

// The matcher's place: where it is in the pattern and the text, and its two
// ways back.
struct Walk {
    const unsigned char* p;  // pattern position
    const unsigned char* t;  // text position
    BacktrackPoint star;     // the latest "*": may take one more character of any kind
    BacktrackPoint percent;  // the latest "%": may take one more character but a space
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

// At a "%" or "*" in the pattern: takes the run of wildcards there, which
// starts by taking no text, and saves the way back it opens.
void TakeWildcards(Walk* walk) {
    if (*walk->p == '%') {
        while (*walk->p == '%') ++walk->p;
        if (*walk->p != '*') {
            // The "%" grows on a mismatch. At a space it can never grow, so
            // any earlier "%" keeps its point instead.
            if (*walk->t != ' ') walk->percent = {walk->p, walk->t};
            return;
        }
        // A "*" after the run of "%" takes over the whole run.
    }
    while (*walk->p == '*' || *walk->p == '%') ++walk->p;
    walk->star = {walk->p, walk->t};
    walk->percent = {};
}

// After a mismatch: lets the latest "%" take one more character, else the
// latest "*"; false when neither can.
bool Backtrack(Walk* walk) {
    if (walk->percent.pattern != nullptr) {
        walk->t = ++walk->percent.text;
        walk->p = walk->percent.pattern;
        if (*walk->t == ' ' || *walk->t == 0) walk->percent = {};
        return true;
    }
    if (walk->star.pattern != nullptr) {
        walk->t = ++walk->star.text;
        walk->p = walk->star.pattern;
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
    Walk walk{pattern, reinterpret_cast<const unsigned char*>(textText), {}, {}};
    if (*walk.p == 0 || *walk.t == 0) return false;

    for (;;) {
        // Text used up: only a trailing run of wildcards may remain.
        if (*walk.t == 0) {
            while (*walk.p == '*' || *walk.p == '%') ++walk.p;
            return *walk.p == 0;
        }

        if (*walk.p == 0) {
            if (EndsInOpenStar(pattern, walk.p)) return true;
            // Otherwise the leftover text needs a backtrack (below). Matching
            // the last pattern character again instead would let 'ab' match
            // 'abb', which no user of "*" and "?" expects.
        } else if (*walk.p == '%' || *walk.p == '*') {
            TakeWildcards(&walk);
            continue;
        } else if (*walk.p == '?') {
            ++walk.p;
            ++walk.t;
            continue;
        } else {
            const unsigned char* literal = *walk.p == '\\' ? walk.p + 1 : walk.p;
            // A "\" that ends the pattern makes the terminator the character
            // to compare, which equals no text character.
            if (SameCharacter(*literal, *walk.t, exact)) {
                walk.p = literal + 1;
                ++walk.t;
                continue;
            }
        }

        if (!Backtrack(&walk)) return false;
    }
}

}  // namespace lastspot::text
