#include "core/PolicyModel.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace perchlight {
namespace {

XmlNodePtr parse(const std::string& document) {
    return XmlNode::parseXmlBuffer(document);
}

std::string attributeOf(const XmlNodePtr& node, const std::string& key) {
    const std::string* value = node->attribute(key);
    return value ? *value : "<absent>";
}

TEST(PolicyModelLocate, RootPolicyMatchesEmptyOrEqualName) {
    const XmlNodePtr named = parse("<POLICY name='basic'/>");
    EXPECT_EQ(locatePolicy(named, ""), named);
    EXPECT_EQ(locatePolicy(named, "basic"), named);
    EXPECT_EQ(locatePolicy(named, "other"), nullptr);
    EXPECT_EQ(locatePolicy(named, "Basic"), nullptr);

    const XmlNodePtr unnamed = parse("<policy/>");
    EXPECT_EQ(locatePolicy(unnamed, ""), unnamed);
    EXPECT_EQ(locatePolicy(unnamed, "basic"), nullptr);
}

TEST(PolicyModelLocate, PoliciesRootPicksByName) {
    const XmlNodePtr root = parse(
        "<POLICIES><DATASCHEMA/><POLICY name='first'/><POLICY name='second' id='a'/>"
        "<POLICY name='second' id='b'/></POLICIES>");
    const XmlNodePtr found = locatePolicy(root, "second");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(attributeOf(found, "ID"), "a");
    EXPECT_EQ(locatePolicy(root, ""), root->children()[1]);
    EXPECT_EQ(locatePolicy(root, "third"), nullptr);
    EXPECT_EQ(locatePolicy(parse("<POLICIES><DATASCHEMA/></POLICIES>"), ""), nullptr);
}

TEST(PolicyModelLocate, MetaRootSearchesItsFirstPolicies) {
    const XmlNodePtr meta = parse(
        "<META><POLICY-REFERENCES/><POLICIES><POLICY name='a'/><POLICY name='b'/></POLICIES>"
        "<POLICIES><POLICY name='c'/></POLICIES></META>");
    const XmlNodePtr firstPolicies = meta->children()[1];
    EXPECT_EQ(locatePolicy(meta, "b"), firstPolicies->children()[1]);
    EXPECT_EQ(locatePolicy(meta, ""), firstPolicies->children()[0]);
    EXPECT_EQ(locatePolicy(meta, "c"), nullptr);

    EXPECT_EQ(locatePolicy(parse("<META><POLICY/></META>"), ""), nullptr);
    EXPECT_EQ(locatePolicy(parse("<META/>"), ""), nullptr);
}

TEST(PolicyModelLocate, OtherRootsYieldNone) {
    EXPECT_EQ(locatePolicy(parse("<POLICY-REFERENCES><POLICY/></POLICY-REFERENCES>"), ""), nullptr);
    // The namespace is not resolved: a prefixed element keeps its prefix.
    EXPECT_EQ(locatePolicy(parse("<p3p:POLICY xmlns:p3p='http://www.w3.org/2002/01/P3Pv1'/>"), ""),
              nullptr);
    EXPECT_EQ(locatePolicy(nullptr, ""), nullptr);
}

constexpr const char* kEntity = "<ENTITY><DATA-GROUP/></ENTITY>";
constexpr const char* kAccess = "<ACCESS><nonident/></ACCESS>";
constexpr const char* kStatement = "<STATEMENT><PURPOSE/><RECIPIENT/><RETENTION/></STATEMENT>";

struct StructureCase {
    const char* what;
    std::string children;
    bool malformed;
};

TEST(PolicyModelStructure, RequiresEntityAccessStatementInOrder) {
    const std::string e = kEntity;
    const std::string a = kAccess;
    const std::string s = kStatement;
    const StructureCase cases[] = {
        {"complete", e + a + s, false},
        {"other elements around", "<TEST/>" + e + "<X/>" + a + "<DISPUTES-GROUP/>" + s + "<Y/>",
         false},
        {"access after the first statement", e + s + a, true},
        {"access before entity is not counted", a + e + s, true},
        {"access before entity and again after it", a + e + a + s, false},
        {"no entity", a + s, true},
        {"no access", e + s, true},
        {"no statement", e + a, true},
        {"entity without data group", "<ENTITY><DATA/></ENTITY>" + a + s, true},
        {"a second, empty entity is passed over", e + "<ENTITY/>" + a + s, false},
        {"access with an unknown child", e + "<ACCESS><unknown/></ACCESS>" + s, true},
        {"empty access", e + "<ACCESS/>" + s, true},
        {"second statement lacks retention", e + a + s + "<STATEMENT><PURPOSE/></STATEMENT>",
         false},
        {"first statement lacks retention",
         e + a + "<STATEMENT><PURPOSE/><RECIPIENT/></STATEMENT>" + s, true},
        {"nothing after the first statement is checked", e + a + s + "<ENTITY/><ACCESS/>", false},
        {"non-identifiable statement",
         e + a + "<STATEMENT><NON-IDENTIFIABLE/><DATA-GROUP/></STATEMENT>", false},
        {"statement sections out of order",
         e + a + "<STATEMENT><PURPOSE/><RETENTION/><RECIPIENT/></STATEMENT>", true},
        {"statement sections with others between",
         e + a +
             "<STATEMENT><CONSEQUENCE/><PURPOSE/><DATA-GROUP/><RECIPIENT/><X/><RETENTION/>"
             "</STATEMENT>",
         false},
        {"out of order but non-identifiable",
         e + a + "<STATEMENT><RETENTION/><PURPOSE/><RECIPIENT/><NON-IDENTIFIABLE/></STATEMENT>",
         false},
    };
    for (const StructureCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isPolicyMalformed(*parse("<POLICY>" + c.children + "</POLICY>")), c.malformed);
    }
}

