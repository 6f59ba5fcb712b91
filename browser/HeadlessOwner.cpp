#include "browser/HeadlessOwner.h"

#include "browser/PageCollector.h"
#include "retrieval/HttpClient.h"

namespace perchlight {

bool HeadlessOwner::loadPage(const Url& page, bool posted) {
    posted_ = posted;
    std::string headers;
    const std::optional<std::string> html = HttpClient::fetchDocument(page.str(), headers);
    if (!html) {
        return false;
    }
    PageCollector collector([](const Url& frame) {
        std::string frameHeaders;
        return HttpClient::fetchDocument(frame.str(), frameHeaders);
    });
    const CollectedPage collected = collector.collect(*html, page);
    embedded_ = collected.embedded;
    linkPolicyRef_ = collected.linkPolicyRef;
    truncated_ = collected.truncated;
    return true;
}

}  // namespace perchlight
