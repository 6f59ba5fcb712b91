#include "browser/CompactPolicyJson.h"

#include <nlohmann/json.hpp>

namespace perchlight {

std::vector<CompactMismatch> compactMismatches(const CompactPolicy& compact,
                                               const MatchResult& result) {
    if (result.state == kStateNotEvaluated || compact.tokens.empty()) {
        return {};
    }
    return compareCompactPolicy(compact, result.impliedCompactTokens);
}

nlohmann::json compactPoliciesJson(const std::vector<SeenP3PHeader>& seen,
                                   const CoveringResult& covering) {
    nlohmann::json all = nlohmann::json::array();
    for (const SeenP3PHeader& one : seen) {
        const std::optional<std::string> field = compactPolicyField(one.value);
        if (!field) {
            continue;
        }
        const CompactPolicy compact = parseCompactPolicy(*field);
        nlohmann::json problems = nlohmann::json::array();
        for (const CompactProblem& problem : compact.problems) {
            problems.push_back({{"class", compactProblemClass(problem.kind)},
                                {"token", problem.token},
                                {"text", compactProblemText(problem)}});
            if (!problem.other.empty()) {
                problems.back()["other"] = problem.other;
            }
        }
        nlohmann::json mismatches = nlohmann::json::array();
        const std::optional<MatchResult> result = covering(one.url);
        for (const CompactMismatch& mismatch :
             result ? compactMismatches(compact, *result) : std::vector<CompactMismatch>()) {
            mismatches.push_back(
                {{"class",
                  mismatch.kind == CompactMismatch::Kind::kUnsupported ? "unsupported" : "omitted"},
                 {"token", mismatch.token},
                 {"text", mismatch.text}});
        }
        all.push_back({{"url", one.url.str()},
                       {"header", one.value},
                       {"cp", compact.text},
                       {"valid", compact.valid()},
                       {"cp_problems", problems},
                       {"cp_mismatches", mismatches}});
    }
    return all;
}

}  // namespace perchlight
