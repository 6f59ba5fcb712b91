#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace perchlight {

class XmlNode;
using XmlNodePtr = std::shared_ptr<XmlNode>;

// One element of a parsed XML document. Element and attribute names are upper-cased at parse
// time; everything else is kept as expat delivers it. Children are shared, so one node may stand
// in several children lists; the parent link is weak and never keeps a parent alive.
// A tree is used by one thread at a time.
class XmlNode {
  public:
    // Documents nested deeper than this are rejected at parse time: every walk over a tree is
    // recursive, and the bound keeps those walks far from the end of the stack.
    static constexpr int kMaxDepth = 256;
    // Files larger than this are not read (no tree, as for a missing file); policies and rule
    // sets are kilobytes, downloads are capped well below it.
    static constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

    // A new node with the given (possibly empty) parent and nothing else.
    static XmlNodePtr create(const XmlNodePtr& parent = nullptr);

    // Parses a complete document; raises "XML parse error" (unit XmlNode) when expat rejects it
    // or it is nested deeper than kMaxDepth.
    static XmlNodePtr parseXmlBuffer(const char* bytes, std::size_t length);
    static XmlNodePtr parseXmlBuffer(const std::string& bytes);
    // Reads and parses a whole file; a missing or unreadable file yields no tree and no error.
    static XmlNodePtr parseXmlFile(const std::string& path, std::size_t maxBytes = kMaxFileSize);
    // As parseXmlFile, but a file that is not well-formed also yields no tree: for files whose
    // damage the reader treats like their absence.
    static XmlNodePtr parseXmlFileOrNothing(const std::string& path,
                                            std::size_t maxBytes = kMaxFileSize);

    XmlNodePtr parent() const { return parent_.lock(); }

    const std::vector<XmlNodePtr>& children() const { return children_; }
    // Appends a child; its parent link stays as it was created.
    void addChild(const XmlNodePtr& child) { children_.push_back(child); }
    // Removes every child with exactly this name; returns how many were removed.
    std::size_t removeChildrenNamed(const std::string& name);
    void clearChildren() { children_.clear(); }
    // Appends the given nodes, shared, not copied.
    void appendChildren(const std::vector<XmlNodePtr>& nodes);
    void appendChildrenOf(const XmlNode& other);
    // Deep copy whose root has the given parent.
    XmlNodePtr cloneTree(const XmlNodePtr& parent) const;

    // The first child with exactly this name, or none.
    XmlNodePtr findChild(const std::string& name) const;
    bool hasChild(const std::string& name) const { return findChild(name) != nullptr; }
    // The attribute's value, or nullptr when the node lacks it.
    const std::string* attribute(const std::string& key) const;

    std::string name;
    std::string text;
    std::map<std::string, std::string> attributes;

  private:
    std::weak_ptr<XmlNode> parent_;
    std::vector<XmlNodePtr> children_;
};

// Upper-cases the ASCII letters a to z and leaves every other byte alone.
std::string upperCaseAscii(std::string text);

}  // namespace perchlight
