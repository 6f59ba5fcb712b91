#pragma once

#include <iosfwd>
#include <string>

namespace perchlight {
class P3PMatchInfo;
class Url;
}  // namespace perchlight

namespace perchlight::cli {

// The whole content of a file; false when it cannot be read.
bool readFileInto(const std::string& path, std::string& bytes);

// The exit status of a command that reports a page verdict.
int exitStatusForVerdict(int verdict);

// The page and the rule set file of a page check named on the command line: the given rule set
// file, else the file of the named privacy level. False, with the reason printed, for a page URL
// that is not http or https, or a rule set file that is missing.
bool resolvePageCheck(const std::string& url, const std::string& level,
                      const std::string& ruleSetPath, Url& page, std::string& ruleSet,
                      std::ostream& err);

// Checks a page as the agent does in the browser, through the process's policy cache, on a check
// thread of its own; the match result is left in info. Returns the page verdict.
int checkPageHeadless(const Url& page, bool posted, const std::string& ruleSet, P3PMatchInfo& info,
                      std::ostream& err);

}  // namespace perchlight::cli
