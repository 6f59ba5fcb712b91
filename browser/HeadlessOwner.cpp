#include "browser/HeadlessOwner.h"

#include "browser/PageCollector.h"
#include "retrieval/Globals.h"
#include "retrieval/HttpClient.h"
#include "util/Error.h"

namespace perchlight {
namespace {

// Downloads a page or frame; the document keeps the URL its redirects ended at, the one a
// browser shows and resolves against.
// Its P3P headers go to seen.
std::optional<FetchedDocument> fetchPage(const Url& url, std::vector<SeenP3PHeader>& seen) {
    std::string headers;
    std::string finalUrl;
    std::optional<std::string> html =
        HttpClient::fetchDocument(url.str(), headers, false, &finalUrl);
    Url from = url;
    try {
        if (!finalUrl.empty()) {
            from = Url(finalUrl);
        }
    } catch (const Error&) {
        // libcurl's own URL: keep the one asked for
    }
    for (std::string& value : p3pHeaderValues(headers)) {
        if (seen.size() < kMaxSeenP3PHeaders) {
            seen.push_back({from, std::move(value)});
        }
    }
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
    p3pHeaders_.clear();
    const std::optional<FetchedDocument> document = fetchPage(page, p3pHeaders_);
    if (!document) {
        return false;
    }
    pageUrl_ = document->url;
    PageCollector collector([this](const Url& frame) { return fetchPage(frame, p3pHeaders_); });
    const CollectedPage collected = collector.collect(document->html, pageUrl_);
    embedded_ = collected.embedded;
    linkPolicyRef_ = collected.linkPolicyRef;
    truncated_ = collected.truncated;
    return true;
}

}  // namespace perchlight
