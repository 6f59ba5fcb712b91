#pragma once

#include <string>
#include <vector>

#include "core/PolicyDigest.h"
#include "util/Url.h"

namespace perchlight {

// Evaluation states of a match result: anything but kNoConflict and kConflict counts as not
// evaluated.
inline constexpr int kStateNotEvaluated = -1;
inline constexpr int kStateNoConflict = 0;
inline constexpr int kStateConflict = 1;

// The outcome of evaluating one page, embedded item or policy. Copied by value.
struct MatchResult {
    Url requestUri;  // the page or item the result is for
    Url policyUrl;   // the policy evaluated, without fragment once evaluated
    int state = kStateNotEvaluated;
    bool isTest = false;                    // the policy carries a TEST element
    std::string disclosureUri;              // the policy's DISCURI
    std::string optOutUri;                  // the policy's OPTURI
    std::vector<std::string> descriptions;  // DESCRIPTION of each fired rule, in firing order
    PolicySummary summary;                  // the policy's digest, filled after the rules ran
};

}  // namespace perchlight
