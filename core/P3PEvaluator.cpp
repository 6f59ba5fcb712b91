#include "core/P3PEvaluator.h"

#include <string_view>
#include <utility>

#include "core/AppelEngine.h"
#include "core/CompactPolicy.h"
#include "core/DataReferenceResolver.h"
#include "core/PolicyModel.h"

namespace perchlight {
namespace {

// A policy that is not evaluated still lets the user open the site's own policy page.
void keepDisclosureUri(const XmlNode& policy, MatchResult& result) {
    if (policy.name != "POLICY") {
        return;
    }
    if (const std::string* discUri = policy.attribute("DISCURI")) {
        result.disclosureUri = *discUri;
    }
}

}  // namespace

P3PEvaluator::P3PEvaluator(DocumentSource* documents, BaseDataSchema& baseSchema, DigestStep digest)
    : documents_(documents), baseSchema_(&baseSchema), digest_(std::move(digest)) {}

EvaluationCode P3PEvaluator::evaluatePolicy(const std::string& ruleSet, const std::string& policy,
                                            const Url& policyUrl, const std::string& policyName,
                                            MatchResult& result) const {
    return evaluatePolicy(ruleSet.data(), ruleSet.size(), policy.data(), policy.size(), policyUrl,
                          policyName, result);
}

EvaluationCode P3PEvaluator::evaluatePolicy(const char* ruleSet, std::size_t ruleSetLength,
                                            const char* policy, std::size_t policyLength,
                                            const Url& policyUrl, const std::string& policyName,
                                            MatchResult& result) const {
    const XmlNodePtr ruleSetRoot = parsedRuleSet(ruleSet, ruleSetLength);
    const XmlNodePtr document = XmlNode::parseXmlBuffer(policy, policyLength);

    const XmlNodePtr policyElement = resolveDataReferences(document, policyUrl, policyName);
    if (!policyElement) {
        return EvaluationCode::kPolicyNotFound;
    }
    if (isPolicyMalformed(*policyElement)) {
        keepDisclosureUri(*policyElement, result);
        return EvaluationCode::kMalformed;
    }
    if (hasMandatoryExtension(*policyElement)) {
        keepDisclosureUri(*policyElement, result);
        return EvaluationCode::kMandatoryExtension;
    }
    evaluateRuleSet(ruleSetRoot, policyElement, result);
    result.isTest = policyElement->hasChild("TEST");
    result.impliedCompactTokens = impliedCompactTokens(*policyElement);
    if (digest_) {
        digest_(*policyElement, result);
    }
    result.policyUrl = policyUrl.withoutFragment();
    return result.isTest ? EvaluationCode::kEvaluatedTest : EvaluationCode::kEvaluated;
}

XmlNodePtr P3PEvaluator::parsedRuleSet(const char* ruleSet, std::size_t length) const {
    const std::string_view bytes(ruleSet, length);
    {
        std::lock_guard<std::mutex> guard(ruleSetLock_);
        if (ruleSetTree_ && bytes == ruleSetBytes_) {
            return ruleSetTree_;
        }
    }
    XmlNodePtr tree = XmlNode::parseXmlBuffer(ruleSet, length);
    std::lock_guard<std::mutex> guard(ruleSetLock_);
    ruleSetBytes_.assign(bytes);
    ruleSetTree_ = tree;
    return tree;
}

XmlNodePtr P3PEvaluator::resolveDataReferences(const XmlNodePtr& document, const Url& policyUrl,
                                               const std::string& policyName) const {
    return DataReferenceResolver(*baseSchema_, documents_).resolve(document, policyUrl, policyName);
}

}  // namespace perchlight
