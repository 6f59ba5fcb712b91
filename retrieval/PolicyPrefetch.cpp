#include "retrieval/PolicyPrefetch.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

#include "retrieval/CheckRegistry.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using Job = PolicyPrefetch::Job;

// Runs each of the round's calls in turn; false when the check was cancelled.
bool runJobs(P3PMatchInfo& info, const std::vector<Job>& jobs) {
    for (const Job& job : jobs) {
        if (!info.running()) {
            return false;
        }
        try {
            job.fetch();
        } catch (...) {
            // A document the prefetch could not bring in is left to the check, which meets the
            // same failure where it has always handled it.
        }
    }
    return info.running();
}

// One round of prefetch jobs: their documents downloaded at once, then each job run in turn on
// the check thread, where it finds its document cached, kept for the check, or in flight for
// another check. False when the check was cancelled before the round ended.
bool runRound(P3PMatchInfo& info, const std::vector<Job>& jobs) {
    // One document is fetched by its job itself, as the check would.
    if (jobs.size() > 1) {
        for (std::size_t first = 0; first < jobs.size(); first += PolicyPrefetch::kMaxParallel) {
            std::vector<std::string> documents;
            for (std::size_t i = first;
                 i < std::min(jobs.size(), first + PolicyPrefetch::kMaxParallel); ++i) {
                documents.push_back(jobs[i].document);
            }
            try {
                info.cache().prefetchDocuments(documents);
            } catch (const Error& error) {
                if (isStop(error)) {
                    return false;
                }
                // Anything else is the check's to meet, where it has always handled it.
            }
        }
    }
    return runJobs(info, jobs);
}

bool isWeb(const Url& url) {
    return url.protocol() == "http" || url.protocol() == "https";
}

// The reference files the check loads first: the page's well-known location when nothing known
// covers the page, and each distinct item site's well-known location.
std::vector<Job> referenceFileJobs(ReferenceStore& store, const Url& page,
                                   const std::string& method,
                                   const std::vector<EmbeddedItem>& items) {
    std::vector<Job> jobs;
    std::set<std::string> seen;
    if (store.lookupPolicy(page, method).empty()) {
        const Url file = wellKnownLocation(page);
        seen.insert(file.str());
        jobs.push_back({file.withoutFragment().str(),
                        [&store, file, page] { store.probeReferenceFile(file, page); }});
    }
    for (const EmbeddedItem& item : items) {
        try {
            if (!isWeb(item.url)) {
                continue;
            }
            const Url site = wellKnownLocation(item.url);
            if (seen.insert(site.str()).second && !store.isLoaded(site)) {
                jobs.push_back({site.withoutFragment().str(),
                                [&store, site] { store.probeReferenceFile(site, site); }});
            }
        } catch (const Error&) {
            // An item without a site has no well-known location; the check passes it over too.
        }
    }
    return jobs;
}

// The policy documents the loaded reference files name for the page and its items, each noted
// in downloaded.
std::vector<Job> policyJobs(ReferenceStore& store, PolicyCache& cache, const Url& page,
                            const std::string& method, const std::vector<EmbeddedItem>& items,
                            std::set<std::string>& downloaded) {
    std::vector<Url> policies{store.lookupPolicy(page, method)};
    for (const EmbeddedItem& item : items) {
        policies.push_back(store.lookupPolicy(item.url, "GET"));
    }
    std::vector<Job> jobs;
    std::set<std::string> seen;
    for (const Url& policy : policies) {
        if (policy.empty()) {
            continue;
        }
        const std::string document = policy.withoutFragment().str();
        if (seen.insert(document).second && !cache.isPolicyCached(document)) {
            downloaded.insert(document);
            // The check reads the document when it evaluates it; here it only has to be in the
            // cache, kept for the check, or in flight for another check.
            jobs.push_back({document, [&cache, document] {
                                if (!cache.isPolicyCached(document)) {
                                    cache.getDocument(document);
                                }
                            }});
        }
    }
    return jobs;
}

}  // namespace

PolicyPrefetch::Steps::Steps(P3PMatchInfo& info, Url page, std::string method,
                             std::vector<EmbeddedItem> items)
    : info_(info), page_(std::move(page)), method_(std::move(method)), items_(std::move(items)) {}

std::optional<std::vector<std::string>> PolicyPrefetch::Steps::next() {
    jobs_.clear();
    if (round_ == 0) {
        jobs_ = referenceFileJobs(info_.store(), page_, method_, items_);
    } else if (round_ == 1) {
        jobs_ = policyJobs(info_.store(), info_.cache(), page_, method_, items_, downloaded_);
    } else {
        return std::nullopt;
    }
    ++round_;
    std::vector<std::string> documents;
    for (const Job& job : jobs_) {
        documents.push_back(job.document);
    }
    return documents;
}

bool PolicyPrefetch::Steps::runCalls() {
    return runJobs(info_, jobs_);
}

std::set<std::string> PolicyPrefetch::run(P3PMatchInfo& info, const Url& page,
                                          const std::string& method,
                                          const std::vector<EmbeddedItem>& items) {
    ReferenceStore& store = info.store();
    std::set<std::string> downloaded;
    bool completed = runRound(info, referenceFileJobs(store, page, method, items));
    if (completed) {
        completed =
            runRound(info, policyJobs(store, info.cache(), page, method, items, downloaded));
    }
    if (!completed) {
        info.checkStop();
    }
    return downloaded;
}

}  // namespace perchlight
