#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "core/BaseDataSchema.h"
#include "core/DocumentSource.h"
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
// evaluator may serve several threads as far as its document source allows.
class P3PEvaluator {
  public:
    // Fills the digest of an evaluated policy into the result; the presentation layer provides it.
    using DigestStep = std::function<void(const XmlNode& policy, MatchResult& result)>;

    // Resolves against the given base data schema; schemas of other documents come from
    // documents, and cannot be had when it is null. Without a digest step the result carries no
    // digest.
    P3PEvaluator(DocumentSource* documents, BaseDataSchema& baseSchema, DigestStep digest = {});

    // Parses both documents, resolves the policy's data references, checks it, runs the rule set
    // and gathers its summary. Parse failures raise "XML parse error", and a reference that cannot
    // be resolved its wrapped message, to the caller. policyUrl is given without fragment.
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
    DocumentSource* documents_;
    BaseDataSchema* baseSchema_;
    DigestStep digest_;

    // The active rule set is read for every evaluation, and is almost always the same bytes as
    // the time before: their parsed tree, which evaluation only reads, is kept and reused for
    // identical bytes. Parsing the rule set was over half of an evaluation from a warm cache.
    XmlNodePtr parsedRuleSet(const char* ruleSet, std::size_t length) const;
    mutable std::mutex ruleSetLock_;
    mutable std::string ruleSetBytes_;  // guarded by ruleSetLock_
    mutable XmlNodePtr ruleSetTree_;    // guarded by ruleSetLock_
};

}  // namespace perchlight
