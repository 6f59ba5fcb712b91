// The rule sets installed for the Low, Medium and High privacy levels, read and used as the
// agent uses them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "core/XmlNode.h"

namespace perchlight {
namespace {

using test::dataDir;
using test::readFile;

std::vector<std::string> limitedDescriptions(const std::string& level) {
    const XmlNodePtr root = XmlNode::parseXmlFile(dataDir() / ("appel-" + level + ".xml"));
    EXPECT_NE(root, nullptr);
    std::vector<std::string> descriptions;
    if (root) {
        for (const XmlNodePtr& rule : root->children()) {
            const std::string* behavior = rule->attribute("BEHAVIOR");
            const std::string* description = rule->attribute("DESCRIPTION");
            if (behavior && *behavior == "limited" && description) {
                descriptions.push_back(*description);
            }
        }
    }
    return descriptions;
}

class InstalledRuleSet : public testing::TestWithParam<std::string> {};

TEST_P(InstalledRuleSet, IsOneRulePerConcernEndedByTheCatchAll) {
    const XmlNodePtr root = XmlNode::parseXmlFile(dataDir() / ("appel-" + GetParam() + ".xml"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "APPEL:RULESET");
    EXPECT_EQ(*root->attribute("CRTDBY"), "Corvane Perchlight");
    ASSERT_FALSE(root->children().empty());
    for (std::size_t i = 0; i + 1 < root->children().size(); ++i) {
        const XmlNode& rule = *root->children()[i];
        EXPECT_EQ(rule.name, "APPEL:RULE");
        EXPECT_EQ(*rule.attribute("BEHAVIOR"), "limited");
        EXPECT_NE(rule.attribute("DESCRIPTION"), nullptr);
        ASSERT_EQ(rule.children().size(), 1u);
        EXPECT_EQ(rule.children()[0]->name, "P3P:POLICY");
    }
    const XmlNode& last = *root->children().back();
    EXPECT_EQ(last.attributes, (std::map<std::string, std::string>{{"BEHAVIOR", "request"}}));
    ASSERT_EQ(last.children().size(), 1u);
    EXPECT_EQ(last.children()[0]->name, "APPEL:OTHERWISE");
}

INSTANTIATE_TEST_SUITE_P(Levels, InstalledRuleSet, testing::Values("low", "medium", "high"));

TEST(InstalledRuleSets, EachLevelWarnsOfEverythingTheLowerOneDoes) {
    const auto low = limitedDescriptions("low");
    const auto medium = limitedDescriptions("medium");
    const auto high = limitedDescriptions("high");
    EXPECT_LT(low.size(), medium.size());
    EXPECT_LT(medium.size(), high.size());
    for (const std::string& description : low) {
        EXPECT_THAT(medium, testing::Contains(description));
    }
    for (const std::string& description : medium) {
        EXPECT_THAT(high, testing::Contains(description));
    }
    // High warns of all twelve concerns: thirty rules, plus the two for unknown purposes.
    EXPECT_EQ(high.size(), 32u);
    EXPECT_EQ(high.back(), "Unless you opt-out, this site collects data for an unknown purpose");
}

struct Expected {
    const char* policy;
    int low;
    int medium;
    int high;
};

TEST(InstalledRuleSets, GiveTheExamplePoliciesTheirVerdicts) {
    const Expected expected[] = {
        {"shop-basic.xml", kStateNoConflict, kStateNoConflict, kStateNoConflict},
        {"newsletter.xml", kStateNoConflict, kStateNoConflict, kStateConflict},
        {"marketing.xml", kStateConflict, kStateConflict, kStateConflict},
        {"test-policy.xml", kStateNoConflict, kStateNoConflict, kStateNoConflict},
        {"malformed.xml", kStateNotEvaluated, kStateNotEvaluated, kStateNotEvaluated},
        {"bookshop.xml", kStateNoConflict, kStateNoConflict, kStateConflict},
    };
    for (const Expected& row : expected) {
        const std::string policy = readFile(dataDir() / "examples" / row.policy);
        const std::pair<const char*, int> levels[] = {
            {"low", row.low}, {"medium", row.medium}, {"high", row.high}};
        for (const auto& [level, state] : levels) {
            const std::string ruleSet =
                readFile(dataDir() / (std::string("appel-") + level + ".xml"));
            MatchResult result;
            P3PEvaluator(nullptr, test::shippedSchema())
                .evaluatePolicy(ruleSet, policy, Url("file:///examples/x.xml"), "", result);
            EXPECT_EQ(result.state, state) << row.policy << " at level " << level;
        }
    }
}

TEST(InstalledRuleSets, ConflictDescriptionsAreTheRulesThatFired) {
    const std::string policy = readFile(dataDir() / "examples" / "marketing.xml");
    MatchResult result;
    P3PEvaluator(nullptr, test::shippedSchema())
        .evaluatePolicy(readFile(dataDir() / "appel-low.xml"), policy,
                        Url("http://retail.example/w3c/policy.xml"), "", result);
    EXPECT_THAT(result.descriptions,
                testing::ElementsAre("Site may share financial information or information about "
                                     "your purchases with other companies (other than those "
                                     "helping the site provide services to you)"));
    EXPECT_EQ(result.optOutUri, "http://retail.example/optout.html");
}

}  // namespace
}  // namespace perchlight
