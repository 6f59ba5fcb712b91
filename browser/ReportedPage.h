#pragma once

#include <vector>

#include "browser/EmbeddedContentTable.h"
#include "browser/PageCollector.h"
#include "util/Url.h"

namespace perchlight {

// One document of a page as a browser reported it: where it is now, its place among the frames
// (the frame indices from the top document; empty for the top) and its elements in order.
struct ReportedDocument {
    Url url;
    std::vector<int> framePath;
    std::vector<ElementFacts> elements;
};

// Turns what a browser reported of a page into the facts a page check reads, in the order the
// headless collector lists them: the top document's items, then each of its frames at the frame's
// current location followed by the frame document's own content, recursively. A frame that never
// reported is listed at the address its element names. Stateless.
class ReportedPage {
  public:
    static CollectedPage collect(const std::vector<ReportedDocument>& documents);
};

}  // namespace perchlight
