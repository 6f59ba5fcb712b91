#include "core/P3PEvaluator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

// Flags telemarketing, health data and demographic data; everything else passes.
constexpr const char* kRules =
    "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1' "
    "xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'>"
    "<appel:RULE behavior='limited' description='calls'><p3p:POLICY><p3p:STATEMENT><p3p:PURPOSE>"
    "<p3p:telemarketing required='always'/></p3p:PURPOSE></p3p:STATEMENT></p3p:POLICY>"
    "</appel:RULE>"
    "<appel:RULE behavior='limited' description='health'><p3p:POLICY><p3p:STATEMENT>"
    "<p3p:DATA-GROUP base='http://www.w3.org/TR/P3P/base'><p3p:DATA optional='no'>"
    "<p3p:CATEGORIES><p3p:health/></p3p:CATEGORIES></p3p:DATA></p3p:DATA-GROUP>"
    "</p3p:STATEMENT></p3p:POLICY></appel:RULE>"
    "<appel:RULE behavior='limited' description='demographic'><p3p:POLICY><p3p:STATEMENT>"
    "<p3p:DATA-GROUP><p3p:DATA><p3p:CATEGORIES><p3p:demographic/></p3p:CATEGORIES></p3p:DATA>"
    "</p3p:DATA-GROUP></p3p:STATEMENT></p3p:POLICY></appel:RULE>"
    "<appel:RULE behavior='request'><appel:OTHERWISE/></appel:RULE></appel:RULESET>";

// A well-formed policy; extra is placed among its children, purposes and categories in its first
// statement, on data of variable category.
std::string policy(const std::string& attributes = "", const std::string& extra = "",
                   const std::string& purposes = "<current/>",
                   const std::string& categories = "<navigation/>") {
    return "<POLICY discuri='http://a.example/privacy.html' " + attributes + ">" + extra +
           "<ENTITY><DATA-GROUP><DATA ref='#business.name'>A</DATA></DATA-GROUP></ENTITY>"
           "<ACCESS><nonident/></ACCESS><STATEMENT><PURPOSE>" +
           purposes +
           "</PURPOSE><RECIPIENT><ours/></RECIPIENT><RETENTION><stated-purpose/></RETENTION>"
           "<DATA-GROUP><DATA ref='#dynamic.miscdata'><CATEGORIES>" +
           categories + "</CATEGORIES></DATA></DATA-GROUP></STATEMENT></POLICY>";
}

const Url kPolicyUrl("http://a.example/w3c/p3p.xml");

// The shipped base schema, read from the bundled data directory and not from a module directory.
P3PEvaluator evaluator() {
    return P3PEvaluator(nullptr, shippedSchema());
}

struct Outcome {
    EvaluationCode code;
    MatchResult result;
};

Outcome evaluate(const std::string& policyDocument, const std::string& name = "",
                 const std::string& rules = kRules, BaseDataSchema& base = shippedSchema()) {
    Outcome outcome{EvaluationCode::kEvaluated, {}};
    outcome.code = P3PEvaluator(nullptr, base)
                       .evaluatePolicy(rules, policyDocument, kPolicyUrl, name, outcome.result);
    return outcome;
}

// A policy whose statement holds only the given DATA elements.
std::string policyWithData(const std::string& data) {
    return "<POLICY><ENTITY><DATA-GROUP><DATA ref='#business.name'>A</DATA></DATA-GROUP></ENTITY>"
           "<ACCESS><nonident/></ACCESS><STATEMENT><PURPOSE><current/></PURPOSE>"
           "<RECIPIENT><ours/></RECIPIENT><RETENTION><stated-purpose/></RETENTION><DATA-GROUP>" +
           data + "</DATA-GROUP></STATEMENT></POLICY>";
}

using Descriptions = std::vector<std::string>;

TEST(P3PEvaluatorCodes, EvaluatedPolicyFillsTheResult) {
    const Outcome passed = evaluate(policy("opturi='http://a.example/optout.html'"));
    EXPECT_EQ(passed.code, EvaluationCode::kEvaluated);
    EXPECT_EQ(passed.result.state, kStateNoConflict);
    EXPECT_FALSE(passed.result.isTest);
    EXPECT_EQ(passed.result.disclosureUri, "http://a.example/privacy.html");
    EXPECT_EQ(passed.result.optOutUri, "http://a.example/optout.html");
    EXPECT_EQ(passed.result.policyUrl, kPolicyUrl);

    // Defaults are in place before the rules run: REQUIRED, BASE and OPTIONAL are absent here.
    const Outcome conflict = evaluate(policy("", "", "<current/><telemarketing/>", "<health/>"));
    EXPECT_EQ(conflict.code, EvaluationCode::kEvaluated);
    EXPECT_EQ(conflict.result.state, kStateConflict);
    EXPECT_EQ(conflict.result.descriptions, (Descriptions{"calls", "health"}));
}

