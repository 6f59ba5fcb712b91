#include "core/CompactPolicy.h"

#include <algorithm>
#include <array>

#include "core/ReasonText.h"

namespace perchlight {
namespace {

using G = CompactGroup;

// The compact vocabulary of P3P 1.0, section 4.2. tests/data/compact-tokens.txt holds the same
// list as the Recommendation gives it, and a test holds the two together.
constexpr std::array<CompactTokenInfo, 52> kTokens = {{
    {"NOI", G::kAccess, "nonident", false},
    {"ALL", G::kAccess, "all", false},
    {"CAO", G::kAccess, "contact-and-other", false},
    {"IDC", G::kAccess, "ident-contact", false},
    {"OTI", G::kAccess, "other-ident", false},
    {"NON", G::kAccess, "none", false},
    {"DSP", G::kDisputes, "disputes-group", false},
    {"COR", G::kRemedies, "correct", false},
    {"MON", G::kRemedies, "money", false},
    {"LAW", G::kRemedies, "law", false},
    {"NID", G::kNonIdentifiable, "non-identifiable", false},
    {"CUR", G::kPurpose, "current", false},
    {"ADM", G::kPurpose, "admin", true},
    {"DEV", G::kPurpose, "develop", true},
    {"TAI", G::kPurpose, "tailoring", true},
    {"PSA", G::kPurpose, "pseudo-analysis", true},
    {"PSD", G::kPurpose, "pseudo-decision", true},
    {"IVA", G::kPurpose, "individual-analysis", true},
    {"IVD", G::kPurpose, "individual-decision", true},
    {"CON", G::kPurpose, "contact", true},
    {"HIS", G::kPurpose, "historical", true},
    {"TEL", G::kPurpose, "telemarketing", true},
    {"OTP", G::kPurpose, "other-purpose", true},
    {"OUR", G::kRecipient, "ours", false},
    {"DEL", G::kRecipient, "delivery", true},
    {"SAM", G::kRecipient, "same", true},
    {"UNR", G::kRecipient, "unrelated", true},
    {"PUB", G::kRecipient, "public", true},
    {"OTR", G::kRecipient, "other-recipient", true},
    {"NOR", G::kRetention, "no-retention", false},
    {"STP", G::kRetention, "stated-purpose", false},
    {"LEG", G::kRetention, "legal-requirement", false},
    {"BUS", G::kRetention, "business-practices", false},
    {"IND", G::kRetention, "indefinitely", false},
    {"PHY", G::kCategories, "physical", false},
    {"ONL", G::kCategories, "online", false},
    {"UNI", G::kCategories, "uniqueid", false},
    {"PUR", G::kCategories, "purchase", false},
    {"FIN", G::kCategories, "financial", false},
    {"COM", G::kCategories, "computer", false},
    {"NAV", G::kCategories, "navigation", false},
    {"INT", G::kCategories, "interactive", false},
    {"DEM", G::kCategories, "demographic", false},
    {"CNT", G::kCategories, "content", false},
    {"STA", G::kCategories, "state", false},
    {"POL", G::kCategories, "political", false},
    {"HEA", G::kCategories, "health", false},
    {"PRE", G::kCategories, "preference", false},
    {"LOC", G::kCategories, "location", false},
    {"GOV", G::kCategories, "government", false},
    {"OTC", G::kCategories, "other-category", false},
    {"TST", G::kTest, "test", false},
}};

// Groups that every full policy declares, so a compact policy that summarises one has them.
constexpr std::array<G, 5> kRequiredGroups = {G::kAccess, G::kPurpose, G::kRecipient, G::kRetention,
                                              G::kCategories};

// Categories that are identified data: a site that collects them keeps identified data.
constexpr std::array<std::string_view, 3> kIdentifyingCategories = {"PHY", "ONL", "GOV"};

const CompactTokenInfo* findToken(std::string_view letters) {
    for (const CompactTokenInfo& info : kTokens) {
        if (info.token == letters) {
            return &info;
        }
    }
    return nullptr;
}

bool isSuffix(char c) {
    return c == 'a' || c == 'i' || c == 'o';
}

// The vocabulary token the text spells exactly, or none.
std::optional<CompactToken> readToken(std::string_view text) {
    if (text.size() == 3) {
        if (const CompactTokenInfo* info = findToken(text)) {
            return CompactToken{std::string(text), info, 0};
        }
    } else if (text.size() == 4 && isSuffix(text[3])) {
        const CompactTokenInfo* info = findToken(text.substr(0, 3));
        if (info && info->takesSuffix) {
            return CompactToken{std::string(text), info, text[3]};
        }
    }
    return std::nullopt;
}

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Every spelling of the vocabulary: the tokens and their suffixed forms.
std::vector<std::string> allSpellings() {
    std::vector<std::string> spellings;
    for (const CompactTokenInfo& info : kTokens) {
        spellings.emplace_back(info.token);
        if (info.takesSuffix) {
            for (char suffix : {'a', 'i', 'o'}) {
                spellings.push_back(std::string(info.token) + suffix);
            }
        }
    }
    return spellings;
}

// The token an unknown word most likely meant: the same letters in another case, else the
// first spelling one edit away; empty when none is that close.
std::string suggestionFor(std::string_view word) {
    static const std::vector<std::string> spellings = allSpellings();
    if (word.size() > 8) {
        return {};
    }
    const std::string shouted = upper(word);
    for (const std::string& spelling : spellings) {
        if (upper(spelling) == shouted) {
            return spelling;
        }
    }
    for (const std::string& spelling : spellings) {
        if (editDistance(word, spelling) == 1) {
            return spelling;
        }
    }
    return {};
}

bool looksLikeToken(std::string_view word) {
    return (word.size() == 3 || word.size() == 4) &&
           std::all_of(word.begin(), word.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) {
            result.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return result;
}

void checkContradictions(CompactPolicy& compact) {
    const CompactToken* firstAccess = nullptr;
    for (const CompactToken& token : compact.tokens) {
        if (token.info->group != G::kAccess) {
            continue;
        }
        if (firstAccess && firstAccess->info != token.info) {
            compact.problems.push_back(
                {CompactProblemKind::kContradiction, firstAccess->text, token.text});
        } else if (!firstAccess) {
            firstAccess = &token;
        }
    }
    if (compact.has("NOI")) {
        for (std::string_view category : kIdentifyingCategories) {
            if (compact.has(category)) {
                compact.problems.push_back(
                    {CompactProblemKind::kContradiction, "NOI", std::string(category)});
            }
        }
    }
}

}  // namespace

std::span<const CompactTokenInfo> compactTokenTable() {
    return kTokens;
}

std::string_view compactGroupName(CompactGroup group) {
    switch (group) {
        case G::kAccess:
            return "ACCESS";
        case G::kDisputes:
            return "DISPUTES";
        case G::kRemedies:
            return "REMEDIES";
        case G::kNonIdentifiable:
            return "NON-IDENTIFIABLE";
        case G::kPurpose:
            return "PURPOSE";
        case G::kRecipient:
            return "RECIPIENT";
        case G::kRetention:
            return "RETENTION";
        case G::kCategories:
            return "CATEGORIES";
        case G::kTest:
            break;
    }
    return "TEST";
}

bool CompactPolicy::has(std::string_view token) const {
    return std::any_of(tokens.begin(), tokens.end(),
                       [&](const CompactToken& t) { return t.info->token == token; });
}

std::optional<std::string> compactPolicyField(std::string_view header) {
    std::size_t at = 0;
    while (at < header.size()) {
        // A field starts the value or follows a comma, after optional white space.
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) {
            ++at;
        }
        const bool isCp = header.size() - at >= 3 && (header[at] == 'C' || header[at] == 'c') &&
                          (header[at + 1] == 'P' || header[at + 1] == 'p') && header[at + 2] == '=';
        std::size_t valueStart = at;
        if (isCp) {
            valueStart = at + 3;
        } else {
            while (valueStart < header.size() && header[valueStart] != '=' &&
                   header[valueStart] != ',') {
                ++valueStart;
            }
            if (valueStart < header.size() && header[valueStart] == '=') {
                ++valueStart;
            }
        }
        std::size_t end = valueStart;
        std::string_view value;
        if (end < header.size() && header[end] == '"') {
            const std::size_t close = header.find('"', end + 1);
            end = close == std::string_view::npos ? header.size() : close + 1;
            value = header.substr(valueStart + 1,
                                  (close == std::string_view::npos ? end : close) - valueStart - 1);
        } else {
            end = std::min(header.find(',', end), header.size());
            value = header.substr(valueStart, end - valueStart);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                value.remove_suffix(1);
            }
        }
        if (isCp) {
            return std::string(value);
        }
        const std::size_t comma = header.find(',', end);
        if (comma == std::string_view::npos) {
            break;
        }
        at = comma + 1;
    }
    return std::nullopt;
}

