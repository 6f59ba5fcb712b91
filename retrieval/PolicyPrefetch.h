#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "retrieval/CheckOwner.h"
#include "util/Monitor.h"
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
// Runs on the check thread, which waits on its check monitor while the prefetch threads work.
// Each prefetch thread has a monitor of its own for its downloads, so a download ending on one
// thread does not wake another's wait. A check whose running flag is cleared abandons its
// prefetches (their downloads stop with "STOP") and itself ends with "STOP". No lock is held
// while a document downloads.
class PolicyPrefetch {
  public:
    // Downloads in flight at once for one check.
    static constexpr std::size_t kMaxParallel = 16;

    // The policy documents (URLs without fragment) that this prefetch downloaded: the check
    // counts them as fetched by itself, not as found in the cache, when it decides on the
    // verdict sound.
    static std::set<std::string> run(P3PMatchInfo& info, Monitor& checkMonitor, const Url& page,
                                     const std::string& method,
                                     const std::vector<EmbeddedItem>& items);
};

}  // namespace perchlight
