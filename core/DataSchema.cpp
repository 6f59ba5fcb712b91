#include "core/DataSchema.h"

#include <map>
#include <utility>

#include "core/WildcardMatch.h"

namespace perchlight {
namespace {

bool hasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

// The nodes of a tree, and the bytes of their names, texts and attributes.
struct TreeSize {
    std::size_t nodes = 0;
    std::size_t bytes = 0;
};

void addTreeSize(const XmlNode& node, TreeSize& size) {
    ++size.nodes;
    size.bytes += node.name.size() + node.text.size();
    for (const auto& [key, value] : node.attributes) {
        size.bytes += key.size() + value.size();
    }
    for (const XmlNodePtr& child : node.children()) {
        addTreeSize(*child, size);
    }
}

std::size_t commonPrefixLength(std::string_view a, std::string_view b) {
    std::size_t length = 0;
    while (length < a.size() && length < b.size() && a[length] == b[length]) {
        ++length;
    }
    return length;
}

// One preparation: what it has made so far, and how to undo it.
class Preparation {
  public:
    explicit Preparation(XmlNode& schema) : schema_(schema), original_(schema.children()) {}

    bool run() {
        for (int pass = 1;; ++pass) {
            std::vector<XmlNodePtr> made;
            if (!expandPass(pass, made)) {
                return false;
            }
            if (made.empty()) {
                break;
            }
            if (pass == DataSchema::kMaxPasses) {
                return false;
            }
            schema_.appendChildren(made);
        }
        schema_.removeChildrenNamed("DATA-STRUCT");
        return true;
    }

    // Puts back the children and structure references the schema had before; only the first pass
    // takes references from definitions of the schema itself.
    void undo() {
        schema_.clearChildren();
        schema_.appendChildren(original_);
        for (auto& [definition, structRef] : removedStructRefs_) {
            definition->attributes["STRUCTREF"] = structRef;
        }
    }

  private:
    bool expandPass(int pass, std::vector<XmlNodePtr>& made) {
        std::map<std::string, XmlNodePtr> structures;
        std::vector<XmlNodePtr> definitions;
        for (const XmlNodePtr& child : schema_.children()) {
            if (child->name == "DATA-STRUCT") {
                if (const std::string* name = child->attribute("NAME")) {
                    structures[*name] = child;
                }
            } else if (child->name == "DATA-DEF") {
                definitions.push_back(child);
            }
        }
        definitionCount_ = definitions.size();
        for (const XmlNodePtr& definition : definitions) {
            const auto structRef = definition->attributes.find("STRUCTREF");
            const std::string* name = definition->attribute("NAME");
            if (structRef == definition->attributes.end() || name == nullptr) {
                continue;
            }
            const std::string reference = structRef->second;
            if (pass == 1) {
                removedStructRefs_.emplace_back(definition, reference);
            }
            definition->attributes.erase(structRef);
            const std::size_t hash = reference.find('#');
            if (hash != std::string::npos &&
                !expandDefinition(*name, reference.substr(hash + 1), structures, made)) {
                return false;
            }
        }
        return true;
    }

    // Adds one definition per field of the structure, named after the definition.
    bool expandDefinition(const std::string& name, const std::string& structure,
                          const std::map<std::string, XmlNodePtr>& structures,
                          std::vector<XmlNodePtr>& made) {
        const std::string prefix = structure + ".";
        if (!hasWildcard(structure)) {
            for (auto entry = structures.lower_bound(prefix);
                 entry != structures.end() && entry->first.starts_with(prefix); ++entry) {
                if (!addField(name, structure, *entry, made)) {
                    return false;
                }
            }
            return true;
        }
        const std::string pattern = structure + ".*";
        for (const auto& entry : structures) {
            if (budget_.match(pattern, entry.first) && !addField(name, structure, entry, made)) {
                return false;
            }
        }
        return !budget_.exhausted();
    }

