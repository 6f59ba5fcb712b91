#pragma once

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/MatchResult.h"
#include "retrieval/Globals.h"
#include "util/Monitor.h"
#include "util/Url.h"

namespace perchlight {

class PolicyCache;
class ReferenceStore;

// Page verdicts: how a page and its embedded content fared as a whole.
inline constexpr int kVerdictMatched = 0;
inline constexpr int kVerdictUnmatched = 1;
inline constexpr int kVerdictPartlyMatched = 2;
inline constexpr int kVerdictUnknown = -1;

// The word for a page verdict: "matched", "unmatched", "partly matched" or "unknown".
constexpr const char* verdictWord(int verdict) {
    switch (verdict) {
        case kVerdictMatched:
            return "matched";
        case kVerdictUnmatched:
            return "unmatched";
        case kVerdictPartlyMatched:
            return "partly matched";
        default:
            return "unknown";
    }
}

// An embedded item's kind and the policy that covers it (empty until found, or when none is).
struct PageEntry {
    std::string contentType;
    Url policyUrl;
};

// The state of one window's current page check: the page's result, its embedded items and the
// results of their policies, each distinct policy evaluated once. The maps lock is held through
// whole evaluations, downloads included, and is taken before the retrieval and preference locks.
// Clearing the running flag makes the check stop with "STOP" at its next test.
class P3PMatchInfo {
  public:
    // A check state over the process's reference store and policy cache.
    P3PMatchInfo(ReferenceStore& store, PolicyCache& cache);
    P3PMatchInfo(const P3PMatchInfo&) = delete;
    P3PMatchInfo& operator=(const P3PMatchInfo&) = delete;

    ReferenceStore& store() { return store_; }
    PolicyCache& cache() { return cache_; }

    void setRunning(bool running) { running_ = running; }
    bool running() const { return running_; }

    void reset();
    // Resets and raises "STOP" when the check has been asked to stop.
    void checkStop();
    // Evaluates the page's policy (looked up for GET when none is given); -1 when there is none.
    int matchPage(const Url& page, const Url& policy);
    // Follows a "policyref=" in the page's own response headers; -1 when there is none.
    int checkByHeader(const Url& page, const std::string* knownHeaders = nullptr);
    // Lists an item unless its URL is listed already.
    void addEmbedded(const Url& url, const std::string& contentType);
    // Finds and evaluates the policies of all listed items.
    void checkEmbedded();
    int overallVerdict();

    std::vector<Url> embeddedUrls() const;
    std::string contentType(const Url& item) const;
    // The state of the item's policy: -1 when unknown, without policy or not evaluated.
    int embeddedState(const Url& item) const;
    Url embeddedPolicyUrl(const Url& item) const;
    std::optional<MatchResult> embeddedResult(const Url& item) const;
    // The result that answers for a response at the URL, as its compact policy is compared with
    // one: the main result for the page the check matched, an item's own result for the item
    // (frames are items), none for anything else or an item without an evaluated policy.
    std::optional<MatchResult> coveringResult(const Url& url) const;
    Url mainPolicyUrl() const;
    MatchResult mainResult() const;
    // The P3P headers of the responses the check itself read (the page's header probe), whole:
    // compact policy and all, after those a browser reported. Cleared by reset.
    std::vector<SeenP3PHeader> p3pHeaders() const;
    // Notes the P3P header a browser saw on a response of the checked page or of an item in it,
    // ahead of the headers the check read itself and in place of the same header read again; it
    // names no policy here, it only gives the results their compact policy. Call it once the
    // check has ended, as it starts afresh; the list stays within kMaxSeenP3PHeaders.
    void noteReportedP3PHeader(const Url& url, const std::string& value);

  private:
    ReferenceStore& store_;
    PolicyCache& cache_;
    mutable Monitor mapsLock_;
    Url pageUrl_;
    MatchResult mainResult_;
    std::map<Url, PageEntry> embedded_;
    std::map<Url, MatchResult> policies_;
    std::vector<SeenP3PHeader> p3pHeaders_;
    std::size_t reportedHeaders_ = 0;  // the first of p3pHeaders_, which a browser reported
    std::atomic<bool> running_{true};
};

// The site base of a URL followed by "/w3c/p3p.xml".
Url wellKnownLocation(const Url& url);

}  // namespace perchlight