TEST(PolicyModelStructure, AcceptsEveryAccessValueInAnyCase) {
    for (const char* value :
         {"nonident", "all", "contact-and-other", "ident-contact", "other-ident", "none"}) {
        SCOPED_TRACE(value);
        const std::string policy = std::string("<policy><entity><data-group/></entity><access><") +
                                   value + "/></access><statement><non-identifiable/></statement>" +
                                   "</policy>";
        EXPECT_FALSE(isPolicyMalformed(*parse(policy)));
    }
}

TEST(PolicyModelStructure, RejectsElementsNotNamedPolicy) {
    const std::string body = std::string(kEntity) + kAccess + kStatement;
    EXPECT_TRUE(isPolicyMalformed(*parse("<POLICIES>" + body + "</POLICIES>")));
    EXPECT_TRUE(isPolicyMalformed(*parse("<p3p:POLICY xmlns:p3p='x'>" + body + "</p3p:POLICY>")));
}

TEST(PolicyModelExtension, FindsMandatoryExtensionOutsideOtherExtensions) {
    const struct {
        const char* document;
        bool mandatory;
    } cases[] = {
        {"<POLICY><EXTENSION optional='No'/></POLICY>", true},
        {"<POLICY><EXTENSION optional='NO'/></POLICY>", true},
        {"<POLICY><STATEMENT><DATA-GROUP><EXTENSION optional='no'/></DATA-GROUP></STATEMENT>"
         "</POLICY>",
         true},
        {"<POLICY><EXTENSION optional='yes'/><EXTENSION optional='no'/></POLICY>", true},
        {"<POLICY><EXTENSION optional='yes'/></POLICY>", false},
        {"<POLICY><EXTENSION/></POLICY>", false},
        {"<POLICY><EXTENSION optional='no '/></POLICY>", false},
        {"<POLICY><EXTENSION optional='yes'><EXTENSION optional='no'/></EXTENSION></POLICY>",
         false},
        {"<POLICY><EXTENSION><STATEMENT><EXTENSION optional='no'/></STATEMENT></EXTENSION>"
         "</POLICY>",
         false},
        {"<EXTENSION optional='no'><X/></EXTENSION>", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(hasMandatoryExtension(*parse(c.document)), c.mandatory);
    }
}

TEST(PolicyModelDefaults, FillsMissingAttributesOnly) {
    const XmlNodePtr policy = parse(
        "<POLICY><STATEMENT><PURPOSE><current/><contact required='opt-in'/>"
        "<telemarketing required='sometimes'/></PURPOSE><RECIPIENT><ours/><same/></RECIPIENT>"
        "<DATA-GROUP><DATA ref='#user.name'/><DATA optional='maybe'/></DATA-GROUP>"
        "<DATA-GROUP base=''/></STATEMENT><EXTENSION/><EXTENSION optional='no'/></POLICY>");
    applyDefaults(*policy);

    EXPECT_TRUE(policy->attributes.empty());
    const XmlNodePtr statement = policy->children()[0];
    const XmlNodePtr purpose = statement->children()[0];
    EXPECT_EQ(attributeOf(purpose->children()[0], "REQUIRED"), "always");
    EXPECT_EQ(attributeOf(purpose->children()[1], "REQUIRED"), "opt-in");
    EXPECT_EQ(attributeOf(purpose->children()[2], "REQUIRED"), "sometimes");
    EXPECT_TRUE(purpose->attributes.empty());

    const XmlNodePtr recipient = statement->children()[1];
    EXPECT_TRUE(recipient->children()[0]->attributes.empty());  // OURS has no default
    EXPECT_EQ(attributeOf(recipient->children()[1], "REQUIRED"), "always");

    const XmlNodePtr dataGroup = statement->children()[2];
    EXPECT_EQ(attributeOf(dataGroup, "BASE"), "http://www.w3.org/TR/P3P/base");
    EXPECT_EQ(dataGroup->children()[0]->attributes,
              (std::map<std::string, std::string>{{"OPTIONAL", "no"}, {"REF", "#user.name"}}));
    EXPECT_EQ(attributeOf(dataGroup->children()[1], "OPTIONAL"), "maybe");
    EXPECT_EQ(attributeOf(statement->children()[3], "BASE"), "");

    EXPECT_EQ(attributeOf(policy->children()[1], "OPTIONAL"), "yes");
    EXPECT_EQ(attributeOf(policy->children()[2], "OPTIONAL"), "no");
}

TEST(PolicyModelDefaults, GivesEveryPurposeAndRecipientValueButOursRequired) {
    for (const char* name :
         {"ADMIN", "CONTACT", "CURRENT", "CUSTOMIZATION", "DELIVERY", "DEVELOP", "HISTORICAL",
          "INDIVIDUAL-ANALYSIS", "INDIVIDUAL-DECISION", "OTHER-PURPOSE", "OTHER-RECIPIENT",
          "PSEUDO-ANALYSIS", "PSEUDO-DECISION", "PUBLIC", "SAME", "TAILORING", "TELEMARKETING",
          "UNRELATED"}) {
        XmlNode node;
        node.name = name;
        applyDefaults(node);
        EXPECT_EQ(node.attributes, (std::map<std::string, std::string>{{"REQUIRED", "always"}}))
            << name;
    }
    // Neighbours of table rows, names before the first and after the last, and a prefixed name.
    for (const char* name : {"AAA", "ADMINS", "DAT", "DATA-GROUPS", "OURS", "UNRELATEDX", "ZZZ",
                             "P3P:CURRENT", "current", ""}) {
        XmlNode node;
        node.name = name;
        applyDefaults(node);
        EXPECT_TRUE(node.attributes.empty()) << name;
    }
}

TEST(PolicyModelDefaults, WalksTheWholeSubtreeFromAnyNode) {
    const XmlNodePtr root = parse(
        "<DATA-GROUP><A><B><C><DATA><CATEGORIES><ADMIN/></CATEGORIES></DATA></C></B></A>"
        "<DATA/></DATA-GROUP>");
    applyDefaults(*root);
    EXPECT_EQ(attributeOf(root, "BASE"), "http://www.w3.org/TR/P3P/base");
    const XmlNodePtr deepData = root->children()[0]->children()[0]->children()[0]->children()[0];
    EXPECT_EQ(attributeOf(deepData, "OPTIONAL"), "no");
    EXPECT_EQ(attributeOf(deepData->children()[0]->children()[0], "REQUIRED"), "always");
    EXPECT_EQ(attributeOf(root->children()[1], "OPTIONAL"), "no");
}

}  // namespace
}  // namespace perchlight
