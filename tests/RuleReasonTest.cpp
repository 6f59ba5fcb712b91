// Why a rule fired: the statements and elements recorded beside each fired rule's description,
// and the one line of plain words made of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/AppelEngine.h"
#include "core/P3PEvaluator.h"
#include "core/ReasonText.h"

namespace perchlight {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using E = MatchedElement;

std::string ruleSet(const std::string& rules) {
    return "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1' "
           "xmlns:p3p='http://www.w3.org/2000/12/P3Pv1'>" +
           rules + "<appel:RULE behavior='request'><appel:OTHERWISE/></appel:RULE></appel:RULESET>";
}

std::string statement(const std::string& purpose, const std::string& recipient,
                      const std::string& category) {
    return "<STATEMENT><PURPOSE><" + purpose + "/></PURPOSE><RECIPIENT><" + recipient +
           "/></RECIPIENT><RETENTION><stated-purpose/></RETENTION><DATA-GROUP>"
           "<DATA ref='#dynamic.miscdata'><CATEGORIES><" +
           category + "/></CATEGORIES></DATA></DATA-GROUP></STATEMENT>";
}

std::string policy(const std::string& statements) {
    return "<POLICY><ACCESS><none/></ACCESS><DISPUTES-GROUP><DISPUTES resolution-type='court'/>"
           "</DISPUTES-GROUP>" +
           statements + "</POLICY>";
}

const std::string kSharesPurchases =
    "<appel:RULE behavior='limited' description='shares purchases'><p3p:POLICY><p3p:STATEMENT>"
    "<p3p:RECIPIENT appel:connective='or'><p3p:unrelated/><p3p:public/></p3p:RECIPIENT>"
    "<p3p:DATA-GROUP><p3p:DATA><p3p:CATEGORIES><p3p:purchase/></p3p:CATEGORIES></p3p:DATA>"
    "</p3p:DATA-GROUP></p3p:STATEMENT></p3p:POLICY></appel:RULE>";

MatchResult evaluate(const std::string& rules, const std::string& policyText) {
    MatchResult result;
    evaluateRuleSet(XmlNode::parseXmlBuffer(rules), XmlNode::parseXmlBuffer(policyText), result);
    return result;
}

TEST(RuleReasonRecord, NamesTheStatementAndItsMatchedElements) {
    const MatchResult result =
        evaluate(ruleSet(kSharesPurchases), policy(statement("current", "ours", "navigation") +
                                                   statement("admin", "unrelated", "purchase")));
    ASSERT_EQ(result.firedRules.size(), 1u);
    EXPECT_EQ(result.firedRules[0].description, "shares purchases");
    ASSERT_EQ(result.firedRules[0].statements.size(), 1u);
    const StatementReason& reason = result.firedRules[0].statements[0];
    EXPECT_EQ(reason.statement, 2);
    EXPECT_THAT(reason.elements,
                ElementsAre(E{"RECIPIENT", "unrelated"}, E{"DATA", "#dynamic.miscdata"},
                            E{"CATEGORIES", "purchase"}));
    EXPECT_EQ(reason.line, "statement 2: shares purchase data with unrelated companies");
}

TEST(RuleReasonRecord, TwoStatementsFiringTheSameRuleAreBothListed) {
    const MatchResult result =
        evaluate(ruleSet(kSharesPurchases), policy(statement("admin", "public", "purchase") +
                                                   statement("current", "ours", "navigation") +
                                                   statement("admin", "unrelated", "purchase")));
    ASSERT_EQ(result.firedRules.size(), 1u);
    std::vector<int> statements;
    for (const StatementReason& reason : result.firedRules[0].statements) {
        statements.push_back(reason.statement);
    }
    EXPECT_THAT(statements, ElementsAre(1, 3));
    EXPECT_EQ(result.firedRules[0].statements[0].line,
              "statement 1: shares purchase data with the public");
}

TEST(RuleReasonRecord, AbsenceRulesNameWhatThePolicySaysInstead) {
    const std::string onlyOurs =
        "<appel:RULE behavior='limited' description='not only us'><p3p:POLICY><p3p:STATEMENT>"
        "<p3p:RECIPIENT appel:connective='non-or'><p3p:ours/></p3p:RECIPIENT></p3p:STATEMENT>"
        "</p3p:POLICY></appel:RULE>";
    const MatchResult result =
        evaluate(ruleSet(onlyOurs), policy(statement("admin", "delivery", "navigation")));
    ASSERT_EQ(result.firedRules.size(), 1u);
    EXPECT_THAT(result.firedRules[0].statements[0].elements,
                ElementsAre(E{"RECIPIENT", "delivery"}));
}

TEST(RuleReasonRecord, PolicyWideElementsBelongToNoStatement) {
    const std::string noAccess =
        "<appel:RULE behavior='limited' description='no access'><p3p:POLICY><p3p:ACCESS>"
        "<p3p:none/></p3p:ACCESS><p3p:DISPUTES-GROUP><p3p:DISPUTES resolution-type='court'/>"
        "</p3p:DISPUTES-GROUP></p3p:POLICY></appel:RULE>";
    const MatchResult result =
        evaluate(ruleSet(noAccess), policy(statement("admin", "ours", "navigation")));
    ASSERT_EQ(result.firedRules.size(), 1u);
    ASSERT_EQ(result.firedRules[0].statements.size(), 1u);
    const StatementReason& reason = result.firedRules[0].statements[0];
    EXPECT_EQ(reason.statement, 0);
    EXPECT_THAT(reason.elements, ElementsAre(E{"ACCESS", "none"}, E{"DISPUTES", "court"}));
    EXPECT_EQ(reason.line, "the policy: gives access to no data; resolves disputes by court");
}

TEST(RuleReasonRecord, RulesWithoutDescriptionOrThatStopRecordNothing) {
    const MatchResult result =
        evaluate(ruleSet("<appel:RULE behavior='limited'><appel:OTHERWISE/></appel:RULE>"),
                 policy(statement("admin", "ours", "navigation")));
    EXPECT_THAT(result.firedRules, IsEmpty());
    const MatchResult otherwise =
        evaluate(ruleSet("<appel:RULE behavior='limited' description='always'><appel:OTHERWISE/>"
                         "</appel:RULE>"),
                 policy(statement("admin", "ours", "navigation")));
    ASSERT_EQ(otherwise.firedRules.size(), 1u);
    EXPECT_THAT(otherwise.firedRules[0].statements, IsEmpty());
}

TEST(RuleReasonLimits, KeepTheFirstStatementsAndElements) {
    std::string statements;
    for (int i = 0; i < 100; ++i) {
        statements += statement("admin", "unrelated", "purchase");
    }
    std::string data;
    for (int i = 0; i < 50; ++i) {
        data += "<DATA ref='#dynamic.x" + std::to_string(i) +
                "'><CATEGORIES><purchase/></CATEGORIES></DATA>";
    }
    statements +=
        "<STATEMENT><PURPOSE><admin/></PURPOSE><RECIPIENT><public/></RECIPIENT>"
        "<RETENTION><stated-purpose/></RETENTION><DATA-GROUP>" +
        data + "</DATA-GROUP></STATEMENT>";
    const MatchResult all = evaluate(ruleSet(kSharesPurchases), policy(statements));
    ASSERT_EQ(all.firedRules.size(), 1u);
    EXPECT_EQ(all.firedRules[0].statements.size(), kMaxReasonStatements);
    EXPECT_EQ(all.firedRules[0].statements.back().statement,
              static_cast<int>(kMaxReasonStatements));
    const MatchResult many =
        evaluate(ruleSet(kSharesPurchases),
                 policy(statements.substr(statements.find("<STATEMENT><PURPOSE><admin/></PURPOSE>"
                                                          "<RECIPIENT><public/>"))));
    ASSERT_EQ(many.firedRules.size(), 1u);
    EXPECT_EQ(many.firedRules[0].statements[0].elements.size(), kMaxReasonElements);
}

struct LineCase {
    std::vector<MatchedElement> elements;
    const char* line;
};

class RuleReasonLine : public testing::TestWithParam<LineCase> {};

TEST_P(RuleReasonLine, SaysWhatMatchedInPlainWords) {
    EXPECT_EQ(reasonLine({4, GetParam().elements, {}}), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, RuleReasonLine,
    testing::Values(
        LineCase{{}, "statement 4: matched"},
        LineCase{{{"PURPOSE", "telemarketing"}}, "statement 4: uses your data for telemarketing"},
        LineCase{{{"RECIPIENT", "ours"}, {"RECIPIENT", "same"}},
                 "statement 4: shares your data with companies with the same practices"},
        LineCase{{{"CATEGORIES", "health"}, {"CATEGORIES", "financial"}, {"PURPOSE", "contact"}},
                 "statement 4: uses health and financial data for contacting you"},
        LineCase{{{"DATA", "#user.bdate"}, {"RETENTION", "indefinitely"}},
                 "statement 4: keeps #user.bdate indefinitely"},
        LineCase{{{"DATA", "#user.bdate"}}, "statement 4: collects #user.bdate"},
        LineCase{{{"PURPOSE", "x-unknown"}}, "statement 4: uses your data for x-unknown"}),
    [](const testing::TestParamInfo<LineCase>& info) {
        return "Elements" + std::to_string(info.index);
    });

struct ExampleCase {
    const char* policy;
    const char* level;
    std::vector<std::string> lines;  // the first line of each fired rule
};

class RuleReasonExamples : public testing::TestWithParam<ExampleCase> {};

TEST_P(RuleReasonExamples, RecordTheStatementsThatFired) {
    MatchResult result;
    P3PEvaluator(nullptr, test::shippedSchema())
        .evaluatePolicy(
            test::readFile(test::dataDir() / (std::string("appel-") + GetParam().level + ".xml")),
            test::readFile(test::dataDir() / "examples" / GetParam().policy),
            Url("http://shop.example/w3c/policy.xml"), "", result);
    std::vector<std::string> lines;
    for (const FiredRule& rule : result.firedRules) {
        lines.push_back(rule.statements.empty() ? "" : rule.statements.front().line);
    }
    EXPECT_EQ(lines, GetParam().lines);
    ASSERT_EQ(result.firedRules.size(), result.descriptions.size());
    for (std::size_t i = 0; i < result.firedRules.size(); ++i) {
        EXPECT_EQ(result.firedRules[i].description, result.descriptions[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    InstalledLevels, RuleReasonExamples,
    testing::Values(
        ExampleCase{"shop-basic.xml", "high", {}},
        ExampleCase{
            "marketing.xml", "low", {"statement 1: shares purchase data with unrelated companies"}},
        ExampleCase{"marketing.xml",
                    "medium",
                    {"statement 1: uses purchase data for decisions about you",
                     "statement 1: uses purchase data for telemarketing",
                     "statement 1: shares purchase data with unrelated companies",
                     "statement 1: uses your data for telemarketing",
                     "statement 1: shares contact data with unrelated companies"}},
        ExampleCase{"newsletter.xml", "medium", {}},
        ExampleCase{"newsletter.xml", "high", {"statement 1: uses your data for analysis of you"}},
        ExampleCase{"bookshop.xml", "high", {"statement 3: uses your data for analysis of you"}},
        ExampleCase{"malformed.xml", "high", {}}),
    [](const testing::TestParamInfo<ExampleCase>& info) {
        std::string name = std::string(info.param.policy) + "_" + info.param.level;
        std::erase_if(
            name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)) && c != '_'; });
        return name;
    });

}  // namespace
}  // namespace perchlight
