#pragma once

#include <cstddef>
#include <string>

#include "core/MatchResult.h"
#include "core/XmlNode.h"
#include "util/Url.h"

namespace perchlight {

// Result codes of P3PEvaluator::evaluatePolicy.
enum class EvaluationCode : int {
    kEvaluated = 0,           // verdict and facts are in the match result
    kEvaluatedTest = -1,      // as kEvaluated, for a policy marked TEST
    kPolicyNotFound = 6,      // no POLICY with the name asked for
    kMandatoryExtension = 9,  // a mandatory EXTENSION the agent does not know; not evaluated
    kMalformed = 10,          // required structure missing; not evaluated
};

// Evaluates a policy document against an APPEL rule set. Each call parses its own trees, so one
// evaluator may serve several threads.
class P3PEvaluator {
  public:
    // Parses both documents, locates the policy by name, checks it and runs the rule set. Parse
    // failures raise "XML parse error" to the caller. policyUrl is given without fragment.
    EvaluationCode evaluatePolicy(const char* ruleSet, std::size_t ruleSetLength,
                                  const char* policy, std::size_t policyLength,
                                  const Url& policyUrl, const std::string& policyName,
                                  MatchResult& result) const;
    EvaluationCode evaluatePolicy(const std::string& ruleSet, const std::string& policy,
                                  const Url& policyUrl, const std::string& policyName,
                                  MatchResult& result) const;

  private:
    // Finds the POLICY element and gives its DATA elements their categories.
    XmlNodePtr resolveDataReferences(const XmlNodePtr& document, const Url& policyUrl,
                                     const std::string& policyName) const;
    // Gathers what the user is shown about the policy into the result.
    void gatherSummary(const XmlNode& policy, MatchResult& result) const;
};

}  // namespace perchlight
