#include "summary/PolicySummary.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "core/BaseDataSchema.h"
#include "core/MatchResult.h"
#include "core/P3PEvaluator.h"
#include "core/XmlNode.h"

namespace perchlight {
namespace {

using namespace perchlight::test;
using Texts = std::map<std::string, std::string>;

MatchResult summaryOf(const std::string& policy) {
    MatchResult result;
    buildSummary(*XmlNode::parseXmlBuffer(policy), result);
    return result;
}

StatementRecord statementOf(const std::string& content) {
    return summaryOf("<POLICY><STATEMENT>" + content + "</STATEMENT></POLICY>")
        .summary.statements.at(0);
}

// Each data entry as "label | sub-item texts".
Texts entries(const StatementRecord& statement) {
    Texts result;
    for (const auto& [key, entry] : statement.data) {
        result[key] = entry.label + " |";
        for (const auto& [category, text] : entry.subItems) {
            result[key] += " " + category + "=" + text;
        }
    }
    return result;
}

const std::string kOptIn = " --  only if you request this";
const std::string kOptOut = " --  unless you opt-out";

TEST(PolicySummaryPractices, TextsWithRequiredSuffixes) {
    const StatementRecord statement = statementOf(
        "<PURPOSE><current required='always'/><contact required='opt-in'/>"
        "<telemarketing required='Opt-Out'/><other-purpose>surveys</other-purpose>"
        "<other-purpose required='opt-in'>prizes</other-purpose><unknown/><odd required='opt-in'/>"
        "</PURPOSE><RECIPIENT><same/><public required='OPT-OUT'/><nobody/></RECIPIENT>");
    EXPECT_EQ(statement.purposes,
              (Texts{{"CURRENT", "To provide the service you requested"},
                     {"CONTACT",
                      "To contact you through means other than telephone (for example, email or "
                      "postal mail) to market services or products" +
                          kOptIn},
                     {"TELEMARKETING",
                      "To contact you by telephone to market services or products" + kOptOut},
                     {"OTHER-PURPOSE1", "For other uses: surveys"},
                     {"OTHER-PURPOSE2", "For other uses: prizes" + kOptIn},
                     {"ODD", kOptIn}}));
    EXPECT_EQ(statement.recipients,
              (Texts{{"SAME", "Companies that have privacy policies similar to this site's"},
                     {"PUBLIC",
                      "People who may access your information from a public area, such as a "
                      "bulletin board, chat room, or directory" +
                          kOptOut}}));
}

TEST(PolicySummaryData, DescribedItemsByReferenceUndescribedByCategory) {
    const std::string online = " Email address or other online contact information";
    EXPECT_EQ(
        entries(statementOf(
            "<DATA-GROUP><DATA ref='#a' short-description='A' optional='yes' "
            "variable_category='YES'><CATEGORIES><health/></CATEGORIES>"
            "<CATEGORIES><online/><other-category>pets</other-category></CATEGORIES></DATA>"
            "<DATA ref='#b' short-description='B'><LONG-DESCRIPTION>All of B</LONG-DESCRIPTION>"
            "<CATEGORIES><online/></CATEGORIES></DATA>"
            "<DATA ref='#c'><CATEGORIES><physical/><online/></CATEGORIES></DATA>"
            "<DATA ref='#d' optional='Yes'><CATEGORIES><online/><state/></CATEGORIES></DATA>"
            "</DATA-GROUP>")),
        (Texts{{"#a", "A (optional) | ONLINE=" + online +
                          " (optional) OTHER-CATEGORY1=Other types of data: pets (optional)"},
               {"#b", "All of B |"},
               {"PHYSICAL", "Name, address, phone number, or other contact information |"},
               {"ONLINE", online + " (optional) |"},
               {"STATE", "Cookies and mechanisms that perform similar functions (optional) |"}}));
}

TEST(PolicySummaryData, ARepeatedReferenceGathersEveryCategoryOnce) {
    const std::string data =
        "<DATA ref='#dynamic.miscdata' short-description='Misc' "
        "variable_category='YES'><CATEGORIES>";
    const StatementRecord statement = statementOf(
        "<DATA-GROUP>" + data +
        "<physical/><other-category>pets</other-category></CATEGORIES></DATA>" + data +
        "<online/><physical/></CATEGORIES></DATA>" + data +
        "<purchase/><other-category>pets</other-category><other-category>cars</other-category>"
        "</CATEGORIES></DATA></DATA-GROUP>");
    ASSERT_EQ(statement.data.size(), 1u);
    const DataEntry& entry = statement.data.at("#dynamic.miscdata");
    EXPECT_EQ(entry.label, "Misc");
    std::vector<std::string> keys;
    for (const auto& [key, text] : entry.subItems) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"ONLINE", "OTHER-CATEGORY1", "OTHER-CATEGORY2",
                                              "PHYSICAL", "PURCHASE"}));
    EXPECT_EQ(entry.subItems.at("OTHER-CATEGORY1"), "Other types of data: pets");
    EXPECT_EQ(entry.subItems.at("OTHER-CATEGORY2"), "Other types of data: cars");
}

