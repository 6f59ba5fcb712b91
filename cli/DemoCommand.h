#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight demo [--sites DIR]`: serves the bundled demo sites on 127.0.0.1, checks one page of
// each at the Medium level with a fresh cache, and prints each verdict beside the expected one.
class DemoCommand : public Command {
  public:
    explicit DemoCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string sitesDirectory_;
    std::string shotsDirectory_;
    bool browse_ = false;
    bool serve_ = false;
};

}  // namespace perchlight::cli
