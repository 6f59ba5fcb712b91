#pragma once

#include <iosfwd>

namespace perchlight {
class AgentServices;
}

namespace perchlight::cli {

// One subcommand of the tool: it registers its options on the application when made, and runs
// when the command line named it.
class Command {
  public:
    virtual ~Command() = default;

    virtual bool selected() const = 0;
    // Does the work with the process's services; returns the exit status.
    virtual int run(AgentServices& services, std::ostream& out, std::ostream& err) const = 0;
};

}  // namespace perchlight::cli
