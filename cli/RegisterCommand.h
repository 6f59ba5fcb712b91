#pragma once

#include <iosfwd>

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight register`: the installer's step that creates the user's settings key, which the
// agent itself never creates, and saves the current settings into it.
class RegisterCommand {
  public:
    explicit RegisterCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
};

}  // namespace perchlight::cli
