#pragma once

#include <string_view>

namespace perchlight {

// Whole-text match: "*" matches any run of bytes (also none), "?" exactly one byte, every other
// byte itself, case-sensitive, no escapes. Patterns come from web sites, so the cost is bounded by
// O(text length x pattern length) whatever the pattern.
bool wildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace perchlight
