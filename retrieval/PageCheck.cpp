#include "retrieval/PageCheck.h"

#include <optional>
#include <set>

#include "retrieval/CheckDocuments.h"
#include "retrieval/CheckOwner.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/PolicyPrefetch.h"
#include "retrieval/ReferenceStore.h"
#include "util/Error.h"

namespace perchlight {
namespace {

void playVerdictSound(CheckIndicator& indicator, int verdict) {
    if (verdict == kVerdictUnknown) {
        indicator.playSoundNoPolicy();
    } else if (verdict == kVerdictUnmatched) {
        indicator.playSoundNoMatch();
    } else {
        indicator.playSoundMatch();
    }
}

int runCheck(CheckOwner& owner, const Url& page, const std::string& postData) {
    P3PMatchInfo& info = owner.matchInfo();
    ReferenceStore& store = info.store();
    CheckIndicator& indicator = owner.indicator();
    info.reset();
    indicator.showChecking();
    const std::string method = postData.empty() ? "GET" : "POST";
    std::set<std::string> prefetched;
    if (owner.prefetches()) {
        prefetched = PolicyPrefetch::run(info, page, method, owner.embeddedContent());
    }
    if (store.lookupPolicy(page, method).empty()) {
        store.probeReferenceFile(wellKnownLocation(page), page);
    }
    int code = 0;
    bool fromCache = false;
    const Url policy = store.lookupPolicy(page, method);
    if (!policy.empty()) {
        const std::string document = policy.withoutFragment().str();
        fromCache = info.cache().isPolicyCached(document) && !prefetched.contains(document);
        code = info.matchPage(page, policy);
    } else {
        bool found = false;
        if (!owner.linkPolicyReference().empty()) {
            store.loadReferenceFile(owner.linkPolicyReference(), page);
            const Url linked = store.lookupPolicy(page, method);
            if (!linked.empty()) {
                code = info.matchPage(page, linked);
                found = true;
            }
        }
        if (!found && !owner.postedNavigation()) {
            code = info.checkByHeader(page, owner.pageResponseHeaders());
        }
    }
    if (!owner.embeddedContent().empty()) {
        for (const EmbeddedItem& item : owner.embeddedContent()) {
            info.addEmbedded(item.url, item.contentType);
        }
        info.checkEmbedded();
    }
    const int verdict = info.overallVerdict();
    indicator.showVerdict(verdict, false);
    if (indicator.soundsForCachedPolicies() || !fromCache) {
        playVerdictSound(indicator, verdict);
    }
    return code;
}

}  // namespace

int checkPage(CheckOwner& owner, const Url& page, const std::string& postData) {
    if (page.empty()) {
        return 0;
    }
    // A check remembers what it fetched and the cache could not keep, unless its caller (a
    // survey's check of a site) keeps that for it.
    CheckDocuments ownDocuments;
    std::optional<CheckDocuments::Scope> documentsScope;
    if (CheckDocuments::current() == nullptr) {
        documentsScope.emplace(&ownDocuments);
    }
    try {
        return runCheck(owner, page, postData);
    } catch (const Error&) {
        owner.indicator().showVerdict(kVerdictUnknown, false);
        return 0;
    }
}

void runCheckThread(CheckOwner& owner, const Url& page, const std::string& postData) {
    CheckRegistry::registerCurrentThread(owner.checkMonitor());
    try {
        checkPage(owner, page, postData);
    } catch (...) {
        // A check thread has no one to report to; the verdict already says unknown.
    }
    CheckRegistry::unregisterCurrentThread();
}

}  // namespace perchlight
