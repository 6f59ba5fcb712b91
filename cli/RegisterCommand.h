#pragma once

#include <iosfwd>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight register`: the installer's step that creates the user's settings key, without
// which no setting can be saved.
class RegisterCommand : public Command {
  public:
    explicit RegisterCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
};

}  // namespace perchlight::cli
