#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace perchlight {

class XmlNode;

// The general cookie choice.
enum CookieSetting : std::int32_t {
    kCookiesMatching = 0,  // allow only when the site's policy matches the preferences
    kCookiesAlways = 1,
    kCookiesNever = 2,
    kCookiesCustom = 3,  // first-party and cross-site cookies decided separately
};

// One choice of the custom cookie setting.
enum CookieRuleValue : std::int32_t {
    kCookieRuleMatching = 0,
    kCookieRuleAll = 1,
    kCookieRuleNone = 2,
};

// A per-site choice that takes precedence over the general one.
enum SiteCookieOverride : std::int32_t {
    kOverrideAlwaysAllow = 0,
    kOverrideThisSession = 1,  // never written to the file
    kOverrideNeverAllow = 2,
};

// The cookie choices kept in the cookie preference file, "p3pcookiepreferences.xml". A plain
// value; the preference store guards its copy.
struct CookiePreferences {
    std::int32_t setting = kCookiesMatching;
    std::int32_t customAccept = kCookieRuleMatching;
    std::int32_t customHeaders = kCookieRuleMatching;  // kept and written back, used nowhere
    std::int32_t customCrossSite = kCookieRuleMatching;
    std::map<std::string, std::int32_t> siteOverrides;

    // Reads the file: the file's overrides replace those held, and its default rule the general
    // choice. The file is parsed first and taken only as a whole: a missing, malformed,
    // half-written or foreign file changes nothing and gives false.
    bool read(const std::string& path);
    // Writes the file, replacing it atomically; raises the XmlFile writer's errors.
    void write(const std::string& path) const;

    // "MATCHING", "ALL" or "NONE".
    static const char* ruleValueText(std::int32_t value);

  private:
    // Takes the rules of a parsed "COOKIERULESET".
    void take(const XmlNode& root);
};

}  // namespace perchlight
