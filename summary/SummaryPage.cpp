#include "summary/SummaryPage.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "core/CompactPolicy.h"
#include "core/MatchResult.h"
#include "summary/PolicySummary.h"
#include "summary/TemplateEngine.h"
#include "util/DataLocations.h"
#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight {
namespace {

using Arguments = std::vector<FormatArgument>;

constexpr std::string_view kNoSharing =
    "This site does not store or share personally identified data.";
constexpr std::string_view kOptOutWord = "opt-out";
constexpr std::string_view kTooltipNoConflict =
    "##BusinessName##@%s's@ privacy policy  ##MatchNoMatch##@%s@";
constexpr std::string_view kTooltipConflict =
    "##BusinessName##@%s's@ privacy policy  ##MatchNoMatch##@%s@ \n##MisMatches##@\n%s@";
constexpr std::string_view kTooltipNoPolicy = "Valid policy not found";
// Shown for a record the policy names without saying anything in it.
constexpr std::string_view kNotStated = "not stated";

constexpr std::array<std::string_view, 5> kTelephoneKeys = {
    "BusinessTelephoneIntCode", "BusinessTelephoneLocCode", "BusinessTelephoneNumber",
    "BusinessTelephoneExt", "BusinessTelephoneComment"};
constexpr std::array<std::string_view, 5> kFaxKeys = {"BusinessFaxIntCode", "BusinessFaxLocCode",
                                                      "BusinessFaxNumber", "BusinessFaxExt",
                                                      "BusinessFaxComment"};

// Templates are a few kilobytes; a larger file is not ours and reads as missing.
constexpr std::uintmax_t kMaxTemplateBytes = 1024 * 1024;

std::string readTemplate(std::string_view name) {
    return FileReader::read(DataLocations::forThisProcess().shippedFile("/" + std::string(name)),
                            kMaxTemplateBytes)
        .value_or(std::string());
}

bool isBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isspace(c) != 0; });
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

const BusinessField* businessField(std::string_view key) {
    for (const BusinessField& field : businessFields()) {
        if (field.templateKey == key) {
            return &field;
        }
    }
    return nullptr;
}

bool anyFieldSet(const PolicySummary& summary, std::span<const std::string_view> keys) {
    return std::any_of(keys.begin(), keys.end(), [&](std::string_view key) {
        return !(summary.*businessField(key)->member).empty();
    });
}

// The values of the page's placeholders for one match result, as HTML or as plain text.
class PageValues {
  public:
    PageValues(const SummaryPage& page, const std::string& dllPath, const MatchResult& result,
               bool html)
        : page_(page), dllPath_(dllPath), result_(result), html_(html) {}

    std::string value(std::string_view key, std::string_view format) const;

  private:
    std::string text(std::string_view value) const {
        return html_ ? escapeHtml(value) : std::string(value);
    }
    // A link address: resolved against the policy's address, empty when it is not allowed.
    std::optional<std::string> link(const std::string& reference) const;
    std::string business(const BusinessField& field, std::string_view format) const;
    std::string disputes(std::string_view format) const;
    std::string statements(std::string_view format) const;
    std::string statementList(std::string_view format) const;
    std::string dataSharing(std::string_view format) const;
    std::string firedHere(int statement) const;
    std::string compactPolicyBox() const;

    bool matches() const { return result_.descriptions.empty(); }

    const SummaryPage& page_;
    const std::string& dllPath_;
    const MatchResult& result_;
    bool html_;
};

std::optional<std::string> PageValues::link(const std::string& reference) const {
    if (reference.empty()) {
        return std::nullopt;
    }
    std::string resolved;
    try {
        resolved = result_.policyUrl.empty() ? Url(reference).str()
                                             : result_.policyUrl.resolve(reference).str();
    } catch (const Error&) {
        return std::nullopt;
    }
    if (html_ && !isAllowedLinkAddress(resolved)) {
        return std::nullopt;
    }
    return text(resolved);
}

std::string PageValues::business(const BusinessField& field, std::string_view format) const {
    const std::string& value = result_.summary.*field.member;
    if (value.empty()) {
        return {};
    }
    if (field.templateKey == "BusinessOnlineEmail") {
        return formatArguments(format, Arguments{text(value), text(value)});
    }
    if (field.templateKey == "BusinessOnlineURI") {
        if (html_ && !isAllowedLinkAddress(value)) {
            return {};
        }
        return formatArguments(format, Arguments{text(value), text(value), text(value)});
    }
    return formatArguments(format, Arguments{text(value)});
}