TEST(PolicySummaryData, AnOtherCategoryWithoutTextIsNotStated) {
    const StatementRecord statement = statementOf(
        "<DATA-GROUP><DATA ref='#x' short-description='X' variable_category='YES'><CATEGORIES>"
        "<other-category/></CATEGORIES></DATA></DATA-GROUP>");
    EXPECT_EQ(statement.data.at("#x").subItems.at("OTHER-CATEGORY1"),
              "Other types of data: not stated");
}

TEST(PolicySummaryAccess, FirstChildChoosesTheText) {
    const std::string none = "This site does not give you access to its information about you";
    const std::pair<const char*, std::string> cases[] = {
        {"<ident-contact/><all/>",
         "This site gives you access to only your contact information in its records"},
        {"<other-ident/>", none},
        {"<none/>", none},
        {"<unknown/><all/>", ""},
        {"", ""},
    };
    for (const auto& [access, text] : cases) {
        EXPECT_EQ(summaryOf(std::string("<POLICY><ACCESS>") + access + "</ACCESS></POLICY>")
                      .summary.access,
                  text)
            << access;
    }
}

TEST(PolicySummaryBusiness, ReadFromTheLeadingDataOfTheFirstGroup) {
    const PolicySummary read =
        summaryOf(
            "<POLICY><ENTITY><DATA-GROUP><DATA ref='#business.name'>Old</DATA><DATA/>"
            "<DATA ref='#business.unknown'>x</DATA><DATA ref='#business.name'>Shop <b/>Ltd</DATA>"
            "<X/><DATA ref='#business.contact-info.postal.city'>Late</DATA></DATA-GROUP></ENTITY>"
            "</POLICY>")
            .summary;
    EXPECT_EQ(read.businessName, "Shop Ltd");
    EXPECT_EQ(read.businessPostalCity, "");
    for (const char* entity :
         {"<DATA-GROUP><EXTENSION/><DATA ref='#business.name'>S</DATA></DATA-GROUP>",
          "<EXTENSION/><DATA-GROUP><DATA ref='#business.name'>S</DATA></DATA-GROUP>"}) {
        EXPECT_EQ(summaryOf(std::string("<POLICY><ENTITY>") + entity + "</ENTITY></POLICY>")
                      .summary.businessName,
                  "")
            << entity;
    }
}

TEST(PolicySummaryBuild, EachBuildStartsAfresh) {
    MatchResult result = summaryOf("<POLICY><STATEMENT/><STATEMENT/></POLICY>");
    EXPECT_EQ(result.summary.statements.size(), 2u);
    buildSummary(*XmlNode::parseXmlBuffer("<POLICY><STATEMENT/><EXPIRY/></POLICY>"), result);
    EXPECT_EQ(result.summary.statements.size(), 1u);
}

