#include "core/WildcardMatch.h"

#include <cstddef>
#include <limits>

namespace perchlight {

// Greedy matching with one backtrack point: on a mismatch only the latest "*" is widened. An
// earlier "*" never needs widening, because whatever it could absorb the latest one absorbs too.
// Each turn of the loop costs one step of the allowance.
bool wildcardMatch(std::string_view pattern, std::string_view text, std::uint64_t& allowance) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starPattern = kNone;  // position after the latest "*"
    std::size_t starText = 0;         // text position that "*" currently stops before
    if (allowance == 0) {
        return false;
    }
    while (t < text.size()) {
        if (--allowance == 0) {
            return false;
        }
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

bool wildcardMatch(std::string_view pattern, std::string_view text) {
    std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();
    return wildcardMatch(pattern, text, unlimited);
}

}  // namespace perchlight