std::string PageValues::disputes(std::string_view format) const {
    std::string out;
    long long index = 0;
    for (const DisputeRecord& dispute : result_.summary.disputes) {
        std::string image;
        if (!dispute.imageSource.empty() && (!html_ || isAllowedLinkAddress(dispute.imageSource))) {
            image = "<img align=\"left\" hspace=5 src=\"" + text(dispute.imageSource) +
                    "\" alt=\"" + text(dispute.imageAlternativeText) + "\">";
        }
        const std::string service =
            !html_ || isAllowedLinkAddress(dispute.service) ? text(dispute.service) : std::string();
        const std::string& named =
            dispute.shortDescription.empty() ? dispute.service : dispute.shortDescription;
        const std::string name = text(named.empty() ? std::string(kNotStated) : named);
        const std::string description =
            dispute.longDescription.empty() ? std::string() : text(": " + dispute.longDescription);
        out += formatArguments(format, Arguments{image, service, ++index, name, name, description});
    }
    return out;
}

std::string PageValues::statements(std::string_view format) const {
    const std::vector<StatementRecord>& all = result_.summary.statements;
    std::string out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const int number = all.size() >= 2 ? static_cast<int>(i + 1) : 0;
        out += formatArguments(format, Arguments{firedHere(static_cast<int>(i + 1)) +
                                                 page_.buildStatement(all[i], number)});
    }
    return out;
}

// The rules a statement made fire, named above it.
std::string PageValues::firedHere(int statement) const {
    std::string out;
    for (const FiredRule& rule : result_.firedRules) {
        for (const StatementReason& reason : rule.statements) {
            if (reason.statement == statement) {
                out +=
                    "<P class=\"fired\">This statement fired the rule: " + text(rule.description) +
                    "<br><i>" + text(reason.line) + "</i></P>\n";
            }
        }
    }
    return out;
}

// The page's compact policy in plain words: its tokens, what is wrong with them, and where they
// disagree with the full policy.
std::string PageValues::compactPolicyBox() const {
    const CompactPolicy compact = parseCompactPolicy(result_.compactPolicy);
    std::string out =
        "<p>With its cookies this site also sends a short form of its policy: <code>" +
        text(compact.text) + "</code></p>\n";
    if (compact.valid()) {
        out += "<p>The short form is well formed.</p>\n";
    } else {
        out += "<p>The short form is faulty:</p>\n<ul>\n";
        for (const CompactProblem& problem : compact.problems) {
            out += "<li>" + text(compactProblemText(problem)) + "</li>\n";
        }
        out += "</ul>\n";
    }
    const std::vector<CompactMismatch> mismatches =
        compact.tokens.empty() ? std::vector<CompactMismatch>()
                               : compareCompactPolicy(compact, result_.impliedCompactTokens);
    if (!mismatches.empty()) {
        out += "<p>It does not say what the full policy says:</p>\n<ul>\n";
        for (const CompactMismatch& mismatch : mismatches) {
            out += "<li>" + text(mismatch.text) + "</li>\n";
        }
        out += "</ul>\n";
    }
    out += "<p>The verdict above comes from the full policy alone.</p>\n";
    return out;
}

std::string PageValues::statementList(std::string_view format) const {
    std::string out;
    long long index = 0;
    for (const StatementRecord& statement : result_.summary.statements) {
        ++index;
        out += formatArguments(
            format, Arguments{index, index, std::string(statement.name.empty() ? "" : "-"),
                              text(statement.name)});
    }
    return out;
}

// Each recipient text once; the no-sharing sentence once, after the statements that come before
// any recipient.
std::string PageValues::dataSharing(std::string_view format) const {
    std::string out;
    std::set<std::string> lines;
    bool recipientMet = false;
    bool noSharingShown = false;
    for (const StatementRecord& statement : result_.summary.statements) {
        for (const auto& [key, recipient] : statement.recipients) {
            recipientMet = true;
            std::string line = formatArguments(format, Arguments{text(recipient)});
            if (lines.insert(line).second) {
                out += line;
            }
        }
        if (!recipientMet && !noSharingShown) {
            out += formatArguments(format, Arguments{text(kNoSharing)});
            noSharingShown = true;
        }
    }
    return out;
}

