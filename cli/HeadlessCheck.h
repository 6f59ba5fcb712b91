#pragma once

#include <string>

#include "core/MatchResult.h"
#include "retrieval/Globals.h"
#include "util/Url.h"

namespace perchlight {
class AgentServices;
class P3PMatchInfo;
}  // namespace perchlight

namespace perchlight::cli {

// The exit status of a command that reports a page verdict.
int exitStatusForVerdict(int verdict);

// The embedded content list's word for an item's state: "Matched", "UnMatched" or "Unknown".
const char* stateWord(int state);

// The page URL named on the command line, taken as a survey list takes an address (a bare host
// name is "http://host/"); false, with the reason in error, for one that is not an http or https
// URL.
bool parsePageUrl(const std::string& text, Url& page, std::string& error);

// How a headless page check went.
struct PageCheckOutcome {
    int verdict = -1;
    Url page;           // the page that loaded, after its redirects: the one checked
    std::string error;  // why the check could not run as it should, or empty
    std::vector<SeenP3PHeader> p3pHeaders;  // of the page, its frames and the header probe
};

// What the output of a page command says about the check besides its verdict: the page that
// loaded when it is not the one asked for, and why the verdict is unknown when the rule set or
// the page is at fault.
struct PageCheckNotes {
    std::string loaded;  // the final page, or empty
    std::string why;     // the reason, or empty
};
PageCheckNotes notesFor(const Url& asked, const PageCheckOutcome& outcome, const MatchResult& main,
                        const std::string& ruleSetFile);

// Checks a page as the agent does in the browser, through the services' policy cache, on a
// check thread of its own; the match result is left in info. A page that redirects is checked
// where it ended, as a browser shows it.
PageCheckOutcome checkPageHeadless(AgentServices& services, const Url& page, bool posted,
                                   P3PMatchInfo& info);

}  // namespace perchlight::cli