    bool addField(const std::string& name, const std::string& structure,
                  const std::pair<const std::string, XmlNodePtr>& entry,
                  std::vector<XmlNodePtr>& made) {
        std::string fieldName =
            name + entry.first.substr(commonPrefixLength(entry.first, structure));
        addTreeSize(*entry.second, cloned_);
        cloned_.bytes += fieldName.size();
        if (definitionCount_ + made.size() >= DataSchema::kMaxDefinitions ||
            cloned_.nodes > DataSchema::kMaxClonedNodes ||
            cloned_.bytes > DataSchema::kMaxClonedBytes) {
            return false;
        }
        XmlNodePtr field = entry.second->cloneTree(nullptr);
        field->name = "DATA-DEF";
        field->attributes["NAME"] = std::move(fieldName);
        made.push_back(std::move(field));
        return true;
    }

    XmlNode& schema_;
    const std::vector<XmlNodePtr> original_;
    std::vector<std::pair<XmlNodePtr, std::string>> removedStructRefs_;
    std::size_t definitionCount_ = 0;
    TreeSize cloned_;
    DataSchema::MatchBudget budget_;
};

}  // namespace

bool DataSchema::MatchBudget::match(std::string_view pattern, std::string_view text) {
    const std::uint64_t cost = (static_cast<std::uint64_t>(pattern.size()) + 1) *
                               (static_cast<std::uint64_t>(text.size()) + 1);
    if (exhausted_ || cost > kMaxMatchWork - spent_) {
        exhausted_ = true;
        return false;
    }
    spent_ += cost;
    return wildcardMatch(pattern, text);
}

std::shared_ptr<const DataSchema> DataSchema::prepare(const XmlNodePtr& element) {
    if (!element) {
        return nullptr;
    }
    if (element->name == "DATASCHEMA") {
        Preparation preparation(*element);
        if (!preparation.run()) {
            preparation.undo();
            return nullptr;
        }
    }
    return std::shared_ptr<const DataSchema>(new DataSchema(element));
}

std::shared_ptr<const DataSchema> DataSchema::findInDocument(const XmlNodePtr& root) {
    if (!root) {
        return nullptr;
    }
    if (root->name == "DATASCHEMA") {
        return prepare(root);
    }
    if (root->name != "POLICY" && root->name != "POLICIES") {
        return nullptr;
    }
    for (const XmlNodePtr& child : root->children()) {
        if (child->name == "DATASCHEMA") {
            return prepare(child);
        }
        if (child->name == "POLICY") {
            if (XmlNodePtr schema = child->findChild("DATASCHEMA")) {
                return prepare(schema);
            }
        }
    }
    return nullptr;
}

DataSchema::DataSchema(XmlNodePtr element) : element_(std::move(element)) {
    for (const XmlNodePtr& child : element_->children()) {
        const std::string* name = child->attribute("NAME");
        if (child->name != "DATA-DEF" || name == nullptr) {
            continue;
        }
        definitions_.push_back(child);
        byName_.emplace(*name, child);
        const std::size_t lastDot = name->rfind('.');
        if (lastDot != std::string::npos) {
            byParentName_[name->substr(0, lastDot)].push_back(child);
        }
    }
}

XmlNodePtr DataSchema::findDefinition(const std::string& name) const {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

std::vector<XmlNodePtr> DataSchema::subDefinitions(const std::string& name,
                                                   MatchBudget& budget) const {
    if (!hasWildcard(name)) {
        const auto found = byParentName_.find(name);
        return found == byParentName_.end() ? std::vector<XmlNodePtr>{} : found->second;
    }
    const std::string oneLevel = name + ".*";
    const std::string twoLevels = name + ".*.*";
    std::vector<XmlNodePtr> found;
    for (const XmlNodePtr& definition : definitions_) {
        const std::string& candidate = *definition->attribute("NAME");
        if (budget.match(oneLevel, candidate) && !budget.match(twoLevels, candidate)) {
            found.push_back(definition);
        }
    }
    return budget.exhausted() ? std::vector<XmlNodePtr>{} : found;
}

}  // namespace perchlight
