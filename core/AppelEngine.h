#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "core/MatchResult.h"
#include "core/XmlNode.h"

namespace perchlight {

// How the children of an APPEL expression combine. Unknown values evaluate as kAndExact.
enum class Connective {
    kUnknown = 0,
    kOr = 1,
    kAnd = 2,
    kNonOr = 5,
    kNonAnd = 6,
    kOrExact = 9,
    kAndExact = 10
};

enum class RuleOutcome { kStop, kContinue };

// Bounds on the reasons recorded for one fired rule: a policy of thousands of statements would
// otherwise give every fired rule a list as long as itself. The first statements and the first
// elements of each are kept; the verdict does not depend on them.
inline constexpr std::size_t kMaxReasonStatements = 64;
inline constexpr std::size_t kMaxReasonElements = 32;

// Runs an APPEL rule set over a POLICY element: fills in default attributes, then fires every
// matching rule up to the first fired "request" rule, collecting descriptions. The state becomes
// 1 when a description was collected, 0 when none, -1 when rule set or policy is unusable.
// Stateless; each call works on its own policy tree and result.
void evaluateRuleSet(const XmlNodePtr& ruleSet, const XmlNodePtr& policy, MatchResult& result);

// True when the expression matches the policy element (recursive).
bool matchExpression(const XmlNode& expression, const XmlNode& policyElement,
                     const MatchResult& result);
// True when the expression's attributes and text agree with the policy element's.
bool matchAttributes(const XmlNode& expression, const XmlNode& policyElement);
Connective connectiveOf(const XmlNode& expression);
// True for an APPEL:REQUEST whose URI pattern matches the result's request URI.
bool matchRequest(const XmlNode& element, const MatchResult& result);
// Records a fired rule; kStop for behavior "request".
RuleOutcome applyRule(const std::map<std::string, std::string>& ruleAttributes,
                      MatchResult& result);

}  // namespace perchlight
