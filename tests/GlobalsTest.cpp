#include "retrieval/Globals.h"
#include "retrieval/GlobalsDetail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

const Url kPage("http://www.example.com/shop/cart.html");

TEST(ExtractPolicyRef, ResolvesTheQuotedValueAgainstThePage) {
    EXPECT_EQ(extractPolicyRef("HTTP/1.1 200 OK\r\nP3P: policyref=\"/w3c/p3p.xml\", CP=\"NOI\"\r\n",
                               kPage)
                  .str(),
              "http://www.example.com/w3c/p3p.xml");
    EXPECT_EQ(extractPolicyRef("X-Other: policyref=\"refs.xml\"\r\n", kPage).str(),
              "http://www.example.com/shop/refs.xml");
    EXPECT_EQ(
        extractPolicyRef("P3P: policyref=\"https://policies.example/p.xml\"\r\n", kPage).str(),
        "https://policies.example/p.xml");
}

TEST(ExtractPolicyRef, YieldsNothingWithoutTwoQuotes) {
    for (const char* headers : {"", "P3P: CP=\"NOI\"\r\n", "P3P: policyref=/w3c/p3p.xml\r\n",
                                "P3P: policyref=\"/w3c/p3p.xml\r\n", "P3P: PolicyRef=\"/a\"\r\n"}) {
        EXPECT_TRUE(extractPolicyRef(headers, kPage).empty()) << headers;
    }
}

TEST(ExtractPolicyRef, UnresolvableValueIsAbsent) {
    EXPECT_TRUE(extractPolicyRef("P3P: policyref=\"http://[bad\"\r\n", kPage).empty());
}

TEST(P3PHeaderValues, AreTheWholeValuesOfTheLastResponse) {
    const std::string chain =
        "HTTP/1.1 302 Found\r\nP3P: CP=\"OLD\"\r\nLocation: /b\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\np3p:  policyref=\"/w3c/p3p.xml\", "
        "CP=\"NOI DSP\" \r\nP3P: CP=\"ALL\"\r\nX-P3P: no\r\n\r\n";
    EXPECT_EQ(
        p3pHeaderValues(chain),
        (std::vector<std::string>{"policyref=\"/w3c/p3p.xml\", CP=\"NOI DSP\"", "CP=\"ALL\""}));
    EXPECT_TRUE(p3pHeaderValues("").empty());
    EXPECT_TRUE(p3pHeaderValues("HTTP/1.1 200 OK\nP3P").empty());
}

TEST(P3PHeaderValues, CompactPolicyOfAUrlIsTheFirstSeen) {
    const Url page("http://a.example/");
    const std::vector<SeenP3PHeader> seen = {{Url("http://b.example/"), "CP=\"ALL\""},
                                             {page, "policyref=\"/p.xml\""},
                                             {page, "CP=\"NOI\""},
                                             {page, "CP=\"NON\""}};
    EXPECT_EQ(compactPolicyFor(seen, page), "NOI");
    EXPECT_EQ(compactPolicyFor(seen, Url("http://c.example/")), "");
}

TEST(ParseHttpDate, ReadsTheThreeHttpForms) {
    EXPECT_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777u);
    EXPECT_EQ(parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777u);
    EXPECT_EQ(parseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777u);
}

TEST(ParseHttpDate, NoTextIsZeroAndTheEpochIsInvalid) {
    EXPECT_EQ(parseHttpDate(nullptr), 0u);
    for (const char* text : {"Thu, 01 Jan 1970 00:00:00 GMT", "not a date", ""}) {
        try {
            parseHttpDate(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), "Invalid TIME string");
            EXPECT_EQ(error.unit(), "Globals");
        }
    }
}

TEST(ParseHttpDate, DatesOutsideTheRangeStayOnTheirSide) {
    EXPECT_EQ(parseHttpDate("Mon, 01 Jan 1968 00:00:00 GMT"), 1u);
}

TEST(UniqueTempName, SkipsNamesTakenByFilesAndDirectories) {
    test::TempDir dir;
    setTempNameCounterForTesting(0);
    test::writeFile(dir / "temp1", "x");
    std::filesystem::create_directory(dir / "temp2");
    EXPECT_EQ(uniqueTempName(dir.path().string()), "temp3");
    EXPECT_EQ(uniqueTempName(dir.path().string()), "temp4");
}

TEST(UniqueTempName, WrapsFrom65535ToZero) {
    test::TempDir dir;
    setTempNameCounterForTesting(65534);
    EXPECT_EQ(uniqueTempName(dir.path().string()), "temp65535");
    EXPECT_EQ(uniqueTempName(dir.path().string()), "temp0");
    EXPECT_EQ(uniqueTempName(dir.path().string()), "temp1");
}

}  // namespace
}  // namespace perchlight
