#include "retrieval/P3PMatchInfo.h"

#include <algorithm>
#include <set>

#include "retrieval/CheckRegistry.h"
#include "retrieval/Globals.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "P3PMatchInfo";

}  // namespace

std::vector<SeenP3PHeader> P3PMatchInfo::p3pHeaders() const {
    MonitorLock guard(mapsLock_);
    return p3pHeaders_;
}

void P3PMatchInfo::noteReportedP3PHeader(const Url& url, const std::string& value) {
    MonitorLock guard(mapsLock_);
    const auto same = std::find_if(
        p3pHeaders_.begin(), p3pHeaders_.end(),
        [&](const SeenP3PHeader& seen) { return seen.url == url && seen.value == value; });
    if (same != p3pHeaders_.end()) {
        if (static_cast<std::size_t>(same - p3pHeaders_.begin()) < reportedHeaders_) {
            return;  // noted already
        }
        p3pHeaders_.erase(same);
    }
    if (reportedHeaders_ >= kMaxSeenP3PHeaders) {
        return;
    }
    if (p3pHeaders_.size() >= kMaxSeenP3PHeaders) {
        p3pHeaders_.pop_back();
    }
    // Reported headers stay in the order noted, ahead of the check's own.
    p3pHeaders_.insert(p3pHeaders_.begin() + static_cast<std::ptrdiff_t>(reportedHeaders_),
                       SeenP3PHeader{url, value});
    ++reportedHeaders_;
}

Url wellKnownLocation(const Url& url) {
    return Url(url.base() + "/w3c/p3p.xml");
}

P3PMatchInfo::P3PMatchInfo(ReferenceStore& store, PolicyCache& cache)
    : store_(store), cache_(cache) {}

void P3PMatchInfo::reset() {
    MonitorLock guard(mapsLock_);
    embedded_.clear();
    policies_.clear();
    p3pHeaders_.clear();
    reportedHeaders_ = 0;
    mainResult_ = MatchResult();
    pageUrl_ = Url();
}

void P3PMatchInfo::checkStop() {
    if (!running_) {
        reset();
        PERCHLIGHT_RAISE(kStopMessage, kUnit);
    }
}

int P3PMatchInfo::matchPage(const Url& page, const Url& policy) {
    MonitorLock guard(mapsLock_);
    pageUrl_ = page;
    mainResult_ = MatchResult();
    mainResult_.requestUri = page;
    const Url found = policy.empty() ? store_.lookupPolicy(page, "GET") : policy;
    if (found.empty()) {
        return -1;
    }
    mainResult_.policyUrl = found;
    return cache_.evaluatePolicy(found.str(), mainResult_);
}

int P3PMatchInfo::checkByHeader(const Url& page, const std::string* knownHeaders) {
    checkStop();
    std::string headers;
    if (knownHeaders != nullptr) {
        headers = *knownHeaders;
    } else {
        HttpClient::fetchHeaders(page.str(), headers, &running_);
    }
    checkStop();
    {
        MonitorLock guard(mapsLock_);
        for (std::string& value : p3pHeaderValues(headers)) {
            if (p3pHeaders_.size() < kMaxSeenP3PHeaders) {
                p3pHeaders_.push_back({page, std::move(value)});
            }
        }
    }
    const Url reference = extractPolicyRef(headers, page);
    if (reference.empty()) {
        return -1;
    }
    store_.loadReferenceFile(reference, page);
    return matchPage(page, Url());
}

void P3PMatchInfo::addEmbedded(const Url& url, const std::string& contentType) {
    MonitorLock guard(mapsLock_);
    embedded_.try_emplace(url, PageEntry{contentType, Url()});
}

