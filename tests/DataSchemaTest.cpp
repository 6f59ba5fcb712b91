#include "core/DataSchema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perchlight {
namespace {

using Names = std::vector<std::string>;

Names names(const std::vector<XmlNodePtr>& nodes) {
    Names result;
    for (const XmlNodePtr& node : nodes) {
        const std::string* name = node->attribute("NAME");
        result.push_back(node->name + " " + (name ? *name : "-"));
    }
    return result;
}

TEST(DataSchemaPrepare, StructureReferencesBecomeDefinitionsPassByPass) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<DATASCHEMA><DATA-STRUCT name='postal.street' short-description='Street'>"
        "<CATEGORIES><physical/></CATEGORIES></DATA-STRUCT>"
        "<DATA-STRUCT name='postal.name' structref='#personname'/>"
        "<DATA-STRUCT name='personname.given'/><DATA-STRUCT name='postalcode.x'/>"
        "<DATA-DEF name='user.home' structref='#postal'/><DATA-DEF name='user.plain' "
        "structref='postal'/></DATASCHEMA>");
    const auto schema = DataSchema::prepare(root);
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(names(root->children()),
              (Names{"DATA-DEF user.home", "DATA-DEF user.plain", "DATA-DEF user.home.name",
                     "DATA-DEF user.home.street", "DATA-DEF user.home.name.given"}));
    for (const XmlNodePtr& definition : root->children()) {
        EXPECT_EQ(definition->attribute("STRUCTREF"), nullptr);
    }
    // A field keeps its structure's description and categories.
    const XmlNodePtr street = schema->findDefinition("user.home.street");
    EXPECT_EQ(*street->attribute("SHORT-DESCRIPTION"), "Street");
    EXPECT_EQ(street->findChild("CATEGORIES")->children()[0]->name, "PHYSICAL");
}

TEST(DataSchemaPrepare, RunawayStructuresCannotBePrepared) {
    const std::string longName(10'000, 'n');
    const std::pair<const char*, std::string> cases[] = {
        {"two structures in a cycle",
         "<DATA-STRUCT name='a.x' structref='#b'/><DATA-STRUCT name='b.y' structref='#a'/>"},
        {"a structure that refers to itself", "<DATA-STRUCT name='a.x' structref='#a'/>"},
        {"a structure that doubles at each pass",
         "<DATA-STRUCT name='a.l' structref='#a'/><DATA-STRUCT name='a.r' structref='#a'/>"},
        {"a wildcard too costly to match",
         "<DATA-STRUCT name='a." + longName + "' structref='#*" + longName + "'/>"},
    };
    for (const auto& [what, structures] : cases) {
        SCOPED_TRACE(what);
        const XmlNodePtr root = XmlNode::parseXmlBuffer(
            "<DATASCHEMA>" + structures + "<DATA-DEF name='d' structref='#a'/></DATASCHEMA>");
        const std::vector<XmlNodePtr> before = root->children();
        EXPECT_EQ(DataSchema::prepare(root), nullptr);
        // The schema is left as it was read.
        EXPECT_EQ(root->children(), before);
        EXPECT_EQ(*root->children().back()->attribute("STRUCTREF"), "#a");
    }
}

TEST(DataSchemaFind, SchemaInsideADocument) {
    const std::string schema = "<DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA>";
    const std::pair<std::string, bool> cases[] = {
        {schema, true},
        {"<POLICIES><POLICY>" + schema + "</POLICY></POLICIES>", true},
        {"<POLICY><ENTITY/>" + schema + "</POLICY>", true},
        {"<META><POLICIES>" + schema + "</POLICIES></META>", false},
        {"<POLICY><ENTITY>" + schema + "</ENTITY></POLICY>", false},
    };
    for (const auto& [document, found] : cases) {
        const auto prepared = DataSchema::findInDocument(XmlNode::parseXmlBuffer(document));
        EXPECT_EQ(prepared != nullptr && prepared->findDefinition("x") != nullptr, found)
            << document;
    }
}

TEST(DataSchemaFind, DefinitionsAndTheLevelBelowThem) {
    const auto schema = DataSchema::prepare(XmlNode::parseXmlBuffer(
        "<DATASCHEMA><DATA-DEF name='a.z' n='1'/><DATA-DEF name='a.b.c'/><DATA-DEF name='a.z' "
        "n='2'/><DATA-DEF name='a.b'/><DATA-DEF name='ab.c'/><DATA-DEF/></DATASCHEMA>"));
    EXPECT_EQ(*schema->findDefinition("a.z")->attribute("N"), "1");
    EXPECT_EQ(schema->findDefinition("A.Z"), nullptr);
    DataSchema::MatchBudget budget;
    const std::pair<const char*, Names> cases[] = {
        {"a", {"DATA-DEF a.z", "DATA-DEF a.z", "DATA-DEF a.b"}},
        {"a?", {"DATA-DEF ab.c"}},
        {"*", {"DATA-DEF a.z", "DATA-DEF a.z", "DATA-DEF a.b", "DATA-DEF ab.c"}},
        {"a.z", {}},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(names(schema->subDefinitions(name, budget)), expected) << name;
    }
    EXPECT_FALSE(budget.exhausted());
}

}  // namespace
}  // namespace perchlight
