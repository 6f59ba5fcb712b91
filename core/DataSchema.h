#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/XmlNode.h"

namespace perchlight {

// A prepared P3P data schema: a DATASCHEMA element whose DATA-DEF children cover every data
// element, each field of each structure a definition refers to included, with no DATA-STRUCT
// left. Immutable once made, so one schema may be read by several threads; the children of its
// definitions are shared into the policy trees that use them.
class DataSchema {
  public:
    // Structures that refer to each other in a cycle would make definitions without end, and
    // structures used many times over multiply (long names and descriptions with them):
    // preparation gives up beyond these bounds and the schema counts as one that cannot be
    // prepared. The base schema needs 4 passes and ends with about 300 definitions and 900 nodes.
    static constexpr int kMaxPasses = 64;
    static constexpr std::size_t kMaxDefinitions = 100'000;
    static constexpr std::size_t kMaxClonedNodes = 1'000'000;
    // Bytes of names, texts and attributes copied from structures, names made included.
    static constexpr std::size_t kMaxClonedBytes = 16 * 1024 * 1024;
    // Site-chosen names may hold "*" and "?"; the matching they cost (pattern bytes times text
    // bytes) within one preparation or one resolution is bounded by this.
    static constexpr std::uint64_t kMaxMatchWork = 100'000'000;

    // Charges wildcard matching against kMaxMatchWork. One thread at a time.
    class MatchBudget {
      public:
        // Matches as wildcardMatch does; false from the moment the allowance is spent.
        bool match(std::string_view pattern, std::string_view text);
        bool exhausted() const { return exhausted_; }

      private:
        std::uint64_t spent_ = 0;
        bool exhausted_ = false;
    };

    // Prepares the element in place (structure references expanded into definitions, DATA-STRUCT
    // removed) and indexes its definitions. None when a bound is passed; the element then keeps
    // the children it had. An element not named DATASCHEMA is not changed, only indexed.
    static std::shared_ptr<const DataSchema> prepare(const XmlNodePtr& element);

    // The prepared schema of a document: a DATASCHEMA root, or the first DATASCHEMA child of a
    // POLICY or POLICIES root or of a POLICY child of it. None when there is none or it cannot be
    // prepared.
    static std::shared_ptr<const DataSchema> findInDocument(const XmlNodePtr& root);

    const XmlNodePtr& element() const { return element_; }

    // The first DATA-DEF whose NAME equals the name (exact, case-sensitive), or none.
    XmlNodePtr findDefinition(const std::string& name) const;

    // The DATA-DEFs exactly one dotted level below the name, in document order: those whose NAME
    // matches the name followed by ".*" but not the name followed by ".*.*". A name with
    // wildcards is matched against every definition, charged to the budget.
    std::vector<XmlNodePtr> subDefinitions(const std::string& name, MatchBudget& budget) const;

  private:
    explicit DataSchema(XmlNodePtr element);

    XmlNodePtr element_;
    std::vector<XmlNodePtr> definitions_;
    std::unordered_map<std::string, XmlNodePtr> byName_;
    // Definitions by the part of their NAME before its last ".".
    std::unordered_map<std::string, std::vector<XmlNodePtr>> byParentName_;
};

}  // namespace perchlight
