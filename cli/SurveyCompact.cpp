#include "cli/SurveyCompact.h"

#include <algorithm>
#include <map>
#include <ostream>

#include "browser/CompactPolicyJson.h"
#include "core/CompactPolicy.h"
#include "core/MatchResult.h"
#include "retrieval/Globals.h"

namespace perchlight::cli {
namespace {

std::vector<CompactTally::Count> top(const std::map<std::string, std::size_t>& counts) {
    std::vector<CompactTally::Count> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (sorted.size() > CompactTally::kTop) {
        sorted.resize(CompactTally::kTop);
    }
    return sorted;
}

void writeList(std::ostream& out, const char* title, const std::vector<CompactTally::Count>& list) {
    out << "\n" << title << "\n";
    if (list.empty()) {
        out << "  (none)\n";
    }
    for (const auto& [name, count] : list) {
        const std::string number = std::to_string(count);
        out << "  " << std::string(number.size() < 6 ? 6 - number.size() : 0, ' ') << number << "  "
            << name << "\n";
    }
}

}  // namespace

void fillCompactFields(const std::string& pageHeaders, const MatchResult& main,
                       SurveyRecord& record) {
    for (const std::string& value : p3pHeaderValues(pageHeaders)) {
        if (std::optional<std::string> field = compactPolicyField(value)) {
            const CompactPolicy compact = parseCompactPolicy(*field);
            record.cp = compact.text;
            for (const CompactProblem& problem : compact.problems) {
                record.cpProblems.push_back(std::string(compactProblemClass(problem.kind)) + " " +
                                            problem.token);
            }
            for (const CompactMismatch& mismatch : compactMismatches(compact, main)) {
                record.cpMismatches.push_back((mismatch.kind == CompactMismatch::Kind::kUnsupported
                                                   ? "unsupported "
                                                   : "omitted ") +
                                              mismatch.token);
            }
            break;  // the first compact policy counts, as user agents must read it
        }
    }
    for (const FiredRule& rule : main.firedRules) {
        for (const StatementReason& reason : rule.statements) {
            for (const MatchedElement& element : reason.elements) {
                std::string name = element.element + " " + element.value;
                if (std::find(record.firedElements.begin(), record.firedElements.end(), name) ==
                    record.firedElements.end()) {
                    record.firedElements.push_back(std::move(name));
                }
            }
        }
    }
}

CompactTally::CompactTally(const std::vector<SurveyRecord>& records) : sites_(records.size()) {
    std::map<std::string, std::size_t> classes;
    std::map<std::string, std::size_t> tokens;
    std::map<std::string, std::size_t> texts;
    std::map<std::string, std::size_t> elements;
    for (const SurveyRecord& record : records) {
        for (const std::string& element : record.firedElements) {
            ++elements[element];
        }
        if (!record.cp) {
            continue;
        }
        ++with_;
        if (record.cpProblems.empty()) {
            ++valid_;
            continue;
        }
        ++texts["\"" + *record.cp + "\""];
        std::map<std::string, bool> siteClasses;
        for (const std::string& problem : record.cpProblems) {
            const std::size_t space = problem.find(' ');
            const std::string kind = problem.substr(0, space);
            siteClasses[kind] = true;
            if (kind == "unknown-token" && space != std::string::npos) {
                ++tokens[problem.substr(space + 1)];
            }
        }
        for (const auto& [kind, seen] : siteClasses) {
            ++classes[kind];
        }
    }
    classes_ = top(classes);
    tokens_ = top(tokens);
    // A text counts as copied when more than one site sends it.
    std::erase_if(texts, [](const auto& entry) { return entry.second < 2; });
    texts_ = top(texts);
    elements_ = top(elements);
}

void CompactTally::writeText(std::ostream& out) const {
    out << "\nCompact policies: " << with_ << " of " << sites_ << " sites send one, " << valid_
        << " valid, " << (with_ - valid_) << " with problems\n";
    writeList(out, kProblemClassesTitle, classes_);
    writeList(out, kInvalidTokensTitle, tokens_);
    writeList(out, kInvalidTextsTitle, texts_);
    writeList(out, kFiredElementsTitle, elements_);
}

}  // namespace perchlight::cli