CompactPolicy parseCompactPolicy(std::string_view text) {
    CompactPolicy compact;
    if (text.size() > CompactPolicy::kMaxBytes) {
        compact.problems.push_back(
            {CompactProblemKind::kOverLimit, std::to_string(text.size()) + " bytes", {}});
        text = text.substr(0, CompactPolicy::kMaxBytes);
    }
    compact.text = std::string(text);
    std::vector<std::string_view> all = words(text);
    if (all.size() > CompactPolicy::kMaxTokens) {
        compact.problems.push_back(
            {CompactProblemKind::kOverLimit, std::to_string(all.size()) + " tokens", {}});
        all.resize(CompactPolicy::kMaxTokens);
    }
    std::vector<std::string_view> unknown;
    std::size_t tokenLike = 0;
    for (std::string_view word : all) {
        tokenLike += looksLikeToken(word) ? 1 : 0;
        std::optional<CompactToken> token = readToken(word);
        if (!token) {
            unknown.push_back(word);
            continue;
        }
        const bool seen = std::any_of(compact.tokens.begin(), compact.tokens.end(),
                                      [&](const CompactToken& t) { return t.text == word; });
        if (seen) {
            compact.problems.push_back({CompactProblemKind::kDuplicate, token->text, {}});
        } else {
            compact.tokens.push_back(std::move(*token));
        }
    }
    // Words, not tokens: nothing of the vocabulary, or mostly words no token could be.
    if (compact.tokens.empty() || tokenLike * 2 < all.size()) {
        compact.tokens.clear();
        std::erase_if(compact.problems, [](const CompactProblem& problem) {
            return problem.kind != CompactProblemKind::kOverLimit;
        });
        compact.problems.push_back({CompactProblemKind::kFreeText, compact.text, {}});
        return compact;
    }
    for (std::string_view word : unknown) {
        compact.problems.push_back(
            {CompactProblemKind::kUnknownToken, std::string(word), suggestionFor(word)});
    }
    for (G group : kRequiredGroups) {
        const bool present =
            std::any_of(compact.tokens.begin(), compact.tokens.end(),
                        [&](const CompactToken& t) { return t.info->group == group; });
        if (!present) {
            compact.problems.push_back(
                {CompactProblemKind::kMissingGroup, std::string(compactGroupName(group)), {}});
        }
    }
    checkContradictions(compact);
    return compact;
}

