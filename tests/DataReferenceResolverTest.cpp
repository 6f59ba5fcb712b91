#include "core/DataReferenceResolver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;
using Names = std::vector<std::string>;

const Url kPolicyUrl("http://a.example/w3c/p3p.xml");

BaseDataSchema& shippedSchema() {
    static BaseDataSchema schema((dataDir() / BaseDataSchema::kFileName).string());
    return schema;
}

// Serves canned documents and counts what is asked for.
class CannedDocuments : public DocumentSource {
  public:
    std::optional<std::string> getDocument(const std::string& url, HttpHeaders*) override {
        ++requests[url];
        const auto found = documents.find(url);
        return found == documents.end() ? std::nullopt : std::optional(found->second);
    }

    std::map<std::string, std::string> documents;
    std::map<std::string, int> requests;
};

// A policy whose one statement holds the given DATA-GROUP content; schema follows the POLICY.
std::string policies(const std::string& data, const std::string& base = "",
                     const std::string& schema = "") {
    return "<POLICIES><POLICY><ENTITY><DATA-GROUP><DATA ref='#business.name'>A</DATA>"
           "</DATA-GROUP></ENTITY><ACCESS><all/></ACCESS><STATEMENT><NON-IDENTIFIABLE/>"
           "<DATA-GROUP " +
           base + ">" + data + "</DATA-GROUP></STATEMENT></POLICY>" + schema + "</POLICIES>";
}

XmlNodePtr resolve(const std::string& document, DocumentSource* documents = nullptr,
                   BaseDataSchema& base = shippedSchema()) {
    return DataReferenceResolver(base, documents)
        .resolve(XmlNode::parseXmlBuffer(document), kPolicyUrl, "");
}

// The DATA elements of the statement's group.
std::vector<XmlNodePtr> statementData(const XmlNodePtr& policy) {
    return policy->findChild("STATEMENT")->findChild("DATA-GROUP")->children();
}

Names categoriesOf(const XmlNode& data) {
    Names names;
    for (const XmlNodePtr& list : data.children()) {
        for (const XmlNodePtr& category :
             list->name == "CATEGORIES" ? list->children() : std::vector<XmlNodePtr>{}) {
            names.push_back(category->name);
        }
    }
    return names;
}

std::string attributeOf(const XmlNode& node, const std::string& key) {
    const std::string* value = node.attribute(key);
    return value ? *value : "<none>";
}

TEST(DataReferenceResolverBase, DefinitionsGiveDescriptionAndCategories) {
    const struct {
        const char* ref;
        const char* policyCategories;
        Names categories;
        const char* variable;
        const char* description;
    } cases[] = {
        {"#user.bdate", "<health/>", {"DEMOGRAPHIC"}, "<none>", "User's Birth Date"},
        {"#dynamic.miscdata",
         "<health/><purchase/>",
         {"HEALTH", "PURCHASE"},
         "YES",
         "Miscellaneous Non-base Data Schema Information"},
        {"#user.home-info.postal.street", "", {"PHYSICAL"}, "<none>", "Street Address"},
        {"#business.contact-info.telecom.telephone.number",
         "",
         {"PHYSICAL"},
         "<none>",
         "Telephone Number"},
        {"#user.name.given", "<online/>", {"PHYSICAL"}, "<none>", "Given Name (First Name)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ref);
        const XmlNodePtr policy =
            resolve(policies(std::string("<DATA ref='") + c.ref + "' short-description='mine'>" +
                             "<CATEGORIES>" + c.policyCategories + "</CATEGORIES></DATA>"));
        ASSERT_NE(policy, nullptr);
        const auto data = statementData(policy);
        ASSERT_EQ(data.size(), 1u);
        EXPECT_EQ(categoriesOf(*data[0]), c.categories);
        EXPECT_EQ(attributeOf(*data[0], "VARIABLE_CATEGORY"), c.variable);
        EXPECT_EQ(attributeOf(*data[0], "SHORT-DESCRIPTION"), c.description);
        EXPECT_EQ(attributeOf(*data[0], "REF"), c.ref);
    }
}

TEST(DataReferenceResolverBase, GroupNameExpandsOneLevelDown) {
    const XmlNodePtr policy =
        resolve(policies("<DATA ref='#dynamic' optional='yes'/><DATA ref='#user.gender'/><X/>"));
    Names refs;
    for (const XmlNodePtr& data : statementData(policy)) {
        refs.push_back(data->name + " " + attributeOf(*data, "REF"));
    }
    EXPECT_EQ(refs, (Names{"DATA #dynamic.clickstream", "DATA #user.gender", "X <none>",
                           "DATA #dynamic.http", "DATA #dynamic.clientevents",
                           "DATA #dynamic.cookies", "DATA #dynamic.miscdata",
                           "DATA #dynamic.searchtext", "DATA #dynamic.interactionrecord"}));
    const auto data = statementData(policy);
    EXPECT_EQ(categoriesOf(*data[0]), (Names{"NAVIGATION", "COMPUTER"}));
    EXPECT_EQ(attributeOf(*data[0], "SHORT-DESCRIPTION"), "Click-stream Information");
    EXPECT_EQ(attributeOf(*data[3], "SHORT-DESCRIPTION"), "HTTP Protocol Information");
    EXPECT_EQ(attributeOf(*data[3], "OPTIONAL"), "<none>");
    EXPECT_EQ(categoriesOf(*data[5]), Names{});
}

TEST(DataReferenceResolverBase, EntityAndDataWithoutRefAreLeftAlone) {
    const XmlNodePtr policy = resolve(policies("<DATA><CATEGORIES><health/></CATEGORIES></DATA>"));
    const XmlNodePtr entityData = policy->findChild("ENTITY")->children()[0]->children()[0];
    EXPECT_EQ(entityData->attributes,
              (std::map<std::string, std::string>{{"REF", "#business.name"}}));
    EXPECT_TRUE(entityData->children().empty());
    EXPECT_EQ(categoriesOf(*statementData(policy)[0]), Names{"HEALTH"});
}

TEST(DataReferenceResolverBase, WithoutBaseSchemaTheRootComesBack) {
    const TempDir dir;
    BaseDataSchema missing((dir / "none.xml").string());
    const XmlNodePtr root = resolve(policies("<DATA ref='#nosuch'/>"), nullptr, missing);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "POLICIES");
}

