// A slow, plain wildcard matcher, the reference the library's matcher is
// tested and fuzzed against, and the one the seen-table model matches with.
#pragma once

#include <string>
#include <vector>

namespace lastspot::testing {

// Replays the steps that define the matcher, on the pattern first cut into
// elements (so escapes and runs of wildcards are settled before the loop):
// a run of "*" and "%" holding a "*" is one Star, a run of "%" one Percent,
// "\" and the next character one Literal, a "\" that ends the pattern one
// Nothing. Only the latest Star and the latest Percent that set a point can
// take more text; a Percent that sets its point replaces the earlier one,
// a Star clears it, and a Percent never takes a space. A pattern used up
// while text remains goes straight to the backtrack, as the library's does.
//
// A pattern is cut once (ReferencePattern) and matched against any number of
// texts; the model matches every record of a table with each query's three.
struct ReferencePattern {
    enum Kind { Star, Percent, Any, Literal, Nothing };
    struct Element {
        Kind kind;
        char c;
    };
    std::vector<Element> elements;  // none: the empty pattern, which matches nothing
};

inline ReferencePattern CutPattern(const std::string& pattern) {
    using Kind = ReferencePattern::Kind;
    std::vector<ReferencePattern::Element> elements;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '*' || c == '%') {
            bool star = false;
            for (; i < pattern.size() && (pattern[i] == '*' || pattern[i] == '%'); ++i) {
                star = star || pattern[i] == '*';
            }
            --i;
            elements.push_back({star ? Kind::Star : Kind::Percent, 0});
        } else if (c == '?') {
            elements.push_back({Kind::Any, 0});
        } else if (c != '\\') {
            elements.push_back({Kind::Literal, c});
        } else if (i + 1 < pattern.size()) {
            elements.push_back({Kind::Literal, pattern[++i]});
        } else {
            elements.push_back({Kind::Nothing, 0});
        }
    }
    return {elements};
}

inline bool ReferenceMatch(const ReferencePattern& cut, const std::string& text, bool exact = false) {
    using P = ReferencePattern;
    const auto& elements = cut.elements;
    if (elements.empty() || text.empty()) return false;
    auto fold = [exact](char c) {
        auto u = static_cast<unsigned char>(c);
        return !exact && u >= 'a' && u <= '~' ? u - 32 : u;
    };
    struct Point {
        bool set = false;
        std::size_t element = 0, at = 0;
    };
    Point star, percent;
    std::size_t e = 0, t = 0;  // the element to match next, the text position
    for (;;) {
        if (t == text.size()) {  // only wildcards may remain, with no way back
            while (e < elements.size() && (elements[e].kind == P::Star || elements[e].kind == P::Percent))
                ++e;
            return e == elements.size();
        }
        if (e < elements.size()) {
            const P::Element& element = elements[e];
            if (element.kind == P::Percent) {  // takes nothing for now; at a space never more
                if (text[t] != ' ') percent = {true, e + 1, t};
                ++e;
                continue;
            }
            if (element.kind == P::Star) {
                star = {true, e + 1, t};
                percent = {};
                ++e;
                continue;
            }
            if (element.kind == P::Any || (element.kind == P::Literal && fold(element.c) == fold(text[t]))) {
                ++e;
                ++t;
                continue;
            }
        }
        // Mismatch: the latest Percent takes one more character, else the
        // latest Star does, else there is no match.
        Point& back = percent.set ? percent : star;
        if (!back.set) return false;
        e = back.element;
        t = ++back.at;
        if (&back == &percent && (t == text.size() || text[t] == ' ')) percent = {};
    }
}

inline bool ReferenceMatch(const std::string& pattern, const std::string& text, bool exact = false) {
    return ReferenceMatch(CutPattern(pattern), text, exact);
}

}  // namespace lastspot::testing