std::string_view compactProblemClass(CompactProblemKind kind) {
    switch (kind) {
        case CompactProblemKind::kUnknownToken:
            return "unknown-token";
        case CompactProblemKind::kMissingGroup:
            return "missing-group";
        case CompactProblemKind::kContradiction:
            return "contradiction";
        case CompactProblemKind::kFreeText:
            return "free-text";
        case CompactProblemKind::kDuplicate:
            return "duplicate";
        case CompactProblemKind::kOverLimit:
            break;
    }
    return "over-limit";
}

std::string compactProblemText(const CompactProblem& problem) {
    switch (problem.kind) {
        case CompactProblemKind::kUnknownToken:
            return "unknown token " + problem.token +
                   (problem.other.empty() ? std::string()
                                          : " (did you mean " + problem.other + "?)");
        case CompactProblemKind::kMissingGroup:
            return "no " + problem.token + " token";
        case CompactProblemKind::kContradiction:
            return problem.token + " contradicts " + problem.other;
        case CompactProblemKind::kFreeText:
            return "free text instead of tokens";
        case CompactProblemKind::kDuplicate:
            return problem.token + " given twice";
        case CompactProblemKind::kOverLimit:
            break;
    }
    return "too long (" + problem.token + "): the rest was not read";
}

std::vector<std::string> impliedCompactTokens(const XmlNode& policy) {
    std::vector<std::string> implied;
    const auto add = [&implied](std::string token) {
        if (std::find(implied.begin(), implied.end(), token) == implied.end()) {
            implied.push_back(std::move(token));
        }
    };
    // The vocabulary by the upper-case element names a parsed policy carries.
    static const std::vector<std::pair<std::string, const CompactTokenInfo*>> byElement = [] {
        std::vector<std::pair<std::string, const CompactTokenInfo*>> table;
        for (const CompactTokenInfo& info : kTokens) {
            table.emplace_back(upper(info.element), &info);
        }
        return table;
    }();
    const auto tokenFor = [](G group, const std::string& element) -> const CompactTokenInfo* {
        for (const auto& [name, info] : byElement) {
            if (info->group == group && name == element) {
                return info;
            }
        }
        return nullptr;
    };
    const auto isCookieStatement = [](const XmlNode& statement) {
        for (const XmlNodePtr& group : statement.children()) {
            if (group->name != "DATA-GROUP") {
                continue;
            }
            for (const XmlNodePtr& data : group->children()) {
                const std::string* ref = data->attribute("REF");
                if (ref && (*ref == "#dynamic.cookies" || *ref == "dynamic.cookies")) {
                    return true;
                }
            }
        }
        return false;
    };
    bool cookiesNamed = false;
    std::size_t statements = 0;
    std::size_t nonIdentifiable = 0;
    for (const XmlNodePtr& child : policy.children()) {
        if (child->name == "STATEMENT") {
            cookiesNamed = cookiesNamed || isCookieStatement(*child);
        }
    }
    for (const XmlNodePtr& child : policy.children()) {
        if (child->name == "ACCESS" && !child->children().empty()) {
            if (const CompactTokenInfo* info = tokenFor(G::kAccess, child->children()[0]->name)) {
                add(std::string(info->token));
            }
        } else if (child->name == "DISPUTES-GROUP") {
            add("DSP");
            for (const XmlNodePtr& disputes : child->children()) {
                if (const XmlNodePtr remedies = disputes->findChild("REMEDIES")) {
                    for (const XmlNodePtr& remedy : remedies->children()) {
                        if (const CompactTokenInfo* info = tokenFor(G::kRemedies, remedy->name)) {
                            add(std::string(info->token));
                        }
                    }
                }
            }
        } else if (child->name == "TEST") {
            add("TST");
        } else if (child->name == "STATEMENT" && (!cookiesNamed || isCookieStatement(*child))) {
            ++statements;
            for (const XmlNodePtr& part : child->children()) {
                if (part->name == "NON-IDENTIFIABLE") {
                    ++nonIdentifiable;
                }
                const G group = part->name == "PURPOSE"     ? G::kPurpose
                                : part->name == "RECIPIENT" ? G::kRecipient
                                : part->name == "RETENTION" ? G::kRetention
                                                            : G::kTest;
                std::vector<const XmlNode*> values;
                if (group != G::kTest) {
                    for (const XmlNodePtr& value : part->children()) {
                        values.push_back(value.get());
                    }
                } else if (part->name == "DATA-GROUP") {
                    for (const XmlNodePtr& data : part->children()) {
                        if (const XmlNodePtr categories = data->findChild("CATEGORIES")) {
                            for (const XmlNodePtr& category : categories->children()) {
                                if (const CompactTokenInfo* info =
                                        tokenFor(G::kCategories, category->name)) {
                                    add(std::string(info->token));
                                }
                            }
                        }
                    }
                }
                for (const XmlNode* value : values) {
                    const CompactTokenInfo* info = tokenFor(group, value->name);
                    if (!info) {
                        continue;
                    }
                    std::string token(info->token);
                    const std::string* required = value->attribute("REQUIRED");
                    if (info->takesSuffix && required && upper(*required) == "OPT-IN") {
                        token += 'i';
                    } else if (info->takesSuffix && required && upper(*required) == "OPT-OUT") {
                        token += 'o';
                    }
                    add(std::move(token));
                }
            }
        }
    }
    if (statements > 0 && nonIdentifiable == statements) {
        add("NID");
    }
    return implied;
}