const std::string kInPolicySchema =
    "<DATASCHEMA><DATA-DEF name='shop.card' short-description='Card'>"
    "<CATEGORIES><financial/></CATEGORIES></DATA-DEF>"
    "<DATA-DEF name='shop.basket.item'><CATEGORIES><purchase/></CATEGORIES></DATA-DEF>"
    "</DATASCHEMA>";

TEST(DataReferenceResolverSchemas, InPolicyAndOwnUrlReferences) {
    const std::string own = kPolicyUrl.str();
    const XmlNodePtr policy = resolve(policies(
        "<DATA ref='#shop.card'/><DATA ref='#shop.basket'/><DATA ref='" + own + "#shop.card'/>",
        "base=''", kInPolicySchema));
    const auto data = statementData(policy);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(categoriesOf(*data[0]), Names{"FINANCIAL"});
    EXPECT_EQ(attributeOf(*data[1], "REF"), own + "#shop.basket.item");
    EXPECT_EQ(categoriesOf(*data[1]), Names{"PURCHASE"});
    EXPECT_EQ(categoriesOf(*data[2]), Names{"FINANCIAL"});
}

TEST(DataReferenceResolverSchemas, ExternalSchemaIsFetchedOncePerResolution) {
    CannedDocuments documents;
    documents.documents["http://b.example/schema.xml"] = kInPolicySchema;
    const XmlNodePtr policy =
        resolve(policies("<DATA ref='http://b.example/schema.xml#shop.card'/>"
                         "<DATA ref='http://b.example/schema.xml#shop.basket.item'/>"),
                &documents);
    const auto data = statementData(policy);
    EXPECT_EQ(categoriesOf(*data[0]), Names{"FINANCIAL"});
    EXPECT_EQ(categoriesOf(*data[1]), Names{"PURCHASE"});
    EXPECT_EQ(documents.requests, (std::map<std::string, int>{{"http://b.example/schema.xml", 1}}));
}

TEST(DataReferenceResolverErrors, MessagesNameTheCauseAndTheReference) {
    const std::string own = kPolicyUrl.str();
    const std::string cycle =
        "<DATASCHEMA><DATA-STRUCT name='a.x' structref='#b'/><DATA-STRUCT name='b.y' "
        "structref='#a'/><DATA-DEF name='shop.card' structref='#a'/></DATASCHEMA>";
    const std::string many = [] {
        std::string refs;
        for (int i = 0; i < 1700; ++i) {
            refs += "<DATA ref='#dynamic'/>";
        }
        return refs;
    }();
    CannedDocuments documents;
    documents.documents = {{"http://b.example/none.xml", "<POLICIES/>"},
                           {"http://b.example/broken.xml", "<DATASCHEMA>"},
                           {"http://b.example/schema.xml", kInPolicySchema}};
    const struct {
        std::string data;
        std::string base;
        std::string schema;
        std::string ref;
        std::string cause;
    } cases[] = {
        {"", "", "", "#user.nosuch", "Data-def not found in the base data schema:#user.nosuch"},
        {"", "", "", "#user.name.given.x",
         "Data-def not found in the base data schema:#user.name.given.x"},
        {"", "base=''", "", "#user.name",
         "Data-def not found in the inpolicy data schema:#user.name"},
        {"", "base=''", cycle, "#shop.card",
         "Data-def not found in the inpolicy data schema:#shop.card"},
        {"", "", "", own + "#user.name", "Schema not found for policy :" + own},
        {"", "", cycle, own + "#shop.card", "Schema not found for policy :" + own},
        {"", "", "", "http://c.example/s.xml#x",
         "Can not download the the policy url :http://c.example/s.xml"},
        {"", "", "", "http://b.example/none.xml#x",
         "Schema not found in policy :http://b.example/none.xml"},
        {"", "", "", "http://b.example/broken.xml#x", "XML parse error"},
        {"", "", "", "http://b.example/schema.xml#x",
         "Data-def not found in the inpolicy data schema:http://b.example/schema.xml#x"},
        {many, "", "", "#dynamic", "Data reference resolution exceeds its limits:#dynamic"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        try {
            resolve(policies(c.data + "<DATA ref='" + c.ref + "'/>", c.base, c.schema), &documents);
            ADD_FAILURE() << "no error raised";
        } catch (const Error& error) {
            EXPECT_EQ(error.message(),
                      c.cause + "Exception while processing data ref item :" + c.ref);
            EXPECT_EQ(error.unit(), "P3PEvaluator");
        }
    }
}

}  // namespace
}  // namespace perchlight
