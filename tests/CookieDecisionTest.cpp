#include <gtest/gtest.h>

#include <map>

#include "PreferenceTestEnvironment.h"
#include "core/DocumentSource.h"
#include "prefs/CookiePreferences.h"
#include "prefs/P3PPreferences.h"

namespace perchlight {
namespace {

// Serves the bundled example policies as if the sites published them.
class ExamplePolicies : public DocumentSource {
  public:
    std::optional<std::string> getDocument(const std::string& url, HttpHeaders*) override {
        const auto found = documents.find(url);
        if (found == documents.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    std::map<std::string, std::string> documents;
};

class CookieDecisionTest : public ::testing::Test {
  protected:
    CookieDecisionTest() : preferences_(environment_.home()) {
        environment_.installRuleSets();
        test::writeFile(environment_.homeFile("BaseDataschema-std.xml"),
                        test::readFile(test::dataDir() / "BaseDataschema-std.xml"));
        environment_.writeSettings("Privacy Level=3\n");
        preferences_.loadSettings();
        policies_.documents["http://good.example/p.xml"] =
            test::readFile(test::dataDir() / "examples" / "shop-basic.xml");
        policies_.documents["http://bad.example/p.xml"] =
            test::readFile(test::dataDir() / "examples" / "marketing.xml");
        policies_.documents["http://broken.example/p.xml"] = "<POLICY>";
        preferences_.setCookiePolicySource(
            [](const std::string&, const std::string&, const std::string& domain,
               const std::string&) -> std::string {
                if (domain == "good.example")
                    return "http://good.example/p.xml#basic";
                if (domain == "bad.example")
                    return "http://bad.example/p.xml#retail";
                if (domain == "broken.example")
                    return "http://broken.example/p.xml";
                return "";
            },
            &policies_);
    }

    bool blocked(const std::string& site, const std::string& page = "") {
        return preferences_.queryCookie(site, site, {"http://" + site + "/", "id", "1", "/"}, page);
    }

    void setCookies(std::int32_t setting, std::int32_t accept = kCookieRuleMatching,
                    std::int32_t crossSite = kCookieRuleMatching) {
        CookiePreferences cookies = preferences_.cookiePreferences();
        cookies.setting = setting;
        cookies.customAccept = accept;
        cookies.customCrossSite = crossSite;
        preferences_.setCookiePreferences(cookies);
    }

    test::PreferenceTestEnvironment environment_;
    ExamplePolicies policies_;
    P3PPreferences preferences_;
};

TEST_F(CookieDecisionTest, PolicyCheck_CountsBrokenRulesOrSaysWhyNot) {
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "1", "good.example", "/"), 0);
    EXPECT_GT(preferences_.cookiePolicyCheck("id", "1", "bad.example", "/"), 0);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "1", "nopolicy.example", "/"), -1);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "1", "broken.example", "/"), -2);
}

TEST_F(CookieDecisionTest, MatchingSetting_BlocksConflictsAndUnevaluablePolicies) {
    setCookies(kCookiesMatching);
    EXPECT_FALSE(blocked("good.example"));
    EXPECT_TRUE(blocked("bad.example"));
    EXPECT_FALSE(blocked("nopolicy.example"));  // undetermined, allowed
    EXPECT_TRUE(blocked("broken.example"));
}

TEST_F(CookieDecisionTest, OverridesAndGeneralSettingsComeBeforePolicies) {
    setCookies(kCookiesNever);
    EXPECT_TRUE(blocked("good.example"));
    setCookies(kCookiesAlways);
    EXPECT_FALSE(blocked("bad.example"));
    CookiePreferences cookies = preferences_.cookiePreferences();
    cookies.setting = kCookiesMatching;
    cookies.siteOverrides["bad.example"] = kCookieRuleAll;
    cookies.siteOverrides["good.example"] = kCookieRuleNone;
    preferences_.setCookiePreferences(cookies);
    EXPECT_FALSE(blocked("bad.example"));
    EXPECT_TRUE(blocked("good.example"));
}

TEST_F(CookieDecisionTest, CustomSetting_TellsFirstPartyFromCrossSiteByTheHost) {
    setCookies(kCookiesCustom, kCookieRuleAll, kCookieRuleNone);
    EXPECT_FALSE(blocked("bad.example", "http://www.bad.example/page.html"));
    EXPECT_TRUE(blocked("bad.example", "http://www.other.example/page.html"));
    EXPECT_TRUE(blocked("bad.example", ""));
}

}  // namespace
}  // namespace perchlight
