#include "core/WildcardMatch.h"

#include <cstddef>

namespace perchlight {

// Greedy matching with one backtrack point: on a mismatch only the latest "*" is widened. An
// earlier "*" never needs widening, because whatever it could absorb the latest one absorbs too.
bool wildcardMatch(std::string_view pattern, std::string_view text) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starPattern = kNone;  // position after the latest "*"
    std::size_t starText = 0;         // text position that "*" currently stops before
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starText = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starPattern != kNone) {
            p = starPattern;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace perchlight
