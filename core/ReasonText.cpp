#include "core/ReasonText.h"

#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace perchlight {
namespace {

using Words = std::pair<std::string_view, std::string_view>;

constexpr std::array<Words, 12> kPurposes = {{
    {"current", "the current activity"},
    {"admin", "site administration"},
    {"develop", "research and development"},
    {"tailoring", "tailoring the site"},
    {"pseudo-analysis", "pseudonymous analysis"},
    {"pseudo-decision", "pseudonymous decisions"},
    {"individual-analysis", "analysis of you"},
    {"individual-decision", "decisions about you"},
    {"contact", "contacting you"},
    {"historical", "historical archives"},
    {"telemarketing", "telemarketing"},
    {"other-purpose", "other purposes"},
}};

constexpr std::array<Words, 6> kRecipients = {{
    {"ours", "the site and its agents"},
    {"delivery", "delivery services"},
    {"same", "companies with the same practices"},
    {"other-recipient", "companies accountable to the site"},
    {"unrelated", "unrelated companies"},
    {"public", "the public"},
}};

constexpr std::array<Words, 5> kRetentions = {{
    {"no-retention", "not at all"},
    {"stated-purpose", "only for the stated purpose"},
    {"legal-requirement", "as long as the law requires"},
    {"business-practices", "as long as the site's practices say"},
    {"indefinitely", "indefinitely"},
}};

constexpr std::array<Words, 17> kCategories = {{
    {"physical", "contact"},
    {"online", "online contact"},
    {"uniqueid", "identifier"},
    {"purchase", "purchase"},
    {"financial", "financial"},
    {"computer", "computer"},
    {"navigation", "browsing"},
    {"interactive", "interaction"},
    {"demographic", "demographic"},
    {"content", "message content"},
    {"state", "session"},
    {"political", "political"},
    {"health", "health"},
    {"preference", "preference"},
    {"location", "location"},
    {"government", "government identifier"},
    {"other-category", "other"},
}};

constexpr std::array<Words, 6> kAccess = {{
    {"nonident", "no identified data kept"},
    {"all", "all identified data"},
    {"contact-and-other", "contact and other identified data"},
    {"ident-contact", "contact data"},
    {"other-ident", "other identified data"},
    {"none", "no data"},
}};

template <std::size_t N>
std::string lookUp(const std::array<Words, N>& table, const std::string& value) {
    for (const auto& [key, words] : table) {
        if (key == value) {
            return std::string(words);
        }
    }
    return value;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += i + 1 == parts.size() ? " and " : ", ";
        }
        text += parts[i];
    }
    return text;
}

std::vector<std::string> valuesOf(const StatementReason& reason, std::string_view element,
                                  std::string (*words)(const std::string&)) {
    std::vector<std::string> values;
    for (const MatchedElement& matched : reason.elements) {
        if (matched.element == element) {
            values.push_back(words ? words(matched.value) : matched.value);
        }
    }
    return values;
}

std::string asIs(const std::string& value) {
    return value;
}

}  // namespace

std::string purposeWords(const std::string& purpose) {
    return lookUp(kPurposes, purpose);
}
std::string recipientWords(const std::string& recipient) {
    return lookUp(kRecipients, recipient);
}
std::string retentionWords(const std::string& retention) {
    return lookUp(kRetentions, retention);
}
std::string categoryWords(const std::string& category) {
    return lookUp(kCategories, category);
}
std::string accessWords(const std::string& access) {
    return lookUp(kAccess, access);
}

std::string reasonLine(const StatementReason& reason) {
    const std::vector<std::string> categories = valuesOf(reason, "CATEGORIES", categoryWords);
    const std::vector<std::string> data = valuesOf(reason, "DATA", asIs);
    std::string what = "your data";
    if (!categories.empty()) {
        what = joined(categories) + " data";
    } else if (data.size() == 1 && !data.front().empty()) {
        what = data.front();
    }
    std::vector<std::string> clauses;
    std::vector<std::string> recipients;
    for (const std::string& recipient : valuesOf(reason, "RECIPIENT", asIs)) {
        if (recipient != "ours") {
            recipients.push_back(recipientWords(recipient));
        }
    }
    if (!recipients.empty()) {
        clauses.push_back("shares " + what + " with " + joined(recipients));
    }
    if (const auto purposes = valuesOf(reason, "PURPOSE", purposeWords); !purposes.empty()) {
        clauses.push_back("uses " + what + " for " + joined(purposes));
    }
    if (const auto kept = valuesOf(reason, "RETENTION", retentionWords); !kept.empty()) {
        clauses.push_back("keeps " + what + " " + joined(kept));
    }
    if (const auto access = valuesOf(reason, "ACCESS", accessWords); !access.empty()) {
        clauses.push_back("gives access to " + joined(access));
    }
    if (const auto disputes = valuesOf(reason, "DISPUTES", asIs); !disputes.empty()) {
        clauses.push_back("resolves disputes by " + joined(disputes));
    }
    if (clauses.empty()) {
        clauses.push_back(categories.empty() && data.empty() ? "matched" : "collects " + what);
    }
    std::string line = reason.statement > 0 ? "statement " + std::to_string(reason.statement)
                                            : std::string("the policy");
    line += ": ";
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        line += (i > 0 ? "; " : "") + clauses[i];
    }
    return line;
}

}  // namespace perchlight
