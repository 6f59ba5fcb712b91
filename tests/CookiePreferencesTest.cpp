#include "prefs/CookiePreferences.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestSupport.h"

namespace perchlight {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
using Overrides = std::map<std::string, std::int32_t>;

CookiePreferences readFrom(const std::string& document) {
    TempDir dir;
    writeFile(dir / "cookies.xml", document);
    CookiePreferences cookies;
    cookies.read((dir / "cookies.xml").string());
    return cookies;
}

std::string defaultRule(const std::string& accept, const std::string& headers,
                        const std::string& crossSite) {
    return "<COOKIERULESET><DEFAULTCOOKIERULE accept='" + accept + "' headers='" + headers +
           "' cross-site='" + crossSite + "'/></COOKIERULESET>";
}

struct DefaultRuleCase {
    const char* accept;
    const char* headers;
    const char* crossSite;
    std::int32_t setting;
    std::int32_t customAccept;
    std::int32_t customCrossSite;
};

TEST(CookiePreferencesRead, DefaultRuleGivesTheSetting) {
    const DefaultRuleCase cases[] = {
        {"all", "", "", kCookiesAlways, 0, 0},
        {"NONE", "", "", kCookiesNever, 0, 0},
        {"MATCHING", "", "", kCookiesMatching, 0, 0},
        {"whatever", "", "", kCookiesMatching, 0, 0},
        {"NONE", "", "MATCHING", kCookiesCustom, kCookieRuleNone, kCookieRuleMatching},
        {"all", "none", "All", kCookiesCustom, kCookieRuleAll, kCookieRuleAll},
    };
    for (const DefaultRuleCase& row : cases) {
        const CookiePreferences cookies =
            readFrom(defaultRule(row.accept, row.headers, row.crossSite));
        EXPECT_EQ(cookies.setting, row.setting) << row.accept << "/" << row.crossSite;
        EXPECT_EQ(cookies.customAccept, row.customAccept) << row.accept;
        EXPECT_EQ(cookies.customCrossSite, row.customCrossSite) << row.crossSite;
    }
}

TEST(CookiePreferencesRead, OnlyExactAllOrNoneWithADomainMakesAnOverride) {
    const CookiePreferences cookies = readFrom(
        "<COOKIERULESET><COOKIERULE domain='a.example' accept='ALL'/>"
        "<COOKIERULE domain='b.example' accept='NONE'/><COOKIERULE domain='c.example' "
        "accept='MATCHING'/><COOKIERULE domain='d.example' accept='all'/>"
        "<COOKIERULE domain='' accept='NONE'/><COOKIERULE accept='ALL'/><OTHER/>"
        "</COOKIERULESET>");
    EXPECT_EQ(cookies.siteOverrides,
              (Overrides{{"a.example", kOverrideAlwaysAllow}, {"b.example", kOverrideNeverAllow}}));
}

// A file another process is halfway through writing must not cost the user their overrides.
TEST(CookiePreferencesRead, MissingMalformedHalfWrittenOrForeignFilesChangeNothing) {
    TempDir dir;
    writeFile(dir / "broken.xml", "<COOKIERULESET><COOKIERULE");
    writeFile(dir / "half.xml",
              "<COOKIERULESET><COOKIERULE domain='y.example' accept='ALL'/><DEFAULTCOOKIE");
    writeFile(dir / "empty.xml", "");
    writeFile(dir / "foreign.xml", "<COOKIES><DEFAULTCOOKIERULE accept='ALL'/></COOKIES>");
    for (const char* name : {"missing.xml", "broken.xml", "half.xml", "empty.xml", "foreign.xml"}) {
        CookiePreferences cookies;
        cookies.setting = kCookiesNever;
        cookies.siteOverrides["x.example"] = kOverrideNeverAllow;
        EXPECT_FALSE(cookies.read((dir / name).string())) << name;
        EXPECT_EQ(cookies.setting, kCookiesNever) << name;
        EXPECT_EQ(cookies.siteOverrides, (Overrides{{"x.example", kOverrideNeverAllow}})) << name;
    }
}

TEST(CookiePreferencesRead, AWholeFileReplacesTheOverrides) {
    TempDir dir;
    writeFile(dir / "c.xml",
              "<COOKIERULESET><COOKIERULE domain='y.example' accept='ALL'/>"
              "</COOKIERULESET>");
    CookiePreferences cookies;
    cookies.siteOverrides["x.example"] = kOverrideNeverAllow;
    EXPECT_TRUE(cookies.read((dir / "c.xml").string()));
    EXPECT_EQ(cookies.siteOverrides, (Overrides{{"y.example", kOverrideAlwaysAllow}}));
}

TEST(CookiePreferencesWrite, WritesKeptOverridesAndTheDefaultRule) {
    CookiePreferences cookies;
    cookies.siteOverrides = {{"a.example", kOverrideAlwaysAllow},
                             {"session.example", kOverrideThisSession},
                             {"b&\"c", kOverrideNeverAllow}};
    cookies.setting = kCookiesCustom;
    cookies.customAccept = kCookieRuleAll;
    cookies.customHeaders = kCookieRuleNone;
    cookies.customCrossSite = kCookieRuleMatching;
    TempDir dir;
    const std::string path = (dir / "cookies.xml").string();
    cookies.write(path);
    EXPECT_EQ(readFile(path),
              "<?xml version=\"1.0\"?>\n"
              "  <COOKIERULESET >\n"
              "    <COOKIERULE domain=\"a.example\" accept=\"ALL\" />\n"
              "    <COOKIERULE domain=\"b&amp;&quot;c\" accept=\"NONE\" />\n"
              "    <DEFAULTCOOKIERULE accept=\"ALL\" headers=\"NONE\" cross-site=\"MATCHING\" />\n"
              "  </COOKIERULESET>\n");

    CookiePreferences back;
    back.read(path);
    EXPECT_EQ(back.siteOverrides,
              (Overrides{{"a.example", kOverrideAlwaysAllow}, {"b&\"c", kOverrideNeverAllow}}));
    EXPECT_EQ(back.setting, kCookiesCustom);
    EXPECT_EQ(back.customHeaders, kCookieRuleNone);
}

TEST(CookiePreferencesWrite, GeneralSettingsLeaveTheCustomValuesEmpty) {
    for (const auto& [setting, accept] :
         {std::pair{kCookiesMatching, "MATCHING"}, std::pair{kCookiesAlways, "ALL"},
          std::pair{kCookiesNever, "NONE"}}) {
        CookiePreferences cookies;
        cookies.setting = setting;
        cookies.customAccept = kCookieRuleNone;
        TempDir dir;
        cookies.write((dir / "c.xml").string());
        EXPECT_NE(readFile(dir / "c.xml")
                      .find(std::string("<DEFAULTCOOKIERULE accept=\"") + accept +
                            "\" headers=\"\" cross-site=\"\" />"),
                  std::string::npos);
        CookiePreferences back;
        back.read((dir / "c.xml").string());
        EXPECT_EQ(back.setting, setting);
    }
}

}  // namespace
}  // namespace perchlight
