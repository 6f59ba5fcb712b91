#include "cli/HeadlessCheck.h"

#include <algorithm>
#include <ostream>
#include <thread>

#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "cli/ExitStatus.h"
#include "cli/RuleSetOptions.h"
#include "cli/SurveyCheck.h"
#include "cli/SurveyInput.h"
#include "cli/SurveyRecord.h"
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

const char* stateWord(int state) {
    return state == 0 ? "Matched" : state == 1 ? "UnMatched" : "Unknown";
}

bool parsePageUrl(const std::string& text, Url& page, std::string& error) {
    try {
        page = Url(absoluteAddress(text));
    } catch (const Error& invalid) {
        error = invalid.message() + ": " + text;
        return false;
    }
    if (page.protocol() != "http" && page.protocol() != "https") {
        error = "only http and https pages are checked";
        return false;
    }
    return true;
}

namespace {

// The error class and reason of a page that gave no document, as a survey record has them.
std::string whyNoDocument(const FetchOutcome& page) {
    if (page.failure != TransportFailure::kNone) {
        return std::string(transportErrorClass(page.failure)) + ": " + page.reason;
    }
    if (page.status < 200 || page.status > 299) {
        return std::string(SurveyError::kHttpStatus) + ": " + std::to_string(page.status) +
               "; the policy was checked alone";
    }
    return "the page yielded no document; its policy was checked alone";
}

}  // namespace

PageCheckNotes notesFor(const Url& asked, const PageCheckOutcome& outcome, const MatchResult& main,
                        const std::string& ruleSetFile) {
    PageCheckNotes notes;
    if (!outcome.page.empty() && outcome.page != asked) {
        notes.loaded = outcome.page.str();
    }
    notes.why = outcome.error;
    if (outcome.verdict == kVerdictUnknown && main.state == kStateNotEvaluated &&
        !main.policyUrl.empty()) {
        if (const std::string problem = RuleSetOptions::problemWith(ruleSetFile);
            !problem.empty()) {
            notes.why = "the rule set " + ruleSetFile + " cannot be used: " + problem;
        }
    }
    return notes;
}

PageCheckOutcome checkPageHeadless(AgentServices& services, const Url& page, bool posted,
                                   P3PMatchInfo& info) {
    PolicyCache& cache = services.cache();
    HeadlessOwner owner(info);
    PageCheckOutcome outcome;
    outcome.page = page;
    try {
        cache.loadCacheIndex();
        if (!owner.loadPage(page, posted)) {
            outcome.error = whyNoDocument(owner.pageOutcome());
        }
        outcome.page = owner.pageUrl();
        std::thread check(runCheckThread, std::ref(owner), outcome.page, posted ? "posted" : "");
        check.join();
        cache.writeCacheIndex();
    } catch (const Error& error) {
        outcome.error = error.message();
    }
    outcome.verdict = owner.verdict();
    outcome.p3pHeaders = owner.p3pHeaders();
    for (SeenP3PHeader& seen : info.p3pHeaders()) {
        const bool known = std::any_of(outcome.p3pHeaders.begin(), outcome.p3pHeaders.end(),
                                       [&](const SeenP3PHeader& one) {
                                           return one.url == seen.url && one.value == seen.value;
                                       });
        if (!known) {
            outcome.p3pHeaders.push_back(std::move(seen));
        }
    }
    return outcome;
}

}  // namespace perchlight::cli
