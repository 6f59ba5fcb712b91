#include "core/DataReferenceResolver.h"

#include <exception>
#include <optional>
#include <utility>

#include "core/PolicyModel.h"
#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "P3PEvaluator";
constexpr const char* kLimitsExceeded = "Data reference resolution exceeds its limits:";

void raiseWrapped(const std::string& cause, const std::string& reference) {
    PERCHLIGHT_RAISE(cause + "Exception while processing data ref item :" + reference, kUnit);
}

}  // namespace

DataReferenceResolver::DataReferenceResolver(BaseDataSchema& baseSchema, DocumentSource* documents)
    : baseSchema_(baseSchema), documents_(documents) {}

XmlNodePtr DataReferenceResolver::resolve(const XmlNodePtr& document, const Url& policyUrl,
                                          const std::string& policyName) {
    base_ = baseSchema_.schema();
    if (!base_) {
        return document;
    }
    policyUrl_ = policyUrl.withoutFragment().str();
    schemas_[policyUrl_] = DataSchema::findInDocument(document);
    const XmlNodePtr policy = locatePolicy(document, policyName);
    if (!policy) {
        return nullptr;
    }
    for (const XmlNodePtr& statement : policy->children()) {
        if (statement->name != "STATEMENT") {
            continue;
        }
        for (const XmlNodePtr& group : statement->children()) {
            if (group->name == "DATA-GROUP") {
                resolveGroup(group);
            }
        }
    }
    return policy;
}

void DataReferenceResolver::resolveGroup(const XmlNodePtr& group) {
    const std::string* base = group->attribute("BASE");
    const bool inPolicyBase = base != nullptr && base->empty();
    collection_.clear();
    for (const XmlNodePtr& data : group->children()) {
        const std::string* ref = data->attribute("REF");
        if (data->name != "DATA" || ref == nullptr) {
            continue;
        }
        // Expansion rewrites REF: keep the reference as the policy wrote it.
        reference_ = *ref;
        try {
            resolveReference(*data, reference_, inPolicyBase, group);
        } catch (const Error& error) {
            raiseWrapped(error.message(), reference_);
        } catch (const std::exception& error) {
            raiseWrapped(error.what(), reference_);
        }
    }
    group->appendChildren(collection_);
    collection_.clear();
}

void DataReferenceResolver::resolveReference(XmlNode& data, const std::string& reference,
                                             bool inPolicyBase, const XmlNodePtr& group) {
    const std::size_t hash = reference.find('#');
    if (hash == 0 && !inPolicyBase) {
        resolveIn(base_.get(), reference.substr(1), "#", data, group,
                  "Data-def not found in the base data schema:" + reference);
        return;
    }
    const std::string notFound = "Data-def not found in the inpolicy data schema:" + reference;
    if (hash == 0) {
        resolveIn(schemas_[policyUrl_].get(), reference.substr(1), policyUrl_ + "#", data, group,
                  notFound);
        return;
    }
    const std::string url = reference.substr(0, hash);
    const std::string name = hash == std::string::npos ? "" : reference.substr(hash + 1);
    resolveIn(schemaAt(url), name, url + "#", data, group, notFound);
}

void DataReferenceResolver::resolveIn(const DataSchema* schema, const std::string& name,
                                      const std::string& prefix, XmlNode& data,
                                      const XmlNodePtr& group, const std::string& notFound) {
    if (const XmlNodePtr definition = schema ? schema->findDefinition(name) : nullptr) {
        copyCategories(data, *definition);
        return;
    }
    if (!schema || !expandReference(prefix, name, *schema, data, group)) {
        PERCHLIGHT_RAISE(notFound, kUnit);
    }
}

const DataSchema* DataReferenceResolver::schemaAt(const std::string& url) {
    if (const auto known = schemas_.find(url); known != schemas_.end()) {
        if (!known->second) {
            PERCHLIGHT_RAISE("Schema not found for policy :" + url, kUnit);
        }
        return known->second.get();
    }
    const std::optional<std::string> text =
        documents_ ? documents_->getDocument(url) : std::nullopt;
    if (!text) {
        PERCHLIGHT_RAISE("Can not download the the policy url :" + url, kUnit);
    }
    std::shared_ptr<const DataSchema> schema =
        DataSchema::findInDocument(XmlNode::parseXmlBuffer(*text));
    if (!schema) {
        PERCHLIGHT_RAISE("Schema not found in policy :" + url, kUnit);
    }
    return (schemas_[url] = std::move(schema)).get();
}

void DataReferenceResolver::copyCategories(XmlNode& data, const XmlNode& definition) {
    setShortDescription(data, definition);
    if (definition.hasChild("CATEGORIES")) {
        data.removeChildrenNamed("CATEGORIES");
    } else {
        data.attributes["VARIABLE_CATEGORY"] = "YES";
    }
    shareChildren(data, definition);
}

bool DataReferenceResolver::expandReference(const std::string& prefix, const std::string& name,
                                            const DataSchema& schema, XmlNode& data,
                                            const XmlNodePtr& group) {
    if (prefix.empty() || name.empty()) {
        return false;
    }
    const std::vector<XmlNodePtr> found = schema.subDefinitions(name, budget_);
    if (budget_.exhausted()) {
        PERCHLIGHT_RAISE(kLimitsExceeded + reference_, kUnit);
    }
    if (found.empty()) {
        return false;
    }
    const XmlNode& first = *found.front();
    if (first.hasChild("CATEGORIES")) {
        data.removeChildrenNamed("CATEGORIES");
        setReference(data, prefix + *first.attribute("NAME"));
        setShortDescription(data, first);
    }
    shareChildren(data, first);
    for (std::size_t i = 1; i < found.size(); ++i) {
        if (++addedDataElements_ > kMaxAddedDataElements) {
            PERCHLIGHT_RAISE(kLimitsExceeded + reference_, kUnit);
        }
        const XmlNodePtr added = XmlNode::create(group);
        added->name = "DATA";
        setReference(*added, prefix + *found[i]->attribute("NAME"));
        setShortDescription(*added, *found[i]);
        shareChildren(*added, *found[i]);
        collection_.push_back(added);
    }
    return true;
}

void DataReferenceResolver::shareChildren(XmlNode& data, const XmlNode& definition) {
    sharedChildren_ += definition.children().size();
    if (sharedChildren_ > kMaxSharedChildren) {
        PERCHLIGHT_RAISE(kLimitsExceeded + reference_, kUnit);
    }
    data.appendChildrenOf(definition);
}

void DataReferenceResolver::setShortDescription(XmlNode& data, const XmlNode& definition) {
    if (const std::string* description = definition.attribute("SHORT-DESCRIPTION")) {
        chargeCopy(description->size());
        data.attributes["SHORT-DESCRIPTION"] = *description;
    }
}

void DataReferenceResolver::setReference(XmlNode& data, std::string reference) {
    chargeCopy(reference.size());
    data.attributes["REF"] = std::move(reference);
}

void DataReferenceResolver::chargeCopy(std::size_t bytes) {
    copiedBytes_ += bytes;
    if (copiedBytes_ > kMaxCopiedBytes) {
        PERCHLIGHT_RAISE(kLimitsExceeded + reference_, kUnit);
    }
}

}  // namespace perchlight
