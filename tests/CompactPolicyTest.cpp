// Compact policies: the vocabulary against the Recommendation's list, reading and validating
// header values, and comparing them with the full policies of the examples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/CompactPolicy.h"
#include "core/P3PEvaluator.h"

namespace perchlight {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAre;
using Kind = CompactProblemKind;

std::vector<std::string> fixtureLines() {
    std::ifstream in(PERCHLIGHT_FIXTURES_DIR "/compact-tokens.txt");
    EXPECT_TRUE(in) << "no fixture";
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

const std::map<std::string, std::string> kRuleGroups = {
    {"compact-access", "ACCESS"},
    {"compact-disputes", "DISPUTES"},
    {"compact-remedies", "REMEDIES"},
    {"compact-non-identifiable", "NON-IDENTIFIABLE"},
    {"compact-purpose", "PURPOSE"},
    {"compact-recipient", "RECIPIENT"},
    {"compact-retention", "RETENTION"},
    {"compact-category", "CATEGORIES"},
    {"compact-test", "TEST"}};

TEST(CompactVocabulary, IsTheRecommendationsGrammar) {
    // token, group, takes a suffix: from the grammar's rules
    std::vector<std::tuple<std::string, std::string, bool>> listed;
    const std::regex alternative("\"([A-Z]{3})\"( \\[creq\\])?");
    for (const std::string& line : fixtureLines()) {
        const std::size_t equals = line.find(" = ");
        if (equals == std::string::npos || line.starts_with("creq")) {
            continue;
        }
        const std::string group = kRuleGroups.at(line.substr(0, equals));
        for (std::sregex_iterator it(line.begin(), line.end(), alternative), end; it != end; ++it) {
            listed.emplace_back((*it)[1].str(), group, (*it)[2].matched);
        }
    }
    std::vector<std::tuple<std::string, std::string, bool>> table;
    for (const CompactTokenInfo& info : compactTokenTable()) {
        table.emplace_back(std::string(info.token), std::string(compactGroupName(info.group)),
                           info.takesSuffix);
    }
    EXPECT_EQ(table, listed);
    EXPECT_EQ(listed.size(), 52u);
}

TEST(CompactVocabulary, StandsForTheElementsTheRecommendationNames) {
    std::vector<std::pair<std::string, std::string>> listed;
    for (const std::string& line : fixtureLines()) {
        if (line.find(" = ") == std::string::npos) {
            const std::size_t space = line.find(' ');
            listed.emplace_back(line.substr(0, space), line.substr(space + 1));
        }
    }
    std::vector<std::pair<std::string, std::string>> table;
    for (const CompactTokenInfo& info : compactTokenTable()) {
        table.emplace_back(std::string(info.token), std::string(info.element));
    }
    EXPECT_EQ(table, listed);
}

struct FieldCase {
    const char* header;
    std::optional<std::string> cp;
};

class CompactField : public testing::TestWithParam<FieldCase> {};

TEST_P(CompactField, IsTheFirstCpOfTheHeader) {
    EXPECT_EQ(compactPolicyField(GetParam().header), GetParam().cp) << GetParam().header;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, CompactField,
    testing::Values(FieldCase{R"(CP="NOI DSP COR")", "NOI DSP COR"},
                    FieldCase{R"(policyref="/w3c/p3p.xml", CP="NOI DSP")", "NOI DSP"},
                    FieldCase{R"(CP="NOI DSP", policyref="/w3c/p3p.xml")", "NOI DSP"},
                    FieldCase{R"(policyref="/a,CP=b", CP="ALL")", "ALL"},
                    FieldCase{R"(CP="ALL", CP="NOI")", "ALL"}, FieldCase{R"(cp="ALL")", "ALL"},
                    FieldCase{"CP=IDC DSP COR ", "IDC DSP COR"},
                    FieldCase{R"(CP="unterminated)", "unterminated"}, FieldCase{R"(CP="")", ""},
                    FieldCase{R"(policyref="/w3c/p3p.xml")", std::nullopt},
                    FieldCase{"", std::nullopt}, FieldCase{R"(XCP="ALL")", std::nullopt}));

std::vector<std::pair<Kind, std::string>> problemsOf(const std::string& text) {
    std::vector<std::pair<Kind, std::string>> problems;
    for (const CompactProblem& problem : parseCompactPolicy(text).problems) {
        problems.emplace_back(problem.kind, problem.other.empty()
                                                ? problem.token
                                                : problem.token + " " + problem.other);
    }
    return problems;
}

TEST(CompactPolicyParse, ValidPolicyHasItsTokensInAnyOrder) {
    const CompactPolicy compact = parseCompactPolicy(
        "CUR ADMa DEVa PSAo PSDo OUR BUS UNI PUR INT DEM STA PRE COM NAV "
        "OTC NOI DSP COR");
    EXPECT_TRUE(compact.valid());
    ASSERT_EQ(compact.tokens.size(), 19u);
    EXPECT_EQ(compact.tokens[0].text, "CUR");
    EXPECT_EQ(compact.tokens[3].info->token, "PSA");
    EXPECT_EQ(compact.tokens[3].suffix, 'o');
    EXPECT_TRUE(compact.has("NOI"));
    EXPECT_FALSE(compact.has("TEL"));
}

struct ProblemCase {
    const char* name;
    const char* text;
    std::vector<std::pair<Kind, std::string>> problems;
};

class CompactProblems : public testing::TestWithParam<ProblemCase> {};

TEST_P(CompactProblems, AreClassified) {
    EXPECT_EQ(problemsOf(GetParam().text), GetParam().problems) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, CompactProblems,
    testing::Values(
        ProblemCase{"Valid", "NOI DSP COR NID CUR ADMo OUR STP NAV TST", {}},
        ProblemCase{
            "MiscasedTypo", "NOI CUR ADMA OUR STP NAV", {{Kind::kUnknownToken, "ADMA ADMa"}}},
        ProblemCase{"MiscasedToken",
                    "noi CUR OUR STP NAV",
                    {{Kind::kUnknownToken, "noi NOI"}, {Kind::kMissingGroup, "ACCESS"}}},
        ProblemCase{"OneLetterOff",
                    "NOI CUR OUR STP NAX",
                    {{Kind::kUnknownToken, "NAX NAV"}, {Kind::kMissingGroup, "CATEGORIES"}}},
        ProblemCase{"SuffixOnATokenWithout",
                    "NOI CURa OUR STP NAV",
                    {{Kind::kUnknownToken, "CURa CUR"}, {Kind::kMissingGroup, "PURPOSE"}}},
        ProblemCase{"NothingClose", "NOI CUR OUR STP NAV QQQQ", {{Kind::kUnknownToken, "QQQQ"}}},
        ProblemCase{"MissingGroups",
                    "NOI DSP CUR OUR",
                    {{Kind::kMissingGroup, "RETENTION"}, {Kind::kMissingGroup, "CATEGORIES"}}},
        ProblemCase{"OnlyTest",
                    "TST",
                    {{Kind::kMissingGroup, "ACCESS"},
                     {Kind::kMissingGroup, "PURPOSE"},
                     {Kind::kMissingGroup, "RECIPIENT"},
                     {Kind::kMissingGroup, "RETENTION"},
                     {Kind::kMissingGroup, "CATEGORIES"}}},
        ProblemCase{
            "TwoAccessTokens", "NOI ALL CUR OUR STP NAV", {{Kind::kContradiction, "NOI ALL"}}},
        ProblemCase{"NoIdentifiedDataButContactData",
                    "NOI CUR OUR STP PHY ONL",
                    {{Kind::kContradiction, "NOI PHY"}, {Kind::kContradiction, "NOI ONL"}}},
        ProblemCase{"Duplicate", "NOI NOI CUR OUR STP NAV", {{Kind::kDuplicate, "NOI"}}},
        ProblemCase{"FreeText",
                    "This is not a P3P policy! See http://www.example.com/privacy for more info.",
                    {{Kind::kFreeText,
                      "This is not a P3P policy! See http://www.example.com/privacy for more "
                      "info."}}},
        ProblemCase{"LowerCaseWords", "see our policy", {{Kind::kFreeText, "see our policy"}}},
        ProblemCase{"Empty", "", {{Kind::kFreeText, ""}}},
        ProblemCase{"DoubleSpaces", "NOI  CUR OUR  STP NAV", {}}),
    [](const testing::TestParamInfo<ProblemCase>& info) { return info.param.name; });

TEST(CompactPolicyLimits, LongTextIsCutAndSaysSo) {
    std::string text = "NOI CUR OUR STP NAV";
    text += std::string(CompactPolicy::kMaxBytes, ' ') + "TEL";
    const CompactPolicy compact = parseCompactPolicy(text);
    EXPECT_EQ(compact.text.size(), CompactPolicy::kMaxBytes);
    EXPECT_FALSE(compact.has("TEL"));
    ASSERT_EQ(compact.problems.size(), 1u);
    EXPECT_EQ(compact.problems[0].kind, Kind::kOverLimit);
}

TEST(CompactPolicyLimits, TokensPastTheLimitAreNotRead) {
    std::string text = "NOI CUR OUR STP";
    for (std::size_t i = 0; i < CompactPolicy::kMaxTokens; ++i) {
        text += " NAV";
    }
    text += " TEL";
    const CompactPolicy compact = parseCompactPolicy(text);
    EXPECT_FALSE(compact.has("TEL"));
    EXPECT_EQ(compact.problems.front().kind, Kind::kOverLimit);
    EXPECT_EQ(compact.problems.front().token,
              std::to_string(CompactPolicy::kMaxTokens + 5) + " tokens");
}

TEST(CompactPolicyText, NamesTheProblemInPlainWords) {
    EXPECT_EQ(compactProblemText({Kind::kUnknownToken, "CURA", "CURa"}),
              "unknown token CURA (did you mean CURa?)");
    EXPECT_EQ(compactProblemText({Kind::kUnknownToken, "QQQ", ""}), "unknown token QQQ");
    EXPECT_EQ(compactProblemText({Kind::kMissingGroup, "PURPOSE", ""}), "no PURPOSE token");
    EXPECT_EQ(compactProblemText({Kind::kContradiction, "NOI", "ALL"}), "NOI contradicts ALL");
    EXPECT_EQ(compactProblemClass(Kind::kFreeText), "free-text");
}

std::vector<std::string> impliedBy(const std::string& example) {
    MatchResult result;
    P3PEvaluator(nullptr, test::shippedSchema())
        .evaluatePolicy(test::readFile(test::dataDir() / "appel-low.xml"),
                        test::readFile(test::dataDir() / "examples" / example),
                        Url("http://shop.example/w3c/policy.xml"), "", result);
    return result.impliedCompactTokens;
}

TEST(CompactPolicyCompare, ExamplePoliciesImplyTheirTokens) {
    EXPECT_THAT(impliedBy("marketing.xml"),
                ElementsAre("NON", "CUR", "TELo", "IVD", "OUR", "UNR", "IND", "PHY", "PUR"));
    EXPECT_THAT(impliedBy("test-policy.xml"), testing::Contains("TST"));
    EXPECT_THAT(impliedBy("malformed.xml"), IsEmpty());
}

std::vector<std::string> mismatchTokens(const std::string& compact,
                                        const std::vector<std::string>& implied) {
    std::vector<std::string> tokens;
    for (const CompactMismatch& mismatch :
         compareCompactPolicy(parseCompactPolicy(compact), implied)) {
        tokens.push_back((mismatch.kind == CompactMismatch::Kind::kUnsupported ? "+" : "-") +
                         mismatch.token);
    }
    return tokens;
}

TEST(CompactPolicyCompare, AgreeingPoliciesHaveNoMismatch) {
    const std::vector<std::string> implied = impliedBy("marketing.xml");
    std::string compact;
    for (const std::string& token : implied) {
        compact += token + " ";
    }
    EXPECT_THAT(mismatchTokens(compact, implied), IsEmpty()) << compact;
}

TEST(CompactPolicyCompare, NamesWhatIsLeftOutAndWhatIsUnsupported) {
    EXPECT_THAT(mismatchTokens("NOI CUR OUR STP NAV", {"ALL", "CUR", "TEL", "OUR", "STP", "NAV"}),
                UnorderedElementsAre("+NOI", "-ALL", "-TEL"));
    // A suffix does not make a token a different one.
    EXPECT_THAT(mismatchTokens("ALL TELo OUR STP NAV", {"ALL", "TEL", "OUR", "STP", "NAV"}),
                IsEmpty());
    // NOI while the policy gives access.
    EXPECT_EQ(compareCompactPolicy(parseCompactPolicy("NOI CUR OUR STP NAV"),
                                   {"ALL", "CUR", "OUR", "STP", "NAV"})
                  .front()
                  .text,
              "NOI claims that no identified data is kept, which the full policy does not declare");
    const std::vector<CompactMismatch> left =
        compareCompactPolicy(parseCompactPolicy("ALL CUR OUR STP NAV"), {"ALL", "CUR", "TEL"});
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(left.back().text,
              "the full policy declares use for telemarketing, and the compact policy has no TEL");
}

}  // namespace
}  // namespace perchlight
