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
    const MatchResult result = summaryOf("<POLICY><STATEMENT>" + content + "</STATEMENT></POLICY>");
    EXPECT_EQ(result.summary.statements.size(), 1u);
    return result.summary.statements.empty() ? StatementRecord{} : result.summary.statements[0];
}

TEST(PolicySummaryPractices, PurposeAndRecipientTexts) {
    const StatementRecord statement = statementOf(
        "<PURPOSE><current required='always'/><contact required='opt-in'/>"
        "<telemarketing required='Opt-Out'/><other-purpose>surveys</other-purpose>"
        "<other-purpose required='opt-in'>prizes</other-purpose><unknown/>"
        "<odd required='opt-in'/></PURPOSE>"
        "<RECIPIENT><ours/><public required='OPT-OUT'/><nobody/></RECIPIENT>");
    EXPECT_EQ(statement.purposes,
              (Texts{{"CURRENT", "To provide the service you requested"},
                     {"CONTACT",
                      "To contact you through means other than telephone (for example, email or "
                      "postal mail) to market services or products --  only if you request this"},
                     {"TELEMARKETING",
                      "To contact you by telephone to market services or products --  unless you "
                      "opt-out"},
                     {"OTHER-PURPOSE1", "For other uses: surveys"},
                     {"OTHER-PURPOSE2", "For other uses: prizes --  only if you request this"},
                     {"ODD", " --  only if you request this"}}));
    EXPECT_EQ(statement.recipients,
              (Texts{{"OURS",
                      "Companies that help this site fulfill your requests (for example, shipping "
                      "a product to you), but these companies must not use your information for "
                      "any other purpose"},
                     {"PUBLIC",
                      "People who may access your information from a public area, such as a "
                      "bulletin board, chat room, or directory --  unless you opt-out"}}));
}

TEST(PolicySummaryData, DescribedItemsByReferenceUndescribedByCategory) {
    const StatementRecord statement = statementOf(
        "<DATA-GROUP>"
        "<DATA ref='#a' short-description='A' optional='yes' variable_category='YES'>"
        "<CATEGORIES><health/></CATEGORIES>"
        "<CATEGORIES><online/><other-category>pets</other-category></CATEGORIES></DATA>"
        "<DATA ref='#b' short-description='B' optional='no'>"
        "<LONG-DESCRIPTION>All of B</LONG-DESCRIPTION><CATEGORIES><online/></CATEGORIES></DATA>"
        "<DATA ref='#c'><CATEGORIES><physical/><online/></CATEGORIES></DATA>"
        "<DATA ref='#d' optional='Yes'><CATEGORIES><online/><state/></CATEGORIES></DATA>"
        "</DATA-GROUP>");
    const std::string online = " Email address or other online contact information";
    const std::map<std::string, std::pair<std::string, Texts>> expected = {
        {"#a",
         {"A (optional)",
          {{"ONLINE", online + " (optional)"},
           {"OTHER-CATEGORY1", "Other types of data: pets (optional)"}}}},
        {"#b", {"All of B", {}}},
        {"PHYSICAL", {"Name, address, phone number, or other contact information", {}}},
        {"ONLINE", {online + " (optional)", {}}},
        {"STATE", {"Cookies and mechanisms that perform similar functions (optional)", {}}},
    };
    ASSERT_EQ(statement.data.size(), expected.size());
    for (const auto& [key, entry] : expected) {
        SCOPED_TRACE(key);
        ASSERT_EQ(statement.data.count(key), 1u);
        EXPECT_EQ(statement.data.at(key).label, entry.first);
        EXPECT_EQ(statement.data.at(key).subItems, entry.second);
    }
}

TEST(PolicySummaryAccess, FirstChildChoosesTheText) {
    const std::string none = "This site does not give you access to its information about you";
    const std::pair<const char*, std::string> cases[] = {
        {"<nonident/>", "This site does not keep any information identified with you"},
        {"<ident-contact/><all/>",
         "This site gives you access to only your contact information in its records"},
        {"<other-ident/>", none},
        {"<none/>", none},
        {"<unknown/><all/>", ""},
        {"", ""},
    };
    for (const auto& [access, text] : cases) {
        SCOPED_TRACE(access);
        EXPECT_EQ(summaryOf(std::string("<POLICY><ACCESS>") + access + "</ACCESS></POLICY>")
                      .summary.access,
                  text);
    }
}

