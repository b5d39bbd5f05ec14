// A slow, obviously correct wildcard matcher for patterns without "%", the
// reference the matcher is tested and fuzzed against.
#pragma once

#include <string>
#include <vector>

namespace lastspot::testing {

// A slow, obviously correct matcher for patterns without "%": the pattern
// becomes a list of elements, and a table says which prefix of the pattern
// matches which prefix of the text.
inline bool ReferenceMatch(const std::string& pattern, const std::string& text) {
    if (pattern.empty() || text.empty()) return false;
    enum Kind { Star, Any, Literal, Nothing };
    struct Element {
        Kind kind;
        char c;
    };
    std::vector<Element> elements;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '*') elements.push_back({Star, 0});
        else if (c == '?') elements.push_back({Any, 0});
        else if (c != '\\') elements.push_back({Literal, c});
        else if (i + 1 < pattern.size()) elements.push_back({Literal, pattern[++i]});
        else elements.push_back({Nothing, 0});
    }
    auto fold = [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= '~' ? u - 32 : u;
    };
    std::size_t n = elements.size(), m = text.size();
    // reach[i][j]: the first i elements match the first j characters.
    std::vector<std::vector<bool>> reach(n + 1, std::vector<bool>(m + 1, false));
    reach[0][0] = true;
    for (std::size_t i = 1; i <= n; ++i) {
        const Element& e = elements[i - 1];
        for (std::size_t j = 0; j <= m; ++j) {
            if (e.kind == Star) {
                reach[i][j] = reach[i - 1][j] || (j > 0 && reach[i][j - 1]);
            } else if (j > 0) {
                bool one = e.kind == Any || (e.kind == Literal && fold(e.c) == fold(text[j - 1]));
                reach[i][j] = one && reach[i - 1][j - 1];
            }
        }
    }
    return reach[n][m];
}

}  // namespace lastspot::testing