TEST(PolicySummaryExample, BookshopDigestFieldByField) {
    BaseDataSchema base((dataDir() / BaseDataSchema::kFileName).string());
    MatchResult result;
    P3PEvaluator(nullptr, base, buildSummary)
        .evaluatePolicy(readFile(dataDir() / "appel-high.xml"),
                        readFile(dataDir() / "examples" / "bookshop.xml"),
                        Url("http://books.example/w3c/policy.xml"), "bookshop", result);
    const PolicySummary& summary = result.summary;
    Texts business;
    for (const BusinessField& field : businessFields()) {
        if (!(summary.*field.member).empty()) {
            business[std::string(field.templateKey)] = summary.*field.member;
        }
    }
    EXPECT_EQ(business, (Texts{{"BusinessName", "Example Books Ltd."},
                               {"BusinessPostalStreet", "12 Quay Street"},
                               {"BusinessPostalCity", "Bristol"},
                               {"BusinessPostalCode", "BS1 4AB"},
                               {"BusinessPostalCountry", "United Kingdom"},
                               {"BusinessTelephoneIntCode", "44"},
                               {"BusinessTelephoneLocCode", "117"},
                               {"BusinessTelephoneNumber", "4960000"},
                               {"BusinessOnlineEmail", "privacy@books.example"},
                               {"BusinessOnlineURI", "http://books.example/"}}));
    EXPECT_EQ(summary.access,
              "This site gives you access to your contact information and some of its other "
              "information identified with you");
    ASSERT_EQ(summary.disputes.size(), 1u);
    const DisputeRecord& dispute = summary.disputes[0];
    EXPECT_EQ(dispute.imageSource + "|" + dispute.service + "|" + dispute.shortDescription + "|" +
                  dispute.longDescription + "|" + dispute.imageAlternativeText,
              "http://trust.example/seal.gif|http://trust.example/complaints|Trust Example|"
              "Complaints the shop cannot settle go to Trust Example.|Trust Example seal");

    ASSERT_EQ(summary.statements.size(), 3u);
    const auto keys = [](const Texts& texts) {
        std::string joined;
        for (const auto& [key, text] : texts) {
            joined += key + " ";
        }
        return joined;
    };
    const struct {
        std::string name, consequence, purposes, recipients;
        Texts data;
    } expected[] = {
        {"Browsing",
         "We log visits to keep the shop running.",
         "ADMIN DEVELOP ",
         "OURS ",
         {{"#dynamic.clickstream", "Click-stream Information |"},
          {"#dynamic.http", "HTTP Protocol Information |"}}},
        {"Orders",
         "",
         "CONTACT CURRENT ",
         "DELIVERY OURS ",
         {{"#user.name", "User's Name |"},
          {"#user.home-info.postal", "Postal Address Information |"},
          {"#user.home-info.online.email", "Email Address |"},
          {"#user.home-info.telecom.telephone", "Telephone Number (optional) |"},
          {"#dynamic.miscdata",
           "Miscellaneous Non-base Data Schema Information | FINANCIAL=Financial information "
           "such as accounts, balances, and transaction history PURCHASE=Information about your "
           "purchases, including payment methods"}}},
        {"Recommendations",
         "",
         "INDIVIDUAL-ANALYSIS TAILORING ",
         "OURS ",
         {{"#dynamic.cookies",
           "Use of HTTP Cookies | PREFERENCE=Information about your tastes or interests "
           "STATE=Cookies and mechanisms that perform similar functions"}}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const StatementRecord& statement = summary.statements[i];
        EXPECT_EQ(statement.name, expected[i].name);
        EXPECT_EQ(statement.consequence, expected[i].consequence);
        EXPECT_EQ(keys(statement.purposes), expected[i].purposes);
        EXPECT_EQ(keys(statement.recipients), expected[i].recipients);
        EXPECT_EQ(entries(statement), expected[i].data);
    }
    EXPECT_EQ(summary.statements[2].purposes.at("INDIVIDUAL-ANALYSIS"),
              "To do research and analysis that uses information about you" + kOptOut);
}

}  // namespace
}  // namespace perchlight