TEST(P3PEvaluatorCodes, TestPolicyIsEvaluatedInFull) {
    const Outcome outcome = evaluate(policy("", "<TEST/>", "<telemarketing/>"));
    EXPECT_EQ(outcome.code, EvaluationCode::kEvaluatedTest);
    EXPECT_TRUE(outcome.result.isTest);
    EXPECT_EQ(outcome.result.state, kStateConflict);
    EXPECT_EQ(outcome.result.descriptions, (Descriptions{"calls"}));
    EXPECT_EQ(outcome.result.policyUrl, kPolicyUrl);

    // The flag is cleared for a policy without TEST, and a TEST element elsewhere does not count.
    MatchResult reused;
    reused.isTest = true;
    EXPECT_EQ(evaluator().evaluatePolicy(kRules, policy("", "", "<current/><TEST/>"), kPolicyUrl,
                                         "", reused),
              EvaluationCode::kEvaluated);
    EXPECT_FALSE(reused.isTest);
}

TEST(P3PEvaluatorCodes, PolicyNotFound) {
    const std::string named = policy("name='one'");
    const struct {
        std::string document;
        const char* name;
    } cases[] = {
        {named, "two"},
        {"<POLICIES>" + named + "</POLICIES>", "two"},
        {"<p3p:POLICY xmlns:p3p='x'><ENTITY><DATA-GROUP/></ENTITY><ACCESS><all/></ACCESS>"
         "<STATEMENT><NON-IDENTIFIABLE/></STATEMENT></p3p:POLICY>",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const Outcome outcome = evaluate(c.document, c.name);
        EXPECT_EQ(outcome.code, EvaluationCode::kPolicyNotFound);
        EXPECT_EQ(outcome.result.state, kStateNotEvaluated);
        EXPECT_TRUE(outcome.result.disclosureUri.empty());
        EXPECT_TRUE(outcome.result.policyUrl.empty());
    }
    EXPECT_EQ(evaluate(named, "one").code, EvaluationCode::kEvaluated);
}

TEST(P3PEvaluatorCodes, NameSelectsAmongSeveralPolicies) {
    const std::string document = "<POLICIES>" + policy("name='first'") +
                                 policy("name='second'", "", "<telemarketing/>") + "</POLICIES>";
    EXPECT_EQ(evaluate(document, "second").result.state, kStateConflict);
    EXPECT_EQ(evaluate(document, "").result.state, kStateNoConflict);
    EXPECT_EQ(evaluate("<META><POLICIES>" + policy("name='x'", "", "<telemarketing/>") +
                           "</POLICIES></META>",
                       "x")
                  .result.state,
              kStateConflict);
}

TEST(P3PEvaluatorCodes, MandatoryExtensionIsNotEvaluated) {
    const Outcome outcome =
        evaluate(policy("", "<EXTENSION optional='No'><X/></EXTENSION>", "<telemarketing/>"));
    EXPECT_EQ(outcome.code, EvaluationCode::kMandatoryExtension);
    EXPECT_EQ(outcome.result.disclosureUri, "http://a.example/privacy.html");
    EXPECT_EQ(outcome.result.state, kStateNotEvaluated);
    EXPECT_TRUE(outcome.result.descriptions.empty());
    EXPECT_TRUE(outcome.result.policyUrl.empty());

    for (const char* extension : {"<EXTENSION optional='yes'/>", "<EXTENSION/>",
                                  "<EXTENSION><EXTENSION optional='no'/></EXTENSION>"}) {
        SCOPED_TRACE(extension);
        EXPECT_EQ(evaluate(policy("", extension)).code, EvaluationCode::kEvaluated);
    }
}

TEST(P3PEvaluatorCodes, MalformedPolicyIsNotEvaluated) {
    const std::string accessLast =
        "<POLICY discuri='http://a.example/privacy.html'>"
        "<ENTITY><DATA-GROUP/></ENTITY><STATEMENT><NON-IDENTIFIABLE/></STATEMENT>"
        "<ACCESS><all/></ACCESS><EXTENSION optional='no'/></POLICY>";
    const Outcome outcome = evaluate(accessLast);
    EXPECT_EQ(outcome.code, EvaluationCode::kMalformed);
    EXPECT_EQ(outcome.result.disclosureUri, "http://a.example/privacy.html");
    EXPECT_EQ(outcome.result.state, kStateNotEvaluated);
    EXPECT_TRUE(outcome.result.policyUrl.empty());
}

TEST(P3PEvaluatorCodes, UnusableRuleSetLeavesStateNotEvaluated) {
    const Outcome outcome = evaluate(policy(), "", "<appel:RULESET/>");
    EXPECT_EQ(outcome.code, EvaluationCode::kEvaluated);
    EXPECT_EQ(outcome.result.state, kStateNotEvaluated);
}

TEST(P3PEvaluatorParse, BrokenDocumentsRaise) {
    const struct {
        const char* what;
        std::string rules;
        std::string policy;
    } cases[] = {
        {"broken policy", kRules, "<POLICY><ENTITY></POLICY>"},
        {"empty policy", kRules, ""},
        {"broken rule set", "<appel:RULESET>", policy()},
        // The rule set is parsed first, before the policy is looked for.
        {"broken rule set, no such policy", "<appel:RULESET><", "<POLICIES/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MatchResult result;
        try {
            evaluator().evaluatePolicy(c.rules, c.policy, kPolicyUrl, "", result);
            ADD_FAILURE() << "no error raised";
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), "XML parse error");
        }
    }
}

