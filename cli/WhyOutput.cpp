#include "cli/WhyOutput.h"

#include <nlohmann/json.hpp>

#include <ostream>

#include "core/CompactPolicy.h"
#include "core/MatchResult.h"

namespace perchlight::cli {

void printDescriptions(std::ostream& out, const MatchResult& result, bool why) {
    if (!why || result.firedRules.empty()) {
        for (const std::string& description : result.descriptions) {
            out << "  - " << description << "\n";
        }
        return;
    }
    for (const FiredRule& rule : result.firedRules) {
        out << "  - " << rule.description << "\n";
        for (const StatementReason& reason : rule.statements) {
            out << "      " << reason.line << "\n";
            for (const MatchedElement& element : reason.elements) {
                out << "        " << element.element << " " << element.value << "\n";
            }
        }
    }
}

namespace {

struct Examined {
    CompactPolicy compact;
    std::vector<CompactMismatch> mismatches;
};

// Mismatches are only looked for where the full policy was evaluated.
Examined examine(const std::string& field, const MatchResult& result) {
    Examined examined{parseCompactPolicy(field), {}};
    if (result.state != kStateNotEvaluated && !examined.compact.tokens.empty()) {
        examined.mismatches = compareCompactPolicy(examined.compact, result.impliedCompactTokens);
    }
    return examined;
}

}  // namespace

void printCompactPolicies(std::ostream& out, const std::vector<SeenP3PHeader>& seen,
                          const MatchResult& result) {
    for (const SeenP3PHeader& one : seen) {
        const std::optional<std::string> field = compactPolicyField(one.value);
        if (!field) {
            continue;
        }
        const Examined examined = examine(*field, result);
        out << "compact policy: \"" << examined.compact.text << "\" (" << one.url.str() << ")"
            << (examined.compact.valid() ? " valid" : "") << "\n";
        for (const CompactProblem& problem : examined.compact.problems) {
            out << "  ! " << compactProblemText(problem) << "\n";
        }
        for (const CompactMismatch& mismatch : examined.mismatches) {
            out << "  ~ " << mismatch.text << "\n";
        }
    }
}

nlohmann::json compactPoliciesJson(const std::vector<SeenP3PHeader>& seen,
                                   const MatchResult& result) {
    nlohmann::json all = nlohmann::json::array();
    for (const SeenP3PHeader& one : seen) {
        const std::optional<std::string> field = compactPolicyField(one.value);
        if (!field) {
            continue;
        }
        const Examined examined = examine(*field, result);
        nlohmann::json problems = nlohmann::json::array();
        for (const CompactProblem& problem : examined.compact.problems) {
            problems.push_back({{"class", compactProblemClass(problem.kind)},
                                {"token", problem.token},
                                {"text", compactProblemText(problem)}});
            if (!problem.other.empty()) {
                problems.back()["other"] = problem.other;
            }
        }
        nlohmann::json mismatches = nlohmann::json::array();
        for (const CompactMismatch& mismatch : examined.mismatches) {
            mismatches.push_back(
                {{"class",
                  mismatch.kind == CompactMismatch::Kind::kUnsupported ? "unsupported" : "omitted"},
                 {"token", mismatch.token},
                 {"text", mismatch.text}});
        }
        all.push_back({{"url", one.url.str()},
                       {"header", one.value},
                       {"cp", examined.compact.text},
                       {"valid", examined.compact.valid()},
                       {"cp_problems", problems},
                       {"cp_mismatches", mismatches}});
    }
    return all;
}

}  // namespace perchlight::cli
