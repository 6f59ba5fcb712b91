#include "browser/AgentServices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "TestSupport.h"
#include "util/Url.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

constexpr const char* kReferences =
    "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#news'>"
    "<INCLUDE>/*</INCLUDE><COOKIE-INCLUDE name='*' domain='*'/>"
    "</POLICY-REF></POLICY-REFERENCES></META>";

// One process's services over a fresh module directory with the installed files, and a site
// that publishes the bundled newsletter policy.
class AgentServicesTest : public ::testing::Test {
  protected:
    AgentServicesTest() {
        environment_.installRuleSets();
        std::filesystem::copy_file(dataDir() / "BaseDataschema-std.xml",
                                   environment_.homeFile("BaseDataschema-std.xml"));
        loopback_.server().Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(kReferences, "text/xml");
        });
        loopback_.server().Get(
            "/w3c/policy.xml", [](const httplib::Request&, httplib::Response& r) {
                r.set_content(readFile(dataDir() / "examples" / "newsletter.xml"), "text/xml");
            });
        loopback_.start();
    }

    std::string policyUrl() const { return loopback_.url("/w3c/policy.xml#news"); }

    PreferenceTestEnvironment environment_;
    LoopbackServer loopback_;
    AgentServices services_{environment_.home()};
};

TEST_F(AgentServicesTest, Wiring_EverythingLivesInTheOneModuleDirectory) {
    EXPECT_EQ(services_.locations().userDirectory(), environment_.home());
    EXPECT_EQ(services_.baseSchema().path(), environment_.home() + "/BaseDataschema-std.xml");
    EXPECT_EQ(services_.cache().directory(), environment_.home() + "/cache");
    EXPECT_EQ(services_.preferences().locations().userDirectory(), environment_.home());
    EXPECT_NE(services_.baseSchema().schema(), nullptr);
}

TEST_F(AgentServicesTest, Evaluation_ReadsTheActiveRuleSetOrTheFileNamedInstead) {
    const auto evaluate = [this](int expectedCode) {
        MatchResult result;
        EXPECT_EQ(services_.cache().evaluatePolicy(policyUrl(), result), expectedCode);
        return result;
    };
    // Medium (no stored level) accepts the newsletter; High does not.
    const MatchResult medium = evaluate(0);
    EXPECT_EQ(medium.state, kStateNoConflict);
    EXPECT_FALSE(medium.summary.statements.empty()) << "the digest step runs";
    services_.preferences().setPrivacyLevel(PrivacyLevel::kLevelHigh);
    EXPECT_EQ(evaluate(0).state, kStateConflict);
    services_.setRuleSetFile(environment_.homeFile("appel-low.xml").string());
    EXPECT_EQ(evaluate(0).state, kStateNoConflict);
    services_.setRuleSetFile(environment_.homeFile("missing.xml").string());
    evaluate(-2);
}

TEST_F(AgentServicesTest, Evaluation_AHeldRuleSetStaysWhateverBecomesOfItsFile) {
    const auto state = [this] {
        MatchResult result;
        EXPECT_EQ(services_.cache().evaluatePolicy(policyUrl(), result), 0);
        return result.state;
    };
    const std::filesystem::path rules = environment_.homeFile("survey-rules.xml");
    std::filesystem::copy_file(environment_.homeFile("appel-low.xml"), rules);
    services_.setRuleSetFile(rules.string());
    ASSERT_TRUE(services_.holdRuleSet());
    std::filesystem::copy_file(environment_.homeFile("appel-high.xml"), rules,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(state(), kStateNoConflict) << "still Low's verdict";
    std::filesystem::remove(rules);
    EXPECT_EQ(state(), kStateNoConflict);
    // Naming the file again lets go of the held bytes; so does the stored level's turn.
    services_.setRuleSetFile(rules.string());
    MatchResult gone;
    EXPECT_EQ(services_.cache().evaluatePolicy(policyUrl(), gone), -2);
    services_.setRuleSetFile("");
    services_.preferences().setPrivacyLevel(PrivacyLevel::kLevelHigh);
    ASSERT_TRUE(services_.holdRuleSet());
    services_.preferences().setPrivacyLevel(PrivacyLevel::kLevelLow);
    EXPECT_EQ(state(), kStateConflict) << "still High's verdict";
    // A rule set that cannot be read is not held: each evaluation tries again.
    services_.setRuleSetFile(rules.string());
    EXPECT_FALSE(services_.holdRuleSet());
    std::filesystem::copy_file(environment_.homeFile("appel-high.xml"), rules);
    EXPECT_EQ(state(), kStateConflict);
}

TEST_F(AgentServicesTest, ClearingTheCacheEmptiesTheReferenceStore) {
    const Url page(loopback_.url("/index.html"));
    const Url file(loopback_.url("/w3c/p3p.xml"));
    ASSERT_TRUE(services_.referenceStore().loadReferenceFile(file, page));
    ASSERT_TRUE(services_.referenceStore().isLoaded(file));
    services_.cache().clearCache();
    EXPECT_FALSE(services_.referenceStore().isLoaded(file));
    EXPECT_TRUE(services_.referenceStore().lookupPolicy(page, "GET").empty());
}

TEST_F(AgentServicesTest, CookieRulesFindPoliciesThroughTheStoreAndTheCache) {
    const Url page(loopback_.url("/index.html"));
    ASSERT_TRUE(
        services_.referenceStore().loadReferenceFile(Url(loopback_.url("/w3c/p3p.xml")), page));
    P3PPreferences& preferences = services_.preferences();
    // A cookie domain covers the hosts that end with it after a dot.
    EXPECT_EQ(preferences.cookiePolicyCheck("id", "1", "0.0.1", "/"), 0);
    EXPECT_EQ(preferences.cookiePolicyCheck("id", "1", "elsewhere.example", "/"), -1);
}

}  // namespace
}  // namespace perchlight
