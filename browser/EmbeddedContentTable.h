#pragma once

#include <string>
#include <vector>

#include "retrieval/CheckOwner.h"
#include "util/Url.h"

namespace perchlight {

// One element of a document as a browser's element properties present it to the agent: the tag
// name upper-cased ("IMG", "LINK", "BASE", ...) and the attributes the agent reads, as written.
struct ElementFacts {
    std::string tag;
    std::string src;
    std::string codebase;
    std::string code;
    std::string rel;
    std::string href;
};

// What a page check needs to know of one document.
struct ScannedDocument {
    Url linkPolicyRef;                // href of the first LINK whose rel is "P3PV1"; may be empty
    std::vector<EmbeddedItem> items;  // images, embeds, applets, objects, style sheets, in order
    std::vector<Url> frames;          // src of each FRAME and IFRAME, in order
    bool truncated = false;           // the document nested too deep; only a prefix was read
};

// The rules that turn a document's elements into its embedded content, its frames and its P3P
// LINK: IMG and EMBED by src, APPLET by codebase followed by code, OBJECT by codebase "/" code,
// LINK rel STYLESHEET (exactly, in any case) by href. Every URL resolves against the document's
// base: the href of its first BASE element that has one, else the document's own URL. The one
// implementation of these rules, for pages read headless and for pages a browser reports alike.
// Stateless.
class EmbeddedContentTable {
  public:
    static ScannedDocument read(const std::vector<ElementFacts>& elements, const Url& documentUrl);

    // The URL against which the document's references resolve.
    static Url baseUrl(const std::vector<ElementFacts>& elements, const Url& documentUrl);
};

}  // namespace perchlight
