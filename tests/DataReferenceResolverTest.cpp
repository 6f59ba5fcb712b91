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

const std::string kPolicyUrl = "http://a.example/w3c/p3p.xml";
const std::string kSchema =
    "<DATASCHEMA><DATA-DEF name='shop.card'><CATEGORIES><financial/></CATEGORIES></DATA-DEF>"
    "<DATA-DEF name='shop.basket.item'><CATEGORIES><purchase/></CATEGORIES></DATA-DEF>"
    "</DATASCHEMA>";

// Serves canned documents and counts the requests.
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

// Resolves a policy whose one statement holds data; schema stands beside the POLICY. Returns the
// statement's DATA-GROUP children, each as "REF [categories] VARIABLE_CATEGORY SHORT-DESCRIPTION".
// The ENTITY names data that no schema defines: resolution leaves it alone.
Names resolve(const std::string& data, const std::string& groupAttributes = "",
              const std::string& schema = "", DocumentSource* documents = nullptr) {
    static BaseDataSchema base((dataDir() / BaseDataSchema::kFileName).string());
    const XmlNodePtr policy =
        DataReferenceResolver(base, documents)
            .resolve(XmlNode::parseXmlBuffer("<POLICIES><POLICY><ENTITY><DATA-GROUP><DATA "
                                             "ref='#business.nosuch'/></DATA-GROUP></ENTITY>"
                                             "<STATEMENT><DATA-GROUP " +
                                             groupAttributes + ">" + data +
                                             "</DATA-GROUP></STATEMENT></POLICY>" + schema +
                                             "</POLICIES>"),
                     Url(kPolicyUrl), "");
    Names described;
    for (const XmlNodePtr& element : policy->findChild("STATEMENT")->children()[0]->children()) {
        std::string text = element->attributes.count("REF") ? element->attributes["REF"] : "-";
        text += " [";
        for (const XmlNodePtr& list : element->children()) {
            for (const XmlNodePtr& category : list->children()) {
                text += category->name + (category == list->children().back() ? "" : " ");
            }
        }
        text += "]";
        for (const char* key : {"VARIABLE_CATEGORY", "SHORT-DESCRIPTION"}) {
            text += element->attributes.count(key) ? " " + element->attributes[key] : "";
        }
        described.push_back(text);
    }
    return described;
}

TEST(DataReferenceResolverBase, DefinitionsGiveDescriptionAndCategories) {
    const std::pair<const char*, const char*> cases[] = {
        // Fixed categories replace the policy's; variable ones keep them.
        {"<DATA ref='#user.bdate'><CATEGORIES><health/></CATEGORIES></DATA>",
         "#user.bdate [DEMOGRAPHIC] User's Birth Date"},
        {"<DATA ref='#dynamic.miscdata' short-description='x'><CATEGORIES><health/></CATEGORIES>"
         "</DATA>",
         "#dynamic.miscdata [HEALTH] YES Miscellaneous Non-base Data Schema Information"},
        // Structures of the base schema give one definition per field.
        {"<DATA ref='#user.home-info.postal.street'/>",
         "#user.home-info.postal.street [PHYSICAL] Street Address"},
        {"<DATA ref='#business.contact-info.telecom.telephone.number'/>",
         "#business.contact-info.telecom.telephone.number [PHYSICAL] Telephone Number"},
        {"<DATA ref='#user.name.given'/>", "#user.name.given [PHYSICAL] Given Name (First Name)"},
        {"<DATA><CATEGORIES><health/></CATEGORIES></DATA>", "- [HEALTH]"},
    };
    for (const auto& [data, expected] : cases) {
        EXPECT_EQ(resolve(data), Names{expected}) << data;
    }
}

