#include "core/AppelEngine.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "core/PolicyModel.h"
#include "core/ReasonText.h"
#include "core/WildcardMatch.h"

namespace perchlight {
namespace {

constexpr std::string_view kConnectiveKey = "APPEL:CONNECTIVE";

constexpr std::array<std::pair<std::string_view, Connective>, 6> kConnectives = {{
    {"and", Connective::kAnd},
    {"and-exact", Connective::kAndExact},
    {"non-and", Connective::kNonAnd},
    {"non-or", Connective::kNonOr},
    {"or", Connective::kOr},
    {"or-exact", Connective::kOrExact},
}};

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Compares two texts with all white space left out, without copying them.
bool equalIgnoringSpace(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (true) {
        while (i < a.size() && isXmlSpace(a[i])) {
            ++i;
        }
        while (j < b.size() && isXmlSpace(b[j])) {
            ++j;
        }
        if (i == a.size() || j == b.size()) {
            return i == a.size() && j == b.size();
        }
        if (a[i++] != b[j++]) {
            return false;
        }
    }
}

bool namesAgree(const std::string& expression, const std::string& policyElement) {
    return expression == policyElement ||
           (expression.size() == policyElement.size() + 4 && expression.starts_with("P3P:") &&
            std::string_view(expression).substr(4) == policyElement);
}

bool childMatches(const XmlNode& expression, const XmlNode& child, const XmlNode& policyElement,
                  const MatchResult& result) {
    if (expression.name == "APPEL:RULE") {
        return matchExpression(child, policyElement, result);
    }
    if (expression.name == "APPEL:REQUEST-GROUP") {
        return matchRequest(child, result);
    }
    for (const XmlNodePtr& candidate : policyElement.children()) {
        if (matchExpression(child, *candidate, result)) {
            return true;
        }
    }
    return false;
}

// Policy elements whose children are values: a matched child is recorded under the parent's name.
bool holdsValues(const std::string& name) {
    return name == "PURPOSE" || name == "RECIPIENT" || name == "RETENTION" ||
           name == "CATEGORIES" || name == "ACCESS";
}

std::string lowerCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Collects, for one fired rule, the statements and elements its expressions matched. Runs only
// after a rule has fired, so the walk that decides stays as it is.
class RuleExplainer {
  public:
    RuleExplainer(const XmlNode& policy, const MatchResult& result) : result_(result) {
        int index = 0;
        for (const XmlNodePtr& child : policy.children()) {
            if (child->name == "STATEMENT") {
                statementIndex_.emplace_back(child.get(), ++index);
            }
        }
    }

    std::vector<StatementReason> explain(const XmlNode& rule, const XmlNode& policy) {
        for (const XmlNodePtr& expression : rule.children()) {
            if (matchExpression(*expression, policy, result_)) {
                explainMatch(*expression, policy, 0);
            }
        }
        std::sort(reasons_.begin(), reasons_.end(),
                  [](const StatementReason& a, const StatementReason& b) {
                      return a.statement < b.statement;
                  });
        for (StatementReason& reason : reasons_) {
            reason.line = reasonLine(reason);
        }
        return std::move(reasons_);
    }

  private:
    // The expression is known to match the policy element.
    void explainMatch(const XmlNode& expression, const XmlNode& policyElement, int statement) {
        if (expression.name == "APPEL:OTHERWISE" || expression.name == "APPEL:REQUEST-GROUP") {
            return;
        }
        const Connective connective = connectiveOf(expression);
        if (connective == Connective::kNonOr || connective == Connective::kNonAnd) {
            // The rule fired on what is absent: what the policy says there instead is the reason.
            if (holdsValues(policyElement.name)) {
                for (const XmlNodePtr& child : policyElement.children()) {
                    record(statement, policyElement, *child);
                }
            }
            return;
        }
        for (const XmlNodePtr& part : expression.children()) {
            for (const XmlNodePtr& candidate : policyElement.children()) {
                if (!matchExpression(*part, *candidate, result_)) {
                    continue;
                }
                const int inner = candidate->name == "STATEMENT" ? indexOf(*candidate) : statement;
                record(inner, policyElement, *candidate);
                explainMatch(*part, *candidate, inner);
            }
        }
    }

    int indexOf(const XmlNode& statement) const {
        for (const auto& [node, index] : statementIndex_) {
            if (node == &statement) {
                return index;
            }
        }
        return 0;
    }

    void record(int statement, const XmlNode& parent, const XmlNode& element) {
        MatchedElement matched;
        if (holdsValues(parent.name)) {
            matched = {parent.name, lowerCaseAscii(element.name)};
        } else if (element.name == "DATA") {
            const std::string* ref = element.attribute("REF");
            matched = {"DATA", ref ? *ref : std::string()};
        } else if (element.name == "DISPUTES") {
            const std::string* type = element.attribute("RESOLUTION-TYPE");
            matched = {"DISPUTES", type ? *type : std::string()};
        } else if (element.name == "STATEMENT") {
            reasonFor(statement);
            return;
        } else {
            return;
        }
        StatementReason* reason = reasonFor(statement);
        if (!reason) {
            return;
        }
        std::vector<MatchedElement>& elements = reason->elements;
        if (elements.size() < kMaxReasonElements &&
            std::find(elements.begin(), elements.end(), matched) == elements.end()) {
            elements.push_back(std::move(matched));
        }
    }

