#include "browser/HeadlessOwner.h"

#include "browser/PageCollector.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PageFetch.h"
#include "util/Error.h"

namespace perchlight {
namespace {

// Downloads a page or frame; the document keeps the URL its redirects ended at, the one a
// browser shows and resolves against.
std::optional<FetchedDocument> fetchPage(const Url& url) {
    std::string headers;
    std::string finalUrl;
    std::optional<std::string> html =
        HttpClient::fetchDocument(url.str(), headers, false, &finalUrl);
    if (!html) {
        return std::nullopt;
    }
    FetchedDocument document{std::move(*html), url};
    try {
        if (!finalUrl.empty()) {
            document.url = Url(finalUrl);
        }
    } catch (const Error&) {
        // libcurl's own URL: keep the one asked for
    }
    return document;
}

}  // namespace

bool HeadlessOwner::loadPage(const Url& page, bool posted) {
    posted_ = posted;
    pageUrl_ = page;
    pageHeaders_.reset();
    // The page itself is read so that a failure can say why, as a browser's error page does.
    pageOutcome_ =
        PageFetch::fetch(page.str(), std::chrono::seconds(HttpClient::kTotalTimeoutSeconds));
    std::optional<std::string> html = std::move(pageOutcome_.body);
    pageOutcome_.body.reset();
    if (!html) {
        return false;
    }
    try {
        pageUrl_ = Url(pageOutcome_.finalUrl);
    } catch (const Error&) {
        // libcurl's own URL: keep the one asked for
    }
    pageHeaders_ = lastResponseHeaders(pageOutcome_.headers);
    PageCollector collector(fetchPage);
    const CollectedPage collected = collector.collect(*html, pageUrl_);
    embedded_ = collected.embedded;
    linkPolicyRef_ = collected.linkPolicyRef;
    truncated_ = collected.truncated;
    return true;
}

}  // namespace perchlight
