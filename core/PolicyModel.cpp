#include "core/PolicyModel.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace perchlight {
namespace {

struct DefaultAttribute {
    std::string_view element;
    std::string_view attribute;
    std::string_view value;
};

// Sorted by element name in byte order: looked up by binary search.
constexpr std::array<DefaultAttribute, 21> kDefaults = {{
    {"ADMIN", "REQUIRED", "always"},
    {"CONTACT", "REQUIRED", "always"},
    {"CURRENT", "REQUIRED", "always"},
    {"CUSTOMIZATION", "REQUIRED", "always"},
    {"DATA", "OPTIONAL", "no"},
    {"DATA-GROUP", "BASE", "http://www.w3.org/TR/P3P/base"},
    {"DELIVERY", "REQUIRED", "always"},
    {"DEVELOP", "REQUIRED", "always"},
    {"EXTENSION", "OPTIONAL", "yes"},
    {"HISTORICAL", "REQUIRED", "always"},
    {"INDIVIDUAL-ANALYSIS", "REQUIRED", "always"},
    {"INDIVIDUAL-DECISION", "REQUIRED", "always"},
    {"OTHER-PURPOSE", "REQUIRED", "always"},
    {"OTHER-RECIPIENT", "REQUIRED", "always"},
    {"PSEUDO-ANALYSIS", "REQUIRED", "always"},
    {"PSEUDO-DECISION", "REQUIRED", "always"},
    {"PUBLIC", "REQUIRED", "always"},
    {"SAME", "REQUIRED", "always"},
    {"TAILORING", "REQUIRED", "always"},
    {"TELEMARKETING", "REQUIRED", "always"},
    {"UNRELATED", "REQUIRED", "always"},
}};

static_assert(std::is_sorted(kDefaults.begin(), kDefaults.end(),
                             [](const auto& a, const auto& b) { return a.element < b.element; }));

const DefaultAttribute* defaultFor(std::string_view element) {
    const auto found = std::lower_bound(
        kDefaults.begin(), kDefaults.end(), element,
        [](const DefaultAttribute& row, std::string_view name) { return row.element < name; });
    return found != kDefaults.end() && found->element == element ? &*found : nullptr;
}

XmlNodePtr firstPolicyIn(const XmlNode& policies, const std::string& name) {
    for (const XmlNodePtr& child : policies.children()) {
        if (child->name != "POLICY") {
            continue;
        }
        const std::string* policyName = child->attribute("NAME");
        if (name.empty() || (policyName && *policyName == name)) {
            return child;
        }
    }
    return nullptr;
}

bool hasAnyChild(const XmlNode& node, std::initializer_list<std::string_view> names) {
    return std::any_of(node.children().begin(), node.children().end(), [&](const XmlNodePtr& c) {
        return std::find(names.begin(), names.end(), c->name) != names.end();
    });
}

bool statementPasses(const XmlNode& statement) {
    static constexpr std::array<std::string_view, 3> kOrder = {"PURPOSE", "RECIPIENT", "RETENTION"};
    std::size_t next = 0;
    for (const XmlNodePtr& child : statement.children()) {
        if (next < kOrder.size() && child->name == kOrder[next]) {
            ++next;
        }
    }
    return next == kOrder.size() || statement.hasChild("NON-IDENTIFIABLE");
}

bool sectionPasses(const XmlNode& section) {
    if (section.name == "ENTITY") {
        return section.hasChild("DATA-GROUP");
    }
    if (section.name == "ACCESS") {
        return hasAnyChild(section, {"NONIDENT", "ALL", "CONTACT-AND-OTHER", "IDENT-CONTACT",
                                     "OTHER-IDENT", "NONE"});
    }
    return statementPasses(section);
}

}  // namespace

XmlNodePtr locatePolicy(const XmlNodePtr& root, const std::string& name) {
    if (!root) {
        return nullptr;
    }
    if (root->name == "POLICY") {
        const std::string* policyName = root->attribute("NAME");
        return name.empty() || (policyName && *policyName == name) ? root : nullptr;
    }
    XmlNodePtr policies = root;
    if (root->name == "META") {
        policies = root->findChild("POLICIES");
    }
    if (!policies || policies->name != "POLICIES") {
        return nullptr;
    }
    return firstPolicyIn(*policies, name);
}

bool isPolicyMalformed(const XmlNode& policy) {
    if (policy.name != "POLICY") {
        return true;
    }
    static constexpr std::array<std::string_view, 3> kSections = {"ENTITY", "ACCESS", "STATEMENT"};
    std::size_t found = 0;
    for (const XmlNodePtr& child : policy.children()) {
        if (found == kSections.size()) {
            break;
        }
        if (child->name != kSections[found]) {
            continue;
        }
        if (!sectionPasses(*child)) {
            return true;
        }
        ++found;
    }
    return found != kSections.size();
}

bool hasMandatoryExtension(const XmlNode& node) {
    if (node.name == "EXTENSION") {
        const std::string* optional = node.attribute("OPTIONAL");
        return optional && upperCaseAscii(*optional) == "NO";
    }
    return std::any_of(node.children().begin(), node.children().end(),
                       [](const XmlNodePtr& child) { return hasMandatoryExtension(*child); });
}

void applyDefaults(XmlNode& node) {
    if (const DefaultAttribute* row = defaultFor(node.name)) {
        node.attributes.try_emplace(std::string(row->attribute), row->value);
    }
    for (const XmlNodePtr& child : node.children()) {
        applyDefaults(*child);
    }
}

}  // namespace perchlight