std::vector<CompactMismatch> compareCompactPolicy(const CompactPolicy& compact,
                                                  const std::vector<std::string>& implied) {
    std::vector<CompactMismatch> mismatches;
    const auto impliedHas = [&implied](std::string_view base) {
        return std::any_of(implied.begin(), implied.end(),
                           [&](const std::string& token) { return token.starts_with(base); });
    };
    const auto words = [](const CompactTokenInfo& info) {
        const std::string element(info.element);
        switch (info.group) {
            case G::kPurpose:
                return "use for " + purposeWords(element);
            case G::kRecipient:
                return "sharing with " + recipientWords(element);
            case G::kRetention:
                return "keeping data " + retentionWords(element);
            case G::kCategories:
                return categoryWords(element) + " data";
            case G::kAccess:
                return element == "nonident" ? std::string("that no identified data is kept")
                                             : "access to " + accessWords(element);
            case G::kTest:
                return std::string("a test policy");
            case G::kNonIdentifiable:
                return std::string("no identifiable data");
            case G::kDisputes:
                return std::string("a way to resolve disputes");
            case G::kRemedies:
                break;
        }
        return "the remedy " + element;
    };
    for (const CompactToken& token : compact.tokens) {
        if (!impliedHas(token.info->token)) {
            mismatches.push_back({CompactMismatch::Kind::kUnsupported, token.text,
                                  token.text + " claims " + words(*token.info) +
                                      ", which the full policy does not declare"});
        }
    }
    for (const std::string& token : implied) {
        const CompactTokenInfo* info = findToken(std::string_view(token).substr(0, 3));
        if (info && !compact.has(info->token)) {
            mismatches.push_back({CompactMismatch::Kind::kOmitted, token,
                                  "the full policy declares " + words(*info) +
                                      ", and the compact policy has no " +
                                      std::string(info->token)});
        }
    }
    return mismatches;
}

}  // namespace perchlight
