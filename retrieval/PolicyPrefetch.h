#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "retrieval/CheckOwner.h"
#include "util/Url.h"

namespace perchlight {

class P3PMatchInfo;

// Brings what a cold page check is about to fetch one document after the other into the
// reference store and the policy cache, many at once: first the page's well-known location
// (unless a known reference file covers the page) and the well-known location of every distinct
// embedded item site, then the policy documents those files name. The check that follows finds
// them loaded or cached; it makes the same lookups and evaluations in the same order as without
// the prefetch, so verdicts, the order of results and the one evaluation per policy stay as they
// are. Only documents the check would fetch are fetched, each through the same store and cache
// calls the check makes.
//
// Runs on the check thread and takes no thread of its own: each round's documents download at
// once on the transfer engine (PolicyCache::prefetchDocuments) while the check thread waits for
// them, then the round's store and cache calls run in turn and find them. A check
// whose running flag is cleared abandons the round's downloads (they stop with "STOP") and
// itself ends with "STOP". No lock is held while a document downloads.
class PolicyPrefetch {
  public:
    // Downloads in flight at once for one check; a round with more takes several batches.
    static constexpr std::size_t kMaxParallel = 64;

    // The policy documents (URLs without fragment) that this prefetch downloaded: the check
    // counts them as fetched by itself, not as found in the cache, when it decides on the
    // verdict sound.
    static std::set<std::string> run(P3PMatchInfo& info, const Url& page, const std::string& method,
                                     const std::vector<EmbeddedItem>& items);

    // A document the check is about to fetch and the call through which it fetches it.
    struct Job {
        std::string document;  // the URL without fragment
        std::function<void()> fetch;
    };

    // The same prefetch one round at a time, for a caller that has each round's documents
    // downloaded without a thread waiting for them (PolicyCache::startPrefetch): next gives the
    // documents of the next round (nothing once the prefetch is over), and runCalls makes that
    // round's store and cache calls once they have landed, on the check's thread. The info,
    // store and cache must outlive it.
    class Steps {
      public:
        Steps(P3PMatchInfo& info, Url page, std::string method, std::vector<EmbeddedItem> items);
        std::optional<std::vector<std::string>> next();
        // False when the check was cancelled.
        bool runCalls();

      private:
        P3PMatchInfo& info_;
        Url page_;
        std::string method_;
        std::vector<EmbeddedItem> items_;
        int round_ = 0;
        std::vector<Job> jobs_;
        std::set<std::string> downloaded_;
    };
};

}  // namespace perchlight
