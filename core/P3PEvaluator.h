#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
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

// Evaluates a policy document against an APPEL rule set. One evaluator may serve several threads
// as far as its document source allows: the trees it keeps for later calls (below) are only read.
class P3PEvaluator {
  public:
    // Resolved policies kept for the next evaluation of the same bytes at the same address, and
    // the largest policy document kept.
    static constexpr std::size_t kKeptPolicies = 32;
    static constexpr std::size_t kMaxKeptPolicyBytes = 64 * 1024;

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
    // A policy document parsed and resolved: the POLICY element (none when the document has no
    // such policy), and the document that holds it.
    struct ResolvedPolicy {
        std::string bytes;
        std::string url;  // without fragment
        std::string name;
        std::shared_ptr<const DataSchema> base;
        XmlNodePtr document;
        XmlNodePtr policy;
    };
    // Parses the document, finds the POLICY element and gives its DATA elements their
    // categories. Many sites embed the same few third parties, so a survey evaluates the same
    // policy documents over and over: a resolution that read no other document depends on
    // nothing but its inputs, and its trees are kept and reused for identical inputs.
    std::shared_ptr<const ResolvedPolicy> resolvedPolicy(const char* policy, std::size_t length,
                                                         const Url& policyUrl,
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
    mutable std::mutex resolvedLock_;
    // Most recently used first, at most kKeptPolicies; guarded by resolvedLock_.
    mutable std::list<std::shared_ptr<const ResolvedPolicy>> resolved_;
};

}  // namespace perchlight
