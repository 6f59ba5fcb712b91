#pragma once

#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "browser/CompactPolicyJson.h"
#include "browser/FiredRulesJson.h"
#include "retrieval/Globals.h"

namespace perchlight {
struct MatchResult;
}

namespace perchlight::cli {

// Prints the descriptions of the fired rules, one per line; with why, under each the statements
// that made it fire and their matched elements.
void printDescriptions(std::ostream& out, const MatchResult& result, bool why);

// Prints the compact policy of each P3P header that has one, with its problems and, against the
// full policy that covers its response, its mismatches; nothing when there is none.
void printCompactPolicies(std::ostream& out, const std::vector<SeenP3PHeader>& seen,
                          const CoveringResult& covering);

}  // namespace perchlight::cli
