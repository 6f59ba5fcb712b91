#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight summary URL [--level L | --rules FILE] [--html FILE]`: checks a web page as
// `perchlight check` does and prints the plain-language digest of its policy, with the mismatches;
// writes the HTML summary page when asked. Exit statuses as for `perchlight check`.
class SummaryCommand {
  public:
    explicit SummaryCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string url_;
    std::string level_ = "medium";
    std::string ruleSetPath_;
    std::string htmlPath_;
};

}  // namespace perchlight::cli
