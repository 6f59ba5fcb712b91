#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight evaluate POLICY-FILE --rules RULESET-FILE [--html FILE]`: evaluates a local policy
// document against an APPEL rule set, prints the match result and writes its summary page.
class EvaluateCommand : public Command {
  public:
    // Registers the subcommand and its options on the application.
    explicit EvaluateCommand(CLI::App& app);

    bool selected() const override;
    // Runs the evaluation; returns the exit status.
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string policyPath_;
    std::string ruleSetPath_;
    std::string policyName_;
    std::string requestUri_;
    std::string htmlPath_;
    bool json_ = false;
    bool why_ = false;
};

}  // namespace perchlight::cli
