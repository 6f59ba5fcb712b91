#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browser/HtmlScanner.h"
#include "util/Url.h"

namespace perchlight {

// The facts a page check reads from its page: the embedded-content list, the page's own policy
// LINK, and whether the document had to be cut short.
struct CollectedPage {
    Url linkPolicyRef;
    std::vector<EmbeddedItem> embedded;
    bool truncated = false;
};

// A document as it arrived: its text and the URL it was finally read from, after redirects.
struct FetchedDocument {
    std::string html;
    Url url;
};

// Collects a page's embedded content the way the browser presents it: the items of the page,
// then for each frame its URL as "Frame/IFrame" followed by the frame document's own content,
// recursively. A frame is listed at its current location (where its redirects ended) and its
// content resolves against that. A frame URL already read (the page's own included) is listed but
// not read again. Frame documents are fetched through the given function; only http and https
// frames are fetched. Not thread-safe; one collector per page.
class PageCollector {
  public:
    using Fetch = std::function<std::optional<FetchedDocument>(const Url&)>;

    // Frames may nest this deep below the page, and at most this many frame documents are read:
    // a hostile page could otherwise frame itself without end.
    static constexpr int kMaxFrameDepth = 4;
    static constexpr int kMaxFrames = 32;
    // At most this many items are listed for one page; each may cost the check a download.
    static constexpr std::size_t kMaxItems = 2000;

    explicit PageCollector(Fetch fetch) : fetch_(std::move(fetch)) {}

    // The page's facts; pageUrl is where the page was finally read from.
    CollectedPage collect(const std::string& html, const Url& pageUrl);

  private:
    void collectDocument(const ScannedDocument& document, int depth, CollectedPage& page);
    void append(EmbeddedItem item, CollectedPage& page);

    Fetch fetch_;
    int framesRead_ = 0;
    std::set<std::string> fetchedFrames_;  // the page and every frame read: each is read once
};

}  // namespace perchlight
