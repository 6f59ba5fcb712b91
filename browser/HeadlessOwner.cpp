#include "browser/HeadlessOwner.h"

#include "browser/PageCollector.h"
#include "retrieval/Globals.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PageFetch.h"
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
    pageHeaders_.reset();
    // The page itself is read so that a failure can say why, as a browser's error page does.
    pageOutcome_ =
        PageFetch::fetch(page.str(), std::chrono::seconds(HttpClient::kTotalTimeoutSeconds));
    std::optional<std::string> html = std::move(pageOutcome_.body);
    pageOutcome_.body.reset();
    Url loaded = page;
    try {
        if (!pageOutcome_.finalUrl.empty()) {
            loaded = Url(pageOutcome_.finalUrl);
        }
    } catch (const Error&) {
        // libcurl's own URL: keep the one asked for
    }
    for (std::string& value : p3pHeaderValues(pageOutcome_.headers)) {
        if (p3pHeaders_.size() < kMaxSeenP3PHeaders) {
            p3pHeaders_.push_back({loaded, std::move(value)});
        }
    }
    if (!html) {
        return false;
    }
    pageUrl_ = loaded;
    pageHeaders_ = lastResponseHeaders(pageOutcome_.headers);
    PageCollector collector([this](const Url& frame) { return fetchPage(frame, p3pHeaders_); });
    const CollectedPage collected = collector.collect(*html, pageUrl_);
    embedded_ = collected.embedded;
    linkPolicyRef_ = collected.linkPolicyRef;
    truncated_ = collected.truncated;
    return true;
}

}  // namespace perchlight