std::string PageValues::value(std::string_view key, std::string_view format) const {
    const PolicySummary& summary = result_.summary;
    const auto one = [&](FormatArgument argument) {
        return formatArguments(format, Arguments{std::move(argument)});
    };
    const auto none = [&]() { return formatArguments(format, {}); };
    const auto each = [&](const auto& texts) {
        std::string out;
        for (const auto& item : texts) {
            out += one(text(item));
        }
        return out;
    };
    if (key == "DLLPath") {
        return one(text(dllPath_));
    }
    if (const BusinessField* field = businessField(key)) {
        return business(*field, format);
    }
    if (key == "PhoneHeading") {
        return anyFieldSet(summary, kTelephoneKeys) ? none() : std::string();
    }
    if (key == "FaxHeading") {
        return anyFieldSet(summary, kFaxKeys) ? none() : std::string();
    }
    if (key == "DisputesHeading") {
        return summary.disputes.empty() ? std::string() : none();
    }
    if (key == "DisputesHeadingExpandGroup") {
        return summary.disputes.empty() ? std::string() : one(text(dllPath_));
    }
    if (key == "Disputes") {
        return disputes(format);
    }
    if (key == "MatchNoMatch") {
        return one(
            text(matches() ? "matches your preferences." : "does not match your preferences:"));
    }
    if (key == "MatchNoMatchExpandGroup") {
        return matches() ? std::string() : one(text(dllPath_));
    }
    if (key == "BGColor") {
        return one(text(matches() ? "green" : "red"));
    }
    if (key == "BorderColor") {
        return one(text(matches() ? "#00ff00" : "#ff0000"));
    }
    if (key == "TableColor") {
        return one(text(matches() ? "#ccffcc" : "#ffcccc"));
    }
    if (key == "MisMatches") {
        return each(result_.descriptions);
    }
    if (key == "CompactPolicy") {
        return result_.compactPolicy.empty() || !html_ ? std::string() : one(compactPolicyBox());
    }
    if (key == "StatementList") {
        return statementList(format);
    }
    if (key == "Statements") {
        return statements(format);
    }
    if (key == "AccessHeading") {
        return summary.access.empty() ? std::string() : none();
    }
    if (key == "AccessHeadingExpandGroup") {
        return summary.access.empty() ? std::string() : one(text(dllPath_));
    }
    if (key == "Access") {
        return summary.access.empty() ? std::string() : one(text(summary.access));
    }
    if (key == "MoreInformation") {
        // The heading stands only over a link that is shown: both may have been dropped.
        const bool anyLink = link(result_.disclosureUri) || link(result_.optOutUri);
        return anyLink ? one(text(matches() ? "green" : "red")) : std::string();
    }
    if (key == "FullPolicyURI" || key == "OPTURI" || key == "FullP3P") {
        const std::string& reference = key == "FullPolicyURI" ? result_.disclosureUri
                                       : key == "OPTURI"      ? result_.optOutUri
                                                              : result_.policyUrl.str();
        const std::optional<std::string> address = link(reference);
        return address ? one(*address) : std::string();
    }
    if (key == "Test") {
        return result_.isTest ? none() : std::string();
    }
    if (key == "DataSharing") {
        return dataSharing(format);
    }
    return {};
}

}  // namespace

const std::string& dllPath() {
    static const std::string value = [] {
        std::string path = DataLocations::forThisProcess().shippedDirectory() + "/";
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }();
    return value;
}

SummaryPage::SummaryPage() : dllPath_(dllPath()) {}

SummaryPage::SummaryPage(std::string dllPathValue) : dllPath_(std::move(dllPathValue)) {}

std::string SummaryPage::buildPage(const MatchResult& result) const {
    std::string page =
        fill(readTemplate(kPageTemplateFile), [&](std::string_view key, std::string_view format) {
            return pageKeys(key, format, result);
        });
    const std::string optOut = PageValues(*this, dllPath_, result, true).value("OPTURI", "%s");
    return optOut.empty() ? page : linkOptOuts(page, optOut);
}

std::string SummaryPage::buildStatement(const StatementRecord& statement, int number) const {
    return fill(readTemplate(kStatementTemplateFile),
                [&](std::string_view key, std::string_view format) {
                    return statementKeys(key, format, statement, number);
                });
}

std::string SummaryPage::tooltipText(const MatchResult& result) const {
    const std::string_view tooltip = result.state == kStateNoConflict ? kTooltipNoConflict
                                     : result.state == kStateConflict ? kTooltipConflict
                                                                      : kTooltipNoPolicy;
    const PageValues values(*this, dllPath_, result, false);
    std::string text = fill(tooltip, [&](std::string_view key, std::string_view format) {
        return values.value(key, format);
    });
    if (result.state == kStateConflict && !result.firedRules.empty()) {
        text += "\n";
        for (const FiredRule& rule : result.firedRules) {
            text += "\n";
            for (std::size_t i = 0; i < rule.statements.size(); ++i) {
                text += (i > 0 ? "; " : "") + rule.statements[i].line;
            }
            if (rule.statements.empty()) {
                text += "the policy as a whole";
            }
        }
    }
    return text;
}

