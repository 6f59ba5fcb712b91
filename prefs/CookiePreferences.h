#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace perchlight {

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

    // Reads the file: clears the overrides, then takes the file's rules. A missing, malformed or
    // foreign file leaves the overrides empty and the other values as they were.
    void read(const std::string& path);
    // Writes the file, replacing it atomically; raises the XmlFile writer's errors.
    void write(const std::string& path) const;

    // "MATCHING", "ALL" or "NONE".
    static const char* ruleValueText(std::int32_t value);
};

}  // namespace perchlight
