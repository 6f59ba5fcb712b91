#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace perchlight {
class AgentServices;
}

namespace perchlight::cli {

// The rule set a check evaluates against, as the output names it.
struct ChosenRuleSet {
    std::string label;  // "High", "Medium (stored level)", "rule set file"
    std::string file;
};

// The rule set a page command evaluates against: the one named by `--rules FILE`, the rule set of
// `--level L` (one of the five privacy levels), or, without either, the active rule set of the
// preference store (the stored privacy level, Medium where none is stored).
class RuleSetOptions {
  public:
    // Registers both options on the subcommand.
    void addTo(CLI::App& command);

    // Makes the services evaluate against the chosen rule set; what it is, or nothing, with the
    // reason in error, when a named file or level's rule set is missing.
    std::optional<ChosenRuleSet> apply(AgentServices& services, std::string& error) const;

    // Why a rule set file cannot be evaluated against ("XML parse error", "not an APPEL rule
    // set ...", "no such file"), or empty when it can.
    static std::string problemWith(const std::string& file);
    // problemWith's answer for a well-formed file that is no rule set: a policy can still be
    // evaluated against it (nothing can match), where an unreadable file gives no evaluation.
    static constexpr const char* kNotARuleSet =
        "not an APPEL rule set (no appel:RULESET with rules at its root)";

  private:
    std::string level_;
    std::string ruleSetPath_;
};

}  // namespace perchlight::cli