TEST(P3PEvaluatorUrls, PolicyUrlIsStoredWithoutFragment) {
    MatchResult result;
    result.policyUrl = Url("http://a.example/w3c/p3p.xml#basic");
    EXPECT_EQ(
        evaluator().evaluatePolicy(kRules, policy("name='basic'"),
                                   Url("http://a.example/w3c/p3p.xml#basic"), "basic", result),
        EvaluationCode::kEvaluated);
    EXPECT_EQ(result.policyUrl.str(), "http://a.example/w3c/p3p.xml");
}

TEST(P3PEvaluatorResolution, RulesOnCategoriesSeeTheSchemasCategories) {
    EXPECT_EQ(evaluate(policyWithData("<DATA ref='#user.bdate'/>")).result.descriptions,
              Descriptions{"demographic"});
    // A fixed-category element's categories replace those the policy writes.
    EXPECT_EQ(evaluate(policyWithData("<DATA ref='#dynamic.clickstream'><CATEGORIES><demographic/>"
                                      "<health/></CATEGORIES></DATA>"))
                  .result.state,
              kStateNoConflict);
}

TEST(P3PEvaluatorResolution, WithoutBaseSchemaOnlyARootPolicyIsEvaluated) {
    const TempDir dir;
    BaseDataSchema missing((dir / BaseDataSchema::kFileName).string());
    const Outcome unresolved = evaluate(
        policyWithData("<DATA ref='#user.nosuch'><CATEGORIES><health/></CATEGORIES></DATA>"), "",
        kRules, missing);
    EXPECT_EQ(unresolved.code, EvaluationCode::kEvaluated);
    EXPECT_EQ(unresolved.result.descriptions, Descriptions{"health"});
    EXPECT_EQ(evaluate("<POLICIES>" + policy() + "</POLICIES>", "", kRules, missing).code,
              EvaluationCode::kMalformed);
}

TEST(P3PEvaluatorExamples, BundledPoliciesAgainstHighRuleSet) {
    const std::string rules = readFile(dataDir() / "appel-high.xml");
    const struct {
        const char* file;
        EvaluationCode code;
        int state;
        std::size_t descriptions;
        const char* disclosureUri;
    } cases[] = {
        {"shop-basic.xml", EvaluationCode::kEvaluated, kStateNoConflict, 0,
         "http://shop.example/privacy.html"},
        {"marketing.xml", EvaluationCode::kEvaluated, kStateConflict, 8,
         "http://retail.example/privacy.html"},
        {"newsletter.xml", EvaluationCode::kEvaluated, kStateConflict, 1,
         "http://news.example/privacy.html"},
        {"test-policy.xml", EvaluationCode::kEvaluatedTest, kStateNoConflict, 0,
         "http://draft.example/privacy.html"},
        {"malformed.xml", EvaluationCode::kMalformed, kStateNotEvaluated, 0,
         "http://broken.example/privacy.html"},
        {"bookshop.xml", EvaluationCode::kEvaluated, kStateConflict, 1,
         "http://books.example/privacy.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Outcome outcome = evaluate(readFile(dataDir() / "examples" / c.file), "", rules);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.result.state, c.state);
        EXPECT_EQ(outcome.result.descriptions.size(), c.descriptions);
        EXPECT_EQ(outcome.result.disclosureUri, c.disclosureUri);
    }
}

}  // namespace
}  // namespace perchlight

namespace perchlight {
namespace {

// One evaluator kept across evaluations, as the agent keeps it: a rule set whose bytes change
// between evaluations is the one applied, however often the same bytes came before.
TEST(P3PEvaluatorRuleSetReuse, EachEvaluationUsesTheRuleSetItIsGiven) {
    const P3PEvaluator kept(nullptr, test::shippedSchema());
    const std::string calls = policy("", "", "<telemarketing/>");
    const std::string acceptAll =
        "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1'>"
        "<appel:RULE behavior='request'><appel:OTHERWISE/></appel:RULE></appel:RULESET>";
    for (int round = 0; round < 2; ++round) {
        MatchResult flagged;
        kept.evaluatePolicy(kRules, calls, kPolicyUrl, "", flagged);
        EXPECT_EQ(flagged.state, kStateConflict);
        EXPECT_EQ(flagged.descriptions, std::vector<std::string>{"calls"});
        MatchResult accepted;
        kept.evaluatePolicy(acceptAll, calls, kPolicyUrl, "", accepted);
        EXPECT_EQ(accepted.state, kStateNoConflict);
        EXPECT_TRUE(accepted.descriptions.empty());
    }
    MatchResult broken;
    EXPECT_THROW(kept.evaluatePolicy("<appel:RULESET", calls, kPolicyUrl, "", broken), Error);
    MatchResult again;
    kept.evaluatePolicy(kRules, calls, kPolicyUrl, "", again);
    EXPECT_EQ(again.state, kStateConflict);
}

}  // namespace
}  // namespace perchlight
