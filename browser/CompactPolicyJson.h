#pragma once

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <vector>

#include "core/MatchResult.h"

#include "core/CompactPolicy.h"
#include "retrieval/Globals.h"

namespace perchlight {

// What a compact policy claims against the result's full policy; nothing unless that policy was
// evaluated, or when the compact policy has no tokens to compare.
std::vector<CompactMismatch> compactMismatches(const CompactPolicy& compact,
                                               const MatchResult& result);

// The result a response's compact policy is compared with: the one of the policy that covers
// that response, none when it has none or it was not evaluated.
using CoveringResult = std::function<std::optional<MatchResult>(const Url&)>;

// The compact policy of each P3P header seen that has one, as data, for the command line's
// --json and the native host's page reply: [{url, header, cp, valid, cp_problems: [{class, token,
// text, [other]}], cp_mismatches: [{class, token, text}]}].
nlohmann::json compactPoliciesJson(const std::vector<SeenP3PHeader>& seen,
                                   const CoveringResult& covering);

}  // namespace perchlight
