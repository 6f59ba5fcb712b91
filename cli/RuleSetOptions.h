#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight {
class AgentServices;
}

namespace perchlight::cli {

// The rule set options that the page commands share: `--level L` (one of the five privacy
// levels) or `--rules FILE`.
class RuleSetOptions {
  public:
    // Registers both options on the subcommand.
    void addTo(CLI::App& command);

    // Makes the services evaluate against the chosen rule set file. False, with the reason
    // printed, when the file is missing.
    bool apply(AgentServices& services, std::ostream& err) const;

  private:
    std::string ruleSetFile(const AgentServices& services) const;

    std::string level_ = "medium";
    std::string ruleSetPath_;
};

}  // namespace perchlight::cli
