#include "core/XmlFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/XmlNode.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";

void expectFileError(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), message);
        EXPECT_EQ(error.unit(), "XmlFile");
    }
}

// Writes one file through the given steps and returns what ended up on disk.
std::string written(const std::function<void(XmlFile&)>& steps) {
    const TempDir dir;
    const auto path = dir / "out.xml";
    {
        XmlFile file(path.string());
        steps(file);
        EXPECT_EQ(file.depth(), 0);
        file.close();
    }
    return readFile(path);
}

TEST(XmlFileFormat, DeclarationIndentationAndSpacing) {
    const std::string bytes = written([](XmlFile& file) {
        EXPECT_EQ(file.depth(), 0);
        XmlElementWriter root(file, false);
        EXPECT_EQ(file.depth(), 1);
        root.setNodeName("p3p:POLICY");
        {
            XmlElementWriter child(file, false);
            child.setNodeName("Group", {"a"}, {"1"});
            XmlElementWriter leaf(file, true);
            EXPECT_EQ(file.depth(), 3);
            leaf.setNodeName("e", {"a", "b"}, {"1", "2"});
        }
        XmlElementWriter sibling(file, true);
        sibling.setNodeName("e", {"a", "b"}, {"1", "2"});
        sibling.finish();
        EXPECT_EQ(file.depth(), 1);
        root.finish();
    });
    EXPECT_EQ(bytes, kDeclaration +
                         "  <p3p:POLICY >\n"
                         "    <Group a=\"1\" >\n"
                         "      <e a=\"1\" b=\"2\" />\n"
                         "    </Group>\n"
                         "    <e a=\"1\" b=\"2\" />\n"
                         "  </p3p:POLICY>\n");
}

TEST(XmlFileFormat, NamesBeyondTheValuesAreBare) {
    const std::string bytes = written([](XmlFile& file) {
        XmlElementWriter e(file, true);
        e.setNodeName("e", {"a", "b", "c"}, {"1"});
    });
    EXPECT_EQ(bytes, kDeclaration + "  <e a=\"1\" b c />\n");
}

TEST(XmlFileFormat, MapAttributesAreWrittenInMapOrder) {
    const std::string bytes = written([](XmlFile& file) {
        XmlElementWriter e(file, true);
        e.setNodeName("e", std::map<std::string, std::string>{{"z", "1"}, {"a", "2"}, {"m", ""}});
    });
    EXPECT_EQ(bytes, kDeclaration + "  <e a=\"2\" m=\"\" z=\"1\" />\n");
}

TEST(XmlFileFormat, ValuesAreWrittenByteForByte) {
    const std::string bytes = written([](XmlFile& file) {
        XmlElementWriter e(file, true);
        e.setNodeName("appel:RULE", {"behavior"}, {"a&amp;b <raw>"});
    });
    EXPECT_EQ(bytes, kDeclaration + "  <appel:RULE behavior=\"a&amp;b <raw>\" />\n");
}

TEST(XmlFileFormat, UnnamedElementWritesNothingButTakesADepth) {
    const std::string bytes = written([](XmlFile& file) {
        XmlElementWriter root(file, false);
        root.setNodeName("r");
        {
            XmlElementWriter unnamed(file, false);
            unnamed.setNodeName("");
            unnamed.setNodeName("", {"a"}, {"1"});
            EXPECT_EQ(file.depth(), 2);
            XmlElementWriter child(file, true);
            child.setNodeName("c");
        }
        EXPECT_EQ(file.depth(), 1);
    });
    EXPECT_EQ(bytes, kDeclaration + "  <r >\n      <c />\n  </r>\n");
}

TEST(XmlFileFormat, LineEndAndIndentFlags) {
    const std::string bytes = written([](XmlFile& file) {
        XmlElementWriter root(file, false, false, false);
        root.setNodeName("r");
        {
            XmlElementWriter flat(file, true, false, false);
            flat.setNodeName("a");
        }
        {
            XmlElementWriter noIndent(file, false, true, false);
            noIndent.setNodeName("b");
        }
        XmlElementWriter noLineEnd(file, true, false, true);
        noLineEnd.setNodeName("c");
    });
    EXPECT_EQ(bytes, kDeclaration + "<r ><a /><b >\n</b>\n    <c /></r>");
}