    // The reason of the statement, or none once kMaxReasonStatements are recorded.
    StatementReason* reasonFor(int statement) {
        for (StatementReason& reason : reasons_) {
            if (reason.statement == statement) {
                return &reason;
            }
        }
        if (reasons_.size() >= kMaxReasonStatements) {
            return nullptr;
        }
        reasons_.push_back({statement, {}, {}});
        return &reasons_.back();
    }

    const MatchResult& result_;
    std::vector<std::pair<const XmlNode*, int>> statementIndex_;
    std::vector<StatementReason> reasons_;
};

void runRules(const XmlNode& ruleSet, const XmlNode& policy, MatchResult& result) {
    result.state = kStateNotEvaluated;
    if (policy.children().empty() || policy.name != "POLICY") {
        return;
    }
    // The site's own policy pages stay reachable whatever the rule set is like.
    if (const std::string* discUri = policy.attribute("DISCURI")) {
        result.disclosureUri = *discUri;
    }
    if (const std::string* optUri = policy.attribute("OPTURI")) {
        result.optOutUri = *optUri;
    }
    if (ruleSet.children().empty() || ruleSet.name != "APPEL:RULESET") {
        return;
    }
    for (const XmlNodePtr& rule : ruleSet.children()) {
        if (!matchExpression(*rule, policy, result)) {
            continue;
        }
        const std::size_t collected = result.descriptions.size();
        if (applyRule(rule->attributes, result) == RuleOutcome::kStop) {
            break;
        }
        if (result.descriptions.size() > collected) {
            result.firedRules.push_back(
                {result.descriptions.back(), RuleExplainer(policy, result).explain(*rule, policy)});
        }
    }
    result.state = result.descriptions.empty() ? kStateNoConflict : kStateConflict;
}

}  // namespace

void evaluateRuleSet(const XmlNodePtr& ruleSet, const XmlNodePtr& policy, MatchResult& result) {
    if (!ruleSet || !policy) {
        result.state = kStateNotEvaluated;
        return;
    }
    applyDefaults(*policy);
    runRules(*ruleSet, *policy, result);
}

bool matchExpression(const XmlNode& expression, const XmlNode& policyElement,
                     const MatchResult& result) {
    if (expression.name == "APPEL:OTHERWISE") {
        return true;
    }
    if (expression.name != "APPEL:RULE" && expression.name != "APPEL:REQUEST-GROUP") {
        if (!namesAgree(expression.name, policyElement.name) ||
            !matchAttributes(expression, policyElement)) {
            return false;
        }
    }
    // Every child is evaluated, even once the outcome is known.
    std::size_t matched = 0;
    for (const XmlNodePtr& child : expression.children()) {
        if (childMatches(expression, *child, policyElement, result)) {
            ++matched;
        }
    }
    const std::size_t unmatched = expression.children().size() - matched;
    const std::size_t policyChildren = policyElement.children().size();
    switch (connectiveOf(expression)) {
        case Connective::kOr:
            return matched > 0;
        case Connective::kAnd:
            return unmatched == 0;
        case Connective::kNonOr:
            return matched == 0;
        case Connective::kNonAnd:
            return unmatched > 0;
        case Connective::kOrExact:
            return matched == policyChildren;
        case Connective::kAndExact:
        case Connective::kUnknown:
            break;
    }
    return matched == expression.children().size() && matched == policyChildren;
}

bool matchAttributes(const XmlNode& expression, const XmlNode& policyElement) {
    for (const auto& [key, value] : expression.attributes) {
        if (key == kConnectiveKey) {
            continue;
        }
        const std::string* policyValue = policyElement.attribute(key);
        if (!policyValue) {
            return false;
        }
        if (wildcardMatch(value, *policyValue)) {
            continue;
        }
        // A rule's data reference also covers everything below it.
        if (expression.name == "P3P:DATA" && key == "REF" &&
            wildcardMatch(value + ".*", *policyValue)) {
            continue;
        }
        return false;
    }
    return equalIgnoringSpace(expression.text, policyElement.text);
}

Connective connectiveOf(const XmlNode& expression) {
    const std::string* value = expression.attribute(std::string(kConnectiveKey));
    if (!value) {
        return Connective::kAnd;
    }
    for (const auto& [text, code] : kConnectives) {
        if (*value == text) {
            return code;
        }
    }
    return Connective::kUnknown;
}

bool matchRequest(const XmlNode& element, const MatchResult& result) {
    if (element.name != "APPEL:REQUEST") {
        return false;
    }
    const std::string* uri = element.attribute("URI");
    return uri && wildcardMatch(*uri, result.requestUri.str());
}

RuleOutcome applyRule(const std::map<std::string, std::string>& ruleAttributes,
                      MatchResult& result) {
    const auto behavior = ruleAttributes.find("BEHAVIOR");
    if (behavior != ruleAttributes.end() && behavior->second == "request") {
        return RuleOutcome::kStop;
    }
    // Attributes are visited in key order, so BEHAVIOR comes before DESCRIPTION: a rule with an
    // unknown behavior records nothing.
    for (const auto& [key, value] : ruleAttributes) {
        if (key == "DESCRIPTION") {
            result.descriptions.push_back(value);
        } else if (key == "BEHAVIOR" && value != "limited" && value != "block") {
            break;
        }
    }
    return RuleOutcome::kContinue;
}

}  // namespace perchlight
