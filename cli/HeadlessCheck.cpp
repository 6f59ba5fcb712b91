#include "cli/HeadlessCheck.h"

#include <ostream>
#include <thread>

#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "cli/ExitStatus.h"
#include "retrieval/PageCheck.h"
#include "util/Error.h"

namespace perchlight::cli {

int exitStatusForVerdict(int verdict) {
    switch (verdict) {
        case kVerdictMatched:
            return kExitPageMatched;
        case kVerdictUnmatched:
            return kExitPageUnmatched;
        case kVerdictPartlyMatched:
            return kExitPagePartlyMatched;
        default:
            return kExitPageUnknown;
    }
}

const char* verdictWord(int verdict) {
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

const char* stateWord(int state) {
    return state == 0 ? "Matched" : state == 1 ? "UnMatched" : "Unknown";
}

bool parsePageUrl(const std::string& text, Url& page, std::ostream& err) {
    try {
        page = Url(text);
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << ": " << text << "\n";
        return false;
    }
    if (page.protocol() != "http" && page.protocol() != "https") {
        err << "perchlight: only http and https pages are checked\n";
        return false;
    }
    return true;
}

int checkPageHeadless(AgentServices& services, const Url& page, bool posted, P3PMatchInfo& info,
                      std::ostream& err) {
    PolicyCache& cache = services.cache();
    HeadlessOwner owner(info);
    try {
        cache.loadCacheIndex();
        if (!owner.loadPage(page, posted)) {
            err << "perchlight: the page yielded no document; checking its policy only\n";
        }
        std::thread check(runCheckThread, std::ref(owner), page, posted ? "posted" : "");
        check.join();
        cache.writeCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    return owner.verdict();
}

}  // namespace perchlight::cli
