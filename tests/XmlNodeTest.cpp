#include "core/XmlNode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

void expectParseError(const std::string& document) {
    try {
        XmlNode::parseXmlBuffer(document);
        ADD_FAILURE() << "accepted: " << document;
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), "XML parse error");
        EXPECT_EQ(error.unit(), "XmlNode");
    }
}

// A document of depth elements, each the only child of the one before.
std::string nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<e>";
        close += "</e>";
    }
    return open + close;
}

std::vector<std::string> childNames(const XmlNode& node) {
    std::vector<std::string> names;
    for (const XmlNodePtr& child : node.children()) {
        names.push_back(child->name);
    }
    return names;
}

TEST(XmlNodeParse, UpperCasesNamesButNotValues) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<Policy discuri='http://a.example/Privacy'><access required=\"Opt-In\"/></Policy>");
    EXPECT_EQ(root->name, "POLICY");
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(root->attributes,
              (std::map<std::string, std::string>{{"DISCURI", "http://a.example/Privacy"}}));
    ASSERT_EQ(root->children().size(), 1u);
    const XmlNodePtr access = root->children()[0];
    EXPECT_EQ(access->name, "ACCESS");
    EXPECT_EQ(access->parent(), root);
    EXPECT_EQ(access->attributes, (std::map<std::string, std::string>{{"REQUIRED", "Opt-In"}}));
}

TEST(XmlNodeParse, UpperCasesOnlyAsciiLetters) {
    // UTF-8 "größe": the two bytes of the o-umlaut stay as they are.
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<gr\xc3\xb6\xc3\x9f"
        "e a_b-c.d9='x'/>");
    EXPECT_EQ(root->name,
              "GR\xc3\xb6\xc3\x9f"
              "E");
    EXPECT_EQ(root->attributes.count("A_B-C.D9"), 1u);
    EXPECT_EQ(upperCaseAscii("`az{\xe9\xff@AZ"), "`AZ{\xe9\xff@AZ");
    EXPECT_EQ(upperCaseAscii(""), "");
}

TEST(XmlNodeParse, NamespacePrefixesStayInTheName) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<p3p:policy xmlns:p3p='http://www.w3.org/2002/01/P3Pv1' name='x'/>");
    EXPECT_EQ(root->name, "P3P:POLICY");
    EXPECT_EQ(root->attributes,
              (std::map<std::string, std::string>{{"XMLNS:P3P", "http://www.w3.org/2002/01/P3Pv1"},
                                                  {"NAME", "x"}}));
}

TEST(XmlNodeParse, TextAroundChildrenIsJoined) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer("<a>x<b/>y</a>");
    EXPECT_EQ(root->name, "A");
    EXPECT_EQ(root->text, "xy");
    ASSERT_EQ(childNames(*root), std::vector<std::string>{"B"});
    EXPECT_EQ(root->children()[0]->text, "");
}

TEST(XmlNodeParse, WhitespaceRunsAreKept) {
    const XmlNodePtr root =
        XmlNode::parseXmlBuffer("<?xml version=\"1.0\"?>\n<r>\n  <a>\n    <b/>\n  </a>\n</r>\n");
    EXPECT_EQ(root->text, "\n  \n");
    ASSERT_EQ(root->children().size(), 1u);
    const XmlNodePtr a = root->children()[0];
    EXPECT_EQ(a->text, "\n    \n  ");
    ASSERT_EQ(a->children().size(), 1u);
    EXPECT_EQ(a->children()[0]->text, "");
}

TEST(XmlNodeParse, ReferencesAreDecoded) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<a v='&lt;&amp;&quot;&apos;&#65;&#x42;'>&gt;&#233;<![CDATA[<x>]]></a>");
    EXPECT_EQ(*root->attribute("V"), "<&\"'AB");
    EXPECT_EQ(root->text, ">\xc3\xa9<x>");
}

TEST(XmlNodeParse, CrLfLineEndsReadAsLineFeeds) {
    EXPECT_EQ(XmlNode::parseXmlBuffer("<a>x\r\ny</a>\r\n")->text, "x\ny");
}

