#include "retrieval/PolicyPrefetch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "retrieval/CheckDocuments.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "retrieval/RequestTally.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using Job = std::function<void()>;

constexpr std::chrono::milliseconds kRunningPoll{100};
constexpr std::chrono::milliseconds kCancelSignalInterval{10};

// One round of prefetch jobs on up to kMaxParallel threads while the check thread waits.
class PrefetchRound {
  public:
    PrefetchRound(P3PMatchInfo& info, Monitor& checkMonitor, std::vector<Job> jobs)
        : info_(info), checkMonitor_(checkMonitor), jobs_(std::move(jobs)) {}

    // False when the check was cancelled before the round ended.
    bool run() {
        if (jobs_.empty()) {
            return info_.running();
        }
        // One document needs no thread: the check thread fetches it itself, waiting on its own
        // monitor, so a cancellation still stops it at once.
        if (jobs_.size() == 1) {
            try {
                jobs_.front()();
            } catch (...) {
                // left to the check, as on a prefetch thread
            }
            return info_.running();
        }
        const std::size_t count = std::min(jobs_.size(), PolicyPrefetch::kMaxParallel);
        RequestTally::Counter* const tally = RequestTally::current();
        CheckDocuments* const documents = CheckDocuments::current();
        for (std::size_t i = 0; i < count; ++i) {
            monitors_.push_back(std::make_unique<Monitor>());
        }
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < count; ++i) {
            {
                MonitorLock guard(checkMonitor_);
                ++active_;
            }
            try {
                workers.emplace_back(
                    [this, i, tally, documents] { work(*monitors_[i], tally, documents); });
            } catch (const std::system_error&) {
                MonitorLock guard(checkMonitor_);
                --active_;  // no thread to spare: the others, or the check itself, fetch it
                break;
            }
        }
        const bool completed = waitForWorkers();
        if (!completed) {
            abandon();
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        return completed;
    }

  private:
    void work(Monitor& ownMonitor, RequestTally::Counter* tally, CheckDocuments* documents) {
        CheckRegistry::registerCurrentThread(ownMonitor);
        RequestTally::Scope scope(tally);
        CheckDocuments::Scope documentsScope(documents);
        while (const Job* job = nextJob()) {
            try {
                (*job)();
            } catch (...) {
                // A document the prefetch could not bring in is left to the check, which meets
                // the same failure where it has always handled it.
            }
        }
        CheckRegistry::unregisterCurrentThread();
        MonitorLock guard(checkMonitor_);
        --active_;
        checkMonitor_.broadcast();
    }

    const Job* nextJob() {
        std::lock_guard<std::mutex> guard(queueLock_);
        if (cancelled_ || next_ >= jobs_.size()) {
            return nullptr;
        }
        return &jobs_[next_++];
    }

    bool waitForWorkers() {
        MonitorLock guard(checkMonitor_);
        while (active_ > 0) {
            if (!info_.running()) {
                return false;
            }
            checkMonitor_.waitFor(kRunningPoll);
        }
        return info_.running();
    }

    // Wakes every prefetch thread's download wait until all have given up; a wake that comes
    // before a thread starts to wait is lost, hence the repetition.
    void abandon() {
        {
            std::lock_guard<std::mutex> guard(queueLock_);
            cancelled_ = true;
        }
        for (;;) {
            {
                MonitorLock guard(checkMonitor_);
                if (active_ == 0) {
                    return;
                }
            }
            for (const std::unique_ptr<Monitor>& monitor : monitors_) {
                MonitorLock guard(*monitor);
                monitor->broadcast();
            }
            std::this_thread::sleep_for(kCancelSignalInterval);
        }
    }

    P3PMatchInfo& info_;
    Monitor& checkMonitor_;
    const std::vector<Job> jobs_;
    std::vector<std::unique_ptr<Monitor>> monitors_;
    std::mutex queueLock_;
    std::size_t next_ = 0;    // guarded by queueLock_
    bool cancelled_ = false;  // guarded by queueLock_
    int active_ = 0;          // guarded by checkMonitor_
};

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
        jobs.push_back([&store, file, page] { store.probeReferenceFile(file, page); });
    }
    for (const EmbeddedItem& item : items) {
        try {
            if (!isWeb(item.url)) {
                continue;
            }
            const Url site = wellKnownLocation(item.url);
            if (seen.insert(site.str()).second && !store.isLoaded(site)) {
                jobs.push_back([&store, site] { store.probeReferenceFile(site, site); });
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
            jobs.push_back([&cache, document] { cache.getDocument(document); });
        }
    }
    return jobs;
}

}  // namespace

std::set<std::string> PolicyPrefetch::run(P3PMatchInfo& info, Monitor& checkMonitor,
                                          const Url& page, const std::string& method,
                                          const std::vector<EmbeddedItem>& items) {
    ReferenceStore& store = info.store();
    std::set<std::string> downloaded;
    bool completed =
        PrefetchRound(info, checkMonitor, referenceFileJobs(store, page, method, items)).run();
    if (completed) {
        completed = PrefetchRound(info, checkMonitor,
                                  policyJobs(store, info.cache(), page, method, items, downloaded))
                        .run();
    }
    if (!completed) {
        info.checkStop();
    }
    return downloaded;
}

}  // namespace perchlight
