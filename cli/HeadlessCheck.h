#pragma once

#include <iosfwd>
#include <string>

namespace perchlight {
class AgentServices;
class P3PMatchInfo;
class Url;
}  // namespace perchlight

namespace perchlight::cli {

// The exit status of a command that reports a page verdict.
int exitStatusForVerdict(int verdict);

// The word for a page verdict: "matched", "unmatched", "partly matched" or "unknown".
const char* verdictWord(int verdict);
// The embedded content list's word for an item's state: "Matched", "UnMatched" or "Unknown".
const char* stateWord(int state);

// The page URL named on the command line; false, with the reason printed, for one that is not
// an http or https URL.
bool parsePageUrl(const std::string& text, Url& page, std::ostream& err);

// Checks a page as the agent does in the browser, through the services' policy cache, on a
// check thread of its own; the match result is left in info. Returns the page verdict.
int checkPageHeadless(AgentServices& services, const Url& page, bool posted, P3PMatchInfo& info,
                      std::ostream& err);

}  // namespace perchlight::cli