class XmlNodeParseError : public ::testing::TestWithParam<std::string> {};

TEST_P(XmlNodeParseError, RaisesXmlParseError) {
    expectParseError(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rejected, XmlNodeParseError,
                         ::testing::Values("", "   ", "<?xml version=\"1.0\"?>",
                                           "<?xml version=\"1.0\"?>\n", "<a/><b/>", "<a>",
                                           "<a><b></a>", "<a x='1", "<a x='1' X='2' x='3'/>",
                                           "text only",
                                           "<?xml version=\"1.0\" encoding=\"x-none\"?><a/>"));

TEST(XmlNodeParse, NestingIsBoundedByMaxDepth) {
    XmlNodePtr node = XmlNode::parseXmlBuffer(nested(XmlNode::kMaxDepth));
    int depth = 1;
    while (!node->children().empty()) {
        node = node->children()[0];
        ++depth;
    }
    EXPECT_EQ(depth, XmlNode::kMaxDepth);
    expectParseError(nested(XmlNode::kMaxDepth + 1));
}

TEST(XmlNodeParse, DepthCountsOpenElementsNotAllElements) {
    std::string document = "<r>";
    for (int i = 0; i < 3 * XmlNode::kMaxDepth; ++i) {
        document += "<e><f/></e>";
    }
    document += "</r>";
    EXPECT_EQ(XmlNode::parseXmlBuffer(document)->children().size(), 3u * XmlNode::kMaxDepth);
}

TEST(XmlNodeFile, ReadsAWholeFile) {
    const TempDir dir;
    writeFile(dir / "policy.xml", "<?xml version=\"1.0\"?>\n<policy name='p'><x/></policy>\n");
    const XmlNodePtr root = XmlNode::parseXmlFile((dir / "policy.xml").string());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "POLICY");
    EXPECT_EQ(*root->attribute("NAME"), "p");
    EXPECT_TRUE(root->hasChild("X"));
}

TEST(XmlNodeFile, MissingEmptyPathOrOversizedFileGiveNoTree) {
    const TempDir dir;
    EXPECT_EQ(XmlNode::parseXmlFile(""), nullptr);
    EXPECT_EQ(XmlNode::parseXmlFile((dir / "absent.xml").string()), nullptr);
    EXPECT_EQ(XmlNode::parseXmlFile((dir / "no" / "such.xml").string()), nullptr);
    const auto big = dir / "big.xml";
    writeFile(big, "<a/>");
    std::filesystem::resize_file(big, XmlNode::kMaxFileSize + 1);
    EXPECT_EQ(XmlNode::parseXmlFile(big.string()), nullptr);
}

TEST(XmlNodeFile, BadContentRaises) {
    const TempDir dir;
    writeFile(dir / "empty.xml", "");
    writeFile(dir / "broken.xml", "<a><b>");
    EXPECT_THROW(XmlNode::parseXmlFile((dir / "empty.xml").string()), Error);
    EXPECT_THROW(XmlNode::parseXmlFile((dir / "broken.xml").string()), Error);
}

TEST(XmlNodeTree, AddChildKeepsTheParentLinkOfCreation) {
    const XmlNodePtr first = XmlNode::create();
    const XmlNodePtr second = XmlNode::create();
    const XmlNodePtr child = XmlNode::create(first);
    second->addChild(child);
    EXPECT_EQ(child->parent(), first);
    EXPECT_TRUE(first->children().empty());
    ASSERT_EQ(second->children().size(), 1u);
    EXPECT_EQ(second->children()[0], child);
}

TEST(XmlNodeTree, RemoveChildrenNamedIsExactAndKeepsOrder) {
    const XmlNodePtr root =
        XmlNode::parseXmlBuffer("<r><a n='1'/><b/><a n='2'/><c/><a n='3'/><d/></r>");
    const XmlNodePtr c = root->children()[3];
    EXPECT_EQ(root->removeChildrenNamed("a"), 0u);
    EXPECT_EQ(root->removeChildrenNamed("A "), 0u);
    EXPECT_EQ(root->removeChildrenNamed(""), 0u);
    EXPECT_EQ(root->removeChildrenNamed("A"), 3u);
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"B", "C", "D"}));
    EXPECT_EQ(root->children()[1], c);
    EXPECT_EQ(root->removeChildrenNamed("A"), 0u);
}

