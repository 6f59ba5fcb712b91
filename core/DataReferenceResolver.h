#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/BaseDataSchema.h"
#include "core/DataSchema.h"
#include "core/DocumentSource.h"
#include "core/XmlNode.h"
#include "util/Url.h"

namespace perchlight {

// Gives every DATA element of a policy's statements the description and categories of its data
// schema: the base schema, the schema inside the policy document, or a schema in another document
// fetched through the document source. One resolver serves one resolution on one thread; the
// schemas of other documents live as long as it does.
class DataReferenceResolver {
  public:
    // A policy could make expansion copy schema content into many DATA elements: a resolution
    // that would add more DATA elements, or share more schema children into the policy, fails.
    static constexpr std::size_t kMaxAddedDataElements = 10'000;
    static constexpr std::size_t kMaxSharedChildren = 1'000'000;
    // Bytes of descriptions and references written into the policy's DATA elements.
    static constexpr std::size_t kMaxCopiedBytes = 16 * 1024 * 1024;

    // documents may be null: then no other document can be fetched.
    DataReferenceResolver(BaseDataSchema& baseSchema, DocumentSource* documents);

    // Locates the policy by name and resolves the DATA references of its statements. Without a
    // base schema the document's root comes back unchanged; none when there is no such policy.
    // A reference that cannot be resolved raises its message followed by "Exception while
    // processing data ref item :" and the reference (unit P3PEvaluator).
    XmlNodePtr resolve(const XmlNodePtr& document, const Url& policyUrl,
                       const std::string& policyName);

  private:
    void resolveGroup(const XmlNodePtr& group);
    void resolveReference(XmlNode& data, const std::string& reference, bool inPolicyBase,
                          const XmlNodePtr& group);
    // Copies or expands the definition of name from the schema; raises notFound when neither
    // finds anything.
    void resolveIn(const DataSchema* schema, const std::string& name, const std::string& prefix,
                   XmlNode& data, const XmlNodePtr& group, const std::string& notFound);
    // The schema of another document, fetched once per resolution.
    const DataSchema* schemaAt(const std::string& url);
    void copyCategories(XmlNode& data, const XmlNode& definition);
    bool expandReference(const std::string& prefix, const std::string& name,
                         const DataSchema& schema, XmlNode& data, const XmlNodePtr& group);
    void shareChildren(XmlNode& data, const XmlNode& definition);
    void setShortDescription(XmlNode& data, const XmlNode& definition);
    void setReference(XmlNode& data, std::string reference);
    // Counts bytes about to be written into the policy against kMaxCopiedBytes.
    void chargeCopy(std::size_t bytes);

    BaseDataSchema& baseSchema_;
    DocumentSource* documents_;
    std::shared_ptr<const DataSchema> base_;
    std::string policyUrl_;
    std::map<std::string, std::shared_ptr<const DataSchema>> schemas_;
    std::vector<XmlNodePtr> collection_;
    std::string reference_;  // the reference being resolved, as the policy wrote it
    std::size_t addedDataElements_ = 0;
    std::size_t sharedChildren_ = 0;
    std::size_t copiedBytes_ = 0;
    DataSchema::MatchBudget budget_;
};

}  // namespace perchlight
