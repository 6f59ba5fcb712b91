#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight fetch URL`: obtains a document through the policy cache, as the agent would, and
// prints whether it came from the cache, the response headers of a fetch and the text.
class FetchCommand {
  public:
    explicit FetchCommand(CLI::App& app);

    bool selected() const;
    // Exit status 0 with a document, 2 without one.
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string url_;
};

// `perchlight cache list|clear`: shows or empties the policy cache.
class CacheCommand {
  public:
    explicit CacheCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string action_;
};

}  // namespace perchlight::cli
