#include "prefs/CookiePreferences.h"

#include "core/XmlFile.h"
#include "core/XmlNode.h"
#include "prefs/PreferenceFile.h"
#include "util/Error.h"

namespace perchlight {
namespace {

std::string attributeOf(const XmlNode& node, const std::string& name) {
    const std::string* value = node.attribute(name);
    return value ? *value : std::string();
}

std::int32_t ruleValueOf(const std::string& upperCased) {
    if (upperCased == "ALL") {
        return kCookieRuleAll;
    }
    if (upperCased == "NONE") {
        return kCookieRuleNone;
    }
    return kCookieRuleMatching;
}

}  // namespace

const char* CookiePreferences::ruleValueText(std::int32_t value) {
    switch (value) {
        case kCookieRuleAll:
            return "ALL";
        case kCookieRuleNone:
            return "NONE";
        default:
            return "MATCHING";
    }
}

bool CookiePreferences::read(const std::string& path) {
    // Another process may be replacing the file right now, or may have left it broken: what is
    // held stays until a whole rule set has been read.
    const XmlNodePtr root = XmlNode::parseXmlFileOrNothing(path);
    if (!root || root->name != "COOKIERULESET") {
        return false;
    }
    CookiePreferences next = *this;
    next.siteOverrides.clear();
    next.take(*root);
    *this = std::move(next);
    return true;
}

void CookiePreferences::take(const XmlNode& root) {
    for (const XmlNodePtr& child : root.children()) {
        if (child->name == "COOKIERULE") {
            const std::string domain = attributeOf(*child, "DOMAIN");
            const std::string accept = attributeOf(*child, "ACCEPT");
            if (!domain.empty() && accept == "ALL") {
                siteOverrides[domain] = kOverrideAlwaysAllow;
            } else if (!domain.empty() && accept == "NONE") {
                siteOverrides[domain] = kOverrideNeverAllow;
            }
        } else if (child->name == "DEFAULTCOOKIERULE") {
            const std::string accept = upperCaseAscii(attributeOf(*child, "ACCEPT"));
            const std::string headers = upperCaseAscii(attributeOf(*child, "HEADERS"));
            const std::string crossSite = upperCaseAscii(attributeOf(*child, "CROSS-SITE"));
            if (headers.empty() && crossSite.empty()) {
                setting = ruleValueOf(accept);  // the three general values share the codes
            } else {
                setting = kCookiesCustom;
                customAccept = ruleValueOf(accept);
                customHeaders = ruleValueOf(headers);
                customCrossSite = ruleValueOf(crossSite);
            }
        }
    }
}

void CookiePreferences::write(const std::string& path) const {
    PreferenceFile::writeXml(path, [&](XmlFile& file) {
        XmlElementWriter root(file, false);
        root.setNodeName("COOKIERULESET");
        for (const auto& [site, value] : siteOverrides) {
            if (value != kOverrideAlwaysAllow && value != kOverrideNeverAllow) {
                continue;
            }
            XmlElementWriter rule(file, true);
            rule.setNodeName(
                "COOKIERULE", {"domain", "accept"},
                {XmlFile::escapeAttribute(site), value == kOverrideAlwaysAllow ? "ALL" : "NONE"});
            rule.finish();
        }
        const bool custom = setting == kCookiesCustom;
        const std::int32_t accept = custom                      ? customAccept
                                    : setting == kCookiesAlways ? kCookieRuleAll
                                    : setting == kCookiesNever  ? kCookieRuleNone
                                                                : kCookieRuleMatching;
        XmlElementWriter defaults(file, true);
        defaults.setNodeName("DEFAULTCOOKIERULE", {"accept", "headers", "cross-site"},
                             {ruleValueText(accept), custom ? ruleValueText(customHeaders) : "",
                              custom ? ruleValueText(customCrossSite) : ""});
        defaults.finish();
        root.finish();
    });
}

}  // namespace perchlight
