// The compact policy and "why" fields of survey records, and the report's figures made of them.
#include "cli/SurveyCompact.h"
#include "cli/SurveyReport.h"

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

TEST(SurveyCompactFields, SurviveTheCsvLine) {
    SurveyRecord record;
    record.url = "http://a.example/";
    record.verdict = "unmatched";
    record.httpStatus = 200;
    record.cpProblems = {"unknown-token CURa", "missing-group RETENTION"};
    record.cpMismatches = {"omitted TEL"};
    record.firedElements = {"RECIPIENT unrelated", "CATEGORIES purchase"};
    for (const std::optional<std::string>& cp :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("NOI \"CURa\", OUR")}) {
        record.cp = cp;
        const std::string line = toCsvLine(record);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const std::optional<SurveyRecord> back = fromCsvLine(line);
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(back->cp, cp) << line;
        EXPECT_EQ(back->cpProblems, record.cpProblems);
        EXPECT_EQ(back->cpMismatches, record.cpMismatches);
        EXPECT_EQ(back->firedElements, record.firedElements);
        EXPECT_EQ(back->httpStatus, 200);
    }
    const std::string header = csvHeader();
    EXPECT_EQ(header.substr(header.find(",cp,")), ",cp,cp_problems,cp_mismatches,fired_elements");
    EXPECT_FALSE(fromCsvLine(header));
}

TEST(SurveyCompactFields, OlderCsvRowsAreReadWithout) {
    // A row of the twelve fields written before the compact policy columns, then one of today,
    // in the same file as a resumed survey leaves it.
    SurveyRecord today;
    today.url = "http://b.example/";
    today.cp = "NOI CURa";
    today.cpProblems = {"unknown-token CURa"};
    std::istringstream file(
        "url,final_url,verdict,policy,route,code,rules,items,requests,ms,error,http_status\n"
        "\"http://a.example/\",\"http://a.example/\",\"unmatched\",\"http://a.example/p.xml\","
        "\"well-known\",0,\"no telemarketing\",\"\",3,12,\"\",200\n" +
        toCsvLine(today) + "\n");
    const std::vector<SurveyRecord> records = SurveyReport::readOutput(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].url, "http://a.example/");
    EXPECT_THAT(records[0].rules, ElementsAre("no telemarketing"));
    EXPECT_EQ(records[0].httpStatus, 200);
    EXPECT_FALSE(records[0].cp);
    EXPECT_THAT(records[0].cpProblems, IsEmpty());
    EXPECT_EQ(records[1].cp, "NOI CURa");
    EXPECT_THAT(records[1].cpProblems, ElementsAre("unknown-token CURa"));
    // Neither eleven nor thirteen fields is a row.
    EXPECT_FALSE(fromCsvLine("\"a\",\"b\",\"c\",\"d\",\"e\",0,\"\",\"\",1,2,\"\""));
    EXPECT_FALSE(fromCsvLine("\"a\",\"b\",\"c\",\"d\",\"e\",0,\"\",\"\",1,2,\"\",0,\"x\""));
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

TEST(SurveyCompactReport, HtmlShowsTheFiguresWithSiteTextEscaped) {
    const std::string copied = "CP=\"<script>alert(1)</script> & NOI\"";
    std::vector<SurveyRecord> records = {recordFor("P3P: " + copied), recordFor("P3P: " + copied),
                                         recordFor("P3P: CP=\"NOI CUR OUR STP NAV\""),
                                         recordFor("P3P: CP=\"NOI CURa <b> OUR STP NAV\""),
                                         recordFor("")};
    records.back().firedElements = {"CATEGORIES <purchase>"};
    std::ostringstream html;
    SurveyReport(records).writeHtml(html);
    const std::string page = html.str();
    for (const char* expected :
         {"4 of 5 sites send a compact policy, 1 valid, 3 with problems.",
          "Sites with a compact policy", CompactTally::kProblemClassesTitle,
          CompactTally::kInvalidTokensTitle, CompactTally::kInvalidTextsTitle,
          CompactTally::kFiredElementsTitle, ">unknown-token<", ">CURa<", "&lt;b&gt;",
          "<code>&quot;&lt;script&gt;alert(1)&lt;/script&gt; &amp; NOI&quot;</code>",
          "CATEGORIES &lt;purchase&gt;"}) {
        EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
    }
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<purchase>"), std::string::npos);
}

}  // namespace
}  // namespace perchlight::cli
