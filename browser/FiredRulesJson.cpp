#include "browser/FiredRulesJson.h"

#include <nlohmann/json.hpp>

#include "core/MatchResult.h"

namespace perchlight {

nlohmann::json firedRulesJson(const MatchResult& result) {
    nlohmann::json rules = nlohmann::json::array();
    for (const FiredRule& rule : result.firedRules) {
        nlohmann::json statements = nlohmann::json::array();
        for (const StatementReason& reason : rule.statements) {
            nlohmann::json elements = nlohmann::json::array();
            for (const MatchedElement& element : reason.elements) {
                elements.push_back({{"element", element.element}, {"value", element.value}});
            }
            statements.push_back(
                {{"statement", reason.statement}, {"line", reason.line}, {"elements", elements}});
        }
        rules.push_back({{"description", rule.description}, {"statements", statements}});
    }
    return rules;
}

}  // namespace perchlight
