#include "prefs/CustomRuleSet.h"

#include <array>
#include <cstdio>
#include <vector>

#include "core/XmlFile.h"
#include "core/XmlNode.h"
#include "prefs/PreferenceFile.h"
#include "util/Error.h"

namespace perchlight {
namespace {

// The texts keep the spaces the dialog has always shown.
constexpr std::string_view kHealthBoxes[] = {
    "For analysis, marketing, or to make decisions that may affect what content or ads I see, etc.",
    "To share with other companies (other than those helping the web site provide services to me)"};
constexpr std::string_view kFinancialBoxes[] = {
    "For analysis, marketing, or to make decisions that may affect what content or ads I see, etc.",
    "To share with other companies (other than those helping the web site provide services to me)"};
constexpr std::string_view kIdentifiedBoxes[] = {
    "Via other means (email, postal mail, etc.)",
    "Via telephone ",
    "And do not allow me to remove myself from marketing/mailing lists",
    "To determine my habits, interests, or other characteristics",
    "To share with other companies (other than those helping the website provide services to me)",
    "Warn me at web sites that do not allow me to find out what data they have about me"};
constexpr std::string_view kAnonymousBoxes[] = {
    "To determine my habits, interests, or other characteristics",
    "To share with other companies (other than those helping the website provide services to me)"};
constexpr CustomWarningGroup kWarningGroups[] = {
    {"HEALTH OR MEDICAL INFORMATION", kHealthBoxes},
    {"FINANCIAL OR PURCHASE INFORMATION", kFinancialBoxes},
    {"PERSONALLY IDENTIFIED INFORMATION (name, address, phone number, email address, etc.) ",
     kIdentifiedBoxes},
    {"NON-PERSONALLY IDENTIFIED INFORMATION (demographics, interests, web sites visited, etc.)",
     kAnonymousBoxes},
};

using enum CustomSetting;

enum class Data { kNone, kHealth, kFinancial, kIdentified };
enum class Shape { kStatement, kNoAccess, kCatchAll };

constexpr const char* kAlways = "always";
constexpr const char* kOptOut = "opt-out";
constexpr const char* kPA = "p3p:pseudo-analysis";
constexpr const char* kPD = "p3p:pseudo-decision";
constexpr const char* kIA = "p3p:individual-analysis";
constexpr const char* kID = "p3p:individual-decision";
constexpr const char* kCO = "p3p:contact";
constexpr const char* kTE = "p3p:telemarketing";
constexpr const char* kOP = "p3p:other-purpose";

// One generated rule. A rule without a setting is written whatever the settings are.
struct Rule {
    std::optional<CustomSetting> setting;
    Shape shape;
    const char* required;
    std::vector<const char*> purposes;
    bool recipients;
    Data data;
    const char* description;
};

const std::vector<Rule>& rules() {
    static const std::vector<Rule> table = {
        {healthUse,
         Shape::kStatement,
         kAlways,
         {kPA, kPD, kIA, kID},
         false,
         Data::kHealth,
         "Site may use health or medical information for analysis or to make decisions that may "
         "affect what content or ads you see, etc."},
        {healthUse,
         Shape::kStatement,
         kAlways,
         {kCO, kTE},
         false,
         Data::kHealth,
         "Site may use health or medical information for marketing"},
        {healthUse,
         Shape::kStatement,
         kOptOut,
         {kPA, kPD, kIA, kID},
         false,
         Data::kHealth,
         "Unless you opt-out, site may use health or medical information for analysis or to make "
         "decisions that may affect what content or ads you see, etc."},
        {healthUse,
         Shape::kStatement,
         kOptOut,
         {kCO, kTE},
         false,
         Data::kHealth,
         "Unless you opt-out, site may use health or medical information for marketing"},
        {healthShare,
         Shape::kStatement,
         kAlways,
         {},
         true,
         Data::kHealth,
         "Site may share health or medical information with other companies (other than those "
         "helping the site provide services to you)"},
        {healthShare,
         Shape::kStatement,
         kOptOut,
         {},
         true,
         Data::kHealth,
         "Unless you opt-out, site may share health or medical information with other companies "
         "(other than those helping the site provide services to you)"},
        {financialUse,
         Shape::kStatement,
         kAlways,
         {kPA, kPD, kIA, kID},
         false,
         Data::kFinancial,
         "Site may use financial information or information about your purchases for analysis or "
         "to make decisions that may affect what content or ads you see, etc."},
        {financialUse,
         Shape::kStatement,
         kAlways,
         {kCO, kTE},
         false,
         Data::kFinancial,
         "Site may use financial information or information about your purchases for marketing"},
        {financialUse,
         Shape::kStatement,
         kOptOut,
         {kPA, kPD, kIA, kID},
         false,
         Data::kFinancial,
         "Unless you opt-out, site may use financial information or information about your "
         "purchases for analysis or to make decisions that may affect what content or ads you "
         "see, etc."},
        {financialUse,
         Shape::kStatement,
         kOptOut,
         {kCO, kTE},
         false,
         Data::kFinancial,
         "Unless you opt-out, site may use financial information or information about your "
         "purchases for marketing"},
        {financialShare,
         Shape::kStatement,
         kAlways,
         {},
         true,
         Data::kFinancial,
         "Site may share financial information or information about your purchases with other "
         "companies (other than those helping the site provide services to you)"},
        {financialShare,
         Shape::kStatement,
         kOptOut,
         {},
         true,
         Data::kFinancial,
         "Unless you opt-out, site may share financial information or information about your "
         "purchases with other companies (other than those helping the site provide services to "
         "you)"},
        {contactPhone,
         Shape::kStatement,
         kAlways,
         {kTE},
         false,
         Data::kNone,
         "Site may contact you via telephone to interest you in other services or products"},
        {contactPhone,
         Shape::kStatement,
         kOptOut,
         {kTE},
         false,
         Data::kNone,
         "Unless you opt-out, site may contact you via telephone to interest you in other "
         "services or products"},
        {contactOther,
         Shape::kStatement,
         kAlways,
         {kCO},
         false,
         Data::kNone,
         "Site may contact you through means other than telephone (email, postal mail, etc.) to "
         "try to interest you in other services or products"},
        {contactOther,
         Shape::kStatement,
         kOptOut,
         {kCO},
         false,
         Data::kNone,
         "Unless you opt-out, site may contact you through means other than telephone (email, "
         "postal mail, etc.) to interest you in other services or products"},
        {noRemoval,
         Shape::kStatement,
         kAlways,
         {kCO, kTE},
         false,
         Data::kNone,
         "Site may contact you to interest you in other services or products and does not allow "
         "you to remove yourself from marketing/mailing list"},
        {identifiedProfile,
         Shape::kStatement,
         kAlways,
         {kIA},
         false,
         Data::kNone,
         "Site may keep information that personally identifies you to determine your habits, "
         "interests, or other characteristics for research and analysis purposes"},
        {identifiedProfile,
         Shape::kStatement,
         kAlways,
         {kID},
         false,
         Data::kNone,
         "Site may keep information that personally identifies you to determine your habits, "
         "interests, or other characteristics for making decisions about what content or ads you "
         "see at the site, etc."},
        {identifiedProfile,
         Shape::kStatement,
         kOptOut,
         {kIA},
         false,
         Data::kNone,
         "Unless you opt-out, site may keep information that personally identifies you to "
         "determine your habits, interests, or other characteristics for research and analysis "
         "purposes"},
        {identifiedProfile,
         Shape::kStatement,
         kOptOut,
         {kID},
         false,
         Data::kNone,
         "Unless you opt-out, site may keep information that personally identifies you to "
         "determine your habits, interests, or other characteristics for making decisions about "
         "what content or ads you see at the site, etc."},
        {identifiedShare,
         Shape::kStatement,
         kAlways,
         {},
         true,
         Data::kIdentified,
         "Site may share information that personally identifies you with other companies (other "
         "than those helping the site provide services to you)"},
        {identifiedShare,
         Shape::kStatement,
         kOptOut,
         {},
         true,
         Data::kIdentified,
         "Unless you opt-out, site may share information that personally identifies you with "
         "other companies (other than those helping the site provide services to you)"},
        {noAccess,
         Shape::kNoAccess,
         nullptr,
         {},
         false,
         Data::kNone,
         "Site does not allow you to find out what data they have about you"},
        {anonymousProfile,
         Shape::kStatement,
         kAlways,
         {kPA},
         false,
         Data::kNone,
         "Site may keep information that does not personally identify you to determine your "
         "habits, interests, or other characteristics for research and analysis purposes"},
        {anonymousProfile,
         Shape::kStatement,
         kAlways,
         {kPD},
         false,
         Data::kNone,
         "Site may keep information that does not personally identify you to determine your "
         "habits, interests, or other characteristics for making decisions about what content or "
         "ads you see at the site, etc."},
        {anonymousProfile,
         Shape::kStatement,
         kOptOut,
         {kPA},
         false,
         Data::kNone,
         "Unless you opt-out, site may keep information that does not personally identify you to "
         "determine your habits, interests, or other characteristics for research and analysis "
         "purposes"},
        {anonymousProfile,
         Shape::kStatement,
         kOptOut,
         {kPD},
         false,
         Data::kNone,
         "Unless you opt-out, site may keep information that does not personally identify you to "
         "determine your habits, interests, or other characteristics for making decisions about "
         "what content or ads you see at the site, etc."},
        {anonymousShare,
         Shape::kStatement,
         kAlways,
         {},
         true,
         Data::kNone,
         "Site may share information that does not personally identify you with other companies "
         "(other than those helping the site provide services to you)"},
        {anonymousShare,
         Shape::kStatement,
         kOptOut,
         {},
         true,
         Data::kNone,
         "Unless you opt-out, site may share information that does not personally identify you "
         "with other companies (other than those helping the site provide services to you)"},
        {std::nullopt,
         Shape::kStatement,
         kAlways,
         {kOP},
         false,
         Data::kNone,
         "This site collects data for an unknown purpose"},
        {std::nullopt,
         Shape::kStatement,
         kOptOut,
         {kOP},
         false,
         Data::kNone,
         "Unless you opt-out, this site collects data for an unknown purpose"},
        {std::nullopt, Shape::kCatchAll, nullptr, {}, false, Data::kNone, nullptr},
    };
    return table;
}

constexpr std::array<std::string_view, kCustomSettingCount> kSettingNames = {
    "healthUse",       "healthShare",  "financialUse",     "financialShare",
    "contactOther",    "contactPhone", "noRemoval",        "identifiedProfile",
    "identifiedShare", "noAccess",     "anonymousProfile", "anonymousShare",
};

const std::vector<std::string> kConnective = {"appel:connective"};

std::vector<const char*> categoriesOf(Data data) {
    switch (data) {
        case Data::kHealth:
            return {"p3p:health"};
        case Data::kFinancial:
            return {"p3p:purchase", "p3p:financial"};
        case Data::kIdentified:
            return {"p3p:physical", "p3p:online", "p3p:government"};
        case Data::kNone:
            break;
    }
    return {};
}

// An element whose children are written by body.
template <typename Body>
void writeContainer(XmlFile& file, const std::string& name, const std::vector<std::string>& names,
                    const std::vector<std::string>& values, Body body) {
    XmlElementWriter element(file, false);
    element.setNodeName(name, names, values);
    body();
    element.finish();
}

void writeEmpty(XmlFile& file, const std::string& name, const std::vector<std::string>& names = {},
                const std::vector<std::string>& values = {}) {
    XmlElementWriter element(file, true);
    element.setNodeName(name, names, values);
    element.finish();
}

// A list of children under a parent that carries the "or" connective when it holds more than one.
void writeChoice(XmlFile& file, const std::string& parent, const std::vector<const char*>& children,
                 const std::vector<std::string>& childNames,
                 const std::vector<std::string>& childValues, bool alwaysConnective = false) {
    const bool connective = alwaysConnective || children.size() > 1;
    writeContainer(file, parent, connective ? kConnective : std::vector<std::string>{},
                   connective ? std::vector<std::string>{"or"} : std::vector<std::string>{}, [&] {
                       for (const char* child : children) {
                           writeEmpty(file, child, childNames, childValues);
                       }
                   });
}

void writeStatement(XmlFile& file, const Rule& rule) {
    const bool conjunction = rule.data == Data::kIdentified;
    const std::vector<std::string> required = {"required"};
    const std::vector<std::string> requiredValue = {rule.required};
    writeContainer(
        file, "p3p:STATEMENT", conjunction ? kConnective : std::vector<std::string>{},
        conjunction ? std::vector<std::string>{"and"} : std::vector<std::string>{}, [&] {
            if (!rule.purposes.empty()) {
                writeChoice(file, "p3p:PURPOSE", rule.purposes, required, requiredValue);
            }
            if (rule.recipients) {
                writeChoice(file, "p3p:RECIPIENT",
                            {"p3p:same", "p3p:other-recipient", "p3p:unrelated", "p3p:public"},
                            required, requiredValue, true);
            }
            if (rule.data != Data::kNone) {
                writeContainer(file, "p3p:DATA-GROUP", {}, {}, [&] {
                    writeContainer(file, "p3p:DATA", {}, {}, [&] {
                        writeChoice(file, "p3p:CATEGORIES", categoriesOf(rule.data), {}, {});
                    });
                });
            }
        });
}

void writeRule(XmlFile& file, const Rule& rule) {
    if (rule.shape == Shape::kCatchAll) {
        writeContainer(file, "appel:RULE", {"behavior"}, {"request"},
                       [&] { writeEmpty(file, "appel:OTHERWISE"); });
        return;
    }
    writeContainer(file, "appel:RULE", {"behavior", "description"}, {"limited", rule.description},
                   [&] {
                       writeContainer(file, "p3p:POLICY", {}, {}, [&] {
                           if (rule.shape == Shape::kNoAccess) {
                               writeContainer(file, "p3p:ACCESS", {}, {},
                                              [&] { writeEmpty(file, "p3p:none"); });
                           } else {
                               writeStatement(file, rule);
                           }
                       });
                   });
}

// Read-back helpers: names and values of a parsed tree are compared upper-cased.
std::string upperAttribute(const XmlNode& node, const std::string& name) {
    const std::string* value = node.attribute(name);
    return value ? upperCaseAscii(*value) : std::string();
}

bool connectiveIs(const XmlNode& node, const std::string& allowed) {
    const std::string* connective = node.attribute("APPEL:CONNECTIVE");
    return connective == nullptr || upperCaseAscii(*connective) == allowed;
}

bool requiredIsAny(const XmlNode& node) {
    const std::string* required = node.attribute("REQUIRED");
    if (required == nullptr) {
        return true;
    }
    const std::string value = upperCaseAscii(*required);
    return value == "ALWAYS" || value == "OPT-OUT";
}

void gatherPurposes(const XmlNode& purpose, StatementFeatures& features) {
    for (const XmlNodePtr& child : purpose.children()) {
        const std::string& name = child->name;
        const std::string required = upperAttribute(*child, "REQUIRED");
        if ((name == "P3P:PSEUDO-ANALYSIS" || name == "P3P:PSEUDO-DECISION") &&
            requiredIsAny(*child)) {
            features.anonymousProfiling = true;
        } else if ((name == "P3P:INDIVIDUAL-ANALYSIS" || name == "P3P:INDIVIDUAL-DECISION") &&
                   requiredIsAny(*child)) {
            features.identifiedProfiling = true;
        } else if (name == "P3P:CONTACT") {
            features.contactAlways |= required == "ALWAYS";
            features.contactOptOut |= required == "OPT-OUT";
        } else if (name == "P3P:TELEMARKETING") {
            features.telephoneAlways |= required == "ALWAYS";
            features.telephoneOptOut |= required == "OPT-OUT";
        }
    }
}

void gatherRecipients(const XmlNode& recipient, StatementFeatures& features) {
    for (const XmlNodePtr& child : recipient.children()) {
        const std::string& name = child->name;
        if ((name == "P3P:SAME" || name == "P3P:OTHER-RECIPIENT" || name == "P3P:UNRELATED" ||
             name == "P3P:PUBLIC") &&
            requiredIsAny(*child)) {
            features.share = true;
        }
    }
}

void gatherCategories(const XmlNode& categories, StatementFeatures& features) {
    for (const XmlNodePtr& child : categories.children()) {
        const std::string& name = child->name;
        features.health |= name == "P3P:HEALTH";
        features.financial |= name == "P3P:FINANCIAL" || name == "P3P:PURCHASE";
        features.identifiedData |=
            name == "P3P:PHYSICAL" || name == "P3P:ONLINE" || name == "P3P:GOVERNMENT";
    }
}

void gatherDataGroup(const XmlNode& group, StatementFeatures& features) {
    for (const XmlNodePtr& data : group.children()) {
        if (data->name != "P3P:DATA") {
            continue;
        }
        for (const XmlNodePtr& categories : data->children()) {
            if (categories->name == "P3P:CATEGORIES" && connectiveIs(*categories, "OR")) {
                gatherCategories(*categories, features);
            }
        }
    }
}

void applyFeatures(const StatementFeatures& f, CustomSettings& settings) {
    if (f.share) {
        settings[identifiedShare] = settings[identifiedShare] || f.identifiedData;
        settings[financialShare] = settings[financialShare] || f.financial;
        settings[healthShare] = settings[healthShare] || f.health;
        if (!f.identifiedData && !f.financial && !f.health) {
            settings[anonymousShare] = true;
        }
    }
    const bool anyPurpose = f.anonymousProfiling || f.identifiedProfiling || f.contactAlways ||
                            f.contactOptOut || f.telephoneAlways || f.telephoneOptOut;
    if (f.financial && anyPurpose) {
        settings[financialUse] = true;
    }
    if (f.health && anyPurpose) {
        settings[healthUse] = true;
    }
    if (f.financial || f.health) {
        return;
    }
    settings[anonymousProfile] = settings[anonymousProfile] || f.anonymousProfiling;
    settings[identifiedProfile] = settings[identifiedProfile] || f.identifiedProfiling;
    if (f.telephoneAlways && f.contactAlways) {
        settings[noRemoval] = true;
        return;
    }
    if (f.telephoneAlways || f.telephoneOptOut) {
        settings[contactPhone] = true;
    }
    if (f.contactAlways || f.contactOptOut) {
        settings[contactOther] = true;
    }
}

void readPolicy(const XmlNode& policy, CustomSettings& settings) {
    for (const XmlNodePtr& child : policy.children()) {
        if (child->name == "P3P:ACCESS" && child->hasChild("P3P:NONE")) {
            settings[noAccess] = true;
        } else if (child->name == "P3P:STATEMENT" && connectiveIs(*child, "AND")) {
            applyFeatures(CustomRuleSet::statementFeatures(*child), settings);
        }
    }
}

}  // namespace

std::string_view CustomRuleSet::settingName(CustomSetting setting) {
    return kSettingNames.at(static_cast<std::size_t>(setting));
}

std::optional<CustomSetting> CustomRuleSet::settingNamed(std::string_view name) {
    for (std::size_t i = 0; i < kSettingNames.size(); ++i) {
        if (kSettingNames[i] == name) {
            return static_cast<CustomSetting>(i);
        }
    }
    return std::nullopt;
}

std::string CustomRuleSet::creationTime(std::time_t when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        local = std::tm{};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %4d\n",
                  kDays[(local.tm_wday % 7 + 7) % 7], kMonths[(local.tm_mon % 12 + 12) % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return text;
}

void CustomRuleSet::write(const std::string& path, const CustomSettings& settings,
                          const std::string& createdOn) {
    PreferenceFile::writeXml(path, [&](XmlFile& file) { writeRuleSet(file, settings, createdOn); });
}

void CustomRuleSet::writeRuleSet(XmlFile& file, const CustomSettings& settings,
                                 const std::string& createdOn) {
    writeContainer(file, "appel:RULESET", {"xmlns:appel", "xmlns:p3p", "crtdby", "crtdon"},
                   {"http://www.w3.org/2001/02/APPELv1", "http://www.w3.org/2000/12/P3Pv1",
                    "Corvane Perchlight", createdOn},
                   [&] {
                       for (const Rule& rule : rules()) {
                           if (!rule.setting || settings[*rule.setting]) {
                               writeRule(file, rule);
                           }
                       }
                   });
}

CustomSettings CustomRuleSet::read(const std::string& path) {
    // A rule set that cannot be read expresses no setting.
    const XmlNodePtr root = XmlNode::parseXmlFileOrNothing(path);
    return root ? fromRuleSet(*root) : CustomSettings{};
}

CustomSettings CustomRuleSet::fromRuleSet(const XmlNode& root) {
    CustomSettings settings;
    if (root.name != "APPEL:RULESET") {
        return settings;
    }
    for (const XmlNodePtr& rule : root.children()) {
        const std::string behavior = upperAttribute(*rule, "BEHAVIOR");
        if (rule->name != "APPEL:RULE" || (behavior != "LIMITED" && behavior != "BLOCK")) {
            continue;
        }
        for (const XmlNodePtr& policy : rule->children()) {
            if (policy->name == "P3P:POLICY") {
                readPolicy(*policy, settings);
            }
        }
    }
    return settings;
}

StatementFeatures CustomRuleSet::statementFeatures(const XmlNode& statement) {
    StatementFeatures features;
    for (const XmlNodePtr& child : statement.children()) {
        if (child->name == "P3P:PURPOSE" && connectiveIs(*child, "OR")) {
            gatherPurposes(*child, features);
        } else if (child->name == "P3P:RECIPIENT" && connectiveIs(*child, "OR")) {
            gatherRecipients(*child, features);
        } else if (child->name == "P3P:DATA-GROUP") {
            gatherDataGroup(*child, features);
        }
    }
    return features;
}

std::span<const CustomWarningGroup> customWarningGroups() {
    return kWarningGroups;
}

}  // namespace perchlight
