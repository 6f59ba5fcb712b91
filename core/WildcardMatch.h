#pragma once

#include <cstdint>
#include <string_view>

namespace perchlight {

// Whole-text match: "*" matches any run of bytes (also none), "?" exactly one byte, every other
// byte itself, case-sensitive, no escapes. Patterns come from web sites, so the cost is bounded by
// O(text length x pattern length) whatever the pattern.
bool wildcardMatch(std::string_view pattern, std::string_view text);

// wildcardMatch that spends one unit of the allowance per byte comparison; false once the
// allowance is spent (it is then 0), so many matches together stay within one allowance.
bool wildcardMatch(std::string_view pattern, std::string_view text, std::uint64_t& allowance);

}  // namespace perchlight
