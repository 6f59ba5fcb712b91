#include "core/AppelEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perchlight {
namespace {

constexpr const char* kPolicy =
    "<POLICY discuri='http://a.example/privacy.html' opturi='http://a.example/optout.html'>"
    "<ENTITY><DATA-GROUP><DATA ref='#business.name'>A</DATA></DATA-GROUP></ENTITY>"
    "<ACCESS><nonident/></ACCESS>"
    "<STATEMENT><PURPOSE><current/><telemarketing/></PURPOSE><RECIPIENT><ours/></RECIPIENT>"
    "<RETENTION><stated-purpose/></RETENTION></STATEMENT></POLICY>";

constexpr const char* kCatchAll = "<appel:RULE behavior='request'><appel:OTHERWISE/></appel:RULE>";

std::string ruleSet(const std::string& rules) {
    return "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1' "
           "xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'>" +
           rules + "</appel:RULESET>";
}

// A rule that fires on every policy.
std::string firingRule(const std::string& attributes) {
    return "<appel:RULE " + attributes + "><appel:OTHERWISE/></appel:RULE>";
}

MatchResult evaluate(const std::string& rules, const std::string& policy = kPolicy,
                     MatchResult result = {}) {
    evaluateRuleSet(XmlNode::parseXmlBuffer(rules), XmlNode::parseXmlBuffer(policy), result);
    return result;
}

bool matches(const std::string& expression, const std::string& policyElement) {
    return matchExpression(*XmlNode::parseXmlBuffer(expression),
                           *XmlNode::parseXmlBuffer(policyElement), MatchResult{});
}

using Descriptions = std::vector<std::string>;

TEST(AppelEngineRules, RequestRuleAloneGivesNoConflict) {
    const MatchResult result = evaluate(ruleSet(kCatchAll));
    EXPECT_EQ(result.state, kStateNoConflict);
    EXPECT_TRUE(result.descriptions.empty());
}

TEST(AppelEngineRules, FiredRulesCollectDescriptionsInOrderUntilRequest) {
    const MatchResult result = evaluate(ruleSet(
        firingRule("behavior='limited' description='first'") +
        "<appel:RULE behavior='limited' description='never'><p3p:POLICY><p3p:DISPUTES-GROUP/>"
        "</p3p:POLICY></appel:RULE>" +
        firingRule("behavior='block' description='second'") + kCatchAll +
        firingRule("behavior='limited' description='after the catch-all'")));
    EXPECT_EQ(result.state, kStateConflict);
    EXPECT_EQ(result.descriptions, (Descriptions{"first", "second"}));
}

TEST(AppelEngineRules, RequestRuleFirstHidesLaterRules) {
    const MatchResult result =
        evaluate(ruleSet(firingRule("behavior='request' description='hidden'") +
                         firingRule("behavior='limited' description='later'")));
    EXPECT_EQ(result.state, kStateNoConflict);
    EXPECT_TRUE(result.descriptions.empty());
}

TEST(AppelEngineRules, BehaviorDecidesWhatIsRecorded) {
    // No description: the rule fires but leaves no conflict.
    EXPECT_EQ(evaluate(ruleSet(firingRule("behavior='limited'") + kCatchAll)).state,
              kStateNoConflict);
    // No behavior: as "limited".
    EXPECT_EQ(evaluate(ruleSet(firingRule("description='plain'") +
                               firingRule("behavior='limited' description='next'")))
                  .descriptions,
              (Descriptions{"plain", "next"}));
    // An unknown behavior is visited before the description, so nothing is recorded, and the
    // walk goes on; behavior values are case-sensitive.
    const MatchResult unknown =
        evaluate(ruleSet(firingRule("behavior='warn' description='warned'") +
                         firingRule("behavior='Request' description='capital'") +
                         firingRule("behavior='limited' description='recorded'") + kCatchAll));
    EXPECT_EQ(unknown.state, kStateConflict);
    EXPECT_EQ(unknown.descriptions, (Descriptions{"recorded"}));
    EXPECT_EQ(evaluate(ruleSet(firingRule("behavior='warn' description='warned'"))).state,
              kStateNoConflict);
}

TEST(AppelEngineRules, UnusableRuleSetOrPolicyLeavesStateNotEvaluated) {
    MatchResult earlier;
    earlier.state = kStateConflict;
    const std::string rules = ruleSet(firingRule("description='d'"));
    // An unusable rule set still leaves the policy's own pages reachable; an unusable policy
    // has none.
    const struct {
        const char* what;
        std::string rules;
        std::string policy;
        std::string disclosureUri;
    } cases[] = {
        {"empty rule set", ruleSet(""), kPolicy, "http://a.example/privacy.html"},
        {"root not a rule set", "<appel:RULES>" + firingRule("description='d'") + "</appel:RULES>",
         kPolicy, "http://a.example/privacy.html"},
        {"unprefixed root", "<RULESET>" + firingRule("description='d'") + "</RULESET>", kPolicy,
         "http://a.example/privacy.html"},
        {"policy without children", rules, "<POLICY discuri='http://a.example/'/>", ""},
        {"policy element not named POLICY", rules, "<POLICIES><POLICY/></POLICIES>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const MatchResult result = evaluate(c.rules, c.policy, earlier);
        EXPECT_EQ(result.state, kStateNotEvaluated);
        EXPECT_TRUE(result.descriptions.empty());
        EXPECT_EQ(result.disclosureUri, c.disclosureUri);
        EXPECT_EQ(result.optOutUri.empty(), c.disclosureUri.empty());
    }
    MatchResult result = earlier;
    evaluateRuleSet(nullptr, XmlNode::parseXmlBuffer(kPolicy), result);
    EXPECT_EQ(result.state, kStateNotEvaluated);
}

TEST(AppelEngineRules, CopiesPolicyUrisAndAppendsToEarlierDescriptions) {
    MatchResult earlier;
    earlier.descriptions = {"earlier"};
    const MatchResult result = evaluate(ruleSet(firingRule("description='now'")), kPolicy, earlier);
    EXPECT_EQ(result.disclosureUri, "http://a.example/privacy.html");
    EXPECT_EQ(result.optOutUri, "http://a.example/optout.html");
    EXPECT_EQ(result.descriptions, (Descriptions{"earlier", "now"}));
    // Descriptions are never cleared, so earlier ones alone already mean a conflict.
    EXPECT_EQ(evaluate(ruleSet(kCatchAll), kPolicy, earlier).state, kStateConflict);
}

TEST(AppelEngineRules, DefaultsAreFilledInBeforeMatching) {
    const auto telemarketingRule = [](const std::string& required) {
        return ruleSet(
            "<appel:RULE behavior='limited' description='calls'><p3p:POLICY><p3p:STATEMENT>"
            "<p3p:PURPOSE><p3p:telemarketing required='" +
            required + "'/></p3p:PURPOSE></p3p:STATEMENT></p3p:POLICY></appel:RULE>" + kCatchAll);
    };
    EXPECT_EQ(evaluate(telemarketingRule("*")).state, kStateConflict);
    EXPECT_EQ(evaluate(telemarketingRule("always")).state, kStateConflict);
    const std::string optIn =
        "<POLICY><STATEMENT><PURPOSE><telemarketing required='opt-in'/>"
        "</PURPOSE></STATEMENT></POLICY>";
    EXPECT_EQ(evaluate(telemarketingRule("always"), optIn).state, kStateNoConflict);
    EXPECT_EQ(evaluate(telemarketingRule("*"), optIn).state, kStateConflict);

    const XmlNodePtr policy = XmlNode::parseXmlBuffer(kPolicy);
    MatchResult result;
    evaluateRuleSet(XmlNode::parseXmlBuffer(ruleSet(kCatchAll)), policy, result);
    const XmlNodePtr current = policy->children()[2]->children()[0]->children()[0];
    ASSERT_NE(current->attribute("REQUIRED"), nullptr);
    EXPECT_EQ(*current->attribute("REQUIRED"), "always");
}

struct ExpressionCase {
    std::string expression;
    std::string policyElement;
    bool matches;
};

void expectMatches(const std::vector<ExpressionCase>& cases) {
    for (const ExpressionCase& c : cases) {
        SCOPED_TRACE(c.expression + " against " + c.policyElement);
        EXPECT_EQ(matches(c.expression, c.policyElement), c.matches);
    }
}

std::string purpose(const std::string& connective, const std::string& children) {
    return "<p3p:PURPOSE appel:connective='" + connective + "'>" + children + "</p3p:PURPOSE>";
}

TEST(AppelEngineConnective, CombinesChildMatches) {
    const std::string marketing = "<p3p:telemarketing/><p3p:contact/>";
    const std::string currentAdmin = "<p3p:current/><p3p:admin/>";
    expectMatches({
        {purpose("or", marketing), "<PURPOSE><TELEMARKETING/><ADMIN/></PURPOSE>", true},
        {purpose("or", marketing), "<PURPOSE><ADMIN/><CURRENT/></PURPOSE>", false},
        {purpose("or", marketing), "<PURPOSE/>", false},
        {purpose("non-or", marketing), "<PURPOSE><ADMIN/><CURRENT/></PURPOSE>", true},
        {purpose("non-or", marketing), "<PURPOSE><CURRENT/><CONTACT/></PURPOSE>", false},
        {purpose("non-or", marketing), "<PURPOSE/>", true},
        {purpose("or-exact", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/></PURPOSE>", true},
        {purpose("or-exact", currentAdmin), "<PURPOSE><ADMIN/><CURRENT/></PURPOSE>", true},
        {purpose("or-exact", currentAdmin), "<PURPOSE><CURRENT/><DEVELOP/></PURPOSE>", false},
        {purpose("or-exact", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/><DEVELOP/></PURPOSE>",
         false},
        {"<p3p:PURPOSE>" + currentAdmin + "</p3p:PURPOSE>",
         "<PURPOSE><CURRENT/><DEVELOP/><ADMIN/></PURPOSE>", true},
        {purpose("and", currentAdmin), "<PURPOSE><CURRENT/></PURPOSE>", false},
        {purpose("and-exact", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/></PURPOSE>", true},
        {purpose("and-exact", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/><DEVELOP/></PURPOSE>",
         false},
        {purpose("non-and", currentAdmin), "<PURPOSE><CURRENT/><DEVELOP/></PURPOSE>", true},
        {purpose("non-and", currentAdmin), "<PURPOSE><ADMIN/><CURRENT/></PURPOSE>", false},
        {purpose("non-and", currentAdmin), "<PURPOSE/>", true},
        // Outside the table: as and-exact.
        {purpose("AND", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/></PURPOSE>", true},
        {purpose("AND", currentAdmin), "<PURPOSE><CURRENT/><ADMIN/><DEVELOP/></PURPOSE>", false},
    });
}

TEST(AppelEngineConnective, ExpressionWithoutChildren) {
    const struct {
        const char* connective;  // nullptr: no connective attribute
        bool againstParent;
        bool againstLeaf;
    } cases[] = {
        {nullptr, true, true},      {"and", true, true},       {"or", false, false},
        {"non-or", true, true},     {"non-and", false, false}, {"or-exact", false, true},
        {"and-exact", false, true}, {"AND", false, true},      {"", false, true},
    };
    for (const auto& c : cases) {
        const std::string expression =
            c.connective ? purpose(c.connective, "") : std::string("<p3p:PURPOSE/>");
        SCOPED_TRACE(expression);
        EXPECT_EQ(matches(expression, "<PURPOSE><CURRENT/></PURPOSE>"), c.againstParent);
        EXPECT_EQ(matches(expression, "<PURPOSE/>"), c.againstLeaf);
    }
}

TEST(AppelEngineMatch, NamesAgreeWithOrWithoutP3PPrefix) {
    expectMatches({
        {"<p3p:PURPOSE/>", "<PURPOSE/>", true},
        {"<purpose/>", "<PURPOSE/>", true},
        {"<p3p:PURPOSE/>", "<p3p:PURPOSE/>", true},
        {"<x:PURPOSE/>", "<PURPOSE/>", false},
        {"<p3p:PURPOSES/>", "<PURPOSE/>", false},
        {"<p3p:PURPOSE/>", "<RECIPIENT/>", false},
        {"<appel:OTHERWISE required='x'><p3p:none/></appel:OTHERWISE>", "<ACCESS/>", true},
        // A rule's children are matched against the policy element itself.
        {"<appel:RULE><p3p:POLICY><p3p:ACCESS/></p3p:POLICY></appel:RULE>",
         "<POLICY><ACCESS/></POLICY>", true},
        {"<appel:RULE><p3p:ACCESS/></appel:RULE>", "<POLICY><ACCESS/></POLICY>", false},
    });
}

TEST(AppelEngineAttributes, ValuesAreWildcardPatterns) {
    expectMatches({
        {"<p3p:TELEMARKETING required='*'/>", "<TELEMARKETING required='always'/>", true},
        {"<p3p:TELEMARKETING required='always'/>", "<TELEMARKETING required='opt-in'/>", false},
        {"<p3p:TELEMARKETING required='opt-*'/>", "<TELEMARKETING required='opt-in'/>", true},
        {"<p3p:TELEMARKETING required='Always'/>", "<TELEMARKETING required='always'/>", false},
        {"<p3p:TELEMARKETING required='*'/>", "<TELEMARKETING/>", false},
        {"<p3p:TELEMARKETING/>", "<TELEMARKETING required='opt-in' x='y'/>", true},
        {"<p3p:PURPOSE appel:connective='or'><p3p:current/></p3p:PURPOSE>",
         "<PURPOSE><CURRENT/></PURPOSE>", true},
        {"<p3p:POLICY xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'/>", "<POLICY/>", false},
        {"<p3p:POLICY xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'/>",
         "<POLICY xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'/>", true},
    });
}

TEST(AppelEngineAttributes, DataReferenceCoversItsSubtree) {
    expectMatches({
        {"<p3p:DATA ref='#user.*'/>", "<DATA ref='#user.name.given'/>", true},
        {"<p3p:DATA ref='#user.name'/>", "<DATA ref='#user.name'/>", true},
        {"<p3p:DATA ref='#user.name'/>", "<DATA ref='#user.name.given'/>", true},
        {"<p3p:DATA ref='#user.name'/>", "<DATA ref='#user.namex'/>", false},
        {"<p3p:DATA ref='#user.name'/>", "<DATA ref='#user'/>", false},
        // Only a prefixed DATA expression, and only its REF, extends to the subtree.
        {"<DATA ref='#user.name'/>", "<DATA ref='#user.name.given'/>", false},
        {"<p3p:DATA optional='no'/>", "<DATA optional='no.x'/>", false},
    });
}

TEST(AppelEngineAttributes, TextIsComparedWithoutWhiteSpace) {
    expectMatches({
        {"<p3p:DATA> Example\n\tShop </p3p:DATA>", "<DATA>ExampleShop</DATA>", true},
        {"<p3p:DATA/>", "<DATA>\n  \t\r\n</DATA>", true},
        {"<p3p:DATA>a b</p3p:DATA>", "<DATA>a c</DATA>", false},
        {"<p3p:DATA/>", "<DATA>x</DATA>", false},
        {"<p3p:DATA>ab</p3p:DATA>", "<DATA>abc</DATA>", false},
    });
    // Vertical tab and form feed cannot stand in a document but count as white space too.
    XmlNode expression;
    expression.name = "P3P:DATA";
    expression.text = "\va b\f";
    XmlNode policyElement;
    policyElement.name = "DATA";
    policyElement.text = "ab";
    EXPECT_TRUE(matchAttributes(expression, policyElement));
    policyElement.text = "a\tb\v\f\r";
    expression.text.clear();
    EXPECT_FALSE(matchAttributes(expression, policyElement));
}

TEST(AppelEngineRequestGroup, MatchesTheRequestUri) {
    const std::string rules = ruleSet(
        "<appel:RULE behavior='limited' description='site a'><appel:REQUEST-GROUP>"
        "<appel:REQUEST uri='http://a.example/*'/></appel:REQUEST-GROUP></appel:RULE>" +
        std::string(kCatchAll));
    const struct {
        const char* requestUri;  // nullptr: none set
        int state;
    } cases[] = {
        {"http://a.example/page", kStateConflict},
        {"http://a.example/", kStateConflict},
        {"http://b.example/page", kStateNoConflict},
        {"http://a.example.org/page", kStateNoConflict},
        {nullptr, kStateNoConflict},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requestUri ? c.requestUri : "none");
        MatchResult result;
        if (c.requestUri) {
            result.requestUri = Url(c.requestUri);
        }
        EXPECT_EQ(evaluate(rules, kPolicy, result).state, c.state);
    }
}

TEST(AppelEngineRequestGroup, OnlyRequestElementsWithUriMatch) {
    MatchResult result;
    result.requestUri = Url("http://a.example/page");
    const auto request = [&](const std::string& element) {
        return matchRequest(*XmlNode::parseXmlBuffer(element), result);
    };
    EXPECT_TRUE(request("<appel:REQUEST uri='http://a.example/*'/>"));
    EXPECT_FALSE(request("<appel:REQUEST/>"));
    EXPECT_FALSE(request("<appel:REQUESTS uri='*'/>"));
    EXPECT_FALSE(request("<REQUEST uri='*'/>"));

    const XmlNodePtr policy = XmlNode::parseXmlBuffer(kPolicy);
    const auto group = [&](const std::string& element) {
        return matchExpression(*XmlNode::parseXmlBuffer(element), *policy, result);
    };
    EXPECT_TRUE(
        group("<appel:REQUEST-GROUP appel:connective='or'><appel:REQUEST uri='http://b.example/*'/>"
              "<appel:REQUEST uri='http://a.example/*'/></appel:REQUEST-GROUP>"));
    EXPECT_FALSE(
        group("<appel:REQUEST-GROUP><appel:REQUEST uri='http://b.example/*'/>"
              "<appel:REQUEST uri='http://a.example/*'/></appel:REQUEST-GROUP>"));
    // Its children are matched against the request, not against the policy.
    EXPECT_FALSE(group("<appel:REQUEST-GROUP><p3p:ACCESS/></appel:REQUEST-GROUP>"));
}

}  // namespace
}  // namespace perchlight