TEST(XmlNodeTree, AppendSharesNodesWithoutReparenting) {
    const XmlNodePtr source = XmlNode::parseXmlBuffer("<s><a/><b/></s>");
    const XmlNodePtr target = XmlNode::parseXmlBuffer("<t><x/></t>");
    target->appendChildrenOf(*source);
    target->appendChildren({source->children()[1], source->children()[0]});
    EXPECT_EQ(childNames(*target), (std::vector<std::string>{"X", "A", "B", "B", "A"}));
    EXPECT_EQ(target->children()[1], source->children()[0]);
    EXPECT_EQ(target->children()[4], source->children()[0]);
    EXPECT_EQ(target->children()[1]->parent(), source);
    EXPECT_EQ(source->children().size(), 2u);

    // Appending a node's own children doubles them.
    source->appendChildrenOf(*source);
    EXPECT_EQ(childNames(*source), (std::vector<std::string>{"A", "B", "A", "B"}));
}

TEST(XmlNodeTree, CloneIsADeepIndependentCopy) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer("<r k='v'>t<a x='1'>u<b y='2'/></a><c/></r>");
    const XmlNodePtr holder = XmlNode::create();
    const XmlNodePtr copy = root->cloneTree(holder);
    EXPECT_NE(copy, root);
    EXPECT_EQ(copy->parent(), holder);
    EXPECT_TRUE(holder->children().empty());
    EXPECT_EQ(copy->name, "R");
    EXPECT_EQ(copy->text, "t");
    EXPECT_EQ(copy->attributes, root->attributes);
    ASSERT_EQ(childNames(*copy), (std::vector<std::string>{"A", "C"}));
    const XmlNodePtr a = copy->children()[0];
    EXPECT_NE(a, root->children()[0]);
    EXPECT_EQ(a->parent(), copy);
    EXPECT_EQ(a->text, "u");
    ASSERT_EQ(a->children().size(), 1u);
    EXPECT_NE(a->children()[0], root->children()[0]->children()[0]);
    EXPECT_EQ(a->children()[0]->parent(), a);
    EXPECT_EQ(*a->children()[0]->attribute("Y"), "2");

    a->attributes["X"] = "changed";
    a->children()[0]->text = "changed";
    copy->removeChildrenNamed("C");
    EXPECT_EQ(*root->children()[0]->attribute("X"), "1");
    EXPECT_EQ(root->children()[0]->children()[0]->text, "");
    EXPECT_EQ(root->children().size(), 2u);
    EXPECT_EQ(root->cloneTree(nullptr)->parent(), nullptr);
}

TEST(XmlNodeTree, ParentLinkDoesNotKeepTheTreeAlive) {
    XmlNodePtr root = XmlNode::parseXmlBuffer("<r><a><b/></a></r>");
    const std::weak_ptr<XmlNode> weakRoot = root;
    const std::weak_ptr<XmlNode> weakB = root->children()[0]->children()[0];
    const XmlNodePtr a = root->children()[0];
    root.reset();
    EXPECT_TRUE(weakRoot.expired());
    EXPECT_EQ(a->parent(), nullptr);
    ASSERT_FALSE(weakB.expired());
    EXPECT_EQ(weakB.lock()->parent(), a);

    XmlNodePtr other = XmlNode::parseXmlBuffer(nested(10));
    const std::weak_ptr<XmlNode> weakOther = other;
    std::weak_ptr<XmlNode> deepest = other;
    while (!deepest.lock()->children().empty()) {
        deepest = deepest.lock()->children()[0];
    }
    other.reset();
    EXPECT_TRUE(weakOther.expired());
    EXPECT_TRUE(deepest.expired());
}

}  // namespace
}  // namespace perchlight
