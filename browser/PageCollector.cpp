#include "browser/PageCollector.h"

namespace perchlight {
namespace {

bool isWebUrl(const Url& url) {
    const std::string protocol = url.protocol();
    return protocol == "http" || protocol == "https";
}

}  // namespace

CollectedPage PageCollector::collect(const std::string& html, const Url& pageUrl) {
    framesRead_ = 0;
    fetchedFrames_ = {pageUrl.str()};
    CollectedPage page;
    const ScannedDocument document = HtmlScanner::scan(html, pageUrl);
    page.linkPolicyRef = document.linkPolicyRef;
    collectDocument(document, 0, page);
    return page;
}

void PageCollector::collectDocument(const ScannedDocument& document, int depth,
                                    CollectedPage& page) {
    page.truncated = page.truncated || document.truncated;
    for (const EmbeddedItem& item : document.items) {
        append(item, page);
    }
    for (const Url& frame : document.frames) {
        if (depth >= kMaxFrameDepth || framesRead_ >= kMaxFrames || !isWebUrl(frame) ||
            !fetchedFrames_.insert(frame.str()).second) {
            append({"Frame/IFrame", frame}, page);
            continue;
        }
        ++framesRead_;
        const std::optional<FetchedDocument> fetched = fetch_(frame);
        if (!fetched) {
            append({"Frame/IFrame", frame}, page);
            continue;
        }
        const Url& location = fetched->url.empty() ? frame : fetched->url;
        append({"Frame/IFrame", location}, page);
        // A redirect to a document read already is listed, not read again.
        if (location == frame || fetchedFrames_.insert(location.str()).second) {
            collectDocument(HtmlScanner::scan(fetched->html, location), depth + 1, page);
        }
    }
}

void PageCollector::append(EmbeddedItem item, CollectedPage& page) {
    if (page.embedded.size() < kMaxItems) {
        page.embedded.push_back(std::move(item));
    } else {
        page.truncated = true;
    }
}

}  // namespace perchlight