void P3PMatchInfo::checkEmbedded() {
    checkStop();
    MonitorLock guard(mapsLock_);
    std::set<Url> sites;
    for (const auto& [url, entry] : embedded_) {
        checkStop();
        try {
            sites.insert(wellKnownLocation(url));
        } catch (const Error&) {
            // An item of a scheme without a site (such as file:) has no well-known location.
        }
    }
    for (const Url& site : sites) {
        checkStop();
        store_.probeReferenceFile(site, site);
    }
    for (auto& [url, entry] : embedded_) {
        checkStop();
        Url policy = store_.lookupPolicy(url, "GET");
        if (policy.empty()) {
            for (const Url& file : store_.referenceFilesFor(url)) {
                store_.loadReferenceFile(file, file);
                policy = store_.lookupPolicy(url, "GET");
                if (!policy.empty()) {
                    break;
                }
            }
        }
        entry.policyUrl = policy;
        if (!policy.empty()) {
            MatchResult fresh;
            fresh.requestUri = url;
            policies_[policy] = fresh;
        }
    }
    for (auto& [policy, result] : policies_) {
        checkStop();
        try {
            cache_.evaluatePolicy(policy.str(), result);
        } catch (const Error& error) {
            if (isStop(error)) {
                throw;
            }
        }
    }
}

int P3PMatchInfo::overallVerdict() {
    checkStop();
    MonitorLock guard(mapsLock_);
    if (mainResult_.isTest) {
        return kVerdictUnknown;
    }
    if (mainResult_.state == kStateConflict) {
        return kVerdictUnmatched;
    }
    if (mainResult_.state != kStateNoConflict) {
        return kVerdictUnknown;
    }
    for (const auto& [url, entry] : embedded_) {
        if (entry.policyUrl.empty()) {
            return kVerdictPartlyMatched;
        }
    }
    for (const auto& [policy, result] : policies_) {
        if (result.state != kStateNoConflict) {
            return kVerdictPartlyMatched;
        }
    }
    return kVerdictMatched;
}

std::vector<Url> P3PMatchInfo::embeddedUrls() const {
    MonitorLock guard(mapsLock_);
    std::vector<Url> urls;
    for (const auto& [url, entry] : embedded_) {
        urls.push_back(url);
    }
    return urls;
}

std::string P3PMatchInfo::contentType(const Url& item) const {
    MonitorLock guard(mapsLock_);
    const auto found = embedded_.find(item);
    return found == embedded_.end() ? std::string() : found->second.contentType;
}

int P3PMatchInfo::embeddedState(const Url& item) const {
    const std::optional<MatchResult> result = embeddedResult(item);
    return result ? result->state : kStateNotEvaluated;
}

Url P3PMatchInfo::embeddedPolicyUrl(const Url& item) const {
    MonitorLock guard(mapsLock_);
    const auto found = embedded_.find(item);
    return found == embedded_.end() ? Url() : found->second.policyUrl;
}

std::optional<MatchResult> P3PMatchInfo::embeddedResult(const Url& item) const {
    MonitorLock guard(mapsLock_);
    const auto found = embedded_.find(item);
    if (found == embedded_.end() || found->second.policyUrl.empty()) {
        return std::nullopt;
    }
    const auto result = policies_.find(found->second.policyUrl);
    if (result == policies_.end()) {
        return std::nullopt;
    }
    return result->second;
}

std::optional<MatchResult> P3PMatchInfo::coveringResult(const Url& url) const {
    MonitorLock guard(mapsLock_);
    if (!pageUrl_.empty() && url == pageUrl_) {
        return mainResult();
    }
    return embeddedResult(url);
}

Url P3PMatchInfo::mainPolicyUrl() const {
    MonitorLock guard(mapsLock_);
    return mainResult_.policyUrl;
}

MatchResult P3PMatchInfo::mainResult() const {
    MonitorLock guard(mapsLock_);
    MatchResult result = mainResult_;
    if (result.compactPolicy.empty()) {
        result.compactPolicy = compactPolicyFor(p3pHeaders_, pageUrl_);
    }
    return result;
}

}  // namespace perchlight