TEST(PolicySummaryBusiness, ReadFromTheLeadingDataOfTheFirstGroup) {
    const PolicySummary read =
        summaryOf(
            "<POLICY><ENTITY><DATA-GROUP><DATA ref='#business.name'>Old</DATA><DATA/>"
            "<DATA ref='#business.unknown'>x</DATA><DATA ref='#business.name'>Shop <b/>Ltd</DATA>"
            "<DATA ref='#business.contact-info.online.uri'>http://s.example/</DATA><X/>"
            "<DATA ref='#business.contact-info.postal.city'>Late</DATA></DATA-GROUP></ENTITY>"
            "</POLICY>")
            .summary;
    EXPECT_EQ(read.businessName, "Shop Ltd");
    EXPECT_EQ(read.businessOnlineUri, "http://s.example/");
    EXPECT_EQ(read.businessPostalCity, "");

    for (const char* entity :
         {"<DATA-GROUP><EXTENSION/><DATA ref='#business.name'>S</DATA></DATA-GROUP>",
          "<EXTENSION/><DATA-GROUP><DATA ref='#business.name'>S</DATA></DATA-GROUP>"}) {
        SCOPED_TRACE(entity);
        EXPECT_EQ(summaryOf(std::string("<POLICY><ENTITY>") + entity + "</ENTITY></POLICY>")
                      .summary.businessName,
                  "");
    }
}

TEST(PolicySummaryBuild, EachBuildStartsAfresh) {
    MatchResult result = summaryOf("<POLICY><STATEMENT/><TEST/></POLICY>");
    EXPECT_TRUE(result.isTest);
    buildSummary(*XmlNode::parseXmlBuffer("<POLICY><STATEMENT/><EXPIRY/></POLICY>"), result);
    EXPECT_FALSE(result.isTest);
    EXPECT_EQ(result.summary.statements.size(), 1u);
}

TEST(PolicySummaryExample, BookshopDigestFieldByField) {
    BaseDataSchema base((dataDir() / BaseDataSchema::kFileName).string());
    MatchResult result;
    ASSERT_EQ(P3PEvaluator(nullptr, base)
                  .evaluatePolicy(readFile(dataDir() / "appel-high.xml"),
                                  readFile(dataDir() / "examples" / "bookshop.xml"),
                                  Url("http://books.example/w3c/policy.xml"), "bookshop", result),
              EvaluationCode::kEvaluated);
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
    EXPECT_FALSE(result.isTest);
    ASSERT_EQ(summary.disputes.size(), 1u);
    const DisputeRecord& dispute = summary.disputes[0];
    EXPECT_EQ(dispute.imageSource, "http://trust.example/seal.gif");
    EXPECT_EQ(dispute.service, "http://trust.example/complaints");
    EXPECT_EQ(dispute.shortDescription, "Trust Example");
    EXPECT_EQ(dispute.longDescription, "Complaints the shop cannot settle go to Trust Example.");
    EXPECT_EQ(dispute.imageAlternativeText, "Trust Example seal");

    ASSERT_EQ(summary.statements.size(), 3u);
    const auto labels = [](const StatementRecord& statement) {
        Texts result;
        for (const auto& [key, entry] : statement.data) {
            result[key] = entry.label;
        }
        return result;
    };
    const StatementRecord& browsing = summary.statements[0];
    EXPECT_EQ(browsing.name, "Browsing");
    EXPECT_EQ(browsing.consequence, "We log visits to keep the shop running.");
    EXPECT_EQ(labels(browsing), (Texts{{"#dynamic.clickstream", "Click-stream Information"},
                                       {"#dynamic.http", "HTTP Protocol Information"}}));
    EXPECT_EQ(browsing.purposes,
              (Texts{{"ADMIN", "To perform web site and system administration"},
                     {"DEVELOP",
                      "For research and development, but without connecting any information to "
                      "you"}}));
    EXPECT_EQ(browsing.recipients.size(), 1u);

    const StatementRecord& orders = summary.statements[1];
    EXPECT_EQ(orders.name, "Orders");
    EXPECT_EQ(orders.consequence, "");
    EXPECT_EQ(labels(orders),
              (Texts{{"#user.name", "User's Name"},
                     {"#user.home-info.postal", "Postal Address Information"},
                     {"#user.home-info.online.email", "Email Address"},
                     {"#user.home-info.telecom.telephone", "Telephone Number (optional)"},
                     {"#dynamic.miscdata", "Miscellaneous Non-base Data Schema Information"}}));
    EXPECT_EQ(orders.data.at("#dynamic.miscdata").subItems,
              (Texts{{"PURCHASE", "Information about your purchases, including payment methods"},
                     {"FINANCIAL",
                      "Financial information such as accounts, balances, and transaction "
                      "history"}}));
    EXPECT_TRUE(orders.data.at("#user.name").subItems.empty());
    EXPECT_EQ(orders.purposes.size(), 2u);
    EXPECT_EQ(orders.recipients.at("DELIVERY"),
              "Delivery companies that help this site fulfill your requests and who may also use "
              "your information in other ways");

    const StatementRecord& recommendations = summary.statements[2];
    EXPECT_EQ(recommendations.name, "Recommendations");
    EXPECT_EQ(recommendations.purposes.at("INDIVIDUAL-ANALYSIS"),
              "To do research and analysis that uses information about you --  unless you "
              "opt-out");
    EXPECT_EQ(recommendations.data.at("#dynamic.cookies").subItems,
              (Texts{{"STATE", "Cookies and mechanisms that perform similar functions"},
                     {"PREFERENCE", "Information about your tastes or interests"}}));
}

}  // namespace
}  // namespace perchlight
