#include "summary/PolicySummary.h"

#include <algorithm>

#include <array>
#include <utility>

#include "core/MatchResult.h"
#include "core/XmlNode.h"

namespace perchlight {
namespace {

// The texts of the categories of a CATEGORIES element by category key, each marked " (optional)"
// when the data's OPTIONAL value is "yes" in any case.
std::map<std::string, std::string> categoryTexts(const XmlNode& categories,
                                                 std::string_view optional);

using TextTable = std::span<const std::pair<std::string_view, std::string_view>>;

constexpr std::array<BusinessField, 19> kBusinessFields = {{
    {"#business.name", "BusinessName", "business name", &PolicySummary::businessName},
    {"#business.contact-info.postal.name", "BusinessPostalName", "postal name",
     &PolicySummary::businessPostalName},
    {"#business.contact-info.postal.street", "BusinessPostalStreet", "street",
     &PolicySummary::businessPostalStreet},
    {"#business.contact-info.postal.city", "BusinessPostalCity", "city",
     &PolicySummary::businessPostalCity},
    {"#business.contact-info.postal.stateprov", "BusinessPostalStateprov", "state or province",
     &PolicySummary::businessPostalStateprov},
    {"#business.contact-info.postal.postalcode", "BusinessPostalCode", "postal code",
     &PolicySummary::businessPostalCode},
    {"#business.contact-info.postal.country", "BusinessPostalCountry", "country",
     &PolicySummary::businessPostalCountry},
    {"#business.contact-info.telecom.telephone.intcode", "BusinessTelephoneIntCode",
     "telephone international code", &PolicySummary::businessTelephoneIntCode},
    {"#business.contact-info.telecom.telephone.loccode", "BusinessTelephoneLocCode",
     "telephone local code", &PolicySummary::businessTelephoneLocCode},
    {"#business.contact-info.telecom.telephone.number", "BusinessTelephoneNumber",
     "telephone number", &PolicySummary::businessTelephoneNumber},
    {"#business.contact-info.telecom.telephone.ext", "BusinessTelephoneExt", "telephone extension",
     &PolicySummary::businessTelephoneExt},
    {"#business.contact-info.telecom.telephone.comment", "BusinessTelephoneComment",
     "telephone comment", &PolicySummary::businessTelephoneComment},
    {"#business.contact-info.telecom.fax.intcode", "BusinessFaxIntCode", "fax international code",
     &PolicySummary::businessFaxIntCode},
    {"#business.contact-info.telecom.fax.loccode", "BusinessFaxLocCode", "fax local code",
     &PolicySummary::businessFaxLocCode},
    {"#business.contact-info.telecom.fax.number", "BusinessFaxNumber", "fax number",
     &PolicySummary::businessFaxNumber},
    {"#business.contact-info.telecom.fax.ext", "BusinessFaxExt", "fax extension",
     &PolicySummary::businessFaxExt},
    {"#business.contact-info.telecom.fax.comment", "BusinessFaxComment", "fax comment",
     &PolicySummary::businessFaxComment},
    {"#business.contact-info.online.email", "BusinessOnlineEmail", "e-mail",
     &PolicySummary::businessOnlineEmail},
    {"#business.contact-info.online.uri", "BusinessOnlineURI", "web address",
     &PolicySummary::businessOnlineUri},
}};

constexpr std::pair<std::string_view, std::string_view> kAccessTexts[] = {
    {"NONIDENT", "This site does not keep any information identified with you"},
    {"ALL", "This site gives you access to all of its information identified with you"},
    {"CONTACT-AND-OTHER",
     "This site gives you access to your contact information and some of its other information "
     "identified with you"},
    {"IDENT-CONTACT", "This site gives you access to only your contact information in its records"},
    {"OTHER-IDENT", "This site does not give you access to its information about you"},
    {"NONE", "This site does not give you access to its information about you"},
};

constexpr std::pair<std::string_view, std::string_view> kPurposeTexts[] = {
    {"CURRENT", "To provide the service you requested"},
    {"ADMIN", "To perform web site and system administration"},
    {"DEVELOP", "For research and development, but without connecting any information to you"},
    {"CUSTOMIZATION", "To provide the custom services you requested"},
    {"TAILORING", "To customize the site for your current visit only"},
    {"PSEUDO-ANALYSIS",
     "To do research and analysis in which your information may be linked to an ID code but not "
     "to your personal identity"},
    {"PSEUDO-DECISION",
     "To make decisions that directly affect you without identifying you, for example to display "
     "content or ads based on links you clicked on previously"},
    {"INDIVIDUAL-ANALYSIS", "To do research and analysis that uses information about you"},
    {"INDIVIDUAL-DECISION",
     "To make decisions that directly affect you using information about you, for example to "
     "recommend products or services based on your previous purchases"},
    {"CONTACT",
     "To contact you through means other than telephone (for example, email or postal mail) to "
     "market services or products"},
    {"HISTORICAL",
     "To aid in historical preservation as governed by a law or policy described in this privacy "
     "policy"},
    {"TELEMARKETING", "To contact you by telephone to market services or products"},
};

constexpr std::pair<std::string_view, std::string_view> kRecipientTexts[] = {
    {"OURS",
     "Companies that help this site fulfill your requests (for example, shipping a product to "
     "you), but these companies must not use your information for any other purpose"},
    {"DELIVERY",
     "Delivery companies that help this site fulfill your requests and who may also use your "
     "information in other ways"},
    {"SAME", "Companies that have privacy policies similar to this site's"},
    {"OTHER-RECIPIENT",
     "Companies that are accountable to this site, though their privacy policies may be different "
     "from this site's"},
    {"UNRELATED", "Other companies whose privacy policies are unknown to this site"},
    {"PUBLIC",
     "People who may access your information from a public area, such as a bulletin board, chat "
     "room, or directory"},
};

constexpr std::pair<std::string_view, std::string_view> kCategoryTexts[] = {
    {"PHYSICAL", "Name, address, phone number, or other contact information"},
    {"ONLINE", " Email address or other online contact information"},
    {"UNIQUEID",
     " Website login IDs and other identifiers (excluding government IDs and financial account "
     "numbers)"},
    {"PURCHASE", "Information about your purchases, including payment methods"},
    {"FINANCIAL", "Financial information such as accounts, balances, and transaction history"},
    {"COMPUTER",
     "Information about the computer you are using, such as its hardware, software, or Internet "
     "address"},
    {"NAVIGATION", "Which pages you visited on this web site and how long you stayed at each page"},
    {"INTERACTIVE",
     "Activities you engaged in at this web site, such as your searches and transactions"},
    {"DEMOGRAPHIC",
     "Information about social and economic categories that might apply to you, such as your "
     "gender, age, income, or where you are from"},
    {"CONTENT",
     "Messages you send to us or post on this site, such as email, bulletin board postings, or "
     "chat room conversations"},
    {"STATE", "Cookies and mechanisms that perform similar functions"},
    {"POLITICAL",
     "Which groups you might be a member of such as religious organizations, trade unions, and "
     "political parties"},
    {"HEALTH",
     "Health information such as information about your medical condition or your interest in "
     "health-related topics, services, or products"},
    {"PREFERENCE", "Information about your tastes or interests"},
    {"LOCATION",
     "Information about an exact geographic location, such as data transmitted by your "
     "GPS-enabled device"},
    {"GOVERNMENT", "Government-issued identifiers such as social security numbers"},
};

std::string textFor(TextTable table, std::string_view name) {
    for (const auto& [key, text] : table) {
        if (key == name) {
            return std::string(text);
        }
    }
    return {};
}

std::string attributeOr(const XmlNode& node, const std::string& key) {
    const std::string* value = node.attribute(key);
    return value ? *value : std::string();
}

std::string requiredSuffix(const XmlNode& value) {
    const std::string required = upperCaseAscii(attributeOr(value, "REQUIRED"));
    if (required == "OPT-IN") {
        return " --  only if you request this";
    }
    if (required == "OPT-OUT") {
        return " --  unless you opt-out";
    }
    return {};
}

// Purpose or recipient texts by element name; each "other" element is kept apart by a number.
void readPractices(const XmlNode& practices, TextTable texts, std::string_view other,
                   std::string_view otherPrefix, std::map<std::string, std::string>& into) {
    int others = 0;
    for (const XmlNodePtr& value : practices.children()) {
        const bool isOther = !other.empty() && value->name == other;
        std::string text =
            isOther ? std::string(otherPrefix) + value->text : textFor(texts, value->name);
        text += requiredSuffix(*value);
        if (text.empty()) {
            continue;
        }
        into[isOther ? value->name + std::to_string(++others) : value->name] = std::move(text);
    }
}

void readBusiness(const XmlNode& entity, PolicySummary& summary) {
    if (entity.children().empty() || entity.children().front()->name != "DATA-GROUP") {
        return;
    }
    for (const XmlNodePtr& data : entity.children().front()->children()) {
        if (data->name != "DATA") {
            break;
        }
        const std::string* ref = data->attribute("REF");
        if (ref == nullptr) {
            continue;
        }
        for (const BusinessField& field : kBusinessFields) {
            if (field.reference == *ref) {
                summary.*field.member = data->text;
            }
        }
    }
}

// Adds the category texts of a repeated data reference to those it had: editors write one
// reference several times with different categories, and each of them applies.
void mergeSubItems(std::map<std::string, std::string>& into,
                   std::map<std::string, std::string> more) {
    std::size_t others = std::count_if(into.begin(), into.end(), [](const auto& item) {
        return item.first.starts_with("OTHER-CATEGORY");
    });
    for (auto& [key, text] : more) {
        if (!key.starts_with("OTHER-CATEGORY")) {
            into.emplace(key, std::move(text));
            continue;
        }
        // A structured binding is not captured by clang 14, which builds the fuzz targets.
        const std::string& other = text;
        const bool known = std::any_of(into.begin(), into.end(),
                                       [&](const auto& item) { return item.second == other; });
        if (!known) {
            into.emplace("OTHER-CATEGORY" + std::to_string(++others), std::move(text));
        }
    }
}

void readData(const XmlNode& group, StatementRecord& record) {
    for (const XmlNodePtr& data : group.children()) {
        if (data->name != "DATA") {
            continue;
        }
        const std::string optional = attributeOr(*data, "OPTIONAL");
        const XmlNodePtr longDescription = data->findChild("LONG-DESCRIPTION");
        const std::string longText = longDescription ? longDescription->text : std::string();
        const std::string* shortDescription = data->attribute("SHORT-DESCRIPTION");
        const std::string* ref = data->attribute("REF");
        const std::string optionalMark = upperCaseAscii(optional) == "YES" ? " (optional)" : "";
        if (ref != nullptr && (!longText.empty() || shortDescription != nullptr)) {
            DataEntry entry;
            entry.label = (longText.empty() ? *shortDescription : longText) + optionalMark;
            if (!data->children().empty() && data->attribute("VARIABLE_CATEGORY") != nullptr) {
                for (const XmlNodePtr& child : data->children()) {
                    if (child->name == "CATEGORIES") {
                        entry.subItems = categoryTexts(*child, optional);
                    }
                }
            }
            const auto [known, added] = record.data.try_emplace(*ref, entry);
            if (!added) {
                mergeSubItems(known->second.subItems, std::move(entry.subItems));
            }
            continue;
        }
        for (const XmlNodePtr& child : data->children()) {
            if (child->name != "CATEGORIES") {
                continue;
            }
            for (auto& [key, text] : categoryTexts(*child, optional)) {
                record.data[key] = DataEntry{std::move(text), {}};
            }
        }
    }
}

StatementRecord readStatement(const XmlNode& statement) {
    StatementRecord record;
    for (const XmlNodePtr& child : statement.children()) {
        if (child->name == "EXTENSION") {
            for (const XmlNodePtr& info : child->children()) {
                if (info->name == "GROUP-INFO" && info->attribute("NAME") != nullptr) {
                    record.name = *info->attribute("NAME");
                    break;
                }
            }
        } else if (child->name == "PURPOSE") {
            readPractices(*child, kPurposeTexts, "OTHER-PURPOSE",
                          "For other uses: ", record.purposes);
        } else if (child->name == "RECIPIENT") {
            readPractices(*child, kRecipientTexts, "", "", record.recipients);
        } else if (child->name == "DATA-GROUP") {
            readData(*child, record);
        } else if (child->name == "CONSEQUENCE") {
            record.consequence = child->text;
        }
    }
    return record;
}

void readDisputes(const XmlNode& group, PolicySummary& summary) {
    for (const XmlNodePtr& disputes : group.children()) {
        if (disputes->name != "DISPUTES") {
            continue;
        }
        DisputeRecord record;
        record.service = attributeOr(*disputes, "SERVICE");
        record.shortDescription = attributeOr(*disputes, "SHORT-DESCRIPTION");
        for (const XmlNodePtr& child : disputes->children()) {
            if (child->name == "LONG-DESCRIPTION") {
                record.longDescription = child->text;
            } else if (child->name == "IMG") {
                record.imageSource = attributeOr(*child, "SRC");
                record.imageAlternativeText = attributeOr(*child, "ALT");
            }
        }
        summary.disputes.push_back(std::move(record));
    }
}

}  // namespace

std::span<const BusinessField> businessFields() {
    return kBusinessFields;
}

void buildSummary(const XmlNode& policy, MatchResult& result) {
    PolicySummary& summary = result.summary = PolicySummary{};
    for (const XmlNodePtr& child : policy.children()) {
        if (child->name == "ACCESS") {
            if (!child->children().empty()) {
                if (std::string text = textFor(kAccessTexts, child->children().front()->name);
                    !text.empty()) {
                    summary.access = std::move(text);
                }
            }
        } else if (child->name == "ENTITY") {
            readBusiness(*child, summary);
        } else if (child->name == "STATEMENT") {
            summary.statements.push_back(readStatement(*child));
        } else if (child->name == "DISPUTES-GROUP") {
            readDisputes(*child, summary);
        }
    }
}

namespace {

std::map<std::string, std::string> categoryTexts(const XmlNode& categories,
                                                 std::string_view optional) {
    const std::string mark = upperCaseAscii(std::string(optional)) == "YES" ? " (optional)" : "";
    std::map<std::string, std::string> texts;
    int others = 0;
    for (const XmlNodePtr& category : categories.children()) {
        const bool isOther = category->name == "OTHER-CATEGORY";
        std::string text = isOther ? "Other types of data: " +
                                         (category->text.empty() ? "not stated" : category->text)
                                   : textFor(kCategoryTexts, category->name);
        text += mark;
        if (!text.empty()) {
            texts[isOther ? category->name + std::to_string(++others) : category->name] =
                std::move(text);
        }
    }
    return texts;
}

}  // namespace

}  // namespace perchlight
