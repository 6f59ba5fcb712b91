#include "cli/RegisterCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/EvaluateCommand.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RegistryKey.h"
#include "util/Error.h"

namespace perchlight::cli {

RegisterCommand::RegisterCommand(CLI::App& app)
    : command_(app.add_subcommand("register", "Create the settings key of the current user")) {}

bool RegisterCommand::selected() const {
    return command_->parsed();
}

int RegisterCommand::run(std::ostream& out, std::ostream& err) const {
    const std::optional<RegistryKey> key = RegistryKey::create(RegistryKey::kPerchlightKey);
    if (!key) {
        err << "perchlight: Unable to access registry key\n";
        return kExitNotEvaluated;
    }
    try {
        P3PPreferences& preferences = P3PPreferences::instance();
        preferences.loadSettings();
        preferences.saveSettings();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
        return kExitNotEvaluated;
    }
    out << "settings key: " << key->path() << "\n";
    return 0;
}

}  // namespace perchlight::cli
