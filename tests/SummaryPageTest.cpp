#include "summary/SummaryPage.h"

#include <gtest/gtest.h>
#include <gumbo.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "core/MatchResult.h"
#include "summary/SummaryFile.h"

namespace perchlight {
namespace {

class SummaryPageTest : public ::testing::Test {
  protected:
    SummaryPageTest() : home_({"template-page.html", "template-statement.html"}), page_("/dir/") {
        result_.policyUrl = Url("http://shop.example/w3c/policy.xml");
        result_.state = kStateNoConflict;
        result_.summary.businessName = "Shop";
    }

    static int count(const std::string& text, const std::string& part) {
        int n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }

    test::ModuleHome home_;
    SummaryPage page_;
    MatchResult result_;
};

TEST_F(SummaryPageTest, Statement_SingleIsUnnumbered) {
    result_.summary.statements.push_back(StatementRecord{"Orders", {}, {}, {}, ""});
    const std::string html = page_.buildPage(result_);
    EXPECT_NE(html.find("Policy Statement  - Orders"), std::string::npos);
    EXPECT_NE(html.find("id=\"GroupStatementChild\""), std::string::npos);
    result_.summary.statements.push_back(StatementRecord{});
    const std::string two = page_.buildPage(result_);
    EXPECT_NE(two.find("id=\"GroupStatement2Child\""), std::string::npos);
    EXPECT_NE(two.find("Policy Statement 1  - Orders"), std::string::npos);
}

TEST_F(SummaryPageTest, Colours_FollowTheMismatches) {
    std::string html = page_.buildPage(result_);
    for (const char* part :
         {"class=\"green\"", "#00ff00", "#ccffcc", "matches your preferences."}) {
        EXPECT_NE(html.find(part), std::string::npos) << part;
    }
    result_.descriptions = {"Bad"};
    html = page_.buildPage(result_);
    for (const char* part : {"class=\"red\"", "#ff0000", "#ffcccc",
                             "does not match your preferences:", "<li> Bad </li>"}) {
        EXPECT_NE(html.find(part), std::string::npos) << part;
    }
}

TEST_F(SummaryPageTest, Disputes_NameFallsBackToServiceAndImageIsOptional) {
    result_.summary.disputes = {
        {"", "http://court.example/", "", "", ""},
        {"http://seal.example/s.gif", "http://seal.example/", "Seal", "Long", "S"}};
    const std::string html = page_.buildPage(result_);
    EXPECT_NE(
        html.find("P class=\"disputes\"> <a href=\"http://court.example/\" target=\"_blank\" "
                  "alt=\"Disputes Info 1 - http://court.example/\">http://court.example/</a>"),
        std::string::npos);
    EXPECT_NE(
        html.find("<img align=\"left\" hspace=5 src=\"http://seal.example/s.gif\" alt=\"S\"> "
                  "<a href=\"http://seal.example/\" target=\"_blank\" alt=\"Disputes Info 2 - "
                  "Seal\">Seal</a>: Long"),
        std::string::npos);
}

TEST_F(SummaryPageTest, Disputes_ARecordWithNothingInItIsNotStated) {
    result_.summary.disputes = {{"", "", "", "", ""}};
    const std::string html = page_.buildPage(result_);
    EXPECT_NE(html.find("alt=\"Disputes Info 1 - not stated\">not stated</a>"), std::string::npos)
        << html;
    EXPECT_EQ(html.find("Disputes Info 1 - \""), std::string::npos);
}

TEST_F(SummaryPageTest, OptOut_LinksTextButNotTagsOrTheEscapedWord) {
    result_.optOutUri = "/opt-out.html";
    StatementRecord statement;
    statement.purposes["CONTACT"] = "Contact --  unless you opt-out";
    result_.summary.statements.push_back(statement);
    const std::string html = page_.buildPage(result_);
    const std::string link =
        "<a href=\"http://shop.example/opt-out.html\" target=\"_blank\">opt-out</a>";
    EXPECT_NE(html.find("unless you " + link), std::string::npos);
    EXPECT_NE(html.find("<a href=\"http://shop.example/opt-out.html\" target=\"_blank\">Find out "
                        "how to opt&#45;out</a>"),
              std::string::npos);
    EXPECT_EQ(count(html, link), 1);
}

TEST_F(SummaryPageTest, Consequence_OnlyWhiteSpaceGivesNoParagraph) {
    result_.summary.statements.push_back(StatementRecord{"", {}, {}, {}, " \r\n\t "});
    EXPECT_EQ(page_.buildPage(result_).find("class=\"exp\""), std::string::npos);
    result_.summary.statements[0].consequence = "Because";
    EXPECT_NE(page_.buildPage(result_).find("<P class=\"exp\"> Because </P>"), std::string::npos);
}

TEST_F(SummaryPageTest, DataSharing_SharedRecipientAndNoSharingSentenceOnce) {
    StatementRecord none;
    StatementRecord ours;
    ours.recipients["OURS"] = "Ours";
    result_.summary.statements = {none, none, ours, ours};
    const std::string html = page_.buildPage(result_);
    EXPECT_EQ(count(html, "<li class=\"statement\"> Ours </li>"), 1);
    EXPECT_EQ(count(html, "This site does not store or share personally identified data."), 1);
}

TEST_F(SummaryPageTest, Injection_SiteTextRendersAsTextAndBadLinksAreDropped) {
    result_.summary.businessName = "<script>alert(1)</script>";
    result_.summary.businessOnlineUri = "javascript:alert(2)";
    result_.disclosureUri = "javascript:alert(3)";
    result_.summary.disputes = {{"x\" onerror=\"alert(4)", "javascript:alert(5)", "", "", ""}};
    const std::string html = page_.buildPage(result_);
    EXPECT_EQ(html.find("<script>alert"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; Privacy Practices"),
              std::string::npos);
    EXPECT_EQ(html.find("href=\"javascript:"), std::string::npos);
    EXPECT_EQ(html.find("onerror"), std::string::npos);
    EXPECT_EQ(page_.tooltipText(result_),
              "<script>alert(1)</script>'s privacy policy  matches your preferences.");
}

TEST_F(SummaryPageTest, MoreInformation_HeadingOnlyOverALinkShown) {
    result_.disclosureUri = "javascript:alert(1)";
    result_.optOutUri = "file:///etc/passwd";
    EXPECT_EQ(page_.buildPage(result_).find("More Information"), std::string::npos);
    result_.optOutUri = "/opt-out.html";
    EXPECT_NE(page_.buildPage(result_).find("<h2 class=\"green\">More Information</h2>"),
              std::string::npos);
}

TEST_F(SummaryPageTest, Tooltip_ChosenByState) {
    result_.state = kStateConflict;
    result_.descriptions = {"A", "B"};
    EXPECT_EQ(page_.tooltipText(result_),
              "Shop's privacy policy  does not match your preferences: \n\nA\nB");
    result_.state = kStateNotEvaluated;
    EXPECT_EQ(page_.tooltipText(result_), "Valid policy not found");
}

TEST_F(SummaryPageTest, Tooltip_OneLinePerFiredRule) {
    result_.state = kStateConflict;
    result_.descriptions = {"A", "B"};
    result_.firedRules = {
        {"A", {{2, {}, "statement 2: shares purchase data with unrelated companies"}}},
        {"B",
         {{1, {}, "statement 1: uses your data for telemarketing"},
          {3, {}, "statement 3: uses your data for telemarketing"}}}};
    EXPECT_EQ(page_.tooltipText(result_),
              "Shop's privacy policy  does not match your preferences: \n\nA\nB\n\n"
              "statement 2: shares purchase data with unrelated companies\n"
              "statement 1: uses your data for telemarketing; statement 3: uses your data for "
              "telemarketing");
}

TEST_F(SummaryPageTest, Statement_MarkedWithTheRulesItFired) {
    result_.state = kStateConflict;
    result_.descriptions = {"Shares <b>purchases</b>"};
    result_.firedRules = {{"Shares <b>purchases</b>", {{2, {}, "statement 2: shares"}}}};
    result_.summary.statements = {StatementRecord{"One", {}, {}, {}, ""},
                                  StatementRecord{"Two", {}, {}, {}, ""}};
    const std::string html = page_.buildPage(result_);
    const std::size_t mark = html.find("This statement fired the rule: Shares &lt;b&gt;purchases");
    ASSERT_NE(mark, std::string::npos);
    EXPECT_LT(html.find("Policy Statement 1"), mark);
    EXPECT_GT(html.find("Policy Statement 2"), mark);
    EXPECT_EQ(count(html, "class=\"fired\""), 1);
    EXPECT_NE(html.find("<i>statement 2: shares</i>"), std::string::npos);
}

TEST_F(SummaryPageTest, CompactPolicy_BoxOnlyWhenTheSiteSentOne) {
    EXPECT_EQ(page_.buildPage(result_).find("Compact policy"), std::string::npos);
    result_.compactPolicy = "NOI CURA OUR STP NAV <script>";
    result_.impliedCompactTokens = {"NOI", "CUR", "OUR", "STP", "NAV", "TEL"};
    const std::string html = page_.buildPage(result_);
    EXPECT_NE(html.find("<h3>Compact policy</h3>"), std::string::npos);
    EXPECT_NE(html.find("<code>NOI CURA OUR STP NAV &lt;script&gt;</code>"), std::string::npos);
    EXPECT_NE(html.find("<li>unknown token CURA (did you mean CUR?)</li>"), std::string::npos);
    EXPECT_NE(html.find("the full policy declares use for the current activity"), std::string::npos)
        << "CUR is left out once CURA is not read as it";
    EXPECT_NE(html.find("and the compact policy has no TEL"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    result_.compactPolicy = "NOI CUR OUR STP NAV TEL";
    EXPECT_NE(page_.buildPage(result_).find("The short form is well formed."), std::string::npos);
}

// Every group of the page, as the browser reads it: its id and the toggle that opens it.
void collectGroups(const GumboNode* node, std::map<std::string, std::string>& groups,
                   std::map<std::string, std::string>& toggles) {
    if (node->type != GUMBO_NODE_ELEMENT) {
        return;
    }
    const GumboElement& element = node->v.element;
    const GumboAttribute* id = gumbo_get_attribute(&element.attributes, "id");
    const GumboAttribute* kind = gumbo_get_attribute(&element.attributes, "class");
    const GumboAttribute* click = gumbo_get_attribute(&element.attributes, "onclick");
    if (element.tag == GUMBO_TAG_DIV && id && kind && std::string(kind->value) == "ShowHideChild") {
        groups[id->value] = "";
    }
    if (element.tag == GUMBO_TAG_IMG && id && click) {
        toggles[id->value] = click->value;
    }
    for (unsigned i = 0; i < element.children.length; ++i) {
        collectGroups(static_cast<const GumboNode*>(element.children.data[i]), groups, toggles);
    }
}

TEST_F(SummaryPageTest, Dom_EveryGroupHasItsToggle) {
    result_.descriptions = {"Bad"};
    result_.summary.access = "Access";
    result_.summary.disputes = {{"", "http://court.example/", "", "", ""}};
    result_.summary.statements = {StatementRecord{}, StatementRecord{}};
    const std::string html = page_.buildPage(result_);
    GumboOutput* output = gumbo_parse(html.c_str());
    std::map<std::string, std::string> groups;
    std::map<std::string, std::string> toggles;
    collectGroups(output->root, groups, toggles);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    for (const char* group :
         {"GroupPrivacyPolicyCheck", "GroupAccess", "GroupHowToReach", "GroupHowToResolveDisputes",
          "GroupStatement1Child", "GroupStatement2Child"}) {
        EXPECT_TRUE(groups.count(group)) << group;
        EXPECT_EQ(toggles[std::string(group) + "Image"], "expandIt('" + std::string(group) + "')")
            << group;
    }
    EXPECT_EQ(toggles["ExpandAllImage"], "expandAll(this)");
    EXPECT_EQ(groups.size(), 6u);
}

TEST_F(SummaryPageTest, File_UniqueInTmpdirAndRemovedByOwner) {
    test::TempDir temporary;
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    setenv("TMPDIR", temporary.path().c_str(), 1);
    std::string path;
    {
        SummaryFile first("<p>one</p>");
        SummaryFile second("<p>two</p>");
        ASSERT_TRUE(first.written() && second.written());
        EXPECT_NE(first.path(), second.path());
        EXPECT_EQ(std::filesystem::path(first.path()).parent_path(), temporary.path());
        EXPECT_EQ(std::filesystem::path(first.path()).filename().string().rfind("summary", 0), 0u);
        EXPECT_EQ(std::filesystem::path(first.path()).extension(), ".html");
        EXPECT_EQ(test::readFile(first.path()), "<p>one</p>");
        path = first.path();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    previous ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
}

}  // namespace
}  // namespace perchlight
