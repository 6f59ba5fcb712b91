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

// The rule set file a page check uses: the given file, else the file of the named privacy level.
// Empty, with the reason printed, when there is none.
std::string ruleSetForCheck(const std::string& level, const std::string& ruleSetPath,
                            std::ostream& err);

// Parses a page URL given on the command line; false, with the reason printed, for anything but
// an http or https URL.
bool parsePageUrl(const std::string& text, Url& page, std::ostream& err);

// Checks a page as the agent does in the browser, through the process's policy cache, on a check
// thread of its own; the match result is left in info. Returns the page verdict.
int checkPageHeadless(const Url& page, bool posted, const std::string& ruleSet, P3PMatchInfo& info,
                      std::ostream& err);

}  // namespace perchlight::cli
