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
        append({"Frame/IFrame", frame}, page);
        if (depth >= kMaxFrameDepth || framesRead_ >= kMaxFrames || !isWebUrl(frame) ||
            !fetchedFrames_.insert(frame.str()).second) {
            continue;
        }
        ++framesRead_;
        if (const std::optional<std::string> html = fetch_(frame)) {
            collectDocument(HtmlScanner::scan(*html, frame), depth + 1, page);
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
