#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight fetch URL`: obtains a document through the policy cache, as the agent would, and
// prints whether it came from the cache, the response headers of a fetch and the text.
class FetchCommand : public Command {
  public:
    explicit FetchCommand(CLI::App& app);

    bool selected() const override;
    // Exit status 0 with a document, 2 without one.
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string url_;
};

// `perchlight cache list|clear`: shows or empties the policy cache.
class CacheCommand : public Command {
  public:
    explicit CacheCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    CLI::App* command_;
    std::string action_;
};

}  // namespace perchlight::cli
