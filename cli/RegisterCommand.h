#pragma once

#include <iosfwd>

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight register`: the installer's step that creates the user's settings key, without
// which no setting can be saved.
class RegisterCommand {
  public:
    explicit RegisterCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
};

}  // namespace perchlight::cli
