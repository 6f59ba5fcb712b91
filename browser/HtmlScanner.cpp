#include "browser/HtmlScanner.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

namespace perchlight {
namespace {

struct GumboDeleter {
    void operator()(GumboOutput* output) const {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
};
using GumboTree = std::unique_ptr<GumboOutput, GumboDeleter>;

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string attribute(const GumboElement& element, const char* name) {
    const GumboAttribute* found = gumbo_get_attribute(&element.attributes, name);
    return found == nullptr ? std::string() : std::string(found->value);
}

// The facts the agent reads of an element, as a browser's element properties give them.
ElementFacts factsOf(const GumboElement& element) {
    const char* name = gumbo_normalized_tagname(element.tag);
    std::string tag(name);
    std::transform(tag.begin(), tag.end(), tag.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return {std::move(tag),
            attribute(element, "src"),
            attribute(element, "codebase"),
            attribute(element, "code"),
            attribute(element, "rel"),
            attribute(element, "href")};
}

// Walks the tree in document order without recursion.
void walk(const GumboNode* root, std::vector<ElementFacts>& elements) {
    std::vector<const GumboNode*> pending{root};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
            continue;
        }
        const GumboElement& element = node->v.element;
        elements.push_back(factsOf(element));
        for (unsigned int i = element.children.length; i > 0; --i) {
            pending.push_back(static_cast<const GumboNode*>(element.children.data[i - 1]));
        }
    }
}

// Elements that hold no content, or whose end the parser supplies on its own as soon as a
// sibling starts; neither deepens the tree when left unclosed.
constexpr std::array kShallowElements = {
    "area",     "base",     "br",     "col",   "embed",   "hr",    "img",   "input", "link",
    "meta",     "param",    "source", "track", "wbr",     "p",     "li",    "dt",    "dd",
    "option",   "optgroup", "tr",     "td",    "th",      "tbody", "thead", "tfoot", "colgroup",
    "rb",       "rt",       "rp",     "rtc",   "html",    "head",  "body",  "a",     "frame",
    "basefont", "bgsound",  "keygen", "image", "!doctype"};

// Elements whose content is raw text up to their own end tag.
constexpr std::array kRawTextElements = {"script",  "style",    "textarea",  "title", "xmp",
                                         "noembed", "noframes", "plaintext", "iframe"};

bool isOneOf(const std::string& name, const auto& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Position of the first occurrence of needle (lower case) at or after from, in any case.
std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from) {
    const auto found = std::search(
        text.begin() + from, text.end(), needle.begin(), needle.end(),
        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return found == text.end() ? std::string_view::npos : found - text.begin();
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
           c == '!';
}

}  // namespace

std::size_t HtmlScanner::readablePrefix(std::string_view html) {
    int depth = 0;
    std::size_t position = 0;
    while ((position = html.find('<', position)) != std::string_view::npos) {
        const std::size_t tagStart = position;
        if (html.substr(position, 4) == "<!--") {
            const std::size_t end = html.find("-->", position + 4);
            position = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const bool closing = position + 1 < html.size() && html[position + 1] == '/';
        std::size_t nameEnd = position + (closing ? 2 : 1);
        while (nameEnd < html.size() && isNameChar(html[nameEnd])) {
            ++nameEnd;
        }
        const std::string name = lower(
            html.substr(position + (closing ? 2 : 1), nameEnd - position - (closing ? 2 : 1)));
        const std::size_t tagEnd = html.find('>', nameEnd);
        position = tagEnd == std::string_view::npos ? html.size() : tagEnd + 1;
        if (name.empty() || isOneOf(name, kShallowElements)) {
            continue;
        }
        if (closing) {
            depth = std::max(0, depth - 1);
            continue;
        }
        if (isOneOf(name, kRawTextElements)) {
            const std::size_t end = findIgnoringCase(html, "</" + name, position);
            const std::size_t endTagEnd = end == std::string_view::npos ? end : html.find('>', end);
            position = endTagEnd == std::string_view::npos ? html.size() : endTagEnd + 1;
            continue;
        }
        const bool selfClosing = tagEnd != std::string_view::npos && html[tagEnd - 1] == '/';
        if (!selfClosing && ++depth > kMaxNestingDepth) {
            return tagStart;
        }
    }
    return html.size();
}

ScannedDocument HtmlScanner::scan(std::string_view html, const Url& documentUrl) {
    const std::size_t readable = readablePrefix(html);
    GumboTree tree(gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), readable));
    std::vector<ElementFacts> elements;
    if (tree) {
        walk(tree->root, elements);
    }
    ScannedDocument document = EmbeddedContentTable::read(elements, documentUrl);
    document.truncated = readable < html.size();
    return document;
}

}  // namespace perchlight