std::string SummaryPage::pageKeys(std::string_view key, std::string_view format,
                                  const MatchResult& result) const {
    return PageValues(*this, dllPath_, result, true).value(key, format);
}

std::string SummaryPage::statementKeys(std::string_view key, std::string_view format,
                                       const StatementRecord& statement, int number) const {
    const auto one = [&](FormatArgument argument) {
        return formatArguments(format, Arguments{std::move(argument)});
    };
    const auto none = [&]() { return formatArguments(format, {}); };
    const auto each = [&](const std::map<std::string, std::string>& texts) {
        std::string out;
        for (const auto& [entryKey, text] : texts) {
            out += one(escapeHtml(text));
        }
        return out;
    };
    if (key == "Number") {
        return number > 0 ? one(static_cast<long long>(number)) : std::string();
    }
    if (key == "DLLPath") {
        return one(escapeHtml(dllPath_));
    }
    if (key == "Name") {
        return statement.name.empty() ? std::string() : one(escapeHtml(statement.name));
    }
    if (key == "InfoCollectedHeading") {
        return statement.data.empty() ? std::string() : none();
    }
    if (key == "InfoCollected") {
        std::string out;
        for (const auto& [ref, entry] : statement.data) {
            std::string item = escapeHtml(entry.label);
            if (!entry.subItems.empty()) {
                item += "<ul>";
                for (const auto& [category, text] : entry.subItems) {
                    item += "<li>" + escapeHtml(text) + "</li>";
                }
                item += "</ul>";
            }
            out += one(std::move(item));
        }
        return out;
    }
    if (key == "PurposesHeading") {
        return statement.purposes.empty() ? std::string() : none();
    }
    if (key == "Purposes") {
        return each(statement.purposes);
    }
    if (key == "RecipientsHeading") {
        return statement.recipients.empty() ? std::string() : none();
    }
    if (key == "Recipients") {
        return each(statement.recipients);
    }
    if (key == "Consequence") {
        return isBlank(statement.consequence) ? std::string()
                                              : one(escapeHtml(statement.consequence));
    }
    return {};
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool isAllowedLinkAddress(std::string_view address) {
    const std::size_t colon = address.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::string scheme = lowerCase(address.substr(0, colon));
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

std::string linkOptOuts(std::string_view page, std::string_view escapedAddress) {
    const std::string link =
        formatArguments("<a href=\"%s\" target=\"_blank\">%s</a>",
                        Arguments{std::string(escapedAddress), std::string(kOptOutWord)});
    std::string out;
    int openLinks = 0;
    std::size_t position = 0;
    while (position < page.size()) {
        if (page[position] == '<') {
            const std::size_t end = page.find('>', position);
            if (end == std::string_view::npos) {
                break;
            }
            const std::string_view tag = page.substr(position, end + 1 - position);
            const bool closing = tag.size() > 1 && tag[1] == '/';
            std::size_t nameEnd = closing ? 2 : 1;
            while (nameEnd < tag.size() && std::isalnum(static_cast<unsigned char>(tag[nameEnd]))) {
                ++nameEnd;
            }
            const std::string name =
                lowerCase(tag.substr(closing ? 2 : 1, nameEnd - (closing ? 2 : 1)));
            out += tag;
            position = end + 1;
            if (name == "a") {
                openLinks = closing ? std::max(0, openLinks - 1) : openLinks + 1;
            } else if (!closing && (name == "script" || name == "style" || name == "title" ||
                                    name == "textarea")) {
                const std::string rest = lowerCase(page.substr(position));
                const std::size_t close = rest.find("</" + name);
                const std::size_t rawEnd =
                    close == std::string::npos ? page.size() : position + close;
                out += page.substr(position, rawEnd - position);
                position = rawEnd;
            }
            continue;
        }
        if (openLinks == 0 && page.substr(position, kOptOutWord.size()) == kOptOutWord) {
            out += link;
            position += kOptOutWord.size();
            continue;
        }
        out += page[position++];
    }
    out += page.substr(std::min(position, page.size()));
    return out;
}

}  // namespace perchlight
