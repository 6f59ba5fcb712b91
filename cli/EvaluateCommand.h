#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight::cli {

// Exit statuses of the command-line tool.
inline constexpr int kExitMatched = 0;
inline constexpr int kExitConflict = 1;
inline constexpr int kExitNotEvaluated = 2;
inline constexpr int kExitFailed = 2;  // a preference command could not do its work
inline constexpr int kExitUsage = 64;

// `perchlight evaluate POLICY-FILE --rules RULESET-FILE [--html FILE]`: evaluates a local policy
// document against an APPEL rule set, prints the match result and writes its summary page.
class EvaluateCommand {
  public:
    // Registers the subcommand and its options on the application.
    explicit EvaluateCommand(CLI::App& app);

    bool selected() const;
    // Runs the evaluation; returns the exit status.
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string policyPath_;
    std::string ruleSetPath_;
    std::string policyName_;
    std::string requestUri_;
    std::string htmlPath_;
    bool json_ = false;
};

}  // namespace perchlight::cli
