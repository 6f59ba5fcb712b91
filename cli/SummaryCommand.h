#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"
#include "cli/RuleSetOptions.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight summary URL [--level L | --rules FILE] [--html FILE]`: checks a web page as
// `perchlight check` does and prints the plain-language digest of its policy, with the mismatches;
// writes the HTML summary page when asked. Exit statuses as for `perchlight check`.
class SummaryCommand : public Command {
  public:
    explicit SummaryCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string url_;
    RuleSetOptions ruleSet_;
    std::string htmlPath_;
    bool why_ = false;
};

}  // namespace perchlight::cli