TEST(DataReferenceResolverBase, GroupNameExpandsOneLevelDownAtTheEndOfTheGroup) {
    EXPECT_EQ(resolve("<DATA ref='#dynamic'/><DATA ref='#user.gender'/>"),
              (Names{"#dynamic.clickstream [NAVIGATION COMPUTER] Click-stream Information",
                     "#user.gender [DEMOGRAPHIC] User's Gender (Male or Female)",
                     "#dynamic.http [NAVIGATION COMPUTER] HTTP Protocol Information",
                     "#dynamic.clientevents [NAVIGATION] User's Interaction with a Resource",
                     "#dynamic.cookies [] Use of HTTP Cookies",
                     "#dynamic.miscdata [] Miscellaneous Non-base Data Schema Information",
                     "#dynamic.searchtext [INTERACTIVE] Search Terms",
                     "#dynamic.interactionrecord [INTERACTIVE] Server Stores the Transaction "
                     "History"}));
}

TEST(DataReferenceResolverSchemas, InPolicyOwnUrlAndExternalReferences) {
    EXPECT_EQ(resolve("<DATA ref='#shop.card'/><DATA ref='#shop.basket'/><DATA ref='" + kPolicyUrl +
                          "#shop.card'/>",
                      "base=''", kSchema),
              (Names{"#shop.card [FINANCIAL]", kPolicyUrl + "#shop.basket.item [PURCHASE]",
                     kPolicyUrl + "#shop.card [FINANCIAL]"}));
    CannedDocuments documents;
    documents.documents["http://b.example/s.xml"] = kSchema;
    EXPECT_EQ(resolve("<DATA ref='http://b.example/s.xml#shop.card'/>"
                      "<DATA ref='http://b.example/s.xml#shop.basket.item'/>",
                      "", "", &documents),
              (Names{"http://b.example/s.xml#shop.card [FINANCIAL]",
                     "http://b.example/s.xml#shop.basket.item [PURCHASE]"}));
    EXPECT_EQ(documents.requests, (std::map<std::string, int>{{"http://b.example/s.xml", 1}}));
}

TEST(DataReferenceResolverErrors, MessagesNameTheCauseAndTheReference) {
    const std::string cycle =
        "<DATASCHEMA><DATA-STRUCT name='a.x' structref='#b'/><DATA-STRUCT name='b.y' "
        "structref='#a'/><DATA-DEF name='shop.card' structref='#a'/></DATASCHEMA>";
    std::string many;
    for (int i = 0; i < 1700; ++i) {
        many += "<DATA ref='#dynamic'/>";  // six added DATA elements each
    }
    CannedDocuments documents;
    documents.documents = {{"http://b.example/none.xml", "<POLICIES/>"},
                           {"http://b.example/broken.xml", "<DATASCHEMA>"},
                           {"http://b.example/s.xml", kSchema}};
    const std::string own = kPolicyUrl + "#shop.card";
    const struct {
        std::string ref, group, schema, cause, extra = "";
    } cases[] = {
        {"#user.nosuch", "", "", "Data-def not found in the base data schema:#user.nosuch"},
        {"#user.name", "base=''", "", "Data-def not found in the inpolicy data schema:#user.name"},
        {"#shop.card", "base=''", cycle,
         "Data-def not found in the inpolicy data schema:#shop.card"},
        {own, "", "", "Schema not found for policy :" + kPolicyUrl},
        {own, "", cycle, "Schema not found for policy :" + kPolicyUrl},
        {"http://c.example/s.xml#x", "", "",
         "Can not download the the policy url :http://c.example/s.xml"},
        {"http://b.example/none.xml#x", "", "",
         "Schema not found in policy :http://b.example/none.xml"},
        {"http://b.example/broken.xml#x", "", "", "XML parse error"},
        {"http://b.example/s.xml#x", "", "",
         "Data-def not found in the inpolicy data schema:http://b.example/s.xml#x"},
        {"#dynamic", "", "", "Data reference resolution exceeds its limits:#dynamic", many},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        try {
            resolve(c.extra + "<DATA ref='" + c.ref + "'/>", c.group, c.schema, &documents);
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
