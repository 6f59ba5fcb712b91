#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight {
class P3PPreferences;
}

namespace perchlight::cli {

// The headless faces of the privacy settings: `perchlight settings` prints the store,
// `perchlight level LEVEL` selects a privacy level, `perchlight custom --set A,B` sets the
// custom warnings and selects the custom level, `perchlight import FILE` and `perchlight export
// FILE` move rule sets in and out. Each change is saved at once, as the settings dialog saves it.
class PreferencesCommand : public Command {
  public:
    explicit PreferencesCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

  private:
    int printSettings(P3PPreferences& preferences, std::ostream& out) const;
    int selectLevel(P3PPreferences& preferences, std::ostream& out, std::ostream& err) const;
    int setCustom(P3PPreferences& preferences, std::ostream& out, std::ostream& err) const;
    int importRuleSet(P3PPreferences& preferences, std::ostream& out, std::ostream& err) const;
    int exportRuleSet(P3PPreferences& preferences, std::ostream& out, std::ostream& err) const;

    CLI::App* settings_;
    CLI::App* level_;
    CLI::App* custom_;
    CLI::App* import_;
    CLI::App* export_;
    std::string levelName_;
    std::vector<std::string> customNames_;
    std::string importPath_;
    std::string exportPath_;
};

}  // namespace perchlight::cli
