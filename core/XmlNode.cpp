#include "core/XmlNode.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "XmlNode";

struct ExpatDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ExpatParser = std::unique_ptr<XML_ParserStruct, ExpatDeleter>;

// What the handlers build: the root and the element being filled.
struct ParseState {
    XML_Parser parser = nullptr;
    XmlNodePtr root;
    XmlNodePtr current;
    int depth = 0;
};

void XMLCALL startElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(userData);
    if (++state.depth > XmlNode::kMaxDepth) {
        XML_StopParser(state.parser, XML_FALSE);
        return;
    }
    XmlNodePtr node = XmlNode::create(state.current);
    if (state.current) {
        state.current->addChild(node);
    } else {
        state.root = node;
    }
    node->name = upperCaseAscii(name);
    for (const XML_Char** pair = attributes; pair[0] != nullptr; pair += 2) {
        node->attributes[upperCaseAscii(pair[0])] = pair[1];
    }
    state.current = std::move(node);
}

void XMLCALL endElement(void* userData, const XML_Char*) {
    auto& state = *static_cast<ParseState*>(userData);
    --state.depth;
    if (state.current) {
        state.current = state.current->parent();
    }
}

void XMLCALL characterData(void* userData, const XML_Char* data, int length) {
    auto& state = *static_cast<ParseState*>(userData);
    if (state.current && length > 0) {
        const void* zero = std::memchr(data, '\0', static_cast<std::size_t>(length));
        const auto count = zero ? static_cast<const char*>(zero) - data : length;
        state.current->text.append(data, static_cast<std::size_t>(count));
    }
}

}  // namespace

std::string upperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

XmlNodePtr XmlNode::create(const XmlNodePtr& parent) {
    auto node = std::make_shared<XmlNode>();
    node->parent_ = parent;
    return node;
}

XmlNodePtr XmlNode::parseXmlBuffer(const std::string& bytes) {
    return parseXmlBuffer(bytes.data(), bytes.size());
}

XmlNodePtr XmlNode::parseXmlBuffer(const char* bytes, std::size_t length) {
    // expat takes an int length; anything larger is no document of ours.
    if (length > static_cast<std::size_t>(INT32_MAX)) {
        PERCHLIGHT_RAISE("XML parse error", kUnit);
    }
    ExpatParser parser(XML_ParserCreate(nullptr));
    if (!parser) {
        PERCHLIGHT_RAISE("XML parse error", kUnit);
    }
    ParseState state;
    state.parser = parser.get();
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), startElement, endElement);
    XML_SetCharacterDataHandler(parser.get(), characterData);
    if (XML_Parse(parser.get(), bytes, static_cast<int>(length), XML_TRUE) != XML_STATUS_OK) {
        PERCHLIGHT_RAISE("XML parse error", kUnit);
    }
    return state.root;
}

XmlNodePtr XmlNode::parseXmlFile(const std::string& path, std::size_t maxBytes) {
    const std::optional<std::string> bytes = FileReader::read(path, maxBytes);
    return bytes ? parseXmlBuffer(*bytes) : nullptr;
}

XmlNodePtr XmlNode::parseXmlFileOrNothing(const std::string& path, std::size_t maxBytes) {
    try {
        return parseXmlFile(path, maxBytes);
    } catch (const Error&) {
        return nullptr;
    }
}

std::size_t XmlNode::removeChildrenNamed(const std::string& childName) {
    return std::erase_if(children_,
                         [&](const XmlNodePtr& child) { return child->name == childName; });
}

void XmlNode::appendChildren(const std::vector<XmlNodePtr>& nodes) {
    children_.insert(children_.end(), nodes.begin(), nodes.end());
}

void XmlNode::appendChildrenOf(const XmlNode& other) {
    // Copy first: other may be this node.
    const std::vector<XmlNodePtr> nodes = other.children_;
    appendChildren(nodes);
}

XmlNodePtr XmlNode::cloneTree(const XmlNodePtr& parent) const {
    XmlNodePtr copy = create(parent);
    copy->name = name;
    copy->text = text;
    copy->attributes = attributes;
    copy->children_.reserve(children_.size());
    for (const XmlNodePtr& child : children_) {
        copy->children_.push_back(child->cloneTree(copy));
    }
    return copy;
}

XmlNodePtr XmlNode::findChild(const std::string& childName) const {
    for (const XmlNodePtr& child : children_) {
        if (child->name == childName) {
            return child;
        }
    }
    return nullptr;
}

const std::string* XmlNode::attribute(const std::string& key) const {
    const auto found = attributes.find(key);
    return found == attributes.end() ? nullptr : &found->second;
}

}  // namespace perchlight
