#include "browser/EmbeddedContentTable.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "util/Error.h"

namespace perchlight {
namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The URL text and content type an element contributes to the embedded-content list.
std::pair<std::string, std::string> embeddedReference(const ElementFacts& element) {
    if (element.tag == "IMG") {
        return {element.src, "Image"};
    }
    if (element.tag == "EMBED") {
        return {element.src, "Embed"};
    }
    if (element.tag == "APPLET") {
        return {element.codebase + element.code, "Applet"};
    }
    if (element.tag == "OBJECT") {
        return {element.code.empty() ? element.codebase : element.codebase + "/" + element.code,
                "Object"};
    }
    if (element.tag == "LINK" && upper(element.rel) == "STYLESHEET") {
        return {element.href, "StyleSheet"};
    }
    return {};
}

bool resolveInto(const Url& base, const std::string& reference, Url& resolved) {
    try {
        resolved = base.resolve(reference);
        return true;
    } catch (const Error&) {
        return false;
    }
}

void readElement(const ElementFacts& element, const Url& base, ScannedDocument& document) {
    Url resolved;
    const auto [reference, contentType] = embeddedReference(element);
    if (!reference.empty() && resolveInto(base, reference, resolved)) {
        document.items.push_back({contentType, resolved});
    }
    if (element.tag == "LINK" && document.linkPolicyRef.empty() && upper(element.rel) == "P3PV1" &&
        !element.href.empty() && resolveInto(base, element.href, resolved)) {
        document.linkPolicyRef = resolved;
    }
    if ((element.tag == "FRAME" || element.tag == "IFRAME") && !element.src.empty() &&
        resolveInto(base, element.src, resolved)) {
        document.frames.push_back(resolved);
    }
}

}  // namespace

Url EmbeddedContentTable::baseUrl(const std::vector<ElementFacts>& elements,
                                  const Url& documentUrl) {
    // As in a browser, only the first BASE with an href counts, wherever it stands, and one that
    // does not resolve leaves the document's own URL.
    const auto base = std::find_if(elements.begin(), elements.end(), [](const ElementFacts& e) {
        return e.tag == "BASE" && !e.href.empty();
    });
    Url resolved;
    if (base != elements.end() && resolveInto(documentUrl, base->href, resolved)) {
        return resolved;
    }
    return documentUrl;
}

ScannedDocument EmbeddedContentTable::read(const std::vector<ElementFacts>& elements,
                                           const Url& documentUrl) {
    ScannedDocument document;
    const Url base = baseUrl(elements, documentUrl);
    for (const ElementFacts& element : elements) {
        readElement(element, base, document);
    }
    return document;
}

}  // namespace perchlight
