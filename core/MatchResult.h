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

// One policy element that made a rule's expression match: the group it stands in and its value
// as the policy writes it ("PURPOSE" "telemarketing", "DATA" "#user.name", "CATEGORIES"
// "purchase", "DISPUTES" "court").
struct MatchedElement {
    std::string element;
    std::string value;
    bool operator==(const MatchedElement&) const = default;
};

// Where a fired rule matched: a statement, counted from 1 among the policy's STATEMENT elements
// (0 for the policy's own ACCESS and DISPUTES), the elements in it that matched, and one line of
// plain words ("statement 2: shares purchase data with unrelated companies").
struct StatementReason {
    int statement = 0;
    std::vector<MatchedElement> elements;
    std::string line;
};

// Why one rule fired: its description and every place of the policy that made it fire.
struct FiredRule {
    std::string description;
    std::vector<StatementReason> statements;
};

// The outcome of evaluating one page, embedded item or policy. Copied by value.
struct MatchResult {
    Url requestUri;  // the page or item the result is for
    Url policyUrl;   // the policy evaluated, without fragment once evaluated
    int state = kStateNotEvaluated;
    bool isTest = false;                    // the policy carries a TEST element
    std::string disclosureUri;              // the policy's DISCURI
    std::string optOutUri;                  // the policy's OPTURI
    std::vector<std::string> descriptions;  // DESCRIPTION of each fired rule, in firing order
    std::vector<FiredRule> firedRules;      // one per collected description, in firing order
    std::vector<std::string> impliedCompactTokens;  // what a compact policy of it would say
    std::string compactPolicy;  // the CP field of the page's own P3P header, when one was seen
    PolicySummary summary;      // the policy's digest, filled after the rules ran
};

}  // namespace perchlight
