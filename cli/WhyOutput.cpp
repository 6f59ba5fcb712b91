#include "cli/WhyOutput.h"

#include <nlohmann/json.hpp>

#include <ostream>

#include "browser/CompactPolicyJson.h"
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

void printCompactPolicies(std::ostream& out, const std::vector<SeenP3PHeader>& seen,
                          const CoveringResult& covering) {
    for (const SeenP3PHeader& one : seen) {
        const std::optional<std::string> field = compactPolicyField(one.value);
        if (!field) {
            continue;
        }
        const CompactPolicy compact = parseCompactPolicy(*field);
        out << "compact policy: \"" << compact.text << "\" (" << one.url.str() << ")"
            << (compact.valid() ? " valid" : "") << "\n";
        for (const CompactProblem& problem : compact.problems) {
            out << "  ! " << compactProblemText(problem) << "\n";
        }
        if (const std::optional<MatchResult> result = covering(one.url)) {
            for (const CompactMismatch& mismatch : compactMismatches(compact, *result)) {
                out << "  ~ " << mismatch.text << "\n";
            }
        }
    }
}

}  // namespace perchlight::cli