TEST(XmlFileErrors, OpeningFails) {
    const TempDir dir;
    expectFileError([] { XmlFile file(""); }, "Empty file name");
    expectFileError([&] { XmlFile file((dir / "missing" / "out.xml").string()); },
                    "Could not open file for writing, File could be locked by other program");
}

TEST(XmlFileErrors, SecondNameWithAttributes) {
    const TempDir dir;
    XmlFile file((dir / "out.xml").string());
    XmlElementWriter e(file, true);
    e.setNodeName("a", {}, {});
    expectFileError([&] { e.setNodeName("b", {"x"}, {"1"}); }, "Node name already set");
    expectFileError([&] { e.setNodeName("b", std::map<std::string, std::string>{}); },
                    "Node name already set");
    e.finish();
    file.close();
    EXPECT_EQ(readFile(dir / "out.xml"), kDeclaration + "  <a />\n");
}

TEST(XmlFileErrors, FinishingMoreThanCreatedMakesTheDepthNegative) {
    const TempDir dir;
    XmlFile file((dir / "out.xml").string());
    {
        XmlElementWriter e(file, false);
        e.setNodeName("a");
        e.finish();
        EXPECT_EQ(file.depth(), 0);
        // The end tag is written once; the second finish only leaves a depth it never had.
        expectFileError([&] { e.finish(); }, "Depth is negative");
        EXPECT_EQ(file.depth(), -1);
    }
    // The destructor does not finish an explicitly finished writer again.
    EXPECT_EQ(file.depth(), -1);
    file.close();
    EXPECT_EQ(readFile(dir / "out.xml"), kDeclaration + "  <a >\n  </a>\n");
}

TEST(XmlFileErrors, FailedWriteIsReportedOnClose) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    XmlFile file("/dev/full");
    {
        XmlElementWriter e(file, true);
        e.setNodeName("a");
    }
    expectFileError([&] { file.close(); }, "Could not write file");
    EXPECT_NO_THROW(file.close());
}

TEST(XmlFileRoundTrip, WrittenFileParsesBack) {
    const TempDir dir;
    const auto path = dir / "prefs.xml";
    {
        XmlFile file(path.string());
        XmlElementWriter root(file, false);
        root.setNodeName("appel:RULESET", {"xmlns:appel"}, {"http://www.w3.org/2002/04/APPELv1"});
        {
            XmlElementWriter rule(file, false);
            rule.setNodeName("appel:RULE", {"behavior", "prompt"}, {"Request", "no"});
            XmlElementWriter other(file, true);
            other.setNodeName("appel:OTHERWISE");
        }
        XmlElementWriter cookie(file, true);
        cookie.setNodeName("cookie", std::map<std::string, std::string>{{"domain", ".a.example"}});
    }
    const XmlNodePtr root = XmlNode::parseXmlFile(path.string());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "APPEL:RULESET");
    EXPECT_EQ(*root->attribute("XMLNS:APPEL"), "http://www.w3.org/2002/04/APPELv1");
    ASSERT_EQ(root->children().size(), 2u);
    const XmlNodePtr rule = root->children()[0];
    EXPECT_EQ(rule->name, "APPEL:RULE");
    EXPECT_EQ(rule->attributes,
              (std::map<std::string, std::string>{{"BEHAVIOR", "Request"}, {"PROMPT", "no"}}));
    ASSERT_EQ(rule->children().size(), 1u);
    EXPECT_EQ(rule->children()[0]->name, "APPEL:OTHERWISE");
    EXPECT_EQ(rule->text, "\n      \n    ");
    EXPECT_EQ(*root->children()[1]->attribute("DOMAIN"), ".a.example");
}

TEST(XmlFileRoundTrip, EscapedAttributeReadsBackUnchanged) {
    const std::string value = "a&b<c>d\"e'f\ng\r\th &amp; ";
    EXPECT_EQ(XmlFile::escapeAttribute("plain text"), "plain text");
    EXPECT_EQ(XmlFile::escapeAttribute("&<>\""), "&amp;&lt;&gt;&quot;");
    const std::string bytes = written([&](XmlFile& file) {
        XmlElementWriter e(file, true);
        e.setNodeName("e", {"v"}, {XmlFile::escapeAttribute(value)});
    });
    const XmlNodePtr root = XmlNode::parseXmlBuffer(bytes);
    ASSERT_NE(root->attribute("V"), nullptr);
    EXPECT_EQ(*root->attribute("V"), value);
}

}  // namespace
}  // namespace perchlight
