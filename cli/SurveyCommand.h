#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"
#include "cli/RuleSetOptions.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight survey LIST | --stdin [--level L | --rules FILE] [--jobs N] [--out FILE] [--csv]
// [--resume] [--shard I/N] [--timeout S] [--html FILE]`: checks every address of a list, many
// at once, writing one record per address; and `perchlight survey --report FILE [--html FILE]`,
// the report of a finished survey output.
class SurveyCommand : public Command {
  public:
    explicit SurveyCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    int report(std::ostream& out, std::ostream& err) const;
    int survey(AgentServices& services, std::ostream& out, std::ostream& err) const;

    CLI::App* command_;
    std::string list_;
    bool stdin_ = false;
    RuleSetOptions ruleSet_;
    std::size_t jobs_ = 0;
    std::string out_;
    bool csv_ = false;
    bool resume_ = false;
    std::string shard_;
    double timeout_ = 30;
    std::string report_;
    std::string html_;
};

}  // namespace perchlight::cli
