#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"
#include "cli/RuleSetOptions.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight check URL [--post] [--level L | --rules FILE] [--json]`: checks a web page and its
// embedded content as the agent does in the browser and prints the verdict.
class CheckCommand : public Command {
  public:
    explicit CheckCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string url_;
    RuleSetOptions ruleSet_;
    bool post_ = false;
    bool json_ = false;
    bool why_ = false;
};

}  // namespace perchlight::cli
