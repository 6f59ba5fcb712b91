// The compact policy and "why" fields of survey records, and the report's figures made of them.
#include "cli/SurveyCompact.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "core/MatchResult.h"

namespace perchlight::cli {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::Pair;

SurveyRecord recordFor(const std::string& headers, const MatchResult& main = {}) {
    SurveyRecord record;
    fillCompactFields(headers, main, record);
    return record;
}

TEST(SurveyCompactFields, HoldTheFirstCompactPolicyAndItsProblems) {
    MatchResult main;
    main.state = kStateConflict;
    main.impliedCompactTokens = {"NOI", "CUR", "OUR", "STP", "NAV", "TEL"};
    main.firedRules = {{"r", {{1, {{"PURPOSE", "telemarketing"}, {"DATA", "#user.name"}}, ""}}},
                       {"s", {{2, {{"PURPOSE", "telemarketing"}}, ""}}}};
    const SurveyRecord record = recordFor(
        "HTTP/1.1 200 OK\r\nP3P: policyref=\"/w3c/p3p.xml\"\r\n"
        "P3P: CP=\"NOI CUR OUR STP NAV CURa\"\r\nP3P: CP=\"ALL\"\r\n\r\n",
        main);
    EXPECT_EQ(record.cp, "NOI CUR OUR STP NAV CURa");
    EXPECT_THAT(record.cpProblems, ElementsAre("unknown-token CURa"));
    EXPECT_THAT(record.cpMismatches, ElementsAre("omitted TEL"));
    EXPECT_THAT(record.firedElements, ElementsAre("PURPOSE telemarketing", "DATA #user.name"));
}

TEST(SurveyCompactFields, StayEmptyWithoutACompactPolicy) {
    const SurveyRecord record = recordFor("HTTP/1.1 200 OK\r\nP3P: policyref=\"/p.xml\"\r\n\r\n");
    EXPECT_FALSE(record.cp);
    EXPECT_THAT(record.cpProblems, IsEmpty());
    // Without an evaluated full policy nothing is compared.
    EXPECT_THAT(
        recordFor("HTTP/1.1 200 OK\r\nP3P: CP=\"NOI CUR OUR STP NAV\"\r\n\r\n").cpMismatches,
        IsEmpty());
}

TEST(SurveyCompactFields, SurviveTheJsonLine) {
    SurveyRecord record;
    record.url = "http://a.example/";
    record.cp = "";
    record.cpProblems = {"free-text "};
    record.cpMismatches = {"omitted TEL"};
    record.firedElements = {"RECIPIENT unrelated"};
    const std::optional<SurveyRecord> back = fromJsonLine(toJsonLine(record));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->cp, "");
    EXPECT_EQ(back->cpProblems, record.cpProblems);
    EXPECT_EQ(back->cpMismatches, record.cpMismatches);
    EXPECT_EQ(back->firedElements, record.firedElements);
    record.cp.reset();
    EXPECT_FALSE(fromJsonLine(toJsonLine(record))->cp);
}

TEST(SurveyCompactTally, CountsSitesProblemsTokensAndCopiedTexts) {
    const std::string copied = "CP=\"This is not a P3P policy!\"";
    std::vector<SurveyRecord> records = {recordFor("P3P: " + copied),
                                         recordFor("P3P: " + copied),
                                         recordFor("P3P: CP=\"NOI CUR OUR STP NAV\""),
                                         recordFor("P3P: CP=\"NOI CURa OUR STP NAV\""),
                                         recordFor("P3P: CP=\"NOI CURa ADMA OUR NAV\""),
                                         recordFor("")};
    records.back().firedElements = {"PURPOSE telemarketing"};
    const CompactTally tally(records);
    EXPECT_EQ(tally.withCompactPolicy(), 5u);
    EXPECT_EQ(tally.valid(), 1u);
    EXPECT_THAT(
        tally.problemClasses(),
        ElementsAre(Pair("free-text", 2u), Pair("missing-group", 2u), Pair("unknown-token", 2u)));
    EXPECT_THAT(tally.invalidTokens(), ElementsAre(Pair("CURa", 2u), Pair("ADMA", 1u)));
    EXPECT_THAT(tally.invalidTexts(), ElementsAre(Pair("\"This is not a P3P policy!\"", 2u)));
    EXPECT_THAT(tally.firedElements(), ElementsAre(Pair("PURPOSE telemarketing", 1u)));
    std::ostringstream text;
    tally.writeText(text);
    EXPECT_NE(text.str().find("Compact policies: 5 of 6 sites send one, 1 valid, 4 with problems"),
              std::string::npos)
        << text.str();
}

}  // namespace
}  // namespace perchlight::cli
