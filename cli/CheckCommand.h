#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight::cli {

// Exit statuses of `perchlight check`, one per page verdict.
inline constexpr int kExitPageMatched = 0;
inline constexpr int kExitPageUnmatched = 1;
inline constexpr int kExitPagePartlyMatched = 2;
inline constexpr int kExitPageUnknown = 3;

// The word for a page verdict: "matched", "unmatched", "partly matched" or "unknown".
const char* verdictWord(int verdict);
// The embedded content list's word for an item's state: "Matched", "UnMatched" or "Unknown".
const char* stateWord(int state);

// `perchlight check URL [--post] [--level L | --rules FILE] [--json]`: checks a web page and its
// embedded content as the agent does in the browser and prints the verdict.
class CheckCommand {
  public:
    explicit CheckCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string url_;
    std::string level_ = "medium";
    std::string ruleSetPath_;
    bool post_ = false;
    bool json_ = false;
};

}  // namespace perchlight::cli
