#include "core/DataSchema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

std::vector<std::string> names(const std::vector<XmlNodePtr>& nodes) {
    std::vector<std::string> result;
    for (const XmlNodePtr& node : nodes) {
        const std::string* name = node->attribute("NAME");
        result.push_back(node->name + " " + (name ? *name : "-"));
    }
    return result;
}

std::vector<std::string> categories(const XmlNode& definition) {
    std::vector<std::string> result;
    if (const XmlNodePtr list = definition.findChild("CATEGORIES")) {
        for (const XmlNodePtr& category : list->children()) {
            result.push_back(category->name);
        }
    }
    return result;
}

using Names = std::vector<std::string>;

TEST(DataSchemaPrepare, StructureReferencesBecomeDefinitionsPassByPass) {
    const XmlNodePtr root = XmlNode::parseXmlBuffer(
        "<DATASCHEMA>"
        "<DATA-STRUCT name='postal.street' short-description='Street'>"
        "<CATEGORIES><physical/></CATEGORIES></DATA-STRUCT>"
        "<DATA-STRUCT name='postal.name' structref='#personname'/>"
        "<DATA-STRUCT name='personname.given'/>"
        "<DATA-STRUCT name='postalcode.x'/>"
        "<DATA-DEF name='user.home' structref='#postal'/>"
        "<DATA-DEF name='user.plain' structref='postal'/>"
        "</DATASCHEMA>");
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
    ASSERT_NE(street, nullptr);
    EXPECT_EQ(*street->attribute("SHORT-DESCRIPTION"), "Street");
    EXPECT_EQ(categories(*street), (Names{"PHYSICAL"}));
}

TEST(DataSchemaPrepare, BaseSchemaGivesEveryStructuredFieldADefinition) {
    const XmlNodePtr root = XmlNode::parseXmlFile(dataDir() / "BaseDataschema-std.xml");
    const auto schema = DataSchema::prepare(root);
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(root->findChild("DATA-STRUCT"), nullptr);
    const struct {
        const char* name;
        Names categories;
    } cases[] = {
        {"user.home-info.postal.street", {"PHYSICAL"}},
        {"user.home-info.postal.name.given", {"PHYSICAL"}},
        {"business.contact-info.telecom.telephone.number", {"PHYSICAL"}},
        {"user.name.family", {"PHYSICAL"}},
        {"dynamic.clickstream.clientip.fullip", {"COMPUTER"}},
        {"user.bdate.ymd.year", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const XmlNodePtr definition = schema->findDefinition(c.name);
        ASSERT_NE(definition, nullptr);
        EXPECT_EQ(categories(*definition), c.categories);
    }
}

TEST(DataSchemaPrepare, RunawayStructuresCannotBePrepared) {
    const std::string longName(10'000, 'n');
    const struct {
        const char* what;
        std::string structures;
    } cases[] = {
        {"two structures in a cycle",
         "<DATA-STRUCT name='a.x' structref='#b'/><DATA-STRUCT name='b.y' structref='#a'/>"},
        {"a structure that refers to itself", "<DATA-STRUCT name='a.x' structref='#a'/>"},
        {"a structure that doubles at each pass",
         "<DATA-STRUCT name='a.l' structref='#a'/><DATA-STRUCT name='a.r' structref='#a'/>"},
        {"a wildcard too costly to match",
         "<DATA-STRUCT name='a." + longName + "' structref='#*" + longName + "'/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const XmlNodePtr root = XmlNode::parseXmlBuffer("<DATASCHEMA>" + c.structures +
                                                        "<DATA-DEF name='d' structref='#a'/>"
                                                        "</DATASCHEMA>");
        const std::vector<XmlNodePtr> before = root->children();
        EXPECT_EQ(DataSchema::prepare(root), nullptr);
        // The schema is left as it was read.
        EXPECT_EQ(root->children(), before);
        EXPECT_EQ(*root->children().back()->attribute("STRUCTREF"), "#a");
    }
}

TEST(DataSchemaFind, SchemaInsideADocument) {
    const struct {
        const char* document;
        bool found;
    } cases[] = {
        {"<DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA>", true},
        {"<POLICIES><POLICY/><DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA></POLICIES>", true},
        {"<POLICIES><POLICY><DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA></POLICY></POLICIES>",
         true},
        {"<POLICY><ENTITY/><DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA></POLICY>", true},
        {"<META><POLICIES><DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA></POLICIES></META>", false},
        {"<POLICIES><POLICY><ENTITY><DATASCHEMA/></ENTITY></POLICY></POLICIES>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const auto schema = DataSchema::findInDocument(XmlNode::parseXmlBuffer(c.document));
        EXPECT_EQ(schema != nullptr && schema->findDefinition("x") != nullptr, c.found);
    }
}

TEST(DataSchemaFind, DefinitionsAndTheLevelBelowThem) {
    const auto schema = DataSchema::prepare(XmlNode::parseXmlBuffer(
        "<DATASCHEMA><DATA-DEF name='a.z' n='1'/><DATA-DEF name='a.b.c'/><DATA-DEF name='a.z' "
        "n='2'/>"
        "<DATA-DEF name='a.b'/><DATA-DEF name='ab.c'/><DATA-DEF/></DATASCHEMA>"));
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(*schema->findDefinition("a.z")->attribute("N"), "1");
    EXPECT_EQ(schema->findDefinition("A.Z"), nullptr);
    DataSchema::MatchBudget budget;
    EXPECT_EQ(names(schema->subDefinitions("a", budget)),
              (Names{"DATA-DEF a.z", "DATA-DEF a.z", "DATA-DEF a.b"}));
    EXPECT_EQ(names(schema->subDefinitions("a?", budget)), (Names{"DATA-DEF ab.c"}));
    EXPECT_EQ(names(schema->subDefinitions("*", budget)),
              (Names{"DATA-DEF a.z", "DATA-DEF a.z", "DATA-DEF a.b", "DATA-DEF ab.c"}));
    EXPECT_TRUE(schema->subDefinitions("a.z", budget).empty());
    EXPECT_FALSE(budget.exhausted());
}

}  // namespace
}  // namespace perchlight
