#pragma once

#include <iosfwd>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight register`: the installer's step that creates the user's settings key, without
// which no setting can be saved, and registers the browser module beside the program so that the
// browser shell loads it. `perchlight unregister` removes the module's registration.
class RegisterCommand : public Command {
  public:
    explicit RegisterCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

    // The file name of the browser module beside the program.
    static constexpr const char* kAgentModuleName = "libperchlight-agent.so";

  private:
    CLI::App* register_;
    CLI::App* unregister_;
};

}  // namespace perchlight::cli
