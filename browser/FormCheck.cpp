#include "browser/FormCheck.h"

#include "browser/AgentServices.h"
#include "retrieval/P3PMatchInfo.h"
#include "util/Error.h"

namespace perchlight {
namespace {

// The policy for posting to the target: the reference files already known, then the site's
// well-known location (which must be XML to count), then the files its hints name.
Url findPostPolicy(ReferenceStore& store, const Url& target, const std::atomic<bool>& cancelled) {
    Url policy = store.lookupPolicy(target, "POST");
    if (policy.empty() && !cancelled) {
        store.probeReferenceFile(wellKnownLocation(target), target);
        policy = store.lookupPolicy(target, "POST");
    }
    if (policy.empty()) {
        for (const Url& file : store.referenceFilesFor(target)) {
            if (cancelled) {
                break;
            }
            store.loadReferenceFile(file, file);
            policy = store.lookupPolicy(target, "POST");
            if (!policy.empty()) {
                break;
            }
        }
    }
    return policy;
}

}  // namespace

std::optional<Url> FormCheck::targetUrl(const std::string& target) {
    try {
        Url url(target);
        const std::string protocol = url.protocol();
        if (protocol != "http" && protocol != "https") {
            return std::nullopt;
        }
        if (url.str() == url.base()) {
            url = Url(url.str() + "/");
        }
        return url;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::optional<Url> FormCheck::siteOf(const std::string& target) {
    const std::optional<Url> url = targetUrl(target);
    if (!url) {
        return std::nullopt;
    }
    try {
        return Url(url->base());
    } catch (const Error&) {
        return std::nullopt;
    }
}

bool FormCheck::skipsWarning(AgentServices& services, const std::string& target) {
    P3PPreferences& preferences = services.preferences();
    if (preferences.dontWarnOnForms()) {
        return true;
    }
    const std::optional<Url> site = siteOf(target);
    return site && preferences.isNoPrompt(*site);
}

int FormCheck::run(AgentServices& services, const Url& target, const std::atomic<bool>& cancelled,
                   MatchResult& result) {
    const Url policy = findPostPolicy(services.referenceStore(), target, cancelled);
    if (policy.empty() || cancelled) {
        return -1;
    }
    const int code = services.cache().evaluatePolicy(policy.str(), result);
    return code == 0 ? result.state : code;
}

}  // namespace perchlight
